// UninstallLogFormat.h: the uninstall log as the setup writes it and the
// uninstaller reads it back, and how the setup names and starts the
// uninstaller. Both programs take every name from here: if one side renamed a
// section alone, the uninstaller would silently leave things behind.
//
// The log is an INI file (kUninstallLogFileName in the product folder). Its
// sections are either a unit's, named "<unit prefix> <base name>" (one space,
// LogSectionName), or one of the fixed names. A unit is the product
// (kProductWord, or the product key of the string table), a receiver (its
// registry key name, listed in "Dependents"), or kLogUnknownPrefix for
// archive entries without a placement prefix.
#pragma once

#include <cstddef>

#include "text/Text.h"

// File name of the log inside the product folder.
constexpr char kUninstallLogFileName[] = "TrovixInstall.inf";
// File name of the uninstaller, beside the log.
constexpr char kUninstallerFileName[] = "TrovixUninstall.exe";
// The uninstaller's option naming one receiver to remove ("-productid=NAME";
// empty: the one receiver in "Dependents").
constexpr char kProductIdArgument[] = "-productid=";
// The product's own unit prefix and setup entry name.
constexpr char kProductWord[] = "Trovix";

// Base names, composed with a unit prefix: "<prefix> Files" and so on.
constexpr char kLogFiles[] = "Files";                              // key: file path
constexpr char kLogDirs[] = "Dirs";                                // key: folder path
constexpr char kLogRegistryKeys[] = "Registry Keys";               // key: key path
constexpr char kLogRegistryItems[] = "Registry Items";             // key: key path\value
constexpr char kLogStartMenuFolders[] = "Start Menu Folders";      // key: relative folder
constexpr char kLogStartMenuUrls[] = "Start Menu URLs";            // name=relative folder
constexpr char kLogStartMenuShortcuts[] = "Start Menu Shortcuts";  // name=relative folder
constexpr char kLogDesktopUrls[] = "Desktop URLs";                 // key: name
constexpr char kLogDesktopShortcuts[] = "Desktop Shortcuts";       // never written by the setup

// Every base name a unit may own, for readers that look for a unit's sections.
constexpr const char* kLogUnitBases[] = {kLogFiles,
                                         kLogDirs,
                                         kLogRegistryKeys,
                                         kLogRegistryItems,
                                         kLogStartMenuFolders,
                                         kLogStartMenuUrls,
                                         kLogStartMenuShortcuts,
                                         kLogDesktopUrls,
                                         kLogDesktopShortcuts};

// Fixed section names.
constexpr char kLogDependents[] = "Dependents";                        // key: receiver name
constexpr char kLogExternalDependents[] = "External Dependents";       // never written
constexpr char kLogUninstallCommandLine[] = "Uninstall Command Line";  // path=path args

// Unit prefix for archive entries that carry no placement prefix.
constexpr char kLogUnknownPrefix[] = "Unknown";

// prefix + " " + baseName, e.g. ("Trovix", kLogDirs) -> "Trovix Dirs".
Text LogSectionName(const Text& prefix, const char* baseName);

// The unit prefix of a unit's section ("Demo Files" -> "Demo"): the section
// name less " <base name>" for the first base name it ends with (ASCII letter
// case ignored). Empty for a fixed section or a bare base name.
Text LogSectionUnit(const Text& section);
