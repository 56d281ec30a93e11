// The code-page rule: what a UTF-8 name or slot value becomes in the setup's
// code page, and what is refused or taken as it is.
#include "contract/CodePage.h"

#include <gtest/gtest.h>

using namespace qor_codepage;

namespace {

struct Case {
    const char* input;
    Outcome outcome;
    const char* bytes;   // expected code-page bytes (kConverted, kNotUtf8)
    uint32_t codePoint;  // kDoesNotFit
};

const Case kCases[] = {
    {"", Outcome::kConverted, "", 0},
    {"Lumiwave.exe", Outcome::kConverted, "Lumiwave.exe", 0},
    {"Caf\xC3\xA9", Outcome::kConverted, "Caf\xE9", 0},    // é: the upper block
    {"\xE2\x82\xAC 5", Outcome::kConverted, "\x80 5", 0},  // €: 0x80, not U+0080
    {"\xC5\xA0koda \xE2\x84\xA2", Outcome::kConverted, "\x8Akoda \x99", 0},  // Š and ™
    {"\xC3\xBF\xC5\xB8", Outcome::kConverted, "\xFF\x9F", 0},                // ÿ and Ÿ
    {"Caf\xE9", Outcome::kNotUtf8, "Caf\xE9", 0},                            // already 1252
    {"\xC0\xAF", Outcome::kNotUtf8, "\xC0\xAF", 0},                          // overlong '/'
    {"\xED\xA0\x80", Outcome::kNotUtf8, "\xED\xA0\x80", 0},                  // a surrogate
    {"\xC3", Outcome::kNotUtf8, "\xC3", 0},                                  // cut short
    {"\xC2\x81", Outcome::kDoesNotFit, "", 0x81},       // U+0081: 0x81 is undefined in 1252
    {"\xCE\xA9mega", Outcome::kDoesNotFit, "", 0x3A9},  // Greek Ω
    {"\xF0\x9F\x98\x80", Outcome::kDoesNotFit, "", 0x1F600},
};

TEST(CodePageTest, FromUtf8ToWindows1252) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.input);
        const Conversion r = FromUtf8(c.input, Windows1252());
        EXPECT_EQ(r.outcome, c.outcome);
        if (c.outcome == Outcome::kDoesNotFit)
            EXPECT_EQ(r.codePoint, c.codePoint);
        else
            EXPECT_EQ(r.text, c.bytes);
    }
}

TEST(CodePageTest, EveryDefinedByteComesBackThroughUtf8) {
    const SingleByteTable& t = Windows1252();
    for (int b = 1; b < 256; ++b) {
        const std::string one(1, static_cast<char>(b));
        const std::string shown = ToUtf8(one, t);
        if (b >= 0x80 && !t.upper[b - 0x80]) {
            EXPECT_EQ(shown, "\xEF\xBF\xBD") << b;  // shown as U+FFFD, never as a raw byte
            continue;
        }
        const Conversion back = FromUtf8(shown, t);
        EXPECT_EQ(back.outcome, Outcome::kConverted) << b;
        EXPECT_EQ(back.text, one) << b;
    }
}

TEST(CodePageTest, CodePointNames) {
    EXPECT_EQ(CodePointName(0xE9), "U+00E9");
    EXPECT_EQ(CodePointName(0x1F600), "U+1F600");
}

}  // namespace
