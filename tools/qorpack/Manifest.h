// Build manifests: which files go into a setup, under which stored names.
//
// One entry per line:    SOURCE => STORED NAME
//   - blank lines and lines whose first non-blank character is '#' are skipped;
//   - the line is split at its first "=>"; blanks around both halves are
//     dropped, everything else is kept: the stored name is written to the
//     archive exactly as it stands, placement prefixes and tags included
//     ("[TROVIX][InstCmd=-register][UninstCmd=-unregister]\QorDL.exe");
//   - SOURCE is relative to the manifest's folder unless absolute; on POSIX a
//     backslash in SOURCE is read as a folder separator, so one manifest
//     serves both platforms;
//   - a '#' after a stored name is part of the name, not a comment;
//   - a SOURCE ending in '/' (or '\\') names a folder: every file below it,
//     recursively and in sorted order, is stored below STORED NAME;
//   - a byte-order mark at the start is skipped;
//   - a line may end in CR LF.
// Refused, with "FILE:LINE: message": a line without "=>", an empty source or
// stored name, a stored name of 260 characters or more (the installer composes
// paths in 260-character buffers) or holding a control character, a stored
// name given twice (names are unique regardless of case), and a source that is
// not a readable regular file.
#pragma once

#include <string>
#include <vector>

#include "contract/CodePage.h"

namespace qorpack {

struct ManifestEntry {
    std::string source;      // path to open, resolved against the manifest's folder
    std::string storedName;  // verbatim
    int line = 0;
    bool folder = false;  // SOURCE ended with a separator: every file below it
};

// Parses manifest text. `manifestPath` names the file in messages and gives
// the folder sources are relative to. Does not look at the sources. Returns
// false with the first error ("FILE:LINE: ...") in *error; *entries then holds
// the entries parsed before it.
bool ParseManifestText(const std::string& text, const std::string& manifestPath,
                       std::vector<ManifestEntry>* entries, std::string* error);

// Reads and parses the manifest file, then checks that every source is a
// readable regular file. False with "FILE:LINE: ..." (or a message naming the
// manifest when it cannot be read).
// The stored names are checked by the shared stored-name rules (NameRules.h):
// a refusal is an error, a warning (no placement prefix) goes to *warnings,
// and two names that install to the same path once their tags are removed
// are refused.
// The stored names (after folders are expanded), from UTF-8 into the setup's
// code page, in place. Errors and warnings read "MANIFEST:LINE: ...".
bool ConvertStoredNames(const std::string& manifestPath, std::vector<ManifestEntry>* entries,
                        const qor_codepage::SingleByteTable& table,
                        std::vector<std::string>* warnings, std::string* error);

bool LoadManifest(const std::string& manifestPath, std::vector<ManifestEntry>* entries,
                  std::string* error, std::vector<std::string>* warnings = nullptr,
                  const qor_codepage::SingleByteTable* codePage = nullptr);

// Replaces each folder entry by one entry per file below the folder, in
// sorted order (files of a folder before its subfolders), named
// STORED\relative\path, keeping the line number. Links below the folder
// are not followed; they, FIFOs, sockets and devices are skipped, each with a
// "FILE:LINE: skipping ..." line in *warnings (or on stderr without it).
bool ExpandFolders(const std::string& manifestPath, std::vector<ManifestEntry>* entries,
                   std::string* error, std::vector<std::string>* warnings = nullptr);

// Checks every stored name (see LoadManifest), names that install to one
// file compared as Windows compares them in code page `codePage`.
// "FILE:LINE: " messages.
bool CheckManifestNames(
    const std::string& manifestPath, const std::vector<ManifestEntry>& entries,
    std::vector<std::string>* warnings, std::string* error,
    const qor_codepage::SingleByteTable& codePage = qor_codepage::Windows1252());

}  // namespace qorpack
