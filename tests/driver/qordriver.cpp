// qordriver: a small Win32 console program that end-to-end tests run in the
// same Wine prefix as the program under test, to find its windows, read
// their text and press their buttons.
//
// Commands (one per run; every wait is bounded by --timeout seconds):
//   windows                       list visible top-level windows: class, caption
//   msgbox [--caption C] [--timeout S] [--press ok|cancel|yes|no|abort|retry|ignore|N]
//                                 wait for a message box (class #32770, with
//                                 caption C if given), print its caption and
//                                 text, then press the button (default: none)
//   nomsgbox [--caption C] [--timeout S]
//                                 succeed when no such box appears within S
//   run [--timeout S] PROGRAM [ARGS...]
//                                 start PROGRAM, wait, print its exit code
//   serve                         read commands from standard input, one per
//                                 line, and answer each with one JSON line
//                                 (see WizardDriver.h)
// Output lines are "key: value"; exit code 0 on success, 1 on time-out,
// 2 on bad usage.
#include <windows.h>

#include "WizardDriver.h"
#include "DriverUtil.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Options {
    std::string caption;
    double timeout = 20.0;
    std::string press;
    std::vector<std::string> rest;
};

bool ParseOptions(int argc, char** argv, int first, Options& o) {
    for (int i = first; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--caption" && i + 1 < argc) {
            o.caption = argv[++i];
        } else if (a == "--timeout" && i + 1 < argc) {
            o.timeout = atof(argv[++i]);
        } else if (a == "--press" && i + 1 < argc) {
            o.press = argv[++i];
        } else if (a.rfind("--", 0) == 0 && o.rest.empty()) {
            fprintf(stderr, "qordriver: unknown option %s\n", a.c_str());
            return false;
        } else {
            o.rest.push_back(a);
        }
    }
    return true;
}

// Prints a value on one line, with line breaks shown as \r and \n so a test
// can compare multi-line message texts exactly.
void PrintField(const char* key, const std::string& v) {
    printf("%s: ", key);
    for (char c : v) {
        if (c == '\r')
            fputs("\\r", stdout);
        else if (c == '\n')
            fputs("\\n", stdout);
        else if (c == '\\')
            fputs("\\\\", stdout);
        else
            putchar(c);
    }
    putchar('\n');
    fflush(stdout);
}

struct FindCtx {
    const std::string* caption;
    HWND found;
};

BOOL CALLBACK FindDialogProc(HWND w, LPARAM lp) {
    FindCtx* ctx = reinterpret_cast<FindCtx*>(lp);
    if (!IsWindowVisible(w) || ClassOf(w) != "#32770") return TRUE;
    if (!ctx->caption->empty() && WindowText(w) != *ctx->caption) return TRUE;
    ctx->found = w;
    return FALSE;
}

HWND WaitForDialog(const std::string& caption, double timeout) {
    DWORD start = GetTickCount();
    for (;;) {
        FindCtx ctx{&caption, nullptr};
        EnumWindows(FindDialogProc, reinterpret_cast<LPARAM>(&ctx));
        if (ctx.found) return ctx.found;
        if ((GetTickCount() - start) / 1000.0 > timeout) return nullptr;
        Sleep(50);
    }
}

BOOL CALLBACK PrintWindowProc(HWND w, LPARAM) {
    if (IsWindowVisible(w)) {
        PrintField("window", ClassOf(w) + " | " + WindowText(w));
    }
    return TRUE;
}

int CmdMsgbox(const Options& o) {
    HWND w = WaitForDialog(o.caption, o.timeout);
    if (!w) {
        printf("timeout: no message box\n");
        return 1;
    }
    PrintField("caption", WindowText(w));
    // The message text of a message box is the static control 0xFFFF.
    HWND text = GetDlgItem(w, 0xFFFF);
    PrintField("text", text ? WindowText(text) : std::string());
    HWND owner = GetWindow(w, GW_OWNER);
    printf("owner: %s\n", owner ? "yes" : "no");
    fflush(stdout);
    if (!o.press.empty()) {
        int id = ButtonId(o.press);
        PostMessageA(w, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
        printf("pressed: %d\n", id);
    }
    return 0;
}

int CmdNoMsgbox(const Options& o) {
    HWND w = WaitForDialog(o.caption, o.timeout);
    if (w) {
        PrintField("unexpected", WindowText(w));
        return 1;
    }
    printf("none: ok\n");
    return 0;
}

int CmdRun(const Options& o) {
    if (o.rest.empty()) return 2;
    std::string cmd;
    for (const std::string& a : o.rest) {
        if (!cmd.empty()) cmd += ' ';
        bool quote = a.find(' ') != std::string::npos || a.empty();
        cmd += quote ? "\"" + a + "\"" : a;
    }
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back('\0');
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi)) {
        printf("error: cannot start (%lu)\n", GetLastError());
        return 1;
    }
    DWORD r = WaitForSingleObject(pi.hProcess, static_cast<DWORD>(o.timeout * 1000));
    if (r != WAIT_OBJECT_0) {
        printf("timeout: still running\n");
        TerminateProcess(pi.hProcess, 1);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        return 1;
    }
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    printf("exit: %ld\n", static_cast<long>(code));
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return 0;
}

void Usage() {
    fputs(
        "usage: qordriver windows | msgbox [--caption C] [--timeout S] [--press BUTTON]\n"
        "       | nomsgbox [--caption C] [--timeout S] | run [--timeout S] PROGRAM [ARGS...]\n"
        "       | serve\n",
        stderr);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        Usage();
        return 2;
    }
    std::string cmd = argv[1];
    Options o;
    if (!ParseOptions(argc, argv, 2, o)) return 2;
    if (cmd == "windows") {
        EnumWindows(PrintWindowProc, 0);
        return 0;
    }
    if (cmd == "msgbox") return CmdMsgbox(o);
    if (cmd == "nomsgbox") return CmdNoMsgbox(o);
    if (cmd == "run") return CmdRun(o);
    if (cmd == "serve") return RunServe(stdin, stdout);
    Usage();
    return 2;
}
