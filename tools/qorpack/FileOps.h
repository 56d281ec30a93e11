// File helpers of the packaging tool: owned FILE*, 64-bit positions, copies,
// outputs that appear only when complete, and the terminal progress line.
// Every function reports failure by its return value and, where it takes one,
// a message in *error naming the file; none throws.
#pragma once

#include <cstdint>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "archive/ArchiveLocator.h"

namespace qorpack {

struct FileCloser {
    void operator()(FILE* f) const {
        if (f) fclose(f);
    }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// fopen; null on failure (errno left as fopen set it).
FilePtr OpenFile(const char* path, const char* mode);

// Seeks to an absolute position / reads the size of an open file. False on failure.
bool SeekTo(FILE* f, uint64_t pos);
bool GetOpenFileSize(FILE* f, uint64_t* size);

// Size of a regular file; false when it does not exist or is not a regular file.
bool GetFileSizeByPath(const char* path, uint64_t* size);
bool IsRegularFile(const char* path);
bool IsDirectory(const char* path);
bool PathExists(const char* path);

// True when both paths exist and name the same file (POSIX: device and
// inode; Windows: the same full path, compared without regard to case).
bool SameFile(const char* a, const char* b);

// SameFile against one fixed file, for many paths: the fixed file is looked
// at once, each path asked about once (its size comes with the answer).
class SameFileTest {
public:
    explicit SameFileTest(const char* target);
    // True when path names the target; *size is path's size when it is a
    // regular file, else 0.
    bool Matches(const char* path, uint64_t* size) const;

private:
    std::string fullTarget_;  // Windows: full path of the target
    bool exists_ = false;
    uint64_t device_ = 0, inode_ = 0;
};

// An empty file is no archive, although the engine opens one as an empty
// archive (so `add` can start from it): `list`, `verify` and `extract` call
// this first. False with "'PATH' is empty (0 bytes): not an archive"; true
// for anything else, a missing file included (the opener names that).
bool RefuseEmptyArchive(const std::string& path, std::string* error);

// Text of the last C library / system error, for messages.
std::string LastErrorText();

// Copies the whole file `from` to `to` (created or truncated). On failure
// returns false with a message; `to` may then hold part of the data.
bool CopyFileContents(const char* from, const char* to, std::string* error);

// Creates every missing folder of `dir` (like mkdir -p). False with a message.
bool MakeDirectories(const std::string& dir, std::string* error);

// Lists the entries of a folder (without "." and ".."), sorted by byte
// order, split into files and subfolders. Links are never followed (a link
// could lead out of the folder or round a loop): links, FIFOs, sockets and
// devices are skipped, each with a line saying so and why, added to *skipped
// or, without it, printed on stderr. False with a message.
bool ListFolder(const std::string& dir, std::vector<std::string>* files,
                std::vector<std::string>* folders, std::string* error,
                std::vector<std::string>* skipped = nullptr);

// Folder part of a path ("." when it has none) and the joining of two parts
// with the platform's separator.
std::string DirectoryOf(const std::string& path);
std::string JoinPath(const std::string& dir, const std::string& name);
// True for an absolute path (POSIX: a leading '/'; Windows: a drive or a
// leading separator).
bool IsAbsolutePath(const std::string& path);
// When `path` lies below the folder `base` (both made absolute; links in
// `base` resolved), sets *stored to its stored name (steps joined with
// backslashes) and returns true.
bool RelativeBelow(const std::string& base, const std::string& path, std::string* stored);
// On POSIX turns backslashes into slashes; on Windows returns the path unchanged.
std::string ToNativeSeparators(const std::string& path);

// Where the archive of a file starts, by the engine's rule
// (archive/ArchiveLocator.h): *offset is 0 for a stand-alone archive or a file
// that carries none; *hasHeader when a header record begins there. False only
// when the file cannot be opened or read.
bool FindAppendedArchive(const char* path, uint64_t* offset, bool* hasHeader);

// Takes the signature off a signed setup found at `at`: clears the security
// directory entry and cuts the file where the archive (or, without one, the
// certificate table) ended before signing. Nothing to do for an unsigned file.
// False with a message.
bool RemoveSignature(const char* path, const qzf_format::ArchiveLocation& at, std::string* error);
// Only clears the security directory entry `at` names, for a file written
// anew without the certificate table. Nothing to do for an unsigned file.
bool ClearSignatureEntry(const char* path, const qzf_format::ArchiveLocation& at,
                         std::string* error);

// Files an interrupted run must not leave behind. Registered files are
// removed by the handlers of SIGINT, SIGTERM and SIGHUP before the process
// ends, and only while their name still names the file that was registered
// (POSIX: the file's folder is held open and the name looked up there, so a
// folder renamed or replaced by a link meanwhile leads nowhere else; Windows:
// the path is opened and its file's identity compared on the handle that then
// deletes it). RegisterPending is false when the path is too long, the list
// full or the file missing: the file must exist when it is registered.
void InstallCleanupHandlers();
bool RegisterPending(const std::string& path);
void UnregisterPending(const std::string& path);
// Removes the file registered as `path` now (only while the name names it, as
// the handlers do) and forgets it.
void RemovePending(const std::string& path);
// Removes every registered file now, as an interrupt would, and forgets them.
void RemovePendingNow();
#ifdef _WIN32
// Registers the open file h, opened with DELETE access and kept open until
// UnregisterPendingSlot: the handler marks that file for deletion through h,
// wherever it has been renamed meanwhile, and never touches a file put at its
// name. A slot number, or -1.
int RegisterPendingHandle(void* h, const std::string& shown);
// Marks the file open as h (with DELETE access) for deletion when its last
// handle closes. False when the system refuses or lacks the call.
bool DeleteThroughHandle(void* h);
// The interrupt handler runs on a thread of its own on Windows: held around a
// rename into place and the release of its slot, so the handler sees the file
// either as the temporary or in place, and around closing a registered handle.
class PendingHeld {
public:
    PendingHeld();
    ~PendingHeld();
    PendingHeld(const PendingHeld&) = delete;
    PendingHeld& operator=(const PendingHeld&) = delete;
};
#else
// The same for the file `name` in the open folder dirFd (kept open by the
// caller until UnregisterPendingSlot, or closed with the slot when ownsFd);
// `shown` is the path UnregisterPending(path) matches. A slot number, or -1.
// Without checkIdentity no system call is made (for a file per extracted
// entry): the handler then removes whatever the name in that folder names.
int RegisterPendingAt(int dirFd, const std::string& name, const std::string& shown, bool ownsFd,
                      bool checkIdentity = true);
// Holds off SIGINT, SIGTERM and SIGHUP for its lifetime: wrapped around
// making a file and registering it, so no interrupt falls between the two.
class SignalsHeld {
public:
    SignalsHeld();
    ~SignalsHeld();
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

private:
    sigset_t old_;
};
#endif
void UnregisterPendingSlot(int slot);

// Test hook: when the environment's QORPACK_TEST_PAUSE equals `point`, the
// process stops itself (SIGSTOP) the first time it passes there, so that a
// test can change the file system at a known moment and then send SIGCONT
// (and any other signal). Points: "lock" (WriteLock, file opened, not yet
// locked), "extract-file" (an extracted file made, not yet written),
// "output" (a command's temporary output made), "source" (the parallel
// build: a source opened and its size taken, not yet read).
void TestPause(const char* point);

// An output that appears under its final name only when it is complete.
// Create() makes an empty temporary file in the target's folder (so the final
// rename stays on one file system); Commit() renames it over the target.
// A TempOutput destroyed without a successful Commit() deletes its file. While
// it exists, SIGINT, SIGTERM and SIGHUP delete it too before the process ends, so an
// interrupted command leaves neither a partial target nor a stray temporary.
// A run killed outright (SIGKILL, power loss) can leave the temporary file
// (NAME.qorpack-XXXXXX beside the target, NAME cut to 40 bytes), never a
// partial target. POSIX: a target that is a symbolic link is written through
// it (the linked file is replaced, the link stays); a file replaced keeps its
// owner and group where the run may set them, and a note says when other hard
// links of it keep the old contents.
class TempOutput {
public:
    TempOutput() = default;
    ~TempOutput();
    TempOutput(const TempOutput&) = delete;
    TempOutput& operator=(const TempOutput&) = delete;

