// Command loop of qordriver (see WizardDriver.h). Windows of the program
// under test live in another process: texts are read and written with
// WM_GETTEXT / WM_SETTEXT through SendMessageTimeout (which the platform
// marshals between processes, and which cannot hang the driver on a busy
// target), presses are posted so that a press that opens a message box
// does not block the driver.
#include "WizardDriver.h"
#include "DriverUtil.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr UINT kSendTimeoutMs = 3000;
constexpr double kDefaultWaitSeconds = 20.0;

// ---- JSON output ---------------------------------------------------------

std::string JsonString(const std::string& s) {
    std::string r = "\"";
    for (unsigned char c : s) {
        switch (c) {
            case '"':
                r += "\\\"";
                break;
            case '\\':
                r += "\\\\";
                break;
            case '\n':
                r += "\\n";
                break;
            case '\r':
                r += "\\r";
                break;
            case '\t':
                r += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char buf[8];
                    snprintf(buf, sizeof buf, "\\u%04x", c);
                    r += buf;
                } else {
                    r += static_cast<char>(c);
                }
        }
    }
    return r + "\"";
}

std::string JsonBool(bool b) { return b ? "true" : "false"; }

std::string Hex(HWND w) {
    char buf[32];
    snprintf(buf, sizeof buf, "\"0x%lx\"",
             static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(w)));
    return buf;
}

// An answer is built as a list of "key":value members.
struct Answer {
    std::string members;
    Answer& Add(const char* key, const std::string& jsonValue) {
        members += ",\"";
        members += key;
        members += "\":";
        members += jsonValue;
        return *this;
    }
    Answer& Text(const char* key, const std::string& s) { return Add(key, JsonString(s)); }
    Answer& Number(const char* key, long long n) { return Add(key, std::to_string(n)); }
};

void Reply(FILE* out, const Answer& a) {
    fprintf(out, "{\"ok\":true%s}\n", a.members.c_str());
    fflush(out);
}

void Fail(FILE* out, const std::string& error) {
    fprintf(out, "{\"ok\":false,\"error\":%s}\n", JsonString(error).c_str());
    fflush(out);
}

// ---- Windows of the other process ----------------------------------------

// The text as the control itself answers it (edit boxes included).
std::string TextOf(HWND w) {
    char buf[4096] = {};
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutA(w, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf),
                             SMTO_ABORTIFHUNG, kSendTimeoutMs, &got))
        GetWindowTextA(w, buf, sizeof buf);
    buf[sizeof buf - 1] = '\0';
    return buf;
}

LRESULT SendTimeout(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    SendMessageTimeoutA(w, message, wParam, lParam, SMTO_ABORTIFHUNG, kSendTimeoutMs, &result);
    return static_cast<LRESULT>(result);
}

struct FindByCaption {
    std::string caption;
    HWND found = nullptr;
};

BOOL CALLBACK FindByCaptionProc(HWND w, LPARAM lp) {
    auto* f = reinterpret_cast<FindByCaption*>(lp);
    if (!IsWindowVisible(w) || ClassOf(w) != "#32770") return TRUE;
    if (!f->caption.empty() && TextOf(w) != f->caption) return TRUE;
    f->found = w;
    return FALSE;
}

HWND FindDialog(const std::string& caption) {
    FindByCaption f;
    f.caption = caption;
    EnumWindows(FindByCaptionProc, reinterpret_cast<LPARAM>(&f));
    return f.found;
}

HWND WaitDialog(const std::string& caption, double seconds) {
    DWORD start = GetTickCount();
    for (;;) {
        if (HWND w = FindDialog(caption)) return w;
        if ((GetTickCount() - start) / 1000.0 > seconds) return nullptr;
        Sleep(50);
    }
}

