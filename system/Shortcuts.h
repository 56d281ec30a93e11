// Shortcuts.h: the two shell folders the installer fills (the Programs
// folder of the Start Menu and the Desktop), and the .lnk and .url link files
// it places there.
//
// Folders come from "Software\Microsoft\Windows\CurrentVersion\Explorer\Shell
// Folders": Desktop from HKLM "Common Desktop" on both platform families;
// Programs from HKLM "Common Programs" on the NT family, HKCU "Programs" on
// the 95 family. A missing or empty value falls back to the Windows folder +
// "\Profiles\All Users" (NT family only) + "\Desktop\" or
// "\Start Menu\Programs\". Both are resolved on every call.
//
// A link path is shell folder + relative folder + "\" (unless the relative
// folder is empty or already ends with one) + name + ".lnk" or ".url". A path
// that would not fit the 260-character limit is never formed: tests answer
// false, creations false, and deletions answer as for a missing file.
// No function shows a message.
#pragma once

#include "text/Text.h"

// Desktop folder shared by all users, ending in a backslash. Never empty: a
// registry value is taken as it stands with a backslash appended (even after
// one it already has); without one, the fallback path is answered.
Text GetDesktopFolder();
// Programs folder of the Start Menu (all users on NT, the current user on the
// 95 family), ending in a backslash.
Text GetProgramsFolder();

// Full path of link name + extension (".lnk" or ".url") in folder +
// relativeFolder, or empty Text if it would reach 260 characters.
Text MakeLinkPath(const Text& folder, const Text& relativeFolder, const Text& name,
                  const char* extension);

// Writes an internet shortcut: [InternetShortcut] URL=address, and only if
// iconFile is not empty IconIndex=<decimal> and IconFile=iconFile, in that
// order. Other content of an existing file is kept. False only for an empty
// path; the answers of the single profile writes are not examined.
bool WriteInternetShortcut(const Text& path, const Text& address, const Text& iconFile,
                           int iconIndex);

// Start Menu: relativeFolder is below the Programs folder (e.g. "QOR\Trovix").
// FolderExists of Programs folder + relativeFolder (empty: Programs itself).
bool StartMenuFolderExists(const Text& relativeFolder);
// CreateFolderPath of Programs folder + relativeFolder.
bool CreateStartMenuFolder(const Text& relativeFolder);
// Removes that one (empty) folder if it exists: true if removed or missing.
bool RemoveStartMenuFolder(const Text& relativeFolder);
bool StartMenuShortcutExists(const Text& relativeFolder, const Text& name);
bool StartMenuUrlExists(const Text& relativeFolder, const Text& name);
// Creates the folder, then saves a .lnk to target with its icon from iconFile
// (or, if empty, from target) at iconIndex. False only if the folder cannot
// be created, the path does not fit or the shell link cannot be obtained.
bool CreateStartMenuShortcut(const Text& relativeFolder, const Text& name, const Text& target,
                             const Text& iconFile, int iconIndex);
// Creates the folder, then writes the .url (WriteInternetShortcut). False only
// if the folder cannot be created or the path does not fit.
bool CreateStartMenuUrl(const Text& relativeFolder, const Text& name, const Text& address,
                        const Text& iconFile, int iconIndex);
// If the .lnk exists, whether deleting it worked; otherwise true.
bool DeleteStartMenuShortcut(const Text& relativeFolder, const Text& name);
// Whether deleting the .url worked (false if it is missing).
bool DeleteStartMenuUrl(const Text& relativeFolder, const Text& name);

// Desktop: links lie directly in the Desktop folder.
bool DesktopShortcutExists(const Text& name);
bool DesktopUrlExists(const Text& name);
// As the Start Menu versions, without creating a folder.
bool CreateDesktopShortcut(const Text& name, const Text& target, const Text& iconFile,
                           int iconIndex);
bool CreateDesktopUrl(const Text& name, const Text& address, const Text& iconFile, int iconIndex);
// If the file exists, whether deleting it worked; otherwise true.
bool DeleteDesktopShortcut(const Text& name);
bool DeleteDesktopUrl(const Text& name);
