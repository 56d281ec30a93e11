// Stamping: parsing assignments, finding the slot block in stubs that are
// fresh, partly stamped or carry decoys, and writing slots.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "FileOps.h"
#include "Stamp.h"

using namespace qorpack;

namespace {

// A fresh slot block: each marker followed by zero bytes up to its capacity.
std::vector<unsigned char> FreshBlock() {
    std::vector<unsigned char> b(kSlotBlockSize, 0);
    for (int i = 0; i < kSlotCount; ++i)
        memcpy(b.data() + GetSlotSpec(i).offset, GetSlotSpec(i).marker,
               strlen(GetSlotSpec(i).marker));
    return b;
}

// A stub-like image: code bytes, the constant copies of the markers packed as
// a compiler lays out string literals, then the slot block at `at`.
std::vector<unsigned char> Image(size_t at, size_t total) {
    std::vector<unsigned char> img(total);
    for (size_t i = 0; i < total; ++i) img[i] = static_cast<unsigned char>(i * 131 + 7);
    size_t p = 64;
    for (int i = 0; i < kSlotCount; ++i) {
        size_t n = strlen(GetSlotSpec(i).marker) + 1;
        memcpy(img.data() + p, GetSlotSpec(i).marker, n);
        p += (n + 3) & ~size_t(3);
    }
    std::vector<unsigned char> b = FreshBlock();
    memcpy(img.data() + at, b.data(), b.size());
    return img;
}

std::string TempPath(const char* name) {
    return std::string(testing::TempDir()) + "qorpack_stamp_" + name;
}

void WriteFile(const std::string& path, const std::vector<unsigned char>& bytes) {
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    fclose(f);
}

std::vector<unsigned char> ReadFile(const std::string& path) {
    std::vector<unsigned char> out;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return out;
    int c;
    while ((c = fgetc(f)) != EOF) out.push_back(static_cast<unsigned char>(c));
    fclose(f);
    return out;
}

}  // namespace

TEST(SlotAssignment, AcceptsEveryMarkerUpToCapacityMinusOne) {
    for (int i = 0; i < kSlotCount; ++i) {
        const SlotSpec& s = GetSlotSpec(i);
        SlotAssignment a;
        std::string error;
        std::string longest(s.capacity - 1, 'x');
        EXPECT_TRUE(ParseSlotAssignment(std::string(s.marker) + "=" + longest, &a, &error))
            << error;
        EXPECT_EQ(a.slot, i);
        EXPECT_EQ(a.value, longest);
        // One more character no longer fits with its terminating zero.
        EXPECT_FALSE(ParseSlotAssignment(std::string(s.marker) + "=" + longest + "x", &a, &error));
        EXPECT_NE(error.find(std::to_string(s.capacity - 1)), std::string::npos) << error;
        // Limits count bytes, and the message says so.
        EXPECT_NE(error.find(std::to_string(s.capacity) + " bytes long; the slot holds at most " +
                             std::to_string(s.capacity - 1) + " bytes"),
                  std::string::npos)
            << error;
    }
}

TEST(SlotAssignment, RefusesUnknownMissingOrMalformed) {
    SlotAssignment a;
    std::string error;
    EXPECT_FALSE(ParseSlotAssignment("TVIID_NOPE=x", &a, &error));
    EXPECT_NE(error.find("TVIID_NOPE"), std::string::npos);
    EXPECT_FALSE(ParseSlotAssignment("tviid_app_exe=x", &a, &error));  // markers are exact
    EXPECT_FALSE(ParseSlotAssignment("=value", &a, &error));
    EXPECT_FALSE(ParseSlotAssignment("TVIID_APP_EXE", &a, &error));
    // The value may itself contain '=' and may be empty.
    ASSERT_TRUE(ParseSlotAssignment("TVIID_APP_LOC_ITEM=a=b", &a, &error));
    EXPECT_EQ(a.value, "a=b");
    ASSERT_TRUE(ParseSlotAssignment("TVIID_RCV_DEF_DIR=", &a, &error));
    EXPECT_EQ(a.value, "");

    std::vector<SlotAssignment> twice(2);
    twice[0].slot = twice[1].slot = 3;
    EXPECT_FALSE(CheckSlotAssignments(twice, &error));
    EXPECT_NE(error.find("twice"), std::string::npos);
}

