// Where the archive of a file lies: appended to a host, before a signed PE
// image's certificate table, and what a hostile security directory falls
// back to; how long an object keeps the end it was opened with, and that
// many objects (and threads) keep their extras apart. The locator runs on bytes in memory; every
// read is checked to lie inside the file.
#include <cstring>
#include <functional>
#include <memory>
#include <vector>
#ifdef _WIN32
#include <windows.h>
#else
#include <thread>
#endif

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

// A signed image whose archive holds `files` entries named e<i>.txt.
Image SignedImageWith(int files, uint32_t pad) {
    ArchiveBuilder a;
    a.Host(kHostSize, 0x90).Header();
    for (int i = 0; i < files; ++i)
        a.File("e" + std::to_string(i) + ".txt", "content " + std::to_string(i));
    a.Trailer();
    Image img = SignableImage();
    img.b.resize(kHostSize);
    img.b.insert(img.b.end(), a.b.begin() + kHostSize, a.b.end());
    img.archiveEnd = static_cast<uint32_t>(img.b.size());
    Sign(img, pad);
    return img;
}

// Every object keeps its own end: twenty signed setups open at once, each
// read up to its own certificate table.
TEST_F(LocatedArchiveTest, TwentySignedSetupsOpenAtOnce) {
    constexpr int kObjects = 20;
    std::vector<std::unique_ptr<QorZipFile>> open;
    for (int k = 0; k < kObjects; ++k) {
        const std::string path = P("signed" + std::to_string(k) + ".exe");
        WriteAll(path, SignedImageWith(1 + k % 4, static_cast<uint32_t>(k % 8)).b);
        ArchiveLocation at;
        ASSERT_TRUE(qzf_format::LocateArchiveInFile(path.c_str(), &at));
        ASSERT_TRUE(at.hasSignature && at.appended) << k;
        open.push_back(std::make_unique<QorZipFile>());
        ASSERT_TRUE(qzf_format::OpenLocatedArchive(*open.back(), path.c_str(), at,
                                                   QorZipFile::QZF_MODE_READ))
            << k << ": error " << open.back()->GetLastError();
    }
    for (int k = 0; k < kObjects; ++k) {
        QorZipFile& z = *open[k];
        ASSERT_EQ(z.GetNumFiles(), static_cast<unsigned long>(1 + k % 4)) << k;
        const std::string out = P("out" + std::to_string(k));
        ASSERT_TRUE(z.ExtractFile("E0.TXT", out.c_str())) << k << ": error " << z.GetLastError();
        EXPECT_EQ(ReadText(out), "content 0") << k;
    }
}

// The end belongs to the file it was located in: a later Open of any file
// reads that file whole.
TEST_F(LocatedArchiveTest, OpenAfterALocatedOpenReadsTheNextFileWhole) {
    const std::string signedPath = P("signed.exe");
    WriteAll(signedPath, SignedImageWith(1, 3).b);
    struct Case {
        const char* name;
        int files;    // entries of the second archive
        size_t host;  // bytes before it (its header offset)
    };
    const Case cases[] = {
        {"a larger stand-alone archive", 40, 0},
        {"a smaller stand-alone archive", 1, 0},
        {"an archive appended to a host", 12, 700},
    };
    for (const Case& c : cases) {
        ArchiveBuilder b;
        if (c.host) b.Host(c.host);
        b.Header();
        for (int i = 0; i < c.files; ++i) b.File("f" + std::to_string(i), std::string(300, 'x'));
        b.Trailer();
        const std::string other = P("other.qza");
        WriteAll(other, b.b);
        ArchiveLocation at;
        ASSERT_TRUE(qzf_format::LocateArchiveInFile(signedPath.c_str(), &at));
        QorZipFile z;
        ASSERT_TRUE(
            qzf_format::OpenLocatedArchive(z, signedPath.c_str(), at, QorZipFile::QZF_MODE_READ));
        z.SetHeaderOffset(static_cast<unsigned long>(c.host));
        ASSERT_TRUE(z.Open(other.c_str(), QorZipFile::QZF_MODE_READ))
            << c.name << ": error " << z.GetLastError();
        EXPECT_EQ(z.GetNumFiles(), static_cast<unsigned long>(c.files)) << c.name;
        const std::string last = "f" + std::to_string(c.files - 1);
        ASSERT_TRUE(z.ExtractFile(last.c_str(), P("last.out").c_str())) << c.name;
        EXPECT_EQ(ReadText(P("last.out")), std::string(300, 'x')) << c.name;
    }
}

