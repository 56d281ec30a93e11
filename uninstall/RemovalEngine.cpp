#include "uninstall/RemovalEngine.h"

#include <algorithm>

#include "system/FileUtil.h"
#include "system/Handles.h"
#include "system/Registry.h"
#include "system/Shortcuts.h"
#include "uninstall/LogReader.h"
#include "uninstall/UninstallResources.h"
#include "text/Format.h"

namespace {

constexpr size_t kPathBuffer = MAX_PATH;
// How many names a kept folder or key shows in the report.
constexpr int kNamesShown = 3;

Text WithoutTrailingBackslash(Text t) {
    while (!t.empty() && t.back() == '\\') t.erase(t.size() - 1);
    return t;
}

UINT PathReason(PathVerdict v) {
    switch (v) {
        case PathVerdict::Removable:
            return 0;
        case PathVerdict::NotAbsolute:
            return IDS_WHY_NOT_ABSOLUTE;
        case PathVerdict::TooLong:
            return IDS_WHY_TOO_LONG;
        case PathVerdict::Malformed:
            return IDS_WHY_MALFORMED;
        case PathVerdict::DotComponent:
            return IDS_WHY_DOT;
        case PathVerdict::DriveRoot:
            return IDS_WHY_DRIVE_ROOT;
        case PathVerdict::ShellFolder:
            return IDS_WHY_SHELL_FOLDER;
        case PathVerdict::SystemFolder:
            return IDS_WHY_SYSTEM_FOLDER;
        case PathVerdict::ProgramFiles:
            return IDS_WHY_PROGRAM_FILES;
        case PathVerdict::TempFolder:
            return IDS_WHY_TEMP_FOLDER;
    }
    return IDS_WHY_MALFORMED;
}

UINT KeyReason(KeyVerdict v) {
    switch (v) {
        case KeyVerdict::Removable:
            return 0;
        case KeyVerdict::Malformed:
            return IDS_WHY_KEY_MALFORMED;
        case KeyVerdict::TooShallow:
            return IDS_WHY_KEY_SHALLOW;
        case KeyVerdict::TooLong:
            return IDS_WHY_KEY_TOO_LONG;
    }
    return IDS_WHY_KEY_MALFORMED;
}

using GetLongPathNameFn = DWORD(WINAPI*)(LPCSTR, LPSTR, DWORD);

// The long form of an existing path (short 8.3 names expanded), or path.
Text LongForm(const Text& path) {
    static const GetLongPathNameFn getLong =
        reinterpret_cast<GetLongPathNameFn>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetLongPathNameA")));
    if (!getLong) return path;
    char buffer[kPathBuffer];
    DWORD n = getLong(path.c_str(), buffer, sizeof buffer);
    return n == 0 || n >= sizeof buffer ? path : Text(buffer, n);
}

// The rules on the path as recorded.
UINT CheckPath(const Text& path, const RemovalContext& context) {
    return PathReason(CheckRemovablePath(path, context.protectedFolders));
}

// Asked of what exists, right before it is deleted or run (what does not
// exist has no long form and leads nowhere): the rules again on its long
// form, and the way there, since the rules judge the path as written. A name
// the system gave a handle opened there (opened, else empty) that equals the
// path but for letter case shows every component is its long name already (a
// short alias would differ), so the rules, blind to letter case and passed by
// the path, pass its long form too: the long form, one folder look-up per
// component, is then not asked for.
UINT CheckWay(const Text& path, const RemovalContext& context, const Text& opened = Text()) {
    const bool alreadyLong = !opened.empty() && EqualsNoCase(opened, path);
    if (!alreadyLong) {
        if (UINT why = PathReason(CheckRemovablePath(LongForm(path), context.protectedFolders)))
            return why;
    }
    return PassesThroughReparsePoint(path) ? IDS_WHY_REPARSE_POINT : 0;
}

// What is at path, opened without following a reparse point (invalid when
// nothing opens there), for the questions below.
HANDLE OpenUnfollowed(const Text& path) {
    return CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// The name the system gives the object behind file (without "\\?\"):
// kNoApi where it cannot say (before Windows Vista), kFailed when it cannot
// name it within a path's length, else kNamed with *name set.
enum class HandleName { kNoApi, kFailed, kNamed };
HandleName NameOfHandle(HANDLE file, Text* name);

// A named object leads elsewhere when its name is neither path nor path's long form.
bool NamedElsewhere(const Text& opened, const Text& path) {
    return !EqualsNoCase(opened, path) && !EqualsNoCase(opened, LongForm(path));
}

// Text shown for an entry: cut short, since a hostile log may hold long junk.
Text Shown(const Text& t) {
    constexpr size_t kShown = 200;
    return t.size() > kShown ? t.substr(0, kShown) + "..." : t;
}

void Report(RemovalReport& report, const Text& what, UINT reason, const Text& detail = Text()) {
    report.lines.push_back(ReportLine{Shown(what), reason, detail});
    // What the rules refuse or what holds others' things stays by design;
    // these may go in a later run.
    if (reason == IDS_WHY_NOT_REMOVED || reason == IDS_WHY_COMMAND_TIMEOUT)
        report.unfinished = true;
}

void Gone(RemovalReport& report, const WorkItem& item) {
    report.gone.insert(LogEntryId(item.section, item.key));
}

DWORD Attributes(const Text& path) { return GetFileAttributesA(path.c_str()); }

// Up to kNamesShown names in folder, ", "-separated, "..." when there are more.
Text FolderContents(const Text& folder) {
    Text pattern = folder + "\\*";
    Text names;
    if (pattern.size() >= kPathBuffer) return names;
    WIN32_FIND_DATAA entry;
    FindHandle find(FindFirstFileA(pattern.c_str(), &entry));
    if (!find.IsValid()) return names;
    int shown = 0;
    do {
        if (lstrcmpA(entry.cFileName, ".") == 0 || lstrcmpA(entry.cFileName, "..") == 0) continue;
        if (shown == kNamesShown) return names + ", ...";
        names.append(shown++ ? ", " : "").append(entry.cFileName);
    } while (FindNextFileA(find.Get(), &entry));
    return names;
}

Text SubkeyNames(HKEY key) {
    Text names;
    char name[256];
    for (DWORD i = 0;; ++i) {
        DWORD size = sizeof name;
        if (RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        if (static_cast<int>(i) == kNamesShown) return names + ", ...";
        names.append(i ? ", " : "").append(name);
    }
    return names;
}

// Up to kNamesShown value names of key ("(default)" for the unnamed one).
Text ValueNames(HKEY key) {
    Text names;
    char name[256];
    for (DWORD i = 0;; ++i) {
        DWORD size = sizeof name;
        LONG r = RegEnumValueA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr);
        if (r == ERROR_MORE_DATA) {
            FormatText(name, sizeof name, "%s", "...");
        } else if (r != ERROR_SUCCESS) {
            break;
        }
        if (static_cast<int>(i) == kNamesShown) return names + ", ...";
        names.append(i ? ", " : "").append(name[0] ? name : "(default)");
    }
    return names;
}

bool SameFile(const Text& a, const Text& b) { return !b.empty() && EqualsNoCase(a, b); }

// Deletes one file; true when it is gone. Read-only files go too.
bool DeleteOneFile(const Text& path) {
    if (DeleteFileA(path.c_str())) return true;
    ClearReadOnly(path);
    return DeleteFileA(path.c_str()) != 0 || Attributes(path) == INVALID_FILE_ATTRIBUTES;
}

void RemoveFileItem(const WorkItem& item, const Text& path, const RemovalContext& context,
                    RemovalReport& report) {
    if (UINT why = CheckPath(path, context)) return Report(report, path, why);
    DWORD attributes = Attributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return Gone(report, item);
    // One handle on what is there names it for both the long-form rule and
    // the link check (LeadsElsewhere), instead of a look-up for each.
    bool opens = false;
    HandleName named = HandleName::kNoApi;
    Text opened;
    {
        FileHandle file(OpenUnfollowed(path));
        opens = file.IsValid();
        if (opens) named = NameOfHandle(file.Get(), &opened);
    }
    if (UINT why = CheckWay(path, context, named == HandleName::kNamed ? opened : Text()))
        return Report(report, path, why);
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return Report(report, path, IDS_WHY_NOT_A_FILE);
    if (SameFile(path, context.ownFile)) return Report(report, path, IDS_WHY_IN_USE);
    const bool elsewhere = opens && (named == HandleName::kFailed ||
                                     (named == HandleName::kNamed && NamedElsewhere(opened, path)));
    if (elsewhere) return Report(report, path, IDS_WHY_REPARSE_POINT);
    if (SameFile(path, context.originalFile) || SameFile(path, context.logFile)) {
        report.deferred.push_back(item);
        return;
    }
    if (DeleteOneFile(path))
        Gone(report, item);
    else
        Report(report, path, IDS_WHY_NOT_REMOVED);
}

void RemoveFolderItem(const WorkItem& item, const Text& recorded, const RemovalContext& context,
                      RemovalReport& report, bool mayDefer) {
    const Text path = WithoutTrailingBackslash(recorded);
    if (UINT why = CheckPath(recorded, context)) return Report(report, recorded, why);
    DWORD attributes = Attributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return Gone(report, item);
    if (UINT why = CheckWay(path, context)) return Report(report, path, why);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return Report(report, path, IDS_WHY_NOT_REMOVED);
    if (mayDefer &&
        (IsSameOrBelow(context.originalFile, path) || IsSameOrBelow(context.logFile, path))) {
        report.deferred.push_back(item);
        return;
    }
    if (RemoveDirectoryA(path.c_str())) return Gone(report, item);
    Text holds = FolderContents(path);
    if (!holds.empty())
        Report(report, path, IDS_WHY_FOLDER_HOLDS, holds);
    else
        Report(report, path, IDS_WHY_NOT_REMOVED);
}

void RemoveValueItem(const WorkItem& item, RemovalReport& report) {
    Text keyPath, valueName;
    if (UINT why = KeyReason(CheckRemovableValue(item.key, keyPath, valueName)))
        return Report(report, item.key, why);
    RegKey key;
    LONG r = RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_SET_VALUE, key.Receive());
    if (r == ERROR_FILE_NOT_FOUND) return Gone(report, item);
    if (r == ERROR_SUCCESS) {
        r = RegDeleteValueA(key.Get(), valueName.c_str());
        if (r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND) return Gone(report, item);
    }
    Report(report, item.key, IDS_WHY_NOT_REMOVED);
}

void RemoveKeyItem(const WorkItem& item, RemovalReport& report) {
    if (UINT why = KeyReason(CheckRemovableKey(item.key))) return Report(report, item.key, why);
    RegKey key;
    LONG r = RegOpenKeyExA(HKEY_LOCAL_MACHINE, item.key.c_str(), 0, KEY_READ, key.Receive());
    if (r == ERROR_FILE_NOT_FOUND) return Gone(report, item);
    if (r != ERROR_SUCCESS) return Report(report, item.key, IDS_WHY_NOT_REMOVED);
    // The recorded values went before the keys: subkeys or values still there
    // are not the setup's (another product's), and keep the key.
    Text holds = SubkeyNames(key.Get());
    Text values = ValueNames(key.Get());
    if (!values.empty()) holds.append(holds.empty() ? "" : ", ").append(values);
    key.Close();
    if (!holds.empty()) return Report(report, item.key, IDS_WHY_KEY_HOLDS, holds);
    if (RegDeleteKeyA(HKEY_LOCAL_MACHINE, item.key.c_str()) == ERROR_SUCCESS)
        Gone(report, item);
    else
        Report(report, item.key, IDS_WHY_NOT_REMOVED);
}

// The command recorded for file: value must start with the file's own path;
// the program is started by that path as the application name (never through
// a command interpreter), the rest are its arguments.
void RunCommandItem(const WorkItem& item, const RemovalContext& context, RemovalReport& report,
                    ProgressCallback progress, void* progressContext, size_t done, size_t total) {
    const Text& file = item.key;
    if (UINT why = CheckPath(file, context)) return Report(report, item.value, why);
    Text arguments;
    switch (CheckUninstallCommand(file, item.value, arguments)) {
        case CommandVerdict::Runnable:
            break;
        case CommandVerdict::Mismatch:
            return Report(report, item.value, IDS_WHY_COMMAND_MISMATCH);
        case CommandVerdict::NotProgram:
            return Report(report, item.value, IDS_WHY_COMMAND_NOT_PROGRAM);
    }
    DWORD attributes = Attributes(file);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return;  // nothing to run: the file is gone already
    if (UINT why = CheckWay(file, context)) return Report(report, item.value, why);
    if (LeadsElsewhere(file)) return Report(report, item.value, IDS_WHY_REPARSE_POINT);
    Text commandLine = "\"" + file + "\"" + arguments;
    Text folder = file.substr(0, file.rfind('\\'));
    if (folder.size() == 2) folder.append('\\');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process = {};
    std::string line = commandLine.str();
    if (!CreateProcessA(file.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                        &startup, &process))
        return Report(report, item.value, IDS_WHY_COMMAND_FAILED);
    Handle processHandle(process.hProcess);
    Handle thread(process.hThread);
    const DWORD start = GetTickCount();
    for (;;) {
        DWORD r = WaitForSingleObject(processHandle.Get(), 50);
        if (r != WAIT_TIMEOUT) break;
        if (GetTickCount() - start >= kCommandTimeoutMs)
            return Report(report, item.value, IDS_WHY_COMMAND_TIMEOUT);
        if (progress) progress(progressContext, done, total, item.value);
    }
}

void AddFolder(ProtectedFolders& folders, const Text& path, ProtectedKind kind) {
    Text bare = WithoutTrailingBackslash(path);
    if (bare.size() < 3) return;
    folders.push_back(ProtectedFolder{bare, kind});
    Text longForm = LongForm(bare);
    if (!EqualsNoCase(longForm, bare)) folders.push_back(ProtectedFolder{longForm, kind});
}

Text Parent(const Text& path) {
    Text bare = WithoutTrailingBackslash(path);
    size_t slash = bare.rfind('\\');
    return slash == Text::npos ? Text() : bare.substr(0, slash);
}

}  // namespace

