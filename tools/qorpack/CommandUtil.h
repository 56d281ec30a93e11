// What the commands share: their complaints and usage errors, the engine's
// error text, the one way an archive is located and opened, and the views of
// an open archive by index (name groups, time and attribute columns).
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "archive/ArchiveLocator.h"
#include "archive/QorZipFile.h"
#include "FileOps.h"
#include "NameRules.h"
#include "Stamp.h"
#include "contract/CodePage.h"
#include "archive/QzfIndexed.h"

namespace qorpack {

// "qorpack CMD: text" on stderr; returns 1.
int Complain(const char* command, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
// "qorpack CMD: what" and the usage text on stderr; returns 2.
int UsageError(const char* command, const char* usage, const char* what);
bool IsHelp(const char* arg);
// Arguments of a command that takes exactly one file and no options. Returns
// -1 with *file set, or the exit code to return at once (help, usage error).
int ParseOneFile(int argc, char** argv, const char* cmd, const char* usage, const char* what,
                 std::string* file);
// A success line on stdout, unless --quiet.
void Say(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void Warn(const char* command, const std::string& text);
std::string Megabytes(uint64_t bytes);

// The engine's error with its cause: "cannot write the archive (error 10):
// cannot write 'x': No space left on device".
std::string EngineError(QorZipFile& z);

// An archive opened once, read by index through the engine's own table.
struct OpenedArchive {
    ShortPath shortPath;  // what the engine opened; held as long as it is open
    QorZipFile engine;
    qzf_format::ArchiveLocation at{};  // where the archive lies in its file
    uint32_t Count() const { return qzf_indexed::EntryCount(engine); }
    const QorZipFileEntry& Entry(unsigned long i) const {
        return qzf_indexed::Entry(engine, static_cast<uint32_t>(i));
    }
    std::string Name(unsigned long i) const { return Entry(i).name ? Entry(i).name : ""; }
};

// Locates the archive of `path` (a stand-alone archive or a file with one
// appended, a signed setup's ending before its certificate table) and opens
// it in `mode`: one locating pass and one open. False with a message.
bool OpenArchive(const std::string& path, QorZipFile::QZF_MODE mode, OpenedArchive* a,
                 std::string* error);
// Locates the archive of `path` only. False with a message.
bool LocateArchiveOf(const std::string& path, qzf_format::ArchiveLocation* at, std::string* error);
// Opens `copy`, a working copy of `path` whose signature is removed, read-write
// at the place `at` gave for path. Messages name path.
bool OpenWorkingCopy(const std::string& path, const std::string& copy,
                     const qzf_format::ArchiveLocation& at, QorZipFile* z, std::string* error);

// The zlib level build and add compress entries with unless --level says
// otherwise: zlib's smallest deflate (what other installers' zlib mode makes),
// about 1.8 times the engine's own level 6 in time on executable-like data.
constexpr int kDefaultLevel = 9;

// Writes the archive of a, with the entries whose drop[i] is set left out,
// to the file out (created or emptied): the host file before the archive
// too. False with a message.
bool WriteWithoutTo(const OpenedArchive& a, const bool* drop, const std::string& out,
                    std::string* error);

// Refuses a signed file unless --unsign was given: a change breaks the
// signature (RemoveSignature then takes it off the copy the change is made on).
bool CheckSignature(const std::string& path, bool unsign, const qzf_format::ArchiveLocation& at,
                    std::string* error);

// Entries grouped by name without regard to case: the archive's own notion of
// "the same name", built once so that lookups stay linear in the entry count.
using NameGroups = std::unordered_map<std::string, std::vector<unsigned long>>;
NameGroups GroupNames(const OpenedArchive& a);
// "1 'a.txt' and 2 'A.txt'".
std::string DescribeEntries(const OpenedArchive& a, const std::vector<unsigned long>& which);

// The --slot MARKER=VALUE arguments, their values converted into the setup's
// code page, as a checked list. False with a message; warnings are printed.
bool ParseSlotArguments(const char* cmd, const std::vector<std::string>& args,
                        const qor_codepage::SingleByteTable& table,
                        std::vector<SlotAssignment>* slots, std::string* error);

// --codepage N: the setup's code page (1252 unless given). False with a message.
bool ParseCodePage(const char* value, qor_codepage::SingleByteTable* table, std::string* error);

// A name or slot value of a setup as the terminal shows it: from the setup's
// code page (Windows-1252) into UTF-8 on a UTF-8 terminal, control
// characters escaped, so nothing in a crafted file can steer the terminal.
std::string Shown(const std::string& setupText);

// Prints the package checks' warnings; false with the first refusal in *error.
bool ReportPackageChecks(const char* cmd, const std::vector<std::string>& storedNames,
                         const SlotState slots[kSlotCount], std::string* error);

// Decodes entries of a, as the setup does when it installs them. Small
// entries are read many at a time through one large window of the archive
// and decoded from memory; a read that comes up short leaves the entry to
// the engine's own reading, so failures are the engine's too.
enum class Inflated {
    kOk,
    kUnreadable,  // the archive cannot be read, or ends early
    kDamaged,     // the data is damaged or cut short
    kRefused,     // write returned false (it keeps its reason)
};
class EntryDecoder {
public:
    explicit EntryDecoder(const OpenedArchive& a);
    // Entry i's content, in order, to write(context, ...). Content longer or
    // shorter than the recorded size is damaged (decoding stops one byte past
    // it); notes, when given, says which, and counts bytes after the last
    // gzip member (which the setup ignores).
    Inflated Decode(unsigned long i, bool (*write)(void* context, const uint8_t* data, uint32_t n),
                    void* context, qzf_indexed::InflateNotes* notes = nullptr);

private:
    bool Window(uint32_t position, uint32_t n);  // [position, +n) into window_
    const OpenedArchive& a_;
    std::vector<uint8_t> work_;
    std::vector<uint8_t> window_;
    uint64_t start_ = 0;
    uint32_t length_ = 0;
};
const char* InflatedText(Inflated r);
// Why entry e decoded as r is bad, with the sizes notes found: "it inflates
// to more than its recorded 10 bytes".
std::string DamageText(Inflated r, const qzf_indexed::InflateNotes& notes,
                       const QorZipFileEntry& e);

// The folder --layout puts an entry below: "product", "receiver" or "unplaced".
const char* FolderWord(StoredPlacement::Folder f);

// FILETIME as "YYYY-MM-DD HH:MM:SS" (UTC); "-" for 0.
std::string FormatFileTime(FILETIME t);
// "RHSDAN" with '-' for the bits not set.
std::string FormatAttributes(uint32_t a);

}  // namespace qorpack