// A change through a located read-write object: the file then ends with the
// archive (the signature is broken by any change), and both the object and a
// fresh locate read all of it. A change that fails leaves the signed file
// readable as before.
TEST_F(LocatedArchiveTest, ChangeThroughALocatedReadWriteObject) {
    const std::string source = P("new.txt");
    WriteText(source, "a new entry");
    enum Change { kAdd, kAddTwice, kRemove, kAddMissingSource };
    struct Case {
        const char* name;
        Change change;
        bool backup;
        bool ok;
        unsigned long count;  // entries afterwards
    };
    const Case cases[] = {
        {"add, backup", kAdd, true, true, 3},
        {"add, no backup", kAdd, false, true, 3},
        {"add twice, backup", kAddTwice, true, true, 4},
        {"add twice, no backup", kAddTwice, false, true, 4},
        {"remove, backup", kRemove, true, true, 1},
        {"remove, no backup", kRemove, false, true, 1},
        {"failed add, backup", kAddMissingSource, true, false, 2},
    };
    for (const Case& c : cases) {
        const std::string path = P("rw.exe");
        WriteAll(path, SignedImageWith(2, 3).b);
        ArchiveLocation at;
        ASSERT_TRUE(qzf_format::LocateArchiveInFile(path.c_str(), &at));
        QorZipFile z;
        z.SetUseBackupFile(c.backup);
        ASSERT_TRUE(
            qzf_format::OpenLocatedArchive(z, path.c_str(), at, QorZipFile::QZF_MODE_READWRITE))
            << c.name;
        bool ok = false;
        switch (c.change) {
            case kAdd:
                ok = z.AddFile(source.c_str(), "new.txt");
                break;
            case kAddTwice:
                ok = z.AddFile(source.c_str(), "new.txt") && z.AddFile(source.c_str(), "two.txt");
                break;
            case kRemove:
                ok = z.RemoveFile("e1.txt");
                break;
            case kAddMissingSource:
                ok = z.AddFile(P("missing.txt").c_str(), "new.txt");
                break;
        }
        EXPECT_EQ(ok, c.ok) << c.name << ": error " << z.GetLastError();
        EXPECT_EQ(z.GetNumFiles(), c.count) << c.name;
        if (c.ok) {
            // The file now ends with the archive: a plain Open reads it whole.
            ASSERT_TRUE(z.Open(nullptr, QorZipFile::QZF_MODE_READ)) << c.name;
            EXPECT_EQ(z.GetNumFiles(), c.count) << c.name;
        } else {
            // Still signed: the object read it again up to its old end.
            ASSERT_TRUE(z.IsOpen()) << c.name;
            EXPECT_TRUE(z.ExtractFile("e1.txt", P("e1.out").c_str())) << c.name;
        }
        ArchiveLocation again;
        ASSERT_TRUE(qzf_format::LocateArchiveInFile(path.c_str(), &again));
        EXPECT_EQ(again.headerOffset, kHostSize) << c.name;
        EXPECT_EQ(again.hasSignature, !c.ok) << c.name;
        QorZipFile fresh;
        ASSERT_TRUE(
            qzf_format::OpenLocatedArchive(fresh, path.c_str(), again, QorZipFile::QZF_MODE_READ))
            << c.name << ": error " << fresh.GetLastError();
        EXPECT_EQ(fresh.GetNumFiles(), c.count) << c.name;
        const char* check = c.change == kAdd || c.change == kAddTwice ? "new.txt" : "e0.txt";
        ASSERT_TRUE(fresh.ExtractFile(check, P("check.out").c_str())) << c.name;
        EXPECT_EQ(ReadText(P("check.out")),
                  c.change == kAdd || c.change == kAddTwice ? "a new entry" : "content 0")
            << c.name;
    }
}

