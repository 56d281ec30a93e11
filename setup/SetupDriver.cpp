// The setup driver: runs inside one dispatch of the main window's message
// loop, hands the configuration to the install run (through the wizard, or
// silently) and posts the exit code.
#include "resources/resource.h"
#include "setup/InstallRun.h"
#include "setup/SetupWizard.h"
#include "setup/StartUp.h"
#include "text/ResourceText.h"

void RunSetup(HWND mainWindow) {
    SetupConfig& config = gSetupConfig;
    const HINSTANCE instance = StringModule(config);
    if (config.productFolder.empty()) FindDefaultTrovixFolder(config);
    if (config.receiverFolder.empty()) LocateReceiverFolder(config);

    // The receiver cannot be placed and there is no way to ask for its
    // folder: refuse, in silent mode too.
    if (PrerequisiteMissing(config)) {
        InstallMessage message;
        message.textId = IDS_PREREQ_MISSING;
        message.text = PrerequisiteMessage(LoadResourceText(instance, IDS_PREREQ_MISSING), config);
        message.caption = LoadResourceText(instance, IDS_PREREQ_CAPTION);
        message.style = MB_ICONERROR | MB_OK;
        // Owned by the main window, in both modes.
        SilentObserver(mainWindow).Message(message);
        PostQuitMessage(kExitFailed);
        return;
    }

    // The run's own messages in silent mode have no owner.
    SilentObserver silent(nullptr);
    InstallRun run(instance, silent);
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
        run.observer = &dialog;
        result = dialog.ShowWizard();
        run.observer = &silent;
    }
    PostQuitMessage(ExitCodeForResult(result));
}
