// QorZipFile.cpp: construction, options, opening (the directory reader),
// queries and extraction. Modification lives in QorZipFileWrite.cpp.
//
// The reader treats the file as hostile: every record is checked against the
// bytes already read and the end of the file before anything is allocated, all
// positions are computed in 64 bits and refused past 4 GiB, and every record
// moves the position forward by at least its 5-byte head, so reading ends.
#include "archive/QorZipFile.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "contract/ArchiveFormat.h"
#include "archive/FileLayer.h"
#include "archive/QzfGunzip.h"
#include "archive/QzfIndexed.h"
#include "archive/QzfInternal.h"
#include "archive/QzfObjectExtras.h"
#include "archive/QzfPath.h"

using namespace qzf_format;
using namespace qzf_internal;

namespace {

constexpr uint32_t kDecompressChunk = 65536;  // decompression buffer
constexpr uint32_t kInputChunk = 65536;       // compressed bytes read from the archive at once
constexpr char kDefaultPrompt[] = "Attempting to overwrite Read-Only file %s.  Replace?";
constexpr char kDefaultCaption[] = "Replace File?";
constexpr char kEndsEarly[] = "the file ends early";
constexpr char kReadOnly[] = "it is read-only";

// Writes text into out with its first "%s" replaced by path and "%%" by "%";
// every other character, '%' included, is copied as it is. Never overflows.
void FormatPrompt(char* out, size_t capacity, const char* text, const char* path) {
    size_t n = 0;
    bool pathUsed = false;
    auto put = [&](char c) {
        if (n + 1 < capacity) out[n++] = c;
    };
    for (const char* t = text; *t; ++t) {
        if (t[0] == '%' && t[1] == 's' && !pathUsed) {
            for (const char* p = path; *p; ++p) put(*p);
            pathUsed = true;
            ++t;
        } else if (t[0] == '%' && t[1] == '%') {
            put('%');
            ++t;
        } else {
            put(*t);
        }
    }
    out[n] = 0;
}

bool IsAbsolute(const char* p) {
    return p[0] && p[1] && (qzf_path::IsSeparator(p[0]) || p[1] == ':');
}

}  // namespace

// ---------------------------------------------------------------- errors

const char* QzfErrorText(QZF_ERROR code) {
    switch (code) {
        case QZF_ERR_NONE:
            return "no error";
        case QZF_ERR_NO_FILE_NAME:
            return "no usable archive path (or a path too long)";
        case QZF_ERR_OUT_OF_MEMORY:
            return "out of memory";
        case QZF_ERR_BAD_INDEX:
            return "bad entry index";
        case QZF_ERR_OPEN_FILE:
            return "cannot open the file";
        case QZF_ERR_CREATE_FILE:
            return "cannot create a working file";
        case QZF_ERR_READ_FILE:
            return "cannot read a temporary file";
        case QZF_ERR_WRITE_FILE:
            return "cannot write a temporary file";
        case QZF_ERR_NOT_OPEN:
            return "the archive is not open";
        case QZF_ERR_READ_ARCHIVE:
            return "cannot read the archive";
        case QZF_ERR_WRITE_ARCHIVE:
            return "cannot write the archive";
        case QZF_ERR_BACKUP:
            return "cannot make the backup copy";
        case QZF_ERR_RESTORE:
            return "cannot restore the backup copy";
        case QZF_ERR_BAD_FORMAT:
            return "not an archive, or a damaged one";
        case QZF_ERR_READ_ONLY:
            return "the archive is open read-only";
        case QZF_ERR_COMPRESS:
            return "cannot compress the source file";
        case QZF_ERR_EXTRACT:
            return "cannot write the extracted file";
        case QZF_ERR_BAD_BACKUP_STEP:
            return "internal error (backup step)";
        case QZF_ERR_NOT_FOUND:
            return "no such entry";
        case QZF_ERR_TOO_LARGE:
            return "too large: archive sizes and positions are 32-bit";
    }
    return "unknown error";
}

// ---------------------------------------------------------------- lifetime

