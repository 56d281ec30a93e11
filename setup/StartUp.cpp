// The start-up logic: command line, folder look-ups, the prerequisite check.
// Window plumbing is in MainWindow.cpp, the setup driver in SetupDriver.cpp.
#include "setup/StartUp.h"

#include "resources/resource.h"
#include "system/Registry.h"
#include "text/ResourceText.h"
#include "text/TextUtil.h"

SetupConfig gSetupConfig;

HINSTANCE StringModule(const SetupConfig& config) {
    return config.instance ? config.instance : GetModuleHandleA(nullptr);
}

namespace {

// Only the first occurrence counts, and only as a word start; text may
// follow it directly.
bool HasSwitch(const Text& lowerLine, const char* option) {
    const size_t at = lowerLine.find(option);
    return at != Text::npos && (at == 0 || lowerLine[at - 1] == ' ');
}

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

}  // namespace

void ParseCommandLine(const Text& commandTail, SetupConfig& config) {
    config.commandLine = commandTail;
    Text line = commandTail;
    line.MakeLower();
    config.silent = HasSwitch(line, kOptionSilent);
    config.suppressMessageBoxes = config.silent && HasSwitch(line, kOptionSuppressMessageBoxes);
    GetOptionValue(line, kOptionReceiveDir, config.receiverFolder);
    GetOptionValue(line, kOptionTrovixDir, config.productFolder);
    // A file name keeps its case: the value is read from the tail as given,
    // at the place the lower-case match found.
    config.logPath.clear();
    const size_t at = line.find(kOptionLog);
    if (at != Text::npos && (at == 0 || line[at - 1] == ' ')) {
        Text fromOption = commandTail.substr(at);
        fromOption.replace(0, Text(kOptionLog).size(), kOptionLog);
        GetOptionValue(fromOption, kOptionLog, config.logPath);
    }
}

bool IsAbsoluteFolder(const Text& folder) {
    if (folder.size() >= 3 && IsAsciiLetter(folder[0]) && folder[1] == ':' && folder[2] == '\\')
        return true;
    // "\\server\share": both names present.
    if (folder.size() < 5 || folder[0] != '\\' || folder[1] != '\\') return false;
    const size_t shareStart = folder.find('\\', 2);
    if (shareStart == Text::npos || shareStart == 2) return false;
    const size_t shareEnd = folder.find('\\', shareStart + 1);
    return (shareEnd == Text::npos ? folder.size() : shareEnd) > shareStart + 1;
}

bool FolderRefused(const SetupConfig& config) {
    if (!IsAbsoluteFolder(config.productFolder)) return true;
    return !config.receiverFolder.empty() && !IsAbsoluteFolder(config.receiverFolder);
}

Text DefaultTrovixFolderFor(const Text& systemDirectory, const Text& folderBelowDrive) {
    char drive = systemDirectory[0];
    // A UNC-style or unreadable system directory gives no drive letter.
    if (drive == '\\' || drive == '\0') drive = 'C';
    Text folder(1, drive);
    folder += ":\\";
    folder += folderBelowDrive;
    return folder;
}

void FindDefaultTrovixFolder(SetupConfig& config) {
    Text folder = ReadSetupDirectory(kProductWord);
    if (folder.empty()) {
        char systemDirectory[MAX_PATH + 1] = {};
        UINT n = GetSystemDirectoryA(systemDirectory, MAX_PATH);
        if (n == 0 || n >= MAX_PATH) systemDirectory[0] = '\0';
        folder = DefaultTrovixFolderFor(systemDirectory,
                                        LoadResourceText(StringModule(config), IDS_DEFAULT_FOLDER));
    }
    config.productFolder = folder;
}

void LocateReceiverFolder(SetupConfig& config) {
    if (config.appKeyList.empty()) config.appKeyList = config.receiverName;
    const Text& list = config.appKeyList;
    Text found;
    size_t start = 0;
    while (found.empty() && start <= list.size()) {
        const size_t bar = list.find('|', start);
        const size_t end = bar == Text::npos ? list.size() : bar;
        const Text key = list.substr(start, end - start);
        // An empty alternative would read the publisher key itself, or
        // HKEY_LOCAL_MACHINE's own default value.
        if (!key.empty()) {
            found = ReadSetupDirectory(key);
            if (found.empty()) found = ReadRegistryString(key, config.appLocationValue);
        }
        if (bar == Text::npos) break;
        start = bar + 1;
    }
    config.receiverFolder = found.empty() ? config.receiverDefaultFolder : found;
}

bool PrerequisiteMissing(const SetupConfig& config) {
    return !config.appKeyList.empty() && config.receiverFolder.empty() &&
           (config.appExe.empty() || config.silent);
}

Text PrerequisiteMessage(const Text& messageTemplate, const SetupConfig& config) {
    Text message = messageTemplate;
    ReplaceOccurrences(message, "<RCV>", config.installName, true);
    ReplaceOccurrences(message, "<PROD>", config.appName, true);
    return message;
}

int ExitCodeForResult(int result) {
    if (result == kInstallRestartNeeded) return kExitRestartNeeded;
    return result == kInstallCompleted ? kExitInstalled : kExitFailed;
}
