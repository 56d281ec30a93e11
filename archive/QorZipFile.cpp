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

#include "archive/ArchiveFormat.h"
#include "archive/FileLayer.h"
#include "archive/QzfPath.h"

using namespace qzf_format;

namespace {

constexpr uint32_t kCopyChunk = 16384;        // archive <-> temporary file copies
constexpr uint32_t kDecompressChunk = 65536;  // decompression buffer
constexpr uint64_t kMaxPosition = 0xFFFFFFFFu;
constexpr uint32_t kNotFound = 0xFFFFFFFFu;
constexpr char kDefaultPrompt[] = "Attempting to overwrite Read-Only file %s.  Replace?";
constexpr char kDefaultCaption[] = "Replace File?";

qfl::File AsFile(void* h) { return static_cast<qfl::File>(h); }

bool EqualsNoCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        char x = *a, y = *b;
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
        if (!x) return true;
    }
}

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
    backupPath_[0] = 0;
    if (path) Open(path, mode);
}

QorZipFile::~QorZipFile() {
    Close();
    for (uint32_t i = 0; i < entryCapacity_; ++i) ResetEntry(entries_[i]);
    std::free(entries_);
    std::free(overwritePrompt_);
}

void QorZipFile::ResetEntry(QorZipFileEntry& e) {
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
    uint64_t rounded = want == 0 ? 100 : (want + 99) / 100 * 100;
    if (rounded > 0xFFFFFFFFu && wanted <= 0xFFFFFFFFu - 99) rounded = (wanted + 99ull) / 100 * 100;
    if (rounded > 0xFFFFFFFFu || rounded > SIZE_MAX / sizeof(QorZipFileEntry)) return false;
    if (entries_ && entryCapacity_ >= rounded) return true;
    size_t bytes = static_cast<size_t>(rounded) * sizeof(QorZipFileEntry);
    auto* table = static_cast<QorZipFileEntry*>(std::calloc(1, bytes));
    if (!table) return false;
    if (entries_) {
        std::memcpy(table, entries_, entryCapacity_ * sizeof(QorZipFileEntry));
        std::free(entries_);
    }
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

bool QorZipFile::Open(const char* path, QZF_MODE mode) {
    Close();
    entryCount_ = 0;
    lastError_ = QZF_ERR_NONE;
    formatVersion_ = 0;
    trailerPosition_ = 0;
    if (path) {
        char directory[qzf_path::kMax];
        const char* name;
        char composed[qzf_path::kMax];
        if (!qzf_path::SplitPath(path, directory, &name) ||
            !qzf_path::Compose(composed, directory, name)) {
            lastError_ = QZF_ERR_NO_FILE_NAME;
            return false;
        }
        std::memcpy(archivePath_, composed, sizeof composed);
        qzf_path::FoldCase(directory);
        std::memcpy(archiveDirectory_, directory, sizeof directory);
    }
    if (!archivePath_[0]) {
        lastError_ = QZF_ERR_NO_FILE_NAME;
        return false;
    }
    mode_ = mode;
    qfl::File f = qfl::Open(
        archivePath_, mode == QZF_MODE_READ ? qfl::kOpenExistingRead : qfl::kOpenOrCreateReadWrite);
    if (f == qfl::InvalidFile()) {
        lastError_ = QZF_ERR_OPEN_FILE;
        return false;
    }
    handle_ = f;
    if (!ReadDirectory()) {
        Close();
        return false;
    }
    return true;
}

namespace {

// Reads records through one buffer: a directory of many small entries costs a
// few large reads instead of several system calls per entry. Read gives what
// a seek and a read at `pos` would give (fewer bytes only at the end of the
// file); false when the file layer fails.
class RecordReader {
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
    bool ReadExact(uint64_t pos, void* out, uint32_t n) {
        uint32_t got = 0;
        return Read(pos, out, n, &got) && got == n;
    }

private:
    static constexpr uint32_t kCapacity = 1u << 17;  // above the longest entry record
    qfl::File f_;
    uint8_t* buffer_;
    uint64_t start_ = 0;
    uint32_t length_ = 0;
};

}  // namespace

// Reads every record from the header offset to the end of the file.
bool QorZipFile::ReadDirectory() {
    qfl::File f = AsFile(handle_);
    uint64_t fileSize;
    if (!qfl::Size(f, &fileSize)) {
        lastError_ = QZF_ERR_READ_ARCHIVE;
        return false;
    }
    RecordReader reader(f);
    uint64_t pos = headerOffset_;
    bool first = true, lastWasTrailer = false;
    for (;;) {
        uint8_t head[kEntryFixedLength];
        uint32_t got = 0;
        if (!reader.Read(pos, head, kHeadLength, &got)) {
            lastError_ = QZF_ERR_READ_ARCHIVE;
            return false;
        }
        if (got == 0) break;  // end of file
        if (got < kHeadLength) {
            lastError_ = QZF_ERR_READ_ARCHIVE;
            return false;
        }
        const uint32_t length = Get32(head + kHeadOffLength);
        const uint8_t type = head[kHeadOffType];
        const uint64_t end = pos + length;
        // A record never lies below the bytes read, nor past 32-bit positions.
        if (type == kTypeInvalid || length < kHeadLength || end > kMaxPosition) {
            lastError_ = QZF_ERR_BAD_FORMAT;
            return false;
        }
        if (type == kTypeHeader) {
            if (!first || length < kHeaderLength) {
                lastError_ = QZF_ERR_BAD_FORMAT;
                return false;
            }
            if (!reader.ReadExact(pos + kHeadLength, head + kHeadLength, 4)) {
                lastError_ = QZF_ERR_READ_ARCHIVE;
                return false;
            }
            formatVersion_ = Get32(head + kHeaderOffVersion);
        } else if (type == kTypeEntry) {
            if (length < kEntryMinLength) {
                lastError_ = QZF_ERR_BAD_FORMAT;
                return false;
            }
            // Nothing is allocated for a name the file cannot hold.
            if (end > fileSize) {
                lastError_ = QZF_ERR_READ_ARCHIVE;
                return false;
            }
            if (!reader.ReadExact(pos + kHeadLength, head + kHeadLength,
                                  kEntryFixedLength - kHeadLength)) {
                lastError_ = QZF_ERR_READ_ARCHIVE;
                return false;
            }
            const uint32_t nameBytes = length - kEntryFixedLength;  // zero byte included
            if (nameBytes > kMaxNameBytes) {
                lastError_ = QZF_ERR_BAD_FORMAT;
                return false;
            }
            const uint32_t compressed = Get32(head + kEntryOffCompressed);
            if (end + compressed > kMaxPosition) {
                lastError_ = QZF_ERR_BAD_FORMAT;
                return false;
            }
            char* name = static_cast<char*>(std::malloc(nameBytes));
            if (!name) {
                lastError_ = QZF_ERR_OUT_OF_MEMORY;
                return false;
            }
            if (!reader.ReadExact(pos + kEntryFixedLength, name, nameBytes)) {
                std::free(name);
                lastError_ = QZF_ERR_READ_ARCHIVE;
                return false;
            }
            if (name[nameBytes - 1] != 0) {
                std::free(name);
                lastError_ = QZF_ERR_BAD_FORMAT;
                return false;
            }
            if (entryCount_ >= entryCapacity_ && !GrowTable(entryCount_ + 1)) {
                std::free(name);
                lastError_ = QZF_ERR_OUT_OF_MEMORY;
                return false;
            }
            QorZipFileEntry& e = entries_[entryCount_++];
            ResetEntry(e);
            e.name = name;
            e.compressedSize = compressed;
            e.uncompressedSize = Get32(head + kEntryOffUncompressed);
            e.timeStamp.dwLowDateTime = Get32(head + kEntryOffTimeLow);
            e.timeStamp.dwHighDateTime = Get32(head + kEntryOffTimeHigh);
            e.attributes = Get32(head + kEntryOffAttributes);
            e.recordPosition = static_cast<uint32_t>(pos);
            e.dataPosition = static_cast<uint32_t>(end);
            pos = end + compressed;
            first = false;
            lastWasTrailer = false;
            continue;
        } else if (type == kTypeTrailer) {
            if (length < kTrailerLength) {
                lastError_ = QZF_ERR_BAD_FORMAT;
                return false;
            }
            trailerPosition_ = static_cast<uint32_t>(pos);
            // The count is checked before the total is read: a wrong count is
            // a format error even in a trailer cut short after it.
            if (!reader.ReadExact(pos + kTrailerOffCount, head + kTrailerOffCount, 4)) {
                lastError_ = QZF_ERR_READ_ARCHIVE;
                return false;
            }
            if (Get32(head + kTrailerOffCount) != entryCount_) {
                lastError_ = QZF_ERR_BAD_FORMAT;
                return false;
            }
            if (!reader.ReadExact(pos + kTrailerOffTotalSize, head + kTrailerOffTotalSize,
                                  4)) {  // total: not validated
                lastError_ = QZF_ERR_READ_ARCHIVE;
                return false;
            }
            uint8_t tail[kTrailerTailBytes];
            if (!reader.ReadExact(end - kTrailerTailBytes, tail, sizeof tail)) {
                lastError_ = QZF_ERR_READ_ARCHIVE;
                return false;
            }
            if (Get32(tail) != length) {
                lastError_ = QZF_ERR_BAD_FORMAT;
                return false;
            }
        }
        // Header, trailer and unknown types continue after their record.
        pos = end;
        first = false;
        lastWasTrailer = type == kTypeTrailer;
    }
    if (!first && !lastWasTrailer) {
        lastError_ = QZF_ERR_BAD_FORMAT;
        return false;
    }
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
    for (uint32_t i = 0; i < entryCount_; ++i)
        if (entries_[i].name && EqualsNoCase(entries_[i].name, name)) return i;
    return kNotFound;
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
    lastError_ = QZF_ERR_NONE;
    if (!name) {
        lastError_ = QZF_ERR_NOT_FOUND;
        return false;
    }
    char dest[qzf_path::kMax];
    bool fits;
    if (destination)
        fits = qzf_path::Compose(dest, destination, "");
    else if (name[0] && name[1] == ':')
        fits = qzf_path::Compose(dest, name, "");
    else
        fits = qzf_path::Compose(dest, archiveDirectory_, name);
    uint32_t index = static_cast<uint32_t>(GetFileIndex(name));
    if (index == kNotFound) index = static_cast<uint32_t>(GetFileIndexSansPath(name));
    if (index == kNotFound) {
        lastError_ = QZF_ERR_NOT_FOUND;
        return false;
    }
    if (!fits) {  // never write to a path cut short
        lastError_ = QZF_ERR_EXTRACT;
        return false;
    }
    const QorZipFileEntry& e = entries_[index];
    const char* temp = qzf_path::MakeTempFileName();
    if (!temp) {
        lastError_ = QZF_ERR_CREATE_FILE;
        return false;
    }
    char tempPath[qzf_path::kMax];
    qzf_path::Compose(tempPath, temp, "");
    if (!CopyToTemp(e, tempPath)) {
        qfl::Remove(tempPath);
        return false;
    }
    const uint32_t attributes = restoreAttributes_
                                    ? (e.attributes & (qfl::kAttrReadOnly | qfl::kAttrHidden |
                                                       qfl::kAttrSystem | qfl::kAttrNormal))
                                    : qfl::kAttrNormal;
    bool ok = Decompress(tempPath, dest, attributes);
    qfl::Remove(tempPath);
    if (!ok) {
        lastError_ = QZF_ERR_EXTRACT;
        return false;
    }
    if (restoreTimeStamp_) {
        // A destination created read-only cannot be opened for writing and
        // keeps the time of its extraction.
        qfl::FileOwner out(qfl::Open(dest, qfl::kOpenExistingReadWrite));
        if (out.Valid()) qfl::SetTime(out.Get(), &e.timeStamp);
    }
    return true;
}

// Copies the entry's compressed bytes from the archive into tempPath.
bool QorZipFile::CopyToTemp(const QorZipFileEntry& e, const char* tempPath) {
    if (handle_ == qfl::InvalidFile() || !qfl::Seek(AsFile(handle_), e.dataPosition)) {
        lastError_ = QZF_ERR_READ_ARCHIVE;
        return false;
    }
    qfl::FileOwner out(qfl::Open(tempPath, qfl::kCreateAlwaysWrite));
    if (!out.Valid()) {
        lastError_ = QZF_ERR_CREATE_FILE;
        return false;
    }
    uint8_t buffer[kCopyChunk];
    uint32_t left = e.compressedSize;
    while (left > 0) {
        uint32_t want = left < kCopyChunk ? left : kCopyChunk, got = 0, put = 0;
        if (!qfl::Read(AsFile(handle_), buffer, want, &got) || got == 0) {
            lastError_ = QZF_ERR_READ_ARCHIVE;
            return false;
        }
        if (!qfl::Write(out.Get(), buffer, got, &put) || put != got) {
            lastError_ = QZF_ERR_WRITE_FILE;
            return false;
        }
        left -= got;
    }
    if (!out.Reset()) {
        lastError_ = QZF_ERR_WRITE_FILE;
        return false;
    }
    return true;
}

// Decompresses the gzip file into destination, honouring the read-only policy.
// A destination written in part stays.
bool QorZipFile::Decompress(const char* gzPath, const char* destination, uint32_t attributes) {
    char* buffer = static_cast<char*>(std::malloc(kDecompressChunk));
    if (!buffer) return false;
    struct BufferOwner {
        char* p;
        ~BufferOwner() { std::free(p); }
    } owner{buffer};

    uint32_t existing;
    if (qfl::GetAttributes(destination, &existing)) {
        if (existing & qfl::kAttrReadOnly) {
            if (readOnlyOverwrite_ == QZF_READONLY_NEVER) return false;
            if (readOnlyOverwrite_ == QZF_READONLY_PROMPT) {
                // A prompt set by the caller replaces the built-in text.
                const char* text =
                    overwritePrompt_ && *overwritePrompt_ ? overwritePrompt_ : kDefaultPrompt;
                FormatPrompt(buffer, kDecompressChunk, text, destination);
                if (!qfl::AskYesNo(buffer, kDefaultCaption)) return false;
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
    qfl::FileOwner out(qfl::Open(destination, qfl::kCreateAlwaysWrite, attributes));
    if (!out.Valid()) return false;
    qfl::GzOwner gz(qfl::g_calls.gzOpen(gzPath, "rb"));
    if (!gz.Get()) return false;
    for (;;) {
        int n = qfl::g_calls.gzRead(gz.Get(), buffer, kDecompressChunk);
        if (n < 0) return false;
        if (n == 0) break;
        uint32_t put = 0;
        if (!qfl::Write(out.Get(), buffer, static_cast<uint32_t>(n), &put) ||
            put != static_cast<uint32_t>(n))
            return false;
    }
    // A stream cut short shows only here; it is a failure, not a short file.
    if (gz.Close() != Z_OK) return false;
    return out.Reset();
}

bool QorZipFile::ExtractFileToDir(const char* directory, const char* name,
                                  const char* destinationName) {
    lastError_ = QZF_ERR_NONE;
    if (!name) {
        lastError_ = QZF_ERR_NOT_FOUND;
        return false;
    }
    if (destinationName && IsAbsolute(destinationName)) return ExtractFile(name, destinationName);
    if (IsAbsolute(name)) return ExtractFile(name, destinationName ? destinationName : name);
    const char* dir = directory ? directory : "";
    const size_t ld = std::strlen(dir);
    const char sep[2] = {ld && !qzf_path::IsSeparator(dir[ld - 1]) ? qfl::Separator() : '\0', 0};
    char dest[qzf_path::kMax];
    if (!qzf_path::Compose(dest, dir, sep, destinationName ? destinationName : name)) {
        lastError_ = QZF_ERR_EXTRACT;
        return false;
    }
    return ExtractFile(name, dest);
}

bool QorZipFile::ExtractFiles(unsigned long count, const char** names, const char** destinations) {
    lastError_ = QZF_ERR_NONE;
    if (names) {
        for (unsigned long i = 0; i < count; ++i)
            if (!ExtractFile(names[i], destinations ? destinations[i] : nullptr)) return false;
        return true;
    }
    for (uint32_t i = 0; i < entryCount_; ++i) {
        // Extraction never changes the table, but copy the name: it is looked up again.
        char* name = qzf_path::DupString(entries_[i].name ? entries_[i].name : "");
        if (!name) {
            lastError_ = QZF_ERR_OUT_OF_MEMORY;
            return false;
        }
        bool ok = ExtractFile(name, nullptr);
        std::free(name);
        if (!ok) return false;
    }
    return true;
}

bool QorZipFile::ExtractFilesToDir(const char* directory, unsigned long count, const char** names) {
    lastError_ = QZF_ERR_NONE;
    if (names) {
        for (unsigned long i = 0; i < count; ++i)
            if (!ExtractFileToDir(directory, names[i], nullptr)) return false;
        return true;
    }
    for (uint32_t i = 0; i < entryCount_; ++i) {
        char* name = qzf_path::DupString(entries_[i].name ? entries_[i].name : "");
        if (!name) {
            lastError_ = QZF_ERR_OUT_OF_MEMORY;
            return false;
        }
        bool ok = ExtractFileToDir(directory, name, nullptr);
        std::free(name);
        if (!ok) return false;
    }
    return true;
}
