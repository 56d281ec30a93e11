#include "text/Format.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct Case {
    const char* expected;
    std::string got;
};

// Each row formats the way the C library would; the rows also run the
// library's snprintf where it is the reference (native builds).
template <typename... Args>
std::string F(const char* format, Args... args) {
    char out[128];
    std::memset(out, 'Z', sizeof out);
    EXPECT_TRUE(FormatText(out, sizeof out, format, args...)) << format;
    return out;
}

TEST(FormatTest, ConversionsAsTheCLibrary) {
    const Case cases[] = {
        {"plain", F("plain")},
        {"a%b", F("a%%b")},
        {"x=42", F("x=%d", 42)},
        {"-17", F("%d", -17)},
        {"-2147483648", F("%d", INT_MIN)},
        {"2147483647", F("%i", INT_MAX)},
        {"4294967295", F("%u", UINT_MAX)},
        {"0", F("%u", 0u)},
        {"ff FF", F("%x %X", 255u, 255u)},
        {"U+00E9", F("U+%04X", 0xE9u)},
        {"U+1F600", F("U+%04X", 0x1F600u)},
        {"2026-01-09 07:05:03 ", F("%04u-%02u-%02u %02u:%02u:%02u ", 2026u, 1u, 9u, 7u, 5u, 3u)},
        {"1.2.0.7", F("%d.%d.%d.%d", 1, 2, 0, 7)},
        {"TrovixUninstall-1a2b-99.exe", F("TrovixUninstall-%lx-%u.exe", 0x1a2bUL, 99u)},
        {" -parent=1 -done=2,4294967295",
         F(" -parent=%lu -done=%lu,%lu", 1UL, 2UL, static_cast<unsigned long>(UINT32_MAX))},
        {"18446744073709551615", F("%llu", static_cast<unsigned long long>(UINT64_MAX))},
        {"-9223372036854775808", F("%lld", static_cast<long long>(INT64_MIN))},
        // Around 2^32, where the digits come from 16-bit pieces.
        {"4294967296 4294967297", F("%llu %llu", 4294967296ull, 4294967297ull)},
        {"100000000 FFFFFFFFFFFFFFFF", F("%llx %llX", 0x100000000ull, 0xFFFFFFFFFFFFFFFFull)},
        {"12345678901234567890", F("%llu", 12345678901234567890ull)},
        {"-4294967296", F("%lld", -4294967296ll)},
        {"1000000000000000000", F("%llu", 1000000000000000000ull)},
        {"123456", F("%zu", static_cast<size_t>(123456))},
        {"   7|7   |007|-07", F("%4d|%-4d|%03d|%03d", 7, 7, 7, -7)},
        {"  ab|ab  ", F("%4s|%-4s", "ab", "ab")},
        {"abc", F("%s%s%s", "a", "", "bc")},
        {"[x]", F("[%c]", 'x')},
        {"system error 5", F("system error %lu", 5UL)},
    };
    for (const Case& c : cases) EXPECT_EQ(c.got, c.expected);
}

TEST(FormatTest, NativeLibraryAgrees) {
    // The same rows through the C library: what the replaced calls printed.
    struct Row {
        const char* format;
        long long value;
    } rows[] = {{"%d", -5},    {"%5d", 12},     {"%-5d|", 12}, {"%05d", -12},
                {"%x", 48879}, {"%08X", 48879}, {"%u", 0},     {"%3u", 12345}};
    for (const Row& r : rows) {
        char ours[64], theirs[64];
        const bool isUnsigned = std::strpbrk(r.format, "uxX") != nullptr;
        if (isUnsigned) {
            FormatText(ours, sizeof ours, r.format, static_cast<unsigned>(r.value));
            std::snprintf(theirs, sizeof theirs, r.format, static_cast<unsigned>(r.value));
        } else {
            FormatText(ours, sizeof ours, r.format, static_cast<int>(r.value));
            std::snprintf(theirs, sizeof theirs, r.format, static_cast<int>(r.value));
        }
        EXPECT_STREQ(ours, theirs) << r.format;
    }
}

TEST(FormatTest, NeverWritesPastTheBufferAndReportsTheCut) {
    const struct {
        size_t capacity;
        const char* expected;
    } rows[] = {{1, ""}, {2, "a"}, {5, "abcd"}, {6, "abcd1"}, {8, "abcd123"}};
    for (const auto& r : rows) {
        char out[16];
        std::memset(out, 'Z', sizeof out);
        EXPECT_FALSE(FormatText(out, r.capacity, "abcd%d", 12345)) << r.capacity;
        EXPECT_STREQ(out, r.expected);
        EXPECT_EQ(out[r.capacity], 'Z') << "written past capacity " << r.capacity;
    }
    char exact[10];
    EXPECT_TRUE(FormatText(exact, sizeof exact, "abcd%d", 12345));
    EXPECT_STREQ(exact, "abcd12345");
    char none = 'Z';
    EXPECT_FALSE(FormatText(&none, 0, "x"));
    EXPECT_EQ(none, 'Z');
    const std::string empty;
    EXPECT_TRUE(FormatText(&none, 1, empty.c_str()));
    EXPECT_EQ(none, 0);
    // A null string prints as the C libraries print it, not as a crash.
    const std::string s("%s");
    char out[16];
    EXPECT_TRUE(FormatText(out, sizeof out, s.c_str(), static_cast<const char*>(nullptr)));
    EXPECT_STREQ(out, "(null)");
}

TEST(FormatTest, RefusesWhatItDoesNotKnow) {
    const char* formats[] = {"a%", "a%.3s", "a%p", "a%*d", "a%q"};
    for (const char* format : formats) {
        char out[16];
        // Built at run time, so the compiler's format check does not see it.
        const std::string f(format);
        EXPECT_FALSE(FormatText(out, sizeof out, f.c_str(), 0, 0)) << format;
        EXPECT_STREQ(out, "a") << format;
    }
    char out[32];
    const std::string wide("%099999999d");  // the width is capped, and the cut reported
    EXPECT_FALSE(FormatText(out, sizeof out, wide.c_str(), 1));
    EXPECT_EQ(std::strlen(out), 31u);
    EXPECT_EQ(out[0], '0');
}

}  // namespace
