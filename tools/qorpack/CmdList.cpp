// qorpack list: the entries of an archive, or where the setup puts them.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "CommandUtil.h"
#include "Commands.h"
#include "NameRules.h"

namespace qorpack {

const char* const kListUsage =
    "usage: qorpack list [--layout] ARCHIVE\n"
    "Lists the entries of an archive, or of the archive appended to a setup:\n"
    "size, compressed size, ratio, time stamp (UTC), attributes and stored name.\n"
    "Control characters in names are shown as \\xNN. Entries whose names differ\n"
    "only by case (or not at all) are named after the table.\n"
    "--layout shows where the setup puts each entry instead: the product or\n"
    "receiver folder (or 'unplaced'), the path with the tags removed, and the\n"
    "arguments of its install and uninstall commands.\n";

namespace {

// Names of entries that share a name regardless of case, for the notes after a table.
std::vector<std::string> SameNameNotes(const OpenedArchive& a) {
    NameGroups groups = GroupNames(a);
    std::vector<std::vector<unsigned long>> shared;
    for (auto& g : groups)
        if (g.second.size() > 1) shared.push_back(g.second);
    std::sort(shared.begin(), shared.end());
    std::vector<std::string> notes;
    for (const auto& g : shared)
        notes.push_back("entries " + DescribeEntries(a, g) +
                        " have the same name regardless of case; name them by number");
    return notes;
}

int ListLayout(const OpenedArchive& a) {
    printf("%-8s  %-40s  %-16s  %s\n", "Folder", "Installs as", "Install args", "Uninstall args");
    std::unordered_map<std::string, unsigned long> seen;
    std::vector<std::string> notes;
    for (unsigned long i = 0; i < a.Count(); ++i) {
        StoredPlacement p = PlaceStoredName(a.Name(i));
        printf("%-8s  %-40s  %-16s  %s\n", FolderWord(p.folder), Shown(p.path).c_str(),
               p.installArgs.empty() ? "-" : Shown(p.installArgs).c_str(),
               p.uninstallArgs.empty() ? "-" : Shown(p.uninstallArgs).c_str());
        auto ins = seen.emplace(InstallKey(a.Name(i)), i);
        if (!ins.second)
            notes.push_back("entries " + DescribeEntries(a, {ins.first->second, i}) +
                            " install to the same path; the later one wins");
    }
    printf("%lu entr%s\n", static_cast<unsigned long>(a.Count()), a.Count() == 1 ? "y" : "ies");
    for (const std::string& n : notes) printf("note: %s\n", n.c_str());
    return 0;
}

}  // namespace

int CmdList(int argc, char** argv) {
    const char* cmd = "list";
    std::string archive;
    bool layout = false;
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        if (!strcmp(argv[i], "--layout"))
            layout = true;
        else
            rest.push_back(argv[i]);
    }
    int rc = ParseOneFile(static_cast<int>(rest.size()), rest.data(), cmd, kListUsage, "ARCHIVE",
                          &archive);
    if (rc >= 0) return rc;
    OpenedArchive a;
    std::string error;
    if (!OpenArchive(archive, QorZipFile::QZF_MODE_READ, &a, &error))
        return Complain(cmd, "%s", error.c_str());
    if (layout) return ListLayout(a);
    const unsigned long n = a.Count();
    printf("%12s %12s %6s  %-19s  %-6s  %s\n", "Size", "Packed", "Ratio", "Modified (UTC)", "Attr",
           "Name");
    uint64_t totalSize = 0, totalPacked = 0;
    for (unsigned long i = 0; i < n; ++i) {
        const QorZipFileEntry& e = a.Entry(i);
        totalSize += e.uncompressedSize;
        totalPacked += e.compressedSize;
        char ratio[16] = "-";
        if (e.uncompressedSize)
            snprintf(ratio, sizeof ratio, "%5.1f%%", 100.0 * e.compressedSize / e.uncompressedSize);
        printf("%12lu %12lu %6s  %-19s  %-6s  %s\n", static_cast<unsigned long>(e.uncompressedSize),
               static_cast<unsigned long>(e.compressedSize), ratio,
               FormatFileTime(e.timeStamp).c_str(), FormatAttributes(e.attributes).c_str(),
               Shown(a.Name(i)).c_str());
    }
    char ratio[16] = "-";
    if (totalSize) snprintf(ratio, sizeof ratio, "%5.1f%%", 100.0 * totalPacked / totalSize);
    printf("%12" PRIu64 " %12" PRIu64 " %6s  %lu entr%s", totalSize, totalPacked, ratio, n,
           n == 1 ? "y" : "ies");
    if (a.at.headerOffset) printf(", archive at offset %" PRIu64, a.at.headerOffset);
    printf("\n");
    for (const std::string& note : SameNameNotes(a)) printf("note: %s\n", note.c_str());
    return 0;
}

}  // namespace qorpack
