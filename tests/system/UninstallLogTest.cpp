// Uninstall log writers under Wine: the real profile writer, registry and
// shell link, checked by the log file's exact bytes.
#include <gtest/gtest.h>
#include <windows.h>

#include "RegistryFixture.h"
#include "ShellFolderSandbox.h"
#include "TestFiles.h"
#include "system/FileUtil.h"
#include "system/Registry.h"
#include "system/Shortcuts.h"
#include "system/UninstallLog.h"

namespace {

const Text kRoot = "C:\\qorlog";
const char kUrl[] = "http://www.example.com/start";

// Runs in the prefix's own shell folders (Wine's shell keeps rewriting the
// registry values to them) and removes what it added there.
class UninstallLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        RemoveFolderTree(kRoot);
        ASSERT_TRUE(CreateFolder(kRoot));
        ASSERT_TRUE(shell_.Enter());
    }
    void TearDown() override {
        RemoveFolderTree(kRoot);
        shell_.Leave();
    }

    ShellFolderSandbox shell_;
};

TEST(UninstallLogNames, SectionNamesComposeWithOneSpace) {
    EXPECT_EQ(LogSectionName("Trovix", kLogDirs), Text("Trovix Dirs"));
    EXPECT_EQ(LogSectionName(kLogUnknownPrefix, kLogFiles), Text("Unknown Files"));
    EXPECT_EQ(LogSectionName("Rcv", kLogRegistryItems), Text("Rcv Registry Items"));
    EXPECT_STREQ(kUninstallLogFileName, "TrovixInstall.inf");
}

