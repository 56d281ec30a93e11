// qorpack and the engine over one corpus: the fuzz seeds and archives made
// byte by byte. Whatever the engine (as the setup opens its payload) reads,
// `list`, `verify` and `extract` must read alike: the same archives open, the
// same entries decode, to the same bytes.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <zlib.h>

#include "Commands.h"
#include "contract/ArchiveFormat.h"
#include "archive/ArchiveLocator.h"
#include "archive/QorZipFile.h"

namespace fs = std::filesystem;
using namespace qzf_format;

namespace {

std::string Gzip(const std::string& data) {
    z_stream s{};
    deflateInit2(&s, 6, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&s, data.size()) + 32, '\0');
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    s.avail_in = static_cast<uInt>(data.size());
    s.next_out = reinterpret_cast<Bytef*>(&out[0]);
    s.avail_out = static_cast<uInt>(out.size());
    deflate(&s, Z_FINISH);
    out.resize(s.total_out);
    deflateEnd(&s);
    return out;
}

std::string Header(uint32_t length = kHeaderLength, uint32_t version = kFormatVersion) {
    std::string h(length, '\0');
    BuildHeader(reinterpret_cast<uint8_t*>(&h[0]), version);
    Put32(reinterpret_cast<uint8_t*>(&h[0]), length);
    return h;
}

struct Stored {
    std::string name;
    std::string data;  // the bytes stored after the record
    uint32_t size;     // the inflated size the record states
};

// Entries and a trailer after `head`.
std::string Archive(const std::string& head, const std::vector<Stored>& entries) {
    std::string body = head;
    uint32_t total = 0;
    for (const Stored& e : entries) {
        std::string record(kEntryMinLength + e.name.size(), '\0');
        BuildEntry(reinterpret_cast<uint8_t*>(&record[0]), static_cast<uint32_t>(e.data.size()),
                   e.size, 0x11111111, 0x01D00000, 0x20, e.name.data(),
                   static_cast<uint32_t>(e.name.size()));
        body += record + e.data;
        total += e.size;
    }
    std::string trailer(kTrailerLength, '\0');
    BuildTrailer(reinterpret_cast<uint8_t*>(&trailer[0]), static_cast<uint32_t>(entries.size()),
                 total, static_cast<uint32_t>(body.size() + kTrailerLength));
    return body + trailer;
}

std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void Spit(const fs::path& p, const std::string& data) {
    std::ofstream(p, std::ios::binary) << data;
}

int RunCommand(int (*command)(int, char**), std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    return command(static_cast<int>(argv.size()), argv.data());
}

// A stored name qorpack extract places below its folder (it refuses the others).
bool Placeable(const std::string& name) {
    if (name.empty() || name[0] == '\\' || name[0] == '/' || name.find(':') != std::string::npos)
        return false;
    std::string step;
    for (char c : name + "\\") {
        if (c == '\\' || c == '/') {
            if (step.empty() || step == "." || step == "..") return false;
            step.clear();
        } else {
            step += c;
        }
    }
    return true;
}

