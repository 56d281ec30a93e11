// zlib's fixed Huffman tables, which the Windows trees build on first use
// rather than store: streams that use only the fixed codes come out byte for
// byte as the stored tables give them, and inflate back, also when the first
// use comes from several threads at once.
#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <thread>
#endif

namespace {

using Bytes = std::vector<unsigned char>;

struct FixedCase {
    std::string input;
    int level;
    Bytes deflated;  // raw deflate, one final block with the fixed codes
};

std::string AllBytesTwice() {
    std::string s;
    for (int round = 0; round < 2; ++round)
        for (int b = 0; b < 256; ++b) s += static_cast<char>(b);
    return s;
}

// Made by zlib 1.2.13 with its stored tables (raw deflate, memLevel 8).
const std::vector<FixedCase>& Cases() {
    static const std::vector<FixedCase> cases = {
        {"hello hello hello hello",
         9,
         {0xcb, 0x48, 0xcd, 0xc9, 0xc9, 0x57, 0xc8, 0x40, 0x27, 0x01}},
        {"The quick brown fox jumps over the lazy dog. The quick brown fox.",
         1,
         {0x0b, 0xc9, 0x48, 0x55, 0x28, 0x2c, 0xcd, 0x4c, 0xce, 0x56, 0x48, 0x2a, 0xca,
          0x2f, 0xcf, 0x53, 0x48, 0xcb, 0xaf, 0x50, 0xc8, 0x2a, 0xcd, 0x2d, 0x28, 0x56,
          0xc8, 0x2f, 0x4b, 0x2d, 0x52, 0x28, 0x01, 0x4a, 0xe7, 0x24, 0x56, 0x55, 0x2a,
          0xa4, 0xe4, 0xa7, 0xeb, 0x29, 0x84, 0x60, 0x2a, 0xd6, 0x03, 0x00}},
        // Every literal code once, then a match 256 back: each literal
        // length, the longest length code and a far distance code.
        {AllBytesTwice(),
         6,
         {0x63, 0x60, 0x64, 0x62, 0x66, 0x61, 0x65, 0x63, 0xe7, 0xe0, 0xe4, 0xe2, 0xe6, 0xe1, 0xe5,
          0xe3, 0x17, 0x10, 0x14, 0x12, 0x16, 0x11, 0x15, 0x13, 0x97, 0x90, 0x94, 0x92, 0x96, 0x91,
          0x95, 0x93, 0x57, 0x50, 0x54, 0x52, 0x56, 0x51, 0x55, 0x53, 0xd7, 0xd0, 0xd4, 0xd2, 0xd6,
          0xd1, 0xd5, 0xd3, 0x37, 0x30, 0x34, 0x32, 0x36, 0x31, 0x35, 0x33, 0xb7, 0xb0, 0xb4, 0xb2,
          0xb6, 0xb1, 0xb5, 0xb3, 0x77, 0x70, 0x74, 0x72, 0x76, 0x71, 0x75, 0x73, 0xf7, 0xf0, 0xf4,
          0xf2, 0xf6, 0xf1, 0xf5, 0xf3, 0x0f, 0x08, 0x0c, 0x0a, 0x0e, 0x09, 0x0d, 0x0b, 0x8f, 0x88,
          0x8c, 0x8a, 0x8e, 0x89, 0x8d, 0x8b, 0x4f, 0x48, 0x4c, 0x4a, 0x4e, 0x49, 0x4d, 0x4b, 0xcf,
          0xc8, 0xcc, 0xca, 0xce, 0xc9, 0xcd, 0xcb, 0x2f, 0x28, 0x2c, 0x2a, 0x2e, 0x29, 0x2d, 0x2b,
          0xaf, 0xa8, 0xac, 0xaa, 0xae, 0xa9, 0xad, 0xab, 0x6f, 0x68, 0x6c, 0x6a, 0x6e, 0x69, 0x6d,
          0x6b, 0xef, 0xe8, 0xec, 0xea, 0xee, 0xe9, 0xed, 0xeb, 0x9f, 0x30, 0x71, 0xd2, 0xe4, 0x29,
          0x53, 0xa7, 0x4d, 0x9f, 0x31, 0x73, 0xd6, 0xec, 0x39, 0x73, 0xe7, 0xcd, 0x5f, 0xb0, 0x70,
          0xd1, 0xe2, 0x25, 0x4b, 0x97, 0x2d, 0x5f, 0xb1, 0x72, 0xd5, 0xea, 0x35, 0x6b, 0xd7, 0xad,
          0xdf, 0xb0, 0x71, 0xd3, 0xe6, 0x2d, 0x5b, 0xb7, 0x6d, 0xdf, 0xb1, 0x73, 0xd7, 0xee, 0x3d,
          0x7b, 0xf7, 0xed, 0x3f, 0x70, 0xf0, 0xd0, 0xe1, 0x23, 0x47, 0x8f, 0x1d, 0x3f, 0x71, 0xf2,
          0xd4, 0xe9, 0x33, 0x67, 0xcf, 0x9d, 0xbf, 0x70, 0xf1, 0xd2, 0xe5, 0x2b, 0x57, 0xaf, 0x5d,
          0xbf, 0x71, 0xf3, 0xd6, 0xed, 0x3b, 0x77, 0xef, 0xdd, 0x7f, 0xf0, 0xf0, 0xd1, 0xe3, 0x27,
          0x4f, 0x9f, 0x3d, 0x7f, 0xf1, 0xf2, 0xd5, 0xeb, 0x37, 0x6f, 0xdf, 0xbd, 0xff, 0xf0, 0xf1,
          0xd3, 0xe7, 0x2f, 0x5f, 0xbf, 0x7d, 0xff, 0xf1, 0xf3, 0xd7, 0xef, 0x3f, 0x7f, 0xff, 0xfd,
          0x67, 0x18, 0xe1, 0xfe, 0x07, 0x00}},
        {std::string(300, 'a') +
             [] {
                 std::string s;
                 for (int i = 0; i < 40; ++i) s += "xyz";
                 return s;
             }(),
         9,
         {0x4b, 0x4c, 0x1c, 0x05, 0xc4, 0x82, 0x8a, 0xca, 0xaa, 0x01, 0x41, 0x00}},
    };
    return cases;
}

Bytes Deflate(const std::string& input, int level) {
    z_stream z;
    memset(&z, 0, sizeof z);
    if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return {};
    Bytes out(deflateBound(&z, static_cast<uLong>(input.size())));
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
    z.avail_in = static_cast<uInt>(input.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    const int status = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return status == Z_STREAM_END ? out : Bytes();
}

// The inflated text, or "<failed>".
std::string Inflate(const Bytes& deflated) {
    z_stream z;
    memset(&z, 0, sizeof z);
    if (inflateInit2(&z, -15) != Z_OK) return "<failed>";
    std::string out(4096, '\0');
    z.next_in = const_cast<Bytef*>(deflated.data());
    z.avail_in = static_cast<uInt>(deflated.size());
    z.next_out = reinterpret_cast<Bytef*>(&out[0]);
    z.avail_out = static_cast<uInt>(out.size());
    const int status = inflate(&z, Z_FINISH);
    out.resize(z.total_out);
    inflateEnd(&z);
    return status == Z_STREAM_END ? out : "<failed>";
}

// Every case both ways; the count of mismatches.
int Mismatches() {
    int wrong = 0;
    for (const FixedCase& c : Cases()) {
        if (Deflate(c.input, c.level) != c.deflated) ++wrong;
        if (Inflate(c.deflated) != c.input) ++wrong;
    }
    return wrong;
}

constexpr int kThreads = 8;

#ifdef _WIN32
DWORD WINAPI CheckAfterStart(void* param) {
    void* start = static_cast<void**>(param)[0];
    int* wrong = static_cast<int*>(static_cast<void**>(param)[1]);
    WaitForSingleObject(start, INFINITE);
    *wrong = Mismatches();
    return 0;
}
#endif

}  // namespace

// First in this program: the tables are first used here, from all threads
// at once; each must see them whole.
TEST(ZlibTables, FirstUseFromSeveralThreads) {
    int wrong[kThreads] = {};
#ifdef _WIN32
    HANDLE start = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(start, nullptr);
    void* params[kThreads][2];
    HANDLE threads[kThreads];
    for (int i = 0; i < kThreads; ++i) {
        params[i][0] = start;
        params[i][1] = &wrong[i];
        threads[i] = CreateThread(nullptr, 0, CheckAfterStart, params[i], 0, nullptr);
        ASSERT_NE(threads[i], nullptr);
    }
    SetEvent(start);
    WaitForMultipleObjects(kThreads, threads, TRUE, INFINITE);
    for (HANDLE t : threads) CloseHandle(t);
    CloseHandle(start);
#else
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&wrong, i] { wrong[i] = Mismatches(); });
    for (std::thread& t : threads) t.join();
