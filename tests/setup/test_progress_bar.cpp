// The filled width of the wizard's progress bar.
#include "setup/ProgressBar.h"

#include <gtest/gtest.h>

TEST(ProgressFilledWidth, ProportionalAndTruncated) {
    EXPECT_EQ(ProgressFilledWidth(300, 0, 1000), 0);
    EXPECT_EQ(ProgressFilledWidth(300, 500, 1000), 150);
    EXPECT_EQ(ProgressFilledWidth(300, 999, 1000), 299);  // truncated, not rounded
    EXPECT_EQ(ProgressFilledWidth(300, 1000, 1000), 300);
}

TEST(ProgressFilledWidth, EmptyBarForNothingToPlace) {
    EXPECT_EQ(ProgressFilledWidth(300, 0, 0), 0);
    EXPECT_EQ(ProgressFilledWidth(300, 5, 0), 0);
}

TEST(ProgressFilledWidth, LargeSizesDoNotOverflow) {
    // 32-bit arithmetic would wrap width * done here.
    EXPECT_EQ(ProgressFilledWidth(600, 0xC0000000u, 0xFFFFFFFFu), 450);
    EXPECT_EQ(ProgressFilledWidth(600, 0xFFFFFFFEu, 0xFFFFFFFFu), 599);
}

TEST(ProgressFilledWidth, NeverBeyondTheBar) {
    EXPECT_EQ(ProgressFilledWidth(300, 2000, 1000), 300);
    EXPECT_EQ(ProgressFilledWidth(0, 10, 100), 0);
    EXPECT_EQ(ProgressFilledWidth(-4, 10, 100), 0);  // a bar smaller than its frame
}

TEST(ProgressFilledWidth, AgreesWithTheWideDivision) {
    const uint32_t values[] = {1u,          2u,          3u,         7u,          99u,
                               1000u,       65535u,      65536u,     0x7FFFFFFFu, 0x80000000u,
                               0xC0000001u, 0xFFFFFFFEu, 0xFFFFFFFFu};
    const long widths[] = {1, 2, 299, 300, 601, 1920, 32767, 65536};
    for (long width : widths)
        for (uint32_t total : values)
            for (uint32_t done : values) {
                if (done >= total) continue;
                const uint64_t expected = static_cast<uint64_t>(width) * done / total;
                EXPECT_EQ(ProgressFilledWidth(width, done, total), static_cast<long>(expected))
                    << width << " " << done << "/" << total;
            }
}