QorZipFile::QorZipFile(const char* path, QZF_MODE mode)
    : entryCount_(0),
      entryCapacity_(0),
      entries_(nullptr),
      handle_(qfl::InvalidFile()),
      mode_(QZF_MODE_READ),
      lastError_(QZF_ERR_NONE),
      formatVersion_(0),
      headerOffset_(0),
      trailerPosition_(0),
      useBackupFile_(true),
      restoreAttributes_(false),
      restoreTimeStamp_(true),
      readOnlyOverwrite_(QZF_READONLY_ALWAYS),
      overwritePrompt_(nullptr) {
    archivePath_[0] = 0;
    archiveDirectory_[0] = 0;
    workingCopyPath_[0] = 0;
    if (path) Open(path, mode);
}

QorZipFile::~QorZipFile() {
    Close();
    for (uint32_t i = 0; i < entryCapacity_; ++i) ResetEntry(entries_[i]);
    FreeEntryTable(entries_);
    std::free(overwritePrompt_);
}

void QorZipFile::ResetEntry(QorZipFileEntry& e) {
    if (e.name)
        ForgetEntryIndex(IndexOf(entries_));  // a fresh slot being filled changes nothing indexed
    std::free(e.name);
    std::free(e.sourcePath);
    std::memset(&e, 0, sizeof e);
}

bool QorZipFile::GrowTable(uint32_t wanted) {
    // Growing by half the table at least keeps a directory of n entries at
    // O(n) copying in all; steps stay whole hundreds.
    uint64_t want = wanted;
    if (entries_ && want > entryCapacity_ && want < entryCapacity_ + entryCapacity_ / 2ull)
        want = entryCapacity_ + entryCapacity_ / 2ull;
    // Past the last whole hundred in 32 bits the growth gives way to what was
    // asked. In 32 bits from here: a 64-bit division would bring the compiler
    // library's division routines into the stub.
    const uint32_t kLastHundred = 0xFFFFFFFFu / 100 * 100;
    if (want > kLastHundred) {
        if (wanted > 0xFFFFFFFFu - 99) return false;
        want = wanted;
    }
    const uint32_t w = static_cast<uint32_t>(want);
    const uint32_t rounded = w == 0 ? 100 : (w / 100 + (w % 100 != 0)) * 100;
    if (entries_ && entryCapacity_ >= rounded) return true;
    QorZipFileEntry* table =
        NewEntryTable(static_cast<uint32_t>(rounded), entries_, entryCapacity_);
    if (!table) return false;
    entries_ = table;
    entryCapacity_ = static_cast<uint32_t>(rounded);
    return true;
}

// ---------------------------------------------------------------- options

void QorZipFile::SetUseBackupFile(bool use) { useBackupFile_ = use; }
bool QorZipFile::GetUseBackupFile() const { return useBackupFile_; }
void QorZipFile::SetRestoreAttributes(bool restore) { restoreAttributes_ = restore; }
bool QorZipFile::GetRestoreAttributes() const { return restoreAttributes_; }
void QorZipFile::SetRestoreTimeStamp(bool restore) { restoreTimeStamp_ = restore; }
bool QorZipFile::GetRestoreTimeStamp() const { return restoreTimeStamp_; }
void QorZipFile::SetExtractReadOnlyOverWrite(QZF_EXTRACT_READONLY_OVERWRITE policy) {
    readOnlyOverwrite_ = policy;
}
QorZipFile::QZF_EXTRACT_READONLY_OVERWRITE QorZipFile::GetExtractReadOnlyOverWrite() const {
    return readOnlyOverwrite_;
}
void QorZipFile::SetHeaderOffset(unsigned long offset) {
    headerOffset_ = static_cast<uint32_t>(offset);
}
void QorZipFile::SetOverWritePrompt(const char* text) {
    if (!text) return;
    char* copy = qzf_path::DupString(text);
    if (!copy) return;  // keep the old text rather than lose it
    std::free(overwritePrompt_);
    overwritePrompt_ = copy;
}
const char* QorZipFile::GetOverWritePrompt() const { return overwritePrompt_; }
const char* QorZipFile::GetFileName() const { return archivePath_; }
bool QorZipFile::IsOpen() const { return handle_ != qfl::InvalidFile(); }
QZF_ERROR QorZipFile::GetLastError() { return lastError_; }

// ---------------------------------------------------------------- open

void QorZipFile::Close() {
    if (handle_ != qfl::InvalidFile()) qfl::Close(AsFile(handle_));
    handle_ = qfl::InvalidFile();
}

