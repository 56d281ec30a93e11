// The install run: folders, the payload appended to the own executable, the
// placement of every entry with its log records, the registry entries, the
// install commands and the companion tag file. RunSilent strings the steps
// together; the wizard's copy page calls the same steps one by one.
#include "setup/InstallRun.h"

#include <windows.h>

#include <cstdio>
#include <vector>

#include "archive/ArchiveLocator.h"
#include "archive/FileLayer.h"
#include "resources/resource.h"
#include "setup/ReadAhead.h"
#include "setup/StartUp.h"
#include "system/FileUtil.h"
#include "system/Handles.h"
#include "system/ProfileLog.h"
#include "system/UninstallLog.h"
#include "system/Version.h"
#include "text/ResourceText.h"
#include "contract/StoredName.h"
#include "text/TextUtil.h"
#include "ui/Window.h"

namespace {

// The maker's subfolder for receivers placed inside a 3rd-party folder.
constexpr char kMakerSubfolder[] = "\\QOR";

constexpr char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr char kProductConfigKey[] = "Software\\QOR\\Trovix";

// The companion detection program looks for its tag file here only.
constexpr char kScoutFolder[] = "C:\\Program Files\\QOR\\Scout";
constexpr char kScoutTagName[] = "Trovix.tag";

void RemoveOneTrailingBackslash(Text& folder) {
    if (folder.back() == '\\') folder.erase(folder.size() - 1);
}

bool EndsWith(const Text& text, const char* tail) {
    const Text t(tail);
    return text.size() >= t.size() && text.substr(text.size() - t.size()).Equals(tail);
}

// Starts a command line hidden and lets it run: neither waited for nor
// checked. WinExec is not used because it waits up to 30 seconds for the
// new process to go idle, which a program without a message loop never does.
bool StartHidden(const Text& commandLine) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process = {};
    // CreateProcessA may write into the command line: give it a copy.
    std::vector<char> line(commandLine.c_str(), commandLine.c_str() + commandLine.size() + 1);
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return false;
    Handle thread(process.hThread);
    Handle child(process.hProcess);
    return true;
}

// The engine's account of its last failure, e.g. "cannot extract a file:
// cannot write 'C:\x': Access is denied."
Text EngineCause(QorZipFile& archive) {
    Text cause(QzfErrorText(archive.GetLastError()));
    char described[2 * MAX_PATH];
    qfl::DescribeFailure(described, sizeof described);
    if (described[0]) cause += Text(": ") + described;
    return cause;
}

