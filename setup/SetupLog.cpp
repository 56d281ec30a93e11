// The setup log: an append-only text file the run's reports go to.
#include "setup/SetupLog.h"
#include "text/Format.h"

namespace {

// One line of text: CR and LF inside it become spaces.
Text OneLine(const Text& text) {
    Text line;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        line += c == '\r' || c == '\n' ? ' ' : c;
    }
    return line;
}

}  // namespace

bool SetupLog::Open(const Text& path) {
    if (path.empty()) return false;
    // Appended to: each write goes to the end, whoever else writes meanwhile.
    file_.Attach(CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file_.IsValid();
}

void SetupLog::Write(const Text& text) {
    if (!file_.IsValid()) return;
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    char stamp[32];
    FormatText(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u ", now.wYear, now.wMonth,
               now.wDay, now.wHour, now.wMinute, now.wSecond);
    const Text line = Text(stamp) + OneLine(text) + "\r\n";
    DWORD written = 0;
    // A failed write is not retried: the install goes on without its log.
    WriteFile(file_.Get(), line.c_str(), static_cast<DWORD>(line.size()), &written, nullptr);
}

Text EntryLogLine(const Text& destination, EntryOutcome outcome, const Text& cause) {
    switch (outcome) {
        case EntryOutcome::kPlaced:
            return "placed: " + destination;
        case EntryOutcome::kReplaced:
            return "replaced: " + destination;
        case EntryOutcome::kKeptNewer:
            return "kept, the installed version is newer: " + destination;
        case EntryOutcome::kScheduled:
            return "in use, replaced at the next restart: " + destination;
        case EntryOutcome::kFailed:
            break;
    }
    return "failed: " + destination + (cause.empty() ? Text() : ": " + cause);
}

void LogObserver::EntryFinished(const Text& destination, EntryOutcome outcome, const Text& cause) {
    log_.Write(EntryLogLine(destination, outcome, cause));
    next_.EntryFinished(destination, outcome, cause);
}

void LogObserver::Note(const Text& line) {
    log_.Write(line);
    next_.Note(line);
}

int LogObserver::Message(const InstallMessage& message) {
    // Written before the box: it may wait long for its answer, or forever.
    log_.Write(Text(suppressed_ ? "message suppressed: " : "message shown: ") + message.caption +
               ": " + message.text);
    return next_.Message(message);
}
