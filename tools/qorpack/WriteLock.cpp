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

void WriteLock::DropPlaceholder() {
    if (created_ && !keep_) {
        uint64_t a, b;
        if (PathIdentity(path_, &a, &b) && a == id1_ && b == id2_) DeleteFileA(path_.c_str());
        UnregisterPending(path_);
    }
    created_ = false;
}

bool WriteLock::Acquire(const std::string& path, Target target, std::string* error) {
    path_ = path;
    const bool create = target == Target::kPlaceholder;
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
        DWORD a = GetFileAttributesA(path.c_str());
        if (target == Target::kMayBeMissing && a == INVALID_FILE_ATTRIBUTES &&
            (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND)) {
            missing_ = true;
            return true;
        }
        *error = "cannot open '" + path + "'";
        return false;
    }
    if (GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY) {
        *error = "'" + path + "' is not a regular file; only regular files are written";
        return false;
    }
    return true;
}

bool WriteLock::StillCurrent(std::string* error) const {
    uint64_t a, b;
    const bool there = PathIdentity(path_, &a, &b);
    if (missing_ ? !there : (there && a == id1_ && b == id2_)) return true;
    *error = "'" + path_ + "' was " + (missing_ ? "made" : "replaced") +
             " by another program while this run worked on it; nothing was written";
    return false;
}

#else  // POSIX

namespace {
constexpr int kMaxAttempts = 100;  // replaced files followed before giving up
int Fd(void* h) { return static_cast<int>(reinterpret_cast<intptr_t>(h)) - 1; }
void* Handle(int fd) { return reinterpret_cast<void*>(static_cast<intptr_t>(fd) + 1); }

std::string NameOf(const std::string& path) {
    size_t cut = path.find_last_of('/');
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

// Waits for an exclusive flock on fd, with one note on stderr.
bool LockFd(int fd, const std::string& path, bool* noted, std::string* error) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (!*noted)
        fprintf(stderr, "qorpack: waiting for another run to finish with '%s'\n", path.c_str());
    *noted = true;
    while (flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            *error = "cannot lock '" + path + "': " + LastErrorText();
            return false;
        }
    }
    return true;
}
}  // namespace

void WriteLock::Close() {
    if (handle_) close(Fd(handle_));
    handle_ = nullptr;
    if (dirFd_ >= 0) close(dirFd_);
    dirFd_ = -1;
}

// Removes the placeholder this run made, through its folder and only while
// the name still names it; forgets it either way (the folder stays open
// until Close).
void WriteLock::DropPlaceholder() {
    if (created_ && !keep_ && dirFd_ >= 0) {
        const std::string name = NameOf(path_);
        struct stat st;
        if (fstatat(dirFd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            static_cast<uint64_t>(st.st_dev) == id1_ && static_cast<uint64_t>(st.st_ino) == id2_)
            unlinkat(dirFd_, name.c_str(), 0);
    }
    UnregisterPendingSlot(slot_);
    slot_ = -1;
    created_ = false;
}

bool WriteLock::Acquire(const std::string& path, Target target, std::string* error) {
    path_ = path;
    bool noted = false;
    const std::string dir = DirectoryOf(path);
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        int fd = -1;
        if (target == Target::kPlaceholder) {
            int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (dfd < 0) {
                *error = "cannot open the folder of '" + path + "': " + LastErrorText();
                return false;
            }
            SignalsHeld held;
            // 0666 less the umask: the mode a new archive keeps.
            fd = openat(dfd, NameOf(path).c_str(),
                        O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
            if (fd >= 0) {
                struct stat st;
                fstat(fd, &st);
                created_ = true;
                dirFd_ = dfd;
                id1_ = static_cast<uint64_t>(st.st_dev);
                id2_ = static_cast<uint64_t>(st.st_ino);
                slot_ = RegisterPendingAt(dfd, NameOf(path), path, false);
            } else {
                const int why = errno;
                close(dfd);
                if (why != EEXIST) {
                    errno = why;
                    *error = "cannot create '" + path + "': " + LastErrorText();
                    return false;
                }
            }
        }
        // O_NONBLOCK: a FIFO at the path must not hang the run before it is refused.
        if (fd < 0) fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0 && errno == ENOENT && target == Target::kPlaceholder) continue;
        if (fd < 0 && errno == ENOENT && target == Target::kMayBeMissing) {
            // Nothing to lock yet: the folder stands for the file to come.
            int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (dfd < 0) {
                *error = "cannot open the folder of '" + path + "': " + LastErrorText();
                return false;
            }
            handle_ = Handle(dfd);
            TestPause("lock");
            if (!LockFd(dfd, path, &noted, error)) return false;
            struct stat st;
            if (stat(path.c_str(), &st) != 0 && errno == ENOENT) {
                missing_ = true;
                return true;
            }
            Close();  // made meanwhile by the run we waited for: lock that file
            continue;
        }
        if (fd < 0) {
            *error = "cannot open '" + path + "' to lock it: " + LastErrorText();
            return false;
        }
        handle_ = Handle(fd);
        struct stat held;
        if (fstat(fd, &held) != 0 || !S_ISREG(held.st_mode)) {
            *error = "'" + path + "' is not a regular file (" +
                     (S_ISDIR(held.st_mode)                            ? "a folder"
                      : S_ISFIFO(held.st_mode)                         ? "a FIFO"
                      : S_ISCHR(held.st_mode) || S_ISBLK(held.st_mode) ? "a device"
                                                                       : "not a file") +
                     "); only regular files are written";
            Close();
            return false;
        }
        TestPause("lock");
        if (!LockFd(fd, path, &noted, error)) return false;
        struct stat named;
        if (fstat(fd, &held) == 0 && stat(path.c_str(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
            id1_ = static_cast<uint64_t>(held.st_dev);
            id2_ = static_cast<uint64_t>(held.st_ino);
            return true;
        }
        // The run we waited for replaced (or removed) the file: lock what is
        // there now. A placeholder of ours it replaced is gone and no longer
        // ours: forgetting it keeps the destructor off the other run's file.
        DropPlaceholder();
        Close();
        if (target == Target::kExisting && !PathExists(path.c_str())) {
            *error = "'" + path + "' was removed while this run waited for it";
            return false;
        }
    }
    *error = "'" + path + "' keeps being replaced; cannot lock it";
    return false;
}

bool WriteLock::StillCurrent(std::string* error) const {
    struct stat st;
    if (missing_) {
        if (stat(path_.c_str(), &st) != 0 && errno == ENOENT) return true;
        *error = "'" + path_ + "' was made by another program while this run worked; " +
                 "nothing was written";
        return false;
    }
    if (stat(path_.c_str(), &st) == 0 && static_cast<uint64_t>(st.st_dev) == id1_ &&
        static_cast<uint64_t>(st.st_ino) == id2_)
        return true;
    *error = "'" + path_ + "' was replaced by another program while this run worked on it; " +
             "nothing was written";
    return false;
}

#endif

void WriteLock::BeforeReplace() {
    keep_ = true;
#ifdef _WIN32
    if (created_) UnregisterPending(path_);
#else
    UnregisterPendingSlot(slot_);
    slot_ = -1;
#endif
}

WriteLock::~WriteLock() {
    // A placeholder this run made goes again, unless another file took its place.
    DropPlaceholder();
    Close();
}

}  // namespace qorpack
