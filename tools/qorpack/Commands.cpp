#include "Commands.h"

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "EntryData.h"
#include "FileOps.h"
#include "Manifest.h"
#include "NameRules.h"
#include "Parallel.h"
#include "ParallelWriter.h"
#include "SafeExtract.h"
#include "Stamp.h"
#include "WriteLock.h"
#include "archive/FileLayer.h"
#include "archive/QorZipFile.h"

namespace qorpack {

namespace {

const char* const kStampUsage =
    "usage: qorpack stamp SETUP [--unsign] --slot MARKER=VALUE [--slot MARKER=VALUE ...]\n"
    "Writes values into the configuration slots of SETUP (a stub or a built setup).\n"
    "Markers: TVIID_INST_NAME (39 characters at most), TVIID_RCV_REG_KEY (31),\n"
    "TVIID_RCV_DEF_DIR (63), TVIID_APP_REG_KEY (127), TVIID_APP_LOC_ITEM (31),\n"
    "TVIID_APP_NAME (31), TVIID_APP_EXE (31). An empty VALUE stamps an empty text.\n"
    "A setup built from the stub is found by its slot section and can be stamped\n"
    "again at any time; other files only while one slot still holds its marker.\n"
    "A signed SETUP is refused (stamping breaks the signature) unless --unsign is\n"
    "given, which removes the signature first; sign the result again.\n"
    "On any error SETUP is left as it was.\n";
const char* const kInfoUsage =
    "usage: qorpack info SETUP\n"
    "Prints each configuration slot's marker and stamped value (or that it still\n"
    "holds its marker), whether SETUP is signed, and the archive appended to it,\n"
    "if any.\n";
const char* const kListUsage =
    "usage: qorpack list [--layout] ARCHIVE\n"
    "Lists the entries of an archive, or of the archive appended to a setup:\n"
    "size, compressed size, ratio, time stamp (UTC), attributes and stored name.\n"
    "Control characters in names are shown as \\xNN. Entries whose names differ\n"
    "only by case (or not at all) are named after the table.\n"
    "--layout shows where the setup puts each entry instead: the product or\n"
    "receiver folder (or 'unplaced'), the path with the tags removed, and the\n"
    "arguments of its install and uninstall commands.\n";
const char* const kExtractUsage =
    "usage: qorpack extract ARCHIVE [-C DIR | --layout DIR] [NAME ...]\n"
    "Extracts the named entries (all when none is named) below DIR (default: the\n"
    "current folder), restoring time stamps. A NAME is a stored name (any case) or\n"
    "the unique end of one; a NAME that matches several entries is refused.\n"
    "Entries whose names would lead outside DIR (a drive, a leading separator, a\n"
    "'..' step) are refused before anything is written. Symbolic links below DIR\n"
    "are never followed. Each file is written under a temporary name beside its\n"
    "place and renamed over the old file only when complete.\n"
    "--layout DIR extracts as the setup places entries: below DIR/product and\n"
    "DIR/receiver (DIR/unplaced for names without a prefix), tags removed.\n";
const char* const kVerifyUsage =
    "usage: qorpack verify ARCHIVE\n"
    "Inflates every entry in memory and checks its CRC and size; exits 1 naming\n"
    "each bad entry. ARCHIVE may be a setup with an appended archive.\n";
const char* const kAddUsage =
    "usage: qorpack add ARCHIVE [--unsign] [-C DIR] SOURCE [SOURCE ...]\n"
    "       qorpack add ARCHIVE [--unsign] SOURCE --as STORED\n"
    "Adds files (folders: every file below them) to ARCHIVE, creating it when it is\n"
    "missing; ARCHIVE may be a setup with an appended archive. An entry of the same\n"
    "name (any case) is replaced. A stored name is the SOURCE's path relative to\n"
    "DIR (default: the current folder); relative SOURCEs are read below DIR. A\n"
    "source outside DIR needs --as, which gives the stored name of a single file.\n"
    "Stored names with '..' steps, drives, leading or forward slashes, empty steps\n"
    "or control characters are refused. A signed setup is refused unless --unsign\n"
    "removes its signature first.\n";
const char* const kRemoveUsage =
    "usage: qorpack remove ARCHIVE [--unsign] NAME|--entry N [...]\n"
    "Removes entries by stored name (any case) from an archive or a setup's appended\n"
    "archive. Every NAME must exist; otherwise nothing is changed. A NAME that\n"
    "matches several entries (names differing only by case) is refused with their\n"
    "numbers; --entry N removes the N-th entry (counting from 1) instead. A signed\n"
    "setup is refused unless --unsign removes its signature first.\n";
const char* const kBuildUsage =
    "usage: qorpack build --stub STUB --manifest FILE --out SETUP\n"
    "                     [--slot MARKER=VALUE ...] [--jobs N]\n"
    "Builds a setup: a stamped copy of STUB with an archive of the manifest's files\n"
    "appended. Manifest lines read 'SOURCE => STORED NAME'; '#' starts a comment\n"
    "line (after a name it is part of the name); sources are relative to the\n"
    "manifest's folder; a SOURCE ending in '/' adds every file below that folder,\n"
    "in sorted order, below STORED NAME. Stored names are written verbatim once\n"
    "they pass the stored-name rules. --jobs N compresses on N threads (default:\n"
    "one per processor);\n"
    "--jobs 1 adds the files one by one through the archive engine. The output is\n"
    "the same byte for byte either way. SETUP appears only when complete; it may\n"
    "not be the stub, the manifest or a source.\n";

int Complain(const char* command, const char* fmt, ...) {
    fprintf(stderr, "qorpack %s: ", command);
    va_list ap;
    va_start(ap, fmt);
    vfprintf(stderr, fmt, ap);
    va_end(ap);
    fputc('\n', stderr);
    return 1;
}

int UsageError(const char* command, const char* usage, const char* what) {
    fprintf(stderr, "qorpack %s: %s\n%s", command, what, usage);
    return 2;
}

bool IsHelp(const char* arg) { return !strcmp(arg, "--help") || !strcmp(arg, "-h"); }

// Arguments of a command that takes exactly one file and no options. Returns
// -1 with *file set, or the exit code to return at once (help, usage error).
int ParseOneFile(int argc, char** argv, const char* cmd, const char* usage, const char* what,
                 std::string* file) {
    for (int i = 0; i < argc; ++i) {
        if (IsHelp(argv[i])) return printf("%s", usage), 0;
        if (argv[i][0] == '-' && argv[i][1])
            return UsageError(cmd, usage, (std::string("unknown option ") + argv[i]).c_str());
        if (!file->empty())
            return UsageError(cmd, usage, (std::string("give one ") + what).c_str());
        *file = argv[i];
    }
    if (file->empty())
        return UsageError(cmd, usage, (std::string("no ") + what + " given").c_str());
    return -1;
}

// The engine's error with its cause: "cannot write the archive (error 10):
// cannot write 'x': No space left on device".
std::string EngineError(QorZipFile& z) {
    QZF_ERROR code = z.GetLastError();
    std::string text = std::string(QzfErrorText(code)) + " (error " + std::to_string(code) + ")";
    char cause[qfl::kMaxPath + 320];
    qfl::DescribeFailure(cause, sizeof cause);
    if (code != QZF_ERR_NONE && cause[0]) text += std::string(": ") + cause;
    return text;
}

// Opens ARCHIVE (a stand-alone archive or a file with one appended) in `mode`.
// *end, when asked for, is where the engine stops reading records: a signed
// setup's archive ends before its certificate table; 0 for the end of the file.
bool OpenArchive(const std::string& path, QorZipFile* z, QorZipFile::QZF_MODE mode,
                 uint64_t* offset, std::string* error, uint64_t* end = nullptr) {
    if (!IsRegularFile(path.c_str())) {
        *error =
            "'" + path + "' " + (PathExists(path.c_str()) ? "is not a file" : "does not exist");
        return false;
    }
    qzf_format::ArchiveLocation at;
    if (!qzf_format::LocateArchiveInFile(path.c_str(), &at)) {
        *error = "cannot read '" + path + "': " + LastErrorText();
        return false;
    }
    uint64_t size = 0;
    if (!at.hasHeader && GetFileSizeByPath(path.c_str(), &size) && size > 0) {
        *error = "'" + path + "' is neither an archive nor a setup with an appended archive";
        return false;
    }
    *offset = at.headerOffset;
    if (end) *end = at.hasSignature && at.appended ? at.end : 0;
    if (!qzf_format::OpenLocatedArchive(*z, path.c_str(), at, mode)) {
        *error = "cannot open '" + path + "' as an archive: " + EngineError(*z);
        return false;
    }
    return true;
}

// FILETIME as "YYYY-MM-DD HH:MM:SS" (UTC), computed here so that dates before
// 1970 and the Windows C library agree.
std::string FormatFileTime(FILETIME t) {
    uint64_t ticks = (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    if (ticks == 0) return "-";
    uint64_t secs = ticks / 10000000ULL;
    uint64_t days = secs / 86400;
    unsigned rem = static_cast<unsigned>(secs % 86400);
    // Days since 1601-01-01 to a civil date (proleptic Gregorian).
    int64_t z = static_cast<int64_t>(days) - 134774 + 719468;  // 1601 -> 1970 -> 0000-03-01
    int64_t era = z / 146097;
    unsigned doe = static_cast<unsigned>(z - era * 146097);
    unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t y = static_cast<int64_t>(yoe) + era * 400;
    unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    unsigned mp = (5 * doy + 2) / 153;
    unsigned d = doy - (153 * mp + 2) / 5 + 1;
    unsigned m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2) ++y;
    char buf[40];
    snprintf(buf, sizeof buf, "%04d-%02u-%02u %02u:%02u:%02u", static_cast<int>(y), m, d,
             rem / 3600, rem / 60 % 60, rem % 60);
    return buf;
}

std::string FormatAttributes(uint32_t a) {
    std::string s;
    s += (a & 0x01) ? 'R' : '-';
    s += (a & 0x02) ? 'H' : '-';
    s += (a & 0x04) ? 'S' : '-';
    s += (a & 0x10) ? 'D' : '-';
    s += (a & 0x20) ? 'A' : '-';
    s += (a & 0x80) ? 'N' : '-';
    return s;
}

// A stored name that, put below a folder, stays below it.
bool StaysBelow(const std::string& name) {
    if (name.empty() || name[0] == '\\' || name[0] == '/') return false;
    if (name.size() >= 2 && name[1] == ':') return false;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find_first_of("\\/", start);
        if (end == std::string::npos) end = name.size();
        if (name.compare(start, end - start, "..") == 0 && end - start == 2) return false;
        start = end + 1;
    }
    return true;
}

// Refuses a signed file unless --unsign was given: a change breaks the
// signature (RemoveSignature then takes it off the copy the change is made
// on). *at receives where the archive lies; false with a message.
bool CheckSignature(const std::string& path, bool unsign, qzf_format::ArchiveLocation* at,
                    std::string* error) {
    if (!qzf_format::LocateArchiveInFile(path.c_str(), at)) {
        *error = "cannot read '" + path + "': " + LastErrorText();
        return false;
    }
    if (!at->hasSignature || unsign) return true;
    *error = "'" + path +
             "' is signed, and a change would break its signature; give --unsign to remove "
             "the signature first (and sign again afterwards). It is unchanged";
    return false;
}

bool g_quiet = false;

// A success line on stdout, unless --quiet.
void Say(const char* fmt, ...) {
    if (g_quiet) return;
    va_list ap;
    va_start(ap, fmt);
    vprintf(fmt, ap);
    va_end(ap);
}

void Warn(const char* command, const std::string& text) {
    fprintf(stderr, "qorpack %s: warning: %s\n", command, text.c_str());
}

std::string Megabytes(uint64_t bytes) {
    char buf[32];
    snprintf(buf, sizeof buf, "%.1f MB", bytes / 1e6);
    return buf;
}

// Entries grouped by name without regard to case: the archive's own notion of
// "the same name", built once so that lookups stay linear in the entry count.
using NameGroups = std::unordered_map<std::string, std::vector<unsigned long>>;

NameGroups GroupNames(const std::vector<EntryExtent>& entries) {
    NameGroups groups;
    groups.reserve(entries.size());
    for (unsigned long i = 0; i < entries.size(); ++i)
        groups[FoldAscii(entries[i].name)].push_back(i);
    return groups;
}

std::string DescribeEntries(const std::vector<EntryExtent>& entries,
                            const std::vector<unsigned long>& which) {
    std::string s;
    for (size_t k = 0; k < which.size(); ++k) {
        if (k) s += k + 1 == which.size() ? " and " : ", ";
        s += std::to_string(which[k] + 1) + " '" + EscapeControls(entries[which[k]].name) + "'";
    }
    return s;
}

// An open archive read by index: the engine checks its records, the table of
// extents gives each entry's data.
struct IndexedArchive {
    QorZipFile engine;
    FilePtr file;
    std::unique_ptr<PositionedReader> reader;
    uint64_t offset = 0;
    uint64_t end = 0;  // where the records stop (0: the end of the file)
    std::vector<EntryExtent> entries;
};

bool OpenIndexed(const std::string& path, IndexedArchive* a, std::string* error);

// Parses repeated --slot options into a checked list.
bool AddSlotArgument(const char* value, std::vector<SlotAssignment>* slots, std::string* error) {
    SlotAssignment a;
    if (!ParseSlotAssignment(value, &a, error)) return false;
    for (unsigned char c : a.value)
        if (c < 0x20 || c == 0x7f) {
            *error = "a slot value may not hold control characters (line breaks, tabs, escapes)";
            return false;
        }
    slots->push_back(a);
    return CheckSlotAssignments(*slots, error);
}

}  // namespace

