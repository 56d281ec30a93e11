#include "system/SystemLibrary.h"

#include <cstring>

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

void RestrictDllSearchToSystem() {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (!kernel) return;
    typedef BOOL(WINAPI * SetDefaultDirsFn)(DWORD);
    typedef BOOL(WINAPI * SetDllDirectoryFn)(LPCSTR);
    auto setDefault = reinterpret_cast<SetDefaultDirsFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
    auto setDirectory = reinterpret_cast<SetDllDirectoryFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDllDirectoryA")));
    if (setDirectory) setDirectory("");
}

HMODULE LoadSystemLibrary(const char* name) {
    if (!name || !*name || strpbrk(name, "\\/:")) return nullptr;
    char path[MAX_PATH];
    const UINT folder = GetSystemDirectoryA(path, MAX_PATH);
    const size_t length = strlen(name);
    // folder + "\" + name + terminator must fit.
    if (folder == 0 || folder >= MAX_PATH || folder + 1 + length + 1 > MAX_PATH) return nullptr;
    path[folder] = '\\';
    memcpy(path + folder + 1, name, length + 1);
    return LoadLibraryA(path);
}
