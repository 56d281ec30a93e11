#include "SetupText.h"

namespace qorpack {

using qor_codepage::Conversion;
using qor_codepage::Outcome;

bool ToSetupText(const std::string& text, const std::string& what,
                 const qor_codepage::SingleByteTable& table, std::string* out, std::string* warning,
                 std::string* error) {
    warning->clear();
    const Conversion c = qor_codepage::FromUtf8(text, table);
    if (c.outcome == Outcome::kDoesNotFit) {
        *error = what + " holds the character " + qor_codepage::CodePointName(c.codePoint) +
                 ", which code page " + std::to_string(table.codePage) +
                 " (the setup's text) cannot hold; use another character or --codepage";
        return false;
    }
    if (c.outcome == Outcome::kNotUtf8)
        *warning = what + " is not UTF-8: taken as it is, as text in code page " +
                   std::to_string(table.codePage);
    *out = c.text;
    return true;
}

bool ConvertSlotArgument(const std::string& arg, const qor_codepage::SingleByteTable& table,
                         std::string* out, std::vector<std::string>* warnings, std::string* error) {
    const size_t eq = arg.find('=');
    if (eq == std::string::npos) {  // the slot parser says what is wrong
        *out = arg;
        return true;
    }
    std::string value, warning;
    if (!ToSetupText(arg.substr(eq + 1), "the value for " + arg.substr(0, eq), table, &value,
                     &warning, error))
        return false;
    if (!warning.empty()) warnings->push_back(warning);
    *out = arg.substr(0, eq + 1) + value;
    return true;
}

std::string ShowSetupText(const std::string& bytes, const qor_codepage::SingleByteTable& table,
                          bool utf8Terminal) {
    return utf8Terminal ? qor_codepage::ToUtf8(bytes, table) : bytes;
}

}  // namespace qorpack
