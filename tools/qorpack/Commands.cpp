#include "Commands.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "FileOps.h"
#include "Manifest.h"
#include "Parallel.h"
#include "ParallelWriter.h"
#include "Stamp.h"
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
    "usage: qorpack list ARCHIVE\n"
    "Lists the entries of an archive, or of the archive appended to a setup:\n"
    "size, compressed size, ratio, time stamp (UTC), attributes and stored name.\n";
const char* const kExtractUsage =
    "usage: qorpack extract ARCHIVE [-C DIR] [NAME ...]\n"
    "Extracts the named entries (all when none is named) below DIR (default: the\n"
    "current folder), restoring time stamps. A NAME is a stored name (any case) or\n"
    "the unique end of one. Entries whose names would lead outside DIR (a drive,\n"
    "a leading separator, a '..' step) are refused before anything is written.\n";
const char* const kAddUsage =
    "usage: qorpack add ARCHIVE [--unsign] [-C DIR] SOURCE [SOURCE ...]\n"
    "       qorpack add ARCHIVE [--unsign] SOURCE --as STORED\n"
    "Adds files (folders: every file below them) to ARCHIVE, creating it when it is\n"
    "missing; ARCHIVE may be a setup with an appended archive. An entry of the same\n"
    "name (any case) is replaced. Stored names are relative to the archive's folder,\n"
    "or with -C DIR, the SOURCE paths as given, read below DIR. --as gives the stored\n"
    "name of a single file verbatim. A signed setup is refused unless --unsign\n"
    "removes its signature first.\n";
const char* const kRemoveUsage =
    "usage: qorpack remove ARCHIVE [--unsign] NAME [NAME ...]\n"
    "Removes entries by stored name (any case) from an archive or a setup's appended\n"
    "archive. Every NAME must exist; otherwise nothing is changed. A signed setup is\n"
    "refused unless --unsign removes its signature first.\n";
