#include "ui/Window.h"

namespace {

// Wait-cursor state of the process: plain values, set up without any static
// constructor.
int g_waitDepth = 0;
HCURSOR g_cursorBeforeWait = nullptr;

constexpr int kWaitCursorId = 32514;  // IDC_WAIT

void MoveKeepingSize(HWND window, const RECT& rect, int x, int y) {
    MoveWindow(window, x, y, rect.right - rect.left, rect.bottom - rect.top, FALSE);
}

}  // namespace

void CenterOverParent(HWND window) {
    HWND parent = GetParent(window);
    if (!parent || !IsWindow(parent) || !IsWindowVisible(parent)) {
        CenterOnScreen(window);
        return;
    }
    RECT rect, parentRect;
    GetWindowRect(window, &rect);
    GetWindowRect(parent, &parentRect);
    if (parentRect.right == 0 || parentRect.bottom == 0) {
        CenterOnScreen(window);
        return;
    }
    int width = rect.right - rect.left, height = rect.bottom - rect.top;
    int parentWidth = parentRect.right - parentRect.left;
    int parentHeight = parentRect.bottom - parentRect.top;
    MoveKeepingSize(window, rect, parentRect.left + (parentWidth - width) / 2,
                    parentRect.top + (parentHeight - height) / 2);
}

void CenterOnScreen(HWND window) {
    RECT rect;
    GetWindowRect(window, &rect);
    int width = rect.right - rect.left, height = rect.bottom - rect.top;
    MoveKeepingSize(window, rect, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                    (GetSystemMetrics(SM_CYSCREEN) - height) / 2);
}

void BeginWaitCursor() {
    if (g_waitDepth == 0)
        g_cursorBeforeWait = SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(kWaitCursorId)));
    ++g_waitDepth;
}

void EndWaitCursor() {
    --g_waitDepth;
    if (g_waitDepth == 0) SetCursor(g_cursorBeforeWait);
}

int WaitCursorDepth() { return g_waitDepth; }

void PumpMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}
