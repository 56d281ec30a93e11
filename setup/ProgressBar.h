// Geometry of the wizard's progress bar, kept apart from the painting so it
// can be checked without a window.
#pragma once

#include <cstdint>

// Pixels of a bar `width` pixels wide that show `done` out of `total`:
// width * done / total, truncated. Returns 0 when total is 0 or width is not
// positive, and never more than width (done beyond total fills the bar). The
// product is formed in 64 bits, so sizes up to 4 GiB cannot overflow it.
inline long ProgressFilledWidth(long width, uint32_t done, uint32_t total) {
    if (width <= 0 || total == 0) return 0;
    if (done >= total) return width;
    // Divided bit by bit: a 64-bit division would bring the compiler library's
    // division routines into the 32-bit stub.
    const uint64_t product = static_cast<uint64_t>(width) * done;
    uint64_t quotient = 0, rest = 0;
    for (int bit = 63; bit >= 0; --bit) {
        rest = (rest << 1) | ((product >> bit) & 1);
        quotient <<= 1;
        if (rest >= total) {
            rest -= total;
            quotient |= 1;
        }
    }
    return static_cast<long>(quotient);
}
