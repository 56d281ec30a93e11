#include "SafeExtract.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include "FileOps.h"
#include "contract/RelativeName.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace qorpack {

namespace {

// Splits a stored name into its steps; false unless it stays below its folder.
bool SplitSteps(const std::string& stored, std::vector<std::string>* steps) {
    if (CheckRelativeName(stored.data(), stored.size()) != RelativeNameVerdict::Below) return false;
    size_t start = 0;
    for (;;) {
        size_t end = stored.find_first_of("\\/", start);
        steps->push_back(stored.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos) return true;
        start = end + 1;
    }
}

#ifdef _WIN32
std::string SystemErrorText(DWORD code) {
    char buf[256];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             code, 0, buf, sizeof buf, nullptr);
    while (n > 0 && (buf[n - 1] == '\n' || buf[n - 1] == '\r' || buf[n - 1] == '.')) --n;
    return n ? std::string(buf, n) : "error " + std::to_string(code);
}
#else
int Fd(void* h) { return static_cast<int>(reinterpret_cast<intptr_t>(h)) - 1; }
void* Handle(int fd) { return reinterpret_cast<void*>(static_cast<intptr_t>(fd) + 1); }
void CloseFd(void** h) {
    if (*h) close(Fd(*h));
    *h = nullptr;
}
#endif

}  // namespace

bool SafeDestination::Fail(const std::string& what, std::string* error) {
    *error = what;
    Abandon();
    return false;
}

#ifdef _WIN32

SafeDestination::~SafeDestination() { Abandon(); }

bool SafeDestination::Open(const std::string& dir, std::string* error) {
    if (!MakeDirectories(dir, error)) return false;
    dir_ = dir;
    return true;
}

bool SafeDestination::Begin(const std::string& stored, std::string* error) {
    Abandon();
    std::vector<std::string> steps;
    if (!SplitSteps(stored, &steps))
        return Fail("its name has a drive, an empty, '.' or '..' step", error);
    std::string cur = dir_;
    for (size_t i = 0; i + 1 < steps.size(); ++i) {
        cur = JoinPath(cur, steps[i]);
        if (cur.size() >= MAX_PATH) return Fail("the path '" + cur + "' is too long", error);
        DWORD a = GetFileAttributesA(cur.c_str());
        if (a == INVALID_FILE_ATTRIBUTES) {
            if (!CreateDirectoryA(cur.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
                return Fail(
                    "cannot create folder '" + cur + "': " + SystemErrorText(GetLastError()),
                    error);
            a = GetFileAttributesA(cur.c_str());
        }
        if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT))
            return Fail("'" + cur + "' is a link or junction; links are not followed", error);
        if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY))
            return Fail("a parent, '" + cur + "', is a file, not a folder", error);
    }
    target_ = JoinPath(cur, steps.back());
    tempPath_ = JoinPath(cur, ".qorpack-" + std::to_string(GetCurrentProcessId()) + "-" +
                                  std::to_string(++serial_) + ".tmp");
    if (target_.size() >= MAX_PATH || tempPath_.size() >= MAX_PATH)
        return Fail("the path '" + target_ + "' is too long", error);
    DWORD a = GetFileAttributesA(target_.c_str());
    if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT))
        return Fail("'" + target_ + "' is a link; links are not followed", error);
    if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY))
        return Fail("'" + target_ + "' is a folder", error);
    // DELETE access: an interrupt, or a failure, removes the file through
    // this handle, whatever has been renamed meanwhile (and sharing deletion
    // lets it be renamed into place while open).
    HANDLE h = CreateFileA(tempPath_.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_DELETE, nullptr,
                           CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        tempPath_.clear();
        return Fail("cannot create a file in '" + cur + "': " + SystemErrorText(GetLastError()),
                    error);
    }
    PendingHeld hold;
    file_ = h;
    slot_ = RegisterPendingHandle(h, tempPath_);
    return true;
}

