// LogReader.h: reading the uninstall log "TrovixInstall.inf" that the setup
// writes, and writing it back with some entries taken out. Pure code over a
// byte buffer: no platform call, so the reader runs natively under a fuzzer.
//
// The log is a profile (INI) file: "[section]" lines, "key=value" lines, CR LF
// or LF line ends. The reader follows the profile reader's rules where they
// matter: blanks around names are not part of them, section names and keys
// compare without regard to ASCII letter case, the first of two equal keys
// (or sections) wins, lines starting with ';' and lines before the first
// section are ignored. Beyond that it is strict, because every key may name
// something to delete: a line holding a NUL byte is dropped whole (it would
// name another path once handed to the platform), and a key or value longer
// than kMaxLogField is kept cut short and flagged, so the removal rules
// refuse it and the report stays readable.
#pragma once

#include <cstddef>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "text/Text.h"

// Longest key or value kept whole (longer ones are cut and flagged).
constexpr size_t kMaxLogField = 2048;
// Largest log file read at all; a bigger one is refused as unreadable.
constexpr size_t kMaxLogBytes = 64u * 1024u * 1024u;

struct LogEntry {
    Text key;
    Text value;
    bool overlong = false;  // key or value was longer than kMaxLogField
};

struct LogSection {
    Text name;
    std::vector<LogEntry> entries;  // file order, one per key
};

struct UninstallLog {
    std::vector<LogSection> sections;  // file order, one per name
    size_t droppedLines = 0;           // lines left out for NUL bytes
    // Position in sections by lower-cased name, so finding a section costs
    // the same in a log of 80,000 units as in one of three.
    std::unordered_map<std::string, size_t> index;
};

// Parses size bytes of log text. Never fails: junk lines are skipped.
UninstallLog ParseUninstallLog(const char* data, size_t size);

// ASCII-only lower case, as the reader compares names.
std::string LowerAscii(const Text& t);
// True when a and b are equal without regard to ASCII letter case.
bool EqualsNoCase(const Text& a, const Text& b);

// The section called name (any letter case), or null. Uses the index when
// the log has one (ParseUninstallLog builds it).
const LogSection* FindSection(const UninstallLog& log, const Text& name);

// Identity of one entry for RewriteLog: section and key, lower-cased.
std::string LogEntryId(const Text& section, const Text& key);

// The log text with every entry whose LogEntryId is in drop taken out; a
// section whose entries were all taken out loses its header line too. Every
// other byte (line ends, comments, other sections) is kept as it was.
std::string RewriteLog(const char* data, size_t size, const std::set<std::string>& drop);
