// Loading string-table entries (Windows builds only).
#pragma once

#include <windows.h>

#include "text/Text.h"

// Size of the buffer an entry is read into: at most 255 characters are kept.
constexpr int kResourceTextBuffer = 256;

// Returns string-table entry id of module instance as a Text, cut at 255
// characters. An id the module's string table lacks (or a failed lookup)
// gives the empty Text; nothing else is left behind.
Text LoadResourceText(HINSTANCE instance, UINT id);