// Name look-ups of many objects at once, each with a table large enough to
// be indexed, and of one object from two threads at once.
TEST_F(LocatedArchiveTest, SeventyIndexedObjectsAtOnce) {
    constexpr int kObjects = 70, kKinds = 5, kEntries = 40;
    for (int kind = 0; kind < kKinds; ++kind) {
        ArchiveBuilder b;
        b.Header();
        for (int i = 0; i < kEntries; ++i)
            b.File("k" + std::to_string(kind) + "\\Name" + std::to_string(i), "x");
        b.Trailer();
        WriteAll(P("kind" + std::to_string(kind) + ".qza"), b.b);
    }
    std::vector<std::unique_ptr<QorZipFile>> open;
    for (int k = 0; k < kObjects; ++k) {
        const std::string path = P("kind" + std::to_string(k % kKinds) + ".qza");
        open.push_back(std::make_unique<QorZipFile>(path.c_str()));
        ASSERT_TRUE(open.back()->IsOpen()) << k;
    }
    for (int round = 0; round < 2; ++round) {
        for (int k = 0; k < kObjects; ++k) {
            QorZipFile& z = *open[k];
            for (int i = 0; i < kEntries; i += 7) {
                const std::string own =
                    "K" + std::to_string(k % kKinds) + "\\name" + std::to_string(i);
                const std::string other =
                    "k" + std::to_string((k + 1) % kKinds) + "\\Name" + std::to_string(i);
                EXPECT_EQ(z.GetFileIndex(own.c_str()), static_cast<unsigned long>(i)) << k;
                EXPECT_EQ(z.GetFileIndex(other.c_str()), 0xFFFFFFFFul) << k;
            }
        }
        // Objects going away while others stay: the rest keep their answers.
        for (int k = 0; k < kObjects; k += 3) open[k].reset();
        for (int k = 0; k < kObjects; k += 3)
            open[k] = std::make_unique<QorZipFile>(
                P("kind" + std::to_string(k % kKinds) + ".qza").c_str());
    }
}

// Runs run(1) on a second thread while run(0) runs on this one (the Windows
// toolchain's library has no std::thread).
#ifdef _WIN32
// A thread procedure is WINAPI, which a lambda is not on 32-bit Windows.
DWORD WINAPI RunSecond(LPVOID p) {
    (*static_cast<const std::function<void(int)>*>(p))(1);
    return 0;
}
#endif

void RunOnTwoThreads(const std::function<void(int)>& run) {
#ifdef _WIN32
    HANDLE t = CreateThread(nullptr, 0, RunSecond, const_cast<std::function<void(int)>*>(&run), 0,
                            nullptr);
    ASSERT_NE(t, nullptr);
    run(0);
    WaitForSingleObject(t, INFINITE);
    CloseHandle(t);
#else
    std::thread other(run, 1);
    run(0);
    other.join();
#endif
}

struct ThreadCase {
    const char* name;
    bool sameObject;  // both threads look names up in one object
};

// Two threads: each reading an object of its own (look-ups and extraction),
// or both looking names up in one object whose index is built meanwhile.
TEST_F(LocatedArchiveTest, TwoThreadsReading) {
    constexpr int kEntries = 300;
    ArchiveBuilder b;
    b.Header();
    for (int i = 0; i < kEntries; ++i) b.File("dir\\file" + std::to_string(i), std::to_string(i));
    b.Trailer();
    const std::string path = P("many.qza");
    WriteAll(path, b.b);
    const ThreadCase cases[] = {{"own objects", false}, {"one object", true}};
    for (const ThreadCase& c : cases) {
        for (int attempt = 0; attempt < 5; ++attempt) {
            QorZipFile shared(path.c_str());
            QorZipFile a(path.c_str()), bObject(path.c_str());
            QorZipFile* objects[2] = {c.sameObject ? &shared : &a,
                                      c.sameObject ? &shared : &bObject};
            int wrong[2] = {0, 0};
            auto run = [&](int t) {
                QorZipFile& z = *objects[t];
                for (int i = t; i < kEntries; i += 2) {
                    const std::string name = "DIR\\FILE" + std::to_string(i);
                    if (z.GetFileIndex(name.c_str()) != static_cast<unsigned long>(i)) ++wrong[t];
                    if (!c.sameObject && i % 50 < 2) {
                        const std::string out =
                            P("t" + std::to_string(t) + "_" + std::to_string(i) + ".out");
                        if (!z.ExtractFile(name.c_str(), out.c_str()) ||
                            ReadText(out) != std::to_string(i))
                            ++wrong[t];
                    }
                }
            };
            RunOnTwoThreads(run);
            EXPECT_EQ(wrong[0] + wrong[1], 0) << c.name;
        }
    }
}

}  // namespace
