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
