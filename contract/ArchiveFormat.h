// ArchiveFormat.h: the bytes of an archive. One header for the reader, the
// writer and the tests, so the three can never disagree about a field.
//
//   host file (optional, e.g. the setup executable)
//   +--------------------------------------------+ 0
//   | anything                                   |
//   +============================================+ header offset  (archive start)
//   | header record   len=9  type=1  version u32 |
//   +--------------------------------------------+
//   | entry record    len=26+n type=2            |  repeated for every entry,
//   |   compressed u32, uncompressed u32,        |  in directory order
//   |   time low u32, time high u32, attr u32,   |
//   |   name[n] '\0'                             |
//   | gzip data       `compressed` bytes         |
//   +--------------------------------------------+
//   | trailer record  len=21 type=3              |  last bytes of the file
//   |   count u32, total size u32, len=21 u32,   |
//   |   archive length u32                       |
//   +--------------------------------------------+ end of file
//
//   header offset = file size - (last 4 bytes of the file)
//
// Every record starts with a 5-byte head: u32 length (head included, not the
// data after an entry record) and u8 type. Types 4..255 are skipped by their
// length; 0 is invalid. Integers are little-endian, unaligned, unpadded. No
// record stores an absolute position, so an archive can be copied as one block
// to any offset.
#pragma once

#include <cstdint>
#include <cstring>

namespace qzf_format {

// Record types.
constexpr uint8_t kTypeInvalid = 0;
constexpr uint8_t kTypeHeader = 1;
constexpr uint8_t kTypeEntry = 2;
constexpr uint8_t kTypeTrailer = 3;

// Record head: u32 length, u8 type.
constexpr uint32_t kHeadLength = 5;
constexpr uint32_t kHeadOffLength = 0;
constexpr uint32_t kHeadOffType = 4;

// Header record (type 1).
constexpr uint32_t kHeaderLength = 9;
constexpr uint32_t kHeaderOffVersion = 5;
constexpr uint32_t kFormatVersion = 1;

// Entry record (type 2): fixed part, then the name and its zero byte.
constexpr uint32_t kEntryFixedLength = 25;  // bytes before the name
constexpr uint32_t kEntryMinLength = 26;    // fixed part plus an empty name's zero byte
constexpr uint32_t kEntryOffCompressed = 5;
constexpr uint32_t kEntryOffUncompressed = 9;
constexpr uint32_t kEntryOffTimeLow = 13;
constexpr uint32_t kEntryOffTimeHigh = 17;
constexpr uint32_t kEntryOffAttributes = 21;
constexpr uint32_t kEntryOffName = 25;
// Longest stored name, zero byte included, that is written or accepted. Names
// are paths; the cap keeps a hostile record from asking for a huge allocation.
constexpr uint32_t kMaxNameBytes = 32768;

// Every position in an archive (and of an archive in its file) is 32-bit.
constexpr uint64_t kMaxArchivePosition = 0xFFFFFFFFu;

// Record type the engine writes over a block it could not move out of the way
// (a failed compaction without backup): readers skip it as unknown.
constexpr uint8_t kTypeHole = 4;

// Trailer record (type 3).
constexpr uint32_t kTrailerLength = 21;
constexpr uint32_t kTrailerOffCount = 5;
constexpr uint32_t kTrailerOffTotalSize = 9;
constexpr uint32_t kTrailerOffRepeatLength = 13;  // must equal the record length
constexpr uint32_t kTrailerOffArchiveLength = 17;
constexpr uint32_t kTrailerTailBytes = 8;  // repeat length + archive length, read from the end

// The gzip header every written entry begins with: magic, deflate, no flags,
// mtime 0, no extra flags, OS byte 0x0B, whatever platform wrote it.
constexpr uint8_t kGzipHeader[10] = {0x1F, 0x8B, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0B};
constexpr uint32_t kGzipOsByteOffset = 9;
constexpr uint8_t kGzipOsByte = 0x0B;

inline void Put32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

inline uint32_t Get32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// Fills out[kHeaderLength] with a header record.
inline void BuildHeader(uint8_t* out, uint32_t version = kFormatVersion) {
    Put32(out + kHeadOffLength, kHeaderLength);
    out[kHeadOffType] = kTypeHeader;
    Put32(out + kHeaderOffVersion, version);
}

// Fills out[kEntryMinLength + nameLength] with an entry record and returns its
// length. The name is copied with its zero byte.
inline uint32_t BuildEntry(uint8_t* out, uint32_t compressed, uint32_t uncompressed,
                           uint32_t timeLow, uint32_t timeHigh, uint32_t attributes,
                           const char* name, uint32_t nameLength) {
    const uint32_t length = kEntryMinLength + nameLength;
    Put32(out + kHeadOffLength, length);
    out[kHeadOffType] = kTypeEntry;
    Put32(out + kEntryOffCompressed, compressed);
    Put32(out + kEntryOffUncompressed, uncompressed);
    Put32(out + kEntryOffTimeLow, timeLow);
    Put32(out + kEntryOffTimeHigh, timeHigh);
    Put32(out + kEntryOffAttributes, attributes);
    if (nameLength) std::memcpy(out + kEntryOffName, name, nameLength);
    out[kEntryOffName + nameLength] = 0;
    return length;
}

// Fills out[kTrailerLength] with a trailer record.
inline void BuildTrailer(uint8_t* out, uint32_t count, uint32_t totalSize, uint32_t archiveLength) {
    Put32(out + kHeadOffLength, kTrailerLength);
    out[kHeadOffType] = kTypeTrailer;
    Put32(out + kTrailerOffCount, count);
    Put32(out + kTrailerOffTotalSize, totalSize);
    Put32(out + kTrailerOffRepeatLength, kTrailerLength);
    Put32(out + kTrailerOffArchiveLength, archiveLength);
}

}  // namespace qzf_format