bool QorZipFile::Open(const char* path, QZF_MODE mode) { return OpenWithin(path, mode, 0); }

bool qzf_internal::LocatedOpen::Open(QorZipFile& archive, const char* path,
                                     QorZipFile::QZF_MODE mode, uint64_t end) {
    return archive.OpenWithin(path, mode, end);
}

bool QorZipFile::OpenWithin(const char* path, QZF_MODE mode, uint64_t end) {
    Close();
    entryCount_ = 0;
    ClearError();
    // The end lives in the table's extras: an object without a table gets an
    // empty one to hold it.
    if (end && !entries_) {
        entries_ = NewEntryTable(0, nullptr, 0);
        if (!entries_) return Fail(QZF_ERR_OUT_OF_MEMORY);
    }
    if (ObjectExtras* extras = ExtrasOf(entries_)) extras->archiveEnd = end;
    formatVersion_ = 0;
    trailerPosition_ = 0;
    if (path) {
        char directory[qzf_path::kMax];
        const char* name;
        char composed[qzf_path::kMax];
        if (!qzf_path::SplitPath(path, directory, &name) ||
            !qzf_path::Compose(composed, directory, name))
            return Fail(QZF_ERR_NO_FILE_NAME);
        std::memcpy(archivePath_, composed, sizeof composed);
        qzf_path::FoldCase(directory);
        std::memcpy(archiveDirectory_, directory, sizeof directory);
    }
    if (!archivePath_[0]) return Fail(QZF_ERR_NO_FILE_NAME);
    mode_ = mode;
    qfl::File f = qfl::Open(
        archivePath_, mode == QZF_MODE_READ ? qfl::kOpenExistingRead : qfl::kOpenOrCreateReadWrite);
    if (f == qfl::InvalidFile()) return Fail(QZF_ERR_OPEN_FILE, "cannot open", archivePath_);
    handle_ = f;
    if (!ReadDirectory()) {
        Close();
        return false;
    }
    return true;
}

bool QorZipFile::Fail(QZF_ERROR code) {
    lastError_ = code;
    return false;
}

bool QorZipFile::Fail(QZF_ERROR code, const char* action, const char* path, const char* detail) {
    qfl::NoteFailure(action, path, detail);
    return Fail(code);
}

void QorZipFile::ClearError() {
    lastError_ = QZF_ERR_NONE;
    qfl::ClearFailure();
}

// The file the handle stands on: the working copy while a change is made on one.
const char* QorZipFile::HandlePath() const {
    return workingCopyPath_[0] ? workingCopyPath_ : archivePath_;
}

// Reads records through one buffer: a directory of many small entries costs a
// few large reads instead of several system calls per entry. Read gives what
// a seek and a read at `pos` would give (fewer bytes only at the end of the
// file); false when the file layer fails.
class qzf_internal::RecordReader {
public:
    explicit RecordReader(qfl::File f)
        : f_(f), buffer_(static_cast<uint8_t*>(std::malloc(kCapacity))) {}
    ~RecordReader() { std::free(buffer_); }
    RecordReader(const RecordReader&) = delete;
    RecordReader& operator=(const RecordReader&) = delete;

    bool Read(uint64_t pos, void* out, uint32_t n, uint32_t* got) {
        *got = 0;
        if (!buffer_ || n > kCapacity) {
            if (!qfl::Seek(f_, pos)) return false;
            return qfl::Read(f_, out, n, got);
        }
        if (pos < start_ || pos + n > start_ + length_) {
            // Refill from pos; a short fill means the end of the file.
            if (!qfl::Seek(f_, pos)) return false;
            start_ = pos;
            length_ = 0;
            while (length_ < kCapacity) {
                uint32_t part = 0;
                if (!qfl::Read(f_, buffer_ + length_, kCapacity - length_, &part)) {
                    length_ = 0;
                    return false;
                }
                if (part == 0) break;
                length_ += part;
            }
        }
        const uint64_t have = start_ + length_ > pos ? start_ + length_ - pos : 0;
        *got = static_cast<uint32_t>(have < n ? have : n);
        std::memcpy(out, buffer_ + (pos - start_), *got);
        return true;
    }

private:
    static constexpr uint32_t kCapacity = 1u << 17;  // above the longest entry record
    qfl::File f_;
    uint8_t* buffer_;
    uint64_t start_ = 0;
    uint32_t length_ = 0;
};

