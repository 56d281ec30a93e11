// Text: the one string type of the installer. An owned, growable run of
// 8-bit ANSI characters with value semantics, behaving as a byte string.
//
// Contract highlights:
//   - operator[] at or past the end returns NUL, never fails.
//   - Every search returns a zero-based position, or npos (all bits set).
//   - Comparison and search are byte-exact; MakeLower touches only 'A'..'Z'.
//   - A null `const char*` is treated as the empty string everywhere.
#pragma once

#include <cstddef>
#include <string>

class Text {
public:
    static constexpr size_t npos = std::string::npos;

    // The members that make, copy, join and drop a Text are out of line
    // (text/Text.cpp): inlined, each use took tens of bytes of the stub.
    Text() = default;
    Text(const char* s);  // NOLINT: implicit by design
    Text(const char* s, size_t n);
    Text(const Text& t);
    Text(Text&& t) noexcept;
    Text& operator=(const Text& t);
    Text& operator=(Text&& t) noexcept;
    ~Text();
    Text(size_t n, char c) : s_(n, c) {}
    explicit Text(const std::string& s) : s_(s) {}
    explicit Text(std::string&& s) : s_(std::move(s)) {}

    Text& operator=(const char* s);

    size_t size() const { return s_.size(); }
    size_t length() const { return s_.size(); }
    bool empty() const { return s_.empty(); }
    const char* c_str() const { return s_.c_str(); }
    const char* data() const { return s_.data(); }
    void clear() { s_.clear(); }
    void reserve(size_t n) { s_.reserve(n); }
    void resize(size_t n, char c = '\0') { s_.resize(n, c); }

    // Character at i; NUL for i at or beyond the end.
    char operator[](size_t i) const { return i < s_.size() ? s_[i] : '\0'; }
    // Overwrites the character at i; ignored when i is out of range.
    void SetAt(size_t i, char c) {
        if (i < s_.size()) s_[i] = c;
    }
    char back() const { return s_.empty() ? '\0' : s_.back(); }

    // First occurrence at or after start. An empty pattern is found at start
    // when start is not beyond the end.
    size_t find(const Text& pattern, size_t start = 0) const { return s_.find(pattern.s_, start); }
    size_t find(const char* pattern, size_t start = 0) const {
        return s_.find(pattern ? pattern : "", start);
    }
    size_t find(char c, size_t start = 0) const { return s_.find(c, start); }
    // Last occurrence.
    size_t rfind(const char* pattern) const { return s_.rfind(pattern ? pattern : ""); }
    size_t rfind(const Text& pattern) const { return s_.rfind(pattern.s_); }
    size_t rfind(char c, size_t start = npos) const { return s_.rfind(c, start); }

    // Removes count characters from pos (npos: to the end). pos past the end
    // is clamped to the end so the call never throws.
    Text& erase(size_t pos, size_t count = npos) {
        if (pos < s_.size()) s_.erase(pos, count);
        return *this;
    }
    // Replaces the count characters at pos by r; pos past the end appends.
    Text& replace(size_t pos, size_t count, const Text& r) {
        if (pos > s_.size()) pos = s_.size();
        s_.replace(pos, count, r.s_);
        return *this;
    }
    Text& insert(size_t pos, const Text& t) {
        if (pos > s_.size()) pos = s_.size();
        s_.insert(pos, t.s_);
        return *this;
    }
    // Characters [pos, pos+count); empty when pos is past the end.
    Text substr(size_t pos, size_t count = npos) const;

    Text& append(const Text& t);
    Text& append(const char* s);
    Text& append(const char* s, size_t n) {
        if (s) s_.append(s, n);
        return *this;
    }
    Text& append(char c) {
        s_.push_back(c);
        return *this;
    }
    Text& operator+=(const Text& t) { return append(t); }
    Text& operator+=(const char* s) { return append(s); }
    Text& operator+=(char c) { return append(c); }

    // Byte-wise three-way comparison; a proper prefix orders first.
    int compare(const Text& t) const { return s_.compare(t.s_); }
    int compare(const char* s) const { return s_.compare(s ? s : ""); }
    // True when compare gives 0; a null string equals only the empty Text.
    bool Equals(const char* s) const { return s ? s_ == s : s_.empty(); }

    // In place: 'A'..'Z' to 'a'..'z'; every other byte, 128-255 included, kept.
    Text& MakeLower() {
        for (char& c : s_)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return *this;
    }

    const std::string& str() const { return s_; }

    friend bool operator==(const Text& a, const Text& b);
    friend bool operator!=(const Text& a, const Text& b) { return a.s_ != b.s_; }
    friend bool operator<(const Text& a, const Text& b) { return a.s_ < b.s_; }
    friend bool operator==(const Text& a, const char* b) { return a.Equals(b); }
    friend bool operator!=(const Text& a, const char* b) { return !a.Equals(b); }
    friend Text operator+(const Text& a, const Text& b);
    friend Text operator+(const Text& a, const char* b);
    friend Text operator+(const Text& a, char c);
    friend Text operator+(const char* a, const Text& b);

private:
    std::string s_;
};
