#include "system/ProfileLog.h"

#include <windows.h>

#include <cstdint>

#include "system/Handles.h"
#include "contract/AsciiCase.h"

namespace profile_log {
namespace {

std::string Lower(const std::string& s) {
    std::string l = s;
    for (char& c : l) c = qor_case::FoldAscii(c);
    return l;
}

bool IsPrintable(const std::string& s) {
    for (char c : s)
        if (c < 0x20 || c > 0x7E) return false;
    return true;
}

}  // namespace

bool IsPlainValue(const std::string& text) {
    return IsPrintable(text) && (text.empty() || (text.front() != ' ' && text.back() != ' '));
}

bool IsPlainName(const std::string& text, bool isSection) {
    if (text.empty() || !IsPlainValue(text)) return false;
    if (isSection) return text.find(']') == std::string::npos;
    return text.find('=') == std::string::npos && text[0] != '[' && text[0] != ';';
}

uint32_t* Model::Values::SlotOf(const std::string& key) {
    uint32_t hash = 2166136261u;  // FNV-1a
    for (char c : key) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    const size_t mask = slots_.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        uint32_t& slot = slots_[i];
        if (slot == 0 || entries_[slot - 1].key == key) return &slot;
    }
}

std::string* Model::Values::Find(const std::string& key) {
    if (slots_.empty()) return nullptr;
    const uint32_t slot = *SlotOf(key);
    return slot ? &entries_[slot - 1].value : nullptr;
}

void Model::Values::Add(const std::string& key, const std::string& value) {
    entries_.push_back(Entry{key, value});
    // At most half full, so that a search ends soon at an empty slot.
    if (entries_.size() * 2 > slots_.size()) {
        slots_.assign(slots_.empty() ? 16 : slots_.size() * 2, 0);
        for (uint32_t i = 0; i < entries_.size(); ++i) *SlotOf(entries_[i].key) = i + 1;
    } else {
        *SlotOf(key) = static_cast<uint32_t>(entries_.size());
    }
}

void Model::Clear() {
    bytes_.clear();
    sections_.clear();
}

bool Model::Load(const std::string& bytes) {
    Clear();
    bytes_ = bytes;
    size_t p = 0;
    while (p < bytes_.size()) {
        const size_t e = bytes_.find("\r\n", p);
        if (e == std::string::npos) return Clear(), false;
        const std::string line = bytes_.substr(p, e - p);
        if (!IsPrintable(line) || line.empty()) return Clear(), false;
        if (line[0] == '[') {
            const std::string name = line.substr(1, line.size() - 1 - (line.back() == ']'));
            if (line.size() < 2 || line.back() != ']' || !IsPlainName(name, true))
                return Clear(), false;
            sections_.push_back(Section{Lower(name), p, e + 2, {}});
        } else {
            const size_t eq = line.find('=');
            if (sections_.empty() || eq == std::string::npos ||
                !IsPlainName(line.substr(0, eq), false) || !IsPlainValue(line.substr(eq + 1)))
                return Clear(), false;
            // The first of two equal keys is the one found.
            const std::string lowerKey = Lower(line.substr(0, eq));
            Values& values = sections_.back().values;
            if (!values.Find(lowerKey)) values.Add(lowerKey, line.substr(eq + 1));
            sections_.back().end = e + 2;
        }
        p = e + 2;
    }
    return true;
}

Model::Section* Model::Find(const std::string& lowerName) {
    for (Section& s : sections_)
        if (s.lowerName == lowerName) return &s;
    return nullptr;
}

void Model::Write(const std::string& section, const std::string& key, const std::string& value,
                  bool* changed, size_t* from) {
    const std::string lowerKey = Lower(key);
    Section* s = Find(Lower(section));
    *changed = true;
    if (!s) {
        // A new section goes to the end of the file.
        *from = bytes_.size();
        bytes_ += "[" + section + "]\r\n" + key + "=" + value + "\r\n";
        sections_.push_back(Section{Lower(section), *from, bytes_.size(), {}});
        sections_.back().values.Add(lowerKey, value);
        return;
    }
    size_t at, oldLength;
    std::string text;
    std::string* found = s->values.Find(lowerKey);
    if (!found) {
        // A new key goes after the last line of its section.
        at = s->end;
        oldLength = 0;
        text = key + "=" + value + "\r\n";
        s->values.Add(lowerKey, value);
    } else {
        if (*found == value) {
            *changed = false;
            return;
        }
        // The key keeps its place and its spelling; only the value changes.
        size_t p = bytes_.find("\r\n", s->begin) + 2;
        for (;;) {
            const size_t e = bytes_.find("\r\n", p);
            const size_t eq = bytes_.find('=', p);
            if (Lower(bytes_.substr(p, eq - p)) == lowerKey) {
                at = eq + 1;
                oldLength = e - at;
                break;
            }
            p = e + 2;
        }
        text = value;
        *found = value;
    }
    bytes_.replace(at, oldLength, text);
    *from = at;
    const size_t grown = text.size() - oldLength;  // modulo arithmetic: may shrink
    s->end += grown;
    for (Section* t = s + 1; t != sections_.data() + sections_.size(); ++t) {
        t->begin += grown;
        t->end += grown;
    }
}

}  // namespace profile_log

