// Format.h: the shipped programs' own bounded printf subset.
//
// The C library's printf family brings a floating-point formatter and locale
// handling into every image that calls it (about 24 KB of the setup stub);
// the installer only ever formats integers and strings. FormatText takes a
// printf-style format that the compiler checks against its arguments:
//   %s %c %d %i %u %x %X %%, a width ("%4u"), the flags '0' (zero padding)
//   and '-' (left alignment), and the length modifiers l, ll and z.
// Anything else (a precision, '*', %p, %f, ...) is refused: the text stops
// before it and the call returns false.
#pragma once

#include <cstdarg>
#include <cstddef>

// Writes the formatted text into out (capacity bytes, always terminated when
// capacity > 0; never written past). True when the whole text fitted and the
// format was understood; false when it was cut (or refused), out then holding
// the part that fitted.
bool FormatText(char* out, size_t capacity, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
bool FormatTextV(char* out, size_t capacity, const char* format, va_list args);
