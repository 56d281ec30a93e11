// ArchiveLocator.h: where the archive of a file starts and ends. One rule
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
#pragma once

#include <cstdint>

#include "archive/QorZipFile.h"

namespace qzf_format {

// Reads exactly n bytes at position of the file; false when it cannot.
typedef bool (*ReadAt)(void* context, uint64_t position, void* buffer, uint32_t n);

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

// The same for the file at path, read through the engine's file layer. False
// when it cannot be opened or read.
bool LocateArchiveInFile(const char* path, ArchiveLocation* out);

// Opens the archive `at` describes in the file at path: header offset, and for
// a signed file an end the reader does not pass (the exported interface has
// no such setting; the object keeps it until its next Open, or until a change
// cuts the file after the archive). Fails as Open does, with its error codes.
bool OpenLocatedArchive(QorZipFile& archive, const char* path, const ArchiveLocation& at,
                        QorZipFile::QZF_MODE mode);

}  // namespace qzf_format
