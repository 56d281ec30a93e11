// FileLayerWin32.cpp: the file layer over KERNEL32 (and USER32 for the
// prompt). Each intent is one CreateFileA access/share/disposition set.
// Divisions: handles, files by path, temporary names and the prompt, the
// call tables.
#include "archive/FileLayer.h"
#include "text/Format.h"

#include <windows.h>

namespace qfl {
namespace {

HANDLE H(File f) { return static_cast<HANDLE>(f); }

// True when the path names an existing read-only file. Windows refuses write
// access to such a file by itself; Wine run as root does not, so the layer
// checks first and behaves the same everywhere.
bool IsReadOnlyPath(const char* path) {
    DWORD a = GetFileAttributesA(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY) &&
           !(a & FILE_ATTRIBUTE_DIRECTORY);
}

// ---- handles ----

File WinOpen(const char* path, int intent, uint32_t attributes) {
    DWORD access, share, disposition, flags;
    switch (intent) {
        case kOpenExistingRead:
            access = GENERIC_READ, share = FILE_SHARE_READ, disposition = OPEN_EXISTING;
            flags = FILE_FLAG_RANDOM_ACCESS;
            break;
        case kOpenExistingReadAny:
            access = GENERIC_READ, share = FILE_SHARE_READ | FILE_SHARE_WRITE;
            disposition = OPEN_EXISTING, flags = FILE_FLAG_SEQUENTIAL_SCAN;
            break;
        case kOpenExistingReadWrite:
            access = GENERIC_READ | GENERIC_WRITE, share = 0, disposition = OPEN_EXISTING;
            flags = FILE_ATTRIBUTE_NORMAL;
            break;
        case kOpenOrCreateReadWrite:
            access = GENERIC_READ | GENERIC_WRITE, share = 0, disposition = OPEN_ALWAYS;
            flags = FILE_FLAG_RANDOM_ACCESS;
            break;
        case kCreateAlwaysWrite:
            access = GENERIC_WRITE, share = 0, disposition = CREATE_ALWAYS;
            flags = attributes | FILE_FLAG_SEQUENTIAL_SCAN;
            break;
        case kCreateNewWrite:
            access = GENERIC_WRITE, share = 0, disposition = CREATE_NEW;
            flags = attributes | FILE_FLAG_SEQUENTIAL_SCAN;
            break;
        default:
            SetLastError(ERROR_INVALID_PARAMETER);
            return InvalidFile();
    }
    // A new file cannot be an existing read-only one, and CREATE_NEW fails on
    // any existing file: the look-up (a folder scan under Wine) is spared.
    if ((access & GENERIC_WRITE) && disposition != CREATE_NEW && IsReadOnlyPath(path)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return InvalidFile();
    }
    HANDLE h = CreateFileA(path, access, share, nullptr, disposition, flags, nullptr);
    return h == INVALID_HANDLE_VALUE ? InvalidFile() : static_cast<File>(h);
}

bool WinRead(File f, void* buffer, uint32_t n, uint32_t* got) {
    DWORD r = 0;
    BOOL ok = ReadFile(H(f), buffer, n, &r, nullptr);
    *got = r;
    return ok != FALSE;
}

bool WinWrite(File f, const void* buffer, uint32_t n, uint32_t* put) {
    DWORD w = 0;
    BOOL ok = WriteFile(H(f), buffer, n, &w, nullptr);
    *put = w;
    return ok != FALSE;
}

bool WinSeek(File f, uint64_t position) {
    LONG high = static_cast<LONG>(position >> 32);
    SetLastError(NO_ERROR);
    DWORD low = SetFilePointer(H(f), static_cast<LONG>(position & 0xFFFFFFFFu), &high, FILE_BEGIN);
    return !(low == INVALID_SET_FILE_POINTER && ::GetLastError() != NO_ERROR);
}

bool WinTell(File f, uint64_t* position) {
    LONG high = 0;
    SetLastError(NO_ERROR);
    DWORD low = SetFilePointer(H(f), 0, &high, FILE_CURRENT);
    if (low == INVALID_SET_FILE_POINTER && ::GetLastError() != NO_ERROR) return false;
    *position = static_cast<uint64_t>(static_cast<DWORD>(high)) << 32 | low;
    return true;
}

bool WinSize(File f, uint64_t* size) {
    DWORD high = 0;
    SetLastError(NO_ERROR);
    DWORD low = ::GetFileSize(H(f), &high);
    if (low == INVALID_FILE_SIZE && ::GetLastError() != NO_ERROR) return false;
    *size = static_cast<uint64_t>(high) << 32 | low;
    return true;
}

bool WinTruncate(File f) { return SetEndOfFile(H(f)) != FALSE; }
bool WinClose(File f) { return CloseHandle(H(f)) != FALSE; }

bool WinGetTime(File f, FILETIME* lastWrite) {
    return ::GetFileTime(H(f), nullptr, nullptr, lastWrite) != FALSE;
}

bool WinSetTime(File f, const FILETIME* lastWrite) {
    return SetFileTime(H(f), nullptr, nullptr, lastWrite) != FALSE;
}

// ---- files by path ----

bool WinGetAttributes(const char* path, uint32_t* attributes) {
    DWORD a = GetFileAttributesA(path);
    if (a == INVALID_FILE_ATTRIBUTES) return false;
    *attributes = a;
    return true;
}

bool WinSetAttributes(const char* path, uint32_t attributes) {
    return SetFileAttributesA(path, attributes) != FALSE;
}

bool WinRemove(const char* path) {
    if (IsReadOnlyPath(path)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return DeleteFileA(path) != FALSE;
}

bool WinCopy(const char* from, const char* to) {
    if (IsReadOnlyPath(to)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return CopyFileA(from, to, FALSE) != FALSE;
}

bool WinMakeDirectory(const char* path) { return CreateDirectoryA(path, nullptr) != FALSE; }

// ---- temporary names and the prompt ----

bool WinMakeTempName(char* buffer) {
    char dir[MAX_PATH];
    DWORD n = GetTempPathA(MAX_PATH, dir);
    if (n == 0 || n >= MAX_PATH || GetTempFileNameA(dir, "qzf", 0, buffer) == 0) {
        buffer[0] = 0;
        return false;
    }
    return true;
}

bool WinCurrentDirectory(char* buffer, size_t capacity) {
    DWORD n = GetCurrentDirectoryA(static_cast<DWORD>(capacity), buffer);
    return n != 0 && n < capacity;
}

PromptCallback g_prompt = nullptr;
void* g_promptContext = nullptr;

bool WinAskYesNo(const char* text, const char* caption) {
    if (g_prompt) return g_prompt(text, caption, g_promptContext);
    // A box that cannot be shown counts as No: nothing is replaced unasked.
    return MessageBoxA(GetFocus(), text, caption, MB_YESNO) == IDYES;
}

}  // namespace

// ---- the call tables (constant-initialised) ----

#define QFL_WIN32_CALLS                                                                           \
    {                                                                                             \
        WinOpen, WinRead, WinWrite, WinSeek, WinTell, WinSize, WinTruncate, WinClose, WinGetTime, \
            WinSetTime, WinGetAttributes, WinSetAttributes, WinRemove, WinCopy, WinMakeDirectory, \
            WinMakeTempName, WinCurrentDirectory, WinAskYesNo                                     \
    }

Calls g_calls = QFL_WIN32_CALLS;
const Calls kDefaultCalls = QFL_WIN32_CALLS;

void SetPromptCallback(PromptCallback callback, void* context) {
    g_prompt = callback;
    g_promptContext = context;
}

char Separator() { return '\\'; }
bool CaseInsensitiveNames() { return true; }
bool HasDriveLetters() { return true; }

}  // namespace qfl

namespace qfl {

int SystemError() { return static_cast<int>(::GetLastError()); }

void SystemErrorText(int code, char* out, size_t capacity) {
    if (!capacity) return;
    DWORD n =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(code), 0, out, static_cast<DWORD>(capacity), nullptr);
    // The system's texts end in a full stop and a line break; a message goes on after them.
    while (n > 0 && (out[n - 1] == '\r' || out[n - 1] == '\n' || out[n - 1] == '.')) --n;
    if (n == 0) {
        FormatText(out, capacity, "system error %lu", static_cast<unsigned long>(code));
        return;
    }
    out[n] = 0;
}

}  // namespace qfl
