// Changing archives: the bytes of the first and later adds, replacement,
// removal and compaction, refusals that leave the file untouched, default
// names, and byte-identical output for identical sources.
#include "ArchiveTestUtil.h"
#include "archive/QzfIndexed.h"

using namespace qzftest;
using Z = QorZipFile;

namespace {

// 2020-01-02 03:04:05 UTC.
constexpr uint64_t kTime = (1577934245ull + 11644473600ull) * 10000000ull;

class ModifyTest : public ScratchTest {
protected:
    std::string arc;
    void SetUp() override {
        ScratchTest::SetUp();
        arc = P("payload.bin");
    }
    // A source file with given content and the fixed time stamp.
    std::string Source(const std::string& rel, const std::string& content) {
        fs::create_directories((dir / rel).parent_path());
        WriteText(dir / rel, content);
        qfl::FileOwner f(qfl::Open(P(rel).c_str(), qfl::kOpenExistingReadWrite));
        FILETIME t{static_cast<DWORD>(kTime), static_cast<DWORD>(kTime >> 32)};
        EXPECT_TRUE(qfl::SetTime(f.Get(), &t));
        return P(rel);
    }
    // The archive's bytes. A read-write object holds the file unshared (on
    // Windows nobody else may open it), so it is closed for the read and opened again.
    Bytes Snapshot(Z& z) {
        const bool open = z.IsOpen();
        z.Close();
        Bytes b = ReadAll(arc);
        if (open) {
            EXPECT_TRUE(z.Open(nullptr, Z::QZF_MODE_READWRITE));
        }
        return b;
    }
    // The file read afresh (z closed meanwhile, as it holds the file unshared).
    void ExpectFileContents(Z& z, const std::vector<std::pair<std::string, std::string>>& want) {
        const bool open = z.IsOpen();
        z.Close();
        {
            Z r(arc.c_str(), Z::QZF_MODE_READ);
            ASSERT_TRUE(r.IsOpen()) << r.GetLastError();
            ExpectContents(r, want);
        }
        if (open) {
            EXPECT_TRUE(z.Open(nullptr, Z::QZF_MODE_READWRITE));
        }
    }
    // Every entry must extract to the expected content.
    void ExpectContents(Z& z, const std::vector<std::pair<std::string, std::string>>& want) {
        ASSERT_EQ(z.GetNumFiles(), want.size());
        for (size_t i = 0; i < want.size(); ++i) {
            EXPECT_STREQ(z.GetFileName(static_cast<unsigned long>(i)), want[i].first.c_str());
            const std::string out = P("check.out");
            ASSERT_TRUE(z.ExtractFile(want[i].first.c_str(), out.c_str())) << z.GetLastError();
            EXPECT_EQ(ReadText(out), want[i].second);
        }
    }
};

TEST_F(ModifyTest, FirstAddWritesHeaderEntryTrailer) {
    const std::string src = Source("a.txt", "first file");
    Z z(arc.c_str(), Z::QZF_MODE_READWRITE);
    ASSERT_TRUE(z.AddFile(src.c_str(), "A.txt")) << z.GetLastError();
    const Bytes b = Snapshot(z);
    const uint32_t comp = z.GetFileCompressedSize(0);
    ASSERT_EQ(b.size(), 9u + 26 + 5 + comp + 21);
    EXPECT_EQ(qzf_format::Get32(&b[0]), 9u);
    EXPECT_EQ(b[4], 1);
    EXPECT_EQ(qzf_format::Get32(&b[5]), 1u);
    EXPECT_EQ(qzf_format::Get32(&b[9]), 31u);
    EXPECT_EQ(b[13], 2);
    EXPECT_EQ(qzf_format::Get32(&b[18]), 10u);  // uncompressed size
    EXPECT_EQ(qzf_format::Get32(&b[22]), static_cast<uint32_t>(kTime));
    EXPECT_EQ(qzf_format::Get32(&b[26]), static_cast<uint32_t>(kTime >> 32));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[34]), 6), std::string("A.txt\0", 6));
    EXPECT_TRUE(std::equal(std::begin(qzf_format::kGzipHeader), std::end(qzf_format::kGzipHeader),
                           b.begin() + 40));
    const size_t t = b.size() - 21;
    EXPECT_EQ(b[t + 4], 3);
    EXPECT_EQ(qzf_format::Get32(&b[t + 5]), 1u);
    EXPECT_EQ(qzf_format::Get32(&b[t + 9]), 10u);
    EXPECT_EQ(qzf_format::Get32(&b[t + 13]), 21u);
    EXPECT_EQ(qzf_format::Get32(&b[t + 17]), b.size());
    EXPECT_EQ(TempFilesLeft(), 0);

    // The second add starts where the trailer was and leaves the rest alone.
    const std::string src2 = Source("b.txt", "second");
    ASSERT_TRUE(z.AddFile(src2.c_str(), nullptr));
    const Bytes c = Snapshot(z);
    EXPECT_TRUE(std::equal(b.begin(), b.begin() + t, c.begin()));
    EXPECT_EQ(qzf_format::Get32(&c[t]), 26u + 5);
    EXPECT_EQ(c[t + 4], 2);
    EXPECT_EQ(qzf_format::Get32(&c[c.size() - 16]), 2u);
    ExpectFileContents(z, {{"A.txt", "first file"}, {"b.txt", "second"}});
    EXPECT_EQ(TempFilesLeft(), 0);
}

