// Shell folders, shortcuts and internet shortcuts under Wine. The same
// program runs twice: in a default prefix (NT family) and in one set to
// Windows 98 (QOR_EXPECT_WIN95=1); tests for the other family skip.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>

#include "RegistryFixture.h"
#include "ShellFolderSandbox.h"
#include "TestFiles.h"
#include "system/FileUtil.h"
#include "system/Registry.h"
#include "system/ShellLink.h"
#include "system/Shortcuts.h"

namespace {

const char kNotepad[] = "C:\\windows\\notepad.exe";

bool Win95Family() { return getenv("QOR_EXPECT_WIN95") != nullptr; }

Text WindowsFolder() {
    char buffer[MAX_PATH];
    UINT n = GetWindowsDirectoryA(buffer, MAX_PATH);
    return Text(buffer, n);
}

TEST(ShellFolders, PlatformFamilyIsTheOneThePrefixReports) {
    EXPECT_EQ(IsWindowsNT(), !Win95Family());
}

// Each shell-folder test puts the values it changes back afterwards.
struct KeepShellFolders {
    testreg::ScopedValue programs{HKEY_LOCAL_MACHINE, testreg::kShellFolders, "Common Programs"};
    testreg::ScopedValue userPrograms{HKEY_CURRENT_USER, testreg::kShellFolders, "Programs"};
    testreg::ScopedValue desktop{HKEY_LOCAL_MACHINE, testreg::kShellFolders, "Common Desktop"};
};

TEST(ShellFolders, NtFamilyReadsCommonValues) {
    if (Win95Family()) GTEST_SKIP() << "NT family only";
    KeepShellFolders keep;
    const char* programs = "C:\\WINNT\\Profiles\\All Users\\Start Menu\\Programs";
    ASSERT_TRUE(testreg::SetString(HKEY_LOCAL_MACHINE, testreg::kShellFolders, "Common Programs",
                                   programs));
    ASSERT_TRUE(testreg::SetString(HKEY_CURRENT_USER, testreg::kShellFolders, "Programs",
                                   "C:\\not\\this\\one"));
    ASSERT_TRUE(testreg::SetString(HKEY_LOCAL_MACHINE, testreg::kShellFolders, "Common Desktop",
                                   "C:\\AllDesk"));
    EXPECT_EQ(GetProgramsFolder(), Text(programs) + "\\");
    EXPECT_EQ(GetDesktopFolder(), Text("C:\\AllDesk\\"));
    // The value is taken as it stands: a backslash is appended even after one.
    ASSERT_TRUE(testreg::SetString(HKEY_LOCAL_MACHINE, testreg::kShellFolders, "Common Desktop",
                                   "C:\\AllDesk\\"));
    EXPECT_EQ(GetDesktopFolder(), Text("C:\\AllDesk\\\\"));
}

TEST(ShellFolders, NtFamilyFallsBackBelowAllUsersProfile) {
    if (Win95Family()) GTEST_SKIP() << "NT family only";
    KeepShellFolders keep;
    testreg::DeleteValue(HKEY_LOCAL_MACHINE, testreg::kShellFolders, "Common Programs");
    ASSERT_TRUE(testreg::SetString(HKEY_LOCAL_MACHINE, testreg::kShellFolders, "Common Desktop",
                                   ""));  // empty counts as missing
    EXPECT_EQ(GetProgramsFolder(),
              WindowsFolder() + "\\Profiles\\All Users\\Start Menu\\Programs\\");
    EXPECT_EQ(GetDesktopFolder(), WindowsFolder() + "\\Profiles\\All Users\\Desktop\\");
}

TEST(ShellFolders, Win95FamilyReadsUserProgramsAndCommonDesktop) {
    if (!Win95Family()) GTEST_SKIP() << "Windows 95 family only";
    KeepShellFolders keep;
    ASSERT_TRUE(testreg::SetString(HKEY_CURRENT_USER, testreg::kShellFolders, "Programs",
                                   "C:\\WINDOWS\\Start Menu\\Programs"));
    ASSERT_TRUE(testreg::SetString(HKEY_LOCAL_MACHINE, testreg::kShellFolders, "Common Programs",
                                   "C:\\not\\this\\one"));
    ASSERT_TRUE(testreg::SetString(HKEY_LOCAL_MACHINE, testreg::kShellFolders, "Common Desktop",
                                   "C:\\AllDesk"));
    EXPECT_EQ(GetProgramsFolder(), Text("C:\\WINDOWS\\Start Menu\\Programs\\"));
    EXPECT_EQ(GetDesktopFolder(), Text("C:\\AllDesk\\"));
}

TEST(ShellFolders, Win95FamilyFallsBackToWindowsFolder) {
    if (!Win95Family()) GTEST_SKIP() << "Windows 95 family only";
    KeepShellFolders keep;
    testreg::DeleteValue(HKEY_CURRENT_USER, testreg::kShellFolders, "Programs");
    testreg::DeleteValue(HKEY_LOCAL_MACHINE, testreg::kShellFolders, "Common Desktop");
    EXPECT_EQ(GetProgramsFolder(), WindowsFolder() + "\\Start Menu\\Programs\\");
    EXPECT_EQ(GetDesktopFolder(), WindowsFolder() + "\\Desktop\\");
}

TEST(LinkPaths, RelativeFolderGetsOneSeparatorAndOverlongPathsAreRefused) {
    EXPECT_EQ(MakeLinkPath("C:\\P\\", "QOR\\Trovix", "Go", ".lnk"),
              Text("C:\\P\\QOR\\Trovix\\Go.lnk"));
    EXPECT_EQ(MakeLinkPath("C:\\P\\", "QOR\\Trovix\\", "Go", ".url"),
              Text("C:\\P\\QOR\\Trovix\\Go.url"));
    EXPECT_EQ(MakeLinkPath("C:\\D\\", "", "Go", ".url"), Text("C:\\D\\Go.url"));
    Text base = "C:\\D\\";
    Text nameThatFits(259 - base.size() - 4, 'n');  // exactly 259 characters
    EXPECT_EQ(MakeLinkPath(base, "", nameThatFits, ".url").size(), 259u);
    EXPECT_TRUE(MakeLinkPath(base, "", nameThatFits + "n", ".url").empty());
}

// Creation tests work in the prefix's own shell folders (Wine's shell keeps
// rewriting the registry values to them) and remove what they added.
class ShortcutTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(shell_.Enter()); }
    void TearDown() override { shell_.Leave(); }

    ShellFolderSandbox shell_;
};