const char* CommandUsage(const char* command) {
    if (!strcmp(command, "stamp")) return kStampUsage;
    if (!strcmp(command, "info")) return kInfoUsage;
    if (!strcmp(command, "list")) return kListUsage;
    if (!strcmp(command, "extract")) return kExtractUsage;
    if (!strcmp(command, "add")) return kAddUsage;
    if (!strcmp(command, "remove")) return kRemoveUsage;
    if (!strcmp(command, "build")) return kBuildUsage;
    if (!strcmp(command, "verify")) return kVerifyUsage;
    return nullptr;
}

// ---- stamp / info -------------------------------------------------------

int CmdStamp(int argc, char** argv) {
    const char* cmd = "stamp";
    std::string setup;
    std::vector<SlotAssignment> slots;
    std::string error;
    bool unsign = false;
    for (int i = 0; i < argc; ++i) {
        if (IsHelp(argv[i])) return printf("%s", kStampUsage), 0;
        if (!strcmp(argv[i], "--unsign")) {
            unsign = true;
        } else if (!strcmp(argv[i], "--slot")) {
            if (i + 1 >= argc) return UsageError(cmd, kStampUsage, "--slot needs MARKER=VALUE");
            if (!AddSlotArgument(argv[++i], &slots, &error))
                return Complain(cmd, "%s", error.c_str());
        } else if (!strncmp(argv[i], "--slot=", 7)) {
            if (!AddSlotArgument(argv[i] + 7, &slots, &error))
                return Complain(cmd, "%s", error.c_str());
        } else if (argv[i][0] == '-' && argv[i][1]) {
            return UsageError(cmd, kStampUsage, (std::string("unknown option ") + argv[i]).c_str());
        } else if (setup.empty()) {
            setup = argv[i];
        } else {
            return UsageError(cmd, kStampUsage, "give one SETUP file");
        }
    }
    if (setup.empty()) return UsageError(cmd, kStampUsage, "no SETUP file given");
    if (slots.empty()) return UsageError(cmd, kStampUsage, "no --slot MARKER=VALUE given");
    if (!IsRegularFile(setup.c_str()))
        return Complain(cmd, "'%s' does not exist or is not a file", setup.c_str());
    WriteLock lock;
    if (!lock.Acquire(setup, false, &error)) return Complain(cmd, "%s", error.c_str());
    qzf_format::ArchiveLocation at;
    if (!CheckSignature(setup, unsign, &at, &error)) return Complain(cmd, "%s", error.c_str());
    uint64_t offset;
    if (!LocateSlotBlock(setup.c_str(), &offset, &error)) return Complain(cmd, "%s", error.c_str());

    TempOutput out;
    if (!out.Create(setup, &error) ||
        !CopyFileContents(setup.c_str(), out.Path().c_str(), &error) ||
        !RemoveSignature(out.Path().c_str(), at, &error) ||
        !StampFileInPlace(out.Path().c_str(), slots, &error))
        return Complain(cmd, "%s", error.c_str());
    out.CopyModeFrom(setup.c_str());
    if (!lock.StillCurrent(&error)) return Complain(cmd, "%s", error.c_str());
    lock.BeforeReplace();
    if (!out.Commit(&error)) return Complain(cmd, "%s", error.c_str());
    Say("stamped %lu slot%s of %s\n", static_cast<unsigned long>(slots.size()),
        slots.size() == 1 ? "" : "s", setup.c_str());
    return 0;
}

