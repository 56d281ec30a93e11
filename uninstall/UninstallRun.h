// UninstallRun.h: one run of the uninstaller, from the command line to the
// exit code: the session (what goes, the removal, its texts and report). The
// session talks to the person at the machine only through an
// UninstallObserver: the dialog implements it (UninstallDialog.h), and silent
// mode has its own that shows nothing, so the session runs without a window.
//
//   TrovixUninstall.exe [-silent] [-productid=NAME]  (kProductIdArgument)
//
// Without -productid= the product and every unit of the log go; the program
// hands that work to a copy of itself in the temp folder (SelfCopy.h). With
// -productid=NAME only the receiver NAME goes, in place, and the log loses
// its entries. An empty -productid= names the one receiver in "Dependents";
// with several the dialog asks, and -silent refuses. Exit code 0 when the
// work is done; -1 when cancelled, refused, the log cannot be read (a log
// without the product's sections cannot), or something the log owns is left:
// then the log holds exactly what is left, and the uninstaller and the
// Uninstall entry stay, so a later run can finish.
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

// What a run tells and asks the person at the machine.
class UninstallObserver {
public:
    virtual ~UninstallObserver() = default;
    // The run ends before anything is removed; message says why.
    virtual void Refused(const UninstallSession& session, const Text& message) = 0;
    // Asks what it must (the receiver among session.choices, the
    // confirmation), has DoRemoval carry out the work and shows how it went.
    // Answers the exit code: kExitDone after the work, kExitCancelled when
    // the person said no.
    virtual int Converse(UninstallSession& session) = 0;
    // During DoRemoval: done of total items, and the object at hand.
    virtual void Progress(size_t done, size_t total, const Text& what) = 0;
};

// Program entry: runs the whole uninstall and answers the exit code. With
// -silent its own observer shows nothing; otherwise interactive is used.
int RunUninstaller(HINSTANCE instance, const char* commandTail, UninstallObserver& interactive);

// Carries out the removal for the session's units, then the rest: tells the
// original program (in a copy) that the work is done, waits for it to end
// and removes what waited for it; with one receiver, rewrites the log.
// Progress goes to observer.
void DoRemoval(UninstallSession& session, UninstallObserver& observer);

// The exit code after DoRemoval: kExitDone, or kExitCancelled when something
// is left (report.unfinished).
int RemovalExitCode(const UninstallSession& session);

// The name a receiver is shown by: the "Full Name" of its publisher setup
// entry (its install name), else the receiver name itself.
Text ReceiverDisplayName(const Text& receiver);

// A string-table text with "<NAME>" and "<FILE>" replaced (first occurrence).
Text LoadUninstallText(const UninstallSession& session, UINT id, const Text& name = Text(),
                       const Text& file = Text());

// The report as lines "object - reason[ names]", CR LF separated.
Text FormatReport(const UninstallSession& session);