TEST_F(ShortcutTest, StartMenuUrlWithIconHasItsThreeKeysInOrder) {
    EXPECT_FALSE(StartMenuFolderExists("QOR\\Trovix"));
    EXPECT_TRUE(CreateStartMenuUrl("QOR\\Trovix\\", "Start", "http://www.example.com/",
                                   "C:\\P\\QorDL.exe", 1));
    EXPECT_TRUE(StartMenuFolderExists("QOR\\Trovix"));
    EXPECT_TRUE(StartMenuUrlExists("QOR\\Trovix", "Start"));
    EXPECT_EQ(testfiles::Read(shell_.programs + "\\QOR\\Trovix\\Start.url"),
              "[InternetShortcut]\r\n"
              "URL=http://www.example.com/\r\n"
              "IconIndex=1\r\n"
              "IconFile=C:\\P\\QorDL.exe\r\n");
}

TEST_F(ShortcutTest, UrlWithoutIconHasOnlyTheAddress) {
    EXPECT_TRUE(CreateDesktopUrl("Plain", "http://a/", "", 7));
    EXPECT_TRUE(DesktopUrlExists("Plain"));
    EXPECT_EQ(testfiles::Read(shell_.desktop + "\\Plain.url"),
              "[InternetShortcut]\r\nURL=http://a/\r\n");
}

TEST_F(ShortcutTest, RewritingAUrlReplacesItsKeysAndKeepsTheRest) {
    Text path = shell_.desktop + "\\Again.url";
    ASSERT_TRUE(testfiles::Write(path,
                                 "[InternetShortcut]\r\nURL=http://old/\r\nHotKey=0\r\n"
                                 "IconFile=C:\\old.ico\r\n[Extra]\r\nX=1\r\n"));
    EXPECT_TRUE(CreateDesktopUrl("Again", "http://new/", "C:\\new.exe", -2));
    EXPECT_EQ(testfiles::Read(path),
              "[InternetShortcut]\r\nURL=http://new/\r\nHotKey=0\r\nIconFile=C:\\new.exe\r\n"
              "IconIndex=-2\r\n[Extra]\r\nX=1\r\n");
}

