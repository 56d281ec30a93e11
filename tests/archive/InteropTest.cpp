// Interoperation with the system's gzip: every entry the engine writes is a
// gzip file that `gzip -d` accepts, and data gzip wrote (with a file name and
// a time in its header) extracts through the engine.
#include <sys/wait.h>

#include <algorithm>

#include "ArchiveTestUtil.h"
#include "archive/QzfIndexed.h"

using namespace qzftest;
using Z = QorZipFile;

namespace {

class InteropTest : public ScratchTest {};

int Shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(InteropTest, EntriesDecompressWithSystemGzip) {
    if (Shell("command -v gzip >/dev/null") != 0) GTEST_SKIP() << "no gzip on this machine";
    std::vector<std::string> contents = {"", "short text\n", std::string(300000, 'z')};
    std::string noise(70000, 0);
    uint32_t x = 7;
    for (char& c : noise) c = static_cast<char>((x = x * 69069u + 1u) >> 24);
    contents.push_back(noise);
    const std::string arc = P("a.bin");
    Z z(arc.c_str(), Z::QZF_MODE_READWRITE);
    for (size_t i = 0; i < contents.size(); ++i) {
        WriteText(dir / ("s" + std::to_string(i)), contents[i]);
        ASSERT_TRUE(z.AddFile(P("s" + std::to_string(i)).c_str(), nullptr)) << z.GetLastError();
    }
    // Cut each entry's data out of the archive by the record layout alone.
    const Bytes b = ReadAll(arc);
    size_t pos = qzf_format::kHeaderLength;
    for (size_t i = 0; i < contents.size(); ++i) {
        ASSERT_EQ(b[pos + 4], qzf_format::kTypeEntry);
        const uint32_t length = qzf_format::Get32(&b[pos]);
        const uint32_t compressed = qzf_format::Get32(&b[pos + qzf_format::kEntryOffCompressed]);
        const Bytes data(b.begin() + pos + length, b.begin() + pos + length + compressed);
        ASSERT_TRUE(std::equal(std::begin(qzf_format::kGzipHeader),
                               std::end(qzf_format::kGzipHeader), data.begin()));
        WriteAll(dir / "entry.gz", data);
        ASSERT_EQ(Shell("gzip -dc '" + P("entry.gz") + "' > '" + P("entry.out") + "'"), 0);
        EXPECT_EQ(ReadText(dir / "entry.out"), contents[i]) << "entry " << i;
        ASSERT_EQ(Shell("gzip -t '" + P("entry.gz") + "'"), 0);
        pos += length + compressed;
    }
    EXPECT_EQ(b[pos + 4], qzf_format::kTypeTrailer);
}

// zlib's own gzip stream of s at `level`, fed as the engine feeds it (64 KiB
// at a time, then the finish), with the engine's header bytes (no extra
// flags, OS byte 0x0B): what the engine's gzip writer must give. zlib's
// choice of stored blocks may depend on how the input is handed over.
Bytes ZlibGzip(const std::string& s, int level) {
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
    Bytes out(deflateBound(&z, static_cast<uLong>(s.size())) + 32);
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    for (size_t at = 0;; at += 65536) {
        const size_t n = at < s.size() ? std::min<size_t>(65536, s.size() - at) : 0;
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(s.data())) + (n ? at : 0);
        z.avail_in = static_cast<uInt>(n);
        deflate(&z, n ? Z_NO_FLUSH : Z_FINISH);
        if (!n) break;
    }
    out.resize(z.total_out);
    deflateEnd(&z);
    out[8] = 0;  // zlib marks levels 1 and 9 here
    out[qzf_format::kGzipOsByteOffset] = qzf_format::kGzipOsByte;
    return out;
}

std::string Noise(size_t n, uint32_t seed) {
    std::string s(n, 0);
    for (char& c : s) c = static_cast<char>((seed = seed * 69069u + 1u) >> 24);
    return s;
}

// The gzip data of the only entry of `arc`.
Bytes OnlyEntryData(const std::string& arc) {
    const Bytes b = ReadAll(arc);
    const size_t pos = qzf_format::kHeaderLength;
    const uint32_t length = qzf_format::Get32(&b[pos]);
    const uint32_t compressed = qzf_format::Get32(&b[pos + qzf_format::kEntryOffCompressed]);
    return Bytes(b.begin() + pos + length, b.begin() + pos + length + compressed);
}

TEST_F(InteropTest, EveryLevelIsZlibsGzipStreamAndRoundTrips) {
    if (Shell("command -v gzip >/dev/null") != 0) GTEST_SKIP() << "no gzip on this machine";
    std::string text;
    for (int i = 0; text.size() < (5u << 20); ++i)
        text += "<p class=\"entry\">install folder " + std::to_string(i % 977) + "</p>\r\n";
    const struct {
        const char* what;
        std::string content;
    } inputs[] = {
        {"empty", ""},
        {"one byte", "x"},
        {"incompressible", Noise(300000, 7)},
        {"highly compressible", std::string(1u << 20, 'z')},
        {"over 4 MiB, half noise", Noise(1u << 21, 9) + text.substr(0, 3u << 20)},
    };
    // 0: the engine's own level, never set.
    for (int level : {0, 1, 6, 9}) {
        for (const auto& in : inputs) {
            SCOPED_TRACE(std::string(in.what) + ", level " + std::to_string(level));
            const std::string src = P("src"), arc = P("a" + std::to_string(level) + in.what);
            WriteText(src, in.content);
            Z z;
            if (level) {
                ASSERT_TRUE(qzf_indexed::SetAddLevel(z, level));
            }
            EXPECT_EQ(qzf_indexed::AddLevel(z), level ? level : qzf_indexed::kEngineLevel);
            ASSERT_TRUE(z.Open(arc.c_str(), Z::QZF_MODE_READWRITE));
            ASSERT_TRUE(z.AddFile(src.c_str(), "entry")) << z.GetLastError();
            const Bytes data = OnlyEntryData(arc);
            EXPECT_EQ(data, ZlibGzip(in.content, level ? level : 6));
            // Stored blocks keep incompressible data from growing by more
            // than their few bytes of framing.
            EXPECT_LE(data.size(), in.content.size() + in.content.size() / 1000 + 64);
            WriteAll(dir / "entry.gz", data);
            ASSERT_EQ(Shell("gzip -t '" + P("entry.gz") + "'"), 0);
            ASSERT_EQ(Shell("gzip -dc '" + P("entry.gz") + "' > '" + P("entry.out") + "'"), 0);
            EXPECT_TRUE(ReadText(dir / "entry.out") == in.content);
            Z r(arc.c_str(), Z::QZF_MODE_READ);
            ASSERT_TRUE(r.ExtractFile("entry", P("out").c_str())) << r.GetLastError();
            EXPECT_TRUE(ReadText(dir / "out") == in.content);
        }
    }
}

