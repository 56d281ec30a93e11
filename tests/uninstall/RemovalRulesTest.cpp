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