TEST_F(ShortcutTest, ShortcutsTakeTheirIconFromTargetOrIconFile) {
    EXPECT_TRUE(CreateStartMenuShortcut("QOR\\Trovix", "Own Icon", kNotepad, "", 1));
    EXPECT_TRUE(
        CreateDesktopShortcut("Other Icon", kNotepad, "C:\\windows\\system32\\shell32.dll", 3));
    EXPECT_TRUE(StartMenuShortcutExists("QOR\\Trovix", "Own Icon"));
    EXPECT_TRUE(DesktopShortcutExists("Other Icon"));

    ShellLink own;
    ASSERT_TRUE(own.Load(shell_.programs + "\\QOR\\Trovix\\Own Icon.lnk"));
    EXPECT_STRCASEEQ(own.GetPath().c_str(), kNotepad);
    int index = -1;
    EXPECT_STRCASEEQ(own.GetIconLocation(&index).c_str(), kNotepad);
    EXPECT_EQ(index, 1);
    EXPECT_EQ(own.GetArguments(), Text(""));
    EXPECT_EQ(own.GetDescription(), Text(""));

    ShellLink other;
    ASSERT_TRUE(other.Load(shell_.desktop + "\\Other Icon.lnk"));
    EXPECT_STRCASEEQ(other.GetIconLocation(&index).c_str(), "C:\\windows\\system32\\shell32.dll");
    EXPECT_EQ(index, 3);
}

TEST_F(ShortcutTest, DeletingMissingLinksAnswersAsDocumented) {
    EXPECT_TRUE(DeleteStartMenuShortcut("QOR", "None"));
    EXPECT_FALSE(DeleteStartMenuUrl("QOR", "None"));
    EXPECT_TRUE(DeleteDesktopShortcut("None"));
    EXPECT_TRUE(DeleteDesktopUrl("None"));

    ASSERT_TRUE(CreateStartMenuUrl("QOR", "U", "http://u/", "", 0));
    ASSERT_TRUE(CreateStartMenuShortcut("QOR", "S", kNotepad, "", 0));
    ASSERT_TRUE(CreateDesktopUrl("U", "http://u/", "", 0));
    ASSERT_TRUE(CreateDesktopShortcut("S", kNotepad, "", 0));
    EXPECT_TRUE(DeleteStartMenuUrl("QOR", "U"));
    EXPECT_TRUE(DeleteStartMenuShortcut("QOR", "S"));
    EXPECT_TRUE(DeleteDesktopUrl("U"));
    EXPECT_TRUE(DeleteDesktopShortcut("S"));
    EXPECT_FALSE(StartMenuUrlExists("QOR", "U"));
    EXPECT_FALSE(StartMenuShortcutExists("QOR", "S"));
    EXPECT_FALSE(DesktopUrlExists("U"));
    EXPECT_FALSE(DesktopShortcutExists("S"));
}

TEST_F(ShortcutTest, StartMenuFolderCreateAndRemove) {
    EXPECT_TRUE(StartMenuFolderExists(""));
    EXPECT_TRUE(RemoveStartMenuFolder("Missing"));
    EXPECT_TRUE(CreateStartMenuFolder("A\\B"));
    EXPECT_FALSE(RemoveStartMenuFolder("A"));  // not empty
    EXPECT_TRUE(RemoveStartMenuFolder("A\\B"));
    EXPECT_TRUE(RemoveStartMenuFolder("A"));
    EXPECT_FALSE(StartMenuFolderExists("A"));
    ASSERT_TRUE(testfiles::Write(shell_.programs + "\\file", "x"));
    EXPECT_FALSE(CreateStartMenuFolder("file\\sub"));
    EXPECT_FALSE(CreateStartMenuUrl("file\\sub", "U", "http://u/", "", 0));
    EXPECT_FALSE(CreateStartMenuShortcut("file\\sub", "S", kNotepad, "", 0));
}

TEST_F(ShortcutTest, OverlongNamesAreRefusedWithoutWritingAnything) {
    Text name(300, 'n');
    EXPECT_FALSE(CreateStartMenuUrl("QOR", name, "http://u/", "", 0));
    EXPECT_FALSE(CreateStartMenuShortcut("QOR", name, kNotepad, "", 0));
    EXPECT_FALSE(CreateDesktopUrl(name, "http://u/", "", 0));
    EXPECT_FALSE(CreateDesktopShortcut(name, kNotepad, "", 0));
    EXPECT_FALSE(StartMenuUrlExists("QOR", name));
    EXPECT_FALSE(DesktopShortcutExists(name));
    EXPECT_FALSE(DeleteStartMenuUrl("QOR", name));
    EXPECT_TRUE(DeleteStartMenuShortcut("QOR", name));
    EXPECT_TRUE(testfiles::Added(shell_.desktop, shell_.desktopBefore).empty());
    // The Start Menu folder is made before the link path is formed; it stays empty.
    EXPECT_EQ(testfiles::Added(shell_.programs, shell_.programsBefore),
              std::set<std::string>{"QOR"});
    EXPECT_TRUE(testfiles::List(shell_.programs + "\\QOR").empty());
}