TEST(SlotBlock, FoundOnceDespiteConstantCopiesOfTheMarkers) {
    std::vector<unsigned char> img = Image(5000, 8192);
    std::vector<uint64_t> found;
    FindSlotBlocksInBuffer(img.data(), img.size(), 0, &found);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0], 5000u);
    // Cut short, the block is not there.
    found.clear();
    FindSlotBlocksInBuffer(img.data(), 5000 + kSlotBlockSize - 1, 0, &found);
    EXPECT_TRUE(found.empty());
}

TEST(SlotBlock, StampingRewritesOnlyTheGivenSlotsAndClearsTheirTail) {
    std::vector<unsigned char> block = FreshBlock();
    std::vector<SlotAssignment> list(2);
    list[0].slot = 0;
    list[0].value = "Game X";
    list[1].slot = 6;
    list[1].value = "";
    ApplySlotAssignments(block.data(), list);
    EXPECT_TRUE(IsWellFormedBlock(block.data()));
    SlotState st[kSlotCount];
    ReadSlotStates(block.data(), st);
    EXPECT_FALSE(st[0].holdsMarker);
    EXPECT_EQ(st[0].value, "Game X");
    EXPECT_FALSE(st[6].holdsMarker);  // an empty value is a value
    EXPECT_EQ(st[6].value, "");
    for (int i = 1; i < 6; ++i) EXPECT_TRUE(st[i].holdsMarker) << i;
    // Stamping a shorter value over a longer one leaves no trace of the old one.
    list.resize(1);
    list[0].value = "Y";
    ApplySlotAssignments(block.data(), list);
    for (unsigned i = 1; i < GetSlotSpec(0).capacity; ++i) EXPECT_EQ(block[i], 0) << i;
}

TEST(SlotBlock, MalformedSlotsAreRejected) {
    std::vector<unsigned char> block = FreshBlock();
    block[GetSlotSpec(2).offset + 63] = 'x';  // junk after the marker's zero
    EXPECT_FALSE(IsWellFormedBlock(block.data()));
    block = FreshBlock();
    memset(block.data() + GetSlotSpec(5).offset, 'x', GetSlotSpec(5).capacity);  // no zero
    EXPECT_FALSE(IsWellFormedBlock(block.data()));
}

TEST(StampFile, RestampsThroughAnySurvivingMarker) {
    std::string path = TempPath("restamp.exe");
    WriteFile(path, Image(3000, 6000));
    std::string error;
    // First stamp every slot but the last, then the last one in a second go.
    std::vector<SlotAssignment> list;
    for (int i = 0; i < kSlotCount - 1; ++i) {
        SlotAssignment a;
        a.slot = i;
        a.value = "v" + std::to_string(i);
        list.push_back(a);
    }
    ASSERT_TRUE(StampFileInPlace(path.c_str(), list, &error)) << error;
    uint64_t at = 0;
    ASSERT_TRUE(LocateSlotBlock(path.c_str(), &at, &error)) << error;
    EXPECT_EQ(at, 3000u);
    list.assign(1, SlotAssignment());
    list[0].slot = 0;
    list[0].value = "again";
    ASSERT_TRUE(StampFileInPlace(path.c_str(), list, &error)) << error;
    list[0].slot = 6;
    list[0].value = "game.exe";
    ASSERT_TRUE(StampFileInPlace(path.c_str(), list, &error)) << error;
    // With no marker left the block cannot be found again; the message says why.
    EXPECT_FALSE(LocateSlotBlock(path.c_str(), &at, &error));
    EXPECT_NE(error.find("fresh copy"), std::string::npos) << error;
    std::vector<unsigned char> img = ReadFile(path);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(img.data() + 3000)), "again");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(img.data() + 3000 + 264)), "v4");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(img.data() + 3000 + 328)), "game.exe");
    remove(path.c_str());
}

TEST(StampFile, BlockAcrossTheReadWindowIsFound) {
    // The file is read in 1 MiB windows; a block straddling the boundary counts.
    std::string path = TempPath("straddle.exe");
    size_t at = (1u << 20) - 100;
    WriteFile(path, Image(at, (3u << 20) + 17));
    uint64_t found = 0;
    std::string error;
    ASSERT_TRUE(LocateSlotBlock(path.c_str(), &found, &error)) << error;
    EXPECT_EQ(found, at);
    remove(path.c_str());
}

