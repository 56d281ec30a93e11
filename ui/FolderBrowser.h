// FolderBrowser: pick or type a folder in the classic open-file dialog,
// dressed with dialog template 134 (folder list, drive list and a path box;
// the file controls are hidden) and driven by a hook procedure.
//
// Typical use, all inside one handler:
//     FolderBrowser browser(dialog, instance);
//     browser.SetTitle(title);
//     browser.SetMessages(invalidPathMessage, caption);
//     browser.SetPath(startFolder);
//     if (browser.Run() == 1) use(browser.GetPath());
//
// Only one browser can be active at a time: the hook reaches its object
// through a process-wide pointer set by the constructor and cleared by the
// destructor.
#pragma once

#include <windows.h>
#include <commdlg.h>

#include <cstddef>

#include "text/Text.h"

// Posted to the browse dialog after a double click in its folder list, so
// that the path box is refreshed once the dialog has changed folder.
constexpr UINT WM_APP_SYNC_PATH = WM_USER + 10;

// Id of the browser's own path box in template 134.
constexpr int kFolderBrowserPathBox = 1013;
// Id of the dialog template in the module's resources.
constexpr int kFolderBrowserTemplate = 134;
// Size of the classic open-file request, without the extension fields that
// newer systems add; the classic dialog (and its templates) needs it. It ends
// after lpTemplateName: 76 bytes in a 32-bit build, more where pointers are
// wider (a fixed 76 makes the x86-64 dialog refuse the request).
constexpr DWORD kClassicOpenFileNameSize = offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR);
static_assert(sizeof(void*) != 4 || kClassicOpenFileNameSize == 76, "classic request size");

class FolderBrowser {
public:
    // All texts empty, nothing accepted; becomes the active browser.
    FolderBrowser(HWND owner, HINSTANCE instance);
    // Stops being the active browser (if it still is).
    ~FolderBrowser();
    FolderBrowser(const FolderBrowser&) = delete;
    FolderBrowser& operator=(const FolderBrowser&) = delete;

    // Dialog caption; empty keeps the platform's default caption.
    void SetTitle(const Text& title) { title_ = title; }
    // Message shown for a rejected path (its first "<SAMPLE>" becomes the
    // start folder) and the caption of that message box.
    void SetMessages(const Text& invalidPathMessage, const Text& caption) {
        invalidPathMessage_ = invalidPathMessage;
        messageCaption_ = caption;
    }
    // Folder the dialog starts in.
    void SetPath(const Text& path) { path_ = path; }
    // After Run: the accepted path as typed (a trailing backslash is kept),
    // or still the start folder when nothing was accepted.
    const Text& GetPath() const { return path_; }
    bool IsAccepted() const { return accepted_; }

    // Shows the dialog modally. Returns 1 when a path was accepted, 2 when
    // the dialog was cancelled or closed, or could not be shown at all.
    int Run();

    // The only check made on a typed path: at least one character and a
    // leading backslash, or at least two characters with a colon second.
    static bool IsValidPath(const Text& path);

    // The browser the hook procedure serves; null when none is alive.
    static FolderBrowser* Active();

private:
    static UINT_PTR CALLBACK HookProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    UINT_PTR OnCommand(HWND dialog, WPARAM wParam);

    HINSTANCE instance_;
    HWND owner_;
    Text path_;
    bool accepted_ = false;
    Text title_;
    Text invalidPathMessage_;
    Text messageCaption_;
};
