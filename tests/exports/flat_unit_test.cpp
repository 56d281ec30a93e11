// The flat QZF_ layer linked directly (natively under the sanitizers too): what
// the wrappers add to the engine — mode letters, 0/1 results, flags, policy
// values, null and negative arguments — and one round trip through them.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "archive/QzfFlat.h"

namespace fs = std::filesystem;

namespace {

class FlatTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() / (std::string("qzf-flat-unit-") + info->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    std::string Path(const char* name) const { return (dir_ / name).string(); }

    fs::path dir_;
};

TEST_F(FlatTest, NullHandleDeleteDoesNothing) { QZF_Delete(nullptr); }

TEST_F(FlatTest, NewObjectHasNoPathAndDefaults) {
    QZF_HANDLE h = QZF_Create();
    ASSERT_NE(h, nullptr);
    EXPECT_STREQ(QZF_GetZipFileName(h), "");
    EXPECT_EQ(QZF_IsOpen(h), 0);
    EXPECT_EQ(QZF_GetUseBackupFile(h), 1);
    EXPECT_EQ(QZF_GetRestoreAttributes(h), 0);
    EXPECT_EQ(QZF_GetRestoreTimeStamp(h), 1);
    EXPECT_EQ(QZF_GetExtractReadOnlyOverWrite(h), 2);
    EXPECT_EQ(QZF_GetOverWritePrompt(h), nullptr);
    EXPECT_EQ(QZF_Open(h, nullptr, 'w'), 0);
    EXPECT_EQ(QZF_GetLastError(h), 1);
    QZF_Delete(h);
}

TEST_F(FlatTest, AnyNonZeroFlagIsTrueAndReadsBackAsOne) {
    QZF_HANDLE h = QZF_Create();
    for (int flag : {1, 2, -1, 0x100, 0x7FFFFFFF}) {
        QZF_SetUseBackupFile(h, 0);
        QZF_SetUseBackupFile(h, flag);
        EXPECT_EQ(QZF_GetUseBackupFile(h), 1) << flag;
        QZF_SetRestoreAttributes(h, flag);
        EXPECT_EQ(QZF_GetRestoreAttributes(h), 1) << flag;
        QZF_SetRestoreTimeStamp(h, 0);
        EXPECT_EQ(QZF_GetRestoreTimeStamp(h), 0);
        QZF_SetRestoreTimeStamp(h, flag);
        EXPECT_EQ(QZF_GetRestoreTimeStamp(h), 1) << flag;
    }
    QZF_Delete(h);
}

// The setter stores what it is given, as the member function does; when
// extracting, every value but 0 and 1 replaces a read-only destination.
TEST_F(FlatTest, PolicyIsStoredAsGivenAndOddValuesActAsAlways) {
    const std::string source = Path("data.txt");
    std::ofstream(source, std::ios::binary) << "new bytes";
    const std::string archive = Path("policy.qzf");
    QZF_HANDLE h = QZF_CreateWithFileAndMode(archive.c_str(), 'w');
    ASSERT_EQ(QZF_AddFile(h, source.c_str(), "data.txt"), 1);
    struct Case {
        int policy;
        bool replaces;  // an existing read-only destination
    };
    const Case cases[] = {{0, false}, {2, true}, {3, true}, {7, true}, {-1, true}, {0x100, true}};
    for (const Case& c : cases) {
        QZF_SetExtractReadOnlyOverWrite(h, c.policy);
        EXPECT_EQ(QZF_GetExtractReadOnlyOverWrite(h), c.policy);
        const std::string out = Path(("out" + std::to_string(c.policy & 0xFFFF) + ".txt").c_str());
        std::ofstream(out, std::ios::binary) << "old";
        fs::permissions(out,
                        fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
        EXPECT_EQ(QZF_ExtractFile(h, "data.txt", out.c_str()), c.replaces ? 1 : 0) << c.policy;
        std::ifstream in(out, std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(text, c.replaces ? "new bytes" : "old") << c.policy;
        EXPECT_EQ(QZF_GetLastError(h), c.replaces ? 0 : 16) << c.policy;
    }
    QZF_SetExtractReadOnlyOverWrite(h, 1);
    EXPECT_EQ(QZF_GetExtractReadOnlyOverWrite(h), 1);
    QZF_Delete(h);
}

TEST_F(FlatTest, ModeLetterRReadsOnlyEveryOtherLetterCreates) {
    for (char letter : {'r', 'R'}) {
        const std::string path = Path("missing.qzf");
        QZF_HANDLE h = QZF_CreateWithFileAndMode(path.c_str(), letter);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(QZF_IsOpen(h), 0) << letter;
        EXPECT_EQ(QZF_GetLastError(h), 4) << letter;
        EXPECT_FALSE(fs::exists(path)) << letter;
        QZF_Delete(h);
    }
    QZF_HANDLE h = QZF_CreateWithFile(Path("missing.qzf").c_str());
    EXPECT_EQ(QZF_IsOpen(h), 0);
    QZF_Delete(h);

    int n = 0;
    for (char letter : {'w', 'W', 'a', 'x', 'q', '\0'}) {
        const std::string path = Path(("new" + std::to_string(n++) + ".qzf").c_str());
        h = QZF_CreateWithFileAndMode(path.c_str(), letter);
        EXPECT_EQ(QZF_IsOpen(h), 1) << int(letter);
        EXPECT_TRUE(fs::exists(path)) << int(letter);
        EXPECT_EQ(QZF_GetNumFiles(h), 0u);
        QZF_Delete(h);
        h = QZF_Create();
        EXPECT_EQ(QZF_Open(h, path.c_str(), letter), 1) << int(letter);
        QZF_Delete(h);
    }
}

TEST_F(FlatTest, NegativeIndexesAndCountsFailWithoutHarm) {
    QZF_HANDLE h = QZF_CreateWithFileAndMode(Path("a.qzf").c_str(), 'w');
    EXPECT_EQ(QZF_GetFileName(h, -1), nullptr);
    EXPECT_EQ(QZF_GetLastError(h), 3);
    EXPECT_EQ(QZF_RemoveFileByIndex(h, -1), 0);
    EXPECT_EQ(QZF_GetFileSize(h, 0), 0u);
    FILETIME t = QZF_GetFileTimeStamp(h, -5);
    EXPECT_EQ(t.dwLowDateTime, 0u);
    EXPECT_EQ(t.dwHighDateTime, 0u);
    EXPECT_EQ(QZF_GetLastError(h), 3);

    // Refused before the engine runs: the last error stays as it was.
    const char* list[] = {"x"};
    EXPECT_EQ(QZF_AddFiles(h, -1, list), 0);
    EXPECT_EQ(QZF_RemoveFiles(h, -3, list), 0);
    EXPECT_EQ(QZF_ExtractFiles(h, -1, list, nullptr), 0);
    EXPECT_EQ(QZF_ExtractFilesToDir(h, dir_.string().c_str(), -1, list), 0);
    EXPECT_EQ(QZF_GetLastError(h), 3);
    EXPECT_EQ(QZF_GetFileIndex(h, "x"), 0xFFFFFFFFul);
    EXPECT_EQ(static_cast<int>(QZF_GetFileIndex(h, "x")), -1);
    QZF_Delete(h);
}

TEST_F(FlatTest, RoundTripThroughTheWrappers) {
    const std::string source = Path("hello.txt");
    std::ofstream(source, std::ios::binary) << "hello, flat layer";
    const std::string archive = Path("rt.qzf");

    QZF_HANDLE h = QZF_CreateWithFileAndMode(archive.c_str(), 'a');
    ASSERT_EQ(QZF_AddFile(h, source.c_str(), "greeting.txt"), 1);
    EXPECT_EQ(QZF_GetNumFiles(h), 1u);
    EXPECT_EQ(QZF_GetFileSize(h, 0), 17u);
    FILETIME t = QZF_GetFileTimeStamp(h, 0);
    EXPECT_NE(t.dwLowDateTime | t.dwHighDateTime, 0u);
    QZF_SetOverWritePrompt(h, "Replace %s?");
    EXPECT_STREQ(QZF_GetOverWritePrompt(h), "Replace %s?");
    QZF_Delete(h);

    h = QZF_CreateWithFile(archive.c_str());
    ASSERT_EQ(QZF_IsOpen(h), 1);
    EXPECT_STREQ(QZF_GetFileName(h, 0), "greeting.txt");
    FILETIME again = QZF_GetFileTimeStamp(h, 0);
    EXPECT_EQ(again.dwLowDateTime, t.dwLowDateTime);
    EXPECT_EQ(again.dwHighDateTime, t.dwHighDateTime);
    const std::string out = Path("out.txt");
    EXPECT_EQ(QZF_ExtractFile(h, "GREETING.TXT", out.c_str()), 1);
    std::ifstream in(out, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "hello, flat layer");
    EXPECT_EQ(QZF_RemoveFile(h, "greeting.txt"), 0);  // read only
    EXPECT_EQ(QZF_GetLastError(h), 14);
    QZF_Delete(h);
}

}  // namespace
