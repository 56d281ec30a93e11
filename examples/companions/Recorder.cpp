// Example stand-in for the payload programs that carry install commands
// (QorDL.exe, QorRcv.exe). It is not the real downloader: all it does is
// leave a visible trace of each run, so a demo or a test can see that the
// setup started it and with which arguments.
//
// Each run appends one line, the arguments as received, to the file
// "<own path without .exe>.ran.txt" next to the program. With -register the
// stand-in for QorDL.exe also creates the product's downloader key, which
// the setup records in the uninstall log without creating it.
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

// Appends `line` and CR LF to `path`; false when the file cannot be written.
bool AppendLine(const char* path, const char* line) {
    FILE* f = std::fopen(path, "ab");
    if (!f) return false;
    bool ok = std::fputs(line, f) >= 0 && std::fputs("\r\n", f) >= 0;
    return std::fclose(f) == 0 && ok;
}

bool EndsWithNoCase(const char* s, const char* tail) {
    size_t n = std::strlen(s), m = std::strlen(tail);
    return n >= m && lstrcmpiA(s + n - m, tail) == 0;
}

// What a real downloader would do on -register: make its key and say where
// it lives.
void RegisterDownloader(const char* exePath) {
    HKEY key = nullptr;
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE, "Software\\QOR\\Trovix\\Downloader", &key) !=
        ERROR_SUCCESS)
        return;
    RegSetValueExA(key, "Path", 0, REG_SZ, reinterpret_cast<const BYTE*>(exePath),
                   static_cast<DWORD>(std::strlen(exePath) + 1));
    RegCloseKey(key);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR args, int) {
    char exe[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, exe, sizeof exe);
    if (n == 0 || n >= sizeof exe) return 1;

    char record[MAX_PATH + 16];
    std::strcpy(record, exe);
    if (EndsWithNoCase(record, ".exe")) record[n - 4] = '\0';
    std::strcat(record, ".ran.txt");  // fits: at most MAX_PATH - 1 + 8 + NUL
    if (!AppendLine(record, args ? args : "")) return 1;

    if (args && std::strstr(args, "-register") && EndsWithNoCase(exe, "\\QorDL.exe"))
        RegisterDownloader(exe);
    return 0;
}