bool PassesThroughReparsePoint(const Text& path) {
    const Text bare = WithoutTrailingBackslash(path);
    // From the first folder below the drive root down to the path itself.
    for (size_t end = 3; end <= bare.size(); ++end) {
        if (end < bare.size() && bare[end] != '\\') continue;
        DWORD attributes = GetFileAttributesA(bare.substr(0, end).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            DWORD error = GetLastError();
            // What does not exist leads nowhere; what cannot be read is not trusted.
            return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
        }
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return true;
    }
    return false;
}

namespace {

HandleName NameOfHandle(HANDLE file, Text* name) {
    using FinalPathFn = DWORD(WINAPI*)(HANDLE, LPSTR, DWORD, DWORD);
    static const FinalPathFn finalPath = reinterpret_cast<FinalPathFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetFinalPathNameByHandleA")));
    if (!finalPath) return HandleName::kNoApi;
    char buffer[kPathBuffer + 8];
    DWORD n = finalPath(file, buffer, sizeof buffer, 0);
    if (n == 0 || n >= sizeof buffer) return HandleName::kFailed;  // longer than any path we act on
    *name = Text(buffer, n);
    if (name->substr(0, 4) == "\\\\?\\") *name = name->substr(4);
    return HandleName::kNamed;
}

}  // namespace

