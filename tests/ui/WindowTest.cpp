// Centring, the nested wait cursor and the message pump, with real windows
// on the test display.
#include <gtest/gtest.h>
#include <windows.h>

#include "ui/Window.h"

namespace {

int g_received = 0;

LRESULT CALLBACK CountingProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_APP + 1) {
        ++g_received;
        // Re-posting from inside is picked up by the same pump run.
        if (wp > 0) PostMessageA(w, WM_APP + 1, wp - 1, 0);
        return 0;
    }
    return DefWindowProcA(w, msg, wp, lp);
}

const char* RegisterTestClass() {
    static bool done = false;
    if (!done) {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = CountingProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "QorWindowTest";
        RegisterClassA(&wc);
        done = true;
    }
    return "QorWindowTest";
}

HWND MakeWindow(HWND owner, int x, int y, int w, int h, bool visible) {
    DWORD style = WS_POPUP | (visible ? WS_VISIBLE : 0);
    return CreateWindowExA(0, RegisterTestClass(), "t", style, x, y, w, h, owner, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}

RECT RectOf(HWND w) {
    RECT r;
    GetWindowRect(w, &r);
    return r;
}

class WindowTest : public ::testing::Test {
protected:
    void TearDown() override {
        if (child_) DestroyWindow(child_);
        if (owner_) DestroyWindow(owner_);
        PumpMessages();
    }
    HWND owner_ = nullptr;
    HWND child_ = nullptr;
};

TEST_F(WindowTest, CentresOverVisibleOwner) {
    owner_ = MakeWindow(nullptr, 100, 50, 400, 300, true);
    child_ = MakeWindow(owner_, 0, 0, 201, 101, false);
    ASSERT_TRUE(owner_ && child_);
    CenterOverParent(child_);
    RECT r = RectOf(child_);
    EXPECT_EQ(r.left, 100 + (400 - 201) / 2);
    EXPECT_EQ(r.top, 50 + (300 - 101) / 2);
    EXPECT_EQ(r.right - r.left, 201);
    EXPECT_EQ(r.bottom - r.top, 101);
}

TEST_F(WindowTest, LargerWindowLandsLeftOfAndAboveOwner) {
    owner_ = MakeWindow(nullptr, 300, 200, 100, 100, true);
    child_ = MakeWindow(owner_, 0, 0, 301, 201, false);
    CenterOverParent(child_);
    RECT r = RectOf(child_);
    EXPECT_EQ(r.left, 300 + (100 - 301) / 2);  // truncates toward zero: -100
    EXPECT_EQ(r.top, 200 + (100 - 201) / 2);   // -50
}

TEST_F(WindowTest, HiddenOwnerMeansScreenCentre) {
    owner_ = MakeWindow(nullptr, 10, 10, 400, 300, false);
    child_ = MakeWindow(owner_, 0, 0, 200, 100, false);
    CenterOverParent(child_);
    RECT r = RectOf(child_);
    EXPECT_EQ(r.left, (GetSystemMetrics(SM_CXSCREEN) - 200) / 2);
    EXPECT_EQ(r.top, (GetSystemMetrics(SM_CYSCREEN) - 100) / 2);
}

TEST_F(WindowTest, OwnerEndingAtZeroMeansScreenCentre) {
    // Visible, but its right edge is at 0 (entirely off the left of the screen).
    owner_ = MakeWindow(nullptr, -400, 100, 400, 300, true);
    ASSERT_EQ(RectOf(owner_).right, 0);
    child_ = MakeWindow(owner_, 0, 0, 200, 100, false);
    CenterOverParent(child_);
    RECT r = RectOf(child_);
    EXPECT_EQ(r.left, (GetSystemMetrics(SM_CXSCREEN) - 200) / 2);
    EXPECT_EQ(r.top, (GetSystemMetrics(SM_CYSCREEN) - 100) / 2);
}

TEST_F(WindowTest, NoOwnerMeansScreenCentreAndOversizeGoesNegative) {
    child_ = MakeWindow(nullptr, 5, 5, 200, 100, false);
    CenterOverParent(child_);
    RECT r = RectOf(child_);
    EXPECT_EQ(r.left, (GetSystemMetrics(SM_CXSCREEN) - 200) / 2);
    int bigW = GetSystemMetrics(SM_CXSCREEN) + 101;
    int bigH = GetSystemMetrics(SM_CYSCREEN) + 51;
    MoveWindow(child_, 0, 0, bigW, bigH, FALSE);
    CenterOnScreen(child_);
    r = RectOf(child_);
    EXPECT_EQ(r.left, -101 / 2);
    EXPECT_EQ(r.top, -51 / 2);
    EXPECT_EQ(r.right - r.left, bigW);
}

TEST(WaitCursor, NestedPairsShowItOnceAndRestoreAtTheOuterEnd) {
    HCURSOR arrow = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));
    HCURSOR wait = LoadCursorA(nullptr, MAKEINTRESOURCEA(32514));
    SetCursor(arrow);
    ASSERT_EQ(WaitCursorDepth(), 0);
    BeginWaitCursor();
    EXPECT_EQ(GetCursor(), wait);
    SetCursor(nullptr);  // an inner Begin must not touch the cursor
    BeginWaitCursor();
    EXPECT_EQ(GetCursor(), nullptr);
    EXPECT_EQ(WaitCursorDepth(), 2);
    SetCursor(wait);
    EndWaitCursor();
    EXPECT_EQ(GetCursor(), wait);
    EndWaitCursor();
    EXPECT_EQ(GetCursor(), arrow);
    EXPECT_EQ(WaitCursorDepth(), 0);
}

TEST(WaitCursor, UnmatchedEndGoesNegativeAndNextBeginOnlyCounts) {
    HCURSOR arrow = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));
    SetCursor(arrow);
    EndWaitCursor();
    EXPECT_EQ(WaitCursorDepth(), -1);
    EXPECT_EQ(GetCursor(), arrow);
    BeginWaitCursor();
    EXPECT_EQ(WaitCursorDepth(), 0);
    EXPECT_EQ(GetCursor(), arrow);
}

TEST(Pump, DispatchesEverythingQueuedAndReturnsOnEmptyQueue) {
    HWND w = MakeWindow(nullptr, 0, 0, 10, 10, false);
    ASSERT_TRUE(w);
    PumpMessages();  // whatever creation queued
    g_received = 0;
    DWORD start = GetTickCount();
    PumpMessages();
    EXPECT_LT(GetTickCount() - start, 1000u);  // nothing queued: no wait
    EXPECT_EQ(g_received, 0);
    PostMessageA(w, WM_APP + 1, 0, 0);
    PostMessageA(w, WM_APP + 1, 3, 0);  // chains three more
    PumpMessages();
    EXPECT_EQ(g_received, 5);
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    DestroyWindow(w);
    PumpMessages();
}

TEST(Pump, QuitRequestIsConsumed) {
    PumpMessages();
    PostQuitMessage(7);
    PumpMessages();
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

}  // namespace
