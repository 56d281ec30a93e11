// The setup driver: runs inside one dispatch of the main window's message
// loop, hands the configuration to SetupWizard and posts the exit code.
#include "resources/resource.h"
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
        const Text message =
            PrerequisiteMessage(LoadResourceText(instance, IDS_PREREQ_MISSING), config);
        const Text caption = LoadResourceText(instance, IDS_PREREQ_CAPTION);
        MessageBoxA(mainWindow, message.c_str(), caption.c_str(), MB_ICONERROR | MB_OK);
        PostQuitMessage(kExitFailed);
        return;
    }

    SetupWizard wizard(mainWindow, instance);
    wizard.productFolder = config.productFolder;
    wizard.receiverFolder = config.receiverFolder;
    wizard.receiverName = config.receiverName;
    wizard.installName = config.installName;
    wizard.productKeyName = LoadResourceText(instance, IDS_PRODUCT_NAME);
    wizard.productDisplayName = LoadResourceText(instance, IDS_PRODUCT_NAME);
    wizard.appExe = config.appExe;
    wizard.appName = config.appName;
    wizard.receiverDefaultGiven = !config.receiverDefaultFolder.empty();
    wizard.receiverFolderKnown = !config.receiverFolder.empty();

    const int result = config.silent ? wizard.RunSilent() : wizard.ShowWizard();
    PostQuitMessage(ExitCodeForResult(result));
}
