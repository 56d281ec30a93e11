// qorpack add: files added to an archive (or a setup's), on a working copy.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "CommandUtil.h"
#include "Commands.h"
#include "FileOps.h"
#include "NameRules.h"
#include "Numbers.h"
#include "Stamp.h"
#include "WriteLock.h"
#include "contract/AsciiCase.h"

namespace qorpack {

const char* const kAddUsage =
    "usage: qorpack add ARCHIVE [--unsign] [--level N] [-C DIR] SOURCE [SOURCE ...]\n"
    "       qorpack add ARCHIVE [--unsign] [--level N] SOURCE --as STORED\n"
    "Adds files (folders: every file below them) to ARCHIVE, creating it when it is\n"
    "missing; ARCHIVE may be a setup with an appended archive. An entry of the same\n"
    "name in any case is replaced (of names differing only by case, the exact one).\n"
    "A stored name is the SOURCE's path relative to DIR (default: the current\n"
    "folder); relative SOURCEs are read below DIR. A source outside DIR needs\n"
    "--as, which gives the stored name of a single file.\n"
    "Stored names with '..' steps, drives, leading or forward slashes, empty steps\n"
    "or control characters are refused. A signed setup is refused unless --unsign\n"
    "removes its signature first. --level N (1 to 9, default 9) is zlib's\n"
    "compression level for the added files: lower is faster and larger.\n";

namespace {

struct AddSource {
    std::string path;    // file to read
    std::string stored;  // stored name
};

bool CollectSources(const std::string& path, const std::string& stored, std::vector<AddSource>* out,
                    std::string* error) {
    if (IsRegularFile(path.c_str())) {
        if (stored.empty()) {
            *error = "'" + path + "' is the base folder itself, not a file";
            return false;
        }
        out->push_back({path, stored});
        return true;
    }
    if (!IsDirectory(path.c_str())) {
        *error = "'" + path + "' does not exist or is neither a file nor a folder";
        return false;
    }
    std::vector<std::string> files, folders;
    if (!ListFolder(path, &files, &folders, error)) return false;
    auto child = [&](const std::string& n) { return stored.empty() ? n : stored + "\\" + n; };
    for (const std::string& f : files) out->push_back({JoinPath(path, f), child(f)});
    for (const std::string& d : folders)
        if (!CollectSources(JoinPath(path, d), child(d), out, error)) return false;
    return true;
}

// The stored name of SOURCE as given on the command line: its path relative
// to the base folder. False with a message when it lies outside the base.
bool StoredNameOf(const std::string& source, const std::string& base, std::string* stored,
                  std::string* error) {
    bool ok = IsAbsolutePath(source) ? RelativeBelow(base, source, stored)
                                     : StoredNameFromRelative(source, stored);
    if (!ok)
        *error = "'" + source + "' lies outside " +
                 (base == "." ? std::string("the current folder") : "'" + base + "'") +
                 "; stored names are relative to it (-C DIR); give this file's name with --as";
    return ok;
}

// The entry a new one of name `stored` replaces: the one of exactly that
// name, else one of that name in another case; kQzfAddOnly when none.
uint32_t ReplacedEntry(const QorZipFile& z, const std::string& stored) {
    uint32_t other = qzf_indexed::kQzfAddOnly;
    for (uint32_t i = 0; i < qzf_indexed::EntryCount(z); ++i) {
        const char* name = qzf_indexed::Entry(z, i).name;
        if (!name) continue;
        if (stored == name) return i;
        if (other == qzf_indexed::kQzfAddOnly && qor_case::EqualAscii(name, stored.c_str()))
            other = i;
    }
    return other;
}

bool Refuse(const char* cmd, const std::string& stored, const NameCheck& c) {
    Complain(cmd, "stored name '%s' %s; nothing was added", EscapeControls(stored).c_str(),
             c.problem.c_str());
    return false;
}

}  // namespace

int CmdAdd(int argc, char** argv) {
    const char* cmd = "add";
    std::string archive, base = ".", as;
    bool haveAs = false, unsign = false;
    int level = kDefaultLevel;
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) {
        if (IsHelp(argv[i])) return printf("%s", kAddUsage), 0;
        if (!strcmp(argv[i], "--unsign")) {
            unsign = true;
        } else if (!strcmp(argv[i], "--as")) {
            if (i + 1 >= argc) return UsageError(cmd, kAddUsage, "--as needs a stored name");
            as = argv[++i];
            haveAs = true;
        } else if (!strcmp(argv[i], "--level")) {
            unsigned long n = 0;
            if (i + 1 >= argc || !ParseCount(argv[++i], 1, 9, &n))
                return UsageError(cmd, kAddUsage, "--level takes 1 to 9");
            level = static_cast<int>(n);
        } else if (!strcmp(argv[i], "-C")) {
            if (i + 1 >= argc) return UsageError(cmd, kAddUsage, "-C needs a folder");
            base = argv[++i];
        } else if (argv[i][0] == '-' && argv[i][1]) {
            return UsageError(cmd, kAddUsage, (std::string("unknown option ") + argv[i]).c_str());
        } else if (archive.empty()) {
            archive = argv[i];
        } else {
            args.push_back(argv[i]);
        }
    }
    if (archive.empty() || args.empty())
        return UsageError(cmd, kAddUsage, "give an ARCHIVE and at least one SOURCE");
    if (haveAs && (args.size() != 1 || as.empty()))
        return UsageError(cmd, kAddUsage, "--as takes a non-empty name and exactly one SOURCE");

