// Test helpers for the archive engine: byte-built archives, scratch folders,
// whole-file reads and writes. Shared by the native and the Wine tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <zlib.h>

#include "contract/ArchiveFormat.h"
#include "archive/FileLayer.h"
#include "archive/QorZipFile.h"

namespace qzftest {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

inline Bytes ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteAll(const fs::path& p, const Bytes& b) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

inline void WriteText(const fs::path& p, const std::string& s) {
    WriteAll(p, Bytes(s.begin(), s.end()));
}

inline std::string ReadText(const fs::path& p) {
    Bytes b = ReadAll(p);
    return std::string(b.begin(), b.end());
}

// gzip data as the engine writes it (through zlib's gzip writer, OS byte 0x0B).
inline Bytes Gzip(const std::string& s) {
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
    Bytes out(deflateBound(&z, static_cast<uLong>(s.size())) + 32);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(s.data()));
    z.avail_in = static_cast<uInt>(s.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    out[qzf_format::kGzipOsByteOffset] = qzf_format::kGzipOsByte;
    return out;
}

// Builds archives record by record, including malformed ones.
struct ArchiveBuilder {
    Bytes b;
    uint32_t count = 0, total = 0, start = 0;

    ArchiveBuilder& Host(size_t n, uint8_t fill = 0xCC) {
        b.insert(b.end(), n, fill);
        start = static_cast<uint32_t>(b.size());
        return *this;
    }
    ArchiveBuilder& Header(uint32_t version = 1) {
        uint8_t h[qzf_format::kHeaderLength];
        qzf_format::BuildHeader(h, version);
        b.insert(b.end(), h, h + sizeof h);
        return *this;
    }
    ArchiveBuilder& Entry(const std::string& name, const Bytes& data, uint32_t uncompressed,
                          uint32_t attributes = 0x20, uint32_t timeLow = 0x11111111,
                          uint32_t timeHigh = 0x01D00000) {
        std::vector<uint8_t> rec(qzf_format::kEntryMinLength + name.size());
        qzf_format::BuildEntry(rec.data(), static_cast<uint32_t>(data.size()), uncompressed,
                               timeLow, timeHigh, attributes, name.data(),
                               static_cast<uint32_t>(name.size()));
        b.insert(b.end(), rec.begin(), rec.end());
        b.insert(b.end(), data.begin(), data.end());
        ++count;
        total += uncompressed;
        return *this;
    }
    ArchiveBuilder& File(const std::string& name, const std::string& content) {
        return Entry(name, Gzip(content), static_cast<uint32_t>(content.size()));
    }
    ArchiveBuilder& Trailer() { return TrailerWith(count, qzf_format::kTrailerLength); }
    ArchiveBuilder& TrailerWith(uint32_t n, uint32_t repeat) {
        uint8_t t[qzf_format::kTrailerLength];
        qzf_format::BuildTrailer(
            t, n, total, static_cast<uint32_t>(b.size()) - start + qzf_format::kTrailerLength);
        qzf_format::Put32(t + qzf_format::kTrailerOffRepeatLength, repeat);
        b.insert(b.end(), t, t + sizeof t);
        return *this;
    }
    // Any record: length, type, then the payload as given.
    ArchiveBuilder& Raw(uint32_t length, uint8_t type, const Bytes& payload = {}) {
        uint8_t h[5];
        qzf_format::Put32(h, length);
        h[4] = type;
        b.insert(b.end(), h, h + 5);
        b.insert(b.end(), payload.begin(), payload.end());
        return *this;
    }
};

// A fresh scratch folder per test, removed afterwards. On POSIX the engine's
// temporary files go to a private folder too, so a test can count them.
class ScratchTest : public ::testing::Test {
protected:
    fs::path dir, temp;
    int baseline = 0;

    void SetUp() override {
        static int serial = 0;
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        // Remembered before TMPDIR is pointed into the scratch folder below.
        static const fs::path base = fs::temp_directory_path();
        dir = base / ("archtest_" + std::string(info->name()) + "_" + std::to_string(++serial));
        fs::remove_all(dir);
        fs::create_directories(dir);
        temp = dir / "tmp";
        fs::create_directories(temp);
#ifndef _WIN32
        setenv("TMPDIR", temp.string().c_str(), 1);
#endif
        baseline = 0;
        baseline = TempFilesLeft();
    }
    void TearDown() override {
        std::error_code ec;
        for (auto& e : fs::recursive_directory_iterator(dir, ec))
            fs::permissions(e.path(), fs::perms::owner_write, fs::perm_options::add, ec);
        fs::remove_all(dir, ec);
    }
    std::string P(const std::string& rel) const { return (dir / rel).string(); }
    // The folder the engine makes its temporary files in.
    fs::path EngineTemp() const {
#ifdef _WIN32
        return fs::temp_directory_path();
#else
        return temp;
#endif
    }
    static bool IsEngineTemp(const fs::path& p) {
        const std::string name = p.filename().string();
        return name.size() >= 3 &&
               (name.compare(0, 3, "qzf") == 0 || name.compare(0, 3, "QZF") == 0);
    }
    void RemoveEngineTemps() const {
        std::error_code ec;
        for (auto& e : fs::directory_iterator(EngineTemp(), ec))
            if (IsEngineTemp(e.path())) fs::remove(e.path(), ec);
    }
    // Engine temporary files ("qzf*") left in the temporary folder since SetUp.
    int TempFilesLeft() const {
        int n = 0;
        std::error_code ec;
        for (auto& e : fs::directory_iterator(EngineTemp(), ec))
            if (IsEngineTemp(e.path())) ++n;
        return n - baseline;
    }
};

}  // namespace qzftest
