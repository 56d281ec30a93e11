// QzfPath.cpp: path split, composition and folder creation for the engine.
#include "archive/QzfPath.h"

#include <cstdlib>
#include <cstring>

#include "archive/FileLayer.h"
#include "contract/AsciiCase.h"

namespace qzf_path {

// The single temporary-name buffer of the engine (plain data: no constructor).
static char s_tempName[kMax];

long LastSeparator(const char* s) {
    long last = -1;
    for (long i = 0; s[i]; ++i)
        if (IsSeparator(s[i])) last = i;
    return last;
}

bool Compose(char* out, const char* a, const char* b, const char* c) {
    size_t la = std::strlen(a), lb = std::strlen(b), lc = std::strlen(c);
    if (la + lb + lc >= kMax) {
        out[0] = 0;
        return false;
    }
    // Inputs may alias out (a == out): move a first, then append.
    std::memmove(out, a, la);
    std::memmove(out + la, b, lb);
    std::memmove(out + la + lb, c, lc);
    out[la + lb + lc] = 0;
    return true;
}

void FoldCase(char* s) {
    if (!qfl::CaseInsensitiveNames()) return;
    qor_case::FoldAsciiInPlace(s);
}

bool SplitPath(const char* path, char* directory, const char** fileName) {
    directory[0] = 0;
    long last = LastSeparator(path);
    *fileName = path + last + 1;
    size_t dirPart = static_cast<size_t>(last + 1);  // bytes of path up to its last separator
    if (IsSeparator(path[0])) {
        char drive[3] = "";
        if (qfl::HasDriveLetters()) {
            char cwd[kMax];
            if (!qfl::CurrentDirectory(cwd, sizeof cwd)) return false;
            if (cwd[0] && cwd[1] == ':') {
                drive[0] = cwd[0];
                drive[1] = ':';
                drive[2] = 0;
            }
        }
        if (std::strlen(drive) + dirPart >= kMax) return false;
        std::memcpy(directory, drive, std::strlen(drive));
        std::memcpy(directory + std::strlen(drive), path, dirPart);
        directory[std::strlen(drive) + dirPart] = 0;
        return true;
    }
    if (path[0] && path[1] == ':') {
        if (last < 0) dirPart = 2;  // "C:name": the drive's current folder
        if (dirPart >= kMax) return false;
        std::memcpy(directory, path, dirPart);
        directory[dirPart] = 0;
        return true;
    }
    char cwd[kMax];
    if (!qfl::CurrentDirectory(cwd, sizeof cwd)) return false;
    size_t lc = std::strlen(cwd);
    char sep[2] = {0, 0};
    if (lc == 0 || !IsSeparator(cwd[lc - 1])) sep[0] = qfl::Separator();
    if (lc + std::strlen(sep) + dirPart >= kMax) return false;
    std::memcpy(directory, cwd, lc);
    std::memcpy(directory + lc, sep, std::strlen(sep));
    std::memcpy(directory + lc + std::strlen(sep), path, dirPart);
    directory[lc + std::strlen(sep) + dirPart] = 0;
    return true;
}

static bool FolderExists(const char* path) {
    uint32_t a;
    return path[0] && qfl::GetAttributes(path, &a) && (a & qfl::kAttrDirectory);
}

bool CreateFolderPath(const char* path) {
    if (FolderExists(path)) return true;
    long last = LastSeparator(path);
    // A bare relative name is one folder below the current one: create it.
    if (last < 0) return path[0] && (qfl::MakeDirectory(path) || FolderExists(path));
    if (last > 0) {
        char parent[kMax];
        if (static_cast<size_t>(last) >= kMax) return false;
        std::memcpy(parent, path, static_cast<size_t>(last));
        parent[last] = 0;
        if (!CreateFolderPath(parent)) return false;
    }
    // A separator at 0 means the parent is the root, which exists.
    return qfl::MakeDirectory(path) || FolderExists(path);
}

const char* MakeTempFileName() {
    if (!qfl::MakeTempName(s_tempName)) {
        s_tempName[0] = 0;
        return nullptr;
    }
    return s_tempName;
}

char* DupString(const char* s) {
    size_t n = std::strlen(s) + 1;
    char* d = static_cast<char*>(std::malloc(n));
    if (d) std::memcpy(d, s, n);
    return d;
}

}  // namespace qzf_path
