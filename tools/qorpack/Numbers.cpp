#include "Numbers.h"

namespace qorpack {

bool ParseCount(const std::string& text, unsigned long lo, unsigned long hi, unsigned long* out) {
    if (text.empty() || text.size() > 19) return false;  // 19 digits cannot overflow 64 bits
    unsigned long long v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<unsigned long long>(c - '0');
    }
    if (v < lo || v > hi) return false;
    *out = static_cast<unsigned long>(v);
    return true;
}

}  // namespace qorpack
