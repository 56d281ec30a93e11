#include "uninstall/UninstallDialog.h"

#include "ui/Window.h"
#include "uninstall/UninstallResources.h"

namespace {

using Page = UninstallDialog::Page;
using DialogState = UninstallDialog;

// Repaint at most this often while removing (milliseconds).
constexpr DWORD kProgressInterval = 30;

void Show(HWND window, int id, bool show) {
    ShowWindow(GetDlgItem(window, id), show ? SW_SHOW : SW_HIDE);
}

void SetText(HWND window, int id, const Text& text) { SetDlgItemTextA(window, id, text.c_str()); }

// The rectangle of the hidden placeholder, where the bar is painted.
RECT BarRect(HWND window) {
    RECT r = {};
    HWND bar = GetDlgItem(window, IDC_UN_PROGRESS_BAR);
    GetWindowRect(bar, &r);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

void PaintBar(DialogState& state) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(state.window, &paint);
    if (state.page == Page::Removing) {
        RECT r = BarRect(state.window);
        DrawEdge(dc, &r, EDGE_SUNKEN, BF_RECT | BF_ADJUST);
        LONG width = r.right - r.left;
        LONG filled = state.total ? static_cast<LONG>(static_cast<unsigned long long>(width) *
                                                      state.done / state.total)
                                  : 0;
        RECT left = r, right = r;
        left.right = r.left + filled;
        right.left = left.right;
        FillRect(dc, &left, GetSysColorBrush(COLOR_HIGHLIGHT));
        FillRect(dc, &right, GetSysColorBrush(COLOR_WINDOW));
    }
    EndPaint(state.window, &paint);
}

void ShowChoosePage(DialogState& state) {
    HWND w = state.window;
    const UninstallSession& s = *state.session;
    state.page = Page::Choose;
    SetText(w, IDC_UN_TEXT, LoadUninstallText(s, IDS_UN_CHOOSE));
    HWND list = GetDlgItem(w, IDC_UN_RECEIVERS);
    for (const Text& name : s.choices)
        SendMessageA(list, LB_ADDSTRING, 0,
                     reinterpret_cast<LPARAM>(ReceiverDisplayName(name).c_str()));
    SendMessageA(list, LB_SETCURSEL, 0, 0);
    Show(w, IDC_UN_RECEIVERS, true);
    SetText(w, IDC_UN_YES, LoadUninstallText(s, IDS_UN_NEXT));
    SetText(w, IDC_UN_NO, LoadUninstallText(s, IDS_UN_CANCEL));
}

void ShowConfirmPage(DialogState& state) {
    HWND w = state.window;
    UninstallSession& s = *state.session;
    if (!s.removeAll) s.receiverShown = ReceiverDisplayName(s.receiver);
    state.page = Page::Confirm;
    Show(w, IDC_UN_RECEIVERS, false);
    SetText(w, IDC_UN_TEXT,
            s.removeAll ? LoadUninstallText(s, IDS_UN_CONFIRM_ALL)
                        : LoadUninstallText(s, IDS_UN_CONFIRM_ONE, s.receiverShown));
    SetText(w, IDC_UN_YES, LoadUninstallText(s, IDS_UN_YES));
    SetText(w, IDC_UN_NO, LoadUninstallText(s, IDS_UN_NO));
}

void ShowFinalPage(DialogState& state) {
    HWND w = state.window;
    const UninstallSession& s = *state.session;
    state.page = Page::Final;
    Show(w, IDC_UN_PROGRESS_LABEL, false);
    Text text = s.report.unfinished ? LoadUninstallText(s, IDS_UN_NOT_FINISHED)
                : s.removeAll       ? LoadUninstallText(s, IDS_UN_DONE_ALL)
                                    : LoadUninstallText(s, IDS_UN_DONE_ONE, s.receiverShown);
    Text report = FormatReport(s);
    if (!report.empty()) {
        text.append("\r\n\r\n").append(LoadUninstallText(s, IDS_UN_SOME_LEFT));
        SetText(w, IDC_UN_REPORT, report);
        Show(w, IDC_UN_REPORT, true);
    }
    SetText(w, IDC_UN_TEXT, text);
    Show(w, IDC_UN_YES, false);
    Show(w, IDC_UN_NO, false);
    Show(w, IDC_UN_FINISH, true);
    EnableWindow(GetDlgItem(w, IDC_UN_FINISH), TRUE);
    SendMessageA(w, DM_SETDEFID, IDC_UN_FINISH, 0);
    SetFocus(GetDlgItem(w, IDC_UN_FINISH));
    InvalidateRect(w, nullptr, TRUE);
}

void Remove(DialogState& state) {
    HWND w = state.window;
    state.page = Page::Removing;
    SetText(w, IDC_UN_TEXT, LoadUninstallText(*state.session, IDS_UN_REMOVING));
    EnableWindow(GetDlgItem(w, IDC_UN_YES), FALSE);
    EnableWindow(GetDlgItem(w, IDC_UN_NO), FALSE);
    Show(w, IDC_UN_PROGRESS_LABEL, true);
    BeginWaitCursor();
    DoRemoval(*state.session, state);
    EndWaitCursor();
    ShowFinalPage(state);
}

void OnYes(DialogState& state) {
    if (state.page == Page::Choose) {
        HWND list = GetDlgItem(state.window, IDC_UN_RECEIVERS);
        LRESULT index = SendMessageA(list, LB_GETCURSEL, 0, 0);
        if (index < 0 || static_cast<size_t>(index) >= state.session->choices.size()) return;
        state.session->receiver = state.session->choices[static_cast<size_t>(index)];
        ShowConfirmPage(state);
    } else if (state.page == Page::Confirm) {
        Remove(state);
    }
}

INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DialogState* state = reinterpret_cast<DialogState*>(GetWindowLongPtrA(window, DWLP_USER));
    switch (message) {
        case WM_INITDIALOG: {
            state = reinterpret_cast<DialogState*>(lParam);
            SetWindowLongPtrA(window, DWLP_USER, lParam);
            state->window = window;
            SetWindowTextA(window, LoadUninstallText(*state->session, IDS_UN_TITLE).c_str());
            HICON icon = LoadIconA(state->session->instance, MAKEINTRESOURCEA(IDI_UNINSTALL_LARGE));
            if (icon) SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
            CenterOnScreen(window);
            if (state->session->choices.empty())
                ShowConfirmPage(*state);
            else
                ShowChoosePage(*state);
            return TRUE;
        }
        case WM_PAINT:
            if (!state) return FALSE;
            PaintBar(*state);
            return TRUE;
        case WM_COMMAND:
            if (!state) return FALSE;
            switch (LOWORD(wParam)) {
                case IDC_UN_YES:
                    OnYes(*state);
                    return TRUE;
                case IDC_UN_RECEIVERS:
                    if (HIWORD(wParam) == LBN_DBLCLK) OnYes(*state);
                    return TRUE;
                case IDC_UN_NO:
                case IDCANCEL:
                    // Closing during the work would leave half a product: wait.
                    if (state->page == Page::Choose || state->page == Page::Confirm)
                        EndDialog(window, kExitCancelled);
                    else if (state->page == Page::Final)
                        EndDialog(window, RemovalExitCode(*state->session));
                    return TRUE;
                case IDC_UN_FINISH:
                    if (state->page == Page::Final)
                        EndDialog(window, RemovalExitCode(*state->session));
                    return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace

void UninstallDialog::Refused(const UninstallSession& s, const Text& message) {
    MessageBoxA(nullptr, message.c_str(), LoadUninstallText(s, IDS_UN_TITLE).c_str(),
                MB_OK | MB_ICONERROR);
}

void UninstallDialog::Progress(size_t doneNow, size_t totalNow, const Text& what) {
    done = doneNow;
    total = totalNow;
    if (!window) return;
    DWORD now = GetTickCount();
    if (done != total && now - lastPaint < kProgressInterval) return;
    lastPaint = now;
    SetText(window, IDC_UN_PROGRESS_LABEL, what);
    RECT r = BarRect(window);
    InvalidateRect(window, &r, FALSE);
    UpdateWindow(window);
    PumpMessages();
}

int UninstallDialog::Converse(UninstallSession& s) {
    session = &s;
    page = Page::Confirm;
    INT_PTR r = DialogBoxParamA(s.instance, MAKEINTRESOURCEA(IDD_UNINSTALL), nullptr, DialogProc,
                                reinterpret_cast<LPARAM>(this));
    window = nullptr;
    // No dialog at all (no display): nothing was asked, so nothing goes.
    if (r == -1 || r == 0) return page == Page::Final ? RemovalExitCode(s) : kExitCancelled;
    return static_cast<int>(r);
}