int CmdInfo(int argc, char** argv) {
    const char* cmd = "info";
    std::string setup;
    int rc = ParseOneFile(argc, argv, cmd, kInfoUsage, "SETUP file", &setup);
    if (rc >= 0) return rc;
    std::string error;
    uint64_t offset;
    unsigned char block[kSlotBlockSize];
    if (!LocateSlotBlock(setup.c_str(), &offset, &error) ||
        !ReadBlockAt(setup.c_str(), offset, block, &error))
        return Complain(cmd, "%s", error.c_str());
    SlotState states[kSlotCount];
    ReadSlotStates(block, states);
    printf("configuration slots at file offset %" PRIu64 ":\n", offset);
    for (int i = 0; i < kSlotCount; ++i) {
        const SlotSpec& s = GetSlotSpec(i);
        if (states[i].holdsMarker)
            printf("  %-18s (%3u)  still holds its marker\n", s.marker, s.capacity);
        else
            printf("  %-18s (%3u)  \"%s\"\n", s.marker, s.capacity, states[i].value.c_str());
    }
    qzf_format::ArchiveLocation located;
    const bool read = qzf_format::LocateArchiveInFile(setup.c_str(), &located);
    if (read && located.hasSignature)
        printf("signed: certificate table at offset %" PRIu64 "\n", located.signatureOffset);
    else
        printf("not signed\n");
    const uint64_t at = located.headerOffset;
    if (read && located.hasHeader && at > 0) {
        QorZipFile z;
        if (qzf_format::OpenLocatedArchive(z, setup.c_str(), located, QorZipFile::QZF_MODE_READ))
            printf("appended archive at offset %" PRIu64 ": %lu entries\n", at, z.GetNumFiles());
        else
            printf("appended archive at offset %" PRIu64 " does not open: %s\n", at,
                   EngineError(z).c_str());
    } else {
        printf("no appended archive\n");
    }
    return 0;
}

