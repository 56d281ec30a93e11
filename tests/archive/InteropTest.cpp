// Interoperation with the system's gzip: every entry the engine writes is a
// gzip file that `gzip -d` accepts, and data gzip wrote (with a file name and
// a time in its header) extracts through the engine.
#include <sys/wait.h>

#include "ArchiveTestUtil.h"

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
