// ProfileLog.h: one entry written into a profile (INI) file, with the result
// of WritePrivateProfileStringA but without rewriting the whole file.
//
// The profile writer reads and rewrites the entire file on every call, so a
// log of n entries costs n^2. This writer keeps the last file it wrote in
// memory and changes only the bytes from the entry's place onwards: a new key
// in the last section is an append. Each call still leaves the entry on disk
// before it returns.
//
// It takes the fast way only for files and entries whose outcome is plain:
//   - the file holds nothing but "[section]" and "key=value" lines, printable
//     ASCII, each ending in CR LF, the first a section (or the file is new or
//     empty);
//   - section, key and value are printable ASCII without leading or trailing
//     spaces; section and key are not empty; the key has no '=' and does not
//     begin with '[' or ';'; the section has no ']'.
// Names then match when equal apart from the case of A-Z, as the profile
// writer matches them. Anything else, a file changed behind its back (size
// or last-write time differ from what it wrote), or a failed write, goes to
// WritePrivateProfileStringA itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "text/Text.h"

// Writes key=value into section of the profile file path (full path). True
// when the entry is on disk (or already was, unchanged); false when the file
// could not be written (what was there stays as the profile writer leaves it).
bool WriteProfileEntry(const Text& path, const Text& section, const Text& key, const Text& value);

// While one of these lives, the file last written stays open between calls
// (a write that lands in the open file is on disk as soon as one that opens
// and closes it); each entry still is written before its call returns.
// Opening and closing the log once per entry was a third of the per-file
// cost of an install of thousands of small files under Wine.
class ProfileFileHold {
public:
    ProfileFileHold();
    ~ProfileFileHold();
    ProfileFileHold(const ProfileFileHold&) = delete;
    ProfileFileHold& operator=(const ProfileFileHold&) = delete;
};

// The file model behind it, platform-free (exposed for tests).
namespace profile_log {

// True when text may be a section name, a key or a value on the fast way.
bool IsPlainName(const std::string& text, bool isSection);
bool IsPlainValue(const std::string& text);

// A profile file's bytes with an index of its sections and keys.
class Model {
public:
    // Takes the file's bytes; false (and an empty model) when they are not
    // plain in the sense above.
    bool Load(const std::string& bytes);
    void Clear();
    // Applies key=value to section (all plain). *changed is false when the key
    // already held that value; otherwise the bytes differ from *from onwards.
    void Write(const std::string& section, const std::string& key, const std::string& value,
               bool* changed, size_t* from);
    const std::string& Bytes() const { return bytes_; }

private:
    // Lower-case key -> value of one section: open addressing over a hash
    // of the key (the standard hash map brought 3 KB of library code).
    class Values {
    public:
        // The value of key, or null.
        std::string* Find(const std::string& key);
        // Adds key, which is not in the table yet.
        void Add(const std::string& key, const std::string& value);

    private:
        struct Entry {
            std::string key, value;
        };
        // The slot that holds key, or the empty slot where it would go.
        uint32_t* SlotOf(const std::string& key);
        std::vector<Entry> entries_;
        std::vector<uint32_t> slots_;  // index into entries_ + 1, 0 when empty; a power of 2
    };
    struct Section {
        std::string lowerName;
        size_t begin, end;  // its "[name]" line; just past its last line
        Values values;
    };
    Section* Find(const std::string& lowerName);

    std::string bytes_;
    std::vector<Section> sections_;  // in file order; the first of equal names counts
};

}  // namespace profile_log
