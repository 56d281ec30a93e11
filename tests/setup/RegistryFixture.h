// Test helpers that write registry fixtures below HKEY_LOCAL_MACHINE with the
// raw API, independently of the code under test, and remove them again.
#pragma once

#include <windows.h>
#include <shlwapi.h>

#include <string>

#include <gtest/gtest.h>

namespace regfix {

// Creates HKLM\path (all levels).
inline bool CreateKey(const std::string& path, HKEY root = HKEY_LOCAL_MACHINE) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// Stores exactly the given bytes (no terminating zero added) as value name.
inline bool SetRaw(const std::string& path, const std::string& name, const void* data, DWORD size,
                   DWORD type = REG_SZ, HKEY root = HKEY_LOCAL_MACHINE) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    LONG rc = RegSetValueExA(key, name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

// A string value with its terminating zero, as the platform's writers store it.
inline bool SetString(const std::string& path, const std::string& name, const std::string& value,
                      HKEY root = HKEY_LOCAL_MACHINE) {
    return SetRaw(path, name, value.c_str(), static_cast<DWORD>(value.size() + 1), REG_SZ, root);
}

inline bool KeyExists(const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

inline bool ValueExists(const std::string& path, const std::string& name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    LONG rc = RegQueryValueExA(key, name.c_str(), nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

inline DWORD ValueCount(const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    DWORD values = 0;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                     nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return values;
}

inline void DeleteTree(const std::string& path, HKEY root = HKEY_LOCAL_MACHINE) {
    SHDeleteKeyA(root, path.c_str());
}

}  // namespace regfix
