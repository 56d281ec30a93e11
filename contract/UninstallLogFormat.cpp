#include "contract/UninstallLogFormat.h"

#include <cstring>

#include "contract/AsciiCase.h"

Text LogSectionName(const Text& prefix, const char* baseName) { return prefix + " " + baseName; }

Text LogSectionUnit(const Text& section) {
    for (const char* base : kLogUnitBases) {
        const size_t n = std::strlen(base) + 1;  // with its separating blank
        if (section.size() <= n) continue;
        const char* tail = section.c_str() + section.size() - n;
        if (tail[0] == ' ' && qor_case::EqualAscii(tail + 1, base))
            return section.substr(0, section.size() - n);
    }
    return Text();
}
