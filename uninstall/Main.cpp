// Entry point of TrovixUninstall.exe.
#include <windows.h>

#include "system/SystemLibrary.h"
#include "uninstall/UninstallDialog.h"
#include "uninstall/UninstallRun.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandTail, int) {
    // First of all: the temp copy must not pick up DLLs from its folder.
    RestrictDllSearchToSystem();
    UninstallDialog dialog;
    return RunUninstaller(instance, commandTail, dialog);
}
