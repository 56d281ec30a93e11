// RemovalRules.h: which recorded paths and registry keys the uninstaller may
// touch at all. Pure checks over texts; the folders to protect are resolved
// by the caller (see ProtectedFolders), so every rule runs natively in tests.
//
// A path is removable only when it is an absolute drive path ("X:\...") of
// fewer than 260 characters, made of plain components: no "." or "..", no
// empty component, no component ending in a dot or blank (the platform would
// strip those and reach another name), no character below 32 and none of
// / * ? " < > | or a colon after the drive. It must not be a drive root, a
// shell folder itself, Program Files itself or the temp folder, and must not
// lie in (or be) the Windows or system folder, except below a shell folder
// (on the Windows 95 family the Desktop and Start Menu live in the Windows
// folder); only a ShellFolder lifts that protection, never a UserShellFolder.
//
// A registry key is removable when it is below HKEY_LOCAL_MACHINE (written
// without a root name), has two components at least, no empty component and
// no character below 32.
#pragma once

#include <vector>

#include "text/Text.h"

enum class PathVerdict {
    Removable,
    NotAbsolute,   // empty, relative, UNC, or "C:" without a backslash
    TooLong,       // 260 characters or more
    Malformed,     // bad character, empty component, trailing dot or blank
    DotComponent,  // a "." or ".." component
    DriveRoot,
    ShellFolder,   // Start Menu, Programs or Desktop itself
    SystemFolder,  // the Windows or system folder, or inside it
    ProgramFiles,  // Program Files itself
    TempFolder,    // the temp folder itself
};

enum class ProtectedKind {
    ShellFolder,      // the folder itself is kept; what is below it may go
    UserShellFolder,  // a per-user shell folder: kept itself, but it lifts no
                      // other protection (per-user settings only add protection)
    WindowsFolder,    // the folder and what is below it are kept, but for shell folders in it
    SystemFolder,     // the folder and everything below it are kept
    ProgramFiles,     // the folder itself is kept
    TempFolder,       // the folder itself is kept
};

struct ProtectedFolder {
    Text path;  // absolute; a trailing backslash is ignored
    ProtectedKind kind;
};
using ProtectedFolders = std::vector<ProtectedFolder>;

// The verdict on removing path (a file or a folder). Letter case is ignored
// in the comparisons with the protected folders.
PathVerdict CheckRemovablePath(const Text& path, const ProtectedFolders& protectedFolders);

enum class KeyVerdict {
    Removable,
    Malformed,   // empty, empty component, root name, control character
    TooShallow,  // fewer than two components
    TooLong,     // more than kMaxKeyPath characters
};

// Longest key path accepted (the platform's own limit on a key path).
constexpr size_t kMaxKeyPath = 1024;

// The verdict on deleting the key keyPath (below HKEY_LOCAL_MACHINE).
KeyVerdict CheckRemovableKey(const Text& keyPath);

// The verdict on deleting a recorded value "key path\value name": the key
// part (before the last backslash) must pass CheckRemovableKey, and the
// value name must hold no character below 32. keyPath and valueName receive
// the two parts whatever the verdict.
KeyVerdict CheckRemovableValue(const Text& item, Text& keyPath, Text& valueName);

enum class CommandVerdict {
    Runnable,
    Mismatch,    // the command line does not start with the file's own path
    NotProgram,  // the file is not an ".exe" image
};

// The verdict on running a recorded uninstall command: commandLine must
// start with file (letter case ignored), then end or go on with a blank, and
// file must name an ".exe" image: anything else would be started through a
// command interpreter, which reads "&" in its arguments as a second command.
// arguments receives the rest of the line (with its leading blank).
CommandVerdict CheckUninstallCommand(const Text& file, const Text& commandLine, Text& arguments);

// True when inner is folder itself or lies below it (letter case ignored,
// trailing backslashes ignored).
bool IsSameOrBelow(const Text& inner, const Text& folder);
