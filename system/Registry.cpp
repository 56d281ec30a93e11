// Registry access over ADVAPI32. Each function opens its key through a RegKey
// owner, so the key is closed on every way out.
#include "system/Registry.h"

#include <vector>

#include "system/Handles.h"

namespace {

// Longest value name the registry allows, plus its terminating zero.
constexpr DWORD kMaxValueNameChars = 16384;

// Opens root\keyPath with the given rights; an empty owner on failure.
bool OpenKey(HKEY root, const Text& keyPath, REGSAM access, RegKey& key) {
    return RegOpenKeyExA(root, keyPath.c_str(), 0, access, key.Receive()) == ERROR_SUCCESS;
}

// Reads value valueName of an open key as text up to its first zero byte.
// The data goes into a zero-filled 260-byte buffer (one spare zero byte
// after it, so 260 bytes of unterminated data still end in a zero). A value
// that does not fit is read again whole into a buffer of its reported size.
// Returns false, with text empty, when the value cannot be read.
bool QueryValueText(HKEY key, const Text& valueName, Text& text) {
    text.clear();
    char buffer[kRegistryBufferSize + 1] = {};
    DWORD size = kRegistryBufferSize;
    LONG rc = RegQueryValueExA(key, valueName.c_str(), nullptr, nullptr,
                               reinterpret_cast<BYTE*>(buffer), &size);
    if (rc == ERROR_SUCCESS) {
        text = buffer;
        return true;
    }
    if (rc != ERROR_MORE_DATA) return false;
    // The value may change between the two queries; a few rounds settle it.
    for (int attempt = 0; attempt < 4; ++attempt) {
        std::vector<char> big(size + 1, '\0');
        DWORD bigSize = size;
        rc = RegQueryValueExA(key, valueName.c_str(), nullptr, nullptr,
                              reinterpret_cast<BYTE*>(big.data()), &bigSize);
        if (rc == ERROR_SUCCESS) {
            text = big.data();
            return true;
        }
        if (rc != ERROR_MORE_DATA) return false;
        size = bigSize;
    }
    return false;
}

// Name of the value at index of an open key, with a 260-character buffer
// that grows when a name does not fit. False when there is no such value.
bool EnumValueName(HKEY key, DWORD index, std::vector<char>& name) {
    for (;;) {
        DWORD chars = static_cast<DWORD>(name.size());
        LONG rc =
            RegEnumValueA(key, index, name.data(), &chars, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_SUCCESS) return true;
        if (rc != ERROR_MORE_DATA || name.size() >= kMaxValueNameChars) return false;
        name.assign(kMaxValueNameChars, '\0');
    }
}

}  // namespace

Text ReadRegistryStringAt(HKEY root, const Text& keyPath, const Text& valueName) {
    RegKey key;
    Text text;
    if (OpenKey(root, keyPath, KEY_READ, key)) QueryValueText(key.Get(), valueName, text);
    return text;
}

Text ReadRegistryString(const Text& keyPath, const Text& valueName) {
    return ReadRegistryStringAt(HKEY_LOCAL_MACHINE, keyPath, valueName);
}

Text ReadSetupDirectory(const Text& entryName) {
    return ReadRegistryString(kPublisherSetupKey + entryName, kSetupDirectoryValue);
}

Text ReadSetupFullName(const Text& entryName) {
    return ReadRegistryString(kPublisherSetupKey + entryName, kSetupFullNameValue);
}

bool RegistryKeyExists(const Text& keyPath) {
    RegKey key;
    return OpenKey(HKEY_LOCAL_MACHINE, keyPath, KEY_READ, key);
}

bool RegistryValueExists(const Text& keyPath, const Text& valueName) {
    RegKey key;
    if (!OpenKey(HKEY_LOCAL_MACHINE, keyPath, KEY_READ, key)) return false;
    BYTE buffer[kRegistryBufferSize] = {};
    DWORD size = kRegistryBufferSize;
    LONG rc = RegQueryValueExA(key.Get(), valueName.c_str(), nullptr, nullptr, buffer, &size);
    // A value too long for the buffer exists all the same.
    return rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA;
}

bool RegistryKeyIsEmpty(const Text& keyPath) {
    RegKey key;
    if (!OpenKey(HKEY_LOCAL_MACHINE, keyPath, KEY_QUERY_VALUE, key)) return true;
    DWORD subkeys = 0;
    DWORD values = 0;
    LONG rc = RegQueryInfoKeyA(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                               &values, nullptr, nullptr, nullptr, nullptr);
    return rc == ERROR_SUCCESS && subkeys == 0 && values == 0;
}

bool DeleteRegistryValue(const Text& keyPath, const Text& valueName) {
    RegKey key;
    if (OpenKey(HKEY_LOCAL_MACHINE, keyPath, KEY_WRITE, key))
        RegDeleteValueA(key.Get(), valueName.c_str());
    return true;
}

bool DeleteRegistrySubkey(const Text& keyPath, const Text& subkeyName) {
    // An empty name would make RegDeleteKeyA remove keyPath itself.
    if (subkeyName.empty()) return false;
    RegKey key;
    if (!OpenKey(HKEY_LOCAL_MACHINE, keyPath, KEY_WRITE, key)) return true;
    return RegDeleteKeyA(key.Get(), subkeyName.c_str()) == ERROR_SUCCESS;
}

void DeleteRegistryValues(const Text& keyPath) {
    // An empty path opens HKEY_LOCAL_MACHINE itself.
    if (keyPath.empty()) return;
    RegKey key;
    if (!OpenKey(HKEY_LOCAL_MACHINE, keyPath, KEY_WRITE | KEY_QUERY_VALUE, key)) return;
    std::vector<char> name(kRegistryBufferSize, '\0');
    // Deleting the value at index 0 moves the next one there; a value that
    // cannot be deleted is stepped over, so every round either removes a
    // value or advances, and the loop ends.
    DWORD index = 0;
    while (EnumValueName(key.Get(), index, name)) {
        if (RegDeleteValueA(key.Get(), name.data()) != ERROR_SUCCESS) ++index;
    }
}

namespace {

// DeleteRegistryTree's body; answers whether keyPath itself was deleted, so
// the caller can step over a subkey that stays.
bool DeleteTree(const Text& keyPath) {
    DeleteRegistryValues(keyPath);
    {
        RegKey key;
        if (OpenKey(HKEY_LOCAL_MACHINE, keyPath, KEY_READ, key)) {
            char name[kRegistryBufferSize] = {};
            DWORD index = 0;
            while (RegEnumKeyA(key.Get(), index, name, kRegistryBufferSize) == ERROR_SUCCESS) {
                if (!DeleteTree(keyPath + "\\" + name)) ++index;
            }
        }
    }
    return RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyPath.c_str()) == ERROR_SUCCESS;
}

}  // namespace

void DeleteRegistryTree(const Text& keyPath) {
    // An empty path would empty HKEY_LOCAL_MACHINE itself.
    if (!keyPath.empty()) DeleteTree(keyPath);
}

bool IsWindowsNT() {
    static_assert(sizeof(OSVERSIONINFOA) == 148, "version record size");
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof(info);  // 148 bytes
    if (!GetVersionExA(&info)) return false;
    return info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}
