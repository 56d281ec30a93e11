// CodePageTable.h: the table of a single-byte Windows code page, for
// --codepage. Windows-1252 is built in; others come from the system's
// converter (iconv on POSIX, the code-page API on Windows).
#pragma once

#include <string>

#include "contract/CodePage.h"

namespace qorpack {

// Fills *out for code page `codePage`. False with a message when the system
// does not know it or it is not a single-byte code page (the setup reads
// 8-bit text).
bool LoadCodePageTable(unsigned codePage, qor_codepage::SingleByteTable* out, std::string* error);

// Whether text written to standard output is shown as UTF-8 (a UTF-8 locale),
// so names in the code page must be converted to be read.
bool TerminalIsUtf8();

}  // namespace qorpack