// ---- list / extract / verify -------------------------------------------

namespace {

bool OpenIndexed(const std::string& path, IndexedArchive* a, std::string* error) {
    if (!OpenArchive(path, &a->engine, QorZipFile::QZF_MODE_READ, &a->offset, error, &a->end))
        return false;
    a->file = OpenFile(path.c_str(), "rb");
    if (!a->file) {
        *error = "cannot open '" + path + "': " + LastErrorText();
        return false;
    }
    a->reader.reset(new PositionedReader(a->file.get()));
    if (!ReadEntryExtents(a->file.get(), a->offset, a->end, &a->entries, error)) {
        *error = "'" + path + "': " + *error;
        return false;
    }
    if (a->entries.size() != a->engine.GetNumFiles()) {
        *error = "'" + path + "' holds entries the engine does not count";
        return false;
    }
    return true;
}

// Names of entries that share a name regardless of case, for the notes after a table.
std::vector<std::string> SameNameNotes(const std::vector<EntryExtent>& entries) {
    NameGroups groups = GroupNames(entries);
    std::vector<std::vector<unsigned long>> shared;
    for (auto& g : groups)
        if (g.second.size() > 1) shared.push_back(g.second);
    std::sort(shared.begin(), shared.end());
    std::vector<std::string> notes;
    for (const auto& g : shared)
        notes.push_back("entries " + DescribeEntries(entries, g) +
                        " have the same name regardless of case; name them by number");
    return notes;
}

const char* FolderWord(StoredPlacement::Folder f) {
    return f == StoredPlacement::kProduct    ? "product"
           : f == StoredPlacement::kReceiver ? "receiver"
                                             : "unplaced";
}

int ListLayout(const IndexedArchive& a) {
    printf("%-8s  %-40s  %-16s  %s\n", "Folder", "Installs as", "Install args", "Uninstall args");
    std::unordered_map<std::string, unsigned long> seen;
    std::vector<std::string> notes;
    for (unsigned long i = 0; i < a.entries.size(); ++i) {
        StoredPlacement p = PlaceStoredName(a.entries[i].name);
        printf("%-8s  %-40s  %-16s  %s\n", FolderWord(p.folder), EscapeControls(p.path).c_str(),
               p.installArgs.empty() ? "-" : EscapeControls(p.installArgs).c_str(),
               p.uninstallArgs.empty() ? "-" : EscapeControls(p.uninstallArgs).c_str());
        auto ins = seen.emplace(InstallKey(a.entries[i].name), i);
        if (!ins.second)
            notes.push_back("entries " + DescribeEntries(a.entries, {ins.first->second, i}) +
                            " install to the same path; the later one wins");
    }
    printf("%lu entr%s\n", static_cast<unsigned long>(a.entries.size()),
           a.entries.size() == 1 ? "y" : "ies");
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
    IndexedArchive a;
    std::string error;
    if (!OpenIndexed(archive, &a, &error)) return Complain(cmd, "%s", error.c_str());
    if (layout) return ListLayout(a);
    unsigned long n = static_cast<unsigned long>(a.entries.size());
    printf("%12s %12s %6s  %-19s  %-6s  %s\n", "Size", "Packed", "Ratio", "Modified (UTC)", "Attr",
           "Name");
    uint64_t totalSize = 0, totalPacked = 0;
    for (const EntryExtent& e : a.entries) {
        totalSize += e.uncompressed;
        totalPacked += e.compressed;
        char ratio[16] = "-";
        if (e.uncompressed)
            snprintf(ratio, sizeof ratio, "%5.1f%%", 100.0 * e.compressed / e.uncompressed);
        FILETIME t;
        t.dwLowDateTime = static_cast<uint32_t>(e.fileTime);
        t.dwHighDateTime = static_cast<uint32_t>(e.fileTime >> 32);
        printf("%12lu %12lu %6s  %-19s  %-6s  %s\n", static_cast<unsigned long>(e.uncompressed),
               static_cast<unsigned long>(e.compressed), ratio, FormatFileTime(t).c_str(),
               FormatAttributes(e.attributes).c_str(), EscapeControls(e.name).c_str());
    }
    char ratio[16] = "-";
    if (totalSize) snprintf(ratio, sizeof ratio, "%5.1f%%", 100.0 * totalPacked / totalSize);
    printf("%12" PRIu64 " %12" PRIu64 " %6s  %lu entr%s", totalSize, totalPacked, ratio, n,
           n == 1 ? "y" : "ies");
    if (a.offset) printf(", archive at offset %" PRIu64, a.offset);
    printf("\n");
    for (const std::string& note : SameNameNotes(a.entries)) printf("note: %s\n", note.c_str());
    return 0;
}

namespace {

struct ExtractSink {
    SafeDestination* dest;
    std::string error;
};

bool WriteToDestination(void* context, const unsigned char* data, size_t n) {
    auto* s = static_cast<ExtractSink*>(context);
    return s->dest->Write(data, n, &s->error);
}

bool DiscardData(void*, const unsigned char*, size_t) { return true; }

// Where --layout puts an entry: below product, receiver or unplaced.
std::string LayoutName(const std::string& stored) {
    StoredPlacement p = PlaceStoredName(stored);
    return std::string(FolderWord(p.folder)) + "\\" + p.path;
}

// Picks the entries the NAMEs stand for: an exact name (any case) or the unique
// end of one. False with a message for a NAME that matches none or several.
bool SelectEntries(const std::vector<EntryExtent>& entries, const std::vector<std::string>& names,
                   std::vector<unsigned long>* picked, std::string* error) {
    if (names.empty()) {
        for (unsigned long i = 0; i < entries.size(); ++i) picked->push_back(i);
        return true;
    }
    NameGroups groups = GroupNames(entries);
    for (const std::string& n : names) {
        auto g = groups.find(FoldAscii(n));
        if (g != groups.end() && g->second.size() > 1) {
            *error =
                "'" + n + "' is ambiguous: it names entries " + DescribeEntries(entries, g->second);
            return false;
        }
        if (g != groups.end()) {
            picked->push_back(g->second[0]);
            continue;
        }
        unsigned long found = ~0ul;
        int count = 0;
        for (unsigned long i = 0; i < entries.size(); ++i) {
            const std::string& s = entries[i].name;
            if (s.size() >= n.size() && s.compare(s.size() - n.size(), n.size(), n) == 0) {
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
    IndexedArchive a;
    std::string error;
    if (!OpenIndexed(archive, &a, &error)) return Complain(cmd, "%s", error.c_str());

    // Resolve every name and check every destination before writing anything.
    std::vector<unsigned long> picked;
    if (!SelectEntries(a.entries, names, &picked, &error))
        return Complain(cmd, "%s in '%s'; nothing was extracted", error.c_str(), archive.c_str());
    std::vector<std::string> targets;
    std::unordered_map<std::string, unsigned long> seen;
    for (unsigned long i : picked) {
        const std::string& stored = a.entries[i].name;
        std::string target = layout ? LayoutName(stored) : stored;
        for (unsigned char c : stored)
            if (c < 0x20 || c == 0x7f)
                return Complain(cmd,
                                "refusing to extract '%s': its name holds control characters; "
                                "nothing was extracted",
                                EscapeControls(stored).c_str());
        bool oddStep = false;
        for (size_t at = 0, end; !oddStep; at = end + 1) {
            end = target.find_first_of("\\/", at);
            std::string step = target.substr(at, end == std::string::npos ? end : end - at);
            oddStep = step.empty() || step == ".";
            if (end == std::string::npos) break;
        }
        if (oddStep)
            return Complain(cmd,
                            "refusing to extract '%s': its name has an empty or '.' step; "
                            "nothing was extracted",
                            stored.c_str());
        if (!StaysBelow(target))
            return Complain(cmd,
                            "refusing to extract '%s': its name leads outside the destination "
                            "folder; nothing was extracted",
                            stored.c_str());
        auto ins = seen.emplace(FoldAscii(target), i);
        if (!ins.second)
            Warn(cmd, "entries " + DescribeEntries(a.entries, {ins.first->second, i}) +
                          " go to the same file (names are the same regardless of case); the "
                          "later one is written last");
        targets.push_back(target);
    }
    SafeDestination dest;
    if (!dest.Open(dir, &error)) return Complain(cmd, "%s", error.c_str());

    ProgressLine progress("extracting");
    uint64_t bytes = 0;
    for (size_t k = 0; k < picked.size(); ++k) {
        const EntryExtent& e = a.entries[picked[k]];
        progress.Update(static_cast<unsigned long>(k + 1),
                        static_cast<unsigned long>(picked.size()), targets[k]);
        ExtractSink sink{&dest, std::string()};
        std::string detail;
        InflateResult r = InflateResult::kSinkFailed;
        if (dest.Begin(targets[k], &sink.error)) {
            r = InflateEntry(*a.reader, e, WriteToDestination, &sink, &detail);
            if (r == InflateResult::kOk && !dest.Finish(e.fileTime, &sink.error))
                r = InflateResult::kSinkFailed;
        }
        if (r != InflateResult::kOk) {
            dest.Abandon();
            progress.Finish();
            return Complain(cmd, "cannot extract '%s' to '%s': %s", EscapeControls(e.name).c_str(),
                            dir.c_str(),
                            r == InflateResult::kSinkFailed ? sink.error.c_str() : detail.c_str());
        }
        bytes += e.uncompressed;
    }
    progress.Finish();
    Say("extracted %lu entr%s, %s, to %s\n", static_cast<unsigned long>(picked.size()),
        picked.size() == 1 ? "y" : "ies", Megabytes(bytes).c_str(), dir.c_str());
    return 0;
}

int CmdVerify(int argc, char** argv) {
    const char* cmd = "verify";
    std::string archive;
    int rc = ParseOneFile(argc, argv, cmd, kVerifyUsage, "ARCHIVE", &archive);
    if (rc >= 0) return rc;
    IndexedArchive a;
    std::string error;
    if (!OpenIndexed(archive, &a, &error)) return Complain(cmd, "%s", error.c_str());
    unsigned long bad = 0;
    for (unsigned long i = 0; i < a.entries.size(); ++i) {
        std::string detail;
        if (InflateEntry(*a.reader, a.entries[i], DiscardData, nullptr, &detail) !=
            InflateResult::kOk) {
            fprintf(stderr, "qorpack verify: entry %lu '%s': %s\n", i + 1,
                    EscapeControls(a.entries[i].name).c_str(), detail.c_str());
            ++bad;
        }
    }
    if (bad)
        return Complain(cmd, "%lu of %lu entries of '%s' are bad", bad,
                        static_cast<unsigned long>(a.entries.size()), archive.c_str());
    Say("%s: %lu entr%s verified\n", archive.c_str(), static_cast<unsigned long>(a.entries.size()),
        a.entries.size() == 1 ? "y" : "ies");
    return 0;
}

// ---- add / remove -------------------------------------------------------

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
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) {
        if (IsHelp(argv[i])) return printf("%s", kAddUsage), 0;
        if (!strcmp(argv[i], "--unsign")) {
            unsign = true;
        } else if (!strcmp(argv[i], "--as")) {
            if (i + 1 >= argc) return UsageError(cmd, kAddUsage, "--as needs a stored name");
            as = argv[++i];
            haveAs = true;
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
    if (!lock.Acquire(archive, true, &error)) return Complain(cmd, "%s", error.c_str());
    // A folder that holds the archive would otherwise add the old archive to the new one.
    for (size_t i = 0; i < sources.size();) {
        if (SameFile(sources[i].path.c_str(), archive.c_str())) {
            if (!lock.Created())
                fprintf(stderr, "qorpack add: skipping '%s': it is the archive itself\n",
                        sources[i].path.c_str());
            sources.erase(sources.begin() + static_cast<long>(i));
        } else {
            ++i;
        }
    }
    if (sources.empty()) return Complain(cmd, "nothing to add");

    // Names are compared once, through maps: an archive of many entries
    // stays linear. The same name in any case replaces; the same place once
    // installed under another name is refused.
    uint64_t offset = 0;
    qzf_format::ArchiveLocation at;
    if (!CheckSignature(archive, unsign, &at, &error)) return Complain(cmd, "%s", error.c_str());
    std::unordered_map<std::string, std::string> byName, byPlace;
    {
        IndexedArchive probe;
        if (!OpenIndexed(archive, &probe, &error)) return Complain(cmd, "%s", error.c_str());
        offset = probe.offset;
        for (const EntryExtent& e : probe.entries) {
            byName.emplace(FoldAscii(e.name), e.name);
            byPlace.emplace(InstallKey(e.name), e.name);
        }
    }
    std::unordered_map<std::string, std::string> newNames;
    for (const AddSource& s : sources) {
        auto dup = newNames.emplace(FoldAscii(s.stored), s.path);
        if (!dup.second)
            return Complain(cmd, "'%s' and '%s' would both be stored as '%s'; nothing was added",
                            dup.first->second.c_str(), s.path.c_str(), s.stored.c_str());
        auto place = byPlace.find(InstallKey(s.stored));
        if (place != byPlace.end() && !byName.count(FoldAscii(s.stored)))
            return Complain(cmd,
                            "stored name '%s' installs to the same place as the entry '%s'; "
                            "nothing was added",
                            s.stored.c_str(), place->second.c_str());
    }

    TempOutput out;
    if (!out.Create(archive, &error) ||
        !CopyFileContents(archive.c_str(), out.Path().c_str(), &error) ||
        !RemoveSignature(out.Path().c_str(), at, &error))
        return Complain(cmd, "%s", error.c_str());
    out.CopyModeFrom(archive.c_str());

    QorZipFile z;
    // The whole change happens on a copy: the engine's own backup would only copy again.
    z.SetUseBackupFile(false);
    z.SetHeaderOffset(static_cast<unsigned long>(offset));
    if (!z.Open(out.Path().c_str(), QorZipFile::QZF_MODE_READWRITE))
        return Complain(cmd, "cannot open the working copy of '%s': %s", archive.c_str(),
                        EngineError(z).c_str());
    ProgressLine progress("adding");
    uint64_t bytes = 0;
    for (size_t i = 0; i < sources.size(); ++i) {
        const AddSource& s = sources[i];
        progress.Update(static_cast<unsigned long>(i + 1),
                        static_cast<unsigned long>(sources.size()), s.path);
        if (!z.AddFile(s.path.c_str(), s.stored.c_str())) {
            progress.Finish();
            return Complain(cmd, "cannot add '%s': %s; '%s' is unchanged", s.path.c_str(),
                            EngineError(z).c_str(), archive.c_str());
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
            char* end = nullptr;
            unsigned long n = i + 1 < argc ? strtoul(argv[i + 1], &end, 10) : 0;
            if (n == 0 || !end || *end)
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
    qzf_format::ArchiveLocation at;
    if (!CheckSignature(archive, unsign, &at, &error)) return Complain(cmd, "%s", error.c_str());
    std::vector<unsigned long> indexes;
    IndexedArchive probe;
    if (!OpenIndexed(archive, &probe, &error)) return Complain(cmd, "%s", error.c_str());
    unsigned long count = static_cast<unsigned long>(probe.entries.size());
    {
        NameGroups groups = GroupNames(probe.entries);
        for (const std::string& n : names) {
            auto g = groups.find(FoldAscii(n));
            if (g == groups.end())
                return Complain(cmd, "'%s' has no entry named '%s'; nothing was removed",
                                archive.c_str(), n.c_str());
            if (g->second.size() > 1)
                return Complain(cmd,
                                "'%s' would hit entries %s; name the one to remove with --entry N; "
                                "nothing was removed",
                                n.c_str(), DescribeEntries(probe.entries, g->second).c_str());
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
    std::vector<bool> drop(count, false);
    for (unsigned long i : indexes) drop[i] = true;
    // The new archive is written once, without the removed entries, instead of
    // copying the file and compacting the copy in place.
    TempOutput out;
    if (!out.Create(archive, &error) ||
        !WriteWithout(probe.file.get(), probe.offset, probe.entries, drop, out.Path(), &error) ||
        !ClearSignatureEntry(out.Path().c_str(), at, &error))
        return Complain(cmd, "%s; '%s' is unchanged", error.c_str(), archive.c_str());
    // Windows cannot replace a file that is still open.
    probe.engine.Close();
    probe.reader.reset();
    probe.file.reset();
    out.CopyModeFrom(archive.c_str());
    if (!lock.StillCurrent(&error)) return Complain(cmd, "%s", error.c_str());
    lock.BeforeReplace();
    if (!out.Commit(&error)) return Complain(cmd, "%s", error.c_str());
    Say("removed %lu entr%s; %lu left\n", static_cast<unsigned long>(indexes.size()),
        indexes.size() == 1 ? "y" : "ies", count - static_cast<unsigned long>(indexes.size()));
    return 0;
}

// ---- build --------------------------------------------------------------

int CmdBuild(int argc, char** argv) {
    const char* cmd = "build";
    std::string stub, manifest, outPath;
    std::vector<SlotAssignment> slots;
    int jobs = ProcessorCount();
    std::string error;
    for (int i = 0; i < argc; ++i) {
        std::string option = argv[i];
        const char* a = argv[i];
        if (IsHelp(a)) return printf("%s", kBuildUsage), 0;
        bool hasValue = i + 1 < argc;
        const char* value = hasValue ? argv[i + 1] : nullptr;
        // --option=VALUE reads like --option VALUE.
        size_t eq = option.find('=');
        if (option.compare(0, 2, "--") == 0 && eq != std::string::npos) {
            value = argv[i] + eq + 1;
            option.resize(eq);
            hasValue = true;
            --i;  // the ++i below takes no extra argument
        }
        if (option == "--stub" && hasValue) {
            stub = value;
            ++i;
        } else if (option == "--manifest" && hasValue) {
            manifest = value;
            ++i;
        } else if (option == "--out" && hasValue) {
            outPath = value;
            ++i;
        } else if (option == "--slot" && hasValue) {
            ++i;
            if (!AddSlotArgument(value, &slots, &error)) return Complain(cmd, "%s", error.c_str());
        } else if (option == "--jobs" && hasValue) {
            ++i;
            jobs = atoi(value);
            if (jobs < 1 || jobs > 64) return UsageError(cmd, kBuildUsage, "--jobs takes 1 to 64");
        } else {
            return UsageError(cmd, kBuildUsage,
                              (std::string("unexpected argument ") + a +
                               (hasValue ? "" : " (or an option without its value)"))
                                  .c_str());
        }
    }
    if (stub.empty() || manifest.empty() || outPath.empty())
        return UsageError(cmd, kBuildUsage, "--stub, --manifest and --out are all needed");
    if (!IsRegularFile(stub.c_str()))
        return Complain(cmd, "stub '%s' does not exist or is not a file", stub.c_str());
    uint64_t stubArchive = 0, stubSize = 0;
    bool stubHasArchive = false;
    if (!FindAppendedArchive(stub.c_str(), &stubArchive, &stubHasArchive) ||
        !GetFileSizeByPath(stub.c_str(), &stubSize))
        return Complain(cmd, "cannot read stub '%s'", stub.c_str());
    if (stubHasArchive && stubArchive > 0)
        return Complain(cmd, "stub '%s' already carries an archive at offset %" PRIu64,
                        stub.c_str(), stubArchive);
    if (stubSize >= 0xFFFFFFFFull) return Complain(cmd, "stub '%s' is too large", stub.c_str());
    if (SameFile(stub.c_str(), outPath.c_str()))
        return Complain(cmd, "--out names the stub itself; write the setup to another file");
    if (SameFile(manifest.c_str(), outPath.c_str()))
        return Complain(cmd, "--out names the manifest itself; write the setup to another file");
    std::vector<ManifestEntry> entries;
    std::vector<std::string> warnings;
    if (!LoadManifest(manifest, &entries, &error, &warnings))
        return Complain(cmd, "%s", error.c_str());
    for (const std::string& w : warnings) Warn(cmd, w);
    uint64_t inputBytes = 0;
    const SameFileTest isOut(outPath.c_str());
    for (const ManifestEntry& e : entries) {
        uint64_t size = 0;
        if (isOut.Matches(e.source.c_str(), &size))
            return Complain(cmd, "%s:%d: --out names this source; write the setup to another file",
                            manifest.c_str(), e.line);
        inputBytes += size;
    }
    WriteLock lock;
    if (!lock.Acquire(outPath, true, &error)) return Complain(cmd, "%s", error.c_str());

    TempOutput out;
    if (!out.Create(outPath, &error) ||
        !CopyFileContents(stub.c_str(), out.Path().c_str(), &error) ||
        (!slots.empty() && !StampFileInPlace(out.Path().c_str(), slots, &error)))
        return Complain(cmd, "%s", error.c_str());
    out.CopyModeFrom(stub.c_str());

    ProgressLine progress("compressing");
    if (jobs == 1) {
        QorZipFile z;
        z.SetUseBackupFile(false);
        z.SetHeaderOffset(static_cast<unsigned long>(stubSize));
        if (!z.Open(out.Path().c_str(), QorZipFile::QZF_MODE_READWRITE))
            return Complain(cmd, "cannot open '%s': %s", out.Path().c_str(),
                            EngineError(z).c_str());
        for (size_t i = 0; i < entries.size(); ++i) {
            progress.Update(i + 1, entries.size(), entries[i].storedName);
            if (!z.AddFile(entries[i].source.c_str(), entries[i].storedName.c_str())) {
                progress.Finish();
                return Complain(cmd, "%s:%d: cannot add '%s': %s", manifest.c_str(),
                                entries[i].line, entries[i].source.c_str(), EngineError(z).c_str());
            }
        }
        // No entry added means nothing written yet: an empty archive still
        // gets its header and trailer, as the parallel writer gives it.
        if (entries.empty() && !z.Save())
            return Complain(cmd, "cannot write an empty archive to '%s': %s", out.Path().c_str(),
                            EngineError(z).c_str());
        z.Close();
        progress.Finish();
    } else {
        std::vector<PackItem> items;
        for (const ManifestEntry& e : entries) items.push_back({e.source, e.storedName});
        PackResult r = WriteArchiveParallel(out.Path(), items, jobs, &progress);
        if (!r.ok) {
            if (r.failedItem < entries.size())
                return Complain(cmd, "%s:%d: %s", manifest.c_str(), entries[r.failedItem].line,
                                r.error.c_str());
            return Complain(cmd, "%s", r.error.c_str());
        }
    }
    uint64_t outBytes = 0;
    GetFileSizeByPath(out.Path().c_str(), &outBytes);
    if (!lock.StillCurrent(&error)) return Complain(cmd, "%s", error.c_str());
    lock.BeforeReplace();
    if (!out.Commit(&error)) return Complain(cmd, "%s", error.c_str());
    Say("built %s: %lu entr%s, %s -> %s (stub %" PRIu64 " KB, %.1f%% of the setup)\n",
        outPath.c_str(), static_cast<unsigned long>(entries.size()),
        entries.size() == 1 ? "y" : "ies", Megabytes(inputBytes).c_str(),
        Megabytes(outBytes - stubSize).c_str(), (stubSize + 500) / 1000,
        outBytes ? 100.0 * stubSize / outBytes : 0.0);
    return 0;
}

void SetQuiet(bool quiet) { g_quiet = quiet; }

}  // namespace qorpack
