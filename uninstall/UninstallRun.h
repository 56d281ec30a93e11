// UninstallRun.h: one run of the uninstaller, from the command line to the
// exit code, shared by the silent mode and the dialog.
//
//   TrovixUninstall.exe [-silent] [-productid=NAME]
//
// Without -productid= the product and every unit of the log go; the program
// hands that work to a copy of itself in the temp folder (SelfCopy.h). With
// -productid=NAME only the receiver NAME goes, in place, and the log loses
// its entries. An empty -productid= names the one receiver in "Dependents";
// with several the dialog asks, and -silent refuses. Exit code 0 when the
// work is done, -1 when cancelled, refused or the log cannot be read.
#pragma once

#include <windows.h>

#include <vector>

#include "text/Text.h"
#include "uninstall/LogReader.h"
#include "uninstall/RemovalEngine.h"
#include "uninstall/UninstallPlan.h"

constexpr int kExitDone = 0;
constexpr int kExitCancelled = -1;

struct UninstallSession {
    HINSTANCE instance = nullptr;
    UninstallOptions options;
    Text originalFile;  // the program the user started (this one, outside a copy)
    Text logFile;
    std::string logBytes;
    UninstallLog log;
    Text productKey;
    bool removeAll = true;      // false: one receiver only
    Text receiver;              // the receiver when !removeAll
    Text receiverShown;         // its display name, read before it goes
    std::vector<Text> choices;  // receivers to choose from (dialog only)
    RemovalReport report;
};

// Program entry: runs the whole uninstall and answers the exit code.
int RunUninstaller(HINSTANCE instance, const char* commandTail);

// Carries out the removal for the session's units, then the rest: tells the
// original program (in a copy) that the work is done, waits for it to end
// and removes what waited for it; with one receiver, rewrites the log.
void DoRemoval(UninstallSession& session, ProgressCallback progress, void* progressContext);

// The name a receiver is shown by: the "Full Name" of its publisher setup
// entry (its install name), else the receiver name itself.
Text ReceiverDisplayName(const Text& receiver);

// A string-table text with "<NAME>" and "<FILE>" replaced (first occurrence).
Text LoadUninstallText(const UninstallSession& session, UINT id, const Text& name = Text(),
                       const Text& file = Text());

// The report as lines "object - reason[ names]", CR LF separated.
Text FormatReport(const UninstallSession& session);
