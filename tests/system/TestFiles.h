// Small file helpers shared by the system tests (Win32, ANSI paths).
#pragma once

#include <windows.h>

#include <cstdio>
#include <set>
#include <string>

#include "text/Text.h"

namespace testfiles {

// Whole file as bytes; empty when it cannot be read.
inline std::string Read(const Text& path) {
    std::string bytes;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return bytes;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
    fclose(f);
    return bytes;
}

inline bool Write(const Text& path, const std::string& bytes) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

// Folder of the running test program, without a trailing backslash.
inline Text ModuleFolder() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    Text folder(path, n);
    return folder.substr(0, folder.rfind('\\'));
}

// Windows form of a Unix path (Wine maps "/" to drive Z:).
inline Text FromUnixPath(const char* unixPath) {
    Text path = Text("Z:") + unixPath;
    for (size_t i = 0; i < path.size(); ++i)
        if (path[i] == '/') path.SetAt(i, '\\');
    return path;
}

// Names of the entries in folder ("." and ".." left out).
inline std::set<std::string> List(const Text& folder) {
    std::set<std::string> names;
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        std::string name = entry.cFileName;
        if (name != "." && name != "..") names.insert(name);
    } while (FindNextFileA(find, &entry));
    FindClose(find);
    return names;
}

// Entries of folder that are not in before.
inline std::set<std::string> Added(const Text& folder, const std::set<std::string>& before) {
    std::set<std::string> added;
    for (const std::string& name : List(folder))
        if (!before.count(name)) added.insert(name);
    return added;
}

}  // namespace testfiles
