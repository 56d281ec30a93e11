// The directory reader over byte-built archives: what opens, what is refused
// and with which code, and what a hostile file cannot make the reader do.
#include "ArchiveTestUtil.h"

using namespace qzftest;
using Z = QorZipFile;

namespace {

class ReaderTest : public ScratchTest {
protected:
    // Opens bytes written to a file; returns the object for inspection.
    void OpenBytes(Z& z, const Bytes& b, unsigned long offset = 0) {
        z.Close();  // Windows lets nobody write a file an archive object reads
        WriteAll(dir / "a.bin", b);
        z.SetHeaderOffset(offset);
        z.Open(P("a.bin").c_str(), Z::QZF_MODE_READ);
    }
    QZF_ERROR OpenError(const Bytes& b, unsigned long offset = 0) {
        Z z;
        OpenBytes(z, b, offset);
        EXPECT_EQ(z.IsOpen(), z.GetLastError() == QZF_ERR_NONE);
        return z.GetLastError();
    }
};

TEST_F(ReaderTest, EmptyAndMissingFiles) {
    EXPECT_EQ(OpenError({}), QZF_ERR_NONE);
    Z z;
    OpenBytes(z, {});
    EXPECT_TRUE(z.IsOpen());
    EXPECT_EQ(z.GetNumFiles(), 0u);
    // Nothing at the header offset is an empty archive too.
    EXPECT_EQ(OpenError(Bytes(100, 0xAB), 100), QZF_ERR_NONE);
    EXPECT_EQ(OpenError(Bytes(100, 0xAB), 5000), QZF_ERR_NONE);

    Z missing;
    EXPECT_FALSE(missing.Open(P("none.bin").c_str(), Z::QZF_MODE_READ));
    EXPECT_EQ(missing.GetLastError(), QZF_ERR_OPEN_FILE);
    EXPECT_FALSE(fs::exists(dir / "none.bin"));
    EXPECT_TRUE(missing.Open(P("none.bin").c_str(), Z::QZF_MODE_READWRITE));
    EXPECT_EQ(missing.GetNumFiles(), 0u);
    EXPECT_TRUE(fs::exists(dir / "none.bin"));

    Z unnamed;
    EXPECT_FALSE(unnamed.Open(nullptr, Z::QZF_MODE_READ));
    EXPECT_EQ(unnamed.GetLastError(), QZF_ERR_NO_FILE_NAME);
    EXPECT_STREQ(unnamed.GetFileName(), "");
}

TEST_F(ReaderTest, WellFormedShapesOpen) {
    EXPECT_EQ(OpenError(ArchiveBuilder().Header().Trailer().b), QZF_ERR_NONE);
    // No header record at all.
    EXPECT_EQ(OpenError(ArchiveBuilder().File("a", "x").Trailer().b), QZF_ERR_NONE);
    // Unknown types are skipped by their length, before and after entries.
    EXPECT_EQ(OpenError(ArchiveBuilder()
                            .Header()
                            .Raw(9, 7, {1, 2, 3, 4})
                            .File("a", "x")
                            .Raw(5, 255)
                            .Trailer()
                            .b),
              QZF_ERR_NONE);
    // The version is not validated; a header longer than 9 bytes is skipped over.
    EXPECT_EQ(OpenError(ArchiveBuilder().Raw(12, 1, {9, 0, 0, 0, 7, 7, 7}).Trailer().b),
              QZF_ERR_NONE);
    // A longer trailer keeps its repeated length and archive length last.
    ArchiveBuilder longTrailer;
    longTrailer.Header().File("a", "x");
    Bytes t(20, 0);
    qzf_format::Put32(t.data(), 1);
    qzf_format::Put32(t.data() + 12, 25);
    EXPECT_EQ(OpenError(longTrailer.Raw(25, 3, t).b), QZF_ERR_NONE);
    // Wrong totals and archive length are written, never validated.
    ArchiveBuilder wrongTotals;
    wrongTotals.Header().File("a", "x").Trailer();
    qzf_format::Put32(&wrongTotals.b[wrongTotals.b.size() - 12], 999);
    qzf_format::Put32(&wrongTotals.b[wrongTotals.b.size() - 4], 3);
    EXPECT_EQ(OpenError(wrongTotals.b), QZF_ERR_NONE);
}

TEST_F(ReaderTest, StructuralErrorsAreFormatErrors) {
    // Entries without a trailer; an entry after the trailer; header twice.
    EXPECT_EQ(OpenError(ArchiveBuilder().Header().File("a", "x").b), QZF_ERR_BAD_FORMAT);
    EXPECT_EQ(OpenError(ArchiveBuilder().Header().Trailer().File("a", "x").b), QZF_ERR_BAD_FORMAT);
    EXPECT_EQ(OpenError(ArchiveBuilder().Header().Header().Trailer().b), QZF_ERR_BAD_FORMAT);
    EXPECT_EQ(OpenError(ArchiveBuilder().Header().Raw(5, 0).Trailer().b), QZF_ERR_BAD_FORMAT);
    // Only a header: the last record is not a trailer.
    EXPECT_EQ(OpenError(ArchiveBuilder().Header().b), QZF_ERR_BAD_FORMAT);
    // Unknown record last.
    EXPECT_EQ(OpenError(ArchiveBuilder().Header().Trailer().Raw(5, 9).b), QZF_ERR_BAD_FORMAT);
}

TEST_F(ReaderTest, WrongCountsAndLengths) {
    ArchiveBuilder two;
    two.Header().File("a", "x").File("b", "y");
    EXPECT_EQ(OpenError(ArchiveBuilder(two).TrailerWith(1, 21).b), QZF_ERR_BAD_FORMAT);
    EXPECT_EQ(OpenError(ArchiveBuilder(two).TrailerWith(3, 21).b), QZF_ERR_BAD_FORMAT);
    EXPECT_EQ(OpenError(ArchiveBuilder(two).TrailerWith(2, 22).b), QZF_ERR_BAD_FORMAT);
    // Record lengths below the bytes already read: head, header, entry, trailer.
    EXPECT_EQ(OpenError(ArchiveBuilder().Header().Raw(4, 7).Trailer().b), QZF_ERR_BAD_FORMAT);
    EXPECT_EQ(OpenError(ArchiveBuilder().Raw(5, 1).Trailer().b), QZF_ERR_BAD_FORMAT);
    EXPECT_EQ(OpenError(ArchiveBuilder().Header().Raw(25, 2, Bytes(20, 0)).Trailer().b),
              QZF_ERR_BAD_FORMAT);
    EXPECT_EQ(OpenError(ArchiveBuilder().Header().Raw(20, 3, Bytes(15, 0)).b), QZF_ERR_BAD_FORMAT);
    // A name without its zero byte.
    ArchiveBuilder noZero;
    noZero.Header().File("abc", "x").Trailer();
    noZero.b[9 + 25 + 3] = 'd';
    EXPECT_EQ(OpenError(noZero.b), QZF_ERR_BAD_FORMAT);
    // The count is judged before the rest of the trailer is read: a wrong count
    // in a trailer cut short after it is still a format error, a right one a
    // read error.
    Bytes cutAfterCount = ArchiveBuilder(two).TrailerWith(5, 21).b;
    cutAfterCount.resize(cutAfterCount.size() - 12);
    EXPECT_EQ(OpenError(cutAfterCount), QZF_ERR_BAD_FORMAT);
    cutAfterCount = ArchiveBuilder(two).Trailer().b;
    cutAfterCount.resize(cutAfterCount.size() - 12);
    EXPECT_EQ(OpenError(cutAfterCount), QZF_ERR_READ_ARCHIVE);
    // A short record head at the end of the file is a read error.
    Bytes shortHead = ArchiveBuilder().Header().Trailer().b;
    shortHead.push_back(3);
    shortHead.push_back(0);
    EXPECT_EQ(OpenError(shortHead), QZF_ERR_READ_ARCHIVE);
}

TEST_F(ReaderTest, HostileSizesNeitherAllocateNorWrap) {
    // A 1 KB file claiming a 4 GB name: refused before any allocation.
    ArchiveBuilder huge;
    huge.Header().Raw(0xFFFFFFF0u, 2, Bytes(20, 0));
    huge.b.resize(1024, 0);
    QZF_ERROR e = OpenError(huge.b);
    EXPECT_TRUE(e == QZF_ERR_READ_ARCHIVE || e == QZF_ERR_BAD_FORMAT) << e;
    // Compressed sizes and record lengths that pass 32-bit positions.
    ArchiveBuilder wrap;
    wrap.Header().Entry("a", Bytes(4, 1), 4).Trailer();
    qzf_format::Put32(&wrap.b[9 + 5], 0xFFFFFFF0u);
    EXPECT_EQ(OpenError(wrap.b), QZF_ERR_BAD_FORMAT);
    EXPECT_EQ(OpenError(ArchiveBuilder().Header().Raw(0xFFFFFFFFu, 9).b), QZF_ERR_BAD_FORMAT);
    // Data running past the end of the file, then nothing: not a trailer last.
    ArchiveBuilder past;
    past.Header().Entry("a", Bytes(4, 1), 4);
    qzf_format::Put32(&past.b[9 + 5], 1000);
    EXPECT_EQ(OpenError(past.b), QZF_ERR_BAD_FORMAT);
    // A trailer cut short.
    Bytes cut = ArchiveBuilder().Header().Trailer().b;
    cut.resize(cut.size() - 3);
    EXPECT_EQ(OpenError(cut), QZF_ERR_READ_ARCHIVE);
}

TEST_F(ReaderTest, FailedOpenKeepsEntriesReadAndClosesHandle) {
    Z z;
    OpenBytes(z, ArchiveBuilder().Header().File("a", "x").File("b", "y").TrailerWith(5, 21).b);
    EXPECT_FALSE(z.IsOpen());
    EXPECT_EQ(z.GetLastError(), QZF_ERR_BAD_FORMAT);
    EXPECT_EQ(z.GetNumFiles(), 2u);
    EXPECT_STREQ(z.GetFileName(1), "b");
}

TEST_F(ReaderTest, QueriesAndErrorCodes) {
    Z z;
    OpenBytes(z, ArchiveBuilder()
                     .Header()
                     .Entry("[TROVIX]\\Lumen.dat", Bytes(77, 5), 54, 0x21, 0xAABBCCDD, 0x01C2)
                     .File("Sub\\Corvane.inf", "data")
                     .Trailer()
                     .b);
    ASSERT_TRUE(z.IsOpen());
    EXPECT_EQ(z.GetNumFiles(), 2u);
    EXPECT_STREQ(z.GetFileName(0ul), "[TROVIX]\\Lumen.dat");
    EXPECT_EQ(z.GetFileSize(0), 54u);
    EXPECT_EQ(z.GetFileCompressedSize(0), 77u);
    EXPECT_EQ(z.GetFileAttributesA(0), 0x21u);
    FILETIME t = z.GetFileTimeStamp(0);
    EXPECT_EQ(t.dwLowDateTime, 0xAABBCCDDu);
    EXPECT_EQ(t.dwHighDateTime, 0x01C2u);
    // A bad index: null or 0 and error 3; a good one sets 0 again.
    EXPECT_EQ(z.GetFileName(2ul), nullptr);
    EXPECT_EQ(z.GetLastError(), QZF_ERR_BAD_INDEX);
    EXPECT_EQ(z.GetFileSize(2), 0u);
    EXPECT_EQ(z.GetFileCompressedSize(99), 0u);
    EXPECT_EQ(z.GetFileAttributesA(2), 0u);
    t = z.GetFileTimeStamp(2);
    EXPECT_EQ(t.dwLowDateTime | t.dwHighDateTime, 0u);
    EXPECT_EQ(z.GetLastError(), QZF_ERR_BAD_INDEX);
    EXPECT_EQ(z.GetFileSize(1), 4u);
    EXPECT_EQ(z.GetLastError(), QZF_ERR_NONE);
    // Lookups leave the error alone.
    z.GetFileName(7ul);
    EXPECT_EQ(z.GetFileIndex("sub\\CORVANE.INF"), 1u);
    EXPECT_EQ(z.GetFileIndex("Corvane.inf"), 0xFFFFFFFFu);
    EXPECT_EQ(z.GetLastError(), QZF_ERR_BAD_INDEX);
    // Close keeps the directory.
    z.Close();
    EXPECT_FALSE(z.IsOpen());
    EXPECT_EQ(z.GetNumFiles(), 2u);
}

TEST_F(ReaderTest, SuffixLookup) {
    Z z;
    OpenBytes(z, ArchiveBuilder()
                     .Header()
                     .File("[TROVIX][InstCmd=-register][UninstCmd=-unregister]\\QorDL.exe", "1")
                     .File("[TROVIX]\\QorXfer.dll", "2")
                     .File("[TROVIX]\\a\\Lumen.dat", "3")
                     .File("[TROVIX]\\b\\Lumen.dat", "4")
                     .File("x\\aa", "5")
                     .Trailer()
                     .b);
    EXPECT_EQ(z.GetFileIndexSansPath("QorDL.exe"), 0u);
    EXPECT_EQ(z.GetFileIndexSansPath("Xfer.dll"), 1u);            // no backslash needed before it
    EXPECT_EQ(z.GetFileIndexSansPath("qordl.exe"), 0xFFFFFFFFu);  // case-sensitive
    EXPECT_EQ(z.GetFileIndexSansPath("Lumen.dat"), 0xFFFFFFFFu);  // two entries end so
    EXPECT_EQ(z.GetFileIndexSansPath("a"), 0xFFFFFFFFu);  // only the first occurrence counts
}

TEST_F(ReaderTest, TableGrowsPastHundreds) {
    ArchiveBuilder many;
    many.Header();
    for (int i = 0; i < 250; ++i)
        many.Entry(i % 100 == 50 ? "Dup" : "f" + std::to_string(i), {}, 0);
    Z z;
    OpenBytes(z, many.Trailer().b);
    ASSERT_TRUE(z.IsOpen());
    EXPECT_EQ(z.GetNumFiles(), 250u);
    EXPECT_STREQ(z.GetFileName(249ul), "f249");
    EXPECT_EQ(z.GetFileIndex("F249"), 249u);
    EXPECT_EQ(z.GetFileIndex("dUP"), 50u);  // names met twice: the first
    // Reopening a smaller archive reuses the table and resets the count.
    OpenBytes(z, ArchiveBuilder().Header().File("only", "x").Trailer().b);
    EXPECT_EQ(z.GetNumFiles(), 1u);
    EXPECT_STREQ(z.GetFileName(0ul), "only");
    EXPECT_EQ(z.GetFileIndex("f249"), 0xFFFFFFFFu);
    OpenBytes(z, many.b);
    EXPECT_EQ(z.GetFileIndex("f3"), 3u);
}

TEST_F(ReaderTest, AppendedArchiveAtOffsetAndCopiedElsewhere) {
    ArchiveBuilder a;
    a.Host(3000).Header().File("one.txt", "first").File("dir\\two.txt", "second").Trailer();
    WriteAll(dir / "host.exe", a.b);
    // Locate it from the last 4 bytes as the installer does.
    const uint32_t length = qzf_format::Get32(&a.b[a.b.size() - 4]);
    ASSERT_LT(length, a.b.size());
    const unsigned long offset = a.b.size() - length;
    EXPECT_EQ(offset, 3000u);

    Z z;
    z.SetHeaderOffset(offset);
    ASSERT_TRUE(z.Open(P("host.exe").c_str(), Z::QZF_MODE_READ));
    EXPECT_EQ(z.GetNumFiles(), 2u);
    ASSERT_TRUE(z.ExtractFile("dir\\two.txt", P("out2.txt").c_str()));
    EXPECT_EQ(ReadText(dir / "out2.txt"), "second");

    // The same bytes behind another host at another offset.
    Bytes moved(777, 0x42);
    moved.insert(moved.end(), a.b.begin() + 3000, a.b.end());
    WriteAll(dir / "other.exe", moved);
    Z y;
    y.SetHeaderOffset(777);
    ASSERT_TRUE(y.Open(P("other.exe").c_str(), Z::QZF_MODE_READ));
    ASSERT_EQ(y.GetNumFiles(), 2u);
    for (unsigned long i = 0; i < 2; ++i) {
        EXPECT_STREQ(y.GetFileName(i), z.GetFileName(i));
        EXPECT_EQ(y.GetFileCompressedSize(i), z.GetFileCompressedSize(i));
    }
    ASSERT_TRUE(y.ExtractFile("one.txt", P("out1.txt").c_str()));
    EXPECT_EQ(ReadText(dir / "out1.txt"), "first");
    // Without the offset the host bytes are read as records and refused.
    Z wrong;
    EXPECT_FALSE(wrong.Open(P("other.exe").c_str(), Z::QZF_MODE_READ));
}

}  // namespace