// Reads n bytes of a record at pos through the reader; a short read fails too.
bool QorZipFile::ReadArchive(RecordReader& reader, uint64_t pos, void* buffer, uint32_t n) {
    uint32_t got = 0;
    if (!reader.Read(pos, buffer, n, &got))
        return Fail(QZF_ERR_READ_ARCHIVE, "cannot read", HandlePath());
    if (got != n) return Fail(QZF_ERR_READ_ARCHIVE, "cannot read", HandlePath(), kEndsEarly);
    return true;
}

// Reads every record from the header offset to the end of the file (or to
// the archive's end, where one is set).
bool QorZipFile::ReadDirectory() {
    ForgetEntryIndex(IndexOf(entries_));
    qfl::File f = AsFile(handle_);
    uint64_t fileSize;
    if (!qfl::Size(f, &fileSize)) return Fail(QZF_ERR_READ_ARCHIVE, "cannot read", HandlePath());
    const ObjectExtras* extras = ExtrasOf(entries_);
    const uint64_t bound = extras ? extras->archiveEnd : 0;
    const bool bounded = bound != 0 && bound < fileSize;
    if (bounded) fileSize = bound;  // the bytes after it are not records
    RecordReader reader(f);
    uint64_t pos = headerOffset_;
    bool first = true, lastWasTrailer = false;
    for (;;) {
        if (bounded && pos >= fileSize) break;
        uint8_t head[kEntryFixedLength];
        uint32_t got = 0;
        if (!reader.Read(pos, head, kHeadLength, &got))
            return Fail(QZF_ERR_READ_ARCHIVE, "cannot read", HandlePath());
        if (got == 0) break;  // end of file
        if (got < kHeadLength)
            return Fail(QZF_ERR_READ_ARCHIVE, "cannot read", HandlePath(), kEndsEarly);
        const uint32_t length = Get32(head + kHeadOffLength);
        const uint8_t type = head[kHeadOffType];
        uint64_t next = pos + length;
        // A record never lies below the bytes read, nor past 32-bit positions.
        if (type == kTypeInvalid || length < kHeadLength || next > kMaxPosition)
            return Fail(QZF_ERR_BAD_FORMAT);
        if (bounded && next > fileSize)
            return Fail(QZF_ERR_READ_ARCHIVE, "cannot read", HandlePath(), kEndsEarly);
        bool ok = true;  // unknown types are skipped by their length
        if (type == kTypeHeader)
            ok = first ? ReadHeaderRecord(reader, head, pos, length) : Fail(QZF_ERR_BAD_FORMAT);
        else if (type == kTypeEntry)
            ok = ReadEntryRecord(reader, head, pos, length, fileSize, &next);
        else if (type == kTypeTrailer)
            ok = ReadTrailerRecord(reader, head, pos, length);
        if (!ok) return false;
        pos = next;
        first = false;
        lastWasTrailer = type == kTypeTrailer;
    }
    if (!first && !lastWasTrailer) return Fail(QZF_ERR_BAD_FORMAT);
    return true;
}

// The header record, its 5-byte head in head[]: the format version.
bool QorZipFile::ReadHeaderRecord(RecordReader& reader, uint8_t* head, uint64_t position,
                                  uint32_t length) {
    if (length < kHeaderLength) return Fail(QZF_ERR_BAD_FORMAT);
    if (!ReadArchive(reader, position + kHeadLength, head + kHeadLength, 4)) return false;
    formatVersion_ = Get32(head + kHeaderOffVersion);
    return true;
}

