#include "FileOps.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <vector>
#include <algorithm>

#include <sys/stat.h>
#include <sys/types.h>

#ifdef _WIN32
#include <direct.h>
#include <io.h>
#include <windows.h>

#include "system/Handles.h"
#else
#include <dirent.h>
#include <fcntl.h>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <unistd.h>
#endif

#include "archive/ArchiveLocator.h"
#include "contract/AsciiCase.h"

namespace qorpack {

FilePtr OpenFile(const char* path, const char* mode) { return FilePtr(fopen(path, mode)); }

bool SeekTo(FILE* f, uint64_t pos) {
#ifdef _WIN32
    return _fseeki64(f, static_cast<__int64>(pos), SEEK_SET) == 0;
#else
    return fseeko(f, static_cast<off_t>(pos), SEEK_SET) == 0;
#endif
}

bool GetOpenFileSize(FILE* f, uint64_t* size) {
#ifdef _WIN32
    if (_fseeki64(f, 0, SEEK_END) != 0) return false;
    __int64 n = _ftelli64(f);
#else
    if (fseeko(f, 0, SEEK_END) != 0) return false;
    off_t n = ftello(f);
#endif
    if (n < 0) return false;
    *size = static_cast<uint64_t>(n);
    return true;
}

#ifdef _WIN32
using StatBuf = struct _stati64;
// The C runtime's _stat refuses a folder named with a trailing separator
// ("bin\\", "bin/"), as manifests name folders; a drive root keeps its own.
static int StatPath(const char* p, StatBuf* st) {
    std::string path = p;
    size_t n = path.size();
    while (n > 1 && (path[n - 1] == '\\' || path[n - 1] == '/') && !(n == 3 && path[1] == ':')) --n;
    path.resize(n);
    return _stati64(path.c_str(), st);
}
#else
using StatBuf = struct stat;
static int StatPath(const char* p, StatBuf* st) { return stat(p, st); }
#endif

bool GetFileSizeByPath(const char* path, uint64_t* size) {
    StatBuf st;
    if (StatPath(path, &st) != 0 || !(st.st_mode & S_IFREG)) return false;
    *size = static_cast<uint64_t>(st.st_size);
    return true;
}

bool IsRegularFile(const char* path) {
    StatBuf st;
    return StatPath(path, &st) == 0 && (st.st_mode & S_IFREG);
}

bool IsDirectory(const char* path) {
    StatBuf st;
    return StatPath(path, &st) == 0 && (st.st_mode & S_IFDIR);
}

bool PathExists(const char* path) {
    StatBuf st;
    return StatPath(path, &st) == 0;
}

bool SameFile(const char* a, const char* b) {
#ifdef _WIN32
    char fa[MAX_PATH], fb[MAX_PATH];
    DWORD na = GetFullPathNameA(a, MAX_PATH, fa, nullptr);
    DWORD nb = GetFullPathNameA(b, MAX_PATH, fb, nullptr);
    return na && nb && na < MAX_PATH && nb < MAX_PATH && PathExists(a) &&
           qor_case::EqualAscii(fa, fb);
#else
    struct stat sa, sb;
    return stat(a, &sa) == 0 && stat(b, &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
#endif
}

SameFileTest::SameFileTest(const char* target) {
    StatBuf st;
    exists_ = StatPath(target, &st) == 0;
#ifdef _WIN32
    char full[MAX_PATH];
    DWORD n = GetFullPathNameA(target, MAX_PATH, full, nullptr);
    if (n && n < MAX_PATH) fullTarget_ = full;
#else
    device_ = static_cast<uint64_t>(st.st_dev);
    inode_ = static_cast<uint64_t>(st.st_ino);
#endif
}

bool SameFileTest::Matches(const char* path, uint64_t* size) const {
    StatBuf st;
    *size = 0;
    if (StatPath(path, &st) != 0) return false;
    if (st.st_mode & S_IFREG) *size = static_cast<uint64_t>(st.st_size);
    if (!exists_) return false;
#ifdef _WIN32
    char full[MAX_PATH];
    DWORD n = GetFullPathNameA(path, MAX_PATH, full, nullptr);
    return n && n < MAX_PATH && !fullTarget_.empty() &&
           qor_case::EqualAscii(full, fullTarget_.c_str());
#else
    return static_cast<uint64_t>(st.st_dev) == device_ &&
           static_cast<uint64_t>(st.st_ino) == inode_;
#endif
}

std::string LastErrorText() { return strerror(errno); }

bool RefuseEmptyArchive(const std::string& path, std::string* error) {
    StatBuf st;
    // A missing file is left to the opener, which says so in its own words.
    if (StatPath(path.c_str(), &st) == 0 && (st.st_mode & S_IFREG) && st.st_size == 0) {
        *error = "'" + path + "' is empty (0 bytes): not an archive";
        return false;
    }
    return true;
}

bool CopyFileContents(const char* from, const char* to, std::string* error) {
    FilePtr in = OpenFile(from, "rb");
    if (!in) {
        *error = std::string("cannot open '") + from + "': " + LastErrorText();
        return false;
    }
    FilePtr out = OpenFile(to, "wb");
    if (!out) {
        *error = std::string("cannot create '") + to + "': " + LastErrorText();
        return false;
    }
    std::vector<char> buf(1 << 20);
    for (;;) {
        size_t n = fread(buf.data(), 1, buf.size(), in.get());
        if (n == 0) break;
        if (fwrite(buf.data(), 1, n, out.get()) != n) {
            *error = std::string("cannot write '") + to + "': " + LastErrorText();
            return false;
        }
    }
    if (ferror(in.get())) {
        *error = std::string("cannot read '") + from + "': " + LastErrorText();
        return false;
    }
    if (fclose(out.release()) != 0) {
        *error = std::string("cannot write '") + to + "': " + LastErrorText();
        return false;
    }
    return true;
}

bool FindAppendedArchive(const char* path, uint64_t* offset, bool* hasHeader) {
    qzf_format::ArchiveLocation at;
    const bool read = qzf_format::LocateArchiveInFile(path, &at);
    *offset = at.headerOffset;
    *hasHeader = at.hasHeader;
    return read;
}

namespace {

FilePtr OpenAndClearSignatureEntry(const char* path, const qzf_format::ArchiveLocation& at,
                                   std::string* error) {
    FilePtr f = OpenFile(path, "r+b");
    const unsigned char none[8] = {};
    if (!f || !SeekTo(f.get(), at.signatureDirectory) ||
        fwrite(none, 1, sizeof none, f.get()) != sizeof none || fflush(f.get()) != 0) {
        *error = std::string("cannot write '") + path + "': " + LastErrorText();
        return nullptr;
    }
    return f;
}

}  // namespace

bool ClearSignatureEntry(const char* path, const qzf_format::ArchiveLocation& at,
                         std::string* error) {
    if (!at.hasSignature) return true;
    FilePtr f = OpenAndClearSignatureEntry(path, at, error);
    if (!f) return false;
    if (fclose(f.release()) != 0) {
        *error = std::string("cannot write '") + path + "': " + LastErrorText();
        return false;
    }
    return true;
}

bool RemoveSignature(const char* path, const qzf_format::ArchiveLocation& at, std::string* error) {
    if (!at.hasSignature) return true;
    // The archive's end leaves out the padding that aligned the table as well.
    const uint64_t keep = at.appended ? at.end : at.signatureOffset;
    FilePtr f = OpenAndClearSignatureEntry(path, at, error);
    if (!f) return false;
#ifdef _WIN32
    const bool cut = _chsize_s(_fileno(f.get()), static_cast<__int64>(keep)) == 0;
#else
    const bool cut = ftruncate(fileno(f.get()), static_cast<off_t>(keep)) == 0;
#endif
    if (!cut || fclose(f.release()) != 0) {
        *error = std::string("cannot shorten '") + path + "': " + LastErrorText();
        return false;
    }
    return true;
}

static bool IsSeparator(char c) {
#ifdef _WIN32
    return c == '\\' || c == '/';
#else
    return c == '/';
#endif
}

bool MakeDirectories(const std::string& dir, std::string* error) {
    if (dir.empty() || IsDirectory(dir.c_str())) return true;
    size_t end = dir.size();
    while (end > 1 && IsSeparator(dir[end - 1])) --end;
    std::string trimmed = dir.substr(0, end);
    size_t cut = trimmed.size();
    while (cut > 0 && !IsSeparator(trimmed[cut - 1])) --cut;
    if (cut > 1 && !MakeDirectories(trimmed.substr(0, cut - 1), error)) return false;
#ifdef _WIN32
    int rc = _mkdir(trimmed.c_str());
#else
    int rc = mkdir(trimmed.c_str(), 0777);
#endif
    if (rc != 0 && !IsDirectory(trimmed.c_str())) {
        *error = "cannot create folder '" + trimmed + "': " + LastErrorText();
        return false;
    }
    return true;
}

bool ListFolder(const std::string& dir, std::vector<std::string>* files,
                std::vector<std::string>* folders, std::string* error,
                std::vector<std::string>* skipped) {
    struct Found {
        std::string name;
        int kind;  // 0 file, 1 folder, else skipped
        const char* why;
    };
    std::vector<Found> found;
#ifdef _WIN32
    WIN32_FIND_DATAA fd;
    FindHandle find(FindFirstFileA(JoinPath(dir, "*").c_str(), &fd));
    if (!find) {
        *error = "cannot list folder '" + dir + "'";
        return false;
    }
    do {
        const std::string n = fd.cFileName;
        if (n == "." || n == "..") continue;
        const DWORD a = fd.dwFileAttributes;
        if (a & FILE_ATTRIBUTE_REPARSE_POINT)
            found.push_back({n, 2, "a link or junction; links are not followed"});
        else
            found.push_back({n, (a & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0, nullptr});
    } while (FindNextFileA(find.Get(), &fd));
#else
    DIR* d = opendir(dir.c_str());
    if (!d) {
        *error = "cannot list folder '" + dir + "': " + LastErrorText();
        return false;
    }
    // What each entry is, without following a link: the directory's own type
    // where the file system gives it, else one lstat.
    while (struct dirent* e = readdir(d)) {
        const std::string n = e->d_name;
        if (n == "." || n == "..") continue;
        mode_t type = 0;
        switch (e->d_type) {
            case DT_REG:
                type = S_IFREG;
                break;
            case DT_DIR:
                type = S_IFDIR;
                break;
            case DT_LNK:
                type = S_IFLNK;
                break;
            case DT_FIFO:
                type = S_IFIFO;
                break;
            case DT_SOCK:
                type = S_IFSOCK;
                break;
            case DT_CHR:
                type = S_IFCHR;
                break;
            case DT_BLK:
                type = S_IFBLK;
                break;
            default: {
                struct stat st;
                if (fstatat(dirfd(d), n.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
                    type = st.st_mode & S_IFMT;
            }
        }
        if (type == S_IFREG)
            found.push_back({n, 0, nullptr});
        else if (type == S_IFDIR)
            found.push_back({n, 1, nullptr});
        else
            found.push_back({n, 2,
                             type == S_IFLNK ? "a symbolic link; links are not followed"
                             : type == S_IFIFO ? "a FIFO, not a regular file"
                             : type == S_IFSOCK ? "a socket, not a regular file"
                             : type == 0 ? "it vanished or cannot be examined"
                                         : "a device, not a regular file"});
    }
    closedir(d);
#endif
    std::sort(found.begin(), found.end(),
              [](const Found& a, const Found& b) { return a.name < b.name; });
    for (const Found& f : found) {
        if (f.kind == 0) {
            files->push_back(f.name);
        } else if (f.kind == 1) {
            folders->push_back(f.name);
        } else {
            std::string note = "skipping '" + JoinPath(dir, f.name) + "': " + f.why;
            if (skipped)
                skipped->push_back(note);
            else
                fprintf(stderr, "qorpack: %s\n", note.c_str());
        }
    }
    return true;
}

std::string DirectoryOf(const std::string& path) {
    size_t cut = path.size();
    while (cut > 0 && !IsSeparator(path[cut - 1])) --cut;
    if (cut == 0) return ".";
    if (cut == 1) return path.substr(0, 1);
#ifdef _WIN32
    if (cut == 3 && path[1] == ':') return path.substr(0, 3);
#endif
    return path.substr(0, cut - 1);
}

std::string JoinPath(const std::string& dir, const std::string& name) {
    if (dir.empty() || dir == ".") return name;
    if (IsSeparator(dir.back())) return dir + name;
#ifdef _WIN32
    return dir + "\\" + name;
#else
    return dir + "/" + name;
#endif
}

bool IsAbsolutePath(const std::string& p) {
#ifdef _WIN32
    return (p.size() >= 2 && p[1] == ':') || (!p.empty() && (p[0] == '\\' || p[0] == '/'));
#else
    return !p.empty() && p[0] == '/';
#endif
}

namespace {
// Absolute form of a path, ".." and "." resolved lexically; "" on failure.
std::string AbsoluteOf(const std::string& path) {
#ifdef _WIN32
    char full[MAX_PATH];
    DWORD n = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    return n && n < MAX_PATH ? std::string(full, n) : std::string();
#else
    std::string joined = path;
    if (!IsAbsolutePath(path)) {
        std::vector<char> cwd(4096);
        if (!getcwd(cwd.data(), cwd.size())) return "";
        joined = std::string(cwd.data()) + "/" + path;
    }
    std::vector<std::string> steps;
    size_t start = 0;
    while (start <= joined.size()) {
        size_t end = joined.find('/', start);
        if (end == std::string::npos) end = joined.size();
        std::string step = joined.substr(start, end - start);
        if (step == "..") {
            if (!steps.empty()) steps.pop_back();
        } else if (!step.empty() && step != ".") {
            steps.push_back(step);
        }
        start = end + 1;
    }
    std::string out;
    for (const std::string& s : steps) out += "/" + s;
    return out.empty() ? "/" : out;
#endif
}

bool StepsBelow(const std::string& base, const std::string& path, std::string* stored) {
    if (base.empty() || path.empty()) return false;
    std::string b = base;
    if (!IsSeparator(b.back())) b += '/';
#ifdef _WIN32
    for (char& c : b)
        if (c == '/') c = '\\';
    if (path.size() <= b.size() || !qor_case::EqualAsciiN(path.c_str(), b.c_str(), b.size()))
        return false;
#else
    if (path.size() <= b.size() || path.compare(0, b.size(), b) != 0) return false;
#endif
    *stored = path.substr(b.size());
    for (char& c : *stored)
        if (c == '/') c = '\\';
    return true;
}
}  // namespace

bool RelativeBelow(const std::string& base, const std::string& path, std::string* stored) {
    std::string b = AbsoluteOf(base), p = AbsoluteOf(path);
    if (StepsBelow(b, p, stored)) return true;
#ifndef _WIN32
    // The same places reached through links: compare the resolved folders.
    char rb[PATH_MAX], rp[PATH_MAX];
    std::string dir = DirectoryOf(p);
    if (realpath(b.c_str(), rb) && realpath(dir.c_str(), rp)) {
        std::string name = p.substr(p.find_last_of('/') + 1);
        return StepsBelow(rb, std::string(rp) + "/" + name, stored);
    }
#endif
    return false;
}

std::string ToNativeSeparators(const std::string& path) {
#ifdef _WIN32
    return path;
#else
    std::string p = path;
    for (char& c : p)
        if (c == '\\') c = '/';
    return p;
#endif
}

// Files still to be removed, for the signal handler. Fixed buffers: the
// handler may only touch memory that needs no allocation. On POSIX a slot
// names its file by a folder held open and a name in it, with the identity the
// file had when made: the handler removes it with unlinkat, and only while the
// name still names that file, so a folder renamed or replaced by a link, or a
// file put in its place, is never touched. On Windows the handler runs on a
// thread of its own while the program goes on: a slot holds either a handle
// of the file (opened with DELETE access), through which the file is marked
// for deletion wherever it has been renamed, or its path with the identity
// the file had when made, checked on a handle that then deletes it. A lock
// keeps the handler and the program from changing slots at once.
namespace {
constexpr int kMaxPending = 32;
constexpr size_t kPathCap = 4096;
struct PendingSlot {
    char path[kPathCap];  // as registered, for UnregisterPending(path)
    char name[kPathCap];  // POSIX: the name within the folder
    int dirFd = -1;       // POSIX: the folder; owned when ownsFd
    bool ownsFd = false;
    bool identity = true;            // removed only while the name names device/inode
    uint64_t device = 0, inode = 0;  // Windows: volume serial number and file index
    void* handle = nullptr;          // Windows: the file's own handle (not owned)
};
PendingSlot g_slots[kMaxPending];
volatile sig_atomic_t g_inUse[kMaxPending];
bool g_handlersInstalled = false;

#ifdef _WIN32
CRITICAL_SECTION* SlotLock() {
    struct Lock {
        CRITICAL_SECTION cs;
        Lock() { InitializeCriticalSection(&cs); }
    };
    static Lock lock;
    return &lock.cs;
}

// SetFileInformationByHandle (Windows Vista and later), looked up once.
using SetInfoFn = BOOL(WINAPI*)(HANDLE, int, void*, DWORD);
SetInfoFn SetFileInfo() {
    static const SetInfoFn fn = reinterpret_cast<SetInfoFn>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetFileInformationByHandle")));
    return fn;
}

bool FileIdentity(HANDLE h, uint64_t* volume, uint64_t* index) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info)) return false;
    *volume = info.dwVolumeSerialNumber;
    *index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}

// Removes a slot's file: through its handle, or by its path only while the
// path still opens the file registered (checked on the handle that deletes).
void RemoveSlotFile(const PendingSlot& s) {
    if (s.handle) {
        DeleteThroughHandle(s.handle);
        return;
    }
    HANDLE h = CreateFileA(s.path, DELETE | FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    uint64_t volume = 0, index = 0;
    if (FileIdentity(h, &volume, &index) && volume == s.device && index == s.inode)
        DeleteThroughHandle(h);
    CloseHandle(h);
}
#else
// Removes a slot's file by its name in the folder held open, only while the
// name names the file registered (async-signal-safe).
void RemoveSlotFile(const PendingSlot& s) {
    struct stat st;
    if (!s.identity || (fstatat(s.dirFd, s.name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                        static_cast<uint64_t>(st.st_dev) == s.device &&
                        static_cast<uint64_t>(st.st_ino) == s.inode))
        unlinkat(s.dirFd, s.name, 0);
}
#endif

void RemoveAllPending() {
    for (int i = 0; i < kMaxPending; ++i)
        if (g_inUse[i]) RemoveSlotFile(g_slots[i]);
}

extern "C" void RemovePendingAndExit(int sig) {
#ifdef _WIN32
    // Never left: the process ends here, and the program's thread, which
    // goes on meanwhile, waits at its next change of a slot.
    EnterCriticalSection(SlotLock());
#endif
    RemoveAllPending();
    signal(sig, SIG_DFL);
    raise(sig);
}

int FreeSlot() {
    for (int i = 0; i < kMaxPending; ++i)
        if (!g_inUse[i]) return i;
    return -1;
}

void ReleaseSlot(int i) {
    g_inUse[i] = 0;
#ifndef _WIN32
    if (g_slots[i].ownsFd) close(g_slots[i].dirFd);
#endif
    g_slots[i].dirFd = -1;
    g_slots[i].ownsFd = false;
    g_slots[i].handle = nullptr;
}

[[maybe_unused]] std::string BaseName(const std::string& path) {
    size_t cut = path.size();
    while (cut > 0 && !IsSeparator(path[cut - 1])) --cut;
    return path.substr(cut);
}
}  // namespace

#ifdef _WIN32
bool DeleteThroughHandle(void* h) {
    struct {
        BOOLEAN deleteFile;
    } disposition = {TRUE};
    constexpr int kFileDispositionInfo = 4;  // FILE_INFO_BY_HANDLE_CLASS
    const SetInfoFn fn = SetFileInfo();
    return fn &&
           fn(static_cast<HANDLE>(h), kFileDispositionInfo, &disposition, sizeof disposition) != 0;
}

int RegisterPendingHandle(void* h, const std::string& shown) {
    if (shown.size() >= kPathCap) return -1;
    InstallCleanupHandlers();
    PendingHeld hold;
    int i = FreeSlot();
    if (i < 0) return -1;
    PendingSlot& s = g_slots[i];
    memcpy(s.path, shown.c_str(), shown.size() + 1);
    s.handle = h;
    s.identity = false;
    g_inUse[i] = 1;
    return i;
}

PendingHeld::PendingHeld() { EnterCriticalSection(SlotLock()); }
PendingHeld::~PendingHeld() { LeaveCriticalSection(SlotLock()); }
#endif

void RemovePendingNow() {
#ifdef _WIN32
    PendingHeld hold;
#endif
    RemoveAllPending();
    for (int i = 0; i < kMaxPending; ++i)
        if (g_inUse[i]) ReleaseSlot(i);
}

void InstallCleanupHandlers() {
    if (g_handlersInstalled) return;
    g_handlersInstalled = true;
    signal(SIGINT, RemovePendingAndExit);
    signal(SIGTERM, RemovePendingAndExit);
#ifdef SIGHUP
    signal(SIGHUP, RemovePendingAndExit);
#endif
}

#ifndef _WIN32
int RegisterPendingAt(int dirFd, const std::string& name, const std::string& shown, bool ownsFd,
                      bool checkIdentity) {
    if (shown.size() >= kPathCap || name.size() >= kPathCap) return -1;
    InstallCleanupHandlers();
    struct stat st = {};
    int i = FreeSlot();
    if (i < 0 || (checkIdentity && fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0))
        return -1;
    PendingSlot& s = g_slots[i];
    memcpy(s.path, shown.c_str(), shown.size() + 1);
    memcpy(s.name, name.c_str(), name.size() + 1);
    s.dirFd = dirFd;
    s.ownsFd = ownsFd;
    s.identity = checkIdentity;
    s.device = static_cast<uint64_t>(st.st_dev);
    s.inode = static_cast<uint64_t>(st.st_ino);
    g_inUse[i] = 1;  // last: the handler sees a slot only once it is whole
    return i;
}

SignalsHeld::SignalsHeld() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    sigprocmask(SIG_BLOCK, &set, &old_);
}

SignalsHeld::~SignalsHeld() { sigprocmask(SIG_SETMASK, &old_, nullptr); }
#endif

bool RegisterPending(const std::string& path) {
    if (path.size() >= kPathCap) return false;
    InstallCleanupHandlers();
#ifdef _WIN32
    HANDLE h = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    uint64_t volume = 0, index = 0;
    const bool known = FileIdentity(h, &volume, &index);
    CloseHandle(h);
    PendingHeld hold;
    int i = FreeSlot();
    if (!known || i < 0) return false;
    PendingSlot& s = g_slots[i];
    memcpy(s.path, path.c_str(), path.size() + 1);
    s.handle = nullptr;
    s.identity = true;
    s.device = volume;
    s.inode = index;
    g_inUse[i] = 1;
    return true;
#else
    const std::string dir = DirectoryOf(path);
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    if (RegisterPendingAt(fd, BaseName(path), path, true) >= 0) return true;
    close(fd);
    return false;
#endif
}

void UnregisterPending(const std::string& path) {
#ifdef _WIN32
    PendingHeld hold;
#endif
    for (int i = 0; i < kMaxPending; ++i)
        if (g_inUse[i] && path == g_slots[i].path) {
            ReleaseSlot(i);
            return;
        }
}

void RemovePending(const std::string& path) {
#ifdef _WIN32
    PendingHeld hold;
#endif
    for (int i = 0; i < kMaxPending; ++i)
        if (g_inUse[i] && path == g_slots[i].path) {
            RemoveSlotFile(g_slots[i]);
            ReleaseSlot(i);
            return;
        }
}

void UnregisterPendingSlot(int slot) {
#ifdef _WIN32
    PendingHeld hold;
#endif
    if (slot >= 0 && slot < kMaxPending && g_inUse[slot]) ReleaseSlot(slot);
}

void TestPause(const char* point) {
    static const char* wanted = getenv("QORPACK_TEST_PAUSE");
    static std::atomic<bool> done(false);  // compressing threads pass here too
    if (!wanted || strcmp(wanted, point) != 0 || done.exchange(true)) return;
#ifndef _WIN32
    raise(SIGSTOP);
#endif
}

#ifdef _WIN32

TempOutput::~TempOutput() {
    // Only while the name still opens the file made: never another's.
    if (!temp_.empty() && !committed_) RemovePending(temp_);
}

bool TempOutput::Create(const std::string& target, std::string* error) {
    target_ = target;
    std::string dir = DirectoryOf(target);
    char buf[MAX_PATH];
    if (GetTempFileNameA(dir.c_str(), "qpk", 0, buf) == 0) {
        *error = "cannot create a temporary file in '" + dir + "'";
        return false;
    }
    temp_ = buf;
    RegisterPending(temp_);
    TestPause("output");
    return true;
}

void TempOutput::CopyModeFrom(const char*) {}

bool TempOutput::Commit(std::string* error) {
    // The target may be read-only; MoveFileEx cannot replace such a file.
    DWORD attrs = GetFileAttributesA(target_.c_str());
    if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesA(target_.c_str(), attrs & ~FILE_ATTRIBUTE_READONLY);
    if (!MoveFileExA(temp_.c_str(), target_.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
        // A target left in place keeps its attributes too.
        if (attrs != INVALID_FILE_ATTRIBUTES) SetFileAttributesA(target_.c_str(), attrs);
        *error = "cannot move the new file into place as '" + target_ + "'";
        return false;
    }
    committed_ = true;
    UnregisterPending(temp_);
    return true;
}

#else  // POSIX

namespace {
constexpr size_t kTempStem = 40;  // bytes of the target's name kept in the temporary's

// Where a link at `path` leads, followed to its end (a missing last file is
// allowed: a dangling link is written through too). `path` itself when it is
// no link.
std::string FollowLinks(const std::string& path) {
    std::string cur = path;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st;
        if (lstat(cur.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return cur;
        std::vector<char> buf(PATH_MAX + 1);
        ssize_t n = readlink(cur.c_str(), buf.data(), PATH_MAX);
        if (n <= 0) return cur;
        std::string to(buf.data(), static_cast<size_t>(n));
        cur = IsAbsolutePath(to) ? to : JoinPath(DirectoryOf(cur), to);
    }
    return cur;
}
}  // namespace

TempOutput::~TempOutput() {
    if (slot_ >= 0) UnregisterPendingSlot(slot_);
    if (!tempName_.empty() && !committed_) unlinkat(dirFd_, tempName_.c_str(), 0);
    if (dirFd_ >= 0) close(dirFd_);
}

bool TempOutput::Create(const std::string& target, std::string* error) {
    target_ = FollowLinks(target);
    const std::string dir = DirectoryOf(target_);
    targetName_ = BaseName(target_);
    dirFd_ = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd_ < 0) {
        *error = "cannot open the folder of '" + target + "': " + LastErrorText();
        return false;
    }
    // A short name, so that a target of 255 bytes still gets its temporary.
    const std::string stem = targetName_.substr(0, kTempStem) + ".qorpack-";
    static unsigned serial = 0;
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    uint64_t seed = static_cast<uint64_t>(now.tv_nsec) ^ (static_cast<uint64_t>(getpid()) << 20);
    for (int attempt = 0; attempt < 100; ++attempt) {
        uint64_t r = (seed + ++serial) * 6364136223846793005ull + 1442695040888963407ull;
        std::string name = stem;
        for (int i = 0; i < 6; ++i, r /= 36) name += "0123456789abcdefghijklmnopqrstuvwxyz"[r % 36];
        SignalsHeld held;
        int fd = openat(dirFd_, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) {
            *error = "cannot create a temporary file next to '" + target + "': " + LastErrorText();
            return false;
        }
        close(fd);
        tempName_ = name;
        const std::string full = JoinPath(dir, name);
        temp_ = full.size() < 260 ? full : "/proc/self/fd/" + std::to_string(dirFd_) + "/" + name;
        slot_ = RegisterPendingAt(dirFd_, name, temp_, false);
        break;
    }
    if (tempName_.empty()) {
        *error = "cannot find a free temporary name next to '" + target + "'";
        return false;
    }
    TestPause("output");
    return true;
}

void TempOutput::CopyModeFrom(const char* like) {
    struct stat st;
    if (stat(like, &st) != 0) return;
    mode_ = static_cast<int>(st.st_mode & 07777);
    fchmodat(dirFd_, tempName_.c_str(), static_cast<mode_t>(mode_), 0);
}

bool TempOutput::Commit(std::string* error) {
    struct stat old;
    const bool replaces = fstatat(dirFd_, targetName_.c_str(), &old, 0) == 0;
    if (!replaces && mode_ < 0) {
        // A new file without a model gets what creat() would give it.
        const mode_t mask = umask(0);
        umask(mask);
        fchmodat(dirFd_, tempName_.c_str(), 0666 & ~mask, 0);
    }
    if (replaces && S_ISREG(old.st_mode)) {
        // The new file takes the old one's owner and group, as an update in
        // place would keep them (a run that may not set the owner keeps its own).
        if (fchownat(dirFd_, tempName_.c_str(), old.st_uid, old.st_gid, AT_SYMLINK_NOFOLLOW) != 0)
            fchownat(dirFd_, tempName_.c_str(), static_cast<uid_t>(-1), old.st_gid,
                     AT_SYMLINK_NOFOLLOW);
        // chown clears set-id bits: the mode goes on again afterwards.
        if (mode_ >= 0) fchmodat(dirFd_, tempName_.c_str(), static_cast<mode_t>(mode_), 0);
        if (old.st_nlink > 1)
            fprintf(stderr,
                    "qorpack: note: '%s' had %lu other hard link%s; they keep the old contents\n",
                    target_.c_str(), static_cast<unsigned long>(old.st_nlink - 1),
                    old.st_nlink == 2 ? "" : "s");
    }
    if (renameat(dirFd_, tempName_.c_str(), dirFd_, targetName_.c_str()) != 0) {
        *error = "cannot move the new file into place as '" + target_ + "': " + LastErrorText();
        return false;
    }
    committed_ = true;
    UnregisterPendingSlot(slot_);
    slot_ = -1;
    return true;
}

#endif

constexpr size_t kEnginePathCap = 260;  // the engine's path buffers, zero byte included

bool ShortPath::Open(const std::string& path, std::string* error) {
    short_ = path;
#ifndef _WIN32
    // The engine makes the path absolute first: that is the length that counts.
    std::string full = path;
    if (!IsAbsolutePath(path)) {
        std::vector<char> cwd(PATH_MAX);
        if (getcwd(cwd.data(), cwd.size())) full = JoinPath(cwd.data(), path);
    }
    if (full.size() < kEnginePathCap) return true;
    dirFd_ = open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd_ < 0) {
        *error = "cannot open the folder of '" + path + "': " + LastErrorText();
        return false;
    }
    short_ = "/proc/self/fd/" + std::to_string(dirFd_) + "/" + BaseName(path);
#endif
    if (short_.size() >= kEnginePathCap) {
        *error = "the name of '" + path + "' is too long for the archive engine";
        return false;
    }
    return true;
}

ShortPath::~ShortPath() {
#ifndef _WIN32
    if (dirFd_ >= 0) close(dirFd_);
#endif
}

ProgressLine::ProgressLine(const char* verb) : verb_(verb) {
#ifdef _WIN32
    active_ = _isatty(_fileno(stderr)) != 0;
#else
    active_ = isatty(fileno(stderr)) != 0;
#endif
}

ProgressLine::~ProgressLine() { Finish(); }

void ProgressLine::Update(unsigned long done, unsigned long total, const std::string& item) {
    if (!active_) return;
    std::string shown = item.size() > 50 ? "..." + item.substr(item.size() - 47) : item;
    fprintf(stderr, "\r%s %lu/%lu %-50s", verb_, done, total, shown.c_str());
    fflush(stderr);
    shown_ = true;
}

void ProgressLine::Finish() {
    if (active_ && shown_) {
        fprintf(stderr, "\r%-80s\r", "");
        fflush(stderr);
    }
    shown_ = false;
}

}  // namespace qorpack
