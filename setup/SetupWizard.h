// SetupWizard: the wizard dialog 130 of one setup, over its install run.
//
// One object exists per interactive run. Its pages choose the folders of the
// InstallRun it was given; the copy page runs that install step by step,
// and the wizard is the run's observer there (progress label and bar, its
// messages owned by the dialog). The dialog procedure finds the object
// through the dialog's DWLP_USER, set from WM_INITDIALOG's parameter.
//
// Results: ShowWizard answers kInstallCompleted (1) or kInstallNotCompleted
// (2, cancelled or failed; setup/StartUp.h).
#pragma once

#include <windows.h>

#include <cstdint>

#include "setup/InstallRun.h"
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

class SetupWizard : public InstallObserver {
public:
    // A wizard over run (which must outlive it), shown over ownerWindow. The
    // run's observer stays as it is: whoever sets up the run decides whether
    // the wizard hears it directly or through a log.
    SetupWizard(HWND ownerWindow, InstallRun& run);
    SetupWizard(const SetupWizard&) = delete;
    SetupWizard& operator=(const SetupWizard&) = delete;

    // ---- The run's observer (the copy page) ----

    // The progress label 1027 names destination (string 148).
    void EntryStarted(const Text& destination) override;
    void EntryFinished(const Text&, EntryOutcome, const Text&) override {}
    // The progress bar, with the wait cursor lifted while it pumps messages.
    void Progress(uint32_t done, uint32_t total) override;
    void Note(const Text&) override {}
    // A message box owned by the dialog (none once it is gone).
    int Message(const InstallMessage& message) override;

    // ---- Wizard dialog (WizardDialog.cpp) ----

    // PrepareFolders, then dialog 130 modal over ownerWindow. Returns
    // kInstallCompleted when the user finished, kInstallNotCompleted when
    // cancelled (or the dialog could not be shown).
    int ShowWizard();

    // Dialog procedure of dialog 130: forwards to the HandleDialogMessage of
    // the object in DWLP_USER (stored at WM_INITDIALOG); 0 before that.
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    // Stores dialog as dialogWindow, then dispatches WM_INITDIALOG, WM_PAINT
    // and WM_COMMAND (2, 1001, 1002, 1004, 1005). Returns the dialog result.
    INT_PTR HandleDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

    // run.LoadText(id): the entry with "<DISP NAME>" and "<PROD NAME>" filled in.
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
    // When a file in use waits for the restart, message 174/175 says so
    // once before page 6. Its messages go through run.observer.
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
    InstallRun& run;                     // folders, names and the install itself
    HINSTANCE moduleInstance = nullptr;  // string-table lookups, the dialog
    HWND ownerWindow = nullptr;          // the main window
    HWND dialogWindow = nullptr;         // dialog 130 while it exists; else null
    int currentPage = kPageNone;         // wizard page, 0 before the dialog
    uint32_t progressDone = 0;           // bytes placed so far
    uint32_t progressTotal = 0;          // bytes to place
};
