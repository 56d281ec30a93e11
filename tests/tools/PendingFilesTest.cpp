// Windows: what the interrupt handler removes. It runs on a thread of its own
// while the program goes on, so it must remove the files the run made and
// nothing else, however they were renamed or replaced meanwhile. Each row
// renames or replaces a registered file and removes the registered files as
// an interrupt would (RemovePendingNow, the handler's own loop).
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "FileOps.h"
#include "SafeExtract.h"

namespace fs = std::filesystem;
using namespace qorpack;

namespace {

std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void Spit(const fs::path& p, const std::string& s) { std::ofstream(p, std::ios::binary) << s; }

class PendingFiles : public ::testing::Test {
protected:
    fs::path dir;
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("qorpack_pending_" + std::to_string(GetCurrentProcessId()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        RemovePendingNow();
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    // The temporary file SafeDestination is writing in folder `in`.
    fs::path TempIn(const fs::path& in) {
        for (const auto& e : fs::directory_iterator(in))
            if (e.path().filename().string().rfind(".qorpack-", 0) == 0) return e.path();
        return fs::path();
    }
};

// Wine unlinks a file marked for deletion by the name its handle was opened
// with, and only while that name still names the file: a file renamed by
// another handle stays (never another's file, which is what matters here).
bool UnderWine() {
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

enum class Meanwhile {
    kNothing,         // the file stays where it was made
    kRenamed,         // someone renames it
    kRenamedReplaced  // someone renames it and puts a file of theirs at its name
};

// An extracted file being written, registered by its own handle: removed
// wherever it went, and a file put at its name is someone else's.
TEST_F(PendingFiles, ExtractedFileGoesThroughItsHandle) {
    const Meanwhile rows[] = {Meanwhile::kNothing, Meanwhile::kRenamed,
                              Meanwhile::kRenamedReplaced};
    for (Meanwhile m : rows) {
        SCOPED_TRACE(static_cast<int>(m));
        const fs::path out = dir / ("out" + std::to_string(static_cast<int>(m)));
        SafeDestination dest;
        std::string error;
        ASSERT_TRUE(dest.Open(out.string(), &error)) << error;
        ASSERT_TRUE(dest.Begin("d\\victim.txt", &error)) << error;
        ASSERT_TRUE(dest.Write("partial", 7, &error)) << error;
        const fs::path temp = TempIn(out / "d");
        ASSERT_FALSE(temp.empty());
        const fs::path moved = out / "d" / "moved.txt";
        if (m != Meanwhile::kNothing) {
            ASSERT_TRUE(MoveFileExA(temp.string().c_str(), moved.string().c_str(), 0))
                << GetLastError();
        }
        if (m == Meanwhile::kRenamedReplaced) Spit(temp, "someone else's");
        RemovePendingNow();
        dest.Abandon();
        if (m == Meanwhile::kNothing) {
            EXPECT_FALSE(fs::exists(temp));
        } else if (!UnderWine()) {
            EXPECT_FALSE(fs::exists(moved));
        }
        if (m == Meanwhile::kRenamedReplaced) {
            EXPECT_EQ(Slurp(temp), "someone else's");
        }
        EXPECT_FALSE(fs::exists(out / "d" / "victim.txt"));
    }
}

// A temporary output written by path (the archive engine opens it unshared,
// so no handle can be held): removed only while its name still opens the
// file made; a file moved over that name is someone else's.
TEST_F(PendingFiles, OutputGoesOnlyWhileItsNameIsItsOwn) {
    const Meanwhile rows[] = {Meanwhile::kNothing, Meanwhile::kRenamed,
                              Meanwhile::kRenamedReplaced};
    for (Meanwhile m : rows) {
        SCOPED_TRACE(static_cast<int>(m));
        const fs::path target = dir / ("new" + std::to_string(static_cast<int>(m)) + ".qzf");
        const fs::path mine = dir / "mine.qzf";
        Spit(mine, "the user's archive");
        TempOutput out;
        std::string error;
        ASSERT_TRUE(out.Create(target.string(), &error)) << error;
        const fs::path temp = out.Path();
        const fs::path moved = dir / "moved.tmp";
        if (m != Meanwhile::kNothing) {
            ASSERT_TRUE(MoveFileExA(temp.string().c_str(), moved.string().c_str(), 0));
        }
        if (m == Meanwhile::kRenamedReplaced) {
            ASSERT_TRUE(MoveFileExA(mine.string().c_str(), temp.string().c_str(), 0));
        }
        RemovePendingNow();
        if (m == Meanwhile::kNothing) {
            EXPECT_FALSE(fs::exists(temp));
        }
        if (m == Meanwhile::kRenamedReplaced) {
            EXPECT_EQ(Slurp(temp), "the user's archive");
        }
        fs::remove(moved);
        fs::remove(mine);
    }
}

// A file put at an output's name after the failure path took over is not
// the output's: the destructor removes by identity too.
TEST_F(PendingFiles, FailedOutputSparesAFileMovedOverIt) {
    const fs::path target = dir / "new.qzf";
    Spit(dir / "mine.qzf", "the user's archive");
    std::string temp;
    {
        TempOutput out;
        std::string error;
        ASSERT_TRUE(out.Create(target.string(), &error)) << error;
        temp = out.Path();
        ASSERT_TRUE(MoveFileExA((dir / "mine.qzf").string().c_str(), temp.c_str(),
                                MOVEFILE_REPLACE_EXISTING));
    }
    EXPECT_EQ(Slurp(temp), "the user's archive");
}

}  // namespace
