// File-system utilities against Wine's real file system.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "system/FileUtil.h"
#include "TestFiles.h"

namespace {

const Text kRoot = "C:\\qorfs";

class FileUtilTest : public ::testing::Test {
protected:
    void SetUp() override {
        RemoveFolderTree(kRoot);
        ASSERT_TRUE(CreateDirectoryA(kRoot.c_str(), nullptr));
    }
    void TearDown() override { RemoveFolderTree(kRoot); }

    static Text At(const char* name) { return kRoot + "\\" + name; }
};

TEST_F(FileUtilTest, FileAndFolderTestsTellTheTwoApart) {
    ASSERT_TRUE(testfiles::Write(At("a.txt"), "x"));
    EXPECT_TRUE(FileExists(At("a.txt")));
    EXPECT_FALSE(FolderExists(At("a.txt")));
    EXPECT_TRUE(FolderExists(kRoot));
    EXPECT_FALSE(FileExists(kRoot));
    EXPECT_FALSE(FileExists(At("missing.txt")));
    EXPECT_FALSE(FolderExists(At("missing")));
    EXPECT_FALSE(FileExists(""));
    EXPECT_FALSE(FolderExists(""));
}

TEST_F(FileUtilTest, EmptyFileExists) {
    ASSERT_TRUE(testfiles::Write(At("empty.bin"), ""));
    EXPECT_TRUE(FileExists(At("empty.bin")));
}

TEST_F(FileUtilTest, FileHeldWithoutReadSharingCountsAsAbsent) {
    ASSERT_TRUE(testfiles::Write(At("locked.txt"), "x"));
    HANDLE h =
        CreateFileA(At("locked.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(FileExists(At("locked.txt")));
    CloseHandle(h);
    EXPECT_TRUE(FileExists(At("locked.txt")));
}

TEST(FileUtilDrives, BareDriveUsesDriveTypeAndRootUsesAttributes) {
    EXPECT_TRUE(FolderExists("C:"));
    EXPECT_TRUE(FolderExists("C:\\"));
    // Z: is Wine's view of the Unix root, present in every prefix.
    EXPECT_TRUE(FolderExists("Z:"));
}

TEST_F(FileUtilTest, CreateFolderMakesOneLevelOnly) {
    EXPECT_TRUE(CreateFolder(At("one")));
    EXPECT_TRUE(FolderExists(At("one")));
    EXPECT_FALSE(CreateFolder(At("one")));  // already there
    EXPECT_FALSE(CreateFolder(At("x\\y")));
    EXPECT_FALSE(FolderExists(At("x")));
}

TEST_F(FileUtilTest, CreateFolderPathMakesEveryMissingLevel) {
    ASSERT_TRUE(CreateFolder(At("A")));
    EXPECT_TRUE(CreateFolderPath(At("A\\B\\C")));
    EXPECT_TRUE(FolderExists(At("A\\B")));
    EXPECT_TRUE(FolderExists(At("A\\B\\C")));
    EXPECT_TRUE(CreateFolderPath(At("A\\B\\C")));  // existing: still true
}

TEST_F(FileUtilTest, CreateFolderPathAcceptsTrailingBackslash) {
    EXPECT_TRUE(CreateFolderPath(At("T1\\T2\\")));
    EXPECT_TRUE(FolderExists(At("T1\\T2")));
    EXPECT_TRUE(CreateFolderPath(At("T1\\T2\\")));
}

TEST_F(FileUtilTest, CreateFolderPathRefusesRelativeNameAndStopsAtAFile) {
    EXPECT_FALSE(CreateFolderPath("qor_relative_no_slash"));
    EXPECT_FALSE(FolderExists("qor_relative_no_slash"));
    ASSERT_TRUE(testfiles::Write(At("file"), "x"));
    EXPECT_FALSE(CreateFolderPath(At("file\\sub\\deeper")));
    EXPECT_TRUE(FileExists(At("file")));
}

// Made outright or walked from the top: the same answer, the same levels
// tried (the log records them) and the same folders left.
TEST_F(FileUtilTest, CreateFolderPathExpectingMissingGivesTheSameAsTheWalkFromTheTop) {
    struct Case {
        const char* what;
        std::vector<const char*> folders;  // made first, below the root
        std::vector<const char*> files;
        const char* path;  // below the root, or as it is when relative
        bool relative;
        bool result;
        std::vector<const char*> tried;  // below the root
    };
    const Case cases[] = {
        {"every level missing", {}, {}, "a\\b\\c", false, true, {"a", "a\\b", "a\\b\\c"}},
        {"the parent there", {"a"}, {}, "a\\b", false, true, {"a\\b"}},
        {"all there", {"a\\b"}, {}, "a\\b", false, true, {}},
        {"the folder is a file", {}, {"f"}, "f", false, false, {"f"}},
        {"a level is a file", {}, {"f"}, "f\\sub\\deeper", false, false, {"f"}},
        {"below a file in a folder", {"d"}, {"d\\f"}, "d\\f\\x", false, false, {"d\\f"}},
        {"trailing backslash", {}, {}, "t1\\t2\\", false, true, {"t1", "t1\\t2"}},
        {"relative, no backslash", {}, {}, "qor_relative_no_slash", true, false, {}},
    };
    for (const Case& c : cases) {
        for (bool expectMissing : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (expectMissing ? ", made outright" : ", walked"));
            RemoveFolderTree(kRoot);
            ASSERT_TRUE(CreateDirectoryA(kRoot.c_str(), nullptr));
            for (const char* f : c.folders) ASSERT_TRUE(CreateFolderPath(At(f)));
            for (const char* f : c.files) ASSERT_TRUE(testfiles::Write(At(f), "x"));
            const Text path = c.relative ? Text(c.path) : At(c.path);
            std::vector<Text> tried;
            EXPECT_EQ(CreateFolderPath(path, &tried, expectMissing), c.result);
            std::vector<Text> expected;
            for (const char* t : c.tried) expected.push_back(At(t));
            EXPECT_EQ(tried, expected);
            EXPECT_EQ(FolderExists(path), c.result);
            for (const char* f : c.files) EXPECT_TRUE(FileExists(At(f)));
        }
    }
}

TEST_F(FileUtilTest, RemoveFolderOnlyWhenEmpty) {
    ASSERT_TRUE(CreateFolderPath(At("full\\inner")));
    EXPECT_FALSE(RemoveFolder(At("full")));
    EXPECT_TRUE(RemoveFolder(At("full\\inner")));
    EXPECT_TRUE(RemoveFolder(At("full")));
    EXPECT_FALSE(RemoveFolder(At("full")));
}

TEST_F(FileUtilTest, RemoveFolderTreeDeletesNestedAndReadOnlyAndHiddenFiles) {
    ASSERT_TRUE(CreateFolderPath(At("tree\\a\\b")));
    ASSERT_TRUE(testfiles::Write(At("tree\\top.txt"), "1"));
    ASSERT_TRUE(testfiles::Write(At("tree\\a\\ro.txt"), "2"));
    ASSERT_TRUE(testfiles::Write(At("tree\\a\\b\\hidden.txt"), "3"));
    ASSERT_TRUE(testfiles::Write(At("tree\\a\\b\\noext"), "4"));
    ASSERT_TRUE(SetFileAttributesA(At("tree\\a\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(SetFileAttributesA(At("tree\\a\\b\\hidden.txt").c_str(),
                                   FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    EXPECT_TRUE(RemoveFolderTree(At("tree")));
    EXPECT_FALSE(FolderExists(At("tree")));
    EXPECT_TRUE(FolderExists(kRoot));  // parent untouched
}

TEST_F(FileUtilTest, RemoveFolderTreeAcceptsTrailingBackslash) {
    ASSERT_TRUE(CreateFolderPath(At("slash\\in")));
    ASSERT_TRUE(testfiles::Write(At("slash\\in\\f"), "x"));
    RemoveFolderTree(At("slash\\"));
    EXPECT_FALSE(FolderExists(At("slash")));
}

TEST_F(FileUtilTest, RemoveFolderTreeFailsWhenTopCannotGo) {
    EXPECT_FALSE(RemoveFolderTree(""));
    EXPECT_FALSE(RemoveFolderTree(At("missing")));
    // A file held open without delete sharing keeps its folder alive.
    ASSERT_TRUE(CreateFolder(At("busy")));
    ASSERT_TRUE(testfiles::Write(At("busy\\held.txt"), "x"));
    ASSERT_TRUE(testfiles::Write(At("busy\\free.txt"), "x"));
    HANDLE h = CreateFileA(At("busy\\held.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(RemoveFolderTree(At("busy")));
    EXPECT_FALSE(FileExists(At("busy\\free.txt")));  // the rest still went
    CloseHandle(h);
    EXPECT_TRUE(RemoveFolderTree(At("busy")));
}

TEST_F(FileUtilTest, RemoveFolderTreeWithOverlongPathFailsCleanly) {
    Text longPath = kRoot + "\\" + Text(300, 'd');
    EXPECT_FALSE(RemoveFolderTree(longPath));
}

TEST_F(FileUtilTest, DeleteFileAtOnlyDeletesFiles) {
    ASSERT_TRUE(testfiles::Write(At("del.txt"), "x"));
    EXPECT_TRUE(DeleteFileAt(At("del.txt")));
    EXPECT_FALSE(FileExists(At("del.txt")));
    EXPECT_FALSE(DeleteFileAt(At("del.txt")));
    ASSERT_TRUE(CreateFolder(At("dir")));
    EXPECT_FALSE(DeleteFileAt(At("dir")));
}

TEST_F(FileUtilTest, ReadOnlyBitIsReadAndClearedKeepingOthers) {
    Text f = At("ro.txt");
    ASSERT_TRUE(testfiles::Write(f, "x"));
    EXPECT_FALSE(IsFileReadOnly(f));
    ASSERT_TRUE(SetFileAttributesA(f.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_TRUE(IsFileReadOnly(f));
    EXPECT_TRUE(ClearReadOnly(f));
    EXPECT_FALSE(IsFileReadOnly(f));
    EXPECT_TRUE(GetFileAttributesA(f.c_str()) & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_TRUE(ClearReadOnly(f));  // already clear: still a successful write
    EXPECT_FALSE(IsFileReadOnly(At("missing")));
    EXPECT_FALSE(ClearReadOnly(At("missing")));
}

TEST(FileUtilTemp, DefaultPrefixNamesANewEmptyFileInTheTempFolder) {
    char temp[MAX_PATH];
    ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
    Text a = MakeTempFileName();
    Text b = MakeTempFileName();
    ASSERT_FALSE(a.empty());
    ASSERT_FALSE(b.empty());
    EXPECT_NE(a, b);
    EXPECT_EQ(a.substr(0, strlen(temp)), Text(temp));
    EXPECT_EQ(a.substr(strlen(temp), 2), Text(kDefaultTempPrefix));
    EXPECT_TRUE(FileExists(a));
    EXPECT_EQ(testfiles::Read(a), "");
    EXPECT_TRUE(DeleteFileAt(a));
    EXPECT_TRUE(DeleteFileAt(b));
}

TEST(FileUtilTemp, GivenPrefixIsUsed) {
    char temp[MAX_PATH];
    ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
    Text a = MakeTempFileName("zq");
    ASSERT_FALSE(a.empty());
    EXPECT_EQ(a.substr(strlen(temp), 2), Text("zq"));
    EXPECT_TRUE(DeleteFileAt(a));
}

TEST(FileUtilTemp, UnusableTempFolderGivesEmptyText) {
    char old[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("TMP", old, MAX_PATH);
    char oldTemp[MAX_PATH];
    DWORD m = GetEnvironmentVariableA("TEMP", oldTemp, MAX_PATH);
    SetEnvironmentVariableA("TMP", "C:\\qor_no_such_folder\\x");
    SetEnvironmentVariableA("TEMP", "C:\\qor_no_such_folder\\x");
    Text name = MakeTempFileName();
    SetEnvironmentVariableA("TMP", n ? old : nullptr);
    SetEnvironmentVariableA("TEMP", m ? oldTemp : nullptr);
    EXPECT_TRUE(name.empty()) << name.c_str();
}

}  // namespace
