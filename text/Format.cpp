#include "text/Format.h"

#include <cstdint>

namespace {

// Appends to a bounded buffer; remembers that something did not fit.
struct Sink {
    char* out;
    size_t capacity;
    size_t used;
    bool cut;

    void Put(char c) {
        if (used + 1 < capacity)
            out[used++] = c;
        else
            cut = true;
    }
    void Pad(size_t n, char c) {
        while (n-- > 0) Put(c);
    }
};

struct Field {
    bool left = false;
    bool zero = false;
    size_t width = 0;
};

// One field: the body (sign or digits or string) padded to the width.
void PutField(Sink& sink, const Field& field, const char* sign, const char* body, size_t length) {
    const size_t signLength = sign[0] ? 1 : 0;
    const size_t pad = field.width > length + signLength ? field.width - length - signLength : 0;
    if (!field.left && !field.zero) sink.Pad(pad, ' ');
    if (signLength) sink.Put(sign[0]);
    if (!field.left && field.zero) sink.Pad(pad, '0');
    for (size_t i = 0; i < length; ++i) sink.Put(body[i]);
    if (field.left) sink.Pad(pad, ' ');
}

// Divides *value by base (at most 16) and returns the remainder, in 32-bit
// divisions of 16-bit pieces: a 64-bit division would bring the compiler
// library's division routines into the 32-bit stub.
unsigned DivideBy(uint64_t* value, unsigned base) {
    if (*value <= 0xFFFFFFFFu) {
        const uint32_t v = static_cast<uint32_t>(*value);
        *value = v / base;
        return v % base;
    }
    uint64_t quotient = 0;
    uint32_t rest = 0;
    for (int shift = 48; shift >= 0; shift -= 16) {
        const uint32_t part = (rest << 16) | static_cast<uint32_t>((*value >> shift) & 0xFFFF);
        quotient = (quotient << 16) | (part / base);
        rest = part % base;
    }
    *value = quotient;
    return rest;
}

void PutNumber(Sink& sink, const Field& field, uint64_t value, bool negative, unsigned base,
               bool upper) {
    char digits[24];  // 2^64 in decimal has 20 digits
    size_t n = sizeof digits;
    const char* symbols = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    do {
        digits[--n] = symbols[DivideBy(&value, base)];
    } while (value != 0);
    PutField(sink, field, negative ? "-" : "", digits + n, sizeof digits - n);
}

}  // namespace

bool FormatTextV(char* out, size_t capacity, const char* format, va_list args) {
    Sink sink{out, capacity, 0, false};
    bool understood = true;
    for (const char* p = format; *p; ++p) {
        if (*p != '%') {
            sink.Put(*p);
            continue;
        }
        ++p;
        Field field;
        for (;; ++p) {
            if (*p == '-')
                field.left = true;
            else if (*p == '0')
                field.zero = true;
            else
                break;
        }
        // A width past any line's length is a mistake; it is capped, not obeyed.
        for (; *p >= '0' && *p <= '9'; ++p)
            if (field.width < 1000) field.width = field.width * 10 + (*p - '0');
        int longs = 0;
        bool sizeT = false;
        for (;; ++p) {
            if (*p == 'l')
                ++longs;
            else if (*p == 'z')
                sizeT = true;
            else
                break;
        }
        const char conversion = *p;
        if (conversion == 'd' || conversion == 'i') {
            int64_t v;
            if (longs >= 2)
                v = va_arg(args, long long);
            else if (longs == 1)
                v = va_arg(args, long);
            else if (sizeT)
                v = static_cast<int64_t>(va_arg(args, ptrdiff_t));
            else
                v = va_arg(args, int);
            const uint64_t magnitude = v < 0 ? 0 - static_cast<uint64_t>(v) : v;
            PutNumber(sink, field, magnitude, v < 0, 10, false);
        } else if (conversion == 'u' || conversion == 'x' || conversion == 'X') {
            uint64_t v;
            if (longs >= 2)
                v = va_arg(args, unsigned long long);
            else if (longs == 1)
                v = va_arg(args, unsigned long);
            else if (sizeT)
                v = va_arg(args, size_t);
            else
                v = va_arg(args, unsigned);
            PutNumber(sink, field, v, false, conversion == 'u' ? 10 : 16, conversion == 'X');
        } else if (conversion == 's') {
            const char* s = va_arg(args, const char*);
            if (!s) s = "(null)";
            size_t length = 0;
            while (s[length]) ++length;
            field.zero = false;
            PutField(sink, field, "", s, length);
        } else if (conversion == 'c') {
            const char c = static_cast<char>(va_arg(args, int));
            field.zero = false;
            PutField(sink, field, "", &c, 1);
        } else if (conversion == '%') {
            sink.Put('%');
        } else {
            understood = false;  // unknown, or the format ended inside the field
            break;
        }
    }
    if (capacity > 0) out[sink.used] = 0;
    return understood && !sink.cut;
}

bool FormatText(char* out, size_t capacity, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const bool whole = FormatTextV(out, capacity, format, args);
    va_end(args);
    return whole;
}
