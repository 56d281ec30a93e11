// Entry point of TrovixInstall.exe.
#include "setup/StartUp.h"
#include "system/SystemLibrary.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandTail, int showCommand) {
    // Before anything loads a library by name: not from the setup's folder.
    RestrictDllSearchToSystem();
    return RunProgram(instance, commandTail, showCommand);
}
