#include "FileOps.h"

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
#include <climits>
#include <cstdlib>
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
                std::vector<std::string>* folders, std::string* error) {
    std::vector<std::string> names;
#ifdef _WIN32
    WIN32_FIND_DATAA fd;
    FindHandle find(FindFirstFileA(JoinPath(dir, "*").c_str(), &fd));
    if (!find) {
        *error = "cannot list folder '" + dir + "'";
        return false;
    }
    do {
        names.push_back(fd.cFileName);
    } while (FindNextFileA(find.Get(), &fd));
#else
    DIR* d = opendir(dir.c_str());
    if (!d) {
        *error = "cannot list folder '" + dir + "': " + LastErrorText();
        return false;
    }
    while (struct dirent* e = readdir(d)) names.push_back(e->d_name);
    closedir(d);
#endif
    std::sort(names.begin(), names.end());
    for (const std::string& n : names) {
        if (n == "." || n == "..") continue;
        std::string full = JoinPath(dir, n);
        if (IsDirectory(full.c_str()))
            folders->push_back(n);
        else if (IsRegularFile(full.c_str()))
            files->push_back(n);
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

// Temporary files still present, for the signal handler. Fixed buffers: the
// handler may only touch memory that needs no allocation.
namespace {
constexpr int kMaxPending = 32;
constexpr size_t kPathCap = 4096;
char g_pending[kMaxPending][kPathCap];
volatile sig_atomic_t g_inUse[kMaxPending];
bool g_handlersInstalled = false;

extern "C" void RemovePendingAndExit(int sig) {
    for (int i = 0; i < kMaxPending; ++i)
        if (g_inUse[i]) remove(g_pending[i]);
    signal(sig, SIG_DFL);
    raise(sig);
}
}  // namespace

void InstallCleanupHandlers() {
    if (g_handlersInstalled) return;
    g_handlersInstalled = true;
    signal(SIGINT, RemovePendingAndExit);
    signal(SIGTERM, RemovePendingAndExit);
#ifdef SIGHUP
    signal(SIGHUP, RemovePendingAndExit);
#endif
}

bool RegisterPending(const std::string& path) {
    if (path.size() >= kPathCap) return false;
    InstallCleanupHandlers();
    for (int i = 0; i < kMaxPending; ++i) {
        if (!g_inUse[i]) {
            memcpy(g_pending[i], path.c_str(), path.size() + 1);
            g_inUse[i] = 1;
            return true;
        }
    }
    return false;
}

void UnregisterPending(const std::string& path) {
    for (int i = 0; i < kMaxPending; ++i)
        if (g_inUse[i] && path == g_pending[i]) {
            g_inUse[i] = 0;
            return;
        }
}

TempOutput::~TempOutput() {
    if (!temp_.empty() && !committed_) {
        remove(temp_.c_str());
        UnregisterPending(temp_);
    }
}

bool TempOutput::Create(const std::string& target, std::string* error) {
    target_ = target;
    std::string dir = DirectoryOf(target);
#ifdef _WIN32
    char buf[MAX_PATH];
    if (GetTempFileNameA(dir.c_str(), "qpk", 0, buf) == 0) {
        *error = "cannot create a temporary file in '" + dir + "'";
        return false;
    }
    temp_ = buf;
#else
    std::string pattern = target + ".qorpack-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    int fd = mkstemp(buf.data());
    if (fd < 0) {
        *error = "cannot create a temporary file next to '" + target + "': " + LastErrorText();
        return false;
    }
    close(fd);
    temp_ = buf.data();
#endif
    RegisterPending(temp_);
    return true;
}

void TempOutput::CopyModeFrom(const char* like) {
#ifndef _WIN32
    struct stat st;
    if (stat(like, &st) == 0) chmod(temp_.c_str(), st.st_mode & 07777);
#else
    (void)like;
#endif
}

bool TempOutput::Commit(std::string* error) {
#ifdef _WIN32
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
#else
    if (rename(temp_.c_str(), target_.c_str()) != 0) {
        *error = "cannot move the new file into place as '" + target_ + "': " + LastErrorText();
        return false;
    }
#endif
    committed_ = true;
    UnregisterPending(temp_);
    return true;
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
