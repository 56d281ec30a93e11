// Window.h: placing a dialog over its owner or the screen, the process-wide
// wait cursor, and the message pump that keeps the one UI thread alive during
// long work. None of these report failure.
#pragma once

#include <windows.h>

// Centres window over its parent (for a popup, its owner), size unchanged, no
// repaint. Centres on the screen instead when there is no parent, it is not a
// window or not visible, or its rectangle's right or bottom is 0. Positions
// may be negative when window is larger than its parent.
void CenterOverParent(HWND window);

// Centres window on the primary screen, size unchanged, no repaint; the
// position is negative when the window is larger than the screen.
void CenterOnScreen(HWND window);

// Nested wait cursor: the outermost Begin shows the system wait cursor and
// remembers the cursor it replaced; the matching outermost End brings that
// cursor back. Inner pairs only count. An End without Begin drives the count
// below 0 and leaves the cursor alone.
void BeginWaitCursor();
void EndWaitCursor();
// Current nesting depth (0 when no wait cursor is showing).
int WaitCursorDepth();

// Dispatches every queued message of the thread's windows, without waiting,
// until the queue is empty. A WM_QUIT taken here is dispatched and so
// consumed.
void PumpMessages();