bool LeadsElsewhere(const Text& path) {
    FileHandle file(OpenUnfollowed(path));
    return file.IsValid() && HandleLeadsElsewhere(file.Get(), path);
}

bool HandleLeadsElsewhere(HANDLE file, const Text& path) {
    Text opened;
    switch (NameOfHandle(file, &opened)) {
        case HandleName::kNoApi:
            return false;
        case HandleName::kFailed:
            return true;
        case HandleName::kNamed:
            break;
    }
    return NamedElsewhere(opened, path);
}

ProtectedFolders ResolveProtectedFolders() {
    ProtectedFolders folders;
    char buffer[kPathBuffer];
    UINT n = GetWindowsDirectoryA(buffer, sizeof buffer);
    if (n > 0 && n < sizeof buffer) AddFolder(folders, buffer, ProtectedKind::WindowsFolder);
    n = GetSystemDirectoryA(buffer, sizeof buffer);
    if (n > 0 && n < sizeof buffer) AddFolder(folders, buffer, ProtectedKind::SystemFolder);
    using GetWow64DirFn = UINT(WINAPI*)(LPSTR, UINT);
    GetWow64DirFn getWow64 = reinterpret_cast<GetWow64DirFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetSystemWow64DirectoryA")));
    if (getWow64) {
        n = getWow64(buffer, sizeof buffer);
        if (n > 0 && n < sizeof buffer) AddFolder(folders, buffer, ProtectedKind::SystemFolder);
    }
    n = GetTempPathA(sizeof buffer, buffer);
    if (n > 0 && n < sizeof buffer) AddFolder(folders, buffer, ProtectedKind::TempFolder);

    const Text versionKey = "Software\\Microsoft\\Windows\\CurrentVersion";
    for (const char* value : {"ProgramFilesDir", "ProgramFilesDir (x86)", "ProgramW6432Dir"})
        AddFolder(folders, ReadRegistryString(versionKey, value), ProtectedKind::ProgramFiles);
    for (const char* variable : {"ProgramFiles", "ProgramFiles(x86)", "ProgramW6432"}) {
        DWORD m = GetEnvironmentVariableA(variable, buffer, sizeof buffer);
        if (m > 0 && m < sizeof buffer) AddFolder(folders, buffer, ProtectedKind::ProgramFiles);
    }

    // The shell folders the setup fills, their Start Menu, and the others.
    const Text programs = GetProgramsFolder();
    AddFolder(folders, programs, ProtectedKind::ShellFolder);
    AddFolder(folders, Parent(programs), ProtectedKind::ShellFolder);
    AddFolder(folders, GetDesktopFolder(), ProtectedKind::ShellFolder);
    const Text shellKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
    for (const char* value : {"Common Programs", "Common Start Menu", "Common Desktop",
                              "Common Startup", "Programs", "Start Menu", "Desktop", "Startup"}) {
        AddFolder(folders, ReadRegistryStringAt(HKEY_LOCAL_MACHINE, shellKey, value),
                  ProtectedKind::ShellFolder);
        AddFolder(folders, ReadRegistryStringAt(HKEY_CURRENT_USER, shellKey, value),
                  ProtectedKind::UserShellFolder);
    }
    return folders;
}

