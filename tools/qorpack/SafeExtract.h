// Writing extracted files below a destination folder without ever leaving it
// and without ever losing the file already there:
//   - every folder step below the destination is entered without following a
//     symbolic link (POSIX: openat with O_NOFOLLOW; Windows: a reparse point
//     is refused), and a link where the file itself goes is refused too;
//   - each file is written under a temporary name in its own folder and
//     renamed over the old one only once it is complete; on any failure, or
//     an interrupt, the temporary file is removed and the old file is intact.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qorpack {

class SafeDestination {
public:
    SafeDestination() = default;
    ~SafeDestination();
    SafeDestination(const SafeDestination&) = delete;
    SafeDestination& operator=(const SafeDestination&) = delete;

    // Creates the folder when missing and opens it. False with a message.
    bool Open(const std::string& dir, std::string* error);

    // Starts the file at `stored` (steps separated by backslashes) below the
    // folder, creating missing folders. False with a message naming the cause.
    bool Begin(const std::string& stored, std::string* error);
    bool Write(const void* data, size_t n, std::string* error);
    // Gives the file its time stamp (FILETIME ticks; 0 leaves it) and renames
    // it into place.
    bool Finish(uint64_t fileTime, std::string* error);
    // Drops a file begun and not finished.
    void Abandon();

private:
    bool Fail(const std::string& what, std::string* error);
    bool OpenFolder(const std::vector<std::string>& steps, int* fd, std::string* error);
    std::string dir_;
    std::string target_;    // display / full path of the file being written
    std::string tempPath_;  // full path of its temporary file
    std::string tempName_, finalName_;
    void* root_ = nullptr;    // POSIX: fd + 1 of the destination folder
    void* parent_ = nullptr;  // POSIX: fd + 1 of the file's folder, kept for the next file
    std::string parentKey_;   // the steps that led to parent_
    void* file_ = nullptr;    // fd + 1 / HANDLE of the temporary file
    int slot_ = -1;           // the interrupt handler's entry for the file being written
    unsigned serial_ = 0;
    long pid_ = 0;  // for temporary names, asked once
};

}  // namespace qorpack
