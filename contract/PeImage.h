// PeImage.h: the few fields of a PE image (a Windows executable) that the
// programs read from files: the section table (where qorpack finds the
// stamped slots) and the data directories (a signed setup's certificate
// table, which the archive locator and qorpack's --unsign need).
//
// One reader for all of them, over a read callback. Every read is checked to
// lie inside the file before the callback is asked, and every position is
// computed in 64 bits, so a hostile header can never make a reader ask for
// bytes the file does not have.
#pragma once

#include <cstdint>

namespace qor_pe {

// Reads exactly n bytes at position of the file; false when it cannot.
typedef bool (*ReadAt)(void* context, uint64_t position, void* buffer, uint32_t n);

struct ImageFile {
    uint64_t size;
    ReadAt read;
    void* context;
    bool failed;  // a read inside the file failed: the file is unreadable
};

inline ImageFile MakeImageFile(uint64_t size, ReadAt read, void* context) {
    return ImageFile{size, read, context, false};
}

// Reads n bytes at position when they lie inside the file. False otherwise,
// and when the callback fails (which also sets f.failed).
bool ReadInside(ImageFile& f, uint64_t position, void* buffer, uint32_t n);

struct Headers {
    uint64_t coff;          // file position of the COFF header (after "PE\0\0")
    uint32_t sectionCount;  // from the COFF header
    uint32_t optionalSize;  // from the COFF header
    uint64_t optional;      // file position of the optional header
    uint64_t sectionTable;  // file position of the section table
};

// The DOS header ("MZ" and the PE header's position) and the PE signature
// with the COFF header, all inside the file. False for any other file.
bool ReadHeaders(ImageFile& f, Headers* out);

constexpr uint32_t kSecurityDirectory = 4;  // the certificate table's data directory

// Data directory `index` of a PE32 or PE32+ optional header: its address (a
// file offset for the security directory) and size, and the file position of
// the 8-byte entry. False when the optional header is of another kind or
// does not hold that entry.
bool ReadDataDirectory(ImageFile& f, const Headers& h, uint32_t index, uint32_t* address,
                       uint32_t* size, uint64_t* entryPosition);

constexpr uint32_t kSectionHeaderSize = 40;

// The first section named `name` (8 bytes as the table holds them, zero-
// padded): the size and file position of its raw data. False when no section
// has that name, or the table runs past the end of the file first.
bool FindSection(ImageFile& f, const Headers& h, const char (&name)[8], uint32_t* rawSize,
                 uint32_t* rawPosition);

}  // namespace qor_pe
