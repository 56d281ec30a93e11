// ArchiveLocator.h: where the archive of a file starts. One rule for the
// setup that reads its own payload, the packaging tool and the tests.
//
// A file that ends with an appended archive holds the archive's length in its
// last 4 bytes (the trailer's archive length field), so the archive starts at
// file size - length. Where that does not give a place inside the file, the
// file is taken as a stand-alone archive starting at 0 (or as no archive).
#pragma once

#include <cstdint>

namespace qzf_format {

// Reads exactly n bytes at position of the file; false when it cannot.
typedef bool (*ReadAt)(void* context, uint64_t position, void* buffer, uint32_t n);

struct ArchiveLocation {
    uint64_t headerOffset;  // where the archive starts; 0 when nothing is appended
    bool appended;          // the last 4 bytes give a length that places an archive after a host
    bool hasHeader;         // a header record begins at headerOffset
};

// Applies the rule to a file of fileSize bytes read through read(context, ...).
// An appended archive needs a length of at least a trailer's, below the file
// size, in a file whose positions fit 32 bits. False only when a read fails.
bool LocateArchive(uint64_t fileSize, ReadAt read, void* context, ArchiveLocation* out);

// The same for the file at path, read through the engine's file layer. False
// when it cannot be opened or read.
bool LocateArchiveInFile(const char* path, ArchiveLocation* out);

}  // namespace qzf_format
