// Example stand-in for the product's uninstaller, TrovixUninstall.exe. The
// real uninstaller is a separate program that reads TrovixInstall.inf and
// removes what the setup recorded; this one only says where that record is,
// so that the demo's "UninstallString" points at a program that runs.
#include <windows.h>

#include <cstring>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    char text[MAX_PATH + 160];
    char exe[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, exe, sizeof exe);
    if (n == 0 || n >= sizeof exe) return 1;
    char* slash = std::strrchr(exe, '\\');
    if (slash) *slash = '\0';
    std::strcpy(text, "This is an example stand-in for the uninstaller.\n\nThe setup's record of ");
    std::strcat(text, "what it installed is\n");
    std::strcat(text, exe);  // fits: the fixed text is well under 160 bytes
    std::strcat(text, "\\TrovixInstall.inf");
    MessageBoxA(nullptr, text, "TrovixUninstall (example)", MB_OK | MB_ICONINFORMATION);
    return 0;
}
