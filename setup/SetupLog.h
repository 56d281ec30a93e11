// The setup log of -log=FILE, and the observer that writes the install run's
// reports into it.
//
// The log is plain text in the setup's code page, one line per event ending
// in CR LF, each line opened by the local time; an existing file is appended
// to. A log that cannot be opened or written is left out without a word:
// the install never depends on it.
#pragma once

#include <windows.h>

#include "setup/InstallRun.h"
#include "system/Handles.h"
#include "text/Text.h"

class SetupLog {
public:
    SetupLog() = default;
    SetupLog(const SetupLog&) = delete;
    SetupLog& operator=(const SetupLog&) = delete;

    // Opens path for appending, creating it when missing; a relative path is
    // taken from the current folder. False (and nothing written later) when
    // it cannot be opened.
    bool Open(const Text& path);
    bool IsOpen() const { return file_.IsValid(); }
    // Appends "YYYY-MM-DD HH:MM:SS text" and CR LF; line breaks inside text
    // become spaces, so every event stays on one line. Failures are ignored.
    void Write(const Text& text);

private:
    FileHandle file_;
};

// A line for entry destination's outcome ("placed: C:\x", "failed: C:\x: cause").
Text EntryLogLine(const Text& destination, EntryOutcome outcome, const Text& cause);

// Writes every report to log, then passes it on to next (the wizard or the
// silent observer). messagesSuppressed says how next answers messages:
// without showing them (recorded as "suppressed") or by showing them.
class LogObserver : public InstallObserver {
public:
    LogObserver(SetupLog& log, InstallObserver& next, bool messagesSuppressed)
        : log_(log), next_(next), suppressed_(messagesSuppressed) {}
    void EntryStarted(const Text& destination) override { next_.EntryStarted(destination); }
    void EntryFinished(const Text& destination, EntryOutcome outcome, const Text& cause) override;
    void Progress(uint32_t done, uint32_t total) override { next_.Progress(done, total); }
    void Note(const Text& line) override;
    int Message(const InstallMessage& message) override;

private:
    SetupLog& log_;
    InstallObserver& next_;
    bool suppressed_;
};
