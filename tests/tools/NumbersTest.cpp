// Counts on the command line are taken whole or not at all.
#include <gtest/gtest.h>

#include <string>

#include "Numbers.h"

using namespace qorpack;

TEST(ParseCount, WholeDecimalNumbersInRangeOnly) {
    struct Case {
        const char* text;
        unsigned long lo, hi;
        bool ok;
        unsigned long value;
    } cases[] = {
        {"2", 1, 64, true, 2},
        {"64", 1, 64, true, 64},
        {"065", 1, 64, false, 0},
        {"2x", 1, 64, false, 0},
        {"0", 1, 64, false, 0},
        {"-1", 1, 4294967295ul, false, 0},
        {"+1", 1, 64, false, 0},
        {" 3", 1, 64, false, 0},
        {"", 1, 64, false, 0},
        {"18446744073709551617", 1, 4294967295ul, false, 0},
        {"4294967295", 1, 4294967295ul, true, 4294967295ul},
        {"4294967296", 1, 4294967295ul, false, 0},
    };
    for (const Case& c : cases) {
        unsigned long v = 12345;
        EXPECT_EQ(ParseCount(c.text, c.lo, c.hi, &v), c.ok) << c.text;
        EXPECT_EQ(v, c.ok ? c.value : 12345ul) << c.text;
    }
}