RemovalContext MakeRemovalContext(const Text& logFile, const Text& originalFile) {
    RemovalContext context;
    context.protectedFolders = ResolveProtectedFolders();
    context.programsFolder = GetProgramsFolder();
    context.desktopFolder = GetDesktopFolder();
    context.logFile = logFile;
    context.originalFile = originalFile;
    char own[kPathBuffer];
    DWORD n = GetModuleFileNameA(nullptr, own, sizeof own);
    if (n > 0 && n < sizeof own) context.ownFile = Text(own, n);
    return context;
}

void CarryOutWork(const std::vector<WorkItem>& work, const RemovalContext& context,
                  RemovalReport& report, ProgressCallback progress, void* progressContext) {
    const size_t total = work.size();
    for (size_t i = 0; i < total; ++i) {
        const WorkItem& item = work[i];
        if (progress)
            progress(progressContext, i, total,
                     item.kind == WorkKind::Command ? item.value : item.key);
        if (item.overlong) {
            // Cut short, it would name another object than was recorded.
            Report(report, item.kind == WorkKind::Command ? item.value : item.key,
                   IDS_WHY_TOO_LONG);
            continue;
        }
        switch (item.kind) {
            case WorkKind::Command:
                RunCommandItem(item, context, report, progress, progressContext, i, total);
                break;
            case WorkKind::StartMenuShortcut:
            case WorkKind::StartMenuUrl: {
                const char* extension = item.kind == WorkKind::StartMenuUrl ? ".url" : ".lnk";
                Text path = MakeLinkPath(context.programsFolder, item.value, item.key, extension);
                if (path.empty()) {
                    Report(report, context.programsFolder + item.value + "\\" + item.key,
                           IDS_WHY_TOO_LONG);
                    break;
                }
                RemoveFileItem(item, path, context, report);
                break;
            }
            case WorkKind::DesktopUrl:
            case WorkKind::DesktopShortcut: {
                const char* extension = item.kind == WorkKind::DesktopUrl ? ".url" : ".lnk";
                Text path = MakeLinkPath(context.desktopFolder, Text(), item.key, extension);
                if (path.empty()) {
                    Report(report, context.desktopFolder + item.key, IDS_WHY_TOO_LONG);
                    break;
                }
                RemoveFileItem(item, path, context, report);
                break;
            }
            case WorkKind::File:
                RemoveFileItem(item, item.key, context, report);
                break;
            case WorkKind::RegistryValue:
                RemoveValueItem(item, report);
                break;
            case WorkKind::RegistryKey:
                RemoveKeyItem(item, report);
                break;
            case WorkKind::StartMenuFolder:
                RemoveFolderItem(item, context.programsFolder + item.key, context, report, false);
                break;
            case WorkKind::Folder:
                RemoveFolderItem(item, item.key, context, report, true);
                break;
        }
    }
    if (progress) progress(progressContext, total, total, Text());
}