TEST_F(ShortcutTest, ShellLinkMembersRoundTripThroughAFile) {
    Text path = shell_.desktop + "\\Full.lnk";
    {
        ShellLink link;
        ASSERT_TRUE(link.IsValid());
        EXPECT_TRUE(link.SetPath(kNotepad));
        EXPECT_TRUE(link.SetArguments("-a \"b c\""));
        EXPECT_TRUE(link.SetDescription("A description"));
        EXPECT_TRUE(link.SetWorkingDirectory("C:\\windows"));
        EXPECT_TRUE(link.SetIconLocation("C:\\windows\\system32\\shell32.dll", 4));
        EXPECT_TRUE(link.SetHotkey(MAKEWORD('Q', HOTKEYF_CONTROL | HOTKEYF_ALT)));
        EXPECT_TRUE(link.SetShowCmd(SW_SHOWMAXIMIZED));
        EXPECT_EQ(link.GetShowCmd(), SW_SHOWMAXIMIZED);
        EXPECT_TRUE(link.Save(path));
    }
    ShellLink link;
    ASSERT_TRUE(link.Load(path));
    EXPECT_STRCASEEQ(link.GetPath().c_str(), kNotepad);
    WIN32_FIND_DATAA found;
    EXPECT_FALSE(link.GetPath(SLGP_UNCPRIORITY, &found).empty());
    EXPECT_EQ(link.GetArguments(), Text("-a \"b c\""));
    EXPECT_EQ(link.GetDescription(), Text("A description"));
    EXPECT_STRCASEEQ(link.GetWorkingDirectory().c_str(), "C:\\windows");
    int index = 0;
    EXPECT_STRCASEEQ(link.GetIconLocation(&index).c_str(), "C:\\windows\\system32\\shell32.dll");
    EXPECT_EQ(index, 4);
    EXPECT_EQ(link.GetHotkey(), MAKEWORD('Q', HOTKEYF_CONTROL | HOTKEYF_ALT));
    EXPECT_NE(link.GetShowCmd(), 0);  // Wine's shell link does not keep the show command
    EXPECT_TRUE(link.Resolve(nullptr, SLR_NO_UI));

    // The parameterless Save writes back to the file it was loaded from.
    EXPECT_TRUE(link.SetArguments("changed"));
    EXPECT_TRUE(link.Save());
    ShellLink again;
    ASSERT_TRUE(again.Load(path));
    EXPECT_EQ(again.GetArguments(), Text("changed"));

    // An item list carries the target from one link to another.
    LPITEMIDLIST list = nullptr;
    ASSERT_TRUE(again.GetIDList(&list));
    ShellLink copy;
    EXPECT_TRUE(copy.SetIDList(list));
    CoTaskMemFree(list);
    EXPECT_STRCASEEQ(copy.GetPath().c_str(), kNotepad);
    EXPECT_TRUE(copy.SetRelativePath(shell_.desktop + "\\"));
}

TEST_F(ShortcutTest, ShellLinkRefusesMissingAndOverlongFiles) {
    ShellLink link;
    EXPECT_FALSE(link.Load(shell_.desktop + "\\missing.lnk"));
    EXPECT_FALSE(link.Save(Text("C:\\") + Text(400, 'x') + ".lnk"));
}

// Writes the links the Linux-side parser checks (lnkinfo), with a manifest of
// what each should hold: file|target|icon file|icon index.
TEST_F(ShortcutTest, LinksForTheIndependentParser) {
    const char* out = getenv("QOR_LNK_OUT");
    if (!out || Win95Family()) GTEST_SKIP() << "QOR_LNK_OUT not set";
    Text folder = testfiles::FromUnixPath(out);
    RemoveFolderTree(folder);
    ASSERT_TRUE(CreateFolderPath(folder));

    ASSERT_TRUE(CreateStartMenuShortcut("QOR\\Trovix", "Configure Trovix", kNotepad, "", 1));
    ASSERT_TRUE(CreateDesktopShortcut("Uninstall Trovix", "C:\\windows\\regedit.exe",
                                      "C:\\windows\\system32\\shell32.dll", 3));
    ASSERT_TRUE(CopyFileA((shell_.programs + "\\QOR\\Trovix\\Configure Trovix.lnk").c_str(),
                          (folder + "\\configure.lnk").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA((shell_.desktop + "\\Uninstall Trovix.lnk").c_str(),
                          (folder + "\\uninstall.lnk").c_str(), FALSE));
    ASSERT_TRUE(
        testfiles::Write(folder + "\\expected.txt",
                         "configure.lnk|C:\\windows\\notepad.exe|C:\\windows\\notepad.exe|1\n"
                         "uninstall.lnk|C:\\windows\\regedit.exe|"
                         "C:\\windows\\system32\\shell32.dll|3\n"));
}

}  // namespace