TEST_F(InteropTest, AddLevelStaysWithTheObject) {
    const std::string src = P("src"), arc = P("a.bin");
    std::string text;
    for (int i = 0; i < 4000; ++i) text += "line " + std::to_string(i * 7919 % 1000) + "\n";
    WriteText(src, text);
    Z z;
    ASSERT_TRUE(qzf_indexed::SetAddLevel(z, 1));
    ASSERT_TRUE(z.Open(arc.c_str(), Z::QZF_MODE_READWRITE));
    z.Close();
    ASSERT_TRUE(z.Open(arc.c_str(), Z::QZF_MODE_READWRITE));
    ASSERT_TRUE(z.AddFile(src.c_str(), "a"));
    ASSERT_TRUE(z.AddFile(src.c_str(), "b"));  // appended over the trailer, not written whole
    EXPECT_EQ(qzf_indexed::AddLevel(z), 1);
    const Bytes one = ZlibGzip(text, 1);
    EXPECT_EQ(qzf_indexed::Entry(z, 0).compressedSize, one.size());
    EXPECT_EQ(qzf_indexed::Entry(z, 1).compressedSize, one.size());
    // Out-of-range levels are the engine's own; a second object is untouched.
    ASSERT_TRUE(qzf_indexed::SetAddLevel(z, 42));
    EXPECT_EQ(qzf_indexed::AddLevel(z), qzf_indexed::kEngineLevel);
    Z other;
    EXPECT_EQ(qzf_indexed::AddLevel(other), qzf_indexed::kEngineLevel);
}

TEST_F(InteropTest, DataFromSystemGzipExtracts) {
    if (Shell("command -v gzip >/dev/null") != 0) GTEST_SKIP() << "no gzip on this machine";
    const std::string content = "written by another gzip\n" + std::string(5000, 'g');
    WriteText(dir / "named.txt", content);
    // gzip -N keeps the name and the time in the header (flags 0x08, mtime set).
    ASSERT_EQ(Shell("cd '" + dir.string() + "' && gzip -9 -N -k named.txt"), 0);
    const Bytes gz = ReadAll(dir / "named.txt.gz");
    ASSERT_EQ(gz[3] & 0x08, 0x08);
    WriteAll(dir / "a.bin", ArchiveBuilder()
                                .Header()
                                .Entry("named.txt", gz, static_cast<uint32_t>(content.size()))
                                .Trailer()
                                .b);
    Z z(P("a.bin").c_str(), Z::QZF_MODE_READ);
    ASSERT_TRUE(z.ExtractFile("named.txt", P("out.txt").c_str())) << z.GetLastError();
    EXPECT_EQ(ReadText(dir / "out.txt"), content);
}

TEST_F(InteropTest, TooLargeSourcesAndArchivesAreRefused) {
    // Sparse files: 4 GiB of nothing costs no disk.
    const std::string big = P("big.bin");
    { std::ofstream f(big, std::ios::binary); }
    fs::resize_file(big, (1ull << 32) + 1);
    const std::string small = P("small.txt");
    WriteText(small, "small");
    const std::string arc = P("a.bin");
    Z z(arc.c_str(), Z::QZF_MODE_READWRITE);
    ASSERT_TRUE(z.AddFile(small.c_str(), "small"));
    const Bytes before = ReadAll(arc);
    EXPECT_FALSE(z.AddFile(big.c_str(), "big"));
    EXPECT_EQ(z.GetLastError(), QZF_ERR_TOO_LARGE);
    EXPECT_EQ(ReadAll(arc), before);
    EXPECT_EQ(TempFilesLeft(), 0);

    // An archive starting just below 4 GiB cannot take an entry that would pass it.
    const std::string host = P("host.bin");
    { std::ofstream f(host, std::ios::binary); }
    const uint64_t offset = 0xFFFFFFFFull - 40;
    fs::resize_file(host, offset);
    Z h;
    h.SetUseBackupFile(false);  // no 4 GiB copy for the backup
    h.SetHeaderOffset(static_cast<unsigned long>(offset));
    ASSERT_TRUE(h.Open(host.c_str(), Z::QZF_MODE_READWRITE));
    EXPECT_FALSE(h.AddFile(small.c_str(), "small"));
    EXPECT_EQ(h.GetLastError(), QZF_ERR_TOO_LARGE);
    EXPECT_EQ(fs::file_size(host), offset);
    EXPECT_EQ(h.GetNumFiles(), 0u);
    EXPECT_EQ(TempFilesLeft(), 0);
}

}  // namespace
