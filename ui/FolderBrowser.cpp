#include "ui/FolderBrowser.h"

#include <commdlg.h>
#include <dlgs.h>

#include <cstddef>

#include "text/TextUtil.h"
#include "ui/Window.h"

namespace {

// The hook has no user data of its own in the classic dialog, so it finds
// its object here. Plain pointer: no static construction needed.
FolderBrowser* g_activeBrowser = nullptr;

// The classic request without the extension fields that newer systems add.
// Its size ends after lpTemplateName: 76 bytes in a 32-bit build, more where
// pointers are wider (a fixed 76 makes the x86-64 dialog refuse the request).
constexpr DWORD kClassicOpenFileNameSize = offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR);
static_assert(sizeof(void*) != 4 || kClassicOpenFileNameSize == 76, "classic request size");
constexpr size_t kPathBufferSize = 260;

// The file-related controls of the classic dialog that a folder browser
// has no use for, in the order they are hidden.
constexpr int kHiddenControls[] = {stc3, edt1, stc1, lst1, stc2, cmb1};

}  // namespace

FolderBrowser::FolderBrowser(HWND owner, HINSTANCE instance) : instance_(instance), owner_(owner) {
    g_activeBrowser = this;
}

FolderBrowser::~FolderBrowser() {
    if (g_activeBrowser == this) g_activeBrowser = nullptr;
}

FolderBrowser* FolderBrowser::Active() { return g_activeBrowser; }

bool FolderBrowser::IsValidPath(const Text& path) {
    if (path.size() >= 1 && path[0] == '\\') return true;
    return path.size() >= 2 && path[1] == ':';
}

int FolderBrowser::Run() {
    // "." keeps the classic dialog from listing or selecting any real file.
    char file[kPathBufferSize] = {'.'};
    static const char kFilter[] = "Directories (*.dir)\0*.dir\0";

    OPENFILENAMEA request = {};
    request.lStructSize = kClassicOpenFileNameSize;
    request.hwndOwner = owner_;
    request.hInstance = instance_;
    request.lpstrFilter = kFilter;
    request.lpstrFile = file;
    request.nMaxFile = kPathBufferSize;
    request.lpstrInitialDir = path_.empty() ? nullptr : path_.c_str();
    request.lpstrTitle = title_.empty() ? nullptr : title_.c_str();
    request.Flags = OFN_HIDEREADONLY | OFN_ENABLEHOOK | OFN_ENABLETEMPLATE | OFN_NOVALIDATE;
    request.lpfnHook = &FolderBrowser::HookProc;
    request.lpTemplateName = MAKEINTRESOURCEA(kFolderBrowserTemplate);

    accepted_ = false;
    // The dialog is closed by the hook (IDABORT) on success, so the call's
    // own answer says nothing useful; only the hook's verdict counts.
    GetOpenFileNameA(&request);
    return accepted_ ? 1 : 2;
}

UINT_PTR FolderBrowser::OnCommand(HWND dialog, WPARAM wParam) {
    if (LOWORD(wParam) == lst2 && HIWORD(wParam) == LBN_DBLCLK) {
        // Posted: the dialog changes folder while handling this very click,
        // and the path box must show the folder it changed to.
        PostMessageA(dialog, WM_APP_SYNC_PATH, 0, 0);
        return 0;
    }
    if (wParam != IDOK) return 0;

    char typed[kPathBufferSize] = {};
    GetDlgItemTextA(dialog, kFolderBrowserPathBox, typed, sizeof typed);
    Text candidate(typed);
    if (IsValidPath(candidate)) {
        accepted_ = true;
        path_ = candidate;
        PostMessageA(dialog, WM_COMMAND, IDABORT, 0);
        return 1;
    }
    Text message = invalidPathMessage_;
    ReplaceOccurrences(message, "<SAMPLE>", path_, false);
    MessageBoxA(dialog, message.c_str(), messageCaption_.c_str(), MB_OK | MB_ICONERROR);
    return 1;
}

UINT_PTR CALLBACK FolderBrowser::HookProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    FolderBrowser* self = g_activeBrowser;
    switch (message) {
        case WM_INITDIALOG:
            for (int id : kHiddenControls) ShowWindow(GetDlgItem(dialog, id), SW_HIDE);
            CenterOverParent(dialog);
            return 0;
        case WM_COMMAND:
            return self ? self->OnCommand(dialog, wParam) : 0;
        case WM_APP_SYNC_PATH: {
            char shown[kPathBufferSize] = {};
            GetDlgItemTextA(dialog, stc1, shown, sizeof shown);
            SetDlgItemTextA(dialog, kFolderBrowserPathBox, shown);
            return 0;
        }
        default:
            return 0;
    }
}
