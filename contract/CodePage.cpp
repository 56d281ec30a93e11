#include "contract/CodePage.h"
#include "text/Format.h"

namespace qor_codepage {

namespace {

// Windows-1252 bytes 0x80-0x9F; 0xA0-0xFF are U+00A0-U+00FF.
constexpr uint16_t k1252Low[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                   0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                   0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                   0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

SingleByteTable Make1252() {
    SingleByteTable t{1252, {}};
    for (int i = 0; i < 32; ++i) t.upper[i] = k1252Low[i];
    for (int i = 32; i < 128; ++i) t.upper[i] = static_cast<uint16_t>(0x80 + i);
    return t;
}

// Decodes one UTF-8 sequence at s[i]; returns its length, 0 when malformed
// (overlong forms, surrogates and values past U+10FFFF included).
size_t DecodeOne(const std::string& s, size_t i, uint32_t* cp) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
        *cp = c;
        return 1;
    }
    size_t n;
    uint32_t v, min;
    if ((c & 0xE0) == 0xC0)
        n = 2, v = c & 0x1F, min = 0x80;
    else if ((c & 0xF0) == 0xE0)
        n = 3, v = c & 0x0F, min = 0x800;
    else if ((c & 0xF8) == 0xF0)
        n = 4, v = c & 0x07, min = 0x10000;
    else
        return 0;
    if (i + n > s.size()) return 0;
    for (size_t k = 1; k < n; ++k) {
        const unsigned char d = static_cast<unsigned char>(s[i + k]);
        if ((d & 0xC0) != 0x80) return 0;
        v = (v << 6) | (d & 0x3F);
    }
    if (v < min || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
    *cp = v;
    return n;
}

void AppendUtf8(std::string* out, uint32_t cp) {
    if (cp < 0x80) {
        out->push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

}  // namespace

const SingleByteTable& Windows1252() {
    // Built on first use: the exported engine's callers run no constructors.
    static const SingleByteTable table = Make1252();
    return table;
}

bool IsValidUtf8(const std::string& s) {
    uint32_t cp;
    for (size_t i = 0; i < s.size();) {
        const size_t n = DecodeOne(s, i, &cp);
        if (!n) return false;
        i += n;
    }
    return true;
}

Conversion FromUtf8(const std::string& s, const SingleByteTable& table) {
    if (!IsValidUtf8(s)) return {Outcome::kNotUtf8, s, 0};
    Conversion r{Outcome::kConverted, std::string(), 0};
    r.text.reserve(s.size());
    uint32_t cp = 0;
    for (size_t i = 0; i < s.size();) {
        i += DecodeOne(s, i, &cp);
        if (cp < 0x80) {
            r.text.push_back(static_cast<char>(cp));
            continue;
        }
        int byte = -1;
        for (int k = 0; k < 128 && byte < 0; ++k)
            if (table.upper[k] && table.upper[k] == cp) byte = 0x80 + k;
        if (byte < 0) return {Outcome::kDoesNotFit, std::string(), cp};
        r.text.push_back(static_cast<char>(byte));
    }
    return r;
}

std::string ToUtf8(const std::string& bytes, const SingleByteTable& table) {
    std::string out;
    out.reserve(bytes.size());
    for (char ch : bytes) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c < 0x80)
            out.push_back(ch);
        else
            AppendUtf8(&out, table.upper[c - 0x80] ? table.upper[c - 0x80] : 0xFFFD);
    }
    return out;
}

std::string CodePointName(uint32_t codePoint) {
    char buf[16];
    FormatText(buf, sizeof buf, "U+%04X", static_cast<unsigned>(codePoint));
    return buf;
}

}  // namespace qor_codepage
