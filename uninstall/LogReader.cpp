#include "uninstall/LogReader.h"

#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "contract/AsciiCase.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// [begin, end) without blanks (and a CR) at either side.
void Trim(const char*& begin, const char*& end) {
    while (begin < end && IsBlank(*begin)) ++begin;
    while (end > begin && (IsBlank(end[-1]) || end[-1] == '\r')) --end;
}

Text Field(const char* begin, const char* end, bool& overlong) {
    size_t n = static_cast<size_t>(end - begin);
    if (n > kMaxLogField) {
        overlong = true;
        n = kMaxLogField;
    }
    return Text(begin, n);
}

// One line of the file: where it starts, where its text ends (before CR LF)
// and where the next line starts.
struct Line {
    const char* begin;
    const char* end;
    const char* next;
};

Line NextLine(const char* p, const char* limit) {
    const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(limit - p)));
    const char* end = nl ? nl : limit;
    return Line{p, end, nl ? nl + 1 : limit};
}

enum class LineKind { Ignored, Section, Entry };

// Classifies a line; for a section gives its name, for an entry its key and
// value (trimmed, not yet cut to length).
LineKind Classify(const Line& line, const char*& a, const char*& b, const char*& c,
                  const char*& d) {
    if (std::memchr(line.begin, '\0', static_cast<size_t>(line.end - line.begin)))
        return LineKind::Ignored;
    const char* begin = line.begin;
    const char* end = line.end;
    Trim(begin, end);
    if (begin == end || *begin == ';') return LineKind::Ignored;
    if (*begin == '[') {
        const char* close =
            static_cast<const char*>(std::memchr(begin, ']', static_cast<size_t>(end - begin)));
        a = begin + 1;
        b = close ? close : end;
        Trim(a, b);
        return LineKind::Section;
    }
    const char* eq =
        static_cast<const char*>(std::memchr(begin, '=', static_cast<size_t>(end - begin)));
    a = begin;
    b = eq ? eq : end;
    Trim(a, b);
    c = eq ? eq + 1 : end;
    d = end;
    Trim(c, d);
    return LineKind::Entry;
}

bool HasNul(const Line& line) {
    return std::memchr(line.begin, '\0', static_cast<size_t>(line.end - line.begin)) != nullptr;
}

}  // namespace

std::string LowerAscii(const Text& t) {
    std::string s = t.str();
    for (char& ch : s) ch = qor_case::FoldAscii(ch);
    return s;
}

bool EqualsNoCase(const Text& a, const Text& b) {
    if (a.size() != b.size()) return false;
    return LowerAscii(a) == LowerAscii(b);
}

UninstallLog ParseUninstallLog(const char* data, size_t size) {
    UninstallLog log;
    if (!data) return log;
    // Sections by lower-cased name, and the keys already seen in each.
    std::unordered_map<std::string, size_t>& sectionIndex = log.index;
    std::vector<std::unordered_set<std::string>> seenKeys;
    size_t current = static_cast<size_t>(-1);
    const char* limit = data + size;
    for (const char* p = data; p < limit;) {
        Line line = NextLine(p, limit);
        p = line.next;
        if (HasNul(line)) {
            ++log.droppedLines;
            continue;
        }
        const char *a = nullptr, *b = nullptr, *c = nullptr, *d = nullptr;
        LineKind kind = Classify(line, a, b, c, d);
        if (kind == LineKind::Section) {
            bool overlong = false;
            Text name = Field(a, b, overlong);
            auto found = sectionIndex.emplace(LowerAscii(name), log.sections.size());
            if (found.second) {
                log.sections.push_back(LogSection{name, {}});
                seenKeys.emplace_back();
            }
            current = found.first->second;
        } else if (kind == LineKind::Entry && current != static_cast<size_t>(-1)) {
            LogEntry entry;
            entry.key = Field(a, b, entry.overlong);
            entry.value = Field(c, d, entry.overlong);
            if (seenKeys[current].insert(LowerAscii(entry.key)).second)
                log.sections[current].entries.push_back(std::move(entry));
        }
    }
    return log;
}

const LogSection* FindSection(const UninstallLog& log, const Text& name) {
    if (!log.index.empty() || log.sections.empty()) {
        auto found = log.index.find(LowerAscii(name));
        return found == log.index.end() ? nullptr : &log.sections[found->second];
    }
    for (const LogSection& s : log.sections)
        if (EqualsNoCase(s.name, name)) return &s;
    return nullptr;
}

std::string LogEntryId(const Text& section, const Text& key) {
    return LowerAscii(section) + '\x01' + LowerAscii(key);
}

std::string RewriteLog(const char* data, size_t size, const std::set<std::string>& drop) {
    std::string out;
    if (!data) return out;
    out.reserve(size);
    const char* limit = data + size;
    // Pass 1: per section header (in file order), whether every one of its
    // entries is dropped, which takes the header with them.
    std::vector<bool> emptied;
    {
        Text section;
        size_t entries = 0, dropped = 0;
        bool inSection = false;
        for (const char* p = data; p < limit;) {
            Line line = NextLine(p, limit);
            p = line.next;
            const char *a = nullptr, *b = nullptr, *c = nullptr, *d = nullptr;
            LineKind kind = HasNul(line) ? LineKind::Ignored : Classify(line, a, b, c, d);
            bool overlong = false;
            if (kind == LineKind::Section) {
                if (inSection) emptied.push_back(entries > 0 && dropped == entries);
                section = Field(a, b, overlong);
                entries = dropped = 0;
                inSection = true;
            } else if (kind == LineKind::Entry && inSection) {
                ++entries;
                if (drop.count(LogEntryId(section, Field(a, b, overlong)))) ++dropped;
            }
        }
        if (inSection) emptied.push_back(entries > 0 && dropped == entries);
    }
    // Pass 2: copy every line but the dropped entries and emptied headers.
    Text section;
    size_t headers = 0;
    bool inSection = false;
    for (const char* p = data; p < limit;) {
        Line line = NextLine(p, limit);
        p = line.next;
        const char *a = nullptr, *b = nullptr, *c = nullptr, *d = nullptr;
        LineKind kind = HasNul(line) ? LineKind::Ignored : Classify(line, a, b, c, d);
        bool overlong = false;
        if (kind == LineKind::Section) {
            section = Field(a, b, overlong);
            inSection = true;
            if (emptied[headers++]) continue;
        } else if (kind == LineKind::Entry && inSection &&
                   drop.count(LogEntryId(section, Field(a, b, overlong)))) {
            continue;
        }
        out.append(line.begin, line.next);
    }
    return out;
}
