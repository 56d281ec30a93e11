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
    WriteLock() = default;
    ~WriteLock();
    WriteLock(const WriteLock&) = delete;
    WriteLock& operator=(const WriteLock&) = delete;

    // Locks `path`, waiting (with a note on stderr) while another run holds
    // it. With `create`, a missing file is first made empty (to the engine an
    // empty archive); that placeholder is removed again on failure, on an
    // interrupt, and by the destructor unless KeepCreated was called.
    // False with a message.
    bool Acquire(const std::string& path, bool create, std::string* error);
    // True when the path still names the file that was locked.
    bool StillCurrent(std::string* error) const;
    // Whether Acquire made the file.
    bool Created() const { return created_; }
    // Call just before the new file is renamed over the locked one: the
    // placeholder is then no longer ours to remove.
    void BeforeReplace();

private:
    void Close();
    std::string path_;
    void* handle_ = nullptr;  // the mutex on Windows; a file descriptor + 1 elsewhere
    bool created_ = false;
    bool keep_ = false;
    uint64_t id1_ = 0, id2_ = 0;  // device and inode / volume and file index
};

}  // namespace qorpack
