// UninstallDialog.h: the uninstaller's one dialog (resource IDD_UNINSTALL).
// Its pages: choose the receiver (only when several could be meant), confirm
// ("&Yes" / "&No"), progress while removing, and the final page, which lists
// whatever was left in place and why.
#pragma once

#include "uninstall/UninstallRun.h"

// Runs the dialog for session; answers kExitDone after the final page's
// Finish, kExitCancelled when the user said No or closed it before the work.
int ShowUninstallDialog(UninstallSession& session);
