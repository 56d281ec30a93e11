// Where the archive of a file lies: appended to a host, before a signed PE
// image's certificate table, and what a hostile security directory falls
// back to. The locator runs on bytes in memory; every read is checked to lie
// inside the file.
#include <cstring>
#include <functional>

#include "ArchiveTestUtil.h"
#include "archive/ArchiveLocator.h"

namespace {

using namespace qzftest;
using qzf_format::ArchiveLocation;

constexpr uint32_t kPeAt = 64;                // e_lfanew
constexpr uint32_t kOptionalAt = kPeAt + 24;  // after "PE\0\0" and COFF
constexpr uint32_t kSecurityEntryAt = kOptionalAt + 96 + 4 * 8;
constexpr uint32_t kHeadersEnd = kOptionalAt + 224 + 40;  // one section header
constexpr uint32_t kHostSize = 512;

void Put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

// A PE32 host of kHostSize bytes with an archive of one entry appended.
struct Image {
    Bytes b;
    uint32_t archiveStart = kHostSize, archiveEnd = 0;
};

Image SignableImage() {
    ArchiveBuilder a;
    a.Host(kHostSize, 0x90).Header().File("a.txt", "alpha").Trailer();
    Image img{a.b, kHostSize, static_cast<uint32_t>(a.b.size())};
    uint8_t* p = img.b.data();
    p[0] = 'M', p[1] = 'Z';
    qzf_format::Put32(p + 0x3C, kPeAt);
    std::memcpy(p + kPeAt, "PE\0\0", 4);
    Put16(p + kPeAt + 4 + 2, 1);     // sections
    Put16(p + kPeAt + 4 + 16, 224);  // optional header size
    Put16(p + kOptionalAt, 0x10B);
    qzf_format::Put32(p + kOptionalAt + 92, 16);  // data directories
    return img;
}

// Appends pad zero bytes and a certificate table, and points the security
// directory at it.
void Sign(Image& img, uint32_t pad, uint8_t padByte = 0) {
    img.b.insert(img.b.end(), pad, padByte);
    const uint32_t table = static_cast<uint32_t>(img.b.size());
    img.b.insert(img.b.end(), 64, 0xAB);
    qzf_format::Put32(img.b.data() + kSecurityEntryAt, table);
    qzf_format::Put32(img.b.data() + kSecurityEntryAt + 4, 64);
}

void SetDirectory(Image& img, uint32_t offset, uint32_t size) {
    qzf_format::Put32(img.b.data() + kSecurityEntryAt, offset);
    qzf_format::Put32(img.b.data() + kSecurityEntryAt + 4, size);
}

struct Reader {
    const Bytes* b;
    bool outside = false;
};

bool ReadBytes(void* context, uint64_t position, void* buffer, uint32_t n) {
    Reader* r = static_cast<Reader*>(context);
    if (position > r->b->size() || n > r->b->size() - position) {
        r->outside = true;
        return false;
    }
    std::memcpy(buffer, r->b->data() + position, n);
    return true;
}

struct LocateCase {
    const char* name;
    std::function<void(Image&)> make;
    bool hasSignature, appended;
    bool atArchive;  // headerOffset and end are the archive's
};

TEST(LocateArchive, SignedImagesAndHostileSecurityDirectories) {
    const uint32_t size = static_cast<uint32_t>(SignableImage().b.size());
    const LocateCase cases[] = {
        {"unsigned", [](Image&) {}, false, true, true},
        {"signed", [](Image& i) { Sign(i, 0); }, true, true, true},
        {"signed, 4 bytes of padding", [](Image& i) { Sign(i, 4); }, true, true, true},
        {"signed, 7 bytes of padding", [](Image& i) { Sign(i, 7); }, true, true, true},
        {"padding that is not zero", [](Image& i) { Sign(i, 4, 0xEE); }, true, false, false},
        {"table of size 0",
         [](Image& i) {
             Sign(i, 0);
             SetDirectory(i, i.archiveEnd, 0);
         },
         false, false, false},
        {"table past the end",
         [](Image& i) {
             Sign(i, 0);
             SetDirectory(i, i.archiveEnd, 65);
         },
         false, false, false},
        {"table not ending the file",
         [](Image& i) {
             Sign(i, 0);
             SetDirectory(i, i.archiveEnd, 63);
         },
         false, false, false},
        {"offset near 4 GiB",
         [](Image& i) {
             Sign(i, 0);
             SetDirectory(i, 0xFFFFFFF0u, 64);
         },
         false, false, false},
        {"offset inside the headers",
         [](Image& i) {
             Sign(i, 0);
             SetDirectory(i, kHeadersEnd - 8, static_cast<uint32_t>(i.b.size()) - kHeadersEnd + 8);
         },
         false, false, false},
        {"table overlapping the archive",
         [](Image& i) {
             Sign(i, 0);
             SetDirectory(i, i.archiveEnd - 10, 74);
         },
         true, false, false},
        {"unsigned, directory pointing into the archive",
         [&](Image& i) { SetDirectory(i, i.archiveStart + 4, size - i.archiveStart - 4); }, true,
         true, true},
        {"unknown optional header",
         [](Image& i) {
             Sign(i, 0);
             Put16(i.b.data() + kOptionalAt, 0x107);
         },
         false, false, false},
        {"too few data directories",
         [](Image& i) {
             Sign(i, 0);
             qzf_format::Put32(i.b.data() + kOptionalAt + 92, 4);
         },
         false, false, false},
        {"PE header past the end",
         [](Image& i) {
             Sign(i, 0);
             qzf_format::Put32(i.b.data() + 0x3C, 0xFFFFFFF0u);
         },
         false, false, false},
        {"PE header past the end, unsigned",
         [](Image& i) { qzf_format::Put32(i.b.data() + 0x3C, 0x7FFFFFFFu); }, false, true, true},
    };
    for (const LocateCase& c : cases) {
        Image img = SignableImage();
        c.make(img);
        Reader reader{&img.b};
        ArchiveLocation at;
        ASSERT_TRUE(qzf_format::LocateArchive(img.b.size(), ReadBytes, &reader, &at)) << c.name;
        EXPECT_FALSE(reader.outside) << c.name;
        EXPECT_EQ(at.hasSignature, c.hasSignature) << c.name;
        EXPECT_EQ(at.appended, c.appended) << c.name;
        EXPECT_EQ(at.hasHeader, c.atArchive) << c.name;
        if (c.atArchive) {
            EXPECT_EQ(at.headerOffset, img.archiveStart) << c.name;
            EXPECT_EQ(at.end, c.hasSignature ? img.archiveEnd : img.b.size()) << c.name;
        }
    }
    // Files too short for any of it.
    for (size_t n = 0; n < 8; ++n) {
        const Bytes b(n, 0);
        Reader reader{&b};
        ArchiveLocation at;
        EXPECT_TRUE(qzf_format::LocateArchive(n, ReadBytes, &reader, &at));
        EXPECT_FALSE(reader.outside || at.appended || at.hasHeader || at.hasSignature) << n;
    }
}

class LocatedArchiveTest : public ScratchTest {};

// The engine reads a signed file's archive only up to the certificate table.
TEST_F(LocatedArchiveTest, SignedArchiveOpensUpToItsEnd) {
    Image img = SignableImage();
    Sign(img, 3);
    const std::string path = P("signed.exe");
    WriteAll(path, img.b);
    ArchiveLocation at;
    ASSERT_TRUE(qzf_format::LocateArchiveInFile(path.c_str(), &at));
    {
        QorZipFile plain;
        plain.SetHeaderOffset(static_cast<unsigned long>(at.headerOffset));
        EXPECT_FALSE(plain.Open(path.c_str(), QorZipFile::QZF_MODE_READ));
    }
    QorZipFile z;
    ASSERT_TRUE(qzf_format::OpenLocatedArchive(z, path.c_str(), at, QorZipFile::QZF_MODE_READ))
        << z.GetLastError();
    ASSERT_EQ(z.GetNumFiles(), 1u);
    ASSERT_TRUE(z.ExtractFile("a.txt", P("a.out").c_str())) << z.GetLastError();
    EXPECT_EQ(ReadText(P("a.out")), "alpha");
}

}  // namespace
