// Registry set-up for the system tests: values written straight through the
// platform, so the code under test is not used to prepare its own input.
#pragma once

#include <windows.h>

#include <string>

#include "text/Text.h"

namespace testreg {

constexpr char kShellFolders[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

inline bool SetString(HKEY root, const char* key, const char* name, const std::string& data) {
    HKEY k;
    if (RegCreateKeyA(root, key, &k) != ERROR_SUCCESS) return false;
    LONG r = RegSetValueExA(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                            static_cast<DWORD>(data.size() + 1));
    RegCloseKey(k);
    return r == ERROR_SUCCESS;
}

// Points a shell folder at data. Wine's shell refreshes "Shell Folders" from
// "User Shell Folders" whenever it resolves a folder, so both are set.
inline bool SetShellFolder(HKEY root, const char* name, const std::string& data) {
    return SetString(root, kShellFolders, name, data) &&
           SetString(root,
                     "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
                     name, data);
}

inline void DeleteValue(HKEY root, const char* key, const char* name) {
    HKEY k;
    if (RegOpenKeyExA(root, key, 0, KEY_WRITE, &k) != ERROR_SUCCESS) return;
    RegDeleteValueA(k, name);
    RegCloseKey(k);
}

inline bool KeyExists(HKEY root, const char* key) {
    HKEY k;
    if (RegOpenKeyExA(root, key, 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
    RegCloseKey(k);
    return true;
}

// Raw data of a value (type and exact size as stored); false if missing.
inline bool ReadRaw(HKEY root, const char* key, const char* name, std::string* data, DWORD* type) {
    HKEY k;
    if (RegOpenKeyExA(root, key, 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
    DWORD size = 0;
    LONG r = RegQueryValueExA(k, name, nullptr, type, nullptr, &size);
    if (r == ERROR_SUCCESS) {
        data->assign(size, '\0');
        r = RegQueryValueExA(k, name, nullptr, type, reinterpret_cast<BYTE*>(&(*data)[0]), &size);
        data->resize(size);
    }
    RegCloseKey(k);
    return r == ERROR_SUCCESS;
}

}  // namespace testreg
