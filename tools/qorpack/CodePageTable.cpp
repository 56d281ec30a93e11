#include "CodePageTable.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <iconv.h>
#include <langinfo.h>
#include <clocale>
#include <cstring>
#endif

namespace qorpack {

namespace {

bool SystemTable(unsigned codePage, qor_codepage::SingleByteTable* out) {
    out->codePage = codePage;
#ifdef _WIN32
    CPINFO info;
    if (!GetCPInfo(codePage, &info) || info.MaxCharSize != 1) return false;
    for (int i = 0; i < 128; ++i) {
        const char byte = static_cast<char>(0x80 + i);
        wchar_t wide = 0;
        out->upper[i] = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, &byte, 1, &wide, 1) == 1
                            ? static_cast<uint16_t>(wide)
                            : 0;
    }
    return true;
#else
    const std::string name = "CP" + std::to_string(codePage);
    iconv_t cd = iconv_open("UTF-16LE", name.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    bool single = true;
    for (int i = 0; i < 128; ++i) {
        char in = static_cast<char>(0x80 + i);
        unsigned char outBuf[8];
        char* inPtr = &in;
        char* outPtr = reinterpret_cast<char*>(outBuf);
        size_t inLeft = 1, outLeft = sizeof outBuf;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        size_t r = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        if (r == static_cast<size_t>(-1) && errno == EINVAL) single = false;  // a lead byte
        // Windows-1255 and 1258 hold a letter back for a combining mark that
        // may follow: the flush hands it out.
        if (r != static_cast<size_t>(-1)) r = iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
        out->upper[i] = (r != static_cast<size_t>(-1) && sizeof outBuf - outLeft == 2)
                            ? static_cast<uint16_t>(outBuf[0] | (outBuf[1] << 8))
                            : 0;
    }
    iconv_close(cd);
    return single;
#endif
}

}  // namespace

bool LoadCodePageTable(unsigned codePage, qor_codepage::SingleByteTable* out, std::string* error) {
    if (codePage == qor_codepage::kDefaultCodePage) {
        *out = qor_codepage::Windows1252();
        return true;
    }
    if (!SystemTable(codePage, out)) {
        *error = "code page " + std::to_string(codePage) +
                 " is not a single-byte code page this system knows (the setup reads 8-bit text)";
        return false;
    }
    return true;
}

bool TerminalIsUtf8() {
#ifdef _WIN32
    return GetConsoleOutputCP() == CP_UTF8;
#else
    // Asked under the user's locale, then the tool's own is put back.
    const char* was = setlocale(LC_CTYPE, nullptr);
    const std::string saved = was ? was : "C";
    setlocale(LC_CTYPE, "");
    const char* cs = nl_langinfo(CODESET);
    const bool utf8 = cs && !strcmp(cs, "UTF-8");
    setlocale(LC_CTYPE, saved.c_str());
    return utf8;
#endif
}

}  // namespace qorpack
