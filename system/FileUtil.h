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

#include <cstddef>
#include <vector>

#include "text/Text.h"

// Capacity of the platform's path buffers (MAX_PATH), terminating zero included.
constexpr size_t kPathBufferSize = 260;

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
// Levels created before a deeper level failed stay in place. With tried, each
// level it tries to create is appended there, the one that failed included.
// With expectMissing (a caller who just saw path missing) each level is
// created outright, innermost first, going outwards only while its parent is
// missing: the same result, folders and tried list without a failing look-up
// per missing level, and a call more when path exists after all.
bool CreateFolderPath(const Text& path, std::vector<Text>* tried = nullptr,
                      bool expectMissing = false);

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

// The same inside folder (no trailing backslash needed): a new empty file
// with a unique name there. Empty text when folder is too long for a name to
// fit 260 characters or the file cannot be created.
Text MakeTempFileNameIn(const Text& folder, const Text& prefix = Text());
