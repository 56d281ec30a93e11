#include "Stamp.h"

#include <algorithm>
#include <cstring>

#include "FileOps.h"
#include "contract/PeImage.h"
#include "archive/ArchiveLocator.h"
#include "contract/StampedSlots.h"

namespace qorpack {

namespace {
// The slots as contract/StampedSlots.h describes them, in the tool's types.
constexpr SlotSpec SlotAt(int i) {
    return {kStampedSlots[i].marker, static_cast<unsigned>(kStampedSlots[i].capacity),
            static_cast<unsigned>(kStampedSlots[i].offset)};
}
constexpr SlotSpec kSlots[kSlotCount] = {SlotAt(0), SlotAt(1), SlotAt(2), SlotAt(3),
                                         SlotAt(4), SlotAt(5), SlotAt(6)};
static_assert(kSlotCount == 7, "one SlotAt(i) a slot");

// Slot content as a string bounded by its capacity (a slot without a zero byte
// is taken up to its capacity, never beyond).
std::string SlotText(const unsigned char* block, int i) {
    const char* p = reinterpret_cast<const char*>(block + kSlots[i].offset);
    size_t n = 0;
    while (n < kSlots[i].capacity && p[n]) ++n;
    return std::string(p, n);
}
}  // namespace

const SlotSpec& GetSlotSpec(int index) { return kSlots[index]; }

int FindSlotByMarker(const std::string& marker) {
    for (int i = 0; i < kSlotCount; ++i)
        if (marker == kSlots[i].marker) return i;
    return -1;
}

static std::string MarkerList() {
    std::string s;
    for (int i = 0; i < kSlotCount; ++i) {
        if (i) s += ", ";
        s += kSlots[i].marker;
    }
    return s;
}

bool ParseSlotAssignment(const std::string& arg, SlotAssignment* out, std::string* error) {
    size_t eq = arg.find('=');
    if (eq == std::string::npos) {
        *error = "slot assignment '" + arg + "' has no '=': expected MARKER=VALUE";
        return false;
    }
    std::string marker = arg.substr(0, eq);
    if (marker.empty()) {
        *error = "slot assignment '" + arg + "' names no marker; markers are " + MarkerList();
        return false;
    }
    int slot = FindSlotByMarker(marker);
    if (slot < 0) {
        *error = "unknown slot marker '" + marker + "'; markers are " + MarkerList();
        return false;
    }
    std::string value = arg.substr(eq + 1);
    if (value.size() > kSlots[slot].capacity - 1) {
        *error = "value for " + marker + " is " + std::to_string(value.size()) +
                 " bytes long; the slot holds at most " +
                 std::to_string(kSlots[slot].capacity - 1) + " bytes";
        return false;
    }
    out->slot = slot;
    out->value = value;
    return true;
}

bool CheckSlotAssignments(const std::vector<SlotAssignment>& list, std::string* error) {
    bool seen[kSlotCount] = {};
    for (const SlotAssignment& a : list) {
        if (a.slot < 0 || a.slot >= kSlotCount) {
            *error = "slot assignment without a marker";
            return false;
        }
        if (a.value.size() > kSlots[a.slot].capacity - 1 ||
            memchr(a.value.data(), 0, a.value.size())) {
            *error = std::string("value for ") + kSlots[a.slot].marker + " does not fit its slot";
            return false;
        }
        if (seen[a.slot]) {
            *error = std::string("slot ") + kSlots[a.slot].marker + " is given twice";
            return false;
        }
        seen[a.slot] = true;
    }
    return true;
}

bool IsWellFormedBlock(const unsigned char* block) {
    for (int i = 0; i < kSlotCount; ++i) {
        const unsigned char* p = block + kSlots[i].offset;
        const unsigned char* end = p + kSlots[i].capacity;
        const unsigned char* zero = std::find(p, end, 0);
        if (zero == end) return false;
        if (std::find_if(zero, end, [](unsigned char c) { return c != 0; }) != end) return false;
    }
    return true;
}

void FindSlotBlocksInBuffer(const unsigned char* data, size_t size, uint64_t base,
                            std::vector<uint64_t>* found) {
    for (int i = 0; i < kSlotCount; ++i) {
        const char* marker = kSlots[i].marker;
        size_t len = strlen(marker);
        const unsigned char* p = data;
        const unsigned char* end = data + size;
        while (static_cast<size_t>(end - p) >= len) {
            p = std::search(p, end, marker, marker + len);
            if (p == end) break;
            size_t at = static_cast<size_t>(p - data);
            ++p;
            // The marker must fill its slot: text, then a zero byte.
            if (at < kSlots[i].offset) continue;
            size_t start = at - kSlots[i].offset;
            if (size - start < kSlotBlockSize) continue;
            if (data[at + len] != 0 || !IsWellFormedBlock(data + start)) continue;
            uint64_t pos = base + start;
            if (std::find(found->begin(), found->end(), pos) == found->end()) found->push_back(pos);
        }
    }
}

void ApplySlotAssignments(unsigned char* block, const std::vector<SlotAssignment>& list) {
    for (const SlotAssignment& a : list) {
        unsigned char* p = block + kSlots[a.slot].offset;
        memset(p, 0, kSlots[a.slot].capacity);
        memcpy(p, a.value.data(), a.value.size());
    }
}

void ReadSlotStates(const unsigned char* block, SlotState states[kSlotCount]) {
    for (int i = 0; i < kSlotCount; ++i) {
        std::string text = SlotText(block, i);
        states[i].holdsMarker = text == kSlots[i].marker;
        states[i].value = states[i].holdsMarker ? std::string() : text;
    }
}

namespace {

struct Buffer {
    const unsigned char* data;
};

bool ReadBuffer(void* context, uint64_t position, void* out, uint32_t n) {
    memcpy(out, static_cast<Buffer*>(context)->data + position, n);  // checked by qor_pe
    return true;
}

bool ReadOpenFile(void* context, uint64_t position, void* out, uint32_t n) {
    FILE* f = static_cast<FILE*>(context);
    return SeekTo(f, position) && fread(out, 1, n, f) == n;
}

}  // namespace

bool FindSlotSection(const unsigned char* head, size_t size, uint64_t limit, uint64_t* offset) {
    Buffer buffer{head};
    qor_pe::ImageFile f = qor_pe::MakeImageFile(size, ReadBuffer, &buffer);
    qor_pe::Headers h;
    uint32_t rawSize = 0, rawPosition = 0;
    if (!qor_pe::ReadHeaders(f, &h) ||
        !qor_pe::FindSection(f, h, kStampedSectionName, &rawSize, &rawPosition))
        return false;
    if (rawSize < kSlotBlockSize || static_cast<uint64_t>(rawPosition) + kSlotBlockSize > limit)
        return false;
    *offset = rawPosition;
    return true;
}

bool LocateSlotBlock(const char* path, uint64_t* offset, std::string* error) {
    FilePtr f = OpenFile(path, "rb");
    uint64_t size = 0;
    if (!f || !GetOpenFileSize(f.get(), &size)) {
        *error = std::string("cannot open '") + path + "': " + LastErrorText();
        return false;
    }
    // An appended payload is data, not part of the program: search before it.
    uint64_t archiveAt = 0;
    bool hasHeader = false;
    if (FindAppendedArchive(path, &archiveAt, &hasHeader) && hasHeader && archiveAt > 0)
        size = archiveAt;
    if (!SeekTo(f.get(), 0)) {
        *error = std::string("cannot read '") + path + "'";
        return false;
    }
    // A setup built from our stub names the block's section in its headers.
    {
        unsigned char head[4096];
        const size_t got =
            fread(head, 1, static_cast<size_t>(std::min<uint64_t>(size, sizeof head)), f.get());
        if (FindSlotSection(head, got, size, offset)) return true;
        if (!SeekTo(f.get(), 0)) {
            *error = std::string("cannot read '") + path + "'";
            return false;
        }
    }
    // Windows overlap by a whole block, so every block lies inside one window.
    constexpr size_t kChunk = 1 << 20;
    constexpr size_t kOverlap = kSlotBlockSize + 64;
    std::vector<unsigned char> buf(kChunk + kOverlap);
    std::vector<uint64_t> found;
    uint64_t base = 0;
    size_t have = 0;
    uint64_t remaining = size;
    for (;;) {
        size_t want = static_cast<size_t>(std::min<uint64_t>(buf.size() - have, remaining));
        size_t got = want ? fread(buf.data() + have, 1, want, f.get()) : 0;
        if (got != want) {
            *error = std::string("cannot read '") + path + "'";
            return false;
        }
        remaining -= got;
        have += got;
        FindSlotBlocksInBuffer(buf.data(), have, base, &found);
        if (remaining == 0) break;
        size_t keep = std::min(kOverlap, have);
        memmove(buf.data(), buf.data() + have - keep, keep);
        base += have - keep;
        have = keep;
    }
    if (found.empty()) {
        *error = std::string("'") + path +
                 "' has no configuration slots with a marker left (not a setup stub, or every "
                 "slot is stamped already: stamp a fresh copy of the stub)";
        return false;
    }
    if (found.size() > 1) {
        *error = std::string("'") + path + "' holds " + std::to_string(found.size()) +
                 " blocks of configuration slots; cannot tell which one to use";
        return false;
    }
    *offset = found[0];
    return true;
}

bool ReadBlockAt(const char* path, uint64_t offset, unsigned char* block, std::string* error) {
    FilePtr f = OpenFile(path, "rb");
    if (!f || !SeekTo(f.get(), offset) ||
        fread(block, 1, kSlotBlockSize, f.get()) != kSlotBlockSize) {
        *error = std::string("cannot read the configuration slots of '") + path + "'";
        return false;
    }
    return true;
}

bool StampFileInPlace(const char* path, const std::vector<SlotAssignment>& list,
                      std::string* error) {
    if (!CheckSlotAssignments(list, error)) return false;
    uint64_t offset = 0;
    if (!LocateSlotBlock(path, &offset, error)) return false;
    unsigned char block[kSlotBlockSize];
    if (!ReadBlockAt(path, offset, block, error)) return false;
    ApplySlotAssignments(block, list);
    FilePtr f = OpenFile(path, "r+b");
    if (!f || !SeekTo(f.get(), offset) ||
        fwrite(block, 1, kSlotBlockSize, f.get()) != kSlotBlockSize || fclose(f.release()) != 0) {
        *error = std::string("cannot write the configuration slots of '") + path + "'";
        return false;
    }
    return true;
}

bool CheckStub(const char* path, std::string* error) {
    const std::string shown = std::string("stub '") + path + "' ";
    FilePtr f = OpenFile(path, "rb");
    if (!f) {
        *error = shown + "cannot be opened: " + LastErrorText();
        return false;
    }
    uint64_t size = 0;
    qor_pe::Headers h;
    bool pe = false;
    if (GetOpenFileSize(f.get(), &size)) {
        qor_pe::ImageFile image = qor_pe::MakeImageFile(size, ReadOpenFile, f.get());
        pe = qor_pe::ReadHeaders(image, &h);
    }
    f.reset();
    if (!pe) {
        *error = shown + "is not a Windows program (no PE header); give TrovixInstall.exe";
        return false;
    }
    uint64_t block = 0;
    std::string why;
    if (!LocateSlotBlock(path, &block, &why)) {
        *error = shown + "holds no usable slot block (" + why + "); give TrovixInstall.exe";
        return false;
    }
    qzf_format::ArchiveLocation at;
    if (!qzf_format::LocateArchiveInFile(path, &at)) {
        *error = shown + "cannot be read";
        return false;
    }
    if (at.hasSignature) {
        *error = shown +
                 "is signed; the setup built from it could not keep that signature: "
                 "build from the unsigned stub and sign the setup";
        return false;
    }
    return true;
}

}  // namespace qorpack