namespace {

// The one file kept in memory: the last one written, as it was written.
struct Cached {
    bool valid = false;
    std::string path;
    uint64_t size = 0;
    FILETIME time = {0, 0};
    profile_log::Model model;
    // The file's write handle, kept between calls while a hold is active.
    FileHandle handle;
    int holds = 0;
};

Cached& TheCache() {
    static Cached cached;
    return cached;
}

// Size and last-write time of an existing file; false for a missing one or a folder.
bool Stamp(const std::string& path, uint64_t* size, FILETIME* time) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    *size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    *time = data.ftLastWriteTime;
    return true;
}

bool ReadWhole(const std::string& path, uint64_t size, std::string* bytes) {
    if (size > 0x7FFFFFFF) return false;
    FileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    bytes->assign(static_cast<size_t>(size), '\0');
    DWORD got = 0;
    return size == 0 ||
           (ReadFile(file.Get(), &(*bytes)[0], static_cast<DWORD>(size), &got, nullptr) &&
            got == size);
}

// Writes bytes[from..] at from over a file of oldSize bytes, cutting it off
// after them when it was longer.
// file is opened when empty, and kept open for the next call.
bool WriteTail(FileHandle& file, const std::string& path, const std::string& bytes, size_t from,
               uint64_t oldSize) {
    if (!file)
        file.Attach(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    // SetFilePointer, not the -Ex form that Windows 95 and NT 4 lack (a log
    // is far below 4 GiB).
    LONG high = static_cast<LONG>(static_cast<uint64_t>(from) >> 32);
    if (SetFilePointer(file.Get(), static_cast<LONG>(from & 0xFFFFFFFFu), &high, FILE_BEGIN) ==
            INVALID_SET_FILE_POINTER &&
        GetLastError() != NO_ERROR)
        return false;
    const DWORD n = static_cast<DWORD>(bytes.size() - from);
    DWORD put = 0;
    if (n && (!WriteFile(file.Get(), bytes.data() + from, n, &put, nullptr) || put != n))
        return false;
    return bytes.size() >= oldSize || SetEndOfFile(file.Get()) != 0;
}

// Stamp, through the handle kept open on the file: no look-up of its path
// per entry. The handle is held without delete sharing, so the path cannot
// be given to another file meanwhile. Falls back to the path when the
// handle cannot say (or none is held on that file).
bool StampOf(const Cached& c, const std::string& path, uint64_t* size, FILETIME* time) {
    if (c.handle.IsValid() && c.path == path) {
        DWORD high = 0;
        const DWORD low = GetFileSize(c.handle.Get(), &high);
        if ((low != INVALID_FILE_SIZE || GetLastError() == NO_ERROR) &&
            GetFileTime(c.handle.Get(), nullptr, nullptr, time)) {
            *size = (static_cast<uint64_t>(high) << 32) | low;
            return true;
        }
    }
    return Stamp(path, size, time);
}

bool SameTime(const FILETIME& a, const FILETIME& b) {
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

}  // namespace

bool WriteProfileEntry(const Text& path, const Text& section, const Text& key, const Text& value) {
    Cached& c = TheCache();
    const std::string p(path.c_str()), s(section.c_str()), k(key.c_str()), v(value.c_str());
    auto profileWriter = [&] {
        c.valid = false;
        c.handle.Close();
        return WritePrivateProfileStringA(s.c_str(), k.c_str(), v.c_str(), p.c_str()) != 0;
    };
    if (!profile_log::IsPlainName(s, true) || !profile_log::IsPlainName(k, false) ||
        !profile_log::IsPlainValue(v))
        return profileWriter();

    uint64_t size = 0;
    FILETIME time = {0, 0};
    const bool exists = StampOf(c, p, &size, &time);
    if (!c.valid || c.path != p || !exists || size != c.size || !SameTime(time, c.time)) {
        c.valid = false;
        std::string bytes;
        if (exists && !ReadWhole(p, size, &bytes)) return profileWriter();
        if (!c.model.Load(bytes)) return profileWriter();
        c.handle.Close();  // the file may be another one now
        c.path = p;
    }
    bool changed = false;
    size_t from = 0;
    c.model.Write(s, k, v, &changed, &from);
    if (!changed) {
        c.valid = exists;
        c.size = size;
        c.time = time;
        return true;
    }
    const bool written = WriteTail(c.handle, p, c.model.Bytes(), from, exists ? size : 0);
    if (c.holds == 0) c.handle.Close();
    if (!written || !StampOf(c, p, &c.size, &c.time)) {
        // The profile writer starts again from what is on disk.
        return profileWriter();
    }
    c.valid = true;
    return true;
}

ProfileFileHold::ProfileFileHold() { ++TheCache().holds; }

ProfileFileHold::~ProfileFileHold() {
    Cached& c = TheCache();
    if (--c.holds == 0) c.handle.Close();
}