// True when another program holds path open so that it cannot be replaced
// now: opening it for writing and deletion with every sharing allowed meets
// a sharing violation (an open file shared for reading only, a running
// program's image, a loaded DLL) or a lock.
bool HeldByAnotherProgram(const Text& path) {
    FileHandle probe(CreateFileA(path.c_str(), GENERIC_WRITE | DELETE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (probe.IsValid()) return false;
    const DWORD error = GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

// Has the system move replacement over destination at the next restart.
bool ScheduleReplacement(const Text& replacement, const Text& destination) {
    return MoveFileExA(replacement.c_str(), destination.c_str(),
                       MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING) != 0;
}

// The system's text for code.
Text SystemCause(DWORD code) {
    char text[256];
    qfl::SystemErrorText(static_cast<int>(code), text, sizeof text);
    return Text(text);
}

}  // namespace

int ShowInstallMessage(HWND owner, const InstallMessage& message) {
    return MessageBoxA(owner, message.text.c_str(), message.caption.c_str(), message.style);
}

int DefaultAnswer(UINT style) {
    const UINT buttons = style & MB_TYPEMASK;
    return buttons == MB_YESNO || buttons == MB_YESNOCANCEL ? IDYES : IDOK;
}

int SilentObserver::Message(const InstallMessage& message) {
    if (suppress_) return DefaultAnswer(message.style);
    return ShowInstallMessage(owner_, message);
}

InstallRun::InstallRun(HINSTANCE instance, InstallObserver& reports)
    : moduleInstance(instance), observer(&reports) {}

Text InstallRun::LoadText(UINT id) const {
    Text text = LoadResourceText(moduleInstance, id);
    ReplaceOccurrences(text, "<DISP NAME>", installName, false);
    ReplaceOccurrences(text, "<PROD NAME>", productDisplayName, false);
    return text;
}

int InstallRun::RunSilent() {
    PrepareFolders();
    NoteFolders();
    if (!PrepareDestination(productFolder)) return kInstallNotCompleted;
    if (!ExtractPayload(false)) return kInstallNotCompleted;
    RegisterInstall();
    WriteTitleScoutTag();
    return restartNeeded ? kInstallRestartNeeded : kInstallCompleted;
}

void InstallRun::NoteFolders() {
    observer->Note("product folder: " + productFolder);
    if (!receiverName.empty()) observer->Note("receiver folder: " + receiverFolder);
}

void InstallRun::PrepareFolders() {
    if (receiverFolder.empty() && !appExe.empty()) needThirdPartyFolder = true;
    if (needThirdPartyFolder && !thirdPartyFolder.empty()) receiverFolder = thirdPartyFolder;
    RemoveOneTrailingBackslash(productFolder);
    RemoveOneTrailingBackslash(receiverFolder);
    // A stamped default folder means the receiver folder is used as it is.
    if (receiverDefaultGiven) return;
    if (!EndsWith(receiverFolder, kMakerSubfolder)) receiverFolder += kMakerSubfolder;
}

bool InstallRun::PrepareDestination(const Text& folder) {
    uninstallLogPath = folder + "\\" + kUninstallLogFileName;
    // The log is written through the profile API, which cannot name a longer
    // file; refuse before anything is created rather than log nowhere.
    if (uninstallLogPath.size() >= MAX_PATH) return false;
    const bool logExisted = FileExists(uninstallLogPath);

    // The log lives in the innermost of the folders about to be created;
    // CreateLoggedFolder records the levels once they exist, so none is lost.
    const bool created =
        CreateLoggedFolder(folder, LogSectionName(productKeyName, kLogDirs), uninstallLogPath);
    if (created && !logExisted) {
        WriteLogEntry(uninstallLogPath, LogSectionName(productKeyName, kLogFiles), uninstallLogPath,
                      "");
    }
    return created;
}

bool InstallRun::OpenPayload(const Text& path) {
    // Only an archive appended after the program counts (a bare stub has none).
    // A signed setup's payload ends where its certificate table starts.
    qzf_format::ArchiveLocation at;
    if (!qzf_format::LocateArchiveInFile(path.c_str(), &at) || !at.appended) return false;
    if (!qzf_format::OpenLocatedArchive(archive, path.c_str(), at, QorZipFile::QZF_MODE_READ)) {
        archive.Close();
        return false;
    }
    return true;
}

bool InstallRun::ExtractPayload(bool placeFoldersFirst) {
    char exePath[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, exePath, MAX_PATH);
    // A cut-off name (n == MAX_PATH) would open some other file.
    if (n == 0 || n >= MAX_PATH) return false;
    if (!OpenPayload(exePath)) return false;
    // The next entries are decoded on other threads while this one writes
    // and logs; without them, extraction reads the archive itself as before.
    ReadAhead ahead;
    ahead.Start(archive, exePath);
    // One open of the log for all the records of the loop.
    const ProfileFileHold logHold;

    BeginWaitCursor();
    const unsigned long count = archive.GetNumFiles();
    uint32_t total = 0;
    for (unsigned long i = 0; i < count; ++i) total += archive.GetFileSize(i);
    uint32_t done = 0;
    bool result = true;

    for (unsigned long i = 0; i < count; ++i) {
        const Text storedName(archive.GetFileName(i));
        const StoredNameMeaning meaning =
            DecodeStoredName(storedName, productFolder, receiverFolder);
        const Text& destination = meaning.destination;
        // The path is quoted: unquoted, a path with spaces lets the platform
        // start C:\Program.exe (or any other prefix of it) instead.
        if (!meaning.installArgs.empty())
            AddInstallCommand("\"" + destination + "\" " + meaning.installArgs);
        if (!meaning.uninstallArgs.empty()) {
            WriteLogEntry(uninstallLogPath, kLogUninstallCommandLine, destination,
                          destination + " " + meaning.uninstallArgs);
        }

        const Text unit = meaning.unit == StoredNameUnit::kReceiver  ? receiverName
                          : meaning.unit == StoredNameUnit::kProduct ? productKeyName
                                                                     : Text(kLogUnknownPrefix);
        const Text dirsSection = LogSectionName(unit, kLogDirs);
        const Text filesSection = LogSectionName(unit, kLogFiles);
        const size_t lastSlash = destination.rfind('\\');
        // A failure shows in the extraction below. The folder comes before
        // the progress label, as it always has; without a label it is made
        // only when the file cannot be created outright: a folder in which a
        // new file was just created exists, and there is nothing to record.
        bool folderDone = lastSlash == Text::npos;
        // True when this call made the folder exist.
        auto makeFolder = [&](bool expectMissing) {
            bool made = false;
            if (!folderDone)
                made = CreateLoggedFolder(destination.substr(0, lastSlash), dirsSection,
                                          uninstallLogPath, expectMissing);
            folderDone = true;
            return made;
        };

        if (placeFoldersFirst) makeFolder(false);
        observer->EntryStarted(destination);

        // Most destinations are new files: created outright, which spares a
        // failing look-up of the name first. Anything else (an existing file,
        // a missing folder) touches nothing and takes the steps below.
        bool placed = false;
        bool placedOk = qzf_readahead::ExtractNewFile(archive, storedName.c_str(),
                                                      destination.c_str(), ahead.Pieces(), &placed);
        EntryOutcome outcome = EntryOutcome::kPlaced;
        Text cause;
        if (!placed) {
            // The first file of a new folder: the folder is made as missing,
            // and in a folder just made the file is new, created outright too.
            const bool folderMissing =
                !folderDone && qfl::LastFailure().systemError == ERROR_PATH_NOT_FOUND;
            if (makeFolder(folderMissing) && folderMissing) {
                placedOk = qzf_readahead::ExtractNewFile(
                    archive, storedName.c_str(), destination.c_str(), ahead.Pieces(), &placed);
            }
        }
        if (placed) {
            if (!placedOk) {
                outcome = EntryOutcome::kFailed;
                cause = EngineCause(archive);
            }
            // Recorded even after a failure: a partly written file may be left.
            WriteLogEntry(uninstallLogPath, filesSection, destination, "");
        } else if (FileExists(destination)) {
            // An existing file is replaced only by a newer or equal version,
            // so the entry goes to a temporary file first for its version:
            // beside the destination, where only those who may write there
            // can touch it (not the user's temp folder, which any of the
            // user's programs could swap while the elevated setup looks).
            const Text temp = lastSlash == Text::npos
                                  ? Text()
                                  : MakeTempFileNameIn(destination.substr(0, lastSlash));
            if (temp.empty()) {
                outcome = EntryOutcome::kFailed;
                cause = SystemCause(GetLastError());
            } else if (!qzf_readahead::ExtractFileFrom(archive, storedName.c_str(), temp.c_str(),
                                                       ahead.Pieces())) {
                outcome = EntryOutcome::kFailed;
                cause = EngineCause(archive);
            } else {
                const Text oldVersion = GetFileVersionText(destination);
                const Text newVersion = GetFileVersionText(temp);
                const bool keep = (IsKnownVersion(oldVersion) || IsKnownVersion(newVersion)) &&
                                  CompareVersionText(oldVersion, newVersion) > 0;
                outcome = keep ? EntryOutcome::kKeptNewer : EntryOutcome::kReplaced;
                if (!keep) {
                    ClearReadOnly(destination);
                    // Moved into place: the checked file itself, never a copy.
                    if (!MoveFileExA(temp.c_str(), destination.c_str(),
                                     MOVEFILE_REPLACE_EXISTING)) {
                        cause = SystemCause(GetLastError());
                        // In use: the new file stays beside it for the restart.
                        if (HeldByAnotherProgram(destination) &&
                            ScheduleReplacement(temp, destination))
                            outcome = EntryOutcome::kScheduled;
                        else
                            outcome = EntryOutcome::kFailed;
                    }
                    if (outcome == EntryOutcome::kFailed) {
                        Text text = LoadText(IDS_COPY_FAILED);
                        ReplaceOccurrences(text, "<FILE>", destination, false);
                        const InstallMessage message{IDS_COPY_FAILED, text,
                                                     LoadText(IDS_COPY_FAILED_CAPTION),
                                                     MB_OK | MB_ICONERROR};
                        observer->Message(message);
                    }
                }
            }
            if (!temp.empty() && outcome != EntryOutcome::kScheduled && FileExists(temp))
                DeleteFileAt(temp);
            // Nothing to record: the file was there before the install.
        } else {
            if (!qzf_readahead::ExtractFileFrom(archive, storedName.c_str(), destination.c_str(),
                                                ahead.Pieces())) {
                outcome = EntryOutcome::kFailed;
                cause = EngineCause(archive);
                // A file held without any sharing looks absent to the check
                // above; it is there, and in use: replaced at the restart. The
                // entry is read again from the archive itself, since the
                // read-ahead has handed its pieces out once.
                if (lastSlash != Text::npos && HeldByAnotherProgram(destination)) {
                    const Text temp = MakeTempFileNameIn(destination.substr(0, lastSlash));
                    if (!temp.empty() &&
                        qzf_readahead::ExtractFileFrom(archive, storedName.c_str(), temp.c_str(),
                                                       nullptr) &&
                        ScheduleReplacement(temp, destination)) {
                        outcome = EntryOutcome::kScheduled;
                        cause.clear();
                    } else if (!temp.empty()) {
                        DeleteFileAt(temp);
                    }
                }
            }
            // Recorded even after a failure: a partly written file may be left.
            WriteLogEntry(uninstallLogPath, filesSection, destination, "");
        }
        // A failed replacement leaves the old file: the install is not complete.
        if (outcome == EntryOutcome::kFailed) result = false;
        if (outcome == EntryOutcome::kScheduled) restartNeeded = true;
        observer->EntryFinished(destination, outcome, cause);

        done += archive.GetFileSize(i);
        observer->Progress(done, total);
    }

    ahead.Stop();
    archive.Close();
    EndWaitCursor();
    return result;
}

void InstallRun::AddInstallCommand(const Text& command) {
    // Commands beyond the list's capacity are dropped without a message.
    if (installCommandCount >= kMaxInstallCommands) return;
    installCommands[installCommandCount++] = command;
}

void InstallRun::RegisterInstall() {
    const Text& log = uninstallLogPath;
    const Text uninstallKeyBase = Text(kUninstallKey) + "\\";
    const Text uninstaller = productFolder + "\\" + kUninstallerFileName;
    // Each value set is also reported, as "registry: HKLM\key\name = data".
    auto setValue = [&](const Text& key, const char* name, const Text& data, const Text& keys,
                        const Text& items) {
        SetLoggedRegistryValue(key, name, data, keys, items, log);
        observer->Note("registry: HKLM\\" + key + "\\" + name + " = " + data);
    };
    auto setSetupEntry = [&](const Text& name, const Text& folder, const Text& fullName,
                             const Text& keys, const Text& items) {
        WriteSetupRegistryEntry(name, folder, fullName, keys, items, log);
        observer->Note("registry: setup entry " + name + ": Directory = " + folder +
                       ", Full Name = " + fullName);
    };

    if (!productKeyName.empty() && !productDisplayName.empty()) {
        const Text keys = LogSectionName(productKeyName, kLogRegistryKeys);
        const Text items = LogSectionName(productKeyName, kLogRegistryItems);
        setSetupEntry(productKeyName, productFolder, productDisplayName, keys, items);
        const Text uninstallKey = uninstallKeyBase + productKeyName;
        setValue(uninstallKey, "DisplayName", productDisplayName, keys, items);
        setValue(uninstallKey, "UninstallString", uninstaller, keys, items);
    }

    if (!receiverName.empty() && !installName.empty()) {
        const Text keys = LogSectionName(receiverName, kLogRegistryKeys);
        const Text items = LogSectionName(receiverName, kLogRegistryItems);
        setSetupEntry(receiverName, receiverFolder, installName, keys, items);
        WriteLogEntry(log, kLogDependents, receiverName, "");
        // The receiver's uninstall entry carries its display name; the product's
        // uninstaller removes it.
        const Text uninstallKey = uninstallKeyBase + installName;
        setValue(uninstallKey, "DisplayName", installName, keys, items);
        setValue(uninstallKey, "UninstallString", uninstaller + " " + kProductIdArgument, keys,
                 items);
        if (!appExe.empty()) {
            setValue(Text(kProductConfigKey) + "\\3rdPartyApps\\" + appExe, "Path",
                     thirdPartyFolder, keys, items);
        }
    }

    const Text keys = LogSectionName(kProductWord, kLogRegistryKeys);
    const Text items = LogSectionName(kProductWord, kLogRegistryItems);
    setValue(Text(kProductConfigKey) + "\\Config\\Receivers\\TrovixRcv", "LatestVersion", "", keys,
             items);
    // The downloader creates this key itself; it is on record for removal.
    LogRegistryKeyPath(Text(kProductConfigKey) + "\\Downloader", keys, log);

    for (uint32_t i = 0; i < installCommandCount; ++i) {
        const Text& command = installCommands[i];
        if (StartHidden(command))
            observer->Note("command started: " + command);
        else
            observer->Note("command not started: " + command + ": " + SystemCause(GetLastError()));
    }
}

void InstallRun::WriteTitleScoutTag() {
    const Text dirs = LogSectionName(kProductWord, kLogDirs);
    const Text files = LogSectionName(kProductWord, kLogFiles);
    CreateLoggedFolder(kScoutFolder, dirs, uninstallLogPath);

    const Text tagPath = Text(kScoutFolder) + "\\" + kScoutTagName;
    if (!FileExists(tagPath)) WriteLogEntry(uninstallLogPath, files, tagPath, "");

    // Text mode: the "\n" is written as CR LF; no line break follows the folder.
    StdFile tag(std::fopen(tagPath.c_str(), "w"));
    bool written = tag.IsValid() && std::fputs("[Installation]\nDirectory=", tag.Get()) >= 0 &&
                   std::fputs(productFolder.c_str(), tag.Get()) >= 0;
    // A write that fails on close (disk full) is as much a failure as no file.
    if (tag.IsValid()) written = tag.Close() && written;
    observer->Note(Text(written ? "tag file written: " : "tag file not written: ") + tagPath);
    if (!written) {
        const InstallMessage message{IDS_TAG_WRITE_FAILED, LoadText(IDS_TAG_WRITE_FAILED),
                                     LoadText(IDS_TAG_WRITE_FAILED_CAPTION),
                                     MB_OK | MB_ICONINFORMATION};
        observer->Message(message);
    }
}
