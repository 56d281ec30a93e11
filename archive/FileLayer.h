// FileLayer.h: the narrow file interface the archive engine runs on.
//
// The engine never calls the operating system itself. Every platform call goes
// through one table of function pointers, `qfl::g_calls`, in the manner of a
// database engine's overridable system-call table: a test may replace any entry
// (for instance to make the Nth call fail) and put the default back from
// `qfl::kDefaultCalls`. Both tables are constant-initialised plain data, so the
// layer works in a module loaded with LoadLibrary, where no static constructors
// run.
//
// Two implementations, one chosen by the build:
//   FileLayerWin32.cpp  CreateFileA with share modes and dispositions, ReadFile,
//                       WriteFile, SetFilePointer, SetEndOfFile, GetFileTime,
//                       SetFileTime, Get/SetFileAttributesA, DeleteFileA,
//                       CopyFileA, CreateDirectoryA, GetTempPathA +
//                       GetTempFileNameA ("qzf", unique number 0), MessageBoxA.
//   FileLayerPosix.cpp  the nearest faithful equivalents:
//     - paths: every backslash is taken as a directory separator ('/'), since
//       stored names always use backslashes; names are case-sensitive.
//     - read-only attribute <-> no write permission bit (S_IWUSR|S_IWGRP|S_IWOTH);
//       setting it clears all write bits, clearing it adds the owner's write bit.
//       Directories report 0x10, other files 0x20 (archive), plus 0x01 when
//       read-only. Hidden, system and normal have no equivalent and are ignored
//       when set.
//     - FILETIME <-> st_mtim: (seconds + 11644473600) * 10^7 + nanoseconds / 100.
//     - share modes: not enforced (POSIX has no mandatory sharing).
//     - temporary files: mkstemp in $TMPDIR (else /tmp) with the prefix "qzf".
//     - the yes/no prompt goes to the callback the caller installed with
//       SetPromptCallback; with none installed the answer is No.
//   On Win32 an installed callback is asked instead of showing the message box.
//
// Conventions: every call returns false (or InvalidFile()) on
// failure and leaves nothing open or allocated behind; file positions and sizes
// are 64-bit here so the engine can refuse what does not fit its 32-bit fields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <zlib.h>

#include "archive/QzfTypes.h"

