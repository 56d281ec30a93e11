// Placeholders removed as the install run and the wizard land.
//
// Each block below stands in for one SetupWizard member until its real body
// exists in InstallRun.cpp or WizardDialog.cpp; delete the block in the same
// commit that adds the member there. The placeholders fail safe: both runs
// answer 2 (not installed), every test answers false, nothing is done.
#include "setup/SetupWizard.h"

// ---- install run ----

int SetupWizard::RunSilent() { return 2; }

void SetupWizard::PrepareFolders() {}

bool SetupWizard::PrepareDestination(const Text&) { return false; }

bool SetupWizard::OpenPayload(const Text&) { return false; }

bool SetupWizard::ExtractPayload(bool) { return false; }

void SetupWizard::AddInstallCommand(const Text&) {}

void SetupWizard::RegisterInstall() {}

void SetupWizard::WriteTitleScoutTag() {}

// ---- wizard dialog ----

int SetupWizard::ShowWizard() { return 2; }

INT_PTR CALLBACK SetupWizard::DialogProc(HWND, UINT, WPARAM, LPARAM) { return 0; }

INT_PTR SetupWizard::HandleDialogMessage(HWND, UINT, WPARAM, LPARAM) { return 0; }

Text SetupWizard::LoadWizardText(UINT) const { return Text(); }

void SetupWizard::SetInstructions(UINT, UINT, UINT, UINT, UINT, UINT) {}

void SetupWizard::ShowProgressText(const Text&) {}

void SetupWizard::SetProgress(uint32_t, uint32_t) {}

void SetupWizard::GoNext() {}

void SetupWizard::GoBack() {}

void SetupWizard::CancelOrFinish() {}

void SetupWizard::StartDialog() {}

void SetupWizard::ShowPage(int) {}

void SetupWizard::ShowDestinationPage() {}

void SetupWizard::ShowReceiverDestinationPage() {}

void SetupWizard::ShowThirdPartyFolderPage() {}

void SetupWizard::ShowReadyPage() {}

void SetupWizard::ShowCopyingPage() {}

void SetupWizard::ShowFinishedPage() {}

void SetupWizard::RunCopy() {}

void SetupWizard::UpdateThirdPartyNext() {}

void SetupWizard::BrowseForDestination() {}

void SetupWizard::BrowseForThirdPartyProgram() {}

void SetupWizard::PaintProgress() {}
