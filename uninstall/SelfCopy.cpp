#include "uninstall/SelfCopy.h"

#include <algorithm>
#include <string>
#include <vector>

#include "system/Handles.h"
#include "text/Format.h"

namespace {

// Largest program file copied (the uninstaller is a few hundred kilobytes).
constexpr DWORD kMaxProgramSize = 32u * 1024u * 1024u;

HANDLE HandleFromNumber(unsigned long n) {
    return reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(n));
}
unsigned long NumberFromHandle(HANDLE h) {
    return static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(h));
}

bool ReadWholeFile(const Text& path, std::vector<char>& data) {
    FileHandle file(CreateFileA(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) return false;
    DWORD high = 0;
    DWORD size = GetFileSize(file.Get(), &high);
    if (size == INVALID_FILE_SIZE || high != 0 || size == 0 || size > kMaxProgramSize) return false;
    data.resize(size);
    DWORD got = 0;
    return ReadFile(file.Get(), data.data(), size, &got, nullptr) && got == size;
}

bool WriteAll(HANDLE file, const std::vector<char>& data) {
    DWORD written = 0;
    return WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) &&
           written == data.size();
}

// Opens name, new, and writes data into it; then holds it open for reading
// only with writing and deleting denied, and checks that it holds data.
// The two opens overlap nowhere, so the content is checked after the second.
bool WriteLockedCopy(const Text& name, const std::vector<char>& data, FileHandle& held) {
    {
        FileHandle out(CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                   CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!out.IsValid()) return false;
        if (!WriteAll(out.Get(), data)) {
            out.Close();
            DeleteFileA(name.c_str());
            return false;
        }
    }
    held.Attach(CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    std::vector<char> check(data.size() + 1);
    DWORD got = 0;
    bool same =
        held.IsValid() &&
        ReadFile(held.Get(), check.data(), static_cast<DWORD>(check.size()), &got, nullptr) &&
        got == data.size() && std::equal(data.begin(), data.end(), check.begin());
    if (!same) {
        held.Close();
        DeleteFileA(name.c_str());
    }
    return same;
}

HANDLE InheritableEvent() {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    return CreateEventA(&inherit, TRUE, FALSE, nullptr);
}

}  // namespace

bool RunFromTempCopy(const Text& arguments, int& exitCode) {
    char own[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, own, sizeof own);
    if (n == 0 || n >= sizeof own) return false;
    char temp[MAX_PATH];
    DWORD t = GetTempPathA(sizeof temp, temp);
    if (t == 0 || t >= sizeof temp) return false;
    std::vector<char> image;
    if (!ReadWholeFile(Text(own, n), image)) return false;

    Text copy;
    FileHandle held;
    for (unsigned attempt = 0; attempt < 100 && !held.IsValid(); ++attempt) {
        char name[64];
        FormatText(name, sizeof name, "TrovixUninstall-%lx-%u.exe", GetCurrentProcessId(), attempt);
        copy = Text(temp) + name;
        if (copy.size() >= MAX_PATH) return false;
        if (!WriteLockedCopy(copy, image, held) && GetLastError() != ERROR_FILE_EXISTS &&
            GetFileAttributesA(copy.c_str()) == INVALID_FILE_ATTRIBUTES)
            return false;
    }
    if (!held.IsValid()) return false;

    HANDLE self = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &self,
                         SYNCHRONIZE, TRUE, 0))
        return false;
    Handle parent(self);
    Handle done(InheritableEvent());
    Handle fail(InheritableEvent());
    if (!done.IsValid() || !fail.IsValid()) return false;
    char handles[96];
    FormatText(handles, sizeof handles, " -parent=%lu -done=%lu,%lu",
               NumberFromHandle(parent.Get()), NumberFromHandle(done.Get()),
               NumberFromHandle(fail.Get()));
    std::string line =
        ("\"" + copy + "\" " + arguments + " -original=\"" + Text(own, n) + "\"" + handles).str();
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(copy.c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr, temp, &startup,
                        &process)) {
        held.Close();
        DeleteFileA(copy.c_str());
        return false;
    }
    held.Close();
    Handle processHandle(process.hProcess);
    Handle thread(process.hThread);
    HANDLE waits[3] = {processHandle.Get(), done.Get(), fail.Get()};
    DWORD r = WaitForMultipleObjects(3, waits, FALSE, INFINITE);
    if (r == WAIT_OBJECT_0 + 1) {
        exitCode = 0;
    } else if (r == WAIT_OBJECT_0 + 2) {
        exitCode = -1;
    } else {
        // The copy ended: only its own signal says it finished (a copy that
        // was killed may report 0). It may have signalled just before it ended.
        exitCode = WaitForSingleObject(done.Get(), 0) == WAIT_OBJECT_0 ? 0 : -1;
    }
    return true;
}

void SignalOriginal(unsigned long doneHandle, unsigned long failHandle, bool done) {
    unsigned long h = done ? doneHandle : failHandle;
    if (h) SetEvent(HandleFromNumber(h));
}

bool WaitForOriginal(unsigned long parentHandle, DWORD timeoutMs) {
    if (!parentHandle) return true;
    return WaitForSingleObject(HandleFromNumber(parentHandle), timeoutMs) == WAIT_OBJECT_0;
}

void ScheduleOwnRemoval() {
    char own[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, own, sizeof own);
    if (n == 0 || n >= sizeof own) return;
    MoveFileExA(own, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}
