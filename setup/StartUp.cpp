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

void ParseCommandLine(const Text& commandTail, SetupConfig& config) {
    Text line = commandTail;
    line.MakeLower();
    // Only the first occurrence counts, and only as a word start; text may
    // follow it directly.
    const size_t at = line.find(kOptionSilent);
    config.silent = at != Text::npos && (at == 0 || line[at - 1] == ' ');
    GetOptionValue(line, kOptionReceiveDir, config.receiverFolder);
    GetOptionValue(line, kOptionTrovixDir, config.productFolder);
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
    return !config.appKeyList.empty() && config.receiverFolder.empty() && config.appExe.empty();
}

Text PrerequisiteMessage(const Text& messageTemplate, const SetupConfig& config) {
    Text message = messageTemplate;
    ReplaceOccurrences(message, "<RCV>", config.installName, true);
    ReplaceOccurrences(message, "<PROD>", config.appName, true);
    return message;
}

int ExitCodeForResult(int result) {
    return result == kInstallCompleted ? kExitInstalled : kExitFailed;
}
