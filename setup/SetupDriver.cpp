// The setup driver: runs inside one dispatch of the main window's message
// loop, hands the configuration to the install run (through the wizard, or
// silently) and posts the exit code. Every report of the run, and the
// driver's own message, passes the setup log (written only with -log=).

#include "resources/resource.h"
#include "setup/InstallRun.h"
#include "setup/SetupLog.h"
#include "setup/SetupWizard.h"
#include "setup/StartUp.h"
#include "system/Version.h"
#include "text/ResourceText.h"
#include "text/Format.h"

namespace {

void WriteLogStart(SetupLog& log, const SetupConfig& config) {
    char exePath[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, exePath, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) exePath[0] = '\0';
    const Text version = exePath[0] ? GetFileVersionText(exePath) : Text();
    log.Write(Text("setup started: ") + exePath +
              (version.empty() ? Text() : ", version " + version));
    log.Write("command line: " + config.commandLine);
}

// Ends the run: the result in the log, then WM_QUIT with the exit code.
void Finish(SetupLog& log, int exitCode, bool restartNeeded) {
    const char* what = exitCode == kExitFailed ? "not installed"
                       : restartNeeded         ? "installed, restart needed"
                                               : "installed";
    char code[16];
    FormatText(code, sizeof code, "%d", exitCode);
    log.Write(Text("result: ") + what + " (exit code " + code + ")");
    PostQuitMessage(exitCode);
}

}  // namespace

void RunSetup(HWND mainWindow) {
    SetupConfig& config = gSetupConfig;
    const HINSTANCE instance = StringModule(config);
    // A log that cannot be opened is left out; the install goes on.
    SetupLog log;
    if (!config.logPath.empty()) log.Open(config.logPath);
    WriteLogStart(log, config);
    if (config.productFolder.empty()) FindDefaultTrovixFolder(config);
    if (config.receiverFolder.empty()) LocateReceiverFolder(config);
    const bool suppress = config.silent && config.suppressMessageBoxes;

    // The receiver cannot be placed and there is no way to ask for its
    // folder, or a folder is relative (it would be taken from wherever the
    // setup happens to run): refuse before anything is written, silent too.
    if (PrerequisiteMissing(config) || FolderRefused(config)) {
        const InstallMessage message{
            IDS_PREREQ_MISSING,
            PrerequisiteMessage(LoadResourceText(instance, IDS_PREREQ_MISSING), config),
            LoadResourceText(instance, IDS_PREREQ_CAPTION), MB_ICONERROR | MB_OK};
        // Owned by the main window, in both modes.
        SilentObserver owned(mainWindow, suppress);
        LogObserver(log, owned, suppress).Message(message);
        Finish(log, kExitFailed, false);
        return;
    }

    // The run's own messages in silent mode have no owner.
    SilentObserver silent(nullptr, suppress);
    LogObserver silentLogged(log, silent, suppress);
    InstallRun run(instance, silentLogged);
    run.productFolder = config.productFolder;
    run.receiverFolder = config.receiverFolder;
    run.receiverName = config.receiverName;
    run.installName = config.installName;
    run.productKeyName = LoadResourceText(instance, IDS_PRODUCT_NAME);
    run.productDisplayName = LoadResourceText(instance, IDS_PRODUCT_NAME);
    run.appExe = config.appExe;
    run.appName = config.appName;
    run.receiverDefaultGiven = !config.receiverDefaultFolder.empty();
    run.receiverFolderKnown = !config.receiverFolder.empty();

    int result;
    if (config.silent) {
        result = run.RunSilent();
    } else {
        SetupWizard dialog(mainWindow, run);
        LogObserver dialogLogged(log, dialog, false);
        run.observer = &dialogLogged;
        result = dialog.ShowWizard();
        run.observer = &silentLogged;
    }
    Finish(log, ExitCodeForResult(result), run.restartNeeded);
}
