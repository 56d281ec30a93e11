// SetupText.h: names and slot values on their way into a setup, and back.
//
// The setup reads 8-bit text in one code page; manifests, file names on a
// build server and command lines are UTF-8. Text goes in converted, a
// character the code page lacks is refused by name, text that is not UTF-8
// is taken as it is (already in the code page) with a warning; names and
// values are shown back in the terminal's encoding.
#pragma once

#include <string>
#include <vector>

#include "contract/CodePage.h"

namespace qorpack {

// Converts `text` (named `what` in messages) into *out. False with *error when
// a character does not fit; *warning is set (else cleared) when the text was
// not UTF-8 and is taken unchanged.
bool ToSetupText(const std::string& text, const std::string& what,
                 const qor_codepage::SingleByteTable& table, std::string* out, std::string* warning,
                 std::string* error);

// A "MARKER=VALUE" argument with its value converted (markers are ASCII).
bool ConvertSlotArgument(const std::string& arg, const qor_codepage::SingleByteTable& table,
                         std::string* out, std::vector<std::string>* warnings, std::string* error);

// Bytes of the code page as the terminal shows them: UTF-8 when it is a UTF-8
// terminal, else unchanged.
std::string ShowSetupText(const std::string& bytes, const qor_codepage::SingleByteTable& table,
                          bool utf8Terminal);

}  // namespace qorpack