class EngineAgreement : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/qorpack_agree_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Runs the engine and the three commands over the file and compares.
    // surplus: an entry has bytes after its last gzip member, which the setup
    // ignores and verify calls damage.
    void Compare(const std::string& label, const fs::path& file, bool surplus = false) {
        SCOPED_TRACE(label);
        // The engine, as the setup opens its own payload.
        ArchiveLocation at;
        QorZipFile z;
        // An empty file holds none: the engine reads it as an archive yet to be
        // written, and a setup's own file never is empty; qorpack refuses it.
        const bool opens = fs::file_size(file) > 0 && LocateArchiveInFile(file.c_str(), &at) &&
                           OpenLocatedArchive(z, file.c_str(), at, QorZipFile::QZF_MODE_READ);
        std::vector<std::string> names, contents;
        std::vector<bool> decoded;
        bool allDecode = opens;
        const fs::path scratch = dir_ / "engine.out";
        for (unsigned long i = 0; opens && i < z.GetNumFiles(); ++i) {
            names.push_back(z.GetFileName(i));
            fs::remove(scratch);
            decoded.push_back(z.ExtractFile(names.back().c_str(), scratch.c_str()));
            contents.push_back(decoded.back() ? Slurp(scratch) : std::string());
            allDecode = allDecode && decoded.back();
        }
        fs::remove(scratch);

        EXPECT_EQ(RunCommand(qorpack::CmdList, {file.string()}) == 0, opens);
        EXPECT_EQ(RunCommand(qorpack::CmdVerify, {file.string()}) == 0, allDecode && !surplus);
        if (!opens) {
            EXPECT_NE(
                RunCommand(qorpack::CmdExtract, {file.string(), "-C", (dir_ / "none").string()}),
                0);
            return;
        }
        for (size_t i = 0; i < names.size(); ++i) {
            if (!Placeable(names[i])) continue;
            SCOPED_TRACE(names[i]);
            const fs::path out = dir_ / ("x" + std::to_string(counter_++));
            const int rc =
                RunCommand(qorpack::CmdExtract, {file.string(), "-C", out.string(), names[i]});
            EXPECT_EQ(rc == 0, static_cast<bool>(decoded[i]));
            std::string placed = names[i];
            for (char& c : placed)
                if (c == '\\') c = '/';
            if (rc == 0) {
                EXPECT_EQ(Slurp(out / placed), contents[i]);
            }
        }
    }

    fs::path dir_;
    int counter_ = 0;
};

TEST_F(EngineAgreement, FuzzSeeds) {
    const fs::path seeds = dir_ / "seeds";
    const std::string command =
        std::string(QOR_PYTHON) + " " + QOR_MAKE_SEEDS + " " + seeds.string();
    ASSERT_EQ(std::system(command.c_str()), 0);
    int count = 0;
    for (const auto& f : fs::directory_iterator(seeds)) {
        Compare(f.path().filename().string(), f.path());
        ++count;
    }
    EXPECT_GE(count, 14);
}

TEST_F(EngineAgreement, ArchivesMadeByteByByte) {
    const std::string text = "hello world\n";
    const std::string big(200000, 'q');
    std::string damaged = Gzip(big);
    damaged[damaged.size() / 2] ^= 0x55;
    std::string badCrc = Gzip(text);
    badCrc[badCrc.size() - 6] ^= 0x01;
    const std::string gz = Gzip(text);
    const struct {
        const char* label;
        std::string bytes;
        bool surplus;
    } cases[] = {
        {"no header record", Archive("", {{"a.txt", gz, 12}, {"b.txt", Gzip(big), 200000}}), false},
        {"13-byte header, version 99", Archive(Header(13, 99), {{"a.txt", gz, 12}}), false},
        {"plain data and 0 stored bytes",
         Archive(Header(), {{"plain.txt", "stored as is", 12}, {"empty.dat", "", 0}}), false},
        {"two gzip members joined", Archive(Header(), {{"two.txt", gz + gz, 24}}), false},
        {"gzip then surplus bytes", Archive(Header(), {{"tail.txt", gz + "xyz", 12}}), true},
        {"recorded size not the data's", Archive(Header(), {{"size.txt", gz, 999}}), false},
        {"data longer than recorded", Archive(Header(), {{"long.txt", gz, 11}}), false},
        {"plain data longer than recorded", Archive(Header(), {{"p.txt", "stored as is", 3}}),
         false},
        {"damaged deflate data", Archive(Header(), {{"ok.txt", gz, 12}, {"bad.bin", damaged, 0}}),
         false},
        {"bad CRC", Archive(Header(), {{"crc.txt", badCrc, 12}}), false},
        {"cut short", Archive(Header(), {{"cut.txt", gz.substr(0, gz.size() - 3), 12}}), false},
        {"not an archive", std::string("just some text, no records at all\n"), false},
        {"appended to a host", std::string(300, '\xcc') + Archive(Header(), {{"h.txt", gz, 12}}),
         false},
    };
    for (const auto& c : cases) {
        const fs::path file = dir_ / "case.qzf";
        Spit(file, c.bytes);
        Compare(c.label, file, c.surplus);
    }
}

}  // namespace