// One install-like sequence of writer calls and the exact file it leaves.
TEST_F(UninstallLogTest, SequenceOfWritersGivesExactFile) {
    const Text product = kRoot + "\\Prod\\QOR\\Trovix";
    const Text log = product + "\\" + kUninstallLogFileName;
    const Text dirs = LogSectionName("Trovix", kLogDirs);
    const Text keys = LogSectionName("Trovix", kLogRegistryKeys);
    const Text items = LogSectionName("Trovix", kLogRegistryItems);

    // Pre-existing objects, none of which may be recorded.
    ASSERT_TRUE(CreateFolder(shell_.programs + "\\QOR"));
    ASSERT_TRUE(testfiles::Write(shell_.desktop + "\\Old Link.url",
                                 "[InternetShortcut]\r\nURL=http://old/\r\n"));
    ASSERT_TRUE(testreg::SetString(HKEY_LOCAL_MACHINE, "Software\\QorLogPre", "Long",
                                   std::string(1000, 'L')));
    ASSERT_TRUE(testreg::SetString(HKEY_LOCAL_MACHINE, "Software\\QorLogPre", "Short", "s"));
    ASSERT_TRUE(testfiles::Write(kRoot + "\\afile", "x"));

    // The log lives inside the folder being created: its first records are
    // written before that folder exists.
    EXPECT_TRUE(CreateLoggedFolder(product, dirs, log));
    EXPECT_TRUE(FolderExists(product));
    WriteLogEntry(log, LogSectionName("Trovix", kLogFiles), log, "");
    EXPECT_TRUE(CreateLoggedFolder(product, dirs, log));  // exists: nothing new
    EXPECT_TRUE(CreateLoggedFolder(kRoot + "\\Prod\\QOR\\Scout", "trovix dirs", log));

    WriteLogEntry(log, kLogUninstallCommandLine, "C:\\X\\a.exe", "C:\\X\\a.exe -unregister");
    WriteLogEntry(log, kLogUninstallCommandLine, "C:\\X\\b.exe", "C:\\X\\b.exe -u");
    WriteLogEntry(log, kLogUninstallCommandLine, "c:\\x\\A.EXE", "C:\\X\\a.exe -again");

    SetLoggedRegistryValue("Software\\QorLogTest\\Sub", "Val", "data", keys, items, log);
    SetLoggedRegistryValue("Software\\QorLogTest\\Sub", "Val", "data2", keys, items, log);
    SetLoggedRegistryValue("Software\\QorLogPre", "Long", "new", keys, items, log);
    SetLoggedRegistryValue("Software\\QorLogPre", "Short", "new", keys, items, log);
    SetLoggedRegistryValue("Software\\QorLogPre", "Fresh", "f", keys, items, log);
    EXPECT_TRUE(LogRegistryKeyPath("Software\\QorLogTest\\Downloader", keys, log));
    WriteSetupRegistryEntry("Trovix", product + "\\", "Trovix Full", keys, items, log);
    EXPECT_FALSE(LogRegistryKeyPath("QorNoSuchRoot\\A", keys, log));
    SetLoggedRegistryValue("QorNoSuchRoot\\A", "V", "x", keys, items, log);

    EXPECT_TRUE(CreateLoggedStartMenuFolder("Trovix", log, "QOR\\Trovix"));
    for (int round = 0; round < 2; ++round) {
        EXPECT_TRUE(CreateLoggedStartMenuUrl("Trovix", log, "QOR\\Trovix", "Start Trovix", kUrl,
                                             product + "\\QorDL.exe", 1));
        EXPECT_TRUE(CreateLoggedStartMenuShortcut("Trovix", log, "QOR\\Trovix", "Configure Trovix",
                                                  "C:\\windows\\notepad.exe", "", 1));
        EXPECT_TRUE(CreateLoggedStartMenuShortcut("Trovix", log, "QOR\\Trovix", "Uninstall Trovix",
                                                  "C:\\windows\\notepad.exe", "", 1));
        EXPECT_TRUE(CreateLoggedDesktopUrl("Trovix", log, "Start Trovix", kUrl,
                                           product + "\\QorDL.exe", 2));
    }
    EXPECT_TRUE(CreateLoggedDesktopUrl("Trovix", log, "Old Link", kUrl, "", 0));
    // A level that cannot be made (a file is in the way) is still recorded.
    EXPECT_FALSE(CreateLoggedFolder(kRoot + "\\afile\\sub", "Unknown Dirs", log));

    const std::string expected =
        "[Trovix Dirs]\r\n"
        "C:\\qorlog\\Prod=\r\n"
        "C:\\qorlog\\Prod\\QOR=\r\n"
        "C:\\qorlog\\Prod\\QOR\\Trovix=\r\n"
        "C:\\qorlog\\Prod\\QOR\\Scout=\r\n"
        "[Trovix Files]\r\n"
        "C:\\qorlog\\Prod\\QOR\\Trovix\\TrovixInstall.inf=\r\n"
        "[Uninstall Command Line]\r\n"
        "C:\\X\\a.exe=C:\\X\\a.exe -again\r\n"
        "C:\\X\\b.exe=C:\\X\\b.exe -u\r\n"
        "[Trovix Registry Keys]\r\n"
        "Software\\QorLogTest=\r\n"
        "Software\\QorLogTest\\Sub=\r\n"
        "Software\\QorLogTest\\Downloader=\r\n"
        "Software\\Corvane OnLine=\r\n"
        "Software\\Corvane OnLine\\Setup=\r\n"
        "Software\\Corvane OnLine\\Setup\\Trovix=\r\n"
        "[Trovix Registry Items]\r\n"
        "Software\\QorLogTest\\Sub\\Val=\r\n"
        "Software\\QorLogPre\\Fresh=\r\n"
        "Software\\Corvane OnLine\\Setup\\Trovix\\Directory=\r\n"
        "Software\\Corvane OnLine\\Setup\\Trovix\\Full Name=\r\n"
        "[Trovix Start Menu Folders]\r\n"
        "QOR\\Trovix=\r\n"
        "[Trovix Start Menu URLs]\r\n"
        "Start Trovix=QOR\\Trovix\r\n"
        "[Trovix Start Menu Shortcuts]\r\n"
        "Configure Trovix=QOR\\Trovix\r\n"
        "Uninstall Trovix=QOR\\Trovix\r\n"
        "[Trovix Desktop URLs]\r\n"
        "Start Trovix=\r\n"
        "[Unknown Dirs]\r\n"
        "C:\\qorlog\\afile=\r\n";
    EXPECT_EQ(testfiles::Read(log), expected);

    // What the writers did besides recording.
    std::string data;
    DWORD type = 0;
    ASSERT_TRUE(
        testreg::ReadRaw(HKEY_LOCAL_MACHINE, "Software\\QorLogTest\\Sub", "Val", &data, &type));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_STREQ(data.c_str(), "data2");  // replaced in place, same type
    ASSERT_TRUE(testreg::ReadRaw(HKEY_LOCAL_MACHINE, "Software\\QorLogPre", "Long", &data, &type));
    EXPECT_STREQ(data.c_str(), "new");
    EXPECT_FALSE(testreg::KeyExists(HKEY_LOCAL_MACHINE, "Software\\QorLogTest\\Downloader"));
    EXPECT_FALSE(testreg::KeyExists(HKEY_LOCAL_MACHINE, "QorNoSuchRoot"));
    EXPECT_EQ(ReadSetupDirectory("Trovix"), product);
    EXPECT_EQ(ReadSetupFullName("Trovix"), Text("Trovix Full"));
    EXPECT_TRUE(FileExists(shell_.programs + "\\QOR\\Trovix\\Start Trovix.url"));
    EXPECT_TRUE(FileExists(shell_.programs + "\\QOR\\Trovix\\Configure Trovix.lnk"));
    EXPECT_TRUE(FileExists(shell_.desktop + "\\Start Trovix.url"));
    EXPECT_EQ(testfiles::Read(shell_.desktop + "\\Old Link.url"),
              std::string("[InternetShortcut]\r\nURL=") + kUrl + "\r\n");
}

