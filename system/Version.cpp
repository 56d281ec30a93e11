#include "system/Version.h"

#include <windows.h>

#include <cstdio>
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

}  // namespace

Text GetFileVersionText(const Text& path) {
    if (path.empty()) return Text(kNoVersionText);
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    if (size == 0) return Text(kNoVersionText);
    std::vector<char> block(size);
    if (!GetFileVersionInfoA(path.c_str(), handle, size, block.data())) return Text(kNoVersionText);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT infoSize = 0;
    char root[] = "\\";
    if (!VerQueryValueA(block.data(), root, reinterpret_cast<void**>(&info), &infoSize) || !info ||
        infoSize < sizeof(VS_FIXEDFILEINFO))
        return Text(kNoVersionText);
    char text[64];
    snprintf(text, sizeof text, "%d.%d.%d.%d", static_cast<int>(HIWORD(info->dwFileVersionMS)),
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
