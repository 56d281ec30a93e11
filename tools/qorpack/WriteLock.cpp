#include "WriteLock.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "FileOps.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace qorpack {

namespace {
constexpr int kMaxAttempts = 100;  // replaced files followed before giving up
}

#ifdef _WIN32

namespace {
// A byte far past any end of file: locking it keeps other readers unhindered.
constexpr DWORD kLockOffsetLow = 0xFFFFFFFEu, kLockOffsetHigh = 0x7FFFFFFFu;

bool Identity(HANDLE h, uint64_t* a, uint64_t* b) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info)) return false;
    *a = info.dwVolumeSerialNumber;
    *b = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}

bool PathIdentity(const std::string& path, uint64_t* a, uint64_t* b) {
    HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool ok = Identity(h, a, b);
    CloseHandle(h);
    return ok;
}
}  // namespace

void WriteLock::Close() {
    if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
}

bool WriteLock::Acquire(const std::string& path, bool create, std::string* error) {
    path_ = path;
    bool noted = false;
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
        HANDLE h = INVALID_HANDLE_VALUE;
        bool made = false;
        if (create) {
            // Read access only: the engine opens the file with read sharing alone.
            h = CreateFileA(path.c_str(), GENERIC_READ, share, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
            made = h != INVALID_HANDLE_VALUE;
            if (!made && GetLastError() != ERROR_FILE_EXISTS &&
                GetLastError() != ERROR_ALREADY_EXISTS) {
                *error = "cannot create '" + path + "'";
                return false;
            }
        }
        if (h == INVALID_HANDLE_VALUE)
            h = CreateFileA(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            if (create && GetLastError() == ERROR_FILE_NOT_FOUND) continue;
            *error = "cannot open '" + path + "' to lock it";
            return false;
        }
        handle_ = h;
        if (made) {
            created_ = true;
            RegisterPending(path);
        }
        OVERLAPPED ov;
        memset(&ov, 0, sizeof ov);
        ov.Offset = kLockOffsetLow;
        ov.OffsetHigh = kLockOffsetHigh;
        if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &ov)) {
            if (!noted)
                fprintf(stderr, "qorpack: waiting for another run to finish with '%s'\n",
                        path.c_str());
            noted = true;
            memset(&ov, 0, sizeof ov);
            ov.Offset = kLockOffsetLow;
            ov.OffsetHigh = kLockOffsetHigh;
            if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &ov)) {
                *error = "cannot lock '" + path + "'";
                return false;
            }
        }
        uint64_t a, b, pa, pb;
        if (Identity(h, &a, &b) && PathIdentity(path, &pa, &pb) && a == pa && b == pb) {
            id1_ = a;
            id2_ = b;
            return true;
        }
        // The run we waited for replaced the file: lock the new one.
        Close();
    }
    *error = "'" + path + "' keeps being replaced; cannot lock it";
    return false;
}

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
    Close();
}

WriteLock::~WriteLock() {
    if (created_ && !keep_) {
        uint64_t a, b;
        if (PathIdentity(path_, &a, &b) && a == id1_ && b == id2_) DeleteFileA(path_.c_str());
        UnregisterPending(path_);
    }
    Close();
}

#else  // POSIX

namespace {
int Fd(void* h) { return static_cast<int>(reinterpret_cast<intptr_t>(h)) - 1; }
void* Handle(int fd) { return reinterpret_cast<void*>(static_cast<intptr_t>(fd) + 1); }
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

bool WriteLock::StillCurrent(std::string* error) const {
    struct stat named;
    if (stat(path_.c_str(), &named) == 0 && static_cast<uint64_t>(named.st_dev) == id1_ &&
        static_cast<uint64_t>(named.st_ino) == id2_)
        return true;
    *error = "'" + path_ + "' was replaced by another program while this run worked on it; " +
             "nothing was written";
    return false;
}

void WriteLock::BeforeReplace() {
    keep_ = true;
    if (created_) UnregisterPending(path_);
}

WriteLock::~WriteLock() {
    if (created_ && !keep_) {
        struct stat named;
        if (stat(path_.c_str(), &named) == 0 && static_cast<uint64_t>(named.st_dev) == id1_ &&
            static_cast<uint64_t>(named.st_ino) == id2_)
            unlink(path_.c_str());
        UnregisterPending(path_);
    }
    Close();
}

#endif

}  // namespace qorpack
