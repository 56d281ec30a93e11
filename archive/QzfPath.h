// QzfPath.h: path helpers of the archive engine (internal). Paths live in
// 260-byte buffers; every composing helper fails instead of cutting a path.
#pragma once

#include <cstddef>

namespace qzf_path {

constexpr size_t kMax = 260;

// '\\' always; '/' too (Windows accepts it, and it is the native separator).
inline bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Index of the last separator in s, or -1.
long LastSeparator(const char* s);

// out = a + b + c when it fits kMax bytes with its zero; else out = "" and false.
bool Compose(char* out, const char* a, const char* b, const char* c = "");

// Lower-cases 'A'..'Z' in place when the platform's names ignore case.
void FoldCase(char* s);

// Splits path into an absolute directory ending with a separator (kMax
// buffer) and the file name (a pointer into path). Rules: a leading separator
// gets the current drive (where there are drives); "X:..." is taken as it
// is; anything else is relative to the current directory. False when the
// directory does not fit or the current directory cannot be read.
bool SplitPath(const char* path, char* directory, const char** fileName);

// Creates path and every missing parent folder; true if it exists at the end.
bool CreateFolderPath(const char* path);

// A fresh temporary file ("qzf" prefix, created empty) in the one static buffer
// every call overwrites; null on failure. Callers copy it at once.
const char* MakeTempFileName();

// malloc'ed copy of s, or null when memory runs out.
char* DupString(const char* s);

}  // namespace qzf_path