// An entry record at position, its head in head[] (kEntryFixedLength bytes):
// appends it to the table; *next becomes the position after its data.
bool QorZipFile::ReadEntryRecord(RecordReader& reader, uint8_t* head, uint64_t position,
                                 uint32_t length, uint64_t fileSize, uint64_t* next) {
    const uint64_t end = position + length;
    if (length < kEntryMinLength) return Fail(QZF_ERR_BAD_FORMAT);
    // Nothing is allocated for a name the file cannot hold.
    if (end > fileSize) return Fail(QZF_ERR_READ_ARCHIVE, "cannot read", HandlePath(), kEndsEarly);
    if (!ReadArchive(reader, position + kHeadLength, head + kHeadLength,
                     kEntryFixedLength - kHeadLength))
        return false;
    const uint32_t nameBytes = length - kEntryFixedLength;  // zero byte included
    if (nameBytes > kMaxNameBytes) return Fail(QZF_ERR_BAD_FORMAT);
    const uint32_t compressed = Get32(head + kEntryOffCompressed);
    if (end + compressed > kMaxPosition) return Fail(QZF_ERR_BAD_FORMAT);
    BufferOwner name(std::malloc(nameBytes));
    if (!name.Get()) return Fail(QZF_ERR_OUT_OF_MEMORY);
    if (!ReadArchive(reader, position + kEntryFixedLength, name.Get(), nameBytes)) return false;
    if (name.As<char>()[nameBytes - 1] != 0) return Fail(QZF_ERR_BAD_FORMAT);
    if (entryCount_ >= entryCapacity_ && !GrowTable(entryCount_ + 1))
        return Fail(QZF_ERR_OUT_OF_MEMORY);
    QorZipFileEntry& e = entries_[entryCount_++];
    ResetEntry(e);
    e.name = static_cast<char*>(name.Release());
    e.compressedSize = compressed;
    e.uncompressedSize = Get32(head + kEntryOffUncompressed);
    e.timeStamp.dwLowDateTime = Get32(head + kEntryOffTimeLow);
    e.timeStamp.dwHighDateTime = Get32(head + kEntryOffTimeHigh);
    e.attributes = Get32(head + kEntryOffAttributes);
    e.recordPosition = static_cast<uint32_t>(position);
    e.dataPosition = static_cast<uint32_t>(end);
    *next = end + compressed;
    return true;
}

// The trailer record at position, its head in head[]: its count must match
// the entries read and its repeated length the record's.
bool QorZipFile::ReadTrailerRecord(RecordReader& reader, uint8_t* head, uint64_t position,
                                   uint32_t length) {
    if (length < kTrailerLength) return Fail(QZF_ERR_BAD_FORMAT);
    trailerPosition_ = static_cast<uint32_t>(position);
    // The count is checked before the total is read: a wrong count is
    // a format error even in a trailer cut short after it.
    if (!ReadArchive(reader, position + kTrailerOffCount, head + kTrailerOffCount, 4)) return false;
    if (Get32(head + kTrailerOffCount) != entryCount_) return Fail(QZF_ERR_BAD_FORMAT);
    if (!ReadArchive(reader, position + kTrailerOffTotalSize, head + kTrailerOffTotalSize, 4))
        return false;  // total: not validated
    uint8_t tail[kTrailerTailBytes];
    if (!ReadArchive(reader, position + length - kTrailerTailBytes, tail, sizeof tail))
        return false;
    if (Get32(tail) != length) return Fail(QZF_ERR_BAD_FORMAT);
    return true;
}

// ---------------------------------------------------------------- queries

unsigned long QorZipFile::GetNumFiles() {
    lastError_ = QZF_ERR_NONE;
    return entryCount_;
}

#define QZF_CHECK_INDEX(bad)            \
    if (index >= entryCount_) {         \
        lastError_ = QZF_ERR_BAD_INDEX; \
        return bad;                     \
    }                                   \
    lastError_ = QZF_ERR_NONE

const char* QorZipFile::GetFileName(unsigned long index) {
    QZF_CHECK_INDEX(nullptr);
    return entries_[index].name ? entries_[index].name : "";
}

unsigned long QorZipFile::GetFileSize(unsigned long index) {
    QZF_CHECK_INDEX(0);
    return entries_[index].uncompressedSize;
}

unsigned long QorZipFile::GetFileCompressedSize(unsigned long index) {
    QZF_CHECK_INDEX(0);
    return entries_[index].compressedSize;
}

FILETIME QorZipFile::GetFileTimeStamp(unsigned long index) {
    FILETIME none = {0, 0};
    QZF_CHECK_INDEX(none);
    return entries_[index].timeStamp;
}

unsigned long QorZipFile::GetFileAttributesA(unsigned long index) {
    QZF_CHECK_INDEX(0);
    return entries_[index].attributes;
}

#undef QZF_CHECK_INDEX

unsigned long QorZipFile::GetFileIndex(const char* name) {
    if (!name) return kNotFound;
    return FindEntryByName(IndexOf(entries_), entries_, entryCount_, name);
}

