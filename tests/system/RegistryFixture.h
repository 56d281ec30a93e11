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

// Saves a value on construction and puts it back (or removes it, if it was
// missing) on destruction, so one test's registry changes do not leak into
// the next.
class ScopedValue {
public:
    ScopedValue(HKEY root, const char* key, const char* name)
        : root_(root), key_(key), name_(name) {
        existed_ = ReadRaw(root, key, name, &data_, &type_);
    }
    ~ScopedValue() {
        if (!existed_) {
            DeleteValue(root_, key_, name_);
            return;
        }
        HKEY k;
        if (RegCreateKeyA(root_, key_, &k) != ERROR_SUCCESS) return;
        RegSetValueExA(k, name_, 0, type_, reinterpret_cast<const BYTE*>(data_.data()),
                       static_cast<DWORD>(data_.size()));
        RegCloseKey(k);
    }
    ScopedValue(const ScopedValue&) = delete;
    ScopedValue& operator=(const ScopedValue&) = delete;

private:
    HKEY root_;
    const char* key_;
    const char* name_;
    bool existed_ = false;
    std::string data_;
    DWORD type_ = REG_SZ;
};

}  // namespace testreg
