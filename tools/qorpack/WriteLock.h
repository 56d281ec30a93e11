// An exclusive lock on a file that a command rewrites (an archive, a setup,
// a build's output), so that two runs on one file cannot both read the old
// file and one of them lose the other's change. The lock is advisory: it
// orders qorpack runs; StillCurrent catches a file replaced by anything else.
// POSIX: flock on the file (a run that waited on a file since replaced locks
// the new one). Windows: a named mutex keyed by the full path, since a file
// held open by a waiting run could not be replaced.
#pragma once

#include <cstdint>
#include <string>

namespace qorpack {

class WriteLock {
public:
    // What the run expects at the path.
    enum class Target {
        kExisting,     // a file that must exist
        kPlaceholder,  // made empty when missing (to the engine an empty archive)
        kMayBeMissing  // nothing is made: a missing file is locked through its folder
    };

    WriteLock() = default;
    ~WriteLock();
    WriteLock(const WriteLock&) = delete;
    WriteLock& operator=(const WriteLock&) = delete;

    // Locks `path`, waiting (with a note on stderr) while another run holds
    // it. Anything at the path that is not a regular file (a device, a FIFO,
    // a folder) is refused. kPlaceholder: a missing file is first made empty;
    // that placeholder is removed again on failure, on an interrupt, and by
    // the destructor unless BeforeReplace was called, and only while the path
    // still names it. kMayBeMissing: a missing file stays missing (nothing a
    // reader could take for an archive appears); POSIX: the folder is locked
    // instead, so two runs making the same new file wait for each other, and
    // a run that waited locks the file the other one made. False with a message.
    bool Acquire(const std::string& path, Target target, std::string* error);
    bool Acquire(const std::string& path, bool create, std::string* error) {
        return Acquire(path, create ? Target::kPlaceholder : Target::kExisting, error);
    }
    // True when the path still names the file that was locked (or, for a
    // file that was missing, still names nothing).
    bool StillCurrent(std::string* error) const;
    // Whether Acquire made the placeholder.
    bool Created() const { return created_; }
    // Whether the file was missing (kMayBeMissing) and nothing was made.
    bool Missing() const { return missing_; }
    // Call just before the new file is renamed over the locked one: the
    // placeholder is then no longer ours to remove.
    void BeforeReplace();

private:
    void Close();
    void DropPlaceholder();
    std::string path_;
    void* handle_ = nullptr;  // the mutex on Windows; a file descriptor + 1 elsewhere
    bool created_ = false;
    bool missing_ = false;
    bool keep_ = false;
    int dirFd_ =
        -1;  // POSIX: the folder of the placeholder, or the folder locked for a missing file
    int slot_ = -1;               // POSIX: the signal handler's entry for the placeholder
    uint64_t id1_ = 0, id2_ = 0;  // device and inode / volume and file index
};

}  // namespace qorpack
