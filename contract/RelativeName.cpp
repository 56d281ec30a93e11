#include "contract/RelativeName.h"

RelativeNameVerdict CheckRelativeName(const char* name, size_t size) {
    if (size >= 2 && name[1] == ':') return RelativeNameVerdict::Drive;
    size_t start = 0;
    for (;;) {
        size_t end = start;
        while (end < size && name[end] != '\\' && name[end] != '/') ++end;
        const size_t n = end - start;
        if (n == 0) return RelativeNameVerdict::EmptyStep;
        if (n == 1 && name[start] == '.') return RelativeNameVerdict::DotStep;
        if (n == 2 && name[start] == '.' && name[start + 1] == '.')
            return RelativeNameVerdict::DotDotStep;
        if (end == size) return RelativeNameVerdict::Below;
        start = end + 1;
    }
}
