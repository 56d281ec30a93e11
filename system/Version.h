// Version.h: file versions from version resources, as dotted text, and their
// comparison.
//
// A version text is "major.minor.build.revision", each 0..65535, taken from
// the fixed file information (file version, not product version). "0.0.0.0"
// means the file carries no readable version.
#pragma once

#include "text/Text.h"

// The answer for a file without version information.
constexpr char kNoVersionText[] = "0.0.0.0";

// Version of the file at path; kNoVersionText if it has no version resource,
// cannot be read, or path is empty. Leaves nothing allocated.
Text GetFileVersionText(const Text& path);

// Version of the running program's own file (kNoVersionText on failure).
Text GetOwnVersionText();

// True if version is not empty and differs from "0.0.0.0".
bool IsKnownVersion(const Text& version);

// Compares two version texts number by number (missing numbers are 0, text
// after the fourth number is ignored). 0 if equal; otherwise -k or +k where k
// (1..4) is the first differing position, negative when a's number is the
// smaller: ("1.2.4", "1.2.3.9") -> 3, ("0.0.0.0", "1.0.0.0") -> -1.
int CompareVersionText(const Text& a, const Text& b);
