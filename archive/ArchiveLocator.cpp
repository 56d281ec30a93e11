// ArchiveLocator.cpp: locating (contract/ArchiveLocation.h) and opening the
// archive of a file on disk.
#include "archive/ArchiveLocator.h"

#include <cstring>

#include "archive/FileLayer.h"
#include "archive/QzfInternal.h"

namespace qzf_format {

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
