// qorpack remove: entries taken out of an archive (or a setup's) in one pass.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <memory>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "CommandUtil.h"
#include "Numbers.h"
#include "Commands.h"
#include "FileOps.h"
#include "NameRules.h"
#include "Stamp.h"
#include "WriteLock.h"

namespace qorpack {

const char* const kRemoveUsage =
    "usage: qorpack remove ARCHIVE [--unsign] NAME|--entry N [...]\n"
    "Removes entries by stored name (any case) from an archive or a setup's appended\n"
    "archive. Every NAME must exist; otherwise nothing is changed. A NAME that\n"
    "matches several entries (names differing only by case) is refused with their\n"
    "numbers; --entry N removes the N-th entry (counting from 1) instead. A signed\n"
    "setup is refused unless --unsign removes its signature first.\n";

int CmdRemove(int argc, char** argv) {
    const char* cmd = "remove";
    std::string archive;
    std::vector<std::string> names;
    std::vector<unsigned long> numbers;
    bool unsign = false;
    for (int i = 0; i < argc; ++i) {
        if (IsHelp(argv[i])) return printf("%s", kRemoveUsage), 0;
        if (!strcmp(argv[i], "--unsign")) {
            unsign = true;
        } else if (!strcmp(argv[i], "--entry")) {
            unsigned long n = 0;
            if (i + 1 >= argc || !ParseCount(argv[i + 1], 1, ULONG_MAX, &n))
                return UsageError(cmd, kRemoveUsage, "--entry takes an entry number from 1");
            numbers.push_back(n);
            ++i;
        } else if (archive.empty()) {
            if (argv[i][0] == '-' && argv[i][1])
                return UsageError(cmd, kRemoveUsage,
                                  (std::string("unknown option ") + argv[i]).c_str());
            archive = argv[i];
        } else {
            names.push_back(argv[i]);
        }
    }
    if (archive.empty() || (names.empty() && numbers.empty()))
        return UsageError(cmd, kRemoveUsage, "give an ARCHIVE and at least one NAME");
    std::string error;
    WriteLock lock;
    if (!lock.Acquire(archive, false, &error)) return Complain(cmd, "%s", error.c_str());
    OpenedArchive probe;
    if (!OpenArchive(archive, QorZipFile::QZF_MODE_READ, &probe, &error) ||
        !CheckSignature(archive, unsign, probe.at, &error))
        return Complain(cmd, "%s", error.c_str());
    std::vector<unsigned long> indexes;
    const unsigned long count = probe.Count();
    {
        NameGroups groups = GroupNames(probe);
        for (const std::string& n : names) {
            auto g = groups.find(FoldAscii(n));
            if (g == groups.end())
                return Complain(cmd, "'%s' has no entry named '%s'; nothing was removed",
                                archive.c_str(), n.c_str());
            if (g->second.size() > 1)
                return Complain(cmd,
                                "'%s' would hit entries %s; name the one to remove with --entry N; "
                                "nothing was removed",
                                n.c_str(), DescribeEntries(probe, g->second).c_str());
            indexes.push_back(g->second[0]);
        }
        for (unsigned long n : numbers) {
            if (n > count)
                return Complain(cmd, "'%s' has %lu entries, no entry %lu; nothing was removed",
                                archive.c_str(), count, n);
            indexes.push_back(n - 1);
        }
    }
    std::sort(indexes.begin(), indexes.end());
    indexes.erase(std::unique(indexes.begin(), indexes.end()), indexes.end());
    std::unique_ptr<bool[]> drop(new bool[count]());
    for (unsigned long i : indexes) drop[i] = true;
    // The new archive is written once, without the removed entries, instead of
    // copying the file and compacting the copy in place.
    TempOutput out;
    if (!out.Create(archive, &error) || !WriteWithoutTo(probe, drop.get(), out.Path(), &error) ||
        !ClearSignatureEntry(out.Path().c_str(), probe.at, &error))
        return Complain(cmd, "%s; '%s' is unchanged", error.c_str(), archive.c_str());
    // Windows cannot replace a file that is still open.
    probe.engine.Close();
    out.CopyModeFrom(archive.c_str());
    if (!lock.StillCurrent(&error)) return Complain(cmd, "%s", error.c_str());
    lock.BeforeReplace();
    if (!out.Commit(&error)) return Complain(cmd, "%s", error.c_str());
    Say("removed %lu entr%s; %lu left\n", static_cast<unsigned long>(indexes.size()),
        indexes.size() == 1 ? "y" : "ies", count - static_cast<unsigned long>(indexes.size()));
    return 0;
}

}  // namespace qorpack