bool SafeDestination::Write(const void* data, size_t n, std::string* error) {
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
        DWORD put = 0, want = n > (1u << 30) ? (1u << 30) : static_cast<DWORD>(n);
        if (!WriteFile(static_cast<HANDLE>(file_), p, want, &put, nullptr) || put == 0)
            return Fail("cannot write '" + target_ + "': " + SystemErrorText(GetLastError()),
                        error);
        p += put;
        n -= put;
    }
    return true;
}

bool SafeDestination::Finish(uint64_t fileTime, std::string* error) {
    HANDLE h = static_cast<HANDLE>(file_);
    if (fileTime) {
        FILETIME ft;
        ft.dwLowDateTime = static_cast<DWORD>(fileTime);
        ft.dwHighDateTime = static_cast<DWORD>(fileTime >> 32);
        SetFileTime(h, nullptr, nullptr, &ft);
    }
    DWORD attrs = GetFileAttributesA(target_.c_str());
    if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesA(target_.c_str(), attrs & ~FILE_ATTRIBUTE_READONLY);
    {
        // Renamed while still open, so a failure still removes it through
        // its handle; the handler waits until it is in place and forgotten.
        PendingHeld hold;
        if (!MoveFileExA(tempPath_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
            DWORD code = GetLastError();
            if (attrs != INVALID_FILE_ATTRIBUTES) SetFileAttributesA(target_.c_str(), attrs);
            return Fail("cannot put '" + target_ + "' in place: " + SystemErrorText(code), error);
        }
        UnregisterPendingSlot(slot_);
        slot_ = -1;
        file_ = nullptr;
        tempPath_.clear();
    }
    if (!CloseHandle(h))
        return Fail("cannot write '" + target_ + "': " + SystemErrorText(GetLastError()), error);
    return true;
}

void SafeDestination::Abandon() {
    PendingHeld hold;
    if (file_ && !tempPath_.empty()) DeleteThroughHandle(file_);
    UnregisterPendingSlot(slot_);
    slot_ = -1;
    if (file_) CloseHandle(static_cast<HANDLE>(file_));
    file_ = nullptr;
    tempPath_.clear();
}

#else  // POSIX

SafeDestination::~SafeDestination() {
    Abandon();
    CloseFd(&parent_);
    CloseFd(&root_);
}

// Opens the folder of the file `steps` names, step by step, never following a
// link; creates missing folders.
bool SafeDestination::OpenFolder(const std::vector<std::string>& steps, int* out,
                                 std::string* error) {
    int fd = dup(Fd(root_));
    if (fd < 0) {
        *error = "cannot open folder '" + dir_ + "': " + LastErrorText();
        return false;
    }
    std::string shown = dir_;
    for (size_t i = 0; i + 1 < steps.size(); ++i) {
        const std::string& step = steps[i];
        shown = JoinPath(shown, step);
        int next = openat(fd, step.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0 && errno == ENOENT) {
            if (mkdirat(fd, step.c_str(), 0777) != 0 && errno != EEXIST) {
                *error = "cannot create folder '" + shown + "': " + LastErrorText();
                close(fd);
                return false;
            }
            next = openat(fd, step.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        if (next < 0) {
            int saved = errno;
            struct stat st;
            if (fstatat(fd, step.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
                *error = "'" + shown + "' is a symbolic link; links are not followed";
            else if (saved == ENOTDIR)
                *error = "a parent, '" + shown + "', is a file, not a folder";
            else
                *error = "cannot open folder '" + shown + "': " + strerror(saved);
            close(fd);
            return false;
        }
        close(fd);
        fd = next;
    }
    *out = fd;
    return true;
}

bool SafeDestination::Open(const std::string& dir, std::string* error) {
    if (!MakeDirectories(dir, error)) return false;
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        *error = "cannot open folder '" + dir + "': " + LastErrorText();
        return false;
    }
    dir_ = dir;
    root_ = Handle(fd);
    return true;
}

bool SafeDestination::Begin(const std::string& stored, std::string* error) {
    Abandon();
    std::vector<std::string> steps;
    if (!SplitSteps(stored, &steps))
        return Fail("its name has a drive, an empty, '.' or '..' step", error);
    std::string shown = dir_, folder;
    for (size_t i = 0; i + 1 < steps.size(); ++i) {
        shown = JoinPath(shown, steps[i]);
        folder += steps[i] + '\\';
    }
    // Entries come folder by folder: the folder of the last one is kept open.
    if (!parent_ || folder != parentKey_) {
        CloseFd(&parent_);
        int fd = -1;
        if (!OpenFolder(steps, &fd, error)) return Fail(*error, error);
        parent_ = Handle(fd);
        parentKey_ = folder;
    }
    int fd = Fd(parent_);
    finalName_ = steps.back();
    target_ = JoinPath(shown, finalName_);
    struct stat st;
    const bool exists = fstatat(fd, finalName_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    if (exists) {
        if (S_ISLNK(st.st_mode))
            return Fail("'" + target_ + "' is a symbolic link; links are not followed", error);
        if (S_ISDIR(st.st_mode)) return Fail("'" + target_ + "' is a folder", error);
    }
    // Nothing there to keep: the file is made under its own name (O_EXCL, so
    // never someone else's) and removed again on failure, sparing the rename.
    if (exists || errno != ENOENT) {
        if (!pid_) pid_ = getpid();
        tempName_ = ".qorpack-" + std::to_string(pid_) + "-" + std::to_string(++serial_) + ".tmp";
    } else {
        tempName_ = finalName_;
    }
    tempPath_ = JoinPath(shown, tempName_);
    int out =
        openat(fd, tempName_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (out < 0) {
        std::string why = LastErrorText();
        tempPath_.clear();
        return Fail("cannot create a file in '" + shown + "': " + why, error);
    }
    file_ = Handle(out);
    // Registered once made (an interrupt in between leaves an empty file, never
    // removes another's), by the folder held open, never by its path; without
    // the identity check, which would cost a system call per entry.
    slot_ = RegisterPendingAt(fd, tempName_, tempPath_, false, false);
    TestPause("extract-file");
    return true;
}

bool SafeDestination::Write(const void* data, size_t n, std::string* error) {
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
        ssize_t put = write(Fd(file_), p, n);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return Fail("cannot write '" + target_ + "': " + LastErrorText(), error);
        p += put;
        n -= static_cast<size_t>(put);
    }
    return true;
}

bool SafeDestination::Finish(uint64_t fileTime, std::string* error) {
    int fd = Fd(file_);
    if (fileTime) {
        // FILETIME counts 100 ns from 1601; the Unix epoch is 11644473600 s later.
        int64_t ticks = static_cast<int64_t>(fileTime);
        struct timespec times[2];
        times[0].tv_sec = 0;
        times[0].tv_nsec = UTIME_OMIT;
        times[1].tv_sec = static_cast<time_t>(ticks / 10000000 - 11644473600LL);
        times[1].tv_nsec = static_cast<long>(ticks % 10000000) * 100;
        futimens(fd, times);
    }
    file_ = nullptr;
    if (close(fd) != 0) return Fail("cannot write '" + target_ + "': " + LastErrorText(), error);
    if (tempName_ != finalName_ &&
        renameat(Fd(parent_), tempName_.c_str(), Fd(parent_), finalName_.c_str()) != 0)
        return Fail("cannot put '" + target_ + "' in place: " + LastErrorText(), error);
    UnregisterPendingSlot(slot_);
    slot_ = -1;
    tempPath_.clear();
    return true;
}

void SafeDestination::Abandon() {
    CloseFd(&file_);
    if (!tempPath_.empty()) {
        UnregisterPendingSlot(slot_);
        slot_ = -1;
        if (parent_) unlinkat(Fd(parent_), tempName_.c_str(), 0);
        tempPath_.clear();
    }
}

#endif

}  // namespace qorpack
