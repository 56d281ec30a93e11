// Browser lookup and launch with a stand-in browser that records its command
// line, registered as the ".html" handler in this prefix's registry.
#include <gtest/gtest.h>
#include <shlwapi.h>
#include <windows.h>

#include "TestFiles.h"
#include "system/Launch.h"

namespace {

const Text kQuotedFolder = "C:\\Program Files\\Qor Test Browser";
const Text kPlainFolder = "C:\\qorbrows";

void SetDefault(const char* key, const Text& data) {
    HKEY k;
    ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, key, &k), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(k, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                             static_cast<DWORD>(data.size() + 1)),
              ERROR_SUCCESS);
    RegCloseKey(k);
}

// Installs the recording program as browser.exe in folder and registers
// command for the "QorTestPage" class of ".html".
Text InstallBrowser(const Text& folder, const Text& commandFormat) {
    CreateDirectoryA(folder.c_str(), nullptr);
    Text exe = folder + "\\browser.exe";
    EXPECT_TRUE(CopyFileA((testfiles::ModuleFolder() + "\\qor_record_args.exe").c_str(),
                          exe.c_str(), FALSE));
    DeleteFileA((exe + ".args").c_str());
    SetDefault(".html", "QorTestPage");
    Text command = commandFormat;
    size_t at = command.find("%EXE%");
    if (at != Text::npos) command.replace(at, 5, exe);
    SetDefault("QorTestPage\\shell\\open\\command", command);
    return exe;
}

// What the stand-in recorded: its command line, then its module path; waits
// for the started process to write it.
std::string WaitForRecord(const Text& exe) {
    for (int i = 0; i < 200; ++i) {
        std::string record = testfiles::Read(exe + ".args");
        if (!record.empty()) return record;
        Sleep(50);
    }
    return std::string();
}

TEST(BrowserPath, QuotedCommandGivesShortProgramPath) {
    Text exe = InstallBrowser(kQuotedFolder, "\"%EXE%\" \"%1\"");
    Text path;
    ASSERT_TRUE(GetBrowserPath(path));
    char expected[MAX_PATH];
    ASSERT_GT(GetShortPathNameA(exe.c_str(), expected, MAX_PATH), 0u);
    EXPECT_EQ(path, Text(expected));
    EXPECT_EQ(path.find(' '), Text::npos) << path.c_str();
}

TEST(BrowserPath, UnquotedCommandIsCutAtFirstBlank) {
    SetDefault(".html", "QorTestPage");
    SetDefault("QorTestPage\\shell\\open\\command", "C:\\PROGRA~1\\BROWSER\\BROWSER.EXE -nohome");
    Text path = "stale";
    ASSERT_TRUE(GetBrowserPath(path));
    EXPECT_EQ(path, Text("C:\\PROGRA~1\\BROWSER\\BROWSER.EXE"));
    SetDefault("QorTestPage\\shell\\open\\command", "C:\\b.exe\t%1");
    ASSERT_TRUE(GetBrowserPath(path));
    EXPECT_EQ(path, Text("C:\\b.exe"));
    // A quote later in the command does not make it a quoted one.
    SetDefault("QorTestPage\\shell\\open\\command", "C:\\c.exe \"%1\"");
    ASSERT_TRUE(GetBrowserPath(path));
    EXPECT_EQ(path, Text("C:\\c.exe"));
}

TEST(BrowserPath, QuotedMissingProgramAndEmptyCommandFail) {
    SetDefault(".html", "QorTestPage");
    SetDefault("QorTestPage\\shell\\open\\command", "\"C:\\qor no such\\browser.exe\" %1");
    Text path = "stale";
    EXPECT_FALSE(GetBrowserPath(path));
    EXPECT_TRUE(path.empty());
    SetDefault("QorTestPage\\shell\\open\\command", " leading-blank.exe");
    EXPECT_FALSE(GetBrowserPath(path));
    // A command longer than the 260-byte value buffer is refused, not cut or overrun.
    SetDefault("QorTestPage\\shell\\open\\command", Text("C:\\") + Text(300, 'b') + ".exe");
    EXPECT_FALSE(GetBrowserPath(path));
    SetDefault(".html", "QorNoSuchClass");
    EXPECT_FALSE(GetBrowserPath(path));
}

TEST(BrowserPath, CommandFillingTheWholeValueBufferIsRead) {
    SetDefault(".html", "QorTestPage");
    // 259 characters and the terminating zero: exactly 260 bytes.
    Text command = Text("C:\\") + Text(252, 'b') + ".exe";
    ASSERT_EQ(command.size(), 259u);
    SetDefault("QorTestPage\\shell\\open\\command", command);
    Text path;
    ASSERT_TRUE(GetBrowserPath(path));
    EXPECT_EQ(path, command);
    SetDefault("QorTestPage\\shell\\open\\command", command + "b");
    EXPECT_FALSE(GetBrowserPath(path));
}

TEST(OpenUrl, QuotedBrowserIsStartedWithSpaceAndAddress) {
    Text exe = InstallBrowser(kQuotedFolder, "\"%EXE%\" \"%1\"");
    ASSERT_TRUE(OpenUrlInBrowser("http://www.example.com/start?a=1&b=2"));
    std::string record = WaitForRecord(exe);
    ASSERT_FALSE(record.empty()) << "the browser did not run";
    std::string line = record.substr(0, record.find('\n'));
    EXPECT_EQ(line, " http://www.example.com/start?a=1&b=2");
}

TEST(OpenUrl, UnquotedBrowserIsStarted) {
    Text exe = InstallBrowser(kPlainFolder, "%EXE% -nohome %1");
    ASSERT_TRUE(OpenUrlInBrowser("http://x/"));
    std::string record = WaitForRecord(exe);
    ASSERT_FALSE(record.empty()) << "the browser did not run";
    EXPECT_EQ(record.substr(0, record.find('\n')), " http://x/");
    EXPECT_NE(record.find("qorbrows\\browser.exe"), std::string::npos) << record;
}

TEST(OpenUrl, LongestAddressThatFitsIsPassedWhole) {
    Text exe = InstallBrowser(kPlainFolder, "%EXE% %1");
    // A space, the address and the terminating zero fill the buffer exactly.
    Text address = Text("http://x/") + Text(kBrowserCommandLineSize - 2 - 9, 'a');
    ASSERT_TRUE(OpenUrlInBrowser(address));
    std::string record = WaitForRecord(exe);
    EXPECT_EQ(record.substr(0, record.find('\n')), " " + address.str());
}

TEST(OpenUrl, OverlongAddressIsRefusedAndNothingStarts) {
    Text exe = InstallBrowser(kPlainFolder, "%EXE% %1");
    Text address = Text("http://x/") + Text(kBrowserCommandLineSize - 1 - 9, 'a');
    EXPECT_FALSE(OpenUrlInBrowser(address));
    Sleep(500);
    EXPECT_FALSE(PathFileExistsA((exe + ".args").c_str()));
}

TEST(OpenUrl, NoAssociationStartsNothing) {
    Text exe = InstallBrowser(kPlainFolder, "%EXE% %1");
    SHDeleteKeyA(HKEY_CLASSES_ROOT, ".html");
    SHDeleteKeyA(HKEY_CURRENT_USER, "Software\\Classes\\.html");
    SHDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Classes\\.html");
    Text path = "stale";
    EXPECT_FALSE(GetBrowserPath(path));
    EXPECT_TRUE(path.empty());
    EXPECT_FALSE(OpenUrlInBrowser("http://x/"));
    Sleep(500);
    EXPECT_FALSE(PathFileExistsA((exe + ".args").c_str()));
}

}  // namespace
