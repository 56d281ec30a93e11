// ArchiveLocation.h: where the archive of a file starts and ends. One rule
// for the setup that reads its own payload, the packaging tool and the tests.
//
// A file that ends with an appended archive holds the archive's length in its
// last 4 bytes (the trailer's archive length field), so the archive starts at
// end - length. A signed setup is a PE image whose certificate table (the
// security data directory: file offset and size) was appended after the
// archive; when that table lies inside the file and ends it, the archive ends
// where the table starts, less the zero bytes (up to 7) that align the table
// to 8 bytes. A security directory that is malformed, points outside the file
// or does not end it is ignored (the file is not signed); where no whole
// archive ends before a table that does end it, the file counts as signed but
// the last 4 bytes of the file decide, as for any other file. Where no rule
// gives a place inside the file, the file is taken as a stand-alone archive
// starting at 0 (or as no archive at all).
//
// Opening the archive found this way is the engine's (archive/ArchiveLocator.h).
#pragma once

#include <cstdint>

#include "contract/PeImage.h"

namespace qzf_format {

// Reads exactly n bytes at position of the file; false when it cannot.
using ReadAt = qor_pe::ReadAt;

struct ArchiveLocation {
    uint64_t headerOffset;        // where the archive starts; 0 when nothing is appended
    uint64_t end;                 // where it ends: the file size, or the signature's start
    bool appended;                // an archive follows a host (a program, a stub)
    bool hasHeader;               // a header record begins at headerOffset
    bool hasSignature;            // a PE certificate table ends the file
    uint64_t signatureOffset;     // where that table starts (it runs to the end)
    uint64_t signatureDirectory;  // file position of its 8-byte directory entry
};

// Applies the rule to a file of fileSize bytes read through read(context, ...),
// which is never asked for bytes outside the file. False only when a read fails.
bool LocateArchive(uint64_t fileSize, ReadAt read, void* context, ArchiveLocation* out);

}  // namespace qzf_format
