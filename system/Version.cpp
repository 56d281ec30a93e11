#include "system/Version.h"

#include <windows.h>

#include "system/SystemLibrary.h"
#include "text/Format.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// The four numbers of a version text; absent ones are 0.
void ParseVersion(const Text& text, long (&numbers)[4]) {
    const char* p = text.c_str();
    for (int i = 0; i < 4; ++i) numbers[i] = 0;
    numbers[0] = strtol(p, nullptr, 10);
    for (int i = 1; i < 4; ++i) {
        p = strchr(p, '.');
        if (!p) return;
        ++p;
        numbers[i] = strtol(p, nullptr, 10);
    }
}

// VERSION.dll is not a known DLL: it is loaded from the system folder on
// first use, never found by a search that starts in the program's folder.
// Plain zero-initialised pointers: nothing here needs static construction.
typedef DWORD(WINAPI* InfoSizeFn)(LPCSTR, LPDWORD);
typedef BOOL(WINAPI* InfoFn)(LPCSTR, DWORD, DWORD, LPVOID);
typedef BOOL(WINAPI* QueryFn)(LPCVOID, LPCSTR, LPVOID*, PUINT);
struct VersionFunctions {
    InfoSizeFn infoSize;
    InfoFn info;
    QueryFn query;
};
VersionFunctions g_version;
bool g_versionLoaded = false;

template <typename Fn>
Fn Resolve(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// Null members when the library or a function is missing: "no version".
const VersionFunctions& Version() {
    if (!g_versionLoaded) {
        g_versionLoaded = true;
        if (HMODULE module = LoadSystemLibrary("version.dll")) {
            g_version.infoSize = Resolve<InfoSizeFn>(module, "GetFileVersionInfoSizeA");
            g_version.info = Resolve<InfoFn>(module, "GetFileVersionInfoA");
            g_version.query = Resolve<QueryFn>(module, "VerQueryValueA");
        }
    }
    return g_version;
}

}  // namespace

Text GetFileVersionText(const Text& path) {
    if (path.empty()) return Text(kNoVersionText);
    const VersionFunctions& api = Version();
    if (!api.infoSize || !api.info || !api.query) return Text(kNoVersionText);
    DWORD handle = 0;
    DWORD size = api.infoSize(path.c_str(), &handle);
    if (size == 0) return Text(kNoVersionText);
    std::vector<char> block(size);
    if (!api.info(path.c_str(), handle, size, block.data())) return Text(kNoVersionText);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT infoSize = 0;
    char root[] = "\\";
    if (!api.query(block.data(), root, reinterpret_cast<void**>(&info), &infoSize) || !info ||
        infoSize < sizeof(VS_FIXEDFILEINFO))
        return Text(kNoVersionText);
    char text[64];
    FormatText(text, sizeof text, "%d.%d.%d.%d", static_cast<int>(HIWORD(info->dwFileVersionMS)),
               static_cast<int>(LOWORD(info->dwFileVersionMS)),
               static_cast<int>(HIWORD(info->dwFileVersionLS)),
               static_cast<int>(LOWORD(info->dwFileVersionLS)));
    return Text(text);
}

Text GetOwnVersionText() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    // n == MAX_PATH means the name was cut: better no version than another file's.
    if (n == 0 || n >= MAX_PATH) return Text(kNoVersionText);
    return GetFileVersionText(Text(path));
}

bool IsKnownVersion(const Text& version) {
    return !version.empty() && !version.Equals(kNoVersionText);
}

int CompareVersionText(const Text& a, const Text& b) {
    long na[4], nb[4];
    ParseVersion(a, na);
    ParseVersion(b, nb);
    for (int i = 0; i < 4; ++i) {
        if (na[i] < nb[i]) return -(i + 1);
        if (na[i] > nb[i]) return i + 1;
    }
    return 0;
}
