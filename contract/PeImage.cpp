// PeImage.cpp: the bounds-checked PE header reader (see PeImage.h).
#include "contract/PeImage.h"

#include <cstring>

namespace qor_pe {

namespace {

constexpr uint32_t kDosHeaderSize = 64;
constexpr uint32_t kPeOffsetField = 0x3C;   // in the DOS header
constexpr uint32_t kCoffHeaderSize = 20;    // after the 4-byte "PE\0\0"
constexpr uint32_t kCoffSectionCount = 2;   // u16, in the COFF header
constexpr uint32_t kCoffOptionalSize = 16;  // u16, in the COFF header
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint32_t kPe32DirectoryCount = 92;  // field offsets in the optional header
constexpr uint32_t kPe32PlusDirectoryCount = 108;
constexpr uint32_t kSectionNameSize = 8;
constexpr uint32_t kSectionRawSize = 16;
constexpr uint32_t kSectionRawPosition = 20;

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Get32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

bool ReadInside(ImageFile& f, uint64_t position, void* buffer, uint32_t n) {
    if (position > f.size || n > f.size - position) return false;
    if (f.read(f.context, position, buffer, n)) return true;
    f.failed = true;
    return false;
}

bool ReadHeaders(ImageFile& f, Headers* out) {
    uint8_t dos[kDosHeaderSize];
    if (!ReadInside(f, 0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return false;
    const uint64_t pe = Get32(dos + kPeOffsetField);
    uint8_t nt[4 + kCoffHeaderSize];
    if (!ReadInside(f, pe, nt, sizeof nt) || std::memcmp(nt, "PE\0\0", 4) != 0) return false;
    out->coff = pe + 4;
    out->sectionCount = Get16(nt + 4 + kCoffSectionCount);
    out->optionalSize = Get16(nt + 4 + kCoffOptionalSize);
    out->optional = out->coff + kCoffHeaderSize;
    out->sectionTable = out->optional + out->optionalSize;
    return true;
}

bool ReadDataDirectory(ImageFile& f, const Headers& h, uint32_t index, uint32_t* address,
                       uint32_t* size, uint64_t* entryPosition) {
    uint8_t magic[2];
    if (!ReadInside(f, h.optional, magic, sizeof magic)) return false;
    const uint32_t countField = Get16(magic) == kPe32Magic       ? kPe32DirectoryCount
                                : Get16(magic) == kPe32PlusMagic ? kPe32PlusDirectoryCount
                                                                 : 0;
    if (!countField) return false;
    const uint64_t entryField = countField + 4 + static_cast<uint64_t>(index) * 8;
    if (h.optionalSize < entryField + 8) return false;
    uint8_t count[4], entry[8];
    if (!ReadInside(f, h.optional + countField, count, sizeof count) || Get32(count) <= index ||
        !ReadInside(f, h.optional + entryField, entry, sizeof entry))
        return false;
    *address = Get32(entry);
    *size = Get32(entry + 4);
    *entryPosition = h.optional + entryField;
    return true;
}

bool FindSection(ImageFile& f, const Headers& h, const char (&name)[8], uint32_t* rawSize,
                 uint32_t* rawPosition) {
    for (uint32_t i = 0; i < h.sectionCount; ++i) {
        uint8_t s[kSectionHeaderSize];
        if (!ReadInside(f, h.sectionTable + static_cast<uint64_t>(i) * kSectionHeaderSize, s,
                        sizeof s))
            return false;
        if (std::memcmp(s, name, kSectionNameSize) != 0) continue;
        *rawSize = Get32(s + kSectionRawSize);
        *rawPosition = Get32(s + kSectionRawPosition);
        return true;
    }
    return false;
}

}  // namespace qor_pe
