// AsciiCase.h: the one case-folding rule for names the programs compare.
//
// Archive names, log sections and paths are compared without regard to the
// case of the ASCII letters A-Z only; every other byte compares as itself,
// whatever the code page, so the setup, the uninstaller and qorpack agree.
#pragma once

#include <cstddef>

namespace qor_case {

inline char FoldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether a and b (NUL-terminated) are equal under FoldAscii.
bool EqualAscii(const char* a, const char* b);
// The same over the first n bytes (shorter strings compare up to their NUL).
bool EqualAsciiN(const char* a, const char* b, size_t n);
// Folds s in place.
void FoldAsciiInPlace(char* s);

}  // namespace qor_case
