// FileUtil.h: stateless file and folder tests, creation and removal by path.
//
// Paths are absolute ANSI paths with backslashes; a folder is given without
// a trailing backslash unless a function says otherwise. No function shows a
// message, keeps state or reports an error code: failure is the answer false
// (or empty Text), and whatever the platform already did stays done.
//
// "Exists" has two meanings that callers rely on: a file exists when it can
// be opened for reading (a folder never does); a folder exists when its
// attributes carry the directory bit (a bare drive "C:" when the drive type is
// known).
#pragma once

#include "text/Text.h"

// Prefix of temporary files when the caller gives none ("QI" for Qor Install;
// the platform uses at most three characters of a prefix).
constexpr char kDefaultTempPrefix[] = "QI";

// True when path can be opened for reading (shared read, existing only).
// False for an empty path, a folder, a missing file, or a file held open by
// another process without read sharing.
bool FileExists(const Text& path);

// True when path names an existing folder, or is a bare drive ("C:") whose
// drive type is anything but DRIVE_UNKNOWN. "C:\" goes through the attribute
// test. False for an empty path, a file, or unreadable attributes.
bool FolderExists(const Text& path);

// Creates this one folder with default security. True if it was created;
// false if it already exists or a parent is missing.
bool CreateFolder(const Text& path);

// Creates every missing level of path, outermost first. True if the folder
// exists at the end (also when it existed before). False for a relative name
// without a backslash that does not exist. A trailing backslash is allowed.
// Levels created before a deeper level failed stay in place.
bool CreateFolderPath(const Text& path);

// Removes the empty folder path. True if it was removed.
bool RemoveFolder(const Text& path);

// Removes path with everything in it: files (read-only ones included, their
// read-only bit cleared first) and subfolders, depth first. Single deletion
// failures are not collected: the answer is whether path itself was removed
// at the end. False for an empty path. Entries whose full path would not fit
// the 260-character limit are skipped (and so keep their folder alive).
bool RemoveFolderTree(const Text& path);

// Deletes the file path. True if it was deleted.
bool DeleteFileAt(const Text& path);

// Clears the read-only attribute bit, keeping the others. True if the
// attributes could be read and written back; false leaves them as they were.
bool ClearReadOnly(const Text& path);

// True if the attributes of path can be read and carry the read-only bit.
bool IsFileReadOnly(const Text& path);

// Creates a new empty file with a unique name in the user's temporary folder
// and answers its full path; the caller deletes it. prefix: the name prefix
// (first three characters used); empty means kDefaultTempPrefix. Answers
// empty Text if the temporary folder cannot be found or the file not made.
Text MakeTempFileName(const Text& prefix = Text());

// The same in folder (full path, no trailing backslash needed): a new empty
// file with a unique name there, so that it can later be moved over a file of
// that folder. Empty Text if the file cannot be made.
Text MakeTempFileNameIn(const Text& folder, const Text& prefix = Text());
