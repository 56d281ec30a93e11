// Small helpers shared by the driver's one-shot commands and its serve loop.
#pragma once

#include <windows.h>

#include <cstdlib>
#include <string>

inline std::string ClassOf(HWND w) {
    char buf[256] = {};
    GetClassNameA(w, buf, sizeof buf);
    return buf;
}

inline std::string WindowText(HWND w) {
    char buf[4096] = {};
    GetWindowTextA(w, buf, sizeof buf);
    return buf;
}

// Button name as a test writes it (ok, cancel, yes, ...) or a number.
inline int ButtonId(const std::string& name) {
    if (name == "ok") return IDOK;
    if (name == "cancel") return IDCANCEL;
    if (name == "yes") return IDYES;
    if (name == "no") return IDNO;
    if (name == "abort") return IDABORT;
    if (name == "retry") return IDRETRY;
    if (name == "ignore") return IDIGNORE;
    return atoi(name.c_str());
}