    std::string error;
    std::vector<AddSource> sources;
    for (const std::string& a : args) {
        std::string path = IsAbsolutePath(a) ? a : JoinPath(base, ToNativeSeparators(a));
        if (haveAs) {
            if (!IsRegularFile(path.c_str()))
                return Complain(cmd, "'%s' is not a file (--as names a single file)", path.c_str());
            NameCheck c = CheckStoredName(as, NameOrigin::kGiven);
            if (!c.ok) return Refuse(cmd, as, c), 1;
            if (!c.warning.empty()) Warn(cmd, "stored name '" + as + "' " + c.warning);
            sources.push_back({path, as});
            continue;
        }
        std::string stored;
        if (!StoredNameOf(a, base, &stored, &error) ||
            !CollectSources(path, stored, &sources, &error))
            return Complain(cmd, "%s", error.c_str());
    }
    for (const AddSource& s : sources) {
        if (haveAs) break;
        NameCheck c = CheckStoredName(s.stored, NameOrigin::kDerived);
        if (!c.ok) return Refuse(cmd, s.stored, c), 1;
    }

    WriteLock lock;
    if (!lock.Acquire(archive, WriteLock::Target::kMayBeMissing, &error))
        return Complain(cmd, "%s", error.c_str());
    // A folder that holds the archive would otherwise add the old archive to the new one.
    for (size_t i = 0; i < sources.size();) {
        if (SameFile(sources[i].path.c_str(), archive.c_str())) {
            if (!lock.Missing())
                fprintf(stderr, "qorpack add: skipping '%s': it is the archive itself\n",
                        sources[i].path.c_str());
            sources.erase(sources.begin() + static_cast<long>(i));
        } else {
            ++i;
        }
    }
    if (sources.empty()) return Complain(cmd, "nothing to add");

    // The change is made on a copy, opened once: the entries it holds are
    // the archive's, and the copy is dropped on any refusal.
    // A new archive starts as the empty temporary file: nothing appears under
    // the archive's name until it is complete.
    const bool fresh = lock.Missing();
    qzf_format::ArchiveLocation at{};
    if (!fresh &&
        (!LocateArchiveOf(archive, &at, &error) || !CheckSignature(archive, unsign, at, &error)))
        return Complain(cmd, "%s", error.c_str());
    TempOutput out;
    if (!out.Create(archive, &error) ||
        (!fresh && (!CopyFileContents(archive.c_str(), out.Path().c_str(), &error) ||
                    !RemoveSignature(out.Path().c_str(), at, &error))))
        return Complain(cmd, "%s", error.c_str());
    if (!fresh) out.CopyModeFrom(archive.c_str());
    QorZipFile z;
    if (!OpenWorkingCopy(archive, out.Path(), at, &z, &error))
        return Complain(cmd, "%s", error.c_str());
    if (!qzf_indexed::SetAddLevel(z, level)) return Complain(cmd, "out of memory");