unsigned long QorZipFile::GetFileIndexSansPath(const char* name) {
    if (!name) return kNotFound;
    const size_t n = std::strlen(name);
    uint32_t found = kNotFound;
    for (uint32_t i = 0; i < entryCount_; ++i) {
        const char* stored = entries_[i].name ? entries_[i].name : "";
        const char* at = std::strstr(stored, name);
        if (!at || at[n] != 0) continue;  // only the first occurrence counts, at the end
        if (found != kNotFound) return kNotFound;
        found = i;
    }
    return found;
}

// ---------------------------------------------------------------- extraction

bool QorZipFile::ExtractFile(const char* name, const char* destination) {
    return Access::ExtractFrom(*this, name, destination, nullptr, nullptr);
}

bool Access::ExtractFrom(QorZipFile& z, const char* name, const char* destination,
                         const QzfPieces* pieces, bool* placed) {
    if (placed) *placed = false;
    z.ClearError();
    if (!name) return z.Fail(QZF_ERR_NOT_FOUND);
    char dest[qzf_path::kMax];
    bool fits;
    if (destination)
        fits = qzf_path::Compose(dest, destination, "");
    else if (name[0] && name[1] == ':')
        fits = qzf_path::Compose(dest, name, "");
    else
        fits = qzf_path::Compose(dest, z.archiveDirectory_, name);
    uint32_t index = static_cast<uint32_t>(z.GetFileIndex(name));
    if (index == kNotFound) index = static_cast<uint32_t>(z.GetFileIndexSansPath(name));
    if (index == kNotFound) return z.Fail(QZF_ERR_NOT_FOUND);
    if (!fits)  // never write to a path cut short
        return z.Fail(QZF_ERR_EXTRACT, "entry", name, "its destination path is too long");
    const QorZipFileEntry& e = z.entries_[index];
    const uint32_t attributes = z.restoreAttributes_
                                    ? (e.attributes & (qfl::kAttrReadOnly | qfl::kAttrHidden |
                                                       qfl::kAttrSystem | qfl::kAttrNormal))
                                    : qfl::kAttrNormal;
    return Decompress(z, index, dest, attributes, pieces, placed);
}

namespace {

// Where Decompress takes the inflated bytes from: its own reader of the
// archive, or the pieces someone else decoded.
class ContentSource {
public:
    ContentSource(qzf_gunzip::EntryReader& reader, uint8_t* buffer, const QzfPieces* pieces)
        : reader_(reader), buffer_(buffer), pieces_(pieces) {}
    // The first step of reading (before the destination is touched): a
    // qzf_gunzip::Status for the pieces' first, or kMore when all is well.
    int Prime() {
        if (!pieces_) return reader_.Prime() ? qzf_gunzip::kMore : kQzfPieceNotRead;
        held_ = pieces_->next(pieces_->context, &heldData_, &heldSize_);
        return held_ == kQzfPieceNotRead || held_ == kQzfPieceNoSeek || held_ == kQzfPieceGivenUp
                   ? held_
                   : qzf_gunzip::kMore;
    }
    int Fill(const uint8_t** data, uint32_t* n) {
        if (!pieces_) {
            *data = buffer_;
            return reader_.Fill(buffer_, kDecompressChunk, n);
        }
        if (held_ >= 0) {
            const int status = held_;
            held_ = -1;
            *data = heldData_;
            *n = heldSize_;
            return status;
        }
        return pieces_->next(pieces_->context, data, n);
    }

private:
    qzf_gunzip::EntryReader& reader_;
    uint8_t* buffer_;
    const QzfPieces* pieces_;
    int held_ = -1;  // the piece Prime took, until Fill hands it out
    const uint8_t* heldData_ = nullptr;
    uint32_t heldSize_ = 0;
};

}  // namespace