TEST(StampFile, TwoBlocksAreAmbiguousButAnAppendedArchiveIsNotSearched) {
    std::string path = TempPath("two.exe");
    std::vector<unsigned char> img = Image(1000, 4000);
    std::vector<unsigned char> block = FreshBlock();
    memcpy(img.data() + 3000, block.data(), block.size());
    WriteFile(path, img);
    uint64_t found = 0;
    std::string error;
    EXPECT_FALSE(LocateSlotBlock(path.c_str(), &found, &error));
    EXPECT_NE(error.find("2 blocks"), std::string::npos) << error;

    // The same second block inside an appended archive (header record at 2500,
    // stored data, archive length in the last 4 bytes) is payload, not program.
    img[2500] = 9;
    img[2501] = img[2502] = img[2503] = 0;
    img[2504] = 1;
    uint32_t len = 4000 - 2500;
    for (int i = 0; i < 4; ++i) img[3996 + i] = static_cast<unsigned char>(len >> (8 * i));
    WriteFile(path, img);
    ASSERT_TRUE(LocateSlotBlock(path.c_str(), &found, &error)) << error;
    EXPECT_EQ(found, 1000u);
    remove(path.c_str());
}

namespace {

// A minimal PE file: DOS header, "PE\0\0", a file header with two sections and
// a 224-byte optional header, then the section table; the ".qorcfg" section's
// data (a fresh block) starts at `at`. The bytes in between are left zero.
std::vector<unsigned char> PeImage(uint32_t at, size_t total) {
    std::vector<unsigned char> img(total, 0);
    auto put16 = [&](size_t p, uint32_t v) {
        img[p] = static_cast<unsigned char>(v);
        img[p + 1] = static_cast<unsigned char>(v >> 8);
    };
    auto put32 = [&](size_t p, uint32_t v) {
        put16(p, v & 0xFFFF);
        put16(p + 2, v >> 16);
    };
    img[0] = 'M';
    img[1] = 'Z';
    const size_t pe = 0x80;
    put32(0x3c, pe);
    memcpy(img.data() + pe, "PE\0\0", 4);
    put16(pe + 6, 2);
    put16(pe + 20, 224);
    const size_t table = pe + 24 + 224;
    memcpy(img.data() + table, ".data\0\0\0", 8);
    put32(table + 16, 512);
    put32(table + 20, 0x400);
    memcpy(img.data() + table + 40, kStampedSectionName, 8);
    put32(table + 40 + 16, 512);
    put32(table + 40 + 20, at);
    std::vector<unsigned char> b = FreshBlock();
    memcpy(img.data() + at, b.data(), b.size());
    return img;
}

}  // namespace

TEST(StampFile, SlotSectionLocatesTheBlockEvenWithEverySlotStamped) {
    std::string path = TempPath("section.exe");
    WriteFile(path, PeImage(0x800, 0x1000));
    std::vector<SlotAssignment> all;
    for (int i = 0; i < kSlotCount; ++i) {
        SlotAssignment a;
        a.slot = i;
        a.value = "s" + std::to_string(i);
        all.push_back(a);
    }
    std::string error;
    ASSERT_TRUE(StampFileInPlace(path.c_str(), all, &error)) << error;
    uint64_t at = 0;
    ASSERT_TRUE(LocateSlotBlock(path.c_str(), &at, &error)) << error;
    EXPECT_EQ(at, 0x800u);
    // No marker is left, yet the block can be read and stamped again.
    all.resize(1);
    all[0].value = "again";
    ASSERT_TRUE(StampFileInPlace(path.c_str(), all, &error)) << error;
    unsigned char block[kSlotBlockSize];
    ASSERT_TRUE(ReadBlockAt(path.c_str(), at, block, &error)) << error;
    SlotState st[kSlotCount];
    ReadSlotStates(block, st);
    EXPECT_EQ(st[0].value, "again");
    EXPECT_EQ(st[6].value, "s6");
    for (int i = 0; i < kSlotCount; ++i) EXPECT_FALSE(st[i].holdsMarker) << i;
    remove(path.c_str());
}