#endif
    for (int i = 0; i < kThreads; ++i) EXPECT_EQ(wrong[i], 0) << "thread " << i;
}

TEST(ZlibTables, FixedCodeStreamsAsTheStoredTablesGiveThem) {
    for (const FixedCase& c : Cases()) {
        SCOPED_TRACE(c.input.substr(0, 20));
        ASSERT_FALSE(c.deflated.empty());
        EXPECT_EQ(c.deflated[0] & 7, 3) << "not one final block with the fixed codes";
        EXPECT_EQ(Deflate(c.input, c.level), c.deflated);
        EXPECT_EQ(Inflate(c.deflated), c.input);
    }
}

#ifdef _WIN32
// The Windows trees' zlib is built without the stored, Huffman-only and
// run-length compressors: asking for them is refused, not mistaken.
TEST(ZlibTables, CompressorsLeftOutAreRefused) {
    struct Row {
        int level, strategy, expected;
    } rows[] = {
        {0, Z_DEFAULT_STRATEGY, Z_STREAM_ERROR},
        {6, Z_HUFFMAN_ONLY, Z_STREAM_ERROR},
        {6, Z_RLE, Z_STREAM_ERROR},
        {1, Z_DEFAULT_STRATEGY, Z_OK},
        {9, Z_DEFAULT_STRATEGY, Z_OK},
        {Z_DEFAULT_COMPRESSION, Z_DEFAULT_STRATEGY, Z_OK},
        {6, Z_FILTERED, Z_OK},
        {6, Z_FIXED, Z_OK},
    };
    for (const Row& row : rows) {
        z_stream z;
        memset(&z, 0, sizeof z);
        EXPECT_EQ(deflateInit2(&z, row.level, Z_DEFLATED, -15, 8, row.strategy), row.expected)
            << row.level << " " << row.strategy;
        if (row.expected != Z_OK) continue;
        EXPECT_EQ(deflateParams(&z, 0, Z_DEFAULT_STRATEGY), Z_STREAM_ERROR);
        EXPECT_EQ(deflateParams(&z, 6, Z_RLE), Z_STREAM_ERROR);
        EXPECT_EQ(deflateParams(&z, 3, Z_DEFAULT_STRATEGY), Z_OK);
        deflateEnd(&z);
    }
}
#endif