    // Names are compared once, through maps: an archive of many entries
    // stays linear. The same name in any case replaces; the same place once
    // installed under another name is refused.
    std::unordered_map<std::string, std::vector<std::string>> byName;
    std::unordered_map<std::string, std::string> byPlace;
    for (uint32_t i = 0; i < qzf_indexed::EntryCount(z); ++i) {
        const std::string name = qzf_indexed::Entry(z, i).name;
        byName[FoldAscii(name)].push_back(name);
        byPlace.emplace(InstallKey(name), name);
    }
    std::unordered_map<std::string, std::string> newNames, newPlaces;
    for (const AddSource& s : sources) {
        auto dup = newNames.emplace(FoldAscii(s.stored), s.path);
        if (!dup.second)
            return Complain(cmd, "'%s' and '%s' would both be stored as '%s'; nothing was added",
                            dup.first->second.c_str(), s.path.c_str(), s.stored.c_str());
        // Two new names Windows takes for one file (Ä and ä in Windows-1252, or
        // the same path with other tags) differ in more than ASCII case.
        auto twin = newPlaces.emplace(InstallKey(s.stored), s.stored);
        if (!twin.second)
            return Complain(cmd,
                            "stored names '%s' and '%s' install to the same place; nothing was "
                            "added",
                            Shown(twin.first->second).c_str(), Shown(s.stored).c_str());
        auto same = byName.find(FoldAscii(s.stored));
        auto place = byPlace.find(InstallKey(s.stored));
        if (place != byPlace.end() && same == byName.end())
            return Complain(cmd,
                            "stored name '%s' installs to the same place as the entry '%s'; "
                            "nothing was added",
                            s.stored.c_str(), place->second.c_str());
        // Entries whose names differ only by case: the one of exactly this
        // name is replaced; without one, which to replace is anyone's guess.
        if (same != byName.end() && same->second.size() > 1 &&
            std::find(same->second.begin(), same->second.end(), s.stored) == same->second.end())
            return Complain(cmd,
                            "'%s' would replace one of %lu entries whose names differ from it "
                            "only by case; give the exact name of the one to replace; nothing "
                            "was added",
                            s.stored.c_str(), static_cast<unsigned long>(same->second.size()));
    }

    ProgressLine progress("adding");
    uint64_t bytes = 0;
    for (size_t i = 0; i < sources.size(); ++i) {
        const AddSource& s = sources[i];
        progress.Update(static_cast<unsigned long>(i + 1),
                        static_cast<unsigned long>(sources.size()), s.path);
        if (!qzf_indexed::AddFileReplacing(z, s.path.c_str(), s.stored.c_str(),
                                           ReplacedEntry(z, s.stored))) {
            progress.Finish();
            return Complain(cmd, "cannot add '%s': %s; %s '%s'", s.path.c_str(),
                            EngineError(z).c_str(),
                            fresh ? "nothing was written to" : "unchanged:", archive.c_str());
        }
        uint64_t size = 0;
        if (GetFileSizeByPath(s.path.c_str(), &size)) bytes += size;
    }
    progress.Finish();
    z.Close();
    uint64_t before = 0, after = 0;
    GetFileSizeByPath(archive.c_str(), &before);
    GetFileSizeByPath(out.Path().c_str(), &after);
    if (!lock.StillCurrent(&error)) return Complain(cmd, "%s", error.c_str());
    lock.BeforeReplace();
    if (!out.Commit(&error)) return Complain(cmd, "%s", error.c_str());
    Say("added %lu entr%s, %s -> archive %s (was %s)\n", static_cast<unsigned long>(sources.size()),
        sources.size() == 1 ? "y" : "ies", Megabytes(bytes).c_str(), Megabytes(after).c_str(),
        Megabytes(before).c_str());
    return 0;
}

}  // namespace qorpack
