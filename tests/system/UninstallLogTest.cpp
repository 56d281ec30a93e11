// Uninstall log writers under Wine: the real profile writer, registry and
// shell link, checked by the log file's exact bytes.
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "RegistryFixture.h"
#include "ShellFolderSandbox.h"
#include "TestFiles.h"
#include "system/FileUtil.h"
#include "system/ProfileLog.h"
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

// Each string value is stored with its terminating zero, as a REG_SZ's size
// must count it; the setup's own reader takes both forms back alike.
TEST_F(UninstallLogTest, RegistryStringsCarryTheirTerminatingZero) {
    const char kKey[] = "Software\\QorLogZero";
    const Text log = kRoot + "\\zero.inf";
    struct Case {
        const char* name;
        std::string data;
    } cases[] = {
        {"Empty", ""},
        {"One", "x"},
        {"Name", "Trovix 1.1"},
        {"Path", "C:\\Program Files\\QOR\\Trovix"},
        {"Fills259", std::string(259, 'f')},  // with its zero: the reader's whole buffer
        {"Fills260", std::string(260, 'g')},
        {"Long", std::string(1000, 'L')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetLoggedRegistryValue(kKey, c.name, Text(c.data), "K", "I", log);
        HKEY key;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key), ERROR_SUCCESS);
        DWORD type = 0, size = 0;
        EXPECT_EQ(RegQueryValueExA(key, c.name, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
        EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
        EXPECT_EQ(size, c.data.size() + 1);
        // One spare byte, filled, shows that nothing is written past the size.
        std::vector<BYTE> bytes(size + 1, 0xEE);
        DWORD got = size;
        EXPECT_EQ(RegQueryValueExA(key, c.name, nullptr, &type, bytes.data(), &got), ERROR_SUCCESS);
        RegCloseKey(key);
        std::vector<BYTE> expected(c.data.begin(), c.data.end());
        expected.push_back(0);
        expected.push_back(0xEE);
        EXPECT_EQ(got, size);
        EXPECT_EQ(bytes, expected);
        EXPECT_EQ(ReadRegistryString(kKey, c.name), Text(c.data.c_str()));

        // The same text stored without its zero, as other writers may leave it.
        // A byte other than zero follows the data: the registry counts in a
        // zero it finds right after the given size.
        const std::string unterminated = c.data + "Z";
        HKEY raw;
        ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, kKey, &raw), ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(raw, c.name, 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(unterminated.data()),
                                 static_cast<DWORD>(c.data.size())),
                  ERROR_SUCCESS);
        size = 0;
        EXPECT_EQ(RegQueryValueExA(raw, c.name, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
        EXPECT_EQ(size, c.data.size());
        RegCloseKey(raw);
        EXPECT_EQ(ReadRegistryString(kKey, c.name), Text(c.data.c_str()));
        EXPECT_TRUE(RegistryValueExists(kKey, c.name));
    }
    DeleteRegistryTree(kKey);
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

namespace {

struct LogWrite {
    std::string section, key, value;
};

// The writes of an interactive install of the shipped payload, in order.
std::vector<LogWrite> ReferenceInstall(const std::string& folder) {
    const std::string t = folder + "\\";
    std::vector<LogWrite> w = {
        {"Trovix Dirs", "C:\\Program Files\\QOR", ""},
        {"Trovix Dirs", folder, ""},
        {"Trovix Files", t + "TrovixInstall.inf", ""},
        {"Trovix Files", t + "TrovixUninstall.exe", ""},
        {"Trovix Files", t + "QorXfer.dll", ""},
        {"Uninstall Command Line", t + "QorDL.exe", t + "QorDL.exe -unregister"},
        {"Trovix Files", t + "QorDL.exe", ""},
        {"Uninstall Command Line", t + "QorRcv.exe", t + "QorRcv.exe -unregister"},
        {"Trovix Files", t + "QorRcv.exe", ""},
        {"Trovix Files", t + "Lumen.dat", ""},
        {"Trovix Files", t + "Corvane.inf", ""},
    };
    const char* keys[] = {"Software\\Corvane OnLine", "Software\\Corvane OnLine\\Setup",
                          "Software\\Corvane OnLine\\Setup\\Trovix"};
    for (const char* k : keys) w.push_back({"Trovix Registry Keys", k, ""});
    w.push_back(
        {"Trovix Registry Items", "Software\\Corvane OnLine\\Setup\\Trovix\\Directory", ""});
    w.push_back(
        {"Trovix Registry Items", "Software\\Corvane OnLine\\Setup\\Trovix\\Full Name", ""});
    const std::string u = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Trovix";
    w.push_back({"Trovix Registry Keys", u, ""});
    w.push_back({"Trovix Registry Items", u + "\\DisplayName", ""});
    w.push_back({"Trovix Registry Items", u + "\\UninstallString", ""});
    const char* more[] = {"Software\\QOR", "Software\\QOR\\Trovix", "Software\\QOR\\Trovix\\Config",
                          "Software\\QOR\\Trovix\\Config\\Receivers",
                          "Software\\QOR\\Trovix\\Config\\Receivers\\TrovixRcv"};
    for (const char* k : more) w.push_back({"Trovix Registry Keys", k, ""});
    w.push_back({"Trovix Registry Items",
                 "Software\\QOR\\Trovix\\Config\\Receivers\\TrovixRcv\\LatestVersion", ""});
    w.push_back({"Trovix Registry Keys", "Software\\QOR\\Trovix\\Downloader", ""});
    w.push_back({"Trovix Dirs", "C:\\Program Files\\QOR\\Scout", ""});
    w.push_back({"Trovix Files", "C:\\Program Files\\QOR\\Scout\\Trovix.tag", ""});
    w.push_back({"Trovix Start Menu Folders", "QOR", ""});
    w.push_back({"Trovix Start Menu Folders", "QOR\\Trovix", ""});
    w.push_back({"Trovix Start Menu URLs", "Start Trovix", "QOR\\Trovix"});
    w.push_back({"Trovix Start Menu Shortcuts", "Configure Trovix", "QOR\\Trovix"});
    w.push_back({"Trovix Start Menu Shortcuts", "Uninstall Trovix", "QOR\\Trovix"});
    w.push_back({"Trovix Desktop URLs", "Start Trovix", ""});
    return w;
}

// 3,000 files in nested folders, with their folders recorded as they appear
// (so most new folders land in a section that is not the last).
std::vector<LogWrite> ManyFiles(const std::string& folder) {
    std::vector<LogWrite> w = {{"Trovix Dirs", folder, ""},
                               {"Trovix Files", folder + "\\TrovixInstall.inf", ""}};
    for (int i = 0; i < 3000; ++i) {
        const std::string d = folder + "\\d" + std::to_string(i % 30);
        const std::string e = d + "\\e" + std::to_string(i % 7);
        if (i < 30) w.push_back({"Trovix Dirs", d, ""});
        if (i < 210) w.push_back({"Trovix Dirs", e, ""});
        const std::string f = e + "\\file" + std::to_string(i) + ".dat";
        if (i % 500 == 0) w.push_back({"Uninstall Command Line", f, f + " -unregister"});
        w.push_back({i % 3 ? "Trovix Files" : "Receiver Files", f, ""});
    }
    w.push_back({"Trovix Registry Keys", "Software\\QOR", ""});
    return w;
}

bool OurWrite(const Text& file, const LogWrite& w) {
    return WriteLogEntry(file, Text(w.section), Text(w.key), Text(w.value));
}

bool ProfileWrite(const Text& file, const LogWrite& w) {
    return WritePrivateProfileStringA(w.section.c_str(), w.key.c_str(), w.value.c_str(),
                                      file.c_str()) != 0;
}

}  // namespace

// The log writer leaves, after every entry, the bytes the profile writer
// leaves for the same calls: new and existing logs, many entries, names that
// differ only in case, entries and files it hands to the profile writer.
TEST_F(UninstallLogTest, WriterMatchesTheProfileWriterByteForByte) {
    const std::string folder = "C:\\Program Files\\QOR\\Trovix";
    const std::vector<LogWrite> reference = ReferenceInstall(folder);
    std::vector<LogWrite> rerun = reference;
    rerun.push_back({"Uninstall Command Line", folder + "\\QorDL.exe", folder + "\\QorDL.exe -x"});
    rerun.push_back({"Trovix Files", folder + "\\New.dll", ""});
    rerun.push_back({"Trovix Dirs", folder + "\\Sub", ""});
    const std::vector<LogWrite> caseOnly = {
        {"Trovix Files", "C:\\A\\File.txt", ""},
        {"Trovix Dirs", "C:\\A", ""},
        {"trovix files", "c:\\a\\FILE.TXT", ""},       // the same key: no change
        {"TROVIX FILES", "C:\\a\\file.txt", "value"},  // the same key, a new value
        {"Trovix Files", "C:\\A\\File.txt", "Value"},  // values compare with case
        {"Trovix Files", "C:\\A\\File.txt", ""},       // and shrink in place
        {"Uninstall Command Line", "C:\\A\\x.exe", "C:\\A\\x.exe -u"},
        {"uninstall command line", "c:\\a\\X.EXE", "c:\\a\\X.EXE -U"},
        {"trovix dirs", "C:\\A\\B", ""},
    };
    const std::vector<LogWrite> odd = {
        {"Trovix Files", "C:\\A\\plain.txt", ""},
        {"Trovix Files", "C:\\Programme\\M\xFCller\\a.txt", ""},  // not ASCII
        {"Trovix Files", "C:\\A\\after.txt", ""},
        {"Trovix Files", "C:\\A\\b.txt", " leading space"},
        {"Trovix Files", "C:\\A\\c.txt", "trailing space "},
        {"Trovix Files", " C:\\A\\spaced key ", ""},
        {"Trovix Files", "C:\\A\\key=with equals", "v"},
        {"Trovix Files", "C:\\A\\tab\tkey", ""},
        {" Trovix Files", "C:\\A\\d.txt", ""},
        {"Other", "C:\\A\\e.txt", ""},
        {"Trovix Files", "c:\\programme\\m\xFCller\\A.TXT", "x"},
        {"Trovix Files", "C:\\A\\last.txt", ""},
    };
    struct Case {
        const char* name;
        const char* existing;  // the log before the run; null: none; "<reference>": that log
        std::vector<LogWrite> writes;
        size_t checkEvery;
    } cases[] = {
        {"reference log", nullptr, reference, 1},
        {"reference log, run again", "<reference>", rerun, 1},
        {"3,000 entries", nullptr, ManyFiles(folder), 97},
        {"keys differing only in case", nullptr, caseOnly, 1},
        {"names the profile writer gets", nullptr, odd, 1},
        {"another writer's log", "[Other]\r\nk=v\r\n", caseOnly, 1},
        {"a log with comments and blank lines", "; made by hand\r\n\r\n[Trovix Files]\r\nx = 1\r\n",
         caseOnly, 1},
        {"a log without a last line end", "[Trovix Files]\r\nC:\\A\\File.txt=", caseOnly, 1},
        {"an empty log", "", caseOnly, 1},
    };
    // Once as single calls, once with the log held open between them (the
    // install run's loop).
    for (const bool held : {false, true}) {
        SCOPED_TRACE(held ? "held open" : "opened per call");
        std::string referenceBytes;
        const Text ours = kRoot + "\\ours.inf", theirs = kRoot + "\\theirs.inf";
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            DeleteFileAt(ours);
            DeleteFileAt(theirs);
            if (c.existing) {
                const std::string start =
                    std::string(c.existing) == "<reference>" ? referenceBytes : c.existing;
                ASSERT_TRUE(testfiles::Write(ours, start));
                ASSERT_TRUE(testfiles::Write(theirs, start));
            }
            std::unique_ptr<ProfileFileHold> hold(held ? new ProfileFileHold : nullptr);
            for (size_t i = 0; i < c.writes.size(); ++i) {
                const LogWrite& w = c.writes[i];
                EXPECT_EQ(OurWrite(ours, w), ProfileWrite(theirs, w));
                if (i % c.checkEvery == 0 || i + 1 == c.writes.size()) {
                    ASSERT_EQ(testfiles::Read(ours), testfiles::Read(theirs))
                        << "after write " << i;
                }
            }
            if (referenceBytes.empty()) referenceBytes = testfiles::Read(theirs);
        }
        // The reference log is the documented one.
        EXPECT_EQ(
            referenceBytes,
            "[Trovix Dirs]\r\n"
            "C:\\Program Files\\QOR=\r\n"
            "C:\\Program Files\\QOR\\Trovix=\r\n"
            "C:\\Program Files\\QOR\\Scout=\r\n"
            "[Trovix Files]\r\n"
            "C:\\Program Files\\QOR\\Trovix\\TrovixInstall.inf=\r\n"
            "C:\\Program Files\\QOR\\Trovix\\TrovixUninstall.exe=\r\n"
            "C:\\Program Files\\QOR\\Trovix\\QorXfer.dll=\r\n"
            "C:\\Program Files\\QOR\\Trovix\\QorDL.exe=\r\n"
            "C:\\Program Files\\QOR\\Trovix\\QorRcv.exe=\r\n"
            "C:\\Program Files\\QOR\\Trovix\\Lumen.dat=\r\n"
            "C:\\Program Files\\QOR\\Trovix\\Corvane.inf=\r\n"
            "C:\\Program Files\\QOR\\Scout\\Trovix.tag=\r\n"
            "[Uninstall Command Line]\r\n"
            "C:\\Program Files\\QOR\\Trovix\\QorDL.exe=C:\\Program Files\\QOR\\Trovix\\QorDL.exe "
            "-unregister\r\n"
            "C:\\Program Files\\QOR\\Trovix\\QorRcv.exe=C:\\Program Files\\QOR\\Trovix\\QorRcv.exe "
            "-unregister\r\n"
            "[Trovix Registry Keys]\r\n"
            "Software\\Corvane OnLine=\r\n"
            "Software\\Corvane OnLine\\Setup=\r\n"
            "Software\\Corvane OnLine\\Setup\\Trovix=\r\n"
            "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Trovix=\r\n"
            "Software\\QOR=\r\n"
            "Software\\QOR\\Trovix=\r\n"
            "Software\\QOR\\Trovix\\Config=\r\n"
            "Software\\QOR\\Trovix\\Config\\Receivers=\r\n"
            "Software\\QOR\\Trovix\\Config\\Receivers\\TrovixRcv=\r\n"
            "Software\\QOR\\Trovix\\Downloader=\r\n"
            "[Trovix Registry Items]\r\n"
            "Software\\Corvane OnLine\\Setup\\Trovix\\Directory=\r\n"
            "Software\\Corvane OnLine\\Setup\\Trovix\\Full Name=\r\n"
            "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Trovix\\DisplayName=\r\n"
            "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Trovix\\UninstallString=\r\n"
            "Software\\QOR\\Trovix\\Config\\Receivers\\TrovixRcv\\LatestVersion=\r\n"
            "[Trovix Start Menu Folders]\r\n"
            "QOR=\r\n"
            "QOR\\Trovix=\r\n"
            "[Trovix Start Menu URLs]\r\n"
            "Start Trovix=QOR\\Trovix\r\n"
            "[Trovix Start Menu Shortcuts]\r\n"
            "Configure Trovix=QOR\\Trovix\r\n"
            "Uninstall Trovix=QOR\\Trovix\r\n"
            "[Trovix Desktop URLs]\r\n"
            "Start Trovix=\r\n");
        // A change behind the writer's back (here by the profile writer) is read again.
        const LogWrite a{"Trovix Files", "C:\\A\\one.txt", ""}, b{"Trovix Dirs", "C:\\A", ""},
            d{"Trovix Files", "C:\\A\\two.txt", ""};
        std::unique_ptr<ProfileFileHold> hold(held ? new ProfileFileHold : nullptr);
        for (const LogWrite& w : {a, b}) {
            OurWrite(ours, w);
            ProfileWrite(theirs, w);
        }
        ProfileWrite(ours, d);
        ProfileWrite(theirs, d);
        WriteLogEntry(ours, "Trovix Dirs", "C:\\B", "");
        ProfileWrite(theirs, {"Trovix Dirs", "C:\\B", ""});
        EXPECT_EQ(testfiles::Read(ours), testfiles::Read(theirs));
    }
}
