// UninstallLog.h: the record of what the installer created, read later by the
// separate uninstaller, and the writers that create an object together with
// its record.
//
// The log is an INI file ("TrovixInstall.inf" in the product folder) written
// one entry at a time through WritePrivateProfileStringA: sections and keys
// stay in first-written order, a key written again (case-insensitively) keeps
// its place and takes the new value, lines end in CR LF. Every writer takes
// the log file's full path.
//
// The one rule: an object is recorded only if it did not exist when the
// installer was about to create it. Records are never removed, and failures
// of the profile writer are ignored (the install goes on).
//
// File and section names, and how sections are composed, are the contract
// with the uninstaller (contract/UninstallLogFormat.h).
#pragma once

#include "contract/UninstallLogFormat.h"
#include "text/Text.h"

// Writes key=value into section of logFile, leaving the bytes one
// WritePrivateProfileStringA call would leave (WriteProfileEntry), on disk
// before it returns. True if the entry was written. For the entries the install
// run writes directly (Files, Dependents, Uninstall Command Line).
bool WriteLogEntry(const Text& logFile, const Text& section, const Text& key, const Text& value);

// Creates the missing levels of folder, outermost first, and then records
// each level it tried as "level=" in section, outermost first, whether or not
// creating it worked. Recording after creating lets the log live inside the
// folder being made. True if the folder exists at the end; nothing is
// recorded for an existing folder. False when a level could not be created
// (its record is still written, deeper levels are not tried) or the path has
// no backslash and does not exist. expectMissing as for CreateFolderPath.
bool CreateLoggedFolder(const Text& folder, const Text& section, const Text& logFile,
                        bool expectMissing = false);

// Records, outermost first, every missing key on keyPath (below
// HKEY_LOCAL_MACHINE) as "keypath=" in section, creating nothing. True if the
// key exists or every missing level was recorded; false when no level of the
// path exists (then nothing is recorded).
bool LogRegistryKeyPath(const Text& keyPath, const Text& section, const Text& logFile);

// Sets the REG_SZ value valueName of keyPath (below HKEY_LOCAL_MACHINE) to
// data, stored with its terminating zero (the empty text is a one-byte
// value). Missing keys are recorded in
// keysSection first (LogRegistryKeyPath); the value is recorded in
// itemsSection as "keypath\valuename=" only if it did not exist before, of
// whatever type or length. If no level of the key path exists nothing is
// created; if the key cannot be created its records stay and no value is set.
void SetLoggedRegistryValue(const Text& keyPath, const Text& valueName, const Text& data,
                            const Text& keysSection, const Text& itemsSection, const Text& logFile);

// Registers an application below "Software\Corvane OnLine\Setup\<entryName>":
// values "Directory" (directory less one trailing backslash, if it has one)
// and "Full Name", both through SetLoggedRegistryValue.
void WriteSetupRegistryEntry(const Text& entryName, const Text& directory, const Text& fullName,
                             const Text& keysSection, const Text& itemsSection,
                             const Text& logFile);

// Creates the Start Menu folder (relative to the Programs folder, e.g.
// "QOR\Trovix"), recording each missing level in "<prefix> Start Menu
// Folders" before it is created. True if the folder exists at the end.
bool CreateLoggedStartMenuFolder(const Text& prefix, const Text& logFile, const Text& folder);

// Creates the folder as above, records "name=folder" in "<prefix> Start Menu
// URLs" if the .url file is missing, then writes it (CreateStartMenuUrl).
// Answers CreateStartMenuUrl's answer; the record stays even if it fails.
bool CreateLoggedStartMenuUrl(const Text& prefix, const Text& logFile, const Text& folder,
                              const Text& name, const Text& address, const Text& iconFile,
                              int iconIndex);

// The same for a .lnk shortcut to target ("<prefix> Start Menu Shortcuts",
// CreateStartMenuShortcut).
bool CreateLoggedStartMenuShortcut(const Text& prefix, const Text& logFile, const Text& folder,
                                   const Text& name, const Text& target, const Text& iconFile,
                                   int iconIndex);

// Records "name=" in "<prefix> Desktop URLs" if the Desktop .url file is
// missing, then writes it (CreateDesktopUrl) and answers its answer.
bool CreateLoggedDesktopUrl(const Text& prefix, const Text& logFile, const Text& name,
                            const Text& address, const Text& iconFile, int iconIndex);
