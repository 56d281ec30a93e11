// qorpack extract: entries written safely below a folder.
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "CommandUtil.h"
#include "contract/AsciiCase.h"
#include "contract/RelativeName.h"
#include "Commands.h"
#include "FileOps.h"
#include "NameRules.h"
#include "SafeExtract.h"

namespace qorpack {

const char* const kExtractUsage =
    "usage: qorpack extract ARCHIVE [-C DIR | --layout DIR] [NAME ...]\n"
    "Extracts the named entries (all when none is named) below DIR (default: the\n"
    "current folder), restoring time stamps. A NAME is a stored name or the unique\n"
    "end of one, in any case; a NAME that matches several entries is refused.\n"
    "Entries whose names would lead outside DIR (a drive, a leading separator, a\n"
    "'..' step) are refused before anything is written. Symbolic links below DIR\n"
    "are never followed. Each file is written under a temporary name beside its\n"
    "place and renamed over the old file only when complete.\n"
    "--layout DIR extracts as the setup places entries: below DIR/product and\n"
    "DIR/receiver (DIR/unplaced for names without a prefix), tags removed.\n";

namespace {

struct ExtractSink {
    SafeDestination* dest;
    std::string error;
};

bool WriteToDestination(void* context, const uint8_t* data, uint32_t n) {
    auto* s = static_cast<ExtractSink*>(context);
    return s->dest->Write(data, n, &s->error);
}

// Where --layout puts an entry: below product, receiver or unplaced.
std::string LayoutName(const std::string& stored) {
    StoredPlacement p = PlaceStoredName(stored);
    return std::string(FolderWord(p.folder)) + "\\" + p.path;
}

// Picks the entries the NAMEs stand for: an exact name (any case) or the unique
// end of one. False with a message for a NAME that matches none or several.
bool SelectEntries(const OpenedArchive& a, const std::vector<std::string>& names,
                   std::vector<unsigned long>* picked, std::string* error) {
    if (names.empty()) {
        for (unsigned long i = 0; i < a.Count(); ++i) picked->push_back(i);
        return true;
    }
    NameGroups groups = GroupNames(a);
    for (const std::string& n : names) {
        auto g = groups.find(FoldAscii(n));
        if (g != groups.end() && g->second.size() > 1) {
            *error = "'" + n + "' is ambiguous: it names entries " + DescribeEntries(a, g->second);
            return false;
        }
        if (g != groups.end()) {
            picked->push_back(g->second[0]);
            continue;
        }
        // The end of a name matches in any case, as whole names do.
        unsigned long found = ~0ul;
        int count = 0;
        for (unsigned long i = 0; i < a.Count(); ++i) {
            const std::string s = a.Name(i);
            if (s.size() >= n.size() &&
                qor_case::EqualAsciiN(s.c_str() + (s.size() - n.size()), n.c_str(), n.size())) {
                found = i;
                ++count;
            }
        }
        if (count != 1) {
            *error = "no entry is named '" + n + "'" +
                     (count > 1 ? " and several end with it" : " or ends with it");
            return false;
        }
        picked->push_back(found);
    }
    return true;
}

}  // namespace

int CmdExtract(int argc, char** argv) {
    const char* cmd = "extract";
    std::string archive, dir = ".";
    bool layout = false, haveDir = false;
    std::vector<std::string> names;
    for (int i = 0; i < argc; ++i) {
        if (IsHelp(argv[i])) return printf("%s", kExtractUsage), 0;
        if (!strcmp(argv[i], "-C") || !strcmp(argv[i], "--layout")) {
            if (i + 1 >= argc)
                return UsageError(cmd, kExtractUsage, "-C and --layout need a folder");
            if (haveDir) return UsageError(cmd, kExtractUsage, "give one -C or --layout folder");
            layout = argv[i][1] == '-';
            haveDir = true;
            dir = argv[++i];
        } else if (argv[i][0] == '-' && argv[i][1] && names.empty() && archive.empty()) {
            return UsageError(cmd, kExtractUsage,
                              (std::string("unknown option ") + argv[i]).c_str());
        } else if (archive.empty()) {
            archive = argv[i];
        } else {
            names.push_back(argv[i]);
        }
    }
    if (archive.empty()) return UsageError(cmd, kExtractUsage, "no ARCHIVE given");
    OpenedArchive a;
    std::string error;
    if (!OpenArchive(archive, QorZipFile::QZF_MODE_READ, &a, &error))
        return Complain(cmd, "%s", error.c_str());

    // Resolve every name and check every destination before writing anything.
    std::vector<unsigned long> picked;
    if (!SelectEntries(a, names, &picked, &error))
        return Complain(cmd, "%s in '%s'; nothing was extracted", error.c_str(), archive.c_str());
    std::vector<std::string> targets;
    std::unordered_map<std::string, unsigned long> seen;
    for (unsigned long i : picked) {
        const std::string stored = a.Name(i);
        std::string target = layout ? LayoutName(stored) : stored;
        for (unsigned char c : stored)
            if (c < 0x20 || c == 0x7f)
                return Complain(cmd,
                                "refusing to extract '%s': its name holds control characters; "
                                "nothing was extracted",
                                EscapeControls(stored).c_str());
        const RelativeNameVerdict below = CheckRelativeName(target.data(), target.size());
        if (below == RelativeNameVerdict::EmptyStep || below == RelativeNameVerdict::DotStep)
            return Complain(cmd,
                            "refusing to extract '%s': its name has an empty or '.' step; "
                            "nothing was extracted",
                            stored.c_str());
        if (below != RelativeNameVerdict::Below)
            return Complain(cmd,
                            "refusing to extract '%s': its name leads outside the destination "
                            "folder; nothing was extracted",
                            stored.c_str());
        auto ins = seen.emplace(FoldAscii(target), i);
        if (!ins.second)
            Warn(cmd, "entries " + DescribeEntries(a, {ins.first->second, i}) +
                          " go to the same file (names are the same regardless of case); the "
                          "later one is written last");
        targets.push_back(target);
    }
    SafeDestination dest;
    if (!dest.Open(dir, &error)) return Complain(cmd, "%s", error.c_str());

    ProgressLine progress("extracting");
    EntryDecoder decoder(a);
    uint64_t bytes = 0;
    for (size_t k = 0; k < picked.size(); ++k) {
        const QorZipFileEntry& e = a.Entry(picked[k]);
        progress.Update(static_cast<unsigned long>(k + 1),
                        static_cast<unsigned long>(picked.size()), targets[k]);
        ExtractSink sink{&dest, std::string()};
        const uint64_t time =
            (static_cast<uint64_t>(e.timeStamp.dwHighDateTime) << 32) | e.timeStamp.dwLowDateTime;
        Inflated r = Inflated::kRefused;
        qzf_indexed::InflateNotes notes;
        if (dest.Begin(targets[k], &sink.error)) {
            r = decoder.Decode(picked[k], WriteToDestination, &sink, &notes);
            if (r == Inflated::kOk && !dest.Finish(time, &sink.error)) r = Inflated::kRefused;
        }
        if (r != Inflated::kOk) {
            dest.Abandon();
            progress.Finish();
            return Complain(
                cmd, "cannot extract '%s' to '%s': %s", EscapeControls(a.Name(picked[k])).c_str(),
                dir.c_str(),
                r == Inflated::kRefused ? sink.error.c_str() : DamageText(r, notes, e).c_str());
        }
        bytes += e.uncompressedSize;
    }
    progress.Finish();
    Say("extracted %lu entr%s, %s, to %s\n", static_cast<unsigned long>(picked.size()),
        picked.size() == 1 ? "y" : "ies", Megabytes(bytes).c_str(), dir.c_str());
    return 0;
}

}  // namespace qorpack