TEST(StampFile, SlotSectionHeadersAreReadWithinBounds) {
    std::vector<unsigned char> img = PeImage(0x800, 0x1000);
    uint64_t at = 0;
    ASSERT_TRUE(FindSlotSection(img.data(), img.size(), img.size(), &at));
    EXPECT_EQ(at, 0x800u);
    // The section's data must hold a whole block before the limit (the
    // appended archive or the end of the file).
    EXPECT_FALSE(FindSlotSection(img.data(), img.size(), 0x800 + kSlotBlockSize - 1, &at));
    // A section table cut off by the end of the buffer, a PE offset beyond it,
    // or no "MZ": not found, nothing read past the end.
    const size_t table = 0x80 + 24 + 224;
    EXPECT_FALSE(FindSlotSection(img.data(), table + 40 + 39, img.size(), &at));
    std::vector<unsigned char> bad = img;
    bad[0x3c] = 0xF0;
    bad[0x3d] = 0xFF;
    EXPECT_FALSE(FindSlotSection(bad.data(), bad.size(), bad.size(), &at));
    bad = img;
    bad[0] = 'X';
    EXPECT_FALSE(FindSlotSection(bad.data(), bad.size(), bad.size(), &at));
    // Without the section, the marker search still finds the fresh block.
    bad = img;
    bad[table + 40 + 1] = 'x';
    EXPECT_FALSE(FindSlotSection(bad.data(), bad.size(), bad.size(), &at));
    std::string path = TempPath("nosection.exe");
    WriteFile(path, bad);
    std::string error;
    ASSERT_TRUE(LocateSlotBlock(path.c_str(), &at, &error)) << error;
    EXPECT_EQ(at, 0x800u);
    remove(path.c_str());
}

namespace {

void Put32(std::vector<unsigned char>* b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) (*b)[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

// The smallest PE32 headers (no sections, 16 data directories) padded to
// 0x200 bytes, followed by `body`; with `certificate`, a 16-byte certificate
// table ends the file and the security directory names it.
std::vector<unsigned char> PeFile(const std::vector<unsigned char>& body, bool certificate) {
    const size_t headers = 0x200, table = certificate ? 16 : 0;
    std::vector<unsigned char> f(headers + body.size() + table, 0);
    f[0] = 'M';
    f[1] = 'Z';
    Put32(&f, 0x3C, 64);
    Put32(&f, 64, 0x00004550);  // "PE\0\0"
    f[68] = 0x4C;               // i386
    f[68 + 1] = 0x01;
    f[68 + 16] = 224;  // optional header size
    const size_t optional = 64 + 4 + 20;
    f[optional] = 0x0B;  // PE32 magic
    f[optional + 1] = 0x01;
    Put32(&f, optional + 92, 16);  // data directories
    std::copy(body.begin(), body.end(), f.begin() + headers);
    if (certificate) {
        const size_t at = headers + body.size();
        Put32(&f, optional + 96 + 4 * 8, static_cast<uint32_t>(at));
        Put32(&f, optional + 96 + 4 * 8 + 4, static_cast<uint32_t>(table));
        Put32(&f, at, static_cast<uint32_t>(table));  // the table's own length
    }
    return f;
}

}  // namespace

TEST(CheckStub, APeImageWithTheSlotBlockAndNoSignature) {
    std::vector<unsigned char> text(5000, 'x'), noBlock(6000, 0x90);
    text[0] = 'M';  // "MZ" and nothing more of a PE image
    text[1] = 'Z';
    struct Case {
        const char* what;
        std::vector<unsigned char> bytes;
        const char* error;  // null: accepted
    } cases[] = {
        {"text", std::vector<unsigned char>(100, 'a'), "not a Windows program"},
        {"MZ only", text, "not a Windows program"},
        {"PE without slot block", PeFile(noBlock, false), "no usable slot block"},
        {"signed PE with slot block", PeFile(Image(3000, 6000), true), "is signed"},
        {"PE with slot block", PeFile(Image(3000, 6000), false), nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = TempPath("stubcheck.exe");
        WriteFile(path, c.bytes);
        std::string error;
        EXPECT_EQ(CheckStub(path.c_str(), &error), c.error == nullptr) << error;
        if (c.error) {
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
        }
        remove(path.c_str());
    }
}
