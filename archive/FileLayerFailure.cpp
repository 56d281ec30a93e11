// FileLayerFailure.cpp: the record of the last failure's cause and its text.
#include <cstring>

#include "archive/FileLayer.h"
#include "text/Format.h"

namespace qfl {
namespace {

Failure g_failure;  // zero-initialised: no constructor runs

void CopyCut(char* out, size_t capacity, const char* text) {
    size_t n = std::strlen(text);
    if (n >= capacity) n = capacity - 1;
    std::memcpy(out, text, n);
    out[n] = 0;
}

}  // namespace

void NoteFailure(const char* action, const char* path, const char* detail) {
    g_failure.systemError = detail ? 0 : SystemError();  // first: the calls below may change it
    g_failure.action = action;
    g_failure.detail = detail;
    CopyCut(g_failure.path, sizeof g_failure.path, path ? path : "");
}

void ClearFailure() {
    g_failure.action = nullptr;
    g_failure.detail = nullptr;
    g_failure.systemError = 0;
    g_failure.path[0] = 0;
}

const Failure& LastFailure() { return g_failure; }

void RestoreFailure(const Failure& kept) {
    if (&kept != &g_failure) g_failure = kept;
}

void DescribeFailure(char* out, size_t capacity) {
    if (!capacity) return;
    out[0] = 0;
    const Failure& f = g_failure;
    if (!f.action) return;
    char cause[256] = "";
    if (f.detail)
        CopyCut(cause, sizeof cause, f.detail);
    else if (f.systemError)
        SystemErrorText(f.systemError, cause, sizeof cause);
    const char* quote = f.path[0] ? "'" : "";
    FormatText(out, capacity, "%s%s%s%s%s%s", f.action, f.path[0] ? " " : "", quote, f.path, quote,
               cause[0] ? ": " : "");
    const size_t used = std::strlen(out);
    if (cause[0] && used < capacity) CopyCut(out + used, capacity - used, cause);
}

}  // namespace qfl
