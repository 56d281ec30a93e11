// The installer's resources as the running program sees them: string-table
// texts through LoadResourceText, the dialog templates, picture and icons.
#include <gtest/gtest.h>

#include <windows.h>
#include <commdlg.h>

#include <cstddef>

#include "resources/resource.h"
#include "tests/resources/TestStrings.h"
#include "text/ResourceText.h"

namespace {

HINSTANCE Self() { return GetModuleHandleA(nullptr); }

Text Load(UINT id) { return LoadResourceText(Self(), id); }

TEST(StringTable, TextsAreByteExact) {
    EXPECT_EQ(Text("TrovixInstall"), Load(IDS_WINDOW_TITLE));
    EXPECT_EQ(Text("TROVIXINSTALL"), Load(IDS_WINDOW_CLASS));
    EXPECT_EQ(Text("Trovix"), Load(IDS_PRODUCT_NAME));
    EXPECT_EQ(Text("Program Files\\QOR\\Trovix"), Load(IDS_DEFAULT_FOLDER));
    EXPECT_EQ(Text("<RCV> requires an installed copy of <PROD>.  You must install <PROD> before "
                   "you install <RCV>."),
              Load(IDS_PREREQ_MISSING));
    EXPECT_EQ(Text("Installation Aborted"), Load(IDS_PREREQ_CAPTION));
    EXPECT_EQ(
        Text("Unable to create folder '<FOLDER>'.  Please select a new Folder and try again."),
        Load(IDS_CREATE_FOLDER_FAILED));
    EXPECT_EQ(Text("Please select the folder that contains <3RD PARTY NAME>."),
              Load(IDS_3RD_SELECT));
    EXPECT_EQ(Text("Select the &Folder Containing <PROD NAME>:"), Load(IDS_3RD_GROUP));
    EXPECT_EQ(
        Text("You can access Trovix by selecting your Start button, then look in the Programs "
             "| QOR | Trovix folder."),
        Load(IDS_DONE_ACCESS));
    EXPECT_EQ(Text("&Finished"), Load(IDS_FINISHED_BUTTON));
    EXPECT_EQ(Text("Uninstall Trovix"), Load(IDS_SHORTCUT_UNINSTALL));
    EXPECT_EQ(Text("Some files of <DISP NAME> were in use and will be replaced when the computer "
                   "restarts.  Restart the computer to finish the installation."),
              Load(IDS_RESTART_NEEDED));
    EXPECT_EQ(Text("Restart Required"), Load(IDS_RESTART_NEEDED_CAPTION));
}

TEST(StringTable, LineBreaksAreSingleLineFeeds) {
    EXPECT_EQ(Text("Invalid path.\nMake sure it looks something like:\n<SAMPLE>"),
              Load(IDS_INVALID_PATH));
    EXPECT_EQ(Text("Unable to write Title Scout tag file.\nIf you use title scout, it will not be "
                   "able to use Trovix to automatically update your system."),
              Load(IDS_TAG_WRITE_FAILED));
}

TEST(StringTable, OwnEntriesExist) {
    const Text installing = Load(IDS_INSTALLING);
    EXPECT_NE(Text::npos, installing.find("<DISP NAME>")) << installing.c_str();
    EXPECT_EQ(0u, Load(IDS_PRODUCT_URL).find("http://www.example.com/"))
        << Load(IDS_PRODUCT_URL).c_str();
}

TEST(StringTable, EveryNamedIdLoads) {
    const UINT ids[] = {103, 109, 110, 111, 112, 113, 115, 116, 117, 118, 119, 120, 121,
                        122, 123, 124, 125, 126, 127, 128, 129, 130, 131, 132, 133, 134,
                        135, 136, 137, 139, 140, 141, 142, 145, 146, 147, 148, 149, 150,
                        151, 152, 153, 155, 156, 157, 158, 159, 160, 161, 162, 163, 164,
                        165, 166, 167, 168, 169, 170, 171, 173, 174, 175};
    for (UINT id : ids) EXPECT_FALSE(Load(id).empty()) << "string " << id;
}

TEST(LoadResourceText, LongEntriesAreCutAt255) {
    // The entry is "Long entry " followed by the alphabet and digits repeated.
    Text expected("Long entry ");
    while (expected.size() < 255) expected += "abcdefghijklmnopqrstuvwxyz0123456789";
    expected.resize(255);
    EXPECT_EQ(expected, Load(IDS_TEST_300));
    const Text t256 = Load(IDS_TEST_256);
    const Text t255 = Load(IDS_TEST_255);
    EXPECT_EQ(255u, t256.size());
    EXPECT_EQ(255u, t255.size());
    EXPECT_EQ(t255, t256);  // the 256th character is the one cut
}

TEST(LoadResourceText, MissingIdGivesEmptyText) {
    EXPECT_TRUE(Load(114).empty());
    EXPECT_TRUE(Load(172).empty());
    EXPECT_TRUE(Load(60000).empty());
}

TEST(Resources, DialogsPictureAndIconsArePresent) {
    EXPECT_NE(nullptr, FindResourceA(Self(), MAKEINTRESOURCEA(IDD_WIZARD), MAKEINTRESOURCEA(5)));
    EXPECT_NE(nullptr,
              FindResourceA(Self(), MAKEINTRESOURCEA(IDD_FOLDER_BROWSER), MAKEINTRESOURCEA(5)));

    HBITMAP picture = LoadBitmapA(Self(), MAKEINTRESOURCEA(IDB_WIZARD_PICTURE));
    ASSERT_NE(nullptr, picture);
    BITMAP info = {};
    ASSERT_NE(0, GetObjectA(picture, sizeof info, &info));
    EXPECT_GT(info.bmWidth, 0);
    EXPECT_GT(info.bmHeight, 0);
    DeleteObject(picture);

    EXPECT_NE(nullptr, LoadIconA(Self(), MAKEINTRESOURCEA(IDI_MAIN_LARGE)));
    HANDLE small = LoadImageA(Self(), MAKEINTRESOURCEA(IDI_MAIN_SMALL), IMAGE_ICON, 16, 16, 0);
    EXPECT_NE(nullptr, small);
    if (small) DestroyIcon(static_cast<HICON>(small));
}

INT_PTR CALLBACK NoOpDialog(HWND, UINT, WPARAM, LPARAM) { return 0; }

TEST(Resources, WizardStartsWithTheRightControlsShown) {
    HWND dlg = CreateDialogParamA(Self(), MAKEINTRESOURCEA(IDD_WIZARD), nullptr, NoOpDialog, 0);
    ASSERT_NE(nullptr, dlg);
    struct Expect {
        int id;
        bool shown;
    };
    const Expect controls[] = {
        {IDC_WIZ_NEXT, true},
        {IDC_WIZ_CANCEL, true},
        {IDC_WIZ_PICTURE, true},
        {IDC_WIZ_INSTRUCTIONS, true},
        {IDC_WIZ_DEST_GROUP, true},
        {IDC_WIZ_DEST_FOLDER, true},
        {IDC_WIZ_DEST_BROWSE, true},
        {IDC_WIZ_3RD_GROUP, true},
        {IDC_WIZ_3RD_FOLDER, true},
        {IDC_WIZ_3RD_BROWSE, true},
        {IDC_WIZ_PROGRESS_LABEL, false},
        {IDC_WIZ_PROGRESS_BAR, false},
        {IDC_WIZ_LAUNCH, false},
        {IDC_WIZ_DESKTOP_ICON, false},
        {IDC_WIZ_BACK, true},
    };
    for (const Expect& c : controls) {
        HWND w = GetDlgItem(dlg, c.id);
        ASSERT_NE(nullptr, w) << "control " << c.id;
        const bool visible = (GetWindowLongA(w, GWL_STYLE) & WS_VISIBLE) != 0;
        EXPECT_EQ(c.shown, visible) << "control " << c.id;
    }
    char text[MAX_PATH] = "";
    GetDlgItemTextA(dlg, IDC_WIZ_DEST_FOLDER, text, sizeof text);
    EXPECT_STREQ("C:\\Program Files\\QOR\\Trovix\\", text);
    // The picture control carries bitmap 132.
    EXPECT_NE(0, SendDlgItemMessageA(dlg, IDC_WIZ_PICTURE, STM_GETIMAGE, IMAGE_BITMAP, 0));
    DestroyWindow(dlg);
}

// What the folder browser's hook would see when the platform's classic
// open-file dialog runs on template 134.
struct BrowserProbe {
    bool started = false;
    bool hasPathBox = false;
    LRESULT drives = 0;
    LRESULT folders = 0;
};
BrowserProbe* g_probe = nullptr;

UINT_PTR CALLBACK ProbeHook(HWND dlg, UINT msg, WPARAM, LPARAM) {
    if (msg == WM_INITDIALOG && g_probe) {
        g_probe->started = true;
        g_probe->hasPathBox = GetDlgItem(dlg, IDC_FB_PATH) != nullptr;
        g_probe->drives = SendDlgItemMessageA(dlg, IDC_FB_DRIVES, CB_GETCOUNT, 0, 0);
        g_probe->folders = SendDlgItemMessageA(dlg, IDC_FB_FOLDER_LIST, LB_GETCOUNT, 0, 0);
        PostMessageA(dlg, WM_COMMAND, IDCANCEL, 0);
    }
    return 0;
}

TEST(Resources, FolderBrowserTemplateDrivesTheClassicFileDialog) {
    BrowserProbe probe;
    g_probe = &probe;
    char file[MAX_PATH] = ".";
    OPENFILENAMEA ofn = {};
    // The classic structure, without the extension fields (76 bytes in 32-bit).
    ofn.lStructSize = offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR);
    ofn.hInstance = Self();
    ofn.lpstrFilter = "Directories (*.dir)\0*.dir\0";
    ofn.lpstrFile = file;
    ofn.nMaxFile = sizeof file;
    ofn.lpstrInitialDir = "C:\\";
    ofn.Flags = OFN_HIDEREADONLY | OFN_ENABLEHOOK | OFN_ENABLETEMPLATE | OFN_NOVALIDATE;
    ofn.lpfnHook = ProbeHook;
    ofn.lpTemplateName = MAKEINTRESOURCEA(IDD_FOLDER_BROWSER);
    EXPECT_FALSE(GetOpenFileNameA(&ofn));   // cancelled by the probe
    EXPECT_EQ(0u, CommDlgExtendedError());  // template accepted
    g_probe = nullptr;
    EXPECT_TRUE(probe.started);
    EXPECT_TRUE(probe.hasPathBox);
    EXPECT_GT(probe.drives, 0);
    EXPECT_GT(probe.folders, 0);
}

}  // namespace