    // False with a message when no temporary file can be made next to target.
    bool Create(const std::string& target, std::string* error);
    // A path that opens the temporary file; POSIX: through the open folder
    // (/proc/self/fd/N/NAME) when the full path would not fit 260 bytes.
    const std::string& Path() const { return temp_; }
    // Gives the temporary file the permission bits of `like` (POSIX; no-op on Windows).
    void CopyModeFrom(const char* like);
    // Renames the temporary file over the target. False with a message; the
    // temporary file is then still removed by the destructor.
    bool Commit(std::string* error);

private:
    std::string target_;
    std::string temp_;
    bool committed_ = false;
#ifndef _WIN32
    int dirFd_ = -1;
    int slot_ = -1;
    std::string tempName_, targetName_;
    int mode_ = -1;  // set by CopyModeFrom
#endif
};

// A path of at most 259 bytes that opens `path`, for the engine's 260-byte
// path buffers: `path` itself when it fits; POSIX otherwise the file's
// folder is held open and the path goes through it (/proc/self/fd/N/NAME),
// so an archive deep in a build tree opens where it was written.
class ShortPath {
public:
    ShortPath() = default;
    ~ShortPath();
    ShortPath(const ShortPath&) = delete;
    ShortPath& operator=(const ShortPath&) = delete;

    // False with a message when the folder cannot be opened or even the
    // short form does not fit (a name of more than about 235 bytes).
    bool Open(const std::string& path, std::string* error);
    const std::string& Get() const { return short_; }

private:
    std::string short_;
    int dirFd_ = -1;
};

// A one-line progress report on stderr, shown only when stderr is a terminal.
class ProgressLine {
public:
    explicit ProgressLine(const char* verb);
    ~ProgressLine();
    void Update(unsigned long done, unsigned long total, const std::string& item);
    void Finish();

private:
    const char* verb_;
    bool active_;
    bool shown_ = false;
};

}  // namespace qorpack
