// Entry point of TrovixUninstall.exe.
#include <windows.h>

#include "uninstall/SelfCopy.h"
#include "uninstall/UninstallRun.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandTail, int) {
    // First of all: the temp copy must not pick up DLLs from its folder.
    HardenDllSearch();
    return RunUninstaller(instance, commandTail);
}
