#include "uninstall/UninstallPlan.h"

#include <algorithm>
#include <cstdlib>
#include <unordered_set>

#include "contract/UninstallLogFormat.h"
#include "uninstall/LogReader.h"

namespace {

// Splits the command tail into words; a double quote starts or ends a quoted
// run anywhere in a word, so -productid="Demo Game" is one word.
std::vector<Text> SplitWords(const Text& tail) {
    std::vector<Text> words;
    Text word;
    bool inWord = false, quoted = false;
    for (size_t i = 0; i < tail.size(); ++i) {
        char c = tail[i];
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word.append(c);
            inWord = true;
        }
    }
    if (inWord) words.push_back(word);
    return words;
}

// True when word starts with option (letter case ignored); value gets the rest.
bool TakeOption(const Text& word, const char* option, Text& value) {
    Text head = word.substr(0, Text(option).size());
    if (!EqualsNoCase(head, option)) return false;
    value = word.substr(head.size());
    return true;
}

bool ParseNumber(const Text& t, unsigned long& out) {
    if (t.empty() || t.size() > 10) return false;
    for (size_t i = 0; i < t.size(); ++i)
        if (t[i] < '0' || t[i] > '9') return false;
    out = std::strtoul(t.c_str(), nullptr, 10);
    return true;
}

void AddUnique(std::vector<Text>& list, std::unordered_set<std::string>& seen, const Text& unit) {
    if (!unit.empty() && seen.insert(LowerAscii(unit)).second) list.push_back(unit);
}

void AddSection(std::vector<WorkItem>& work, const UninstallLog& log, const Text& section,
                WorkKind kind) {
    if (const LogSection* s = FindSection(log, section))
        for (const LogEntry& e : s->entries)
            work.push_back(WorkItem{kind, s->name, e.key, e.value, e.overlong});
}

// Keys and folders deepest first; equal depths keep log order.
void AddDeepestFirst(std::vector<WorkItem>& work, std::vector<WorkItem> items) {
    std::stable_sort(items.begin(), items.end(), [](const WorkItem& a, const WorkItem& b) {
        return PathDepth(a.key) > PathDepth(b.key);
    });
    work.insert(work.end(), items.begin(), items.end());
}

}  // namespace

bool ParseUninstallOptions(const Text& commandTail, UninstallOptions& options) {
    bool ok = true;
    for (const Text& word : SplitWords(commandTail)) {
        Text value;
        if (EqualsNoCase(word, "-silent")) {
            options.silent = true;
        } else if (TakeOption(word, kProductIdArgument, value)) {
            options.productIdGiven = true;
            options.productId = value;
        } else if (TakeOption(word, "-original=", value)) {
            options.original = value;
        } else if (TakeOption(word, "-parent=", value)) {
            ok = ParseNumber(value, options.parentHandle) && ok;
        } else if (TakeOption(word, "-done=", value)) {
            size_t comma = value.find(',');
            ok = comma != Text::npos && ParseNumber(value.substr(0, comma), options.doneHandle) &&
                 ParseNumber(value.substr(comma + 1), options.failHandle) && ok;
        }
    }
    return ok;
}

std::vector<Text> ListDependents(const UninstallLog& log) {
    std::vector<Text> names;
    if (const LogSection* s = FindSection(log, kLogDependents))
        for (const LogEntry& e : s->entries)
            if (!e.key.empty() && !e.overlong) names.push_back(e.key);
    return names;
}

std::vector<Text> ListUnitsForFullRemoval(const UninstallLog& log, const Text& productKey) {
    std::vector<Text> units;
    std::unordered_set<std::string> seen;
    // The product's own prefixes go last: reserve them now.
    std::unordered_set<std::string> last = {LowerAscii(kLogUnknownPrefix), LowerAscii(productKey),
                                            LowerAscii(kProductWord)};
    for (const Text& name : ListDependents(log))
        if (!last.count(LowerAscii(name))) AddUnique(units, seen, name);
    for (const LogSection& s : log.sections) {
        Text unit = LogSectionUnit(s.name);
        if (!last.count(LowerAscii(unit))) AddUnique(units, seen, unit);
    }
    AddUnique(units, seen, kLogUnknownPrefix);
    AddUnique(units, seen, productKey);
    AddUnique(units, seen, kProductWord);
    return units;
}

bool LogKnowsUnit(const UninstallLog& log, const Text& unit) {
    if (unit.empty()) return false;
    for (const Text& name : ListDependents(log))
        if (EqualsNoCase(name, unit)) return true;
    for (const LogSection& s : log.sections)
        if (EqualsNoCase(LogSectionUnit(s.name), unit)) return true;
    return false;
}

size_t PathDepth(const Text& t) {
    size_t n = 0;
    for (size_t i = 0; i < t.size(); ++i) n += t[i] == '\\';
    return n;
}

std::vector<WorkItem> BuildWorkList(const UninstallLog& log, const std::vector<Text>& units) {
    std::vector<WorkItem> work;
    // Commands of the units: by the file they run.
    if (const LogSection* s = FindSection(log, kLogUninstallCommandLine)) {
        std::unordered_set<std::string> files, dirs;
        for (const Text& u : units) {
            if (const LogSection* f = FindSection(log, LogSectionName(u, kLogFiles)))
                for (const LogEntry& e : f->entries) files.insert(LowerAscii(e.key));
            if (const LogSection* d = FindSection(log, LogSectionName(u, kLogDirs)))
                for (const LogEntry& e : d->entries)
                    if (!e.key.empty()) dirs.insert(LowerAscii(e.key));
        }
        for (const LogEntry& e : s->entries) {
            const std::string k = LowerAscii(e.key);
            bool mine = files.count(k) != 0;
            // Below a recorded folder: one look-up per backslash of the path.
            for (size_t i = k.size(); !mine && i-- > 0;)
                mine = k[i] == '\\' && dirs.count(k.substr(0, i)) != 0;
            if (mine)
                work.push_back(WorkItem{WorkKind::Command, s->name, e.key, e.value, e.overlong});
        }
    }
    for (const Text& u : units)
        AddSection(work, log, LogSectionName(u, kLogStartMenuShortcuts),
                   WorkKind::StartMenuShortcut);
    for (const Text& u : units)
        AddSection(work, log, LogSectionName(u, kLogStartMenuUrls), WorkKind::StartMenuUrl);
    for (const Text& u : units)
        AddSection(work, log, LogSectionName(u, kLogDesktopUrls), WorkKind::DesktopUrl);
    for (const Text& u : units)
        AddSection(work, log, LogSectionName(u, kLogDesktopShortcuts), WorkKind::DesktopShortcut);
    for (const Text& u : units) AddSection(work, log, LogSectionName(u, kLogFiles), WorkKind::File);
    for (const Text& u : units)
        AddSection(work, log, LogSectionName(u, kLogRegistryItems), WorkKind::RegistryValue);
    std::vector<WorkItem> keys, menuFolders, folders;
    for (const Text& u : units)
        AddSection(keys, log, LogSectionName(u, kLogRegistryKeys), WorkKind::RegistryKey);
    for (const Text& u : units)
        AddSection(menuFolders, log, LogSectionName(u, kLogStartMenuFolders),
                   WorkKind::StartMenuFolder);
    for (const Text& u : units)
        AddSection(folders, log, LogSectionName(u, kLogDirs), WorkKind::Folder);
    AddDeepestFirst(work, std::move(keys));
    AddDeepestFirst(work, std::move(menuFolders));
    AddDeepestFirst(work, std::move(folders));
    return work;
}
