#include "text/TextUtil.h"

bool ReplaceOccurrences(Text& target, const Text& pattern, const Text& replacement, bool all) {
    const size_t n = pattern.size();
    if (n == 0) return false;
    size_t pos = target.find(pattern, 0);
    if (pos == Text::npos) return false;
    // Restarting from the beginning can only run forever when a step does
    // not shorten the text; then go on after the inserted text instead.
    const bool restart = replacement.size() < n;
    do {
        target.replace(pos, n, replacement);
        if (!all) break;
        pos = target.find(pattern, restart ? 0 : pos + replacement.size());
    } while (pos != Text::npos);
    return true;
}

bool ExtractTagValue(Text& name, const Text& tag, Text& value) {
    value.clear();
    if (tag.empty()) return false;
    Text lowerName = name;
    Text lowerTag = tag;
    lowerName.MakeLower();
    lowerTag.MakeLower();
    const size_t pos = lowerName.find(lowerTag, 0);
    if (pos == Text::npos) return false;
    // The tag holds no "]", so searching from its end finds the same "]" as
    // searching from its second character, and the value cannot run backwards.
    const size_t valueStart = pos + tag.size();
    const size_t close = lowerName.find(']', valueStart);
    if (close == Text::npos) return false;
    value = name.substr(valueStart, close - valueStart);
    ReplaceOccurrences(name, tag + value + "]", Text(), false);
    return true;
}

void GetOptionValue(const Text& cmdline, const Text& option, Text& value) {
    value.clear();
    if (option.empty()) return;
    const size_t pos = cmdline.find(option, 0);
    if (pos == Text::npos) return;
    if (pos != 0 && cmdline[pos - 1] != ' ') return;
    size_t p = pos + option.size();
    char delimiter = ' ';
    if (cmdline[p] == '"') {
        delimiter = '"';
        ++p;
    }
    size_t end = cmdline.find(delimiter, p + 1);
    if (end == Text::npos) end = cmdline.size();
    if (end > p) value = cmdline.substr(p, end - p);
}
