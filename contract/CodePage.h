// CodePage.h: text in the setup's 8-bit code page.
//
// The setup reads its slots and stored names as bytes of one single-byte
// Windows code page (Windows-1252 unless the packager says otherwise), while
// manifests and command lines on a build server are UTF-8. qorpack converts
// with these functions and shows the bytes back with them, so a name arrives
// on the user's disk as it was written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qor_codepage {

constexpr unsigned kDefaultCodePage = 1252;

// The upper half of a single-byte code page: the Unicode code point of byte
// 0x80 + i, or 0 where the code page leaves the byte undefined. The lower
// half is ASCII in every code page the setup can run with.
struct SingleByteTable {
    unsigned codePage;
    uint16_t upper[128];
};

// Windows-1252, built in so the default needs nothing from the system.
const SingleByteTable& Windows1252();

enum class Outcome {
    kConverted,  // UTF-8 text (or plain ASCII) converted; text holds the code page's bytes
    kNotUtf8,    // not valid UTF-8: taken as it is, assumed to be in the code page already
    kDoesNotFit  // valid UTF-8 with a character the code page lacks: codePoint names it
};

struct Conversion {
    Outcome outcome;
    std::string text;
    uint32_t codePoint;  // the first character that does not fit (kDoesNotFit)
};

bool IsValidUtf8(const std::string& s);

// UTF-8 to the code page; see Outcome.
Conversion FromUtf8(const std::string& s, const SingleByteTable& table);

// The code page's bytes as UTF-8, to show them; an undefined byte becomes U+FFFD.
std::string ToUtf8(const std::string& bytes, const SingleByteTable& table);

// "U+00E9" for a code point, for messages.
std::string CodePointName(uint32_t codePoint);

}  // namespace qor_codepage
