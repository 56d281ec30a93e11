// SelfCopy.h: the uninstaller lives in the folder it removes, so the program
// the user starts hands the work to a copy of itself in the temp folder and
// waits for that copy to say how it went; the copy waits for the original to
// end before it removes the original's file, and leaves itself to be deleted
// at the next restart.
#pragma once

#include <windows.h>

#include "text/Text.h"

// Writes a copy of this program into the temp folder and starts it with
// arguments + " -original=... -parent=... -done=...", in the temp folder, and
// waits for it: answers the copy's verdict (0 done, -1 cancelled or failed);
// a copy that ended without signalling counts as failed (-1). The copy's file is held with
// writing and deleting denied from its creation until the copy has started,
// and its bytes are checked through that handle before the start.
// Answers false, having started nothing, when the copy cannot be made or
// started; then exitCode is untouched.
bool RunFromTempCopy(const Text& arguments, int& exitCode);

// In the copy: tells the original the verdict (done or failed); the original
// then ends with 0 or -1. Does nothing outside a copy (handles 0).
void SignalOriginal(unsigned long doneHandle, unsigned long failHandle, bool done);

// In the copy: waits up to timeoutMs for the original process to end. True
// when it ended (or there is none to wait for).
bool WaitForOriginal(unsigned long parentHandle, DWORD timeoutMs);

// Asks the system to delete this program's file at the next restart, where
// that is allowed; otherwise the file stays in the temp folder.
void ScheduleOwnRemoval();
