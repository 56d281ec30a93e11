#include "WriteLock.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "FileOps.h"
#include "contract/AsciiCase.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace qorpack {

#ifdef _WIN32

// Windows cannot replace a file another process holds open, and a waiting run
// would hold it: the lock is a named mutex keyed by the file's full path.
namespace {

bool PathIdentity(const std::string& path, uint64_t* a, uint64_t* b) {
    HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    bool ok = GetFileInformationByHandle(h, &info) != 0;
    CloseHandle(h);
    if (!ok) return false;
    *a = info.dwVolumeSerialNumber;
    *b = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}

// "Local\qorpack-lock-" and a 64-bit FNV-1a hash of the lower-cased full path.
bool MutexName(const std::string& path, std::string* name) {
    char full[MAX_PATH];
    DWORD n = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    if (n == 0 || n >= MAX_PATH) return false;
    uint64_t h = 14695981039346656037ull;
    for (DWORD i = 0; i < n; ++i) {
        char c = qor_case::FoldAscii(full[i]);
        if (c == '/') c = '\\';
        h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    }
    char buf[64];
    snprintf(buf, sizeof buf, "Local\\qorpack-lock-%016llx", static_cast<unsigned long long>(h));
    *name = buf;
    return true;
}

}  // namespace

void WriteLock::Close() {
    if (handle_) {
        ReleaseMutex(static_cast<HANDLE>(handle_));
        CloseHandle(static_cast<HANDLE>(handle_));
    }
    handle_ = nullptr;
}

bool WriteLock::Acquire(const std::string& path, bool create, std::string* error) {
    path_ = path;
    std::string name;
    if (!MutexName(path, &name)) {
        *error = "the path '" + path + "' is too long";
        return false;
    }
    HANDLE m = CreateMutexA(nullptr, FALSE, name.c_str());
    if (!m) {
        *error = "cannot lock '" + path + "'";
        return false;
    }
    DWORD r = WaitForSingleObject(m, 0);
    if (r == WAIT_TIMEOUT) {
        fprintf(stderr, "qorpack: waiting for another run to finish with '%s'\n", path.c_str());
        r = WaitForSingleObject(m, INFINITE);
    }
    // An abandoned mutex (a run that was killed) is ours all the same.
    if (r != WAIT_OBJECT_0 && r != WAIT_ABANDONED) {
        CloseHandle(m);
        *error = "cannot lock '" + path + "'";
        return false;
    }
    handle_ = m;
    if (create) {
        HANDLE h = CreateFileA(path.c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            CloseHandle(h);
            created_ = true;
            RegisterPending(path);
        } else if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) {
            *error = "cannot create '" + path + "'";
            return false;
        }
    }
    if (!PathIdentity(path, &id1_, &id2_)) {
        *error = "cannot open '" + path + "'";
        return false;
    }
    return true;
}

#else  // POSIX

namespace {
constexpr int kMaxAttempts = 100;  // replaced files followed before giving up
int Fd(void* h) { return static_cast<int>(reinterpret_cast<intptr_t>(h)) - 1; }
void* Handle(int fd) { return reinterpret_cast<void*>(static_cast<intptr_t>(fd) + 1); }

bool PathIdentity(const std::string& path, uint64_t* a, uint64_t* b) {
    struct stat named;
    if (stat(path.c_str(), &named) != 0) return false;
    *a = static_cast<uint64_t>(named.st_dev);
    *b = static_cast<uint64_t>(named.st_ino);
    return true;
}
}  // namespace

void WriteLock::Close() {
    if (handle_) close(Fd(handle_));
    handle_ = nullptr;
}

bool WriteLock::Acquire(const std::string& path, bool create, std::string* error) {
    path_ = path;
    bool noted = false;
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        int fd = -1;
        bool made = false;
        if (create) {
            // 0666 less the umask: the mode a new archive keeps.
            fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            made = fd >= 0;
            if (fd < 0 && errno != EEXIST) {
                *error = "cannot create '" + path + "': " + LastErrorText();
                return false;
            }
        }
        if (fd < 0) fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            if (create && errno == ENOENT) continue;  // removed meanwhile: create it
            *error = "cannot open '" + path + "' to lock it: " + LastErrorText();
            return false;
        }
        handle_ = Handle(fd);
        if (made) {
            created_ = true;
            RegisterPending(path);
        }
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            if (!noted)
                fprintf(stderr, "qorpack: waiting for another run to finish with '%s'\n",
                        path.c_str());
            noted = true;
            while (flock(fd, LOCK_EX) != 0) {
                if (errno != EINTR) {
                    *error = "cannot lock '" + path + "': " + LastErrorText();
                    return false;
                }
            }
        }
        struct stat held, named;
        if (fstat(fd, &held) == 0 && stat(path.c_str(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
            id1_ = static_cast<uint64_t>(held.st_dev);
            id2_ = static_cast<uint64_t>(held.st_ino);
            return true;
        }
        // The run we waited for replaced (or removed) the file: lock what is there now.
        Close();
        if (!create && !PathExists(path.c_str())) {
            *error = "'" + path + "' was removed while this run waited for it";
            return false;
        }
    }
    *error = "'" + path + "' keeps being replaced; cannot lock it";
    return false;
}

#endif

bool WriteLock::StillCurrent(std::string* error) const {
    uint64_t a, b;
    if (PathIdentity(path_, &a, &b) && a == id1_ && b == id2_) return true;
    *error = "'" + path_ + "' was replaced by another program while this run worked on it; " +
             "nothing was written";
    return false;
}

void WriteLock::BeforeReplace() {
    keep_ = true;
    if (created_) UnregisterPending(path_);
}

WriteLock::~WriteLock() {
    // A file this run created for its lock goes again, unless another took its place.
    if (created_ && !keep_) {
        uint64_t a, b;
        if (PathIdentity(path_, &a, &b) && a == id1_ && b == id2_) std::remove(path_.c_str());
        UnregisterPending(path_);
    }
    Close();
}

}  // namespace qorpack
