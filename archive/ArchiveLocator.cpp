// ArchiveLocator.cpp: the appended-archive rule (see ArchiveLocator.h).
#include "archive/ArchiveLocator.h"

#include <cstring>

#include "archive/ArchiveFormat.h"
#include "archive/FileLayer.h"
#include "archive/QzfInternal.h"

namespace qzf_format {

namespace {

// PE image fields the certificate-table rule needs.
constexpr uint32_t kDosHeaderSize = 64;
constexpr uint32_t kPeOffsetField = 0x3C;   // in the DOS header
constexpr uint32_t kCoffHeaderSize = 20;    // after the 4-byte "PE\0\0"
constexpr uint32_t kCoffSectionCount = 2;   // u16, in the COFF header
constexpr uint32_t kCoffOptionalSize = 16;  // u16, in the COFF header
constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint32_t kPe32DirectoryCount = 92;  // field offsets in the optional header
constexpr uint32_t kPe32PlusDirectoryCount = 108;
constexpr uint32_t kSecurityDirectory = 4;  // index among the data directories
constexpr uint32_t kTableAlignment = 8;     // the certificate table starts 8-aligned

struct Source {
    uint64_t size;
    ReadAt read;
    void* context;
    bool failed;  // a read inside the file failed: the file is unreadable
};

// Reads n bytes at position when they lie inside the file; false otherwise.
bool ReadInside(Source& s, uint64_t position, void* buffer, uint32_t n) {
    if (position > s.size || n > s.size - position) return false;
    if (s.read(s.context, position, buffer, n)) return true;
    s.failed = true;
    return false;
}

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

// The certificate table of a PE image, when one lies after the headers,
// inside the file, and ends it.
bool FindCertificateTable(Source& s, uint64_t* offset, uint64_t* directory) {
    uint8_t dos[kDosHeaderSize];
    if (!ReadInside(s, 0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return false;
    const uint64_t pe = Get32(dos + kPeOffsetField);
    uint8_t nt[4 + kCoffHeaderSize + 2];  // signature, COFF header, optional header's magic
    if (!ReadInside(s, pe, nt, sizeof nt) || std::memcmp(nt, "PE\0\0", 4) != 0) return false;
    const uint32_t sections = Get16(nt + 4 + kCoffSectionCount);
    const uint32_t optionalSize = Get16(nt + 4 + kCoffOptionalSize);
    const uint16_t magic = Get16(nt + 4 + kCoffHeaderSize);
    const uint32_t countField = magic == kPe32Magic       ? kPe32DirectoryCount
                                : magic == kPe32PlusMagic ? kPe32PlusDirectoryCount
                                                          : 0;
    if (!countField) return false;
    const uint32_t entryField = countField + 4 + kSecurityDirectory * 8;
    if (optionalSize < entryField + 8) return false;
    const uint64_t optional = pe + 4 + kCoffHeaderSize;
    uint8_t count[4], entry[8];
    if (!ReadInside(s, optional + countField, count, sizeof count) ||
        Get32(count) <= kSecurityDirectory ||
        !ReadInside(s, optional + entryField, entry, sizeof entry))
        return false;
    const uint64_t tableOffset = Get32(entry), tableSize = Get32(entry + 4);
    const uint64_t headersEnd =
        optional + optionalSize + static_cast<uint64_t>(sections) * kSectionHeaderSize;
    if (tableSize == 0 || tableOffset < headersEnd || tableOffset > s.size ||
        tableSize != s.size - tableOffset)
        return false;
    *offset = tableOffset;
    *directory = optional + entryField;
    return true;
}

// The archive whose length stands in the 4 bytes before end: its start, when
// that length is a trailer's at least and below end.
bool ArchiveEndingAt(Source& s, uint64_t end, uint64_t* headerOffset) {
    uint8_t tail[4];
    if (end < sizeof tail || end > qzf_internal::kMaxPosition ||
        !ReadInside(s, end - sizeof tail, tail, sizeof tail))
        return false;
    const uint32_t length = Get32(tail);
    if (length < kTrailerLength || length >= end) return false;
    *headerOffset = end - length;
    return true;
}

bool HeaderAt(Source& s, uint64_t position) {
    uint8_t head[kHeadLength];
    return ReadInside(s, position, head, sizeof head) &&
           Get32(head + kHeadOffLength) == kHeaderLength && head[kHeadOffType] == kTypeHeader;
}

// Before a certificate table the archive must be whole to count: a header at
// its start and a trailer whose repeated length stands where it belongs.
bool WholeArchiveEndingAt(Source& s, uint64_t end, uint64_t* headerOffset) {
    uint8_t repeat[4];
    return ArchiveEndingAt(s, end, headerOffset) && HeaderAt(s, *headerOffset) &&
           ReadInside(s, end - kTrailerTailBytes, repeat, sizeof repeat) &&
           Get32(repeat) == kTrailerLength;
}

}  // namespace

bool LocateArchive(uint64_t fileSize, ReadAt read, void* context, ArchiveLocation* out) {
    std::memset(out, 0, sizeof *out);
    out->end = fileSize;
    Source s{fileSize, read, context, false};
    out->hasSignature = FindCertificateTable(s, &out->signatureOffset, &out->signatureDirectory);
    if (out->hasSignature) {
        // Signing pads the file with zero bytes up to the table's alignment.
        for (uint32_t pad = 0; pad < kTableAlignment && pad <= out->signatureOffset; ++pad) {
            uint8_t b = 0;
            if (pad > 0 && (!ReadInside(s, out->signatureOffset - pad, &b, 1) || b != 0)) break;
            if (WholeArchiveEndingAt(s, out->signatureOffset - pad, &out->headerOffset)) {
                out->end = out->signatureOffset - pad;
                out->appended = true;
                break;
            }
        }
    }
    if (!out->appended) {
        out->headerOffset = 0;
        out->appended = ArchiveEndingAt(s, fileSize, &out->headerOffset);
    }
    out->hasHeader = HeaderAt(s, out->headerOffset);
    return !s.failed;
}

namespace {

bool ReadFromFile(void* context, uint64_t position, void* buffer, uint32_t n) {
    qfl::File f = static_cast<qfl::File>(context);
    uint32_t got = 0;
    return qfl::Seek(f, position) && qfl::Read(f, buffer, n, &got) && got == n;
}

}  // namespace

bool LocateArchiveInFile(const char* path, ArchiveLocation* out) {
    std::memset(out, 0, sizeof *out);
    qfl::FileOwner f(qfl::Open(path, qfl::kOpenExistingRead));
    uint64_t size = 0;
    if (!f.Valid() || !qfl::Size(f.Get(), &size)) return false;
    return LocateArchive(size, ReadFromFile, f.Get(), out);
}

bool OpenLocatedArchive(QorZipFile& archive, const char* path, const ArchiveLocation& at,
                        QorZipFile::QZF_MODE mode) {
    archive.SetHeaderOffset(static_cast<unsigned long>(at.headerOffset));
    // Only a signed file's archive is followed by bytes that are not records.
    const bool bounded = at.hasSignature && at.appended;
    return qzf_internal::LocatedOpen::Open(archive, path, mode, bounded ? at.end : 0);
}

}  // namespace qzf_format