TEST_F(UninstallLogTest, SetupEntryDirectoryLosesExactlyOneBackslash) {
    const Text log = kRoot + "\\one.inf";
    WriteSetupRegistryEntry("QorOne", "C:\\A\\\\", "One", "K", "I", log);
    WriteSetupRegistryEntry("QorTwo", "C:\\B", "Two", "K", "I", log);
    WriteSetupRegistryEntry("QorThree", "", "Three", "K", "I", log);
    EXPECT_EQ(ReadSetupDirectory("QorOne"), Text("C:\\A\\"));
    EXPECT_EQ(ReadSetupDirectory("QorTwo"), Text("C:\\B"));
    EXPECT_TRUE(RegistryValueExists("Software\\Corvane OnLine\\Setup\\QorThree", "Directory"));
    EXPECT_EQ(ReadSetupDirectory("QorThree"), Text(""));
}

TEST_F(UninstallLogTest, StartMenuRecordsComeBeforeAFailedCreation) {
    const Text log = kRoot + "\\fail.inf";
    ASSERT_TRUE(testfiles::Write(shell_.programs + "\\blocked", "x"));
    EXPECT_FALSE(CreateLoggedStartMenuUrl("P", log, "blocked\\sub", "Link", kUrl, "", 0));
    EXPECT_FALSE(CreateLoggedStartMenuShortcut("P", log, "blocked\\sub", "Short",
                                               "C:\\windows\\notepad.exe", "", 0));
    EXPECT_EQ(testfiles::Read(log),
              "[P Start Menu Folders]\r\n"
              "blocked=\r\n"
              "blocked\\sub=\r\n"
              "[P Start Menu URLs]\r\n"
              "Link=blocked\\sub\r\n"
              "[P Start Menu Shortcuts]\r\n"
              "Short=blocked\\sub\r\n");
}

TEST_F(UninstallLogTest, StartMenuFolderWithTrailingBackslashIsRecordedOnce) {
    const Text log = kRoot + "\\slash.inf";
    EXPECT_TRUE(CreateLoggedStartMenuFolder("P", log, "X\\Y\\"));
    EXPECT_TRUE(CreateLoggedStartMenuFolder("P", log, "X\\Y"));
    EXPECT_TRUE(FolderExists(shell_.programs + "\\X\\Y"));
    EXPECT_EQ(testfiles::Read(log), "[P Start Menu Folders]\r\nX=\r\nX\\Y=\r\n");
}

TEST_F(UninstallLogTest, ExistingDestinationRecordsNothing) {
    const Text log = kRoot + "\\none.inf";
    EXPECT_TRUE(CreateLoggedFolder(kRoot, "T Dirs", log));
    EXPECT_TRUE(LogRegistryKeyPath("Software", "T Registry Keys", log));
    EXPECT_FALSE(CreateLoggedFolder("qor_relative", "T Dirs", log));
    EXPECT_FALSE(FileExists(log));
}

}  // namespace
