// Example stand-in for the payload programs that carry install commands
// (QorDL.exe, QorRcv.exe). It is not the real downloader: all it does is
// leave a visible trace of each run, so a demo or a test can see that the
// setup started it, with which arguments and how it was asked to show.
//
// Each run appends one line to "<own path without .exe>.ran.txt" next to the
// program: the arguments as received, then "(show command N)" with the show
// command the starter passed (0 is SW_HIDE). With the argument -linger it
// stays alive for 30 seconds after writing, so a test can see that the
// setup does not wait for it.
//
// When the environment variable QOR_RECORDS names a folder, the record goes
// to "<that folder>\<own name without .exe>.ran.txt" instead, so that a demo
// or test can uninstall the product and find its own folder gone while the
// records of the install and uninstall commands stay.
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

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR args, int) {
    char exe[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, exe, sizeof exe);
    if (n == 0 || n >= sizeof exe) return 1;

    char record[2 * MAX_PATH + 16];
    std::strcpy(record, exe);
    char folder[MAX_PATH];
    DWORD f = GetEnvironmentVariableA("QOR_RECORDS", folder, sizeof folder);
    if (f > 0 && f < sizeof folder) {
        const char* slash = std::strrchr(exe, '\\');
        std::snprintf(record, sizeof record, "%s\\%s", folder, slash ? slash + 1 : exe);
    }
    n = static_cast<DWORD>(std::strlen(record));
    if (EndsWithNoCase(record, ".exe")) record[n - 4] = '\0';
    std::strcat(record, ".ran.txt");  // fits: at most 2 * MAX_PATH + 8 + NUL

    STARTUPINFOA si;
    GetStartupInfoA(&si);
    const int show = (si.dwFlags & STARTF_USESHOWWINDOW) ? si.wShowWindow : SW_SHOWDEFAULT;
    char line[1024];
    std::snprintf(line, sizeof line, "%s (show command %d)", args ? args : "", show);
    if (!AppendLine(record, line)) return 1;

    if (args && std::strstr(args, "-linger")) Sleep(30000);
    return 0;
}
