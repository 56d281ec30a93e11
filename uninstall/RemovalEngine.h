// RemovalEngine.h: carrying out the removals of an uninstall plan on this
// machine. Every recorded object passes the removal rules first (on its path
// as recorded and, when it exists, on its long form); an object that is not
// there any more counts as removed. Folders and keys are removed only when
// nothing is left in them; registry work is below HKEY_LOCAL_MACHINE only.
// Nothing here shows a window: progress goes to a callback, and everything
// left behind is collected in the report.
#pragma once

#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "text/Text.h"
#include "uninstall/RemovalRules.h"
#include "uninstall/UninstallPlan.h"

// How long one uninstall command may run before the removal goes on.
constexpr DWORD kCommandTimeoutMs = 30000;

struct RemovalContext {
    ProtectedFolders protectedFolders;
    Text programsFolder;  // Start Menu programs folder, ending in a backslash
    Text desktopFolder;   // Desktop folder, ending in a backslash
    Text logFile;         // the uninstall log: removed last, by FinishDeferred
    Text ownFile;         // this program's file: never removed here
    Text originalFile;    // the program that started this copy, still running
                          // while the work is done (empty: none): it and the
                          // folders holding it wait for FinishDeferred
};

// One line of the final report: the object and why it stayed.
struct ReportLine {
    Text what;
    UINT reasonId;  // string-table entry (IDS_WHY_...)
    Text detail;    // names a kept folder or key still holds
};

struct RemovalReport {
    std::vector<ReportLine> lines;
    // Something the log owns is still there and a later run may remove it (a
    // file in use, a command still running): the log, the uninstaller and
    // the Uninstall entry must stay for that run.
    bool unfinished = false;
    std::set<std::string> gone;      // LogEntryId of every entry whose object is gone
    std::vector<WorkItem> deferred;  // for FinishDeferred, in work order
};

// Called after every item and while waiting for a command; done of total
// items, and the object at hand.
using ProgressCallback = void (*)(void* context, size_t done, size_t total, const Text& what);

// True when path, or an existing folder on the way to it, is a reparse point
// (a symbolic link, a junction, a mount point), or a component cannot be
// examined. The uninstaller runs elevated: what it deletes or runs must be
// where the recorded path says, not wherever a link leads.
bool PassesThroughReparsePoint(const Text& path);

// True when the system says the existing file at path is really another
// file: what a handle opened there (not following a reparse point) leads to
// differs from path and its long form. Under Wine a unix link to a file is no
// reparse point, but deleting through it would reach its target. False where
// the system cannot say (before Windows Vista) or nothing opens there.
bool LeadsElsewhere(const Text& path);
// The same for a handle already opened at path (so a check and what is done
// through the handle concern the same file).
bool HandleLeadsElsewhere(HANDLE file, const Text& path);

// The folders the rules protect on this machine: the Windows and system
// folders, Program Files, the temp folder, and the shell folders as the setup
// resolves them (plus the other shell folders of both kinds of Windows).
ProtectedFolders ResolveProtectedFolders();

// Fills a context for the log at logFile: protected and shell folders, the
// program's own file.
RemovalContext MakeRemovalContext(const Text& logFile, const Text& originalFile);

// Carries out work in order. progress may be null.
void CarryOutWork(const std::vector<WorkItem>& work, const RemovalContext& context,
                  RemovalReport& report, ProgressCallback progress, void* progressContext);

// After the original program has ended: removes its file, then the log (only
// when nothing is unfinished, so a later run can finish), and the folders
// that waited for them, deepest first. While it waits for a file to
// come free it calls progress (may be null) with done equal to total.
void FinishDeferred(const RemovalContext& context, RemovalReport& report, ProgressCallback progress,
                    void* progressContext);