// WIN argument: "0x..." handle or an exact dialog caption.
HWND ResolveWindow(const std::string& which) {
    if (which.rfind("0x", 0) == 0) {
        HWND w = reinterpret_cast<HWND>(static_cast<UINT_PTR>(strtoul(which.c_str(), nullptr, 16)));
        return IsWindow(w) ? w : nullptr;
    }
    return FindDialog(which);
}

std::string ControlJson(HWND c) {
    LONG style = GetWindowLongA(c, GWL_STYLE);
    std::string cls = ClassOf(c);
    int checked = 0;
    if (cls == "Button") checked = static_cast<int>(SendTimeout(c, BM_GETCHECK, 0, 0));
    char styleText[16];
    snprintf(styleText, sizeof styleText, "\"0x%08lx\"", static_cast<unsigned long>(style));
    RECT r = {};
    GetWindowRect(c, &r);
    char rect[96];
    snprintf(rect, sizeof rect, "[%ld,%ld,%ld,%ld]", r.left, r.top, r.right, r.bottom);
    return "{\"id\":" + std::to_string(GetDlgCtrlID(c)) + ",\"class\":" + JsonString(cls) +
           ",\"text\":" + JsonString(TextOf(c)) + ",\"style\":" + styleText +
           ",\"visible\":" + JsonBool(IsWindowVisible(c)) +
           ",\"enabled\":" + JsonBool(IsWindowEnabled(c)) +
           ",\"checked\":" + std::to_string(checked) + ",\"rect\":" + rect + "}";
}

std::string RectJson(HWND w) {
    RECT r = {};
    GetWindowRect(w, &r);
    char buf[96];
    snprintf(buf, sizeof buf, "[%ld,%ld,%ld,%ld]", r.left, r.top, r.right, r.bottom);
    return buf;
}

// The client area in screen coordinates, so control positions can be
// related to it.
std::string ClientJson(HWND w) {
    RECT r = {};
    GetClientRect(w, &r);
    MapWindowPoints(w, nullptr, reinterpret_cast<POINT*>(&r), 2);
    char buf[96];
    snprintf(buf, sizeof buf, "[%ld,%ld,%ld,%ld]", r.left, r.top, r.right, r.bottom);
    return buf;
}

std::string ChildrenJson(HWND w) {
    std::string list = "[";
    for (HWND c = GetWindow(w, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        if (list.size() > 1) list += ",";
        list += ControlJson(c);
    }
    return list + "]";
}

struct TopLevelList {
    std::string json = "[";
};

BOOL CALLBACK ListTopLevelProc(HWND w, LPARAM lp) {
    auto* l = reinterpret_cast<TopLevelList*>(lp);
    if (!IsWindowVisible(w)) return TRUE;
    if (l->json.size() > 1) l->json += ",";
    l->json += "{\"hwnd\":" + Hex(w) + ",\"class\":" + JsonString(ClassOf(w)) +
               ",\"caption\":" + JsonString(TextOf(w)) + ",\"rect\":" + RectJson(w) + "}";
    return TRUE;
}

// ---- The started process --------------------------------------------------

struct Started {
    HANDLE process = nullptr;
    DWORD pid = 0;
};

std::string QuoteArg(const std::string& a) {
    bool quote = a.empty() || a.find_first_of(" \t") != std::string::npos;
    return quote ? "\"" + a + "\"" : a;
}

// ---- Commands --------------------------------------------------------------

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> f;
    size_t start = 0;
    for (;;) {
        size_t tab = line.find('\t', start);
        f.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) break;
        start = tab + 1;
    }
    return f;
}

double SecondsArg(const std::vector<std::string>& f, size_t i) {
    return f.size() > i && !f[i].empty() ? atof(f[i].c_str()) : kDefaultWaitSeconds;
}

