// The rules on what the uninstaller may touch: one table for paths (with the
// folders of an NT machine and of a Windows 95 family machine), one for keys.
#include <gtest/gtest.h>

#include "uninstall/RemovalRules.h"

namespace {

const ProtectedFolders kNt = {
    {"C:\\Windows", ProtectedKind::WindowsFolder},
    {"C:\\Windows\\system32", ProtectedKind::SystemFolder},
    {"C:\\Program Files\\", ProtectedKind::ProgramFiles},
    {"C:\\users\\me\\Temp\\", ProtectedKind::TempFolder},
    {"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\", ProtectedKind::ShellFolder},
    {"C:\\ProgramData\\Microsoft\\Windows\\Start Menu", ProtectedKind::ShellFolder},
    {"C:\\users\\Public\\Desktop\\", ProtectedKind::ShellFolder},
};

// Windows 95 family: the Start Menu and Desktop lie in the Windows folder.
const ProtectedFolders k95 = {
    {"C:\\WINDOWS", ProtectedKind::WindowsFolder},
    {"C:\\WINDOWS\\SYSTEM", ProtectedKind::SystemFolder},
    {"C:\\Program Files", ProtectedKind::ProgramFiles},
    {"C:\\WINDOWS\\TEMP", ProtectedKind::TempFolder},
    {"C:\\WINDOWS\\Start Menu\\Programs\\", ProtectedKind::ShellFolder},
    {"C:\\WINDOWS\\Start Menu", ProtectedKind::ShellFolder},
    {"C:\\WINDOWS\\Desktop\\", ProtectedKind::ShellFolder},
};

TEST(CheckRemovablePath, Table) {
    using V = PathVerdict;
    struct Case {
        const ProtectedFolders* folders;
        const char* path;
        PathVerdict expected;
    } cases[] = {
        {&kNt, "C:\\Program Files\\QOR\\Trovix\\QorDL.exe", V::Removable},
        {&kNt, "C:\\Program Files\\QOR", V::Removable},
        {&kNt, "c:\\program files\\qor\\", V::Removable},
        {&kNt, "D:\\Games\\Demo Game\\QOR", V::Removable},
        {&kNt, "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\QOR\\Trovix\\a.lnk",
         V::Removable},
        {&kNt, "C:\\users\\Public\\Desktop\\Start Trovix.url", V::Removable},
        {&kNt, "C:\\users\\me\\Temp\\x.tmp", V::Removable},
        {&kNt, "", V::NotAbsolute},
        {&kNt, "QorDL.exe", V::NotAbsolute},
        {&kNt, "\\QOR\\x", V::NotAbsolute},
        {&kNt, "C:QOR\\x", V::NotAbsolute},
        {&kNt, "C:", V::NotAbsolute},
        {&kNt, "\\\\server\\share\\x", V::NotAbsolute},
        {&kNt, "C:\\", V::DriveRoot},
        {&kNt, "c:\\\\", V::DriveRoot},
        {&kNt, "C:\\Program Files\\QOR\\..\\..\\Windows", V::DotComponent},
        {&kNt, "C:\\Program Files\\.\\QOR", V::DotComponent},
        {&kNt, "C:\\Windows.\\system32\\x.dll", V::Malformed},
        {&kNt, "C:\\QOR \\x", V::Malformed},
        {&kNt, "C:\\QOR\\\\x", V::Malformed},
        {&kNt, "C:/Windows/x.dll", V::Malformed},
        {&kNt, "C:\\QOR\\x.dll::$DATA", V::Malformed},
        {&kNt, "C:\\QOR\\a*b", V::Malformed},
        {&kNt, "C:\\QOR\\a\tb", V::Malformed},
        {&kNt, "C:\\Windows", V::SystemFolder},
        {&kNt, "C:\\WINDOWS\\System32\\x.dll", V::SystemFolder},
        {&kNt, "C:\\Windows\\Fonts", V::SystemFolder},
        {&kNt, "C:\\Windowsx\\a", V::Removable},
        {&kNt, "C:\\Program Files", V::ProgramFiles},
        {&kNt, "C:\\PROGRAM FILES\\", V::ProgramFiles},
        {&kNt, "C:\\users\\me\\Temp", V::TempFolder},
        {&kNt, "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs", V::ShellFolder},
        {&kNt, "C:\\ProgramData\\Microsoft\\Windows\\Start Menu", V::ShellFolder},
        {&kNt, "C:\\users\\Public\\Desktop", V::ShellFolder},
        {&k95, "C:\\WINDOWS\\Start Menu\\Programs\\QOR\\Trovix", V::Removable},
        {&k95, "C:\\WINDOWS\\Desktop\\Start Trovix.url", V::Removable},
        {&k95, "C:\\WINDOWS\\Desktop", V::ShellFolder},
        {&k95, "C:\\WINDOWS\\Start Menu", V::ShellFolder},
        {&k95, "C:\\WINDOWS\\notepad.exe", V::SystemFolder},
        {&k95, "C:\\WINDOWS\\TEMP", V::TempFolder},
        {&k95, "C:\\WINDOWS\\TEMP\\x.tmp", V::SystemFolder},
        {&k95, "C:\\WINDOWS\\Desktop\\..\\win.ini", V::DotComponent},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, CheckRemovablePath(c.path, *c.folders)) << c.path;
    EXPECT_EQ(V::TooLong, CheckRemovablePath(Text("C:\\") + Text(257, 'a'), kNt));
    EXPECT_EQ(V::Removable, CheckRemovablePath(Text("C:\\") + Text(256, 'a'), kNt));
}

TEST(CheckRemovablePath, ShellFolderPointingAtWindowsGivesNoWayIn) {
    ProtectedFolders folders = kNt;
    folders.push_back({"C:\\Windows", ProtectedKind::ShellFolder});
    EXPECT_EQ(PathVerdict::SystemFolder, CheckRemovablePath("C:\\Windows\\win.ini", folders));
    EXPECT_EQ(PathVerdict::SystemFolder,
              CheckRemovablePath("C:\\Windows\\system32\\x.dll", folders));
}

// A per-user shell folder keeps itself but lifts no protection: a user who
// points "Startup" at the Fonts folder must not get fonts deleted.
TEST(CheckRemovablePath, PerUserShellFoldersOnlyAddProtection) {
    using V = PathVerdict;
    ProtectedFolders folders = kNt;
    folders.push_back({"C:\\Windows\\Fonts", ProtectedKind::UserShellFolder});
    folders.push_back(
        {"C:\\users\\me\\Start Menu\\Programs\\Startup", ProtectedKind::UserShellFolder});
    ProtectedFolders old95 = k95;
    old95.push_back({"C:\\WINDOWS\\Fonts\\", ProtectedKind::UserShellFolder});
    struct Case {
        const ProtectedFolders* folders;
        const char* path;
        PathVerdict expected;
    } cases[] = {
        {&folders, "C:\\Windows\\Fonts\\fontsent.ttf", V::SystemFolder},
        {&folders, "C:\\Windows\\Fonts", V::ShellFolder},
        {&folders, "C:\\users\\me\\Start Menu\\Programs\\Startup", V::ShellFolder},
        {&folders, "C:\\users\\me\\Start Menu\\Programs\\Startup\\a.lnk", V::Removable},
        {&old95, "C:\\WINDOWS\\Fonts\\fontsent.ttf", V::SystemFolder},
        {&old95, "C:\\WINDOWS\\Desktop\\Start Trovix.url", V::Removable},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, CheckRemovablePath(c.path, *c.folders)) << c.path;
}

// Only a recorded .exe runs, by its own path: a batch file would be started
// through a command interpreter, which reads "&" as a second command.
TEST(CheckUninstallCommand, Table) {
    using V = CommandVerdict;
    struct Case {
        const char* file;
        const char* line;
        CommandVerdict expected;
        const char* arguments;
    } cases[] = {
        {"C:\\P\\QorDL.exe", "C:\\P\\QorDL.exe -unregister", V::Runnable, " -unregister"},
        {"C:\\P\\QorDL.exe", "c:\\p\\QORDL.EXE", V::Runnable, ""},
        {"C:\\P\\QorDL.EXE", "C:\\P\\QorDL.EXE /u", V::Runnable, " /u"},
        {"C:\\P\\QorDL.exe", "C:\\P\\QorDL.exex", V::Mismatch, "x"},
        {"C:\\P\\QorDL.exe", "C:\\windows\\system32\\cmd.exe /c del x", V::Mismatch, nullptr},
        {"C:\\P\\x.bat", "C:\\P\\x.bat & echo cmd-injection> C:\\injected.txt", V::NotProgram,
         nullptr},
        {"C:\\P\\x.cmd", "C:\\P\\x.cmd", V::NotProgram, nullptr},
        {"C:\\P\\x.com", "C:\\P\\x.com", V::NotProgram, nullptr},
        {"C:\\P\\exe", "C:\\P\\exe", V::NotProgram, nullptr},
        {"", "", V::Mismatch, nullptr},
    };
    for (const Case& c : cases) {
        Text arguments;
        EXPECT_EQ(c.expected, CheckUninstallCommand(c.file, c.line, arguments)) << c.line;
        if (c.arguments) {
            EXPECT_EQ(Text(c.arguments), arguments) << c.line;
        }
    }
}

TEST(CheckRemovableKey, Table) {
    using V = KeyVerdict;
    struct Case {
        const char* key;
        KeyVerdict expected;
    } cases[] = {
        {"Software\\QOR", V::Removable},
        {"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Trovix", V::Removable},
        {"Software", V::TooShallow},
        {"SYSTEM", V::TooShallow},
        {"", V::Malformed},
        {"\\Software\\QOR", V::Malformed},
        {"Software\\QOR\\", V::Malformed},
        {"Software\\\\QOR", V::Malformed},
        {"HKEY_LOCAL_MACHINE\\Software\\QOR", V::Malformed},
        {"hkey_current_user\\Software", V::Malformed},
        {"Software\\Q\nOR", V::Malformed},
    };
    for (const Case& c : cases) EXPECT_EQ(c.expected, CheckRemovableKey(c.key)) << c.key;
    EXPECT_EQ(V::TooLong, CheckRemovableKey(Text("Software\\") + Text(kMaxKeyPath, 'a')));
}

TEST(CheckRemovableValue, SplitsAtTheLastBackslash) {
    Text key, value;
    EXPECT_EQ(KeyVerdict::Removable,
              CheckRemovableValue("Software\\QOR\\Trovix\\Full Name", key, value));
    EXPECT_EQ(Text("Software\\QOR\\Trovix"), key);
    EXPECT_EQ(Text("Full Name"), value);
    EXPECT_EQ(KeyVerdict::TooShallow, CheckRemovableValue("Software\\Full Name", key, value));
    EXPECT_EQ(KeyVerdict::TooShallow, CheckRemovableValue("Directory", key, value));
    EXPECT_EQ(KeyVerdict::Malformed, CheckRemovableValue("Software\\QOR\\a\rb", key, value));
}

}  // namespace
