// SetupWizard construction and the one current-instance registration that
// the dialog procedure forwards to.
#include "setup/SetupWizard.h"

namespace {
// The object of this run; the dialog procedure has no other way to reach it.
SetupWizard* gCurrentWizard = nullptr;
}  // namespace

SetupWizard::SetupWizard(HWND owner, HINSTANCE instance)
    : moduleInstance(instance), ownerWindow(owner) {
    gCurrentWizard = this;
}

SetupWizard::~SetupWizard() {
    if (gCurrentWizard == this) gCurrentWizard = nullptr;
}

SetupWizard* SetupWizard::Current() { return gCurrentWizard; }
