// UninstallPlan.h: what one uninstall run does, decided from the command line
// and the log alone (pure code). Which units go, and the ordered list of
// removals: uninstall commands, Start Menu and Desktop links, files,
// registry values, then registry keys, Start Menu folders and folders, each
// of the last three deepest first.
#pragma once

#include <vector>

#include "text/Text.h"
#include "uninstall/LogReader.h"

// Command line: [-silent] [-productid=NAME], plus the options the original
// program hands to its temporary copy (-original=, -parent=, -done=).
// Options are matched without regard to letter case; values keep theirs and
// may be quoted ("...") to hold blanks.
struct UninstallOptions {
    bool silent = false;
    bool productIdGiven = false;  // "-productid=" present, with or without a value
    Text productId;
    // Set in the temporary copy only.
    Text original;                   // full path of the program that started the copy
    unsigned long parentHandle = 0;  // inheritable handle of that process
    unsigned long doneHandle = 0;    // inheritable event: the work is done, exit 0
    unsigned long failHandle = 0;    // inheritable event: cancelled or failed, exit -1
    bool IsCopy() const { return !original.empty(); }
};

// Parses the command tail (without the program name). Unknown words are
// ignored. False when an option's value is malformed (a handle that is not a
// decimal number); options holds what was read.
bool ParseUninstallOptions(const Text& commandTail, UninstallOptions& options);

// The receivers listed in "Dependents", in log order.
std::vector<Text> ListDependents(const UninstallLog& log);

// Every unit prefix that owns a section of the log, in the order a full
// uninstall removes them: receivers in "Dependents" order, other prefixes
// (receivers no longer listed) in log order, "Unknown", then productKey and
// "Trovix". Each prefix appears once (letter case ignored).
std::vector<Text> ListUnitsForFullRemoval(const UninstallLog& log, const Text& productKey);

// True when some section of the log belongs to unit (or "Dependents" lists it).
bool LogKnowsUnit(const UninstallLog& log, const Text& unit);

enum class WorkKind {
    Command,            // key: file path; value: its command line
    StartMenuShortcut,  // key: name; value: Start Menu folder (relative)
    StartMenuUrl,       // key: name; value: Start Menu folder (relative)
    DesktopUrl,         // key: name
    DesktopShortcut,    // key: name
    File,               // key: full path
    RegistryValue,      // key: key path\value name
    RegistryKey,        // key: key path
    StartMenuFolder,    // key: folder relative to Programs
    Folder,             // key: full path
};

struct WorkItem {
    WorkKind kind;
    Text section;  // where the record stands in the log
    Text key;
    Text value;
    // The entry was cut to kMaxLogField: it names something else than was
    // written, so the engine refuses it (and reports it cut short).
    bool overlong = false;
};

// The removals of the given units, in the order they are carried out.
// Commands: only those whose file is recorded in one of the units' "Files"
// sections or lies below one of their "Dirs" (a full removal passes every
// unit): a command naming any other program is never run. The log's own file
// and the program file itself come with the rest; the engine defers what it
// must.
std::vector<WorkItem> BuildWorkList(const UninstallLog& log, const std::vector<Text>& units);

// Number of backslashes in t: the depth by which keys and folders are ordered.
size_t PathDepth(const Text& t);
