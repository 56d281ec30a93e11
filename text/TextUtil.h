// The installer's text conventions: placeholder substitution in messages,
// bracketed tags in archive entry names, and options on the command line.
// None of these report errors; an absent pattern, tag or option gives false
// or an empty value and leaves the input as it was.
#pragma once

#include "text/Text.h"

// Replaces pattern in target by replacement, case-sensitively.
// With all clear, only the first occurrence is replaced. With all set, the
// search starts again at the beginning after each replacement, so an
// occurrence formed by the replacement and its neighbours is replaced too;
// that restart is made only while the replacement is shorter than the
// pattern (each step shortens the text, so the loop ends). A replacement of
// the same length or longer (one that contains the pattern, say) is applied
// in a single left-to-right pass instead: the search resumes after the
// inserted text, and every occurrence of the original text is replaced once.
// Returns true when at least one replacement was made. Returns false, with
// target unchanged, when the pattern does not occur or is empty.
bool ReplaceOccurrences(Text& target, const Text& pattern, const Text& replacement, bool all);

// Takes a bracketed tag such as "[InstCmd=-register]" out of an archive entry
// name. The tag (e.g. "[InstCmd=") is looked for without regard to letter
// case; value receives the name's characters after the tag up to the next
// "]", in their own case. Then tag + value + "]", spelled with the caller's
// tag, is removed from name (first occurrence, case-sensitive): a tag written
// in other letter case yields its value but stays in the name.
// Returns true when the tag and its closing "]" were found. Returns false,
// with value empty and name unchanged, when either is missing or tag is
// empty. The tag must not contain "]".
bool ExtractTagValue(Text& name, const Text& tag, Text& value);

// Reads the value of option (e.g. "-receivedir=") from a command line that
// the caller has lower-cased. Only the first occurrence of option counts, and
// only when it starts the line or follows a space. A value starting with a
// double quote runs to the next double quote (or the end) and is returned
// without its quotes; otherwise it runs to the next space (or the end). The
// delimiter is looked for from the value's second character on, so a value
// is one character long at least unless the option ends the line.
// value is emptied first; it stays empty when the option is absent, does not
// qualify, or is empty.
void GetOptionValue(const Text& cmdline, const Text& option, Text& value);
