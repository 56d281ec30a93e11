// FileLayerPosix.cpp: the file layer over POSIX calls (the native build of the
// engine, used by qorpack and the tests). The mapping to Windows semantics is
// described in FileLayer.h. Divisions: path conversion, handles, files by
// path, temporary names and the prompt, the call tables.
#include "archive/FileLayer.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qfl {
namespace {

// ---- path conversion: stored names use backslashes, the file system '/' ----

constexpr size_t kNativePathMax = PATH_MAX;

bool ToNative(const char* path, char* out) {
    if (!path || !*path) return false;
    size_t i = 0;
    for (; path[i]; ++i) {
        if (i + 1 >= kNativePathMax) return false;
        out[i] = path[i] == '\\' ? '/' : path[i];
    }
    out[i] = 0;
    return true;
}

File FromFd(int fd) { return reinterpret_cast<File>(static_cast<intptr_t>(fd)); }
int ToFd(File f) { return static_cast<int>(reinterpret_cast<intptr_t>(f)); }

constexpr mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

// A file without write bits behaves as read-only even for root, as it would
// under Windows for everyone.
bool IsReadOnlyFile(const char* native) {
    struct stat st;
    return stat(native, &st) == 0 && !S_ISDIR(st.st_mode) && (st.st_mode & kWriteBits) == 0;
}

// ---- handles ----

File PosixOpen(const char* path, int intent, uint32_t attributes) {
    char p[kNativePathMax];
    if (!ToNative(path, p)) return InvalidFile();
    int flags = O_CLOEXEC;
    mode_t mode = 0666;
    switch (intent) {
        case kOpenExistingRead:
        case kOpenExistingReadAny:
            flags |= O_RDONLY;
            break;
        case kOpenExistingReadWrite:
            flags |= O_RDWR;
            break;
        case kOpenOrCreateReadWrite:
            flags |= O_RDWR | O_CREAT;
            break;
        case kCreateAlwaysWrite:
            flags |= O_WRONLY | O_CREAT | O_TRUNC;
            if (attributes & kAttrReadOnly) mode = 0444;
            break;
        case kCreateNewWrite:
            flags |= O_WRONLY | O_CREAT | O_EXCL;
            if (attributes & kAttrReadOnly) mode = 0444;
            break;
        default:
            errno = EINVAL;
            return InvalidFile();
    }
    if ((flags & (O_RDWR | O_WRONLY)) && !(flags & O_EXCL) && IsReadOnlyFile(p)) {
        errno = EACCES;
        return InvalidFile();
    }
    int fd;
    do fd = ::open(p, flags, mode);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) return InvalidFile();
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {  // folders are not files here
        ::close(fd);
        errno = EISDIR;
        return InvalidFile();
    }
    return FromFd(fd);
}

bool PosixRead(File f, void* buffer, uint32_t n, uint32_t* got) {
    *got = 0;
    char* b = static_cast<char*>(buffer);
    while (*got < n) {
        ssize_t r = ::read(ToFd(f), b + *got, n - *got);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return false;
        if (r == 0) break;
        *got += static_cast<uint32_t>(r);
    }
    return true;
}

bool PosixWrite(File f, const void* buffer, uint32_t n, uint32_t* put) {
    *put = 0;
    const char* b = static_cast<const char*>(buffer);
    while (*put < n) {
        ssize_t r = ::write(ToFd(f), b + *put, n - *put);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        *put += static_cast<uint32_t>(r);
    }
    return true;
}

bool PosixSeek(File f, uint64_t position) {
    if (position > static_cast<uint64_t>(INT64_MAX)) return false;
    return lseek(ToFd(f), static_cast<off_t>(position), SEEK_SET) >= 0;
}

bool PosixTell(File f, uint64_t* position) {
    off_t p = lseek(ToFd(f), 0, SEEK_CUR);
    if (p < 0) return false;
    *position = static_cast<uint64_t>(p);
    return true;
}

bool PosixSize(File f, uint64_t* size) {
    struct stat st;
    if (fstat(ToFd(f), &st) != 0) return false;
    *size = static_cast<uint64_t>(st.st_size);
    return true;
}

bool PosixTruncate(File f) {
    off_t p = lseek(ToFd(f), 0, SEEK_CUR);
    return p >= 0 && ftruncate(ToFd(f), p) == 0;
}

bool PosixClose(File f) { return ::close(ToFd(f)) == 0; }

// FILETIME counts 100 ns from 1601; Unix time seconds from 1970.
constexpr int64_t kEpochDelta100ns = 116444736000000000LL;

bool PosixGetTime(File f, FILETIME* lastWrite) {
    struct stat st;
    if (fstat(ToFd(f), &st) != 0) return false;
    int64_t t = static_cast<int64_t>(st.st_mtim.tv_sec) * 10000000 + st.st_mtim.tv_nsec / 100 +
                kEpochDelta100ns;
    if (t < 0) t = 0;
    lastWrite->dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(t));
    lastWrite->dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(t) >> 32);
    return true;
}

