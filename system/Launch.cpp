#include "system/Launch.h"

#include <windows.h>

#include <cstring>

#include "system/Handles.h"

namespace {

constexpr DWORD kValueBufferSize = MAX_PATH;

// Default value of HKCR\keyPath, up to kValueBufferSize bytes, into buffer.
// The buffer has one byte more and is zero-filled, so a value that fills all
// 260 bytes is read and data stored without its terminating zero still ends.
// False if key or value is missing or longer.
bool ReadClassesDefault(const Text& keyPath, char (&buffer)[kValueBufferSize + 1]) {
    memset(buffer, 0, sizeof buffer);
    RegKey key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, keyPath.c_str(), 0, KEY_QUERY_VALUE, key.Receive()) !=
        ERROR_SUCCESS)
        return false;
    DWORD size = kValueBufferSize;
    if (RegQueryValueExA(key.Get(), nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer),
                         &size) != ERROR_SUCCESS) {
        memset(buffer, 0, sizeof buffer);
        return false;
    }
    return true;
}

}  // namespace

bool GetBrowserPath(Text& out) {
    out.clear();
    char buffer[kValueBufferSize + 1];
    if (!ReadClassesDefault(".html", buffer)) return false;
    Text className(buffer);
    if (!ReadClassesDefault(className + "\\shell\\open\\command", buffer)) return false;
    Text command(buffer);
    if (command[0] == '"') {
        command.erase(0, 1);
        size_t quote = command.find('"');
        if (quote != Text::npos) command.erase(quote);
        char shortPath[MAX_PATH];
        DWORD n = GetShortPathNameA(command.c_str(), shortPath, MAX_PATH);
        if (n == 0 || n >= MAX_PATH) return false;
        out = shortPath;
    } else {
        size_t end = strcspn(command.c_str(), " \t\n");
        out = command.substr(0, end);
    }
    return !out.empty();
}

bool OpenUrlInBrowser(const Text& address) {
    Text browser;
    if (!GetBrowserPath(browser)) return false;
    // A space, the address and the terminating zero must fit.
    if (address.size() + 2 > kBrowserCommandLineSize) return false;
    char commandLine[kBrowserCommandLineSize];
    commandLine[0] = ' ';
    memcpy(commandLine + 1, address.c_str(), address.size() + 1);
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    memset(&process, 0, sizeof process);
    if (!CreateProcessA(browser.c_str(), commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return false;
    Handle thread(process.hThread);
    Handle processHandle(process.hProcess);
    return true;
}