namespace qfl {

typedef void* File;  // HANDLE on Win32, a file descriptor elsewhere

// The closed or failed handle (INVALID_HANDLE_VALUE on Win32).
inline File InvalidFile() { return reinterpret_cast<File>(static_cast<intptr_t>(-1)); }

// What an open is for; each maps to one access/share/disposition combination.
enum Intent {
    kOpenExistingRead = 0,       // read; others may read; must exist (archive in read mode)
    kOpenExistingReadAny = 1,    // read; others may read and write; must exist (source files)
    kOpenExistingReadWrite = 2,  // read+write; not shared; must exist (setting a time stamp)
    kOpenOrCreateReadWrite = 3,  // read+write; not shared; created when missing; random access
    kCreateAlwaysWrite = 4,      // write; not shared; created or emptied; with the given
                                 // attributes and a sequential-scan hint
    kCreateNewWrite = 5,         // as kCreateAlwaysWrite, but fails when the file exists
};

// Windows file attribute bits, as stored in entry records.
constexpr uint32_t kAttrReadOnly = 0x01;
constexpr uint32_t kAttrHidden = 0x02;
constexpr uint32_t kAttrSystem = 0x04;
constexpr uint32_t kAttrDirectory = 0x10;
constexpr uint32_t kAttrArchive = 0x20;
constexpr uint32_t kAttrNormal = 0x80;

constexpr size_t kMaxPath = 260;  // every path buffer of the engine, zero byte included

// Answers the read-only overwrite prompt: true for Yes.
typedef bool (*PromptCallback)(const char* text, const char* caption, void* context);

struct Calls {
    // Opens path for intent; attributes apply to kCreateAlwaysWrite only.
    File (*open)(const char* path, int intent, uint32_t attributes);
    // Reads up to n bytes; *got receives the count (0 at end of file). False on error.
    bool (*read)(File f, void* buffer, uint32_t n, uint32_t* got);
    // Writes n bytes; *put receives the count written. False on error.
    bool (*write)(File f, const void* buffer, uint32_t n, uint32_t* put);
    bool (*seek)(File f, uint64_t position);  // absolute position
    bool (*tell)(File f, uint64_t* position);
    bool (*size)(File f, uint64_t* size);
    bool (*truncate)(File f);  // cuts the file off at the current position
    bool (*close)(File f);
    bool (*getTime)(File f, FILETIME* lastWrite);
    bool (*setTime)(File f, const FILETIME* lastWrite);  // creation/access untouched
    bool (*getAttributes)(const char* path, uint32_t* attributes);
    bool (*setAttributes)(const char* path, uint32_t attributes);
    bool (*remove)(const char* path);                // a file, not a folder
    bool (*copy)(const char* from, const char* to);  // overwrites `to`
    bool (*makeDirectory)(const char* path);         // one level
    bool (*makeTempName)(char* buffer);              // kMaxPath bytes; creates the empty file
    bool (*currentDirectory)(char* buffer, size_t capacity);
    bool (*askYesNo)(const char* text, const char* caption);
};

// The table every call goes through, and the platform's defaults.
extern Calls g_calls;
extern const Calls kDefaultCalls;

// Installs (or with null removes) the answerer of the yes/no prompt.
void SetPromptCallback(PromptCallback callback, void* context);

// Path conventions of the platform (not overridable: they are facts, not calls).
// Directory separator written when composing paths: '\\' on Win32, '/' natively.
char Separator();
// True when the file system ignores case in names (Win32).
bool CaseInsensitiveNames();
// True when absolute paths carry a drive letter (Win32).
bool HasDriveLetters();

// Thin dispatchers, so call sites read like ordinary calls.
inline File Open(const char* path, Intent intent, uint32_t attributes = kAttrNormal) {
    return g_calls.open(path, intent, attributes);
}
inline bool Read(File f, void* b, uint32_t n, uint32_t* got) { return g_calls.read(f, b, n, got); }
inline bool Write(File f, const void* b, uint32_t n, uint32_t* put) {
    return g_calls.write(f, b, n, put);
}
inline bool Seek(File f, uint64_t p) { return g_calls.seek(f, p); }
inline bool Tell(File f, uint64_t* p) { return g_calls.tell(f, p); }
inline bool Size(File f, uint64_t* s) { return g_calls.size(f, s); }
inline bool Truncate(File f) { return g_calls.truncate(f); }
inline bool Close(File f) { return g_calls.close(f); }
inline bool GetTime(File f, FILETIME* t) { return g_calls.getTime(f, t); }
inline bool SetTime(File f, const FILETIME* t) { return g_calls.setTime(f, t); }
inline bool GetAttributes(const char* p, uint32_t* a) { return g_calls.getAttributes(p, a); }
inline bool SetAttributes(const char* p, uint32_t a) { return g_calls.setAttributes(p, a); }
inline bool Remove(const char* p) { return g_calls.remove(p); }
inline bool Copy(const char* from, const char* to) { return g_calls.copy(from, to); }
inline bool MakeDirectory(const char* p) { return g_calls.makeDirectory(p); }
inline bool MakeTempName(char* buffer) { return g_calls.makeTempName(buffer); }
inline bool CurrentDirectory(char* b, size_t cap) { return g_calls.currentDirectory(b, cap); }
inline bool AskYesNo(const char* text, const char* caption) {
    return g_calls.askYesNo(text, caption);
}

// ---- the cause of the last failure ----
// The engine's error codes say what failed; the layer keeps why, for the one
// failure the engine reported last: what was being done, to which file (or
// entry), and the system's error code at that moment (errno natively,
// GetLastError on Win32), or a fixed text where the cause is not the system's.
// Plain data, kept once for the process: the engine is not thread-safe either.
struct Failure {
    const char* action;   // "cannot write", "entry", ...; null when none is kept
    char path[kMaxPath];  // the file or entry name, cut to fit
    int systemError;      // 0 when the cause is not a system call's
    const char* detail;   // a text that stands for the system's; may be null
};

// Keeps action and path with the calling thread's current system error code.
void NoteFailure(const char* action, const char* path, const char* detail = nullptr);
void ClearFailure();
const Failure& LastFailure();
void RestoreFailure(const Failure& kept);
// Fills out with "cannot write 'x': No space left on device"; "" when none is kept.
void DescribeFailure(char* out, size_t capacity);
// The system's error code of the calling thread, and its text (platform facts).
int SystemError();
void SystemErrorText(int code, char* out, size_t capacity);

// Owns an open file; closes it on scope exit. Not copyable.
class FileOwner {
public:
    FileOwner() = default;
    explicit FileOwner(File f) : f_(f) {}
    ~FileOwner() { Reset(); }
    FileOwner(const FileOwner&) = delete;
    FileOwner& operator=(const FileOwner&) = delete;
    File Get() const { return f_; }
    bool Valid() const { return f_ != InvalidFile(); }
    // Closes the file held (if any) and takes f; returns false if that close failed.
    bool Reset(File f = InvalidFile()) {
        bool ok = true;
        if (f_ != InvalidFile()) ok = Close(f_);
        f_ = f;
        return ok;
    }
    File Release() {
        File f = f_;
        f_ = InvalidFile();
        return f;
    }

private:
    File f_ = InvalidFile();
};

}  // namespace qfl