bool PosixSetTime(File f, const FILETIME* lastWrite) {
    uint64_t ft = static_cast<uint64_t>(lastWrite->dwHighDateTime) << 32 | lastWrite->dwLowDateTime;
    if (ft > static_cast<uint64_t>(INT64_MAX)) return false;
    int64_t t = static_cast<int64_t>(ft) - kEpochDelta100ns;
    int64_t sec = t / 10000000, rem = t % 10000000;
    if (rem < 0) {
        rem += 10000000;
        sec -= 1;
    }
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(sec);
    times[1].tv_nsec = static_cast<long>(rem * 100);
    return futimens(ToFd(f), times) == 0;
}

// ---- files by path ----

bool PosixGetAttributes(const char* path, uint32_t* attributes) {
    char p[kNativePathMax];
    struct stat st;
    if (!ToNative(path, p) || stat(p, &st) != 0) return false;
    if (S_ISDIR(st.st_mode)) {
        *attributes = kAttrDirectory;
    } else {
        *attributes = kAttrArchive;
        if ((st.st_mode & kWriteBits) == 0) *attributes |= kAttrReadOnly;
    }
    return true;
}

bool PosixSetAttributes(const char* path, uint32_t attributes) {
    char p[kNativePathMax];
    struct stat st;
    if (!ToNative(path, p) || stat(p, &st) != 0) return false;
    mode_t mode = st.st_mode & 07777;
    if (attributes & kAttrReadOnly)
        mode &= ~kWriteBits;
    else if ((mode & kWriteBits) == 0)
        mode |= S_IWUSR;
    return chmod(p, mode) == 0;
}

bool PosixRemove(const char* path) {
    char p[kNativePathMax];
    if (!ToNative(path, p)) return false;
    if (IsReadOnlyFile(p)) {  // as DeleteFileA refuses a read-only file
        errno = EACCES;
        return false;
    }
    struct stat st;
    if (stat(p, &st) == 0 && S_ISDIR(st.st_mode)) return false;
    return unlink(p) == 0;
}

// Copies contents, permission bits and modification time; overwrites `to`
// unless it is read-only.
bool PosixCopy(const char* from, const char* to) {
    char s[kNativePathMax], d[kNativePathMax];
    if (!ToNative(from, s) || !ToNative(to, d)) return false;
    if (IsReadOnlyFile(d)) return false;
    int in = ::open(s, O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    struct stat st;
    if (fstat(in, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(in);
        return false;
    }
    int out = ::open(d, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (out < 0) {
        ::close(in);
        return false;
    }
    char* buf = static_cast<char*>(std::malloc(65536));
    bool ok = buf != nullptr;
    while (ok) {
        ssize_t r = ::read(in, buf, 65536);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) ok = false;
        if (r <= 0) break;
        uint32_t put;
        ok = PosixWrite(FromFd(out), buf, static_cast<uint32_t>(r), &put);
    }
    std::free(buf);
    if (ok) {
        struct timespec times[2] = {st.st_atim, st.st_mtim};
        ok = fchmod(out, st.st_mode & 07777) == 0 && futimens(out, times) == 0;
    }
    ok = (::close(out) == 0) && ok;
    ::close(in);
    return ok;
}

bool PosixMakeDirectory(const char* path) {
    char p[kNativePathMax];
    return ToNative(path, p) && mkdir(p, 0777) == 0;
}

// ---- temporary names and the prompt ----

bool PosixMakeTempName(char* buffer) {
    const char* dir = std::getenv("TMPDIR");
    if (!dir || !*dir) dir = "/tmp";
    size_t len = std::strlen(dir);
    while (len > 1 && dir[len - 1] == '/') --len;
    int n = std::snprintf(buffer, kMaxPath, "%.*s/qzfXXXXXX", static_cast<int>(len), dir);
    if (n < 0 || static_cast<size_t>(n) >= kMaxPath) {
        buffer[0] = 0;
        return false;
    }
    int fd = mkstemp(buffer);
    if (fd < 0) {
        buffer[0] = 0;
        return false;
    }
    ::close(fd);
    return true;
}

bool PosixCurrentDirectory(char* buffer, size_t capacity) {
    return getcwd(buffer, capacity) != nullptr;
}

PromptCallback g_prompt = nullptr;
void* g_promptContext = nullptr;

bool PosixAskYesNo(const char* text, const char* caption) {
    return g_prompt ? g_prompt(text, caption, g_promptContext) : false;
}

}  // namespace

// ---- the call tables (constant-initialised) ----

#define QFL_POSIX_CALLS                                                                           \
    {                                                                                             \
        PosixOpen, PosixRead, PosixWrite, PosixSeek, PosixTell, PosixSize, PosixTruncate,         \
            PosixClose, PosixGetTime, PosixSetTime, PosixGetAttributes, PosixSetAttributes,       \
            PosixRemove, PosixCopy, PosixMakeDirectory, PosixMakeTempName, PosixCurrentDirectory, \
            PosixAskYesNo                                                                         \
    }

Calls g_calls = QFL_POSIX_CALLS;
const Calls kDefaultCalls = QFL_POSIX_CALLS;

void SetPromptCallback(PromptCallback callback, void* context) {
    g_prompt = callback;
    g_promptContext = context;
}

char Separator() { return '/'; }
bool CaseInsensitiveNames() { return false; }
bool HasDriveLetters() { return false; }

}  // namespace qfl

namespace qfl {

int SystemError() { return errno; }

void SystemErrorText(int code, char* out, size_t capacity) {
    if (!capacity) return;
    std::snprintf(out, capacity, "%s", std::strerror(code));
}

}  // namespace qfl
