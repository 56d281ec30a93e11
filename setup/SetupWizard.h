// SetupWizard: the state of one setup and the operations on it.
//
// One object exists per run, from RunSetup's step 4 to its end. It holds the
// folders and names of the setup, the progress counters, the install
// commands collected from the archive and the payload archive itself. It
// performs the install run (unattended through RunSilent, or step by step
// from the wizard's copy page) and drives the wizard dialog 130
// (ShowWizard). The install run lives in InstallRun.cpp, the dialog in
// WizardDialog.cpp, construction and the current-instance registration in
// SetupWizard.cpp.
//
// Results: RunSilent and ShowWizard answer kInstallCompleted (1) or
// kInstallNotCompleted (2, cancelled or failed; setup/StartUp.h). Nothing is
// rolled back after a failure.
#pragma once

#include <windows.h>

#include <cstdint>

#include "archive/QorZipFile.h"
#include "text/Text.h"

// Wizard pages (the value of SetupWizard::currentPage).
enum WizardPage {
    kPageNone = 0,
    kPageDestination = 1,
    kPageReceiverDestination = 2,
    kPageThirdPartyFolder = 3,
    kPageReady = 4,
    kPageCopying = 5,
    kPageFinished = 6,
};

// Capacity of the install command list; commands beyond it are dropped.
constexpr uint32_t kMaxInstallCommands = 20;

class SetupWizard {
public:
    // Registers the object as the current instance. All texts empty,
    // numbers and handles zero, flags false; the archive has no file.
    SetupWizard(HWND ownerWindow, HINSTANCE moduleInstance);
    // Clears the current-instance registration; the archive closes with it.
    ~SetupWizard();
    SetupWizard(const SetupWizard&) = delete;
    SetupWizard& operator=(const SetupWizard&) = delete;

    // The registered object, or null when none exists.
    static SetupWizard* Current();

    // ---- Install run (InstallRun.cpp) ----

    // PrepareFolders, PrepareDestination(productFolder), ExtractPayload(false),
    // RegisterInstall, WriteTitleScoutTag. Returns kInstallCompleted, or
    // kInstallNotCompleted when the product folder cannot be created or the
    // extraction failed.
    int RunSilent();

    // Completes the folders: sets needThirdPartyFolder, takes the 3rd-party
    // folder as receiver folder when it is needed and known, strips one
    // trailing backslash from both folders and, unless receiverDefaultGiven,
    // appends "\QOR" to the receiver folder when it does not end in it.
    void PrepareFolders();

    // Points uninstallLogPath at folder\TrovixInstall.inf and creates folder
    // with logging (recording the log file itself when it is new). Returns
    // true when the folder exists at the end; false, creating nothing, when
    // the log path would not fit in 260 characters.
    bool PrepareDestination(const Text& folder);

    // Opens the archive appended to the file at path (header offset from the
    // file's last 4 bytes). Returns true when the archive is open; on failure
    // the archive is closed. A length below 21 (no archive is shorter; a bare
    // stub ends in zeros) or not below the file size is a failure.
    bool OpenPayload(const Text& path);

    // Places every archive entry of the own executable, logging what it
    // creates and collecting install commands; with showProgress the label
    // and progress bar follow each entry. Returns true when every entry was
    // extracted and every existing file due for replacement was replaced (a
    // failed replacement also shows message 152/153); every entry is
    // attempted. The archive is closed afterwards.
    bool ExtractPayload(bool showProgress);

    // Stores command in the next free install command slot; dropped when all
    // kMaxInstallCommands slots are used.
    void AddInstallCommand(const Text& command);

    // Writes the product's, the receiver's and the product configuration's
    // registry entries with logging, then starts the install commands hidden.
    // Failures are ignored.
    void RegisterInstall();

    // Writes "Trovix.tag" in C:\Program Files\QOR\Scout (logged); shows
    // message 170/171 when the file cannot be written.
    void WriteTitleScoutTag();

    // ---- Wizard dialog (WizardDialog.cpp) ----

    // PrepareFolders, then dialog 130 modal over ownerWindow. Returns
    // kInstallCompleted when the user finished, kInstallNotCompleted when
    // cancelled (or the dialog could not be shown).
    int ShowWizard();