void FinishDeferred(const RemovalContext& context, RemovalReport& report, ProgressCallback progress,
                    void* progressContext) {
    std::vector<WorkItem> deferred;
    deferred.swap(report.deferred);
    // Files first (the original program, then the log), then their folders.
    std::stable_partition(deferred.begin(), deferred.end(), [&](const WorkItem& item) {
        return item.kind != WorkKind::Folder && !SameFile(item.key, context.logFile);
    });
    for (const WorkItem& item : deferred) {
        if (item.kind == WorkKind::Folder) continue;
        // The log stays while anything it names is left, for a later run.
        if (report.unfinished && SameFile(item.key, context.logFile)) {
            Report(report, item.key, IDS_WHY_KEPT_FOR_LATER);
            continue;
        }
        // The original's file stays locked a moment after its process ends.
        for (int attempt = 0; attempt < 50; ++attempt) {
            if (Attributes(item.key) == INVALID_FILE_ATTRIBUTES || DeleteOneFile(item.key)) break;
            Sleep(100);
            if (progress) progress(progressContext, 1, 1, item.key);
        }
        if (Attributes(item.key) == INVALID_FILE_ATTRIBUTES)
            Gone(report, item);
        else
            Report(report, item.key, IDS_WHY_NOT_REMOVED);
    }
    for (const WorkItem& item : deferred)
        if (item.kind == WorkKind::Folder) RemoveFolderItem(item, item.key, context, report, false);
}
