// QzfTypes.h: the few Windows types the archive engine's interface uses.
//
// On Win32 they come from <windows.h> itself, so the class is declared under
// the real Windows headers (and exports with the types callers expect).
// Elsewhere an identical plain-data FILETIME and DWORD are defined here, so the
// same engine source builds natively for the packaging tool and the tests.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdint>

typedef uint32_t DWORD;

// Count of 100-nanosecond intervals since 1601-01-01 00:00 UTC, split in halves.
struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};
#endif
