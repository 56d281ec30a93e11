// FolderBrowser under Wine: the dialog runs on the test's main thread while a
// helper thread plays the user (types into the path box, presses buttons,
// answers the message box), as a person at the keyboard would.
#include "ui/FolderBrowser.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>

namespace {

constexpr char kTitle[] = "Pick A Folder For The Test";
constexpr char kMessage[] = "Invalid path.\nMake sure it looks something like:\n<SAMPLE>";
constexpr char kCaption[] = "Invalid Path";

HWND WaitForDialog(const char* caption, DWORD ms = 15000) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        HWND w = FindWindowA("#32770", caption);
        if (w && IsWindowVisible(w)) return w;
        Sleep(20);
    }
    return nullptr;
}

bool WaitGone(HWND w, DWORD ms = 15000) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        if (!IsWindow(w) || !IsWindowVisible(w)) return true;
        Sleep(20);
    }
    return false;
}

std::string ItemText(HWND dialog, int id) {
    char buf[512] = {};
    SendDlgItemMessageA(dialog, id, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf));
    return buf;
}

void Press(HWND dialog, int id) { PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }

using UserAction = std::function<void(HWND)>;

DWORD WINAPI PlayUser(LPVOID action) {
    HWND dialog = WaitForDialog(kTitle);
    if (dialog) (*static_cast<UserAction*>(action))(dialog);
    return 0;
}

// Runs a browser starting in `start` while `user` acts on its dialog from
// another thread; returns Run's answer and leaves the browser's path in path.
int RunWith(const char* start, const UserAction& user, std::string& path,
            bool* activeDuringRun = nullptr) {
    FolderBrowser browser(nullptr, GetModuleHandleA(nullptr));
    browser.SetTitle(kTitle);
    browser.SetMessages(kMessage, kCaption);
    browser.SetPath(start);
    if (activeDuringRun) *activeDuringRun = FolderBrowser::Active() == &browser;
    // The toolchain's runtime has no std::thread; a plain Win32 thread will do.
    HANDLE helper = CreateThread(nullptr, 0, &PlayUser, const_cast<UserAction*>(&user), 0, nullptr);
    int result = browser.Run();
    WaitForSingleObject(helper, INFINITE);
    CloseHandle(helper);
    path = browser.GetPath().str();
    return result;
}

// Answers the invalid-path box and reports its text ("" when none came).
std::string AnswerInvalidPath() {
    HWND box = WaitForDialog(kCaption);
    if (!box) return std::string();
    std::string text = ItemText(box, 0xFFFF);
    Press(box, IDOK);
    WaitGone(box);
    return text;
}

}  // namespace

TEST(FolderBrowserPathCheck, AcceptsRootedAndDriveForms) {
    EXPECT_TRUE(FolderBrowser::IsValidPath("\\"));
    EXPECT_TRUE(FolderBrowser::IsValidPath("\\\\server\\share"));
    EXPECT_TRUE(FolderBrowser::IsValidPath("C:"));
    EXPECT_TRUE(FolderBrowser::IsValidPath("C:\\Program Files\\"));
    EXPECT_TRUE(FolderBrowser::IsValidPath("1:"));  // any character before the colon
    EXPECT_FALSE(FolderBrowser::IsValidPath(""));
    EXPECT_FALSE(FolderBrowser::IsValidPath("C"));
    EXPECT_FALSE(FolderBrowser::IsValidPath("abc\\def"));
    EXPECT_FALSE(FolderBrowser::IsValidPath("ab:"));
}

TEST(FolderBrowserDialog, TypedPathIsAcceptedWithItsTrailingBackslash) {
    std::string path;
    bool active = false;
    bool hiddenAtStart = true;
    int r = RunWith(
        "C:\\windows",
        [&](HWND d) {
            for (int id : {1090, 1152, 1088, 1120, 1089, 1136})
                hiddenAtStart = hiddenAtStart && !IsWindowVisible(GetDlgItem(d, id));
            SetDlgItemTextA(d, kFolderBrowserPathBox, "D:\\Games\\New\\");
            Press(d, IDOK);
        },
        path, &active);
    EXPECT_EQ(r, 1);
    EXPECT_EQ(path, "D:\\Games\\New\\");
    EXPECT_TRUE(active);
    EXPECT_EQ(FolderBrowser::Active(), nullptr);
    EXPECT_TRUE(hiddenAtStart);
}

TEST(FolderBrowserDialog, RejectedPathsShowTheSampleAndKeepTheDialogOpen) {
    std::string path, emptyText, relativeText, letterText;
    bool openAfterwards = false;
    int r = RunWith(
        "C:\\windows",
        [&](HWND d) {
            SetDlgItemTextA(d, kFolderBrowserPathBox, "");
            Press(d, IDOK);
            emptyText = AnswerInvalidPath();
            SetDlgItemTextA(d, kFolderBrowserPathBox, "abc\\def");
            Press(d, IDOK);
            relativeText = AnswerInvalidPath();
            SetDlgItemTextA(d, kFolderBrowserPathBox, "C");
            Press(d, IDOK);
            letterText = AnswerInvalidPath();
            openAfterwards = IsWindowVisible(d) != FALSE;
            Press(d, IDCANCEL);
        },
        path);
    const std::string expected = "Invalid path.\nMake sure it looks something like:\nC:\\windows";
    EXPECT_EQ(emptyText, expected);
    EXPECT_EQ(relativeText, expected);
    EXPECT_EQ(letterText, expected);
    EXPECT_TRUE(openAfterwards);
    EXPECT_EQ(r, 2);
    EXPECT_EQ(path, "C:\\windows");  // Cancel leaves the start folder
}

TEST(FolderBrowserDialog, CancelAnswersTwoAndAsksNothing) {
    std::string path;
    bool asked = true;
    int r = RunWith(
        "C:\\windows",
        [&](HWND d) {
            SetDlgItemTextA(d, kFolderBrowserPathBox, "C:\\elsewhere");
            Press(d, IDCANCEL);
            asked = WaitForDialog(kCaption, 500) != nullptr;
        },
        path);
    EXPECT_EQ(r, 2);
    EXPECT_EQ(path, "C:\\windows");
    EXPECT_FALSE(asked);
}

TEST(FolderBrowserDialog, DoubleClickInFolderListCopiesTheCurrentFolder) {
    std::string path, box, shown;
    int r = RunWith(
        "C:\\windows",
        [&](HWND d) {
            HWND list = GetDlgItem(d, 1121);
            // Open the first entry below the start folder.
            SendMessageA(list, LB_SETCURSEL, 0, 0);
            PostMessageA(d, WM_COMMAND, MAKEWPARAM(1121, LBN_DBLCLK),
                         reinterpret_cast<LPARAM>(list));
            DWORD start = GetTickCount();
            while (GetTickCount() - start < 5000 && ItemText(d, kFolderBrowserPathBox).empty())
                Sleep(20);
            box = ItemText(d, kFolderBrowserPathBox);
            shown = ItemText(d, 1088);
            Press(d, IDCANCEL);
        },
        path);
    EXPECT_EQ(r, 2);
    EXPECT_FALSE(box.empty());
    EXPECT_EQ(box, shown);
}
