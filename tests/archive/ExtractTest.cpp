// Extraction: destinations, lookups, data that is not gzip, damaged data,
// overlong paths, time stamps and the read-only policy, temporary files.
#include "ArchiveTestUtil.h"
#include "archive/QzfIndexed.h"

using namespace qzftest;
using Z = QorZipFile;

namespace {

std::string Sep() { return std::string(1, qfl::Separator()); }

class ExtractTest : public ScratchTest {
protected:
    Z z;
    void Make(const Bytes& b) {
        WriteAll(dir / "arc" / "payload.bin", b);
        ASSERT_TRUE(z.Open(P("arc/payload.bin").c_str(), Z::QZF_MODE_READ)) << z.GetLastError();
    }
    void SetUp() override {
        ScratchTest::SetUp();
        fs::create_directories(dir / "arc");
    }
};

Bytes Sample() {
    return ArchiveBuilder()
        .Header()
        .File("readme.txt", "hello")
        .File("[TROVIX]\\QorDL.exe", "MZ program")
        .File("Sub\\Deep\\data.bin", std::string(100000, 'q'))
        .Entry("stored.raw", Bytes{'p', 'l', 'a', 'i', 'n'}, 5)
        .Trailer()
        .b;
}

TEST_F(ExtractTest, DefaultDestinationIsBelowTheArchiveFolder) {
    Make(Sample());
    ASSERT_TRUE(z.ExtractFile("Sub\\Deep\\data.bin", nullptr)) << z.GetLastError();
    EXPECT_EQ(ReadText(dir / "arc" / "Sub" / "Deep" / "data.bin"), std::string(100000, 'q'));
    EXPECT_EQ(TempFilesLeft(), 0);
    // Every entry in one call, in table order.
    ASSERT_TRUE(z.ExtractFiles(0, nullptr, nullptr));
    EXPECT_EQ(ReadText(dir / "arc" / "readme.txt"), "hello");
    EXPECT_EQ(ReadText(dir / "arc" / "[TROVIX]" / "QorDL.exe"), "MZ program");
    // Data without the gzip magic comes out as stored.
    EXPECT_EQ(ReadText(dir / "arc" / "stored.raw"), "plain");
    EXPECT_EQ(TempFilesLeft(), 0);
}

TEST_F(ExtractTest, LookupByNameThenBySuffix) {
    Make(Sample());
    EXPECT_TRUE(z.ExtractFile("README.TXT", P("r.txt").c_str()));
    EXPECT_TRUE(z.ExtractFile("QorDL.exe", P("dl.exe").c_str()));
    EXPECT_EQ(ReadText(dir / "dl.exe"), "MZ program");
    EXPECT_FALSE(z.ExtractFile("nothing.txt", P("n.txt").c_str()));
    EXPECT_EQ(z.GetLastError(), QZF_ERR_NOT_FOUND);
    EXPECT_FALSE(fs::exists(dir / "n.txt"));
    EXPECT_FALSE(z.ExtractFile(nullptr, P("n.txt").c_str()));
}

TEST_F(ExtractTest, ToDirComposesDestinations) {
    Make(Sample());
    const std::string out = P("out");
    ASSERT_TRUE(z.ExtractFileToDir(out.c_str(), "readme.txt", nullptr));
    EXPECT_EQ(ReadText(dir / "out" / "readme.txt"), "hello");
    ASSERT_TRUE(z.ExtractFileToDir((out + Sep()).c_str(), "readme.txt", "copy.txt"));
    EXPECT_EQ(ReadText(dir / "out" / "copy.txt"), "hello");
    // An absolute destination name ignores the directory.
    ASSERT_TRUE(z.ExtractFileToDir(out.c_str(), "readme.txt", P("abs.txt").c_str()));
    EXPECT_TRUE(fs::exists(dir / "abs.txt"));
    ASSERT_TRUE(z.ExtractFilesToDir(P("all").c_str(), 0, nullptr));
    EXPECT_EQ(ReadText(dir / "all" / "Sub" / "Deep" / "data.bin").size(), 100000u);
    const char* names[] = {"readme.txt", "stored.raw"};
    const std::string d1 = P("n1"), d2 = P("n2");
    const char* dests[] = {d1.c_str(), d2.c_str()};
    ASSERT_TRUE(z.ExtractFiles(2, names, dests));
    EXPECT_EQ(ReadText(d2), "plain");
    // The first failure stops the list; files before it stay.
    const char* bad[] = {"readme.txt", "missing", "stored.raw"};
    ASSERT_FALSE(z.ExtractFilesToDir(P("part").c_str(), 3, bad));
    EXPECT_EQ(z.GetLastError(), QZF_ERR_NOT_FOUND);
    EXPECT_TRUE(fs::exists(dir / "part" / "readme.txt"));
    EXPECT_FALSE(fs::exists(dir / "part" / "stored.raw"));
}

TEST_F(ExtractTest, OverlongPathsFailCleanly) {
    Make(Sample());
    const std::string longDir = P(std::string(300, 'd'));
    EXPECT_FALSE(z.ExtractFileToDir(longDir.c_str(), "readme.txt", nullptr));
    EXPECT_EQ(z.GetLastError(), QZF_ERR_EXTRACT);
    EXPECT_FALSE(z.ExtractFile("readme.txt", longDir.c_str()));
    EXPECT_EQ(z.GetLastError(), QZF_ERR_EXTRACT);
    EXPECT_EQ(TempFilesLeft(), 0);
    // An archive path that does not fit is no archive name at all.
    Z y;
    EXPECT_FALSE(y.Open(longDir.c_str(), Z::QZF_MODE_READWRITE));
    EXPECT_EQ(y.GetLastError(), QZF_ERR_NO_FILE_NAME);
}

TEST_F(ExtractTest, DamagedDataFailsWithExtractError) {
    Bytes good = Gzip(std::string(5000, 'x'));
    Bytes truncated(good.begin(), good.begin() + good.size() / 2);
    Bytes badCrc = good;
    badCrc[badCrc.size() - 6] ^= 0xFF;
    Make(ArchiveBuilder()
             .Header()
             .Entry("cut", truncated, 5000)
             .Entry("crc", badCrc, 5000)
             .Entry("empty", {}, 0)
             .Trailer()
             .b);
    EXPECT_FALSE(z.ExtractFile("cut", P("cut").c_str()));
    EXPECT_EQ(z.GetLastError(), QZF_ERR_EXTRACT);
    EXPECT_FALSE(z.ExtractFile("crc", P("crc").c_str()));
    EXPECT_EQ(z.GetLastError(), QZF_ERR_EXTRACT);
    EXPECT_EQ(TempFilesLeft(), 0);
    // No data at all is an empty file.
    ASSERT_TRUE(z.ExtractFile("empty", P("empty").c_str()));
    EXPECT_EQ(fs::file_size(dir / "empty"), 0u);
}

Bytes Cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes Str(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Bytes that deflate cannot shrink.
std::string Noise(size_t n) {
    std::string s(n, 0);
    uint32_t x = 99;
    for (char& c : s) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
    return s;
}

// How stored data comes out: what the gzip reader of a file makes of it.
// Plain data is copied, gzip members are joined, bytes after the last member
// that do not start another one are ignored; anything damaged fails with 16
// and leaves the part written so far.
TEST_F(ExtractTest, GzipStreamCases) {
    const std::string big = Noise(300000), text(5000, 'x');
    const Bytes one = Gzip(text), large = Gzip(big);
    Bytes badCrc = one, badLength = one, badData = large, badCrcLarge = large;
    badCrc[badCrc.size() - 6] ^= 0xFF;
    badLength[badLength.size() - 2] ^= 0x01;
    badData[10] |= 0x06;  // block type 3, which does not exist
    badCrcLarge[badCrcLarge.size() - 8] ^= 0x01;
    struct Case {
        const char* name;
        Bytes data;
        bool ok;
        std::string content;  // all of it on success; on failure what was written is a prefix
    } cases[] = {
        {"plain data", Str("plain, not gzip"), true, "plain, not gzip"},
        {"plain one byte 1F", Bytes{0x1F}, true, "\x1F"},
        {"plain starting 1F",
         Str("\x1F"
             "abc"),
         true,
         "\x1F"
         "abc"},
        {"empty entry", {}, true, ""},
        {"empty member", Gzip(""), true, ""},
        {"one member", one, true, text},
        {"large member", large, true, big},
        {"two members", Cat(Gzip("first "), Gzip("second")), true, "first second"},
        {"three with an empty one", Cat(Cat(Gzip("a"), Gzip("")), large), true, "a" + big},
        {"trailing garbage", Cat(one, Str(std::string("garbage\0\0", 9))), true, text},
        {"trailing zero byte", Cat(one, Bytes{0}), true, text},
        {"trailing 1F", Cat(one, Bytes{0x1F}), true, text},
        {"trailing plain after large", Cat(large, Str(Noise(70000))), true, big},
        {"trailing magic only", Cat(one, Bytes{0x1F, 0x8B}), false, text},
        {"trailing bad header", Cat(one, Bytes{0x1F, 0x8B, 0x07, 0, 0, 0, 0, 0, 0, 0}), false,
         text},
        {"truncated", Bytes(one.begin(), one.begin() + one.size() / 2), false, text},
        {"truncated large", Bytes(large.begin(), large.begin() + large.size() / 2), false, big},
        {"truncated in trailer", Bytes(one.begin(), one.end() - 3), false, text},
        {"header only", Bytes(one.begin(), one.begin() + 10), false, text},
        {"bad crc", badCrc, false, text},
        {"bad crc large", badCrcLarge, false, big},
        {"bad length", badLength, false, text},
        {"bad deflate data", badData, false, big},
        {"bad second member", Cat(one, badCrc), false, text + text},
    };
    ArchiveBuilder b;
    b.Header();
    for (const Case& c : cases) b.Entry(c.name, c.data, static_cast<uint32_t>(c.content.size()));
    Make(b.Trailer().b);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string dest = P("out.bin");
        WriteText(dest, "an older file of that name");
        EXPECT_EQ(z.ExtractFile(c.name, dest.c_str()), c.ok);
        EXPECT_EQ(z.GetLastError(), c.ok ? QZF_ERR_NONE : QZF_ERR_EXTRACT);
        ASSERT_TRUE(fs::exists(dest));
        const std::string got = ReadText(dest);
        if (c.ok)
            EXPECT_TRUE(got == c.content) << got.size() << " bytes, not " << c.content.size();
        else
            EXPECT_TRUE(got.size() <= c.content.size() &&
                        c.content.compare(0, got.size(), got) == 0)
                << got.size() << " bytes";
    }
    EXPECT_EQ(TempFilesLeft(), 0);
}

// A gzip member of `zeros` zero bytes, made of one deflated 64 MiB run
// repeated: each run refers only to itself, so 4 GiB of content costs about
// 4 MB of data and no 4 GiB of work. Its CRC and ISIZE are right.
Bytes ZeroMember(uint64_t zeros) {
    constexpr uInt kRun = 64u << 20;
    const Bytes nothing(kRun, 0);
    auto deflateRaw = [&](uInt n, int flush) {
        z_stream z{};
        deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
        Bytes out(deflateBound(&z, n) + 64);
        z.next_in = const_cast<Bytef*>(nothing.data());
        z.avail_in = n;
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        deflate(&z, flush);
        out.resize(z.total_out);
        deflateEnd(&z);
        return out;
    };
    Bytes m = {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 0, qzf_format::kGzipOsByte};
    const Bytes run = deflateRaw(kRun, Z_SYNC_FLUSH);  // byte-aligned, not the last block
    const uLong runCrc = crc32(0, nothing.data(), kRun);
    uLong crc = crc32(0, nullptr, 0);
    for (uint64_t i = 0; i < zeros / kRun; ++i) {
        m.insert(m.end(), run.begin(), run.end());
        crc = crc32_combine(crc, runCrc, kRun);
    }
    const uInt rest = static_cast<uInt>(zeros % kRun);
    const Bytes last = deflateRaw(rest, Z_FINISH);
    m.insert(m.end(), last.begin(), last.end());
    crc = crc32_combine(crc, crc32(0, nothing.data(), rest), rest);
    uint8_t tail[8];
    qzf_format::Put32(tail, static_cast<uint32_t>(crc));
    qzf_format::Put32(tail + 4, static_cast<uint32_t>(zeros));  // ISIZE: modulo 2^32
    m.insert(m.end(), tail, tail + 8);
    return m;
}

struct Counted {
    uint64_t bytes = 0, limit = 0;
    int status = -1;
};

// Counts what InflateEntry hands out; refuses past the limit, so a decoder
// that does not stop ends the test quickly instead of filling the disk.
bool CountPiece(void* context, int status, const uint8_t*, uint32_t n) {
    auto* c = static_cast<Counted*>(context);
    c->status = status;
    if (status == kQzfPieceMore || status == kQzfPieceEnd) c->bytes += n;
    return c->bytes <= c->limit;
}

// Content must be exactly the recorded size: the gzip length only agrees
// with it modulo 2^32, so decoding stops one byte past the recorded size and
// calls the entry damaged, for the setup's read-ahead (InflateEntry) and for
// ExtractFile alike; nothing past the recorded size is ever handed out.
TEST_F(ExtractTest, ContentMustBeItsRecordedSize) {
    const uint64_t k64MiB = 64u << 20;
    struct Case {
        const char* name;
        Bytes data;
        uint32_t recorded;
        bool ok;
        bool extractToo;  // also through ExtractFile (not for 4 GiB)
    } cases[] = {
        {"64 MiB of zeros", ZeroMember(k64MiB), static_cast<uint32_t>(k64MiB), true, true},
        {"64 MiB recorded as 10", ZeroMember(k64MiB), 10, false, true},
        {"4 GiB + 10, ISIZE 10", ZeroMember((1ull << 32) + 10), 10, false, false},
        {"gzip shorter than recorded", Gzip("hello"), 6, false, true},
        {"gzip one byte longer", Gzip("hello"), 4, false, true},
        {"plain data longer", Str("stored as is"), 3, false, true},
        {"plain data shorter", Str("stored as is"), 13, false, true},
        {"empty entry recorded as 1", {}, 1, false, true},
        {"two members, the sum recorded", Cat(Gzip("ab"), Gzip("cd")), 4, true, true},
        {"two members, the first recorded", Cat(Gzip("ab"), Gzip("cd")), 2, false, true},
    };
    ArchiveBuilder b;
    b.Header();
    for (const Case& c : cases) b.Entry(c.name, c.data, c.recorded);
    Make(b.Trailer().b);
    std::vector<uint8_t> work(qzf_indexed::kQzfInflateWorkSize);
    for (unsigned long i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        Counted n;
        n.limit = c.recorded + (1u << 20);
        qzf_indexed::InflateNotes notes;
        ASSERT_TRUE(qzf_indexed::InflateEntry(z, qzf_indexed::Handle(z), i, work.data(), CountPiece,
                                              &n, &notes))
            << n.bytes << " bytes handed out";
        EXPECT_EQ(n.status, c.ok ? kQzfPieceEnd : kQzfPieceBadData);
        EXPECT_LE(n.bytes, c.recorded);
        EXPECT_EQ(notes.longer || notes.shorter, !c.ok);
        if (!c.extractToo) continue;
        const std::string dest = P("out.bin");
        EXPECT_EQ(z.ExtractFile(c.name, dest.c_str()), c.ok);
        EXPECT_EQ(z.GetLastError(), c.ok ? QZF_ERR_NONE : QZF_ERR_EXTRACT);
        if (fs::exists(dest)) {
            EXPECT_LE(fs::file_size(dest), c.recorded);
        }
        fs::remove(dest);
    }
    EXPECT_EQ(TempFilesLeft(), 0);
}

// Bytes after the last gzip member are ignored, as the setup ignores them,
// and counted for a checker.
TEST_F(ExtractTest, BytesAfterTheLastMemberAreCounted) {
    const struct {
        const char* name;
        Bytes data;
        uint32_t trailing;
    } cases[] = {
        {"none", Gzip("text"), 0},
        {"three bytes", Cat(Gzip("text"), Str("xyz")), 3},
        {"one zero byte", Cat(Gzip("text"), Bytes{0}), 1},
        {"after two members", Cat(Cat(Gzip("te"), Gzip("xt")), Str("12345")), 5},
        {"plain data has none", Str("text"), 0},
    };
    ArchiveBuilder b;
    b.Header();
    for (const auto& c : cases) b.Entry(c.name, c.data, 4);
    Make(b.Trailer().b);
    std::vector<uint8_t> work(qzf_indexed::kQzfInflateWorkSize);
    for (unsigned long i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        SCOPED_TRACE(cases[i].name);
        Counted n;
        n.limit = 100;
        qzf_indexed::InflateNotes notes;
        ASSERT_TRUE(qzf_indexed::InflateEntry(z, qzf_indexed::Handle(z), i, work.data(), CountPiece,
                                              &n, &notes));
        EXPECT_EQ(n.status, kQzfPieceEnd);
        EXPECT_EQ(notes.trailing, cases[i].trailing);
        // The same from bytes already in memory.
        Counted m;
        m.limit = 100;
        qzf_indexed::InflateNotes fromMemory;
        ASSERT_TRUE(qzf_indexed::InflateStored(cases[i].data.data(),
                                               static_cast<uint32_t>(cases[i].data.size()), 4,
                                               work.data(), CountPiece, &m, &fromMemory));
        EXPECT_EQ(m.status, kQzfPieceEnd);
        EXPECT_EQ(fromMemory.trailing, cases[i].trailing);
    }
}

TEST_F(ExtractTest, ClosedArchiveAnswersQueriesButCannotExtract) {
    Make(Sample());
    z.Close();
    EXPECT_EQ(z.GetNumFiles(), 4u);
    EXPECT_FALSE(z.ExtractFile("readme.txt", P("r.txt").c_str()));
    EXPECT_EQ(z.GetLastError(), QZF_ERR_READ_ARCHIVE);
    EXPECT_EQ(TempFilesLeft(), 0);
    ASSERT_TRUE(z.Open(nullptr, Z::QZF_MODE_READ));
    EXPECT_TRUE(z.ExtractFile("readme.txt", P("r.txt").c_str()));
}

TEST_F(ExtractTest, TimeStampRestoredOrNot) {
    // 2021-06-01 12:00:00 UTC as a FILETIME.
    const uint64_t ft = (1622548800ull + 11644473600ull) * 10000000ull;
    Make(ArchiveBuilder()
             .Header()
             .Entry("t.txt", Gzip("time"), 4, 0x20, static_cast<uint32_t>(ft),
                    static_cast<uint32_t>(ft >> 32))
             .Trailer()
             .b);
    ASSERT_TRUE(z.ExtractFile("t.txt", P("t1.txt").c_str()));
    qfl::FileOwner f(qfl::Open(P("t1.txt").c_str(), qfl::kOpenExistingRead));
    FILETIME got{};
    ASSERT_TRUE(qfl::GetTime(f.Get(), &got));
    EXPECT_EQ((static_cast<uint64_t>(got.dwHighDateTime) << 32) | got.dwLowDateTime, ft);
    z.SetRestoreTimeStamp(false);
    ASSERT_TRUE(z.ExtractFile("t.txt", P("t2.txt").c_str()));
    qfl::FileOwner g(qfl::Open(P("t2.txt").c_str(), qfl::kOpenExistingRead));
    ASSERT_TRUE(qfl::GetTime(g.Get(), &got));
    EXPECT_NE((static_cast<uint64_t>(got.dwHighDateTime) << 32) | got.dwLowDateTime, ft);
}

struct PromptLog {
    int calls = 0;
    bool answer = false;
    std::string text, caption;
};

bool Answer(const char* text, const char* caption, void* context) {
    auto* log = static_cast<PromptLog*>(context);
    ++log->calls;
    log->text = text;
    log->caption = caption;
    return log->answer;
}

TEST_F(ExtractTest, ReadOnlyDestinationPolicy) {
    Make(Sample());
    const std::string dest = P("ro.txt");
    auto makeReadOnly = [&] {
        qfl::SetAttributes(dest.c_str(), 0);
        WriteText(dest, "old");
        ASSERT_TRUE(qfl::SetAttributes(dest.c_str(), qfl::kAttrReadOnly));
    };
    makeReadOnly();
    z.SetExtractReadOnlyOverWrite(Z::QZF_READONLY_NEVER);
    EXPECT_FALSE(z.ExtractFile("readme.txt", dest.c_str()));
    EXPECT_EQ(z.GetLastError(), QZF_ERR_EXTRACT);
    EXPECT_EQ(ReadText(dest), "old");
    EXPECT_EQ(TempFilesLeft(), 0);

    // Asked: No keeps the file, Yes replaces it; the text names the file.
    PromptLog log;
    qfl::SetPromptCallback(Answer, &log);
    z.SetExtractReadOnlyOverWrite(Z::QZF_READONLY_PROMPT);
    EXPECT_FALSE(z.ExtractFile("readme.txt", dest.c_str()));
    EXPECT_EQ(ReadText(dest), "old");
    EXPECT_EQ(log.text, "Attempting to overwrite Read-Only file " + dest + ".  Replace?");
    EXPECT_EQ(log.caption, "Replace File?");
    log.answer = true;
    EXPECT_TRUE(z.ExtractFile("readme.txt", dest.c_str()));
    EXPECT_EQ(ReadText(dest), "hello");
    EXPECT_EQ(log.calls, 2);
    // A prompt text of the caller's replaces the built-in one; only %s is filled in.
    makeReadOnly();
    z.SetOverWritePrompt("Replace %s (100%% sure, %d)?");
    log.answer = false;
    EXPECT_FALSE(z.ExtractFile("readme.txt", dest.c_str()));
    EXPECT_EQ(log.text, "Replace " + dest + " (100% sure, %d)?");
    qfl::SetPromptCallback(nullptr, nullptr);
#ifndef _WIN32
    // Natively, with nobody to ask, the answer is No.
    makeReadOnly();
    EXPECT_FALSE(z.ExtractFile("readme.txt", dest.c_str()));
    EXPECT_EQ(ReadText(dest), "old");
#endif
    // The default policy replaces it without asking; a writable file is always replaced.
    makeReadOnly();
    z.SetExtractReadOnlyOverWrite(Z::QZF_READONLY_ALWAYS);
    EXPECT_TRUE(z.ExtractFile("readme.txt", dest.c_str()));
    EXPECT_EQ(ReadText(dest), "hello");
    z.SetExtractReadOnlyOverWrite(Z::QZF_READONLY_NEVER);
    WriteText(dest, "writable");
    EXPECT_TRUE(z.ExtractFile("readme.txt", dest.c_str()));
    EXPECT_EQ(ReadText(dest), "hello");
}

TEST_F(ExtractTest, OptionsAndDefaults) {
    Z d;
    EXPECT_TRUE(d.GetUseBackupFile());
    EXPECT_FALSE(d.GetRestoreAttributes());
    EXPECT_TRUE(d.GetRestoreTimeStamp());
    EXPECT_EQ(d.GetExtractReadOnlyOverWrite(), Z::QZF_READONLY_ALWAYS);
    EXPECT_EQ(d.GetOverWritePrompt(), nullptr);
    EXPECT_FALSE(d.IsOpen());
    EXPECT_EQ(d.GetLastError(), QZF_ERR_NONE);
    d.SetOverWritePrompt("Replace %s?");
    d.SetOverWritePrompt(nullptr);
    EXPECT_STREQ(d.GetOverWritePrompt(), "Replace %s?");
    // The path constructor opens at once; the result shows through IsOpen.
    Z c(P("nope.bin").c_str(), Z::QZF_MODE_READ);
    EXPECT_FALSE(c.IsOpen());
    EXPECT_EQ(c.GetLastError(), QZF_ERR_OPEN_FILE);
    EXPECT_EQ(std::string(c.GetFileName()), P("nope.bin"));
}

}  // namespace
