// RelativeName.h: when a name put below a folder stays below it. Stored
// archive names, names made from a source tree and names extracted by qorpack
// all pass this one rule.
//
// The name is split into steps at '\' and '/'. It stays below its folder when
// it does not start with a drive ("X:") and no step is empty (a leading,
// doubled or trailing separator), "." or "..". The first fault in reading
// order is the verdict.
#pragma once

#include <cstddef>

enum class RelativeNameVerdict {
    Below,       // stays below its folder
    Drive,       // starts with "X:"
    EmptyStep,   // empty name, or a leading, doubled or trailing separator
    DotStep,     // a "." step
    DotDotStep,  // a ".." step: leads out of its folder
};

RelativeNameVerdict CheckRelativeName(const char* name, size_t size);