const char* const kBuildUsage =
    "usage: qorpack build --stub STUB --manifest FILE --out SETUP\n"
    "                     [--slot MARKER=VALUE ...] [--jobs N]\n"
    "Builds a setup: a stamped copy of STUB with an archive of the manifest's files\n"
    "appended. Manifest lines read 'SOURCE => STORED NAME'; '#' starts a comment\n"
    "line; sources are relative to the manifest's folder; stored names are written\n"
    "verbatim. --jobs N compresses on N threads (default: one per processor);\n"
    "--jobs 1 adds the files one by one through the archive engine. The output is\n"
    "the same byte for byte either way. SETUP appears only when complete.\n";

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
bool OpenArchive(const std::string& path, QorZipFile* z, QorZipFile::QZF_MODE mode,
                 uint64_t* offset, std::string* error) {
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
    *offset = at.headerOffset;
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

// Parses repeated --slot options into a checked list.
bool AddSlotArgument(const char* value, std::vector<SlotAssignment>* slots, std::string* error) {
    SlotAssignment a;
    if (!ParseSlotAssignment(value, &a, error)) return false;
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
    if (!out.Commit(&error)) return Complain(cmd, "%s", error.c_str());
    printf("stamped %lu slot%s of %s\n", static_cast<unsigned long>(slots.size()),
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

// ---- list / extract -----------------------------------------------------

int CmdList(int argc, char** argv) {
    const char* cmd = "list";
    std::string archive;
    int rc = ParseOneFile(argc, argv, cmd, kListUsage, "ARCHIVE", &archive);
    if (rc >= 0) return rc;
    QorZipFile z;
    uint64_t offset;
    std::string error;
    if (!OpenArchive(archive, &z, QorZipFile::QZF_MODE_READ, &offset, &error))
        return Complain(cmd, "%s", error.c_str());
    unsigned long n = z.GetNumFiles();
    printf("%12s %12s %6s  %-19s  %-6s  %s\n", "Size", "Packed", "Ratio", "Modified (UTC)", "Attr",
           "Name");
    uint64_t totalSize = 0, totalPacked = 0;
    for (unsigned long i = 0; i < n; ++i) {
        unsigned long size = z.GetFileSize(i), packed = z.GetFileCompressedSize(i);
        totalSize += size;
        totalPacked += packed;
        char ratio[16] = "-";
        if (size) snprintf(ratio, sizeof ratio, "%5.1f%%", 100.0 * packed / size);
        printf("%12lu %12lu %6s  %-19s  %-6s  %s\n", size, packed, ratio,
               FormatFileTime(z.GetFileTimeStamp(i)).c_str(),
               FormatAttributes(z.GetFileAttributesA(i)).c_str(), z.GetFileName(i));
    }
    char ratio[16] = "-";
    if (totalSize) snprintf(ratio, sizeof ratio, "%5.1f%%", 100.0 * totalPacked / totalSize);
    printf("%12" PRIu64 " %12" PRIu64 " %6s  %lu entr%s", totalSize, totalPacked, ratio, n,
           n == 1 ? "y" : "ies");
    if (offset) printf(", archive at offset %" PRIu64, offset);
    printf("\n");
    return 0;
}

int CmdExtract(int argc, char** argv) {
    const char* cmd = "extract";
    std::string archive, dir = ".";
    std::vector<std::string> names;
    for (int i = 0; i < argc; ++i) {
        if (IsHelp(argv[i])) return printf("%s", kExtractUsage), 0;
        if (!strcmp(argv[i], "-C")) {
            if (i + 1 >= argc) return UsageError(cmd, kExtractUsage, "-C needs a folder");
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
    QorZipFile z;
    uint64_t offset;
    std::string error;
    if (!OpenArchive(archive, &z, QorZipFile::QZF_MODE_READ, &offset, &error))
        return Complain(cmd, "%s", error.c_str());

    // Resolve every name and check every destination before writing anything.
    std::vector<std::string> stored;
    if (names.empty()) {
        for (unsigned long i = 0; i < z.GetNumFiles(); ++i) stored.push_back(z.GetFileName(i));
    } else {
        for (const std::string& n : names) {
            unsigned long i = z.GetFileIndex(n.c_str());
            if (i == 0xFFFFFFFFul) i = z.GetFileIndexSansPath(n.c_str());
            if (i == 0xFFFFFFFFul)
                return Complain(cmd, "'%s' has no entry '%s' (or several end with it)",
                                archive.c_str(), n.c_str());
            stored.push_back(z.GetFileName(i));
        }
    }
    for (const std::string& s : stored)
        if (!StaysBelow(s))
            return Complain(cmd,
                            "refusing to extract '%s': its name leads outside the destination "
                            "folder; nothing was extracted",
                            s.c_str());
    if (!MakeDirectories(dir, &error)) return Complain(cmd, "%s", error.c_str());

    ProgressLine progress("extracting");
    for (size_t i = 0; i < stored.size(); ++i) {
        progress.Update(i + 1, stored.size(), stored[i]);
        if (!z.ExtractFileToDir(dir.c_str(), stored[i].c_str(), nullptr)) {
            progress.Finish();
            return Complain(cmd, "cannot extract '%s' to '%s': %s", stored[i].c_str(), dir.c_str(),
                            EngineError(z).c_str());
        }
    }
    return 0;
}

// ---- add / remove -------------------------------------------------------

namespace {

struct AddSource {
    std::string path;    // file to read
    std::string stored;  // stored name; empty: the engine's default name
};

// Stored-name form of a relative path: backslashes, no "." steps.
std::string StoredForm(const std::string& rel) {
    std::string out;
    size_t start = 0;
    while (start <= rel.size()) {
        size_t end = rel.find_first_of("\\/", start);
        if (end == std::string::npos) end = rel.size();
        std::string part = rel.substr(start, end - start);
        if (!part.empty() && part != ".") {
            if (!out.empty()) out += '\\';
            out += part;
        }
        start = end + 1;
    }
    return out;
}

bool CollectSources(const std::string& path, const std::string& stored, bool named,
                    std::vector<AddSource>* out, std::string* error) {
    if (IsRegularFile(path.c_str())) {
        out->push_back({path, named ? stored : std::string()});
        return true;
    }
    if (!IsDirectory(path.c_str())) {
        *error = "'" + path + "' does not exist or is neither a file nor a folder";
        return false;
    }
    std::vector<std::string> files, folders;
    if (!ListFolder(path, &files, &folders, error)) return false;
    auto child = [&](const std::string& n) { return stored.empty() ? n : stored + "\\" + n; };
    for (const std::string& f : files) out->push_back({JoinPath(path, f), named ? child(f) : ""});
    for (const std::string& d : folders)
        if (!CollectSources(JoinPath(path, d), child(d), named, out, error)) return false;
    return true;
}

}  // namespace

int CmdAdd(int argc, char** argv) {
    const char* cmd = "add";
    std::string archive, base, as;
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
        std::string path = base.empty() ? a : JoinPath(base, ToNativeSeparators(a));
        if (haveAs) {
            if (!IsRegularFile(path.c_str()))
                return Complain(cmd, "'%s' is not a file (--as names a single file)", path.c_str());
            sources.push_back({path, as});
        } else if (!CollectSources(path, StoredForm(a), !base.empty(), &sources, &error)) {
            return Complain(cmd, "%s", error.c_str());
        }
    }

    bool exists = PathExists(archive.c_str());
    // A folder that holds the archive would otherwise add the old archive to the new one.
    for (size_t i = 0; exists && i < sources.size();) {
        if (SameFile(sources[i].path.c_str(), archive.c_str())) {
            fprintf(stderr, "qorpack add: skipping '%s': it is the archive itself\n",
                    sources[i].path.c_str());
            sources.erase(sources.begin() + static_cast<long>(i));
        } else {
            ++i;
        }
    }
    if (sources.empty()) return Complain(cmd, "nothing to add");
    uint64_t offset = 0;
    qzf_format::ArchiveLocation at = {};
    if (exists) {
        if (!CheckSignature(archive, unsign, &at, &error))
            return Complain(cmd, "%s", error.c_str());
        QorZipFile probe;
        if (!OpenArchive(archive, &probe, QorZipFile::QZF_MODE_READ, &offset, &error))
            return Complain(cmd, "%s", error.c_str());
    }
    TempOutput out;
    if (!out.Create(archive, &error) ||
        (exists && (!CopyFileContents(archive.c_str(), out.Path().c_str(), &error) ||
                    !RemoveSignature(out.Path().c_str(), at, &error))))
        return Complain(cmd, "%s", error.c_str());
    if (exists) out.CopyModeFrom(archive.c_str());

    QorZipFile z;
    // The whole change happens on a copy: the engine's own backup would only copy again.
    z.SetUseBackupFile(false);
    z.SetHeaderOffset(static_cast<unsigned long>(offset));
    if (!z.Open(out.Path().c_str(), QorZipFile::QZF_MODE_READWRITE))
        return Complain(cmd, "cannot open the working copy of '%s': %s", archive.c_str(),
                        EngineError(z).c_str());
    ProgressLine progress("adding");
    for (size_t i = 0; i < sources.size(); ++i) {
        const AddSource& s = sources[i];
        progress.Update(i + 1, sources.size(), s.path);
        if (!z.AddFile(s.path.c_str(), s.stored.empty() ? nullptr : s.stored.c_str())) {
            progress.Finish();
            return Complain(cmd, "cannot add '%s': %s; '%s' is unchanged", s.path.c_str(),
                            EngineError(z).c_str(), archive.c_str());
        }
    }
    progress.Finish();
    z.Close();
    if (!out.Commit(&error)) return Complain(cmd, "%s", error.c_str());
    return 0;
}

int CmdRemove(int argc, char** argv) {
    const char* cmd = "remove";
    std::string archive;
    std::vector<std::string> names;
    bool unsign = false;
    for (int i = 0; i < argc; ++i) {
        if (IsHelp(argv[i])) return printf("%s", kRemoveUsage), 0;
        if (!strcmp(argv[i], "--unsign")) {
            unsign = true;
        } else if (archive.empty()) {
            if (argv[i][0] == '-' && argv[i][1])
                return UsageError(cmd, kRemoveUsage,
                                  (std::string("unknown option ") + argv[i]).c_str());
            archive = argv[i];
        } else {
            names.push_back(argv[i]);
        }
    }
    if (archive.empty() || names.empty())
        return UsageError(cmd, kRemoveUsage, "give an ARCHIVE and at least one NAME");
    std::string error;
    qzf_format::ArchiveLocation at;
    if (!CheckSignature(archive, unsign, &at, &error)) return Complain(cmd, "%s", error.c_str());
    uint64_t offset = 0;
    {
        QorZipFile probe;
        if (!OpenArchive(archive, &probe, QorZipFile::QZF_MODE_READ, &offset, &error))
            return Complain(cmd, "%s", error.c_str());
        for (const std::string& n : names) {
            if (probe.GetFileIndex(n.c_str()) == 0xFFFFFFFFul)
                return Complain(cmd, "'%s' has no entry named '%s'; nothing was removed",
                                archive.c_str(), n.c_str());
        }
    }
    TempOutput out;
    if (!out.Create(archive, &error) ||
        !CopyFileContents(archive.c_str(), out.Path().c_str(), &error) ||
        !RemoveSignature(out.Path().c_str(), at, &error))
        return Complain(cmd, "%s", error.c_str());
    out.CopyModeFrom(archive.c_str());
    QorZipFile z;
    z.SetUseBackupFile(false);
    z.SetHeaderOffset(static_cast<unsigned long>(offset));
    if (!z.Open(out.Path().c_str(), QorZipFile::QZF_MODE_READWRITE))
        return Complain(cmd, "cannot open the working copy of '%s': %s", archive.c_str(),
                        EngineError(z).c_str());
    std::vector<const char*> list;
    for (const std::string& n : names) list.push_back(n.c_str());
    if (!z.RemoveFiles(static_cast<unsigned long>(list.size()), list.data()))
        return Complain(cmd, "cannot remove from '%s': %s; it is unchanged", archive.c_str(),
                        EngineError(z).c_str());
    z.Close();
    if (!out.Commit(&error)) return Complain(cmd, "%s", error.c_str());
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
        const char* a = argv[i];
        if (IsHelp(a)) return printf("%s", kBuildUsage), 0;
        bool hasValue = i + 1 < argc;
        if (!strcmp(a, "--stub") && hasValue) {
            stub = argv[++i];
        } else if (!strcmp(a, "--manifest") && hasValue) {
            manifest = argv[++i];
        } else if (!strcmp(a, "--out") && hasValue) {
            outPath = argv[++i];
        } else if (!strcmp(a, "--slot") && hasValue) {
            if (!AddSlotArgument(argv[++i], &slots, &error))
                return Complain(cmd, "%s", error.c_str());
        } else if (!strcmp(a, "--jobs") && hasValue) {
            jobs = atoi(argv[++i]);
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
    std::vector<ManifestEntry> entries;
    if (!LoadManifest(manifest, &entries, &error)) return Complain(cmd, "%s", error.c_str());

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
    if (!out.Commit(&error)) return Complain(cmd, "%s", error.c_str());
    return 0;
}

}  // namespace qorpack
