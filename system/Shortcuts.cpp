#include "system/Shortcuts.h"

#include <windows.h>

#include "system/FileUtil.h"
#include "system/Registry.h"
#include "system/ShellLink.h"
#include "text/Format.h"

namespace {

constexpr char kShellFoldersKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr char kAllUsersProfile[] = "\\Profiles\\All Users";
constexpr char kInternetShortcutSection[] = "InternetShortcut";

Text WindowsFolder() {
    char buffer[kPathBufferSize] = "";
    UINT n = GetWindowsDirectoryA(buffer, kPathBufferSize);
    if (n == 0 || n >= kPathBufferSize) return Text();
    return Text(buffer);
}

// The registry's answer plus a backslash, or the fallback below the Windows
// folder ("\Profiles\All Users" on NT) when the value is missing or empty.
Text ShellFolder(HKEY root, const char* valueName, const char* fallbackTail) {
    Text folder = ReadRegistryStringAt(root, kShellFoldersKey, valueName);
    if (!folder.empty()) return folder + "\\";
    folder = WindowsFolder();
    if (IsWindowsNT()) folder += kAllUsersProfile;
    return folder + fallbackTail;
}

Text StartMenuLinkPath(const Text& relativeFolder, const Text& name, const char* extension) {
    return MakeLinkPath(GetProgramsFolder(), relativeFolder, name, extension);
}

Text DesktopLinkPath(const Text& name, const char* extension) {
    return MakeLinkPath(GetDesktopFolder(), Text(), name, extension);
}

bool SaveShortcut(const Text& path, const Text& target, const Text& iconFile, int iconIndex) {
    if (path.empty()) return false;
    ShellLink link;
    if (!link.IsValid()) return false;
    link.SetPath(target);
    link.SetIconLocation(iconFile.empty() ? target : iconFile, iconIndex);
    link.Save(path);
    return true;
}

// Deletes path if it is there; a missing file is no failure.
bool DeleteIfPresent(const Text& path) { return !FileExists(path) || DeleteFileAt(path); }

}  // namespace

Text GetDesktopFolder() { return ShellFolder(HKEY_LOCAL_MACHINE, "Common Desktop", "\\Desktop\\"); }

Text GetProgramsFolder() {
    if (IsWindowsNT())
        return ShellFolder(HKEY_LOCAL_MACHINE, "Common Programs", "\\Start Menu\\Programs\\");
    return ShellFolder(HKEY_CURRENT_USER, "Programs", "\\Start Menu\\Programs\\");
}

Text MakeLinkPath(const Text& folder, const Text& relativeFolder, const Text& name,
                  const char* extension) {
    Text path = folder + relativeFolder;
    if (!relativeFolder.empty() && relativeFolder.back() != '\\') path += '\\';
    path += name;
    path += extension;
    if (path.size() >= kPathBufferSize) return Text();
    return path;
}

bool WriteInternetShortcut(const Text& path, const Text& address, const Text& iconFile,
                           int iconIndex) {
    if (path.empty()) return false;
    WritePrivateProfileStringA(kInternetShortcutSection, "URL", address.c_str(), path.c_str());
    if (!iconFile.empty()) {
        char index[16];
        FormatText(index, sizeof index, "%d", iconIndex);
        WritePrivateProfileStringA(kInternetShortcutSection, "IconIndex", index, path.c_str());
        WritePrivateProfileStringA(kInternetShortcutSection, "IconFile", iconFile.c_str(),
                                   path.c_str());
    }
    return true;
}

bool StartMenuFolderExists(const Text& relativeFolder) {
    return FolderExists(GetProgramsFolder() + relativeFolder);
}

bool CreateStartMenuFolder(const Text& relativeFolder) {
    return CreateFolderPath(GetProgramsFolder() + relativeFolder);
}

bool RemoveStartMenuFolder(const Text& relativeFolder) {
    Text folder = GetProgramsFolder() + relativeFolder;
    if (!FolderExists(folder)) return true;
    return RemoveFolder(folder);
}

bool StartMenuShortcutExists(const Text& relativeFolder, const Text& name) {
    return FileExists(StartMenuLinkPath(relativeFolder, name, ".lnk"));
}

bool StartMenuUrlExists(const Text& relativeFolder, const Text& name) {
    return FileExists(StartMenuLinkPath(relativeFolder, name, ".url"));
}

bool CreateStartMenuShortcut(const Text& relativeFolder, const Text& name, const Text& target,
                             const Text& iconFile, int iconIndex) {
    if (!CreateStartMenuFolder(relativeFolder)) return false;
    return SaveShortcut(StartMenuLinkPath(relativeFolder, name, ".lnk"), target, iconFile,
                        iconIndex);
}

bool CreateStartMenuUrl(const Text& relativeFolder, const Text& name, const Text& address,
                        const Text& iconFile, int iconIndex) {
    if (!CreateStartMenuFolder(relativeFolder)) return false;
    return WriteInternetShortcut(StartMenuLinkPath(relativeFolder, name, ".url"), address, iconFile,
                                 iconIndex);
}

bool DeleteStartMenuShortcut(const Text& relativeFolder, const Text& name) {
    return DeleteIfPresent(StartMenuLinkPath(relativeFolder, name, ".lnk"));
}

bool DeleteStartMenuUrl(const Text& relativeFolder, const Text& name) {
    Text path = StartMenuLinkPath(relativeFolder, name, ".url");
    return !path.empty() && DeleteFileAt(path);
}

bool DesktopShortcutExists(const Text& name) { return FileExists(DesktopLinkPath(name, ".lnk")); }

bool DesktopUrlExists(const Text& name) { return FileExists(DesktopLinkPath(name, ".url")); }

bool CreateDesktopShortcut(const Text& name, const Text& target, const Text& iconFile,
                           int iconIndex) {
    return SaveShortcut(DesktopLinkPath(name, ".lnk"), target, iconFile, iconIndex);
}

bool CreateDesktopUrl(const Text& name, const Text& address, const Text& iconFile, int iconIndex) {
    return WriteInternetShortcut(DesktopLinkPath(name, ".url"), address, iconFile, iconIndex);
}

bool DeleteDesktopShortcut(const Text& name) {
    return DeleteIfPresent(DesktopLinkPath(name, ".lnk"));
}

bool DeleteDesktopUrl(const Text& name) { return DeleteIfPresent(DesktopLinkPath(name, ".url")); }
