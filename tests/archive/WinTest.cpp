// Windows semantics under Wine: attribute restoring, time stamps, the
// read-only policy against the real attribute, and the lower-cased archive
// folder as default destination.
#include <windows.h>

#include "ArchiveTestUtil.h"

using namespace qzftest;
using Z = QorZipFile;

namespace {

constexpr uint64_t kTime = (1600000000ull + 11644473600ull) * 10000000ull;  // 2020-09-13

class WinTest : public ScratchTest {
protected:
    Z z;
    std::string arc;
    void SetUp() override {
        ScratchTest::SetUp();
        arc = P("Mixed Case\\Payload.BIN");
        fs::create_directories(dir / "Mixed Case");
        ArchiveBuilder a;
        a.Header();
        const uint32_t attrs[] = {0x20, 0x21, 0x22, 0x24, 0x80, 0x27};
        for (uint32_t at : attrs) {
            char name[32];
            std::snprintf(name, sizeof name, "a%02X.txt", at);
            a.Entry(name, Gzip(name), static_cast<uint32_t>(std::strlen(name)), at,
                    static_cast<uint32_t>(kTime), static_cast<uint32_t>(kTime >> 32));
        }
        WriteAll(arc, a.Trailer().b);
        ASSERT_TRUE(z.Open(arc.c_str(), Z::QZF_MODE_READ)) << z.GetLastError();
    }
    void TearDown() override {
        for (auto& e : fs::recursive_directory_iterator(dir))
            SetFileAttributesA(e.path().string().c_str(), FILE_ATTRIBUTE_NORMAL);
        ScratchTest::TearDown();
    }
    static DWORD Attributes(const std::string& path) { return GetFileAttributesA(path.c_str()); }
    static uint64_t WriteTime(const std::string& path) {
        WIN32_FILE_ATTRIBUTE_DATA d;
        if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &d)) return 0;
        return static_cast<uint64_t>(d.ftLastWriteTime.dwHighDateTime) << 32 |
               d.ftLastWriteTime.dwLowDateTime;
    }
};

TEST_F(WinTest, AttributesRestoredThroughTheMask) {
    z.SetRestoreAttributes(true);
    ASSERT_TRUE(z.ExtractFilesToDir(P("on").c_str(), 0, nullptr)) << z.GetLastError();
    // Read-only, hidden and system come back; the archive bit is the file
    // system's own (every new file gets it), so only the low bits are compared.
    const std::pair<const char*, DWORD> want[] = {{"a20.txt", 0}, {"a21.txt", 1}, {"a22.txt", 2},
                                                  {"a24.txt", 4}, {"a80.txt", 0}, {"a27.txt", 7}};
    for (auto& w : want) {
        const DWORD a = Attributes(P("on\\") + w.first);
        ASSERT_NE(a, INVALID_FILE_ATTRIBUTES) << w.first;
        EXPECT_EQ(a & 0x07, w.second) << w.first;
    }
    z.SetRestoreAttributes(false);
    ASSERT_TRUE(z.ExtractFilesToDir(P("off").c_str(), 0, nullptr));
    for (auto& w : want) EXPECT_EQ(Attributes(P("off\\") + w.first) & 0x07, 0u) << w.first;
}

TEST_F(WinTest, TimeStampsRestoredUnlessCreatedReadOnly) {
    z.SetRestoreAttributes(true);
    ASSERT_TRUE(z.ExtractFile("a20.txt", P("t\\w.txt").c_str()));
    EXPECT_EQ(WriteTime(P("t\\w.txt")), kTime);
    // A destination created read-only cannot be opened for writing: it keeps
    // the time of its extraction, and the extraction still succeeds.
    ASSERT_TRUE(z.ExtractFile("a21.txt", P("t\\r.txt").c_str())) << z.GetLastError();
    EXPECT_NE(WriteTime(P("t\\r.txt")), kTime);
    EXPECT_TRUE(Attributes(P("t\\r.txt")) & FILE_ATTRIBUTE_READONLY);
    z.SetRestoreTimeStamp(false);
    ASSERT_TRUE(z.ExtractFile("a20.txt", P("t\\n.txt").c_str()));
    EXPECT_NE(WriteTime(P("t\\n.txt")), kTime);
}

TEST_F(WinTest, ReadOnlyPolicyAgainstTheRealAttribute) {
    const std::string dest = P("ro.txt");
    WriteText(dest, "old");
    ASSERT_TRUE(SetFileAttributesA(dest.c_str(), FILE_ATTRIBUTE_READONLY));
    z.SetExtractReadOnlyOverWrite(Z::QZF_READONLY_NEVER);
    EXPECT_FALSE(z.ExtractFile("a20.txt", dest.c_str()));
    EXPECT_EQ(z.GetLastError(), QZF_ERR_EXTRACT);
    EXPECT_EQ(ReadText(dest), "old");
    EXPECT_TRUE(Attributes(dest) & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(TempFilesLeft(), 0);
    z.SetExtractReadOnlyOverWrite(Z::QZF_READONLY_ALWAYS);
    ASSERT_TRUE(z.ExtractFile("a20.txt", dest.c_str())) << z.GetLastError();
    EXPECT_EQ(ReadText(dest), "a20.txt");
    EXPECT_FALSE(Attributes(dest) & FILE_ATTRIBUTE_READONLY);
}

bool Capture(const char* text, const char*, void* context) {
    *static_cast<std::string*>(context) = text;
    return false;
}

TEST_F(WinTest, DefaultDestinationIsTheLowerCasedArchiveFolder) {
    EXPECT_STREQ(z.GetFileName(), arc.c_str());  // the path keeps its case
    ASSERT_TRUE(z.ExtractFile("a20.txt", nullptr));
    EXPECT_EQ(ReadText(dir / "Mixed Case" / "a20.txt"), "a20.txt");
    // The path the engine composed shows in the prompt for a read-only file.
    ASSERT_TRUE(SetFileAttributesA(P("Mixed Case\\a20.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    std::string text;
    qfl::SetPromptCallback(Capture, &text);
    z.SetExtractReadOnlyOverWrite(Z::QZF_READONLY_PROMPT);
    EXPECT_FALSE(z.ExtractFile("a20.txt", nullptr));
    qfl::SetPromptCallback(nullptr, nullptr);
    std::string lowerDir = P("Mixed Case\\");
    for (char& c : lowerDir)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    EXPECT_EQ(text, "Attempting to overwrite Read-Only file " + lowerDir + "a20.txt.  Replace?");
}

TEST_F(WinTest, TemporaryNamesUseThePrefixInTheTempFolder) {
    char name[MAX_PATH];
    ASSERT_TRUE(qfl::MakeTempName(name));
    char tempDir[MAX_PATH];
    GetTempPathA(MAX_PATH, tempDir);
    EXPECT_EQ(std::string(name).rfind(tempDir, 0), 0u) << name;
    const std::string file = fs::path(name).filename().string();
    EXPECT_TRUE(file.rfind("qzf", 0) == 0 || file.rfind("QZF", 0) == 0) << file;
    EXPECT_TRUE(fs::exists(name));
    EXPECT_EQ(fs::file_size(name), 0u);
    DeleteFileA(name);
}

}  // namespace
