#include "contract/AsciiCase.h"

namespace qor_case {

bool EqualAscii(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b)
        if (FoldAscii(*a) != FoldAscii(*b)) return false;
    return *a == *b;
}

bool EqualAsciiN(const char* a, const char* b, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
        if (!a[i]) return true;
    }
    return true;
}

void FoldAsciiInPlace(char* s) {
    for (; *s; ++s) *s = FoldAscii(*s);
}

}  // namespace qor_case
