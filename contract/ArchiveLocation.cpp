// ArchiveLocation.cpp: the appended-archive rule (see ArchiveLocation.h).
#include "contract/ArchiveLocation.h"

#include <cstring>

#include "contract/ArchiveFormat.h"
#include "contract/PeImage.h"

namespace qzf_format {

namespace {

constexpr uint32_t kTableAlignment = 8;  // the certificate table starts 8-aligned

// The certificate table of a PE image, when one lies after the headers,
// inside the file, and ends it.
bool FindCertificateTable(qor_pe::ImageFile& f, uint64_t* offset, uint64_t* directory) {
    qor_pe::Headers h;
    uint32_t address = 0, size = 0;
    if (!qor_pe::ReadHeaders(f, &h) ||
        !qor_pe::ReadDataDirectory(f, h, qor_pe::kSecurityDirectory, &address, &size, directory))
        return false;
    const uint64_t tableOffset = address, tableSize = size;
    const uint64_t headersEnd =
        h.sectionTable + static_cast<uint64_t>(h.sectionCount) * qor_pe::kSectionHeaderSize;
    if (tableSize == 0 || tableOffset < headersEnd || tableOffset > f.size ||
        tableSize != f.size - tableOffset)
        return false;
    *offset = tableOffset;
    return true;
}

// The archive whose length stands in the 4 bytes before end: its start, when
// that length is a trailer's at least and below end.
bool ArchiveEndingAt(qor_pe::ImageFile& f, uint64_t end, uint64_t* headerOffset) {
    uint8_t tail[4];
    if (end < sizeof tail || end > kMaxArchivePosition ||
        !qor_pe::ReadInside(f, end - sizeof tail, tail, sizeof tail))
        return false;
    const uint32_t length = Get32(tail);
    if (length < kTrailerLength || length >= end) return false;
    *headerOffset = end - length;
    return true;
}

bool HeaderAt(qor_pe::ImageFile& f, uint64_t position) {
    uint8_t head[kHeadLength];
    return qor_pe::ReadInside(f, position, head, sizeof head) &&
           Get32(head + kHeadOffLength) == kHeaderLength && head[kHeadOffType] == kTypeHeader;
}

// Before a certificate table the archive must be whole to count: a header at
// its start and a trailer whose repeated length stands where it belongs.
bool WholeArchiveEndingAt(qor_pe::ImageFile& f, uint64_t end, uint64_t* headerOffset) {
    uint8_t repeat[4];
    return ArchiveEndingAt(f, end, headerOffset) && HeaderAt(f, *headerOffset) &&
           qor_pe::ReadInside(f, end - kTrailerTailBytes, repeat, sizeof repeat) &&
           Get32(repeat) == kTrailerLength;
}

}  // namespace

bool LocateArchive(uint64_t fileSize, ReadAt read, void* context, ArchiveLocation* out) {
    std::memset(out, 0, sizeof *out);
    out->end = fileSize;
    qor_pe::ImageFile f = qor_pe::MakeImageFile(fileSize, read, context);
    out->hasSignature = FindCertificateTable(f, &out->signatureOffset, &out->signatureDirectory);
    if (out->hasSignature) {
        // Signing pads the file with zero bytes up to the table's alignment.
        for (uint32_t pad = 0; pad < kTableAlignment && pad <= out->signatureOffset; ++pad) {
            uint8_t b = 0;
            if (pad > 0 && (!qor_pe::ReadInside(f, out->signatureOffset - pad, &b, 1) || b != 0))
                break;
            if (WholeArchiveEndingAt(f, out->signatureOffset - pad, &out->headerOffset)) {
                out->end = out->signatureOffset - pad;
                out->appended = true;
                break;
            }
        }
    }
    if (!out->appended) {
        out->headerOffset = 0;
        out->appended = ArchiveEndingAt(f, fileSize, &out->headerOffset);
    }
    out->hasHeader = HeaderAt(f, out->headerOffset);
    return !f.failed;
}

}  // namespace qzf_format
