// Entry point of TrovixInstall.exe.
#include "setup/StartUp.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandTail, int showCommand) {
    return RunProgram(instance, commandTail, showCommand);
}
