// Counts given on the command line (--jobs N, --entry N): the whole text must
// be a decimal number in range; "2x", "-1", " 3" and "" are refused rather
// than read as 2, 18446744073709551615, 3 or 0.
#pragma once

#include <string>

namespace qorpack {

// True with *out when `text` is only decimal digits and its value lies in
// [lo, hi]; *out is left alone otherwise.
bool ParseCount(const std::string& text, unsigned long lo, unsigned long hi, unsigned long* out);

}  // namespace qorpack
