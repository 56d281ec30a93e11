// UninstallDialog.h: the uninstaller's one dialog (resource IDD_UNINSTALL),
// the observer of an interactive session. Its pages: choose the receiver
// (only when several could be meant), confirm ("&Yes" / "&No"), progress
// while removing, and the final page, which lists whatever was left in place
// and why. Refusals before the dialog are message boxes.
#pragma once

#include <windows.h>

#include "uninstall/UninstallRun.h"

class UninstallDialog : public UninstallObserver {
public:
    void Refused(const UninstallSession& session, const Text& message) override;
    // Runs the dialog; answers kExitDone after the final page's Finish,
    // kExitCancelled when the user said No or closed it before the work.
    int Converse(UninstallSession& session) override;
    void Progress(size_t done, size_t total, const Text& what) override;

    enum class Page { Choose, Confirm, Removing, Final };
    // The dialog's state; the window finds it through DWLP_USER.
    UninstallSession* session = nullptr;
    HWND window = nullptr;
    Page page = Page::Confirm;
    size_t done = 0, total = 0;
    DWORD lastPaint = 0;
};