    // Dialog procedure of dialog 130: forwards to Current()'s
    // HandleDialogMessage; 0 when there is no current object.
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    // Stores dialog as dialogWindow, then dispatches WM_INITDIALOG, WM_PAINT
    // and WM_COMMAND (2, 1001, 1002, 1004, 1005). Returns the dialog result.
    INT_PTR HandleDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

    // String-table entry id (256-character buffer) with the first
    // "<DISP NAME>" replaced by installName and the first "<PROD NAME>" by
    // productDisplayName. Empty text when the entry is missing.
    Text LoadWizardText(UINT id) const;
    // The same for page 3 and its Browse dialog and messages, which ask for
    // the 3rd-party application: there "<PROD NAME>" names that application.
    Text LoadThirdPartyText(UINT id) const;
    // Sets control 1025 to the listed entries (0 = none), joined by CR LF CR LF.
    void SetInstructions(UINT id1, UINT id2 = 0, UINT id3 = 0, UINT id4 = 0, UINT id5 = 0,
                         UINT id6 = 0);
    // Sets the progress label 1027.
    void ShowProgressText(const Text& text);
    // Stores done and total, repaints and pumps messages for about 20 ms.
    void SetProgress(uint32_t done, uint32_t total);

    // Navigation (Next, Back, Cancel / Finished buttons).
    void GoNext();
    void GoBack();
    void CancelOrFinish();

    // WM_INITDIALOG: centre, place the picture, show page 1, tick 1032/1033.
    void StartDialog();
    // Sets up page (1..6) with its groups, buttons, title and instructions;
    // nothing else happens.
    void ShowPage(int page);
    // Next on page 4: page 5, then the copy run (RunCopy).
    void ShowCopyingPageAndInstall();
    // Next at the end of the copy run: page 6, then the Start Menu entries.
    void ShowFinishedPageAndWriteShortcuts();
    void ShowDestinationPage();          // page 1
    void ShowReceiverDestinationPage();  // page 2
    void ShowThirdPartyFolderPage();     // page 3
    void ShowReadyPage();                // page 4
    void ShowCopyingPage();              // page 5 controls only
    void ShowFinishedPage();             // page 6
    // The Start Menu folder, web link and shortcuts, each logged.
    void WriteStartMenuEntries();
    // The copy run of page 5 (PrepareDestination, ExtractPayload(true),
    // RegisterInstall, WriteTitleScoutTag), then page 6 or back to page 4.
    void RunCopy();
    // Enables Next on page 3 exactly when thirdPartyFolder\appExe exists.
    void UpdateThirdPartyNext();
    // Button 1001: browse for a destination folder (pages 1 and 2).
    void BrowseForDestination();
    // Button 1002: locate the 3rd-party program (page 3).
    void BrowseForThirdPartyProgram();
    // WM_PAINT: the progress bar on page 5.
    void PaintProgress();

    // ---- Data, in this order ----
    HINSTANCE moduleInstance = nullptr;         // string-table lookups, the dialog
    HWND ownerWindow = nullptr;                 // the main window
    HWND dialogWindow = nullptr;                // dialog 130 while it exists; else null
    int currentPage = kPageNone;                // wizard page, 0 before the dialog
    uint32_t progressDone = 0;                  // bytes placed so far
    uint32_t progressTotal = 0;                 // bytes to place
    Text productFolder;                         // "[TROVIX]" entries; the uninstall log
    Text receiverFolder;                        // "[RECEIVE]" entries
    Text receiverName;                          // empty in a product-only setup
    Text installName;                           // stamped install (display) name
    Text productKeyName;                        // string 163; log prefix, registry entry name
    Text productDisplayName;                    // string 163; "Full Name", "<PROD NAME>"
    Text appExe;                                // 3rd-party application's program file name
    Text appName;                               // its display name; empty: appExe is shown
    Text thirdPartyFolder;                      // chosen in the wizard; else empty
    bool needThirdPartyFolder = false;          // set by PrepareFolders
    bool receiverDefaultGiven = false;          // stamped receiver default folder non-empty
    bool receiverFolderKnown = false;           // receiver folder non-empty at set-up
    QorZipFile archive;                         // the payload; opened by OpenPayload
    Text uninstallLogPath;                      // set by PrepareDestination
    uint32_t installCommandCount = 0;           // used entries of installCommands
    Text installCommands[kMaxInstallCommands];  // run after the install, in archive order
};