TEST_F(ModifyTest, ReplacingUnderAnotherCaseMovesToTheEnd) {
    Z z(arc.c_str(), Z::QZF_MODE_READWRITE);
    ASSERT_TRUE(z.AddFile(Source("1", "one").c_str(), "One.txt"));
    ASSERT_TRUE(z.AddFile(Source("2", "two").c_str(), "Two.txt"));
    ASSERT_TRUE(z.AddFile(Source("3", "three").c_str(), "Three.txt"));
    ASSERT_TRUE(z.AddFile(Source("4", "ONE AGAIN").c_str(), "ONE.TXT"));
    ExpectContents(z, {{"Two.txt", "two"}, {"Three.txt", "three"}, {"ONE.TXT", "ONE AGAIN"}});
    ExpectFileContents(z, {{"Two.txt", "two"}, {"Three.txt", "three"}, {"ONE.TXT", "ONE AGAIN"}});
    // Passing a stored name that points into the table itself is safe.
    ASSERT_TRUE(z.AddFile(Source("5", "two again").c_str(), z.GetFileName(0ul)));
    ExpectContents(z, {{"Three.txt", "three"}, {"ONE.TXT", "ONE AGAIN"}, {"Two.txt", "two again"}});
}

// The indexed add replaces the entry its caller names, not the first whose
// name equals in any case; names differing only by case stay apart.
TEST_F(ModifyTest, AddingReplacesTheChosenEntry) {
    const struct {
        const char* what;
        const char* name;
        uint32_t replace;
        bool ok;
        std::vector<std::pair<std::string, uint32_t>> after;  // names and sizes
    } cases[] = {
        {"the second, of exactly its name", "d.txt", 1, true, {{"D.txt", 5}, {"d.txt", 3}}},
        {"the first", "D.txt", 0, true, {{"d.txt", 4}, {"D.txt", 3}}},
        {"none",
         "d.txt",
         qzf_indexed::kQzfAddOnly,
         true,
         {{"D.txt", 5}, {"d.txt", 4}, {"d.txt", 3}}},
        {"out of range", "d.txt", 2, false, {{"D.txt", 5}, {"d.txt", 4}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(arc);
        Z z(arc.c_str(), Z::QZF_MODE_READWRITE);
        ASSERT_TRUE(z.AddFile(Source("u", "upper").c_str(), "D.txt"));
        // AddFile would replace D.txt.
        ASSERT_TRUE(qzf_indexed::AddFileReplacing(z, Source("l", "lowr").c_str(), "d.txt",
                                                  qzf_indexed::kQzfAddOnly));
        const Bytes before = Snapshot(z);
        EXPECT_EQ(qzf_indexed::AddFileReplacing(z, Source("n", "new").c_str(), c.name, c.replace),
                  c.ok);
        EXPECT_EQ(z.GetLastError(), c.ok ? QZF_ERR_NONE : QZF_ERR_BAD_INDEX);
        if (!c.ok) {
            EXPECT_EQ(Snapshot(z), before);
        }
        z.Close();
        Z r(arc.c_str(), Z::QZF_MODE_READ);
        ASSERT_EQ(r.GetNumFiles(), c.after.size());
        for (unsigned long i = 0; i < c.after.size(); ++i) {
            EXPECT_STREQ(r.GetFileName(i), c.after[i].first.c_str());
            EXPECT_EQ(r.GetFileSize(i), c.after[i].second);
        }
    }
    EXPECT_EQ(TempFilesLeft(), 0);
}

TEST_F(ModifyTest, RemovingCompactsInPlace) {
    Z z(arc.c_str(), Z::QZF_MODE_READWRITE);
    const std::string big(200000, 'b');  // more than one 16 KiB chunk to move
    const char* names[] = {"a", "b", "c", "d", "e"};
    std::string contents[] = {"aaa", big, "ccc" + big, "ddd", "eee"};
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(z.AddFile(Source(names[i], contents[i]).c_str(), names[i]));
    // Remove by index and by name, then several at once (unknown names ignored).
    ASSERT_TRUE(z.RemoveFile(1ul));
    ExpectContents(z, {{"a", "aaa"}, {"c", "ccc" + big}, {"d", "ddd"}, {"e", "eee"}});
    EXPECT_FALSE(z.RemoveFile("zzz"));
    EXPECT_EQ(z.GetLastError(), QZF_ERR_NONE);
    EXPECT_FALSE(z.RemoveFile(9ul));
    EXPECT_EQ(z.GetLastError(), QZF_ERR_BAD_INDEX);
    const char* gone[] = {"A", "nope", "d"};
    ASSERT_TRUE(z.RemoveFiles(3, gone));
    ExpectContents(z, {{"c", "ccc" + big}, {"e", "eee"}});
    ExpectFileContents(z, {{"c", "ccc" + big}, {"e", "eee"}});
    // Only unknown names: the trailer is rewritten, nothing else changes.
    const Bytes before = Snapshot(z);
    const char* unknown[] = {"x"};
    ASSERT_TRUE(z.RemoveFiles(1, unknown));
    EXPECT_EQ(Snapshot(z), before);
    EXPECT_EQ(TempFilesLeft(), 0);
}

TEST_F(ModifyTest, RemovingTheOnlyEntryLeavesHeaderAndEmptyTrailer) {
    Z z(arc.c_str(), Z::QZF_MODE_READWRITE);
    ASSERT_TRUE(z.AddFile(Source("a", "content").c_str(), "a"));
    ASSERT_TRUE(z.RemoveFile("a"));
    const Bytes b = Snapshot(z);
    ASSERT_EQ(b.size(), 30u);
    EXPECT_EQ(b[4], 1);
    EXPECT_EQ(b[9 + 4], 3);
    EXPECT_EQ(qzf_format::Get32(&b[9 + 5]), 0u);
    EXPECT_EQ(qzf_format::Get32(&b[9 + 17]), 30u);
    EXPECT_EQ(z.GetNumFiles(), 0u);
    // And the next add appends where that trailer is.
    ASSERT_TRUE(z.AddFile(Source("b", "again").c_str(), "b"));
    ExpectFileContents(z, {{"b", "again"}});
}

TEST_F(ModifyTest, ReadOnlyModeRefusesAndLeavesTheFile) {
    {
        Z w(arc.c_str(), Z::QZF_MODE_READWRITE);
        ASSERT_TRUE(w.AddFile(Source("a", "content").c_str(), "a"));
    }
    const Bytes before = ReadAll(arc);
    Z z(arc.c_str(), Z::QZF_MODE_READ);
    const std::string src = Source("b", "more");
    EXPECT_FALSE(z.AddFile(src.c_str(), nullptr));
    EXPECT_EQ(z.GetLastError(), QZF_ERR_READ_ONLY);
    EXPECT_FALSE(z.RemoveFile(0ul));
    EXPECT_EQ(z.GetLastError(), QZF_ERR_READ_ONLY);
    EXPECT_FALSE(z.RemoveFiles(0, nullptr));
    EXPECT_EQ(z.GetLastError(), QZF_ERR_READ_ONLY);
    const char* srcs[] = {src.c_str()};
    EXPECT_FALSE(z.AddFiles(1, srcs));
    EXPECT_EQ(z.GetLastError(), QZF_ERR_READ_ONLY);
    EXPECT_FALSE(z.Save());
    EXPECT_EQ(z.GetLastError(), QZF_ERR_NOT_OPEN);
    EXPECT_EQ(z.GetNumFiles(), 1u);
    EXPECT_EQ(ReadAll(arc), before);
}

TEST_F(ModifyTest, SaveNeverDestroysAnExistingArchiveOrHost) {
    ArchiveBuilder host;
    host.Host(4096, 0x5A).Header().File("kept", "data").Trailer();
    WriteAll(arc, host.b);
    Z z;
    z.SetHeaderOffset(4096);
    ASSERT_TRUE(z.Open(arc.c_str(), Z::QZF_MODE_READWRITE));
    // Entries read from the file have no source: Save refuses before writing.
    EXPECT_FALSE(z.Save());
    EXPECT_EQ(z.GetLastError(), QZF_ERR_COMPRESS);
    EXPECT_EQ(Snapshot(z), host.b);
    // A failed first add behind a host, without backup, keeps the host bytes.
    z.Close();
    WriteAll(arc, Bytes(4096, 0x5A));
    z.SetUseBackupFile(false);
    ASSERT_TRUE(z.Open(arc.c_str(), Z::QZF_MODE_READWRITE));
    EXPECT_FALSE(z.AddFile(P("missing.txt").c_str(), "m"));
    EXPECT_EQ(z.GetLastError(), QZF_ERR_COMPRESS);
    EXPECT_EQ(z.GetNumFiles(), 0u);  // the failed entry is not counted
    EXPECT_EQ(Snapshot(z), Bytes(4096, 0x5A));
    // The same add that works appends behind the host.
    ASSERT_TRUE(z.AddFile(Source("s", "payload").c_str(), "s"));
    const Bytes b = Snapshot(z);
    ASSERT_GT(b.size(), 4096u);
    EXPECT_TRUE(std::equal(b.begin(), b.begin() + 4096, Bytes(4096, 0x5A).begin()));
    EXPECT_EQ(qzf_format::Get32(&b[b.size() - 4]), b.size() - 4096);
    EXPECT_EQ(TempFilesLeft(), 0);
}

TEST_F(ModifyTest, ExplicitSaveRewritesFromSources) {
    Z z(arc.c_str(), Z::QZF_MODE_READWRITE);
    const std::string a = Source("a", std::string(50000, 'a'));
    ASSERT_TRUE(z.AddFile(a.c_str(), "a"));
    ASSERT_TRUE(z.AddFile(Source("b", "bbb").c_str(), "b"));
    // Sizes by name: reopening would read entries without their sources.
    const auto first = fs::file_size(arc);
    // A smaller source: the file is cut after the new trailer.
    Source("a", "small");
    ASSERT_TRUE(z.Save()) << z.GetLastError();
    EXPECT_LT(fs::file_size(arc), first);
    ExpectFileContents(z, {{"a", "small"}, {"b", "bbb"}});
}

TEST_F(ModifyTest, AddFilesAndRefusals) {
    Z z(arc.c_str(), Z::QZF_MODE_READWRITE);
    const std::string s1 = Source("x1.txt", "1"), s2 = Source("sub/x2.txt", "2");
    const char* srcs[] = {s1.c_str(), s2.c_str()};
    ASSERT_TRUE(z.AddFiles(2, srcs)) << z.GetLastError();
    ExpectContents(z, {{"x1.txt", "1"}, {"sub\\x2.txt", "2"}});
    EXPECT_FALSE(z.AddFile(nullptr, "empty"));
    EXPECT_EQ(z.GetNumFiles(), 2u);
    EXPECT_FALSE(z.AddFile(P("none").c_str(), nullptr));
    EXPECT_EQ(z.GetLastError(), QZF_ERR_COMPRESS);
    EXPECT_EQ(z.GetNumFiles(), 2u);
    // The rollback left the object read-only on the unchanged archive.
    EXPECT_FALSE(z.AddFile(s1.c_str(), nullptr));
    EXPECT_EQ(z.GetLastError(), QZF_ERR_READ_ONLY);
    ASSERT_TRUE(z.Open(nullptr, Z::QZF_MODE_READWRITE));
    EXPECT_FALSE(z.AddFile(s1.c_str(), std::string(40000, 'n').c_str()));
    EXPECT_EQ(z.GetLastError(), QZF_ERR_TOO_LARGE);
    ExpectFileContents(z, {{"x1.txt", "1"}, {"sub\\x2.txt", "2"}});
    EXPECT_EQ(TempFilesLeft(), 0);
}

TEST_F(ModifyTest, DefaultNames) {
    char name[260], full[260];
    Z none;
    none.GetDefFileName(P("f.txt").c_str(), name, full);
    EXPECT_EQ(std::string(full), P("f.txt"));
    std::string stored = P("f.txt");  // the full path, with backslashes as every stored name
    for (char& c : stored)
        if (c == '/') c = '\\';
    EXPECT_EQ(std::string(name), stored);
#ifdef _WIN32
    Z z;
    z.Open("C:\\A\\B\\payload.bin", Z::QZF_MODE_READ);  // the name is set even when it fails
    EXPECT_STREQ(z.GetFileName(), "C:\\A\\B\\payload.bin");
    const char* cases[][2] = {
        {"C:\\A\\B\\F.txt", "F.txt"},        {"C:\\A\\B\\S\\F.txt", "S\\F.txt"},
        {"C:\\A\\C\\F.txt", "..\\c\\F.txt"}, {"C:\\F.txt", "..\\..\\F.txt"},
        {"D:\\F.txt", "D:\\F.txt"},          {"c:\\a\\b\\Lower.txt", "Lower.txt"}};
#else
    Z z;
    z.Open("/A/B/payload.bin", Z::QZF_MODE_READ);
    EXPECT_STREQ(z.GetFileName(), "/A/B/payload.bin");
    const char* cases[][2] = {{"/A/B/F.txt", "F.txt"},        {"/A/B/S/F.txt", "S\\F.txt"},
                              {"/A/C/F.txt", "..\\C\\F.txt"}, {"/F.txt", "..\\..\\F.txt"},
                              {"D:\\F.txt", "D:\\F.txt"},     {"/A/B/S\\T/F.txt", "S\\T\\F.txt"}};
#endif
    for (auto& c : cases) {
        z.GetDefFileName(c[0], name, full);
        EXPECT_STREQ(name, c[1]) << c[0];
        EXPECT_STREQ(full, c[0]);
    }
    // A relative source is taken from the current folder.
    const fs::path cwd = fs::current_path();
    fs::current_path(dir);
    Z rel(arc.c_str(), Z::QZF_MODE_READWRITE);
    rel.GetDefFileName("sub/f.txt", name, full);
    fs::current_path(cwd);
    EXPECT_STREQ(name, "sub\\f.txt");
    // Too long for the buffers: empty results, never a cut path.
    rel.GetDefFileName(P(std::string(300, 'x')).c_str(), name, full);
    EXPECT_STREQ(name, "");
    EXPECT_STREQ(full, "");
}

TEST_F(ModifyTest, SameSourcesGiveTheSameBytes) {
    const std::string a = Source("a.txt", "alpha alpha alpha alpha"),
                      b = Source("b.bin", std::string(70000, '\x01') + "tail");
    auto build = [&](const std::string& path) {
        Z z(path.c_str(), Z::QZF_MODE_READWRITE);
        EXPECT_TRUE(z.AddFile(a.c_str(), "[TROVIX]\\a.txt"));
        EXPECT_TRUE(z.AddFile(b.c_str(), "b.bin"));
        z.Close();
        return ReadAll(path);
    };
    const Bytes one = build(P("one.bin")), two = build(P("two.bin"));
    EXPECT_EQ(one, two);
    // The same value natively and under Windows: deflate level 6, OS byte
    // 0x0B, archive attribute 0x20, fixed time stamp.
    const uLong crc = crc32(0, one.data(), static_cast<uInt>(one.size()));
    EXPECT_EQ(crc, 0x4256639Ful) << std::hex << crc << " size " << std::dec << one.size();
}

}  // namespace

namespace {

// Records of unknown types between entries are dropped by a compaction; the
// trailer must still land after the last kept entry.
TEST_F(ModifyTest, CompactionDropsForeignRecordsBetweenEntries) {
    for (int removeFirst = 0; removeFirst < 2; ++removeFirst) {
        WriteAll(arc, ArchiveBuilder()
                          .Header()
                          .Raw(12, 9, Bytes(7, 1))
                          .File("a", "alpha")
                          .Raw(40, 7, Bytes(35, 2))
                          .File("b", "beta")
                          .Raw(5, 200)
                          .File("c", "gamma")
                          .Trailer()
                          .b);
        Z z(arc.c_str(), Z::QZF_MODE_READWRITE);
        ASSERT_TRUE(z.IsOpen()) << z.GetLastError();
        const char* names[] = {removeFirst ? "a" : "none"};
        ASSERT_TRUE(z.RemoveFiles(1, names)) << z.GetLastError();
        if (removeFirst)
            ExpectFileContents(z, {{"b", "beta"}, {"c", "gamma"}});
        else
            ExpectFileContents(z, {{"a", "alpha"}, {"b", "beta"}, {"c", "gamma"}});
        ASSERT_TRUE(z.AddFile(Source("d", "delta").c_str(), "d"));
        z.Close();
        Z r(arc.c_str(), Z::QZF_MODE_READ);
        EXPECT_EQ(r.GetNumFiles(), removeFirst ? 3u : 4u);
    }
}

// Past a few dozen entries look-ups and trailer totals come from an index
// kept beside the object: it must follow appends, replacements, removals and
// failed adds exactly as a scan of the table would.
TEST_F(ModifyTest, LookupsAndTotalsFollowEveryChange) {
    for (bool backup : {false, true}) {
        SCOPED_TRACE(backup ? "with backup" : "without backup");
        fs::remove(arc);
        Z z(arc.c_str(), Z::QZF_MODE_READWRITE);
        z.SetUseBackupFile(backup);
        for (int i = 0; i < 90; ++i) {
            const std::string name = "d\\F" + std::to_string(i) + ".txt";
            ASSERT_TRUE(z.AddFile(Source("s" + std::to_string(i), std::string(i, 'x')).c_str(),
                                  name.c_str()));
        }
        const char* gone[] = {"d\\F0.txt", "D\\f45.TXT", "d\\F89.txt"};
        ASSERT_TRUE(z.RemoveFiles(3, gone));
        ASSERT_TRUE(z.AddFile(Source("new", "changed").c_str(), "d\\F7.txt"));  // to the end
        EXPECT_FALSE(z.AddFile(P("missing").c_str(), "late"));
        if (backup) {
            ASSERT_TRUE(
                z.Open(nullptr, Z::QZF_MODE_READWRITE));  // a failed change leaves it read-only
        }
        ASSERT_TRUE(z.AddFile(Source("late", "12345").c_str(), "late")) << z.GetLastError();

        ASSERT_EQ(z.GetNumFiles(), 88u);
        uint32_t total = 0;
        for (unsigned long i = 0; i < z.GetNumFiles(); ++i) {
            std::string upper = z.GetFileName(i);
            for (char& c : upper)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            EXPECT_EQ(z.GetFileIndex(upper.c_str()), i) << upper;
            total += z.GetFileSize(i);
        }
        EXPECT_STREQ(z.GetFileName(86ul), "d\\F7.txt");
        for (const char* name : gone) EXPECT_EQ(z.GetFileIndex(name), 0xFFFFFFFFu) << name;
        const Bytes b = Snapshot(z);
        EXPECT_EQ(qzf_format::Get32(
                      &b[b.size() - qzf_format::kTrailerLength + qzf_format::kTrailerOffTotalSize]),
                  total);
    }
}

}  // namespace
