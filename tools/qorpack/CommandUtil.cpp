#include "CommandUtil.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "CodePageTable.h"
#include "Commands.h"
#include "FileOps.h"
#include "NameRules.h"
#include "Numbers.h"
#include "PackageChecks.h"
#include "SetupText.h"
#include "archive/FileLayer.h"

namespace qorpack {

namespace {

bool g_quiet = false;

}  // namespace

void SetQuiet(bool quiet) { g_quiet = quiet; }

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

std::string EngineError(QorZipFile& z) {
    QZF_ERROR code = z.GetLastError();
    std::string text = std::string(QzfErrorText(code)) + " (error " + std::to_string(code) + ")";
    char cause[qfl::kMaxPath + 320];
    qfl::DescribeFailure(cause, sizeof cause);
    if (code != QZF_ERR_NONE && cause[0]) text += std::string(": ") + cause;
    return text;
}

bool LocateArchiveOf(const std::string& path, qzf_format::ArchiveLocation* at, std::string* error) {
    if (!IsRegularFile(path.c_str())) {
        *error =
            "'" + path + "' " + (PathExists(path.c_str()) ? "is not a file" : "does not exist");
        return false;
    }
    if (!qzf_format::LocateArchiveInFile(path.c_str(), at)) {
        *error = "cannot read '" + path + "': " + LastErrorText();
        return false;
    }
    return true;
}

namespace {

// Why the engine would not open path: a file with no header record where the
// archive should start is most likely no archive at all (a bare stub).
std::string OpenFailure(const std::string& path, const qzf_format::ArchiveLocation& at,
                        QorZipFile& z) {
    if (!at.hasHeader)
        return "'" + path + "' is neither an archive nor a setup with an appended archive (" +
               EngineError(z) + ")";
    return "cannot open '" + path + "' as an archive: " + EngineError(z);
}

}  // namespace

bool OpenArchive(const std::string& path, QorZipFile::QZF_MODE mode, OpenedArchive* a,
                 std::string* error) {
    // An empty file is no archive (the engine would take it for a new one),
    // and the engine's path buffers are shorter than a build tree's paths.
    if (!RefuseEmptyArchive(path, error) || !LocateArchiveOf(path, &a->at, error) ||
        !a->shortPath.Open(path, error))
        return false;
    if (!qzf_format::OpenLocatedArchive(a->engine, a->shortPath.Get().c_str(), a->at, mode)) {
        *error = OpenFailure(path, a->at, a->engine);
        return false;
    }
    return true;
}

bool OpenWorkingCopy(const std::string& path, const std::string& copy,
                     const qzf_format::ArchiveLocation& at, QorZipFile* z, std::string* error) {
    // The whole change happens on a copy: the engine's own backup would only copy again.
    z->SetUseBackupFile(false);
    z->SetHeaderOffset(static_cast<unsigned long>(at.headerOffset));
    if (z->Open(copy.c_str(), QorZipFile::QZF_MODE_READWRITE)) return true;
    *error = OpenFailure(path, at, *z);
    return false;
}

bool WriteWithoutTo(const OpenedArchive& a, const bool* drop, const std::string& out,
                    std::string* error) {
    qfl::ClearFailure();
    qfl::FileOwner f(qfl::Open(out.c_str(), qfl::kCreateAlwaysWrite));
    uint32_t kept = 0;
    if (!f.Valid()) {
        *error = "cannot create '" + out + "': " + LastErrorText();
        return false;
    }
    if (!qzf_indexed::WriteWithout(a.engine, drop, f.Get(), &kept) || !f.Reset()) {
        char cause[qfl::kMaxPath + 320];
        qfl::DescribeFailure(cause, sizeof cause);
        *error = cause[0] ? cause : "cannot write '" + out + "': " + LastErrorText();
        return false;
    }
    return true;
}

bool CheckSignature(const std::string& path, bool unsign, const qzf_format::ArchiveLocation& at,
                    std::string* error) {
    if (!at.hasSignature || unsign) return true;
    *error = "'" + path +
             "' is signed, and a change would break its signature; give --unsign to remove "
             "the signature first (and sign again afterwards). It is unchanged";
    return false;
}

NameGroups GroupNames(const OpenedArchive& a) {
    NameGroups groups;
    groups.reserve(a.Count());
    for (unsigned long i = 0; i < a.Count(); ++i) groups[FoldAscii(a.Name(i))].push_back(i);
    return groups;
}

std::string DescribeEntries(const OpenedArchive& a, const std::vector<unsigned long>& which) {
    std::string s;
    for (size_t k = 0; k < which.size(); ++k) {
        if (k) s += k + 1 == which.size() ? " and " : ", ";
        s += std::to_string(which[k] + 1) + " '" + EscapeControls(a.Name(which[k])) + "'";
    }
    return s;
}

bool ParseSlotArguments(const char* cmd, const std::vector<std::string>& args,
                        const qor_codepage::SingleByteTable& table,
                        std::vector<SlotAssignment>* slots, std::string* error) {
    for (const std::string& arg : args) {
        // Converted first: the slot's capacity counts the setup's bytes.
        std::string converted;
        std::vector<std::string> warnings;
        if (!ConvertSlotArgument(arg, table, &converted, &warnings, error)) return false;
        for (const std::string& w : warnings) Warn(cmd, w);
        SlotAssignment a;
        if (!ParseSlotAssignment(converted, &a, error)) return false;
        for (unsigned char c : a.value)
            if (c < 0x20 || c == 0x7f) {
                *error =
                    "a slot value may not hold control characters (line breaks, tabs, escapes)";
                return false;
            }
        slots->push_back(a);
        if (!CheckSlotAssignments(*slots, error)) return false;
    }
    return true;
}

std::string Shown(const std::string& setupText) {
    static const bool utf8 = TerminalIsUtf8();
    return EscapeControls(ShowSetupText(setupText, qor_codepage::Windows1252(), utf8));
}

bool ParseCodePage(const char* value, qor_codepage::SingleByteTable* table, std::string* error) {
    unsigned long n = 0;
    if (!ParseCount(value, 1, 65535, &n)) {
        *error = std::string("--codepage takes a Windows code page number, not '") + value + "'";
        return false;
    }
    return LoadCodePageTable(static_cast<unsigned>(n), table, error);
}

bool ReportPackageChecks(const char* cmd, const std::vector<std::string>& storedNames,
                         const SlotState slots[kSlotCount], std::string* error) {
    for (const PackageFinding& f : CheckPackage(storedNames, slots)) {
        if (f.refuse) {
            *error = f.message;
            return false;
        }
        Warn(cmd, f.message);
    }
    return true;
}

// Computed here so that dates before 1970 and the Windows C library agree.
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

const char* FolderWord(StoredPlacement::Folder f) {
    return f == StoredPlacement::kProduct    ? "product"
           : f == StoredPlacement::kReceiver ? "receiver"
                                             : "unplaced";
}

namespace {

struct InflateTarget {
    bool (*write)(void* context, const uint8_t* data, uint32_t n);
    void* context;
    int status;
    bool refused;
};

bool TakePiece(void* context, int status, const uint8_t* data, uint32_t n) {
    auto* t = static_cast<InflateTarget*>(context);
    t->status = status;
    if ((status == kQzfPieceMore || status == kQzfPieceEnd) && n > 0 &&
        !t->write(t->context, data, n)) {
        t->refused = true;
        return false;
    }
    return true;
}

}  // namespace

namespace {

constexpr uint32_t kWindow = 1u << 20;         // archive bytes read at once
constexpr uint32_t kWindowEntry = 256u << 10;  // entries up to this size go through it

}  // namespace

EntryDecoder::EntryDecoder(const OpenedArchive& a)
    : a_(a), work_(qzf_indexed::kQzfInflateWorkSize) {}

bool EntryDecoder::Window(uint32_t position, uint32_t n) {
    if (position >= start_ && position + static_cast<uint64_t>(n) <= start_ + length_) return true;
    if (window_.empty()) window_.resize(kWindow);
    const qfl::File f = qzf_indexed::Handle(a_.engine);
    start_ = position;
    length_ = 0;
    if (!qfl::Seek(f, position)) return false;
    while (length_ < kWindow) {
        uint32_t got = 0;
        if (!qfl::Read(f, window_.data() + length_, kWindow - length_, &got)) {
            length_ = 0;
            return false;
        }
        if (got == 0) break;
        length_ += got;
    }
    return n <= length_;
}

Inflated EntryDecoder::Decode(unsigned long i,
                              bool (*write)(void* context, const uint8_t* data, uint32_t n),
                              void* context, qzf_indexed::InflateNotes* notes) {
    InflateTarget t{write, context, -1, false};
    const QorZipFileEntry& e = a_.Entry(i);
    bool whole;
    if (e.compressedSize <= kWindowEntry && Window(e.dataPosition, e.compressedSize))
        whole =
            qzf_indexed::InflateStored(window_.data() + (e.dataPosition - start_), e.compressedSize,
                                       e.uncompressedSize, work_.data(), TakePiece, &t, notes);
    else
        whole = qzf_indexed::InflateEntry(a_.engine, qzf_indexed::Handle(a_.engine), i,
                                          work_.data(), TakePiece, &t, notes);
    if (!whole) return t.refused ? Inflated::kRefused : Inflated::kUnreadable;
    switch (t.status) {
        case kQzfPieceEnd:
            return Inflated::kOk;
        case kQzfPieceBadData:
            return Inflated::kDamaged;
        default:
            return Inflated::kUnreadable;
    }
}

const char* InflatedText(Inflated r) {
    switch (r) {
        case Inflated::kOk:
            return "no error";
        case Inflated::kUnreadable:
            return "cannot read the archive";
        case Inflated::kDamaged:
            return "the data is damaged or cut short";
        case Inflated::kRefused:
            break;
    }
    return "the data could not be written";
}

std::string DamageText(Inflated r, const qzf_indexed::InflateNotes& notes,
                       const QorZipFileEntry& e) {
    const std::string recorded =
        std::to_string(e.uncompressedSize) + " byte" + (e.uncompressedSize == 1 ? "" : "s");
    if (r == Inflated::kDamaged && notes.longer)
        return "the data is damaged: it inflates to more than its recorded " + recorded +
               " (decoding stopped there)";
    if (r == Inflated::kDamaged && notes.shorter)
        return "the data is damaged: it inflates to " + std::to_string(notes.produced) +
               " bytes, not its recorded " + recorded;
    if (r == Inflated::kOk && notes.trailing)
        return "the data is damaged: " + std::to_string(notes.trailing) +
               " bytes follow its last gzip member";
    return InflatedText(r);
}

}  // namespace qorpack