// Inflates the entry straight from the archive into destination, honouring
// the read-only policy; on failure sets the last error (9 for the archive,
// else 16) and notes its cause. The first block of input is read before the
// destination is touched, so a failing archive leaves an existing file alone;
// a destination written in part stays.
//
// With placed, only a destination that can be created new is written:
// *placed says whether it was. When it was not, nothing was touched and
// nothing of pieces taken, so the caller may go on with its own steps.
bool Access::Decompress(QorZipFile& z, uint32_t index, const char* destination, uint32_t attributes,
                        const QzfPieces* pieces, bool* placed) {
    const QorZipFileEntry& e = z.entries_[index];
    if (placed) *placed = false;
    if (z.handle_ == qfl::InvalidFile())
        return z.Fail(QZF_ERR_READ_ARCHIVE, "not open", z.HandlePath());
    // Pieces decoded ahead stand in for the seek and the reads; without them
    // (or once the giver has stopped) the archive is read here.
    if (pieces && !pieces->begin(pieces->context, index)) pieces = nullptr;
    if (!pieces && !qfl::Seek(AsFile(z.handle_), e.dataPosition))
        return z.Fail(QZF_ERR_READ_ARCHIVE, "cannot read", z.HandlePath());
    // Buffers only for decoding here: with pieces, a fresh block per file
    // would be committed and given back to the system for every entry.
    BufferOwner owner(pieces ? nullptr : std::malloc(kDecompressChunk + kInputChunk));
    uint8_t* buffer = owner.As<uint8_t>();
    if (!pieces && !buffer) return z.Fail(QZF_ERR_EXTRACT, "entry", e.name, "out of memory");
    uint8_t* const input = buffer ? buffer + kDecompressChunk : nullptr;
    qzf_gunzip::EntryReader reader(AsFile(z.handle_), e.compressedSize, e.uncompressedSize, input,
                                   kInputChunk);
    ContentSource content(reader, buffer, pieces);

    // Most destinations are new: creating one outright spares the attribute
    // test and the folder walk, each a failing lookup of the new name. When
    // that fails (the file exists, or its folder does not), the full steps run.
    qfl::FileOwner out;
    if (placed) {
        if (!out.Reset(qfl::Open(destination, qfl::kCreateNewWrite, attributes)) || !out.Valid())
            return z.Fail(QZF_ERR_EXTRACT, "cannot create", destination);
        *placed = true;
    }
    const int primed = content.Prime();
    if (primed != qzf_gunzip::kMore && out.Valid()) {
        // Nothing was written yet: the file made for it goes again, as if
        // the archive had failed before it was made.
        out.Reset();
        qfl::SetAttributes(destination, qfl::kAttrNormal);
        qfl::Remove(destination);
    }
    switch (primed) {
        case qzf_gunzip::kMore:
            break;
        case kQzfPieceNoSeek:
            return z.Fail(QZF_ERR_READ_ARCHIVE, "cannot read", z.HandlePath());
        case kQzfPieceGivenUp:
            return z.Fail(QZF_ERR_EXTRACT, "entry", e.name, "out of memory");
        default:
            return z.Fail(QZF_ERR_READ_ARCHIVE, "cannot read", z.HandlePath(), kEndsEarly);
    }
    if (!placed) out.Reset(qfl::Open(destination, qfl::kCreateNewWrite, attributes));
    if (!out.Valid()) {
        uint32_t existing;
        if (qfl::GetAttributes(destination, &existing)) {
            if (existing & qfl::kAttrReadOnly) {
                if (z.readOnlyOverwrite_ == QorZipFile::QZF_READONLY_NEVER)
                    return z.Fail(QZF_ERR_EXTRACT, "will not replace", destination, kReadOnly);
                if (z.readOnlyOverwrite_ == QorZipFile::QZF_READONLY_PROMPT) {
                    // A prompt set by the caller replaces the built-in text.
                    const char* text = z.overwritePrompt_ && *z.overwritePrompt_
                                           ? z.overwritePrompt_
                                           : kDefaultPrompt;
                    BufferOwner promptOwner(std::malloc(kDecompressChunk));
                    char* prompt = promptOwner.As<char>();
                    if (!prompt) return z.Fail(QZF_ERR_EXTRACT, "entry", e.name, "out of memory");
                    FormatPrompt(prompt, kDecompressChunk, text, destination);
                    if (!qfl::AskYesNo(prompt, kDefaultCaption))
                        return z.Fail(QZF_ERR_EXTRACT, "will not replace", destination, kReadOnly);
                }
            }
            qfl::SetAttributes(destination, existing & ~qfl::kAttrReadOnly);
            qfl::Remove(destination);
        }
        long last = qzf_path::LastSeparator(destination);
        if (last > 0) {
            char folder[qzf_path::kMax];
            std::memcpy(folder, destination, static_cast<size_t>(last));
            folder[last] = 0;
            qzf_path::CreateFolderPath(folder);
        }
        if (!out.Reset(qfl::Open(destination, qfl::kCreateAlwaysWrite, attributes)) || !out.Valid())
            return z.Fail(QZF_ERR_EXTRACT, "cannot create", destination);
    }
    for (;;) {
        uint32_t n = 0;
        const uint8_t* data = nullptr;
        const int status = content.Fill(&data, &n);
        if (status == qzf_gunzip::kReadFailed)
            return z.Fail(QZF_ERR_READ_ARCHIVE, "cannot read", z.HandlePath(), kEndsEarly);
        if (status == kQzfPieceGivenUp)
            return z.Fail(QZF_ERR_EXTRACT, "entry", e.name, "out of memory");
        if (status != qzf_gunzip::kMore && status != qzf_gunzip::kEnd)
            return z.Fail(QZF_ERR_EXTRACT, "entry", e.name,
                          reader.SizeFound() == qzf_gunzip::EntryReader::kLonger
                              ? "data longer than its recorded size"
                          : reader.SizeFound() == qzf_gunzip::EntryReader::kShorter
                              ? "data shorter than its recorded size"
                              : "data corrupt or cut short");
        uint32_t put = 0;
        if (n > 0 && (!qfl::Write(out.Get(), data, n, &put) || put != n))
            return z.Fail(QZF_ERR_EXTRACT, "cannot write", destination);
        if (status == qzf_gunzip::kEnd) break;
    }
    // The time stamp goes on the handle still open, saving a second open. A
    // destination created read-only could not be opened for writing again and
    // keeps the time of its extraction; a failure here is no failure.
    if (z.restoreTimeStamp_ && !(attributes & qfl::kAttrReadOnly))
        qfl::SetTime(out.Get(), &e.timeStamp);
    if (!out.Reset()) return z.Fail(QZF_ERR_EXTRACT, "cannot write", destination);
    return true;
}

