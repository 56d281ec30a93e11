// libFuzzer target: arbitrary bytes read as an uninstall log. Every entry is
// put through the removal rules and the plan, and the log is rewritten with
// every other entry taken out; the rewrite must parse to the entries kept.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "uninstall/LogReader.h"
#include "uninstall/RemovalRules.h"
#include "uninstall/UninstallPlan.h"

namespace {

constexpr size_t kMaxInput = 1 << 20;

const ProtectedFolders kFolders = {
    {"C:\\Windows", ProtectedKind::WindowsFolder},
    {"C:\\Windows\\system32", ProtectedKind::SystemFolder},
    {"C:\\Program Files", ProtectedKind::ProgramFiles},
    {"C:\\Temp", ProtectedKind::TempFolder},
    {"C:\\Windows\\Start Menu\\Programs", ProtectedKind::ShellFolder},
    {"C:\\Windows\\Desktop", ProtectedKind::ShellFolder},
};

// What a removable path must look like, checked the slow way.
bool LooksPlain(const Text& path) {
    if (path.size() >= 260 || path.size() < 4 || path[1] != ':' || path[2] != '\\') return false;
    std::string p = "\\" + path.substr(3).str() + "\\";
    if (p.find("\\.\\") != std::string::npos || p.find("\\..\\") != std::string::npos) return false;
    std::string lower = LowerAscii(path) + "\\";
    // In the Windows folder only what lies below its shell folders may go.
    for (const char* shell : {"c:\\windows\\start menu\\programs\\", "c:\\windows\\desktop\\"})
        if (lower.rfind(shell, 0) == 0 && lower.size() > std::strlen(shell)) return true;
    return lower.rfind("c:\\windows\\", 0) != 0;
}

size_t CountEntries(const UninstallLog& log) {
    size_t n = 0;
    for (const LogSection& s : log.sections) n += s.entries.size();
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kMaxInput) return 0;
    const char* text = reinterpret_cast<const char*>(data);
    UninstallLog log = ParseUninstallLog(text, size);

    std::set<std::string> drop;
    size_t i = 0, kept = 0;
    for (const LogSection& s : log.sections) {
        for (const LogEntry& e : s.entries) {
            if (e.key.size() > kMaxLogField || e.value.size() > kMaxLogField) std::abort();
            if (CheckRemovablePath(e.key, kFolders) == PathVerdict::Removable && !LooksPlain(e.key))
                std::abort();
            Text key, value;
            CheckRemovableValue(e.key, key, value);
            CheckRemovableKey(e.key);
            if (i++ % 2)
                drop.insert(LogEntryId(s.name, e.key));
            else
                ++kept;
        }
    }
    for (const WorkItem& w : BuildWorkList(log, ListUnitsForFullRemoval(log, "Trovix")))
        if (w.key.size() > kMaxLogField) std::abort();
    UninstallOptions options;
    ParseUninstallOptions(Text(text, size < 4096 ? size : 4096), options);

    // Repeated keys share their first one's fate, so the rewrite holds
    // exactly the entries kept.
    std::string rewritten = RewriteLog(text, size, drop);
    if (rewritten.size() > size) std::abort();
    UninstallLog again = ParseUninstallLog(rewritten.data(), rewritten.size());
    if (drop.size() + kept != CountEntries(log) || CountEntries(again) != kept) std::abort();
    return 0;
}
