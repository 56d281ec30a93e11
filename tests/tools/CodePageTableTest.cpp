// Code pages for --codepage: the built-in Windows-1252 agrees with the
// system's converter byte for byte, others load, and what the setup cannot
// read is refused.
#include "CodePageTable.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <iconv.h>
#endif

using namespace qorpack;
using qor_codepage::SingleByteTable;

namespace {

#ifndef _WIN32
TEST(CodePageTableTest, BuiltIn1252IsTheSystems) {
    iconv_t cd = iconv_open("UTF-16LE", "CP1252");
    ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
    const SingleByteTable& mine = qor_codepage::Windows1252();
    for (int i = 0; i < 128; ++i) {
        char in = static_cast<char>(0x80 + i), out[4];
        char *ip = &in, *op = out;
        size_t il = 1, ol = sizeof out;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        const bool defined = iconv(cd, &ip, &il, &op, &ol) != static_cast<size_t>(-1);
        const unsigned sys =
            defined ? static_cast<unsigned char>(out[0]) | static_cast<unsigned char>(out[1]) << 8
                    : 0;
        EXPECT_EQ(mine.upper[i], sys) << "byte " << 0x80 + i;
    }
    iconv_close(cd);
}

TEST(CodePageTableTest, OtherCodePagesComeFromTheSystem) {
    SingleByteTable t{};
    std::string error;
    ASSERT_TRUE(LoadCodePageTable(1250, &t, &error)) << error;
    EXPECT_EQ(t.codePage, 1250u);
    EXPECT_EQ(t.upper[0xA5 - 0x80], 0x0104);  // Ą, where 1252 has ¥
    EXPECT_EQ(t.upper[0xE9 - 0x80], 0x00E9);
}
#endif

TEST(CodePageTableTest, RefusedCodePages) {
    for (unsigned cp : {932u, 936u, 65001u, 99999u}) {
        SCOPED_TRACE(cp);
        SingleByteTable t{};
        std::string error;
        EXPECT_FALSE(LoadCodePageTable(cp, &t, &error));
        EXPECT_NE(error.find(std::to_string(cp)), std::string::npos);
    }
}

}  // namespace
