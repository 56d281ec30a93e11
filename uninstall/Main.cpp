// Entry point of TrovixUninstall.exe.
#include <windows.h>

#include "system/SystemLibrary.h"
#include "uninstall/UninstallRun.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandTail, int) {
    // First of all: the copy runs from the temp folder, where anybody may
    // have put a library of any name.
    RestrictDllSearchToSystem();
    return RunUninstaller(instance, commandTail);
}
