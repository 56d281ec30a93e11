#include "text/Text.h"

#include <cstring>

Text::Text(const char* s) : s_(s ? s : "") {}
Text::Text(const char* s, size_t n) : s_(s ? std::string(s, n) : std::string()) {}
Text::Text(const Text& t) = default;
Text::Text(Text&& t) noexcept = default;
Text& Text::operator=(const Text& t) = default;
Text& Text::operator=(Text&& t) noexcept = default;
Text::~Text() = default;

Text& Text::operator=(const char* s) {
    s_ = s ? s : "";
    return *this;
}

Text Text::substr(size_t pos, size_t count) const {
    return pos < s_.size() ? Text(s_.substr(pos, count)) : Text();
}

Text& Text::append(const Text& t) {
    s_.append(t.s_);
    return *this;
}

Text& Text::append(const char* s) {
    if (s) s_.append(s);
    return *this;
}

bool operator==(const Text& a, const Text& b) { return a.s_ == b.s_; }

// Each sum is made in place, at its final length.
Text operator+(const Text& a, const Text& b) {
    Text sum;
    sum.s_.reserve(a.size() + b.size());
    sum.s_.append(a.s_).append(b.s_);
    return sum;
}

Text operator+(const Text& a, const char* b) {
    const size_t n = b ? std::strlen(b) : 0;
    Text sum;
    sum.s_.reserve(a.size() + n);
    sum.s_.append(a.s_).append(b ? b : "", n);
    return sum;
}

Text operator+(const Text& a, char c) {
    Text sum;
    sum.s_.reserve(a.size() + 1);
    sum.s_.append(a.s_).push_back(c);
    return sum;
}

Text operator+(const char* a, const Text& b) {
    const size_t n = a ? std::strlen(a) : 0;
    Text sum;
    sum.s_.reserve(n + b.size());
    sum.s_.append(a ? a : "", n).append(b.s_);
    return sum;
}