void MessageBoxAnswer(HWND box, Answer& a) {
    a.Add("hwnd", Hex(box)).Text("caption", TextOf(box));
    HWND text = GetDlgItem(box, 0xFFFF);
    a.Text("text", text ? TextOf(text) : std::string());
    a.Add("owner", JsonBool(GetWindow(box, GW_OWNER) != nullptr));
    // The icon is a static control of icon style; in a box without an icon
    // it is present but holds none.
    bool icon = false;
    std::string buttons = "[";
    for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        if (!IsWindowVisible(c)) continue;
        std::string cls = ClassOf(c);
        LONG style = GetWindowLongA(c, GWL_STYLE);
        if (cls == "Static" && (style & SS_TYPEMASK) == SS_ICON &&
            SendTimeout(c, STM_GETICON, 0, 0))
            icon = true;
        if (cls == "Button") {
            if (buttons.size() > 1) buttons += ",";
            buttons += "{\"id\":" + std::to_string(GetDlgCtrlID(c)) +
                       ",\"text\":" + JsonString(TextOf(c)) + "}";
        }
    }
    a.Add("icon", JsonBool(icon)).Add("buttons", buttons + "]");
}

void Execute(const std::vector<std::string>& f, Started& started, FILE* out) {
    const std::string& cmd = f[0];
    auto arg = [&](size_t i) -> std::string { return i < f.size() ? f[i] : std::string(); };

    if (cmd == "start") {
        if (f.size() < 2) return Fail(out, "start needs a program");
        std::string line;
        for (size_t i = 1; i < f.size(); ++i) line += (i > 1 ? " " : "") + QuoteArg(f[i]);
        std::vector<char> buf(line.begin(), line.end());
        buf.push_back('\0');
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        if (!CreateProcessA(nullptr, buf.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                            &pi))
            return Fail(out, "cannot start " + f[1] + " (" + std::to_string(GetLastError()) + ")");
        CloseHandle(pi.hThread);
        if (started.process) CloseHandle(started.process);
        started.process = pi.hProcess;
        started.pid = pi.dwProcessId;
        return Reply(out, Answer().Number("pid", pi.dwProcessId));
    }
    if (cmd == "exit") {
        if (!started.process) return Fail(out, "nothing started");
        DWORD ms = static_cast<DWORD>(SecondsArg(f, 1) * 1000);
        if (WaitForSingleObject(started.process, ms) != WAIT_OBJECT_0)
            return Fail(out, "still running");
        DWORD code = 0;
        GetExitCodeProcess(started.process, &code);
        return Reply(out, Answer().Number("code", static_cast<int32_t>(code)));
    }
    if (cmd == "wait") {
        HWND w = WaitDialog(arg(1), SecondsArg(f, 2));
        if (!w) return Fail(out, "no dialog \"" + arg(1) + "\"");
        return Reply(out, Answer().Add("hwnd", Hex(w)).Text("caption", TextOf(w)));
    }
    if (cmd == "waitgone") {
        DWORD start = GetTickCount();
        double seconds = SecondsArg(f, 2);
        for (;;) {
            HWND w = ResolveWindow(arg(1));
            if (!w || !IsWindowVisible(w)) return Reply(out, Answer());
            if ((GetTickCount() - start) / 1000.0 > seconds) return Fail(out, "still there");
            Sleep(50);
        }
    }
    if (cmd == "windows") {
        TopLevelList l;
        EnumWindows(ListTopLevelProc, reinterpret_cast<LPARAM>(&l));
        return Reply(out, Answer().Add("windows", l.json + "]"));
    }
    if (cmd == "sleep") {
        Sleep(static_cast<DWORD>(atoi(arg(1).c_str())));
        return Reply(out, Answer());
    }
    if (cmd == "msgbox") {
        HWND box = WaitDialog(arg(1), SecondsArg(f, 2));
        if (!box) return Fail(out, "no message box \"" + arg(1) + "\"");
        Answer a;
        MessageBoxAnswer(box, a);
        if (!arg(3).empty()) {
            int id = ButtonId(arg(3));
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
            a.Number("pressed", id);
        }
        return Reply(out, a);
    }
    if (cmd == "nomsgbox") {
        HWND box = WaitDialog(arg(1), SecondsArg(f, 2));
        if (box) return Fail(out, "unexpected message box: " + TextOf(GetDlgItem(box, 0xFFFF)));
        return Reply(out, Answer());
    }

    // The rest act on one window.
    HWND w = ResolveWindow(arg(1));
    if (!w) return Fail(out, "no window \"" + arg(1) + "\"");
    int id = atoi(arg(2).c_str());
    HWND control = f.size() > 2 ? GetDlgItem(w, id) : nullptr;

    if (cmd == "dump") {
        return Reply(out, Answer()
                              .Add("hwnd", Hex(w))
                              .Text("caption", TextOf(w))
                              .Add("owner", JsonBool(GetWindow(w, GW_OWNER) != nullptr))
                              .Add("rect", RectJson(w))
                              .Add("client", ClientJson(w))
                              .Add("controls", ChildrenJson(w)));
    }
    if (cmd == "close") {
        PostMessageA(w, WM_SYSCOMMAND, SC_CLOSE, 0);
        return Reply(out, Answer());
    }
    if (cmd == "command") {
        PostMessageA(w, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control));
        return Reply(out, Answer());
    }
    if (cmd == "pickfile") {
        // The file name box: an edit (edt1) or a combo box (cmb13), by dialog style.
        HWND name = GetDlgItem(w, 1152);
        if (!name || !IsWindowVisible(name)) name = GetDlgItem(w, 1148);
        if (!name) return Fail(out, "no file name box");
        std::string path = arg(2);
        SendTimeout(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
        PostMessageA(w, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(w, IDOK)));
        return Reply(out, Answer());
    }
    if (!control) return Fail(out, "no control " + arg(2));
    if (cmd == "click") {
        if (!IsWindowVisible(control)) return Fail(out, "control " + arg(2) + " is hidden");
        if (!IsWindowEnabled(control)) return Fail(out, "control " + arg(2) + " is disabled");
        PostMessageA(w, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control));
        return Reply(out, Answer());
    }
    if (cmd == "check") {
        SendTimeout(control, BM_SETCHECK, atoi(arg(3).c_str()) ? BST_CHECKED : BST_UNCHECKED, 0);
        return Reply(out, Answer());
    }
    if (cmd == "settext") {
        std::string text = arg(3);
        SendTimeout(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
        return Reply(out, Answer().Text("text", TextOf(control)));
    }
    if (cmd == "listbox" || cmd == "dblclick") {
        int count = static_cast<int>(SendTimeout(control, LB_GETCOUNT, 0, 0));
        if (cmd == "dblclick") {
            int index = atoi(arg(3).c_str());
            if (index < 0 || index >= count) return Fail(out, "no item " + arg(3));
            SendTimeout(control, LB_SETCURSEL, index, 0);
            PostMessageA(w, WM_COMMAND, MAKEWPARAM(id, LBN_DBLCLK),
                         reinterpret_cast<LPARAM>(control));
            return Reply(out, Answer());
        }
        std::string items = "[";
        for (int i = 0; i < count; ++i) {
            char buf[1024] = {};
            if (SendTimeout(control, LB_GETTEXTLEN, i, 0) < static_cast<LRESULT>(sizeof buf))
                SendTimeout(control, LB_GETTEXT, i, reinterpret_cast<LPARAM>(buf));
            if (i) items += ",";
            items += JsonString(buf);
        }
        return Reply(out, Answer().Add("items", items + "]"));
    }
    Fail(out, "unknown command " + cmd);
}

}  // namespace

int RunServe(FILE* in, FILE* out) {
    Started started;
    char line[8192];
    while (fgets(line, sizeof line, in)) {
        std::string s(line);
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
        if (s.empty()) continue;
        std::vector<std::string> f = SplitTabs(s);
        if (f[0] == "quit") {
            Reply(out, Answer());
            break;
        }
        Execute(f, started, out);
    }
    if (started.process) CloseHandle(started.process);
    return 0;
}