bool QorZipFile::ExtractFileToDir(const char* directory, const char* name,
                                  const char* destinationName) {
    ClearError();
    if (!name) return Fail(QZF_ERR_NOT_FOUND);
    if (destinationName && IsAbsolute(destinationName)) return ExtractFile(name, destinationName);
    if (IsAbsolute(name)) return ExtractFile(name, destinationName ? destinationName : name);
    const char* dir = directory ? directory : "";
    const size_t ld = std::strlen(dir);
    const char sep[2] = {ld && !qzf_path::IsSeparator(dir[ld - 1]) ? qfl::Separator() : '\0', 0};
    char dest[qzf_path::kMax];
    if (!qzf_path::Compose(dest, dir, sep, destinationName ? destinationName : name))
        return Fail(QZF_ERR_EXTRACT);
    return ExtractFile(name, dest);
}

bool QorZipFile::ExtractFiles(unsigned long count, const char** names, const char** destinations) {
    ClearError();
    if (names) {
        for (unsigned long i = 0; i < count; ++i)
            if (!ExtractFile(names[i], destinations ? destinations[i] : nullptr)) return false;
        return true;
    }
    for (uint32_t i = 0; i < entryCount_; ++i) {
        // Extraction never changes the table, but copy the name: it is looked up again.
        char* name = qzf_path::DupString(entries_[i].name ? entries_[i].name : "");
        if (!name) return Fail(QZF_ERR_OUT_OF_MEMORY);
        bool ok = ExtractFile(name, nullptr);
        std::free(name);
        if (!ok) return false;
    }
    return true;
}

bool QorZipFile::ExtractFilesToDir(const char* directory, unsigned long count, const char** names) {
    ClearError();
    if (names) {
        for (unsigned long i = 0; i < count; ++i)
            if (!ExtractFileToDir(directory, names[i], nullptr)) return false;
        return true;
    }
    for (uint32_t i = 0; i < entryCount_; ++i) {
        char* name = qzf_path::DupString(entries_[i].name ? entries_[i].name : "");
        if (!name) return Fail(QZF_ERR_OUT_OF_MEMORY);
        bool ok = ExtractFileToDir(directory, name, nullptr);
        std::free(name);
        if (!ok) return false;
    }
    return true;
}
