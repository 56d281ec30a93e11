#include "system/UninstallLog.h"

#include <windows.h>

#include <vector>

#include "system/FileUtil.h"
#include "system/Handles.h"
#include "system/ProfileLog.h"
#include "system/Registry.h"
#include "system/Shortcuts.h"

bool WriteLogEntry(const Text& logFile, const Text& section, const Text& key, const Text& value) {
    // The bytes of WritePrivateProfileStringA, without rewriting the file per entry.
    return WriteProfileEntry(logFile, section, key, value);
}

bool CreateLoggedFolder(const Text& folder, const Text& section, const Text& logFile,
                        bool expectMissing) {
    // The records are written once the levels exist: the log file usually
    // lives in the innermost level, and a profile write into a missing folder
    // is lost.
    std::vector<Text> tried;
    bool exists = CreateFolderPath(folder, &tried, expectMissing);
    // Each tried level is recorded, the one that failed included.
    for (const Text& level : tried) WriteLogEntry(logFile, section, level, Text());
    return exists;
}

bool LogRegistryKeyPath(const Text& keyPath, const Text& section, const Text& logFile) {
    if (RegistryKeyExists(keyPath)) return true;
    size_t slash = keyPath.rfind('\\');
    if (slash == Text::npos) return false;
    if (!LogRegistryKeyPath(keyPath.substr(0, slash), section, logFile)) return false;
    WriteLogEntry(logFile, section, keyPath, Text());
    return true;
}

void SetLoggedRegistryValue(const Text& keyPath, const Text& valueName, const Text& data,
                            const Text& keysSection, const Text& itemsSection,
                            const Text& logFile) {
    if (!LogRegistryKeyPath(keyPath, keysSection, logFile)) return;
    RegKey key;
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE, keyPath.c_str(), key.Receive()) != ERROR_SUCCESS) return;
    // Asking for the size only: a value of any type or length counts as there.
    bool existed = RegQueryValueExA(key.Get(), valueName.c_str(), nullptr, nullptr, nullptr,
                                    nullptr) == ERROR_SUCCESS;
    if (!existed) WriteLogEntry(logFile, itemsSection, keyPath + "\\" + valueName, Text());
    // A REG_SZ's size counts its terminating zero: other readers (Add/Remove
    // Programs among them) take the size as given and would read past the text.
    RegSetValueExA(key.Get(), valueName.c_str(), 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(data.c_str()),
                   static_cast<DWORD>(data.size() + 1));
}

void WriteSetupRegistryEntry(const Text& entryName, const Text& directory, const Text& fullName,
                             const Text& keysSection, const Text& itemsSection,
                             const Text& logFile) {
    Text folder = directory;
    if (!folder.empty() && folder.back() == '\\') folder.erase(folder.size() - 1);
    Text keyPath = Text(kPublisherSetupKey) + entryName;
    SetLoggedRegistryValue(keyPath, kSetupDirectoryValue, folder, keysSection, itemsSection,
                           logFile);
    SetLoggedRegistryValue(keyPath, kSetupFullNameValue, fullName, keysSection, itemsSection,
                           logFile);
}

bool CreateLoggedStartMenuFolder(const Text& prefix, const Text& logFile, const Text& folder) {
    // "QOR\Trovix\" is the folder "QOR\Trovix": record it once, under that name.
    if (folder.back() == '\\')
        return CreateLoggedStartMenuFolder(prefix, logFile, folder.substr(0, folder.size() - 1));
    size_t slash = folder.rfind('\\');
    if (slash != Text::npos) CreateLoggedStartMenuFolder(prefix, logFile, folder.substr(0, slash));
    if (!StartMenuFolderExists(folder))
        WriteLogEntry(logFile, LogSectionName(prefix, kLogStartMenuFolders), folder, Text());
    return CreateStartMenuFolder(folder);
}

bool CreateLoggedStartMenuUrl(const Text& prefix, const Text& logFile, const Text& folder,
                              const Text& name, const Text& address, const Text& iconFile,
                              int iconIndex) {
    CreateLoggedStartMenuFolder(prefix, logFile, folder);
    if (!StartMenuUrlExists(folder, name))
        WriteLogEntry(logFile, LogSectionName(prefix, kLogStartMenuUrls), name, folder);
    return CreateStartMenuUrl(folder, name, address, iconFile, iconIndex);
}

bool CreateLoggedStartMenuShortcut(const Text& prefix, const Text& logFile, const Text& folder,
                                   const Text& name, const Text& target, const Text& iconFile,
                                   int iconIndex) {
    CreateLoggedStartMenuFolder(prefix, logFile, folder);
    if (!StartMenuShortcutExists(folder, name))
        WriteLogEntry(logFile, LogSectionName(prefix, kLogStartMenuShortcuts), name, folder);
    return CreateStartMenuShortcut(folder, name, target, iconFile, iconIndex);
}

bool CreateLoggedDesktopUrl(const Text& prefix, const Text& logFile, const Text& name,
                            const Text& address, const Text& iconFile, int iconIndex) {
    if (!DesktopUrlExists(name))
        WriteLogEntry(logFile, LogSectionName(prefix, kLogDesktopUrls), name, Text());
    return CreateDesktopUrl(name, address, iconFile, iconIndex);
}
