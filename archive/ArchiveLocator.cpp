// ArchiveLocator.cpp: the appended-archive rule (see ArchiveLocator.h).
#include "archive/ArchiveLocator.h"

#include "archive/ArchiveFormat.h"
#include "archive/FileLayer.h"

namespace qzf_format {

bool LocateArchive(uint64_t fileSize, ReadAt read, void* context, ArchiveLocation* out) {
    out->headerOffset = 0;
    out->appended = false;
    out->hasHeader = false;
    if (fileSize >= 4) {
        uint8_t tail[4];
        if (!read(context, fileSize - 4, tail, sizeof tail)) return false;
        const uint32_t length = Get32(tail);
        // Archive positions are 32-bit: a larger host file cannot carry one.
        if (fileSize <= 0xFFFFFFFFu && length >= kTrailerLength && length < fileSize) {
            out->headerOffset = fileSize - length;
            out->appended = true;
        }
    }
    uint8_t head[kHeadLength];
    out->hasHeader = fileSize - out->headerOffset >= kHeadLength &&
                     read(context, out->headerOffset, head, sizeof head) &&
                     Get32(head + kHeadOffLength) == kHeaderLength &&
                     head[kHeadOffType] == kTypeHeader;
    return true;
}

namespace {

bool ReadFromFile(void* context, uint64_t position, void* buffer, uint32_t n) {
    qfl::File f = static_cast<qfl::File>(context);
    uint32_t got = 0;
    return qfl::Seek(f, position) && qfl::Read(f, buffer, n, &got) && got == n;
}

}  // namespace

bool LocateArchiveInFile(const char* path, ArchiveLocation* out) {
    qfl::FileOwner f(qfl::Open(path, qfl::kOpenExistingRead));
    uint64_t size = 0;
    if (!f.Valid() || !qfl::Size(f.Get(), &size)) return false;
    return LocateArchive(size, ReadFromFile, f.Get(), out);
}

}  // namespace qzf_format
