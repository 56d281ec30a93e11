// InstallRun: the install run of one setup and the observer it reports to.
//
// The run holds the folders and names of the setup, the install commands
// collected from the archive and the payload archive itself. It places the
// payload, writes the registry entries and the companion tag file, and
// reports what happens to an InstallObserver: the wizard shows it on its copy
// page, silent mode shows its messages as boxes of their own (or suppresses
// them), a setup log records it. The run itself never talks to a person, so
// it runs and is tested without a window.
//
// Results: RunSilent answers kInstallCompleted (1), kInstallRestartNeeded (3,
// complete once the files in use are replaced at the next restart) or
// kInstallNotCompleted (2, failed; setup/StartUp.h). Nothing is rolled back
// after a failure.
#pragma once

#include <windows.h>

#include <cstdint>

#include "archive/QorZipFile.h"
#include "contract/UninstallLogFormat.h"
#include "text/Text.h"

// Capacity of the install command list; commands beyond it are dropped.
constexpr uint32_t kMaxInstallCommands = 20;

// A message the run (or the setup around it) would put before a person.
struct InstallMessage {
    UINT textId = 0;  // string-table id of the text, for the record
    Text text;        // the text, placeholders filled in
    Text caption;
    UINT style = MB_OK;  // MessageBoxA style: buttons and icon
};

// What became of one archive entry.
enum class EntryOutcome {
    kPlaced,     // a new file was created
    kReplaced,   // an existing file was replaced
    kKeptNewer,  // an existing file of a newer version was kept
    kScheduled,  // the file is in use: the new one replaces it at the next restart
    kFailed,     // the entry could not be placed (the cause says why)
};

// Receives the install run's reports. Every function is called on the run's
// thread, in the order things happen.
class InstallObserver {
public:
    virtual ~InstallObserver() = default;
    // Entry destination is about to be placed (its folder may already exist).
    virtual void EntryStarted(const Text& destination) = 0;
    // Entry destination is done; cause is empty unless outcome is kFailed.
    virtual void EntryFinished(const Text& destination, EntryOutcome outcome,
                               const Text& cause) = 0;
    // done of total bytes of entries are placed.
    virtual void Progress(uint32_t done, uint32_t total) = 0;
    // A fact worth recording that needs no one's attention ("registry: ...").
    virtual void Note(const Text& line) = 0;
    // A message for a person; returns the answer (IDOK for an OK box).
    virtual int Message(const InstallMessage& message) = 0;
};

// Places message before a person as a message box owned by owner (null for
// none) and returns the answer; the one place a box of the run is shown.
int ShowInstallMessage(HWND owner, const InstallMessage& message);

class InstallRun {
public:
    // All texts empty, numbers zero, flags false; the archive has no file.
    // Reports go to observer, which must outlive the run's work.
    InstallRun(HINSTANCE moduleInstance, InstallObserver& observer);
    InstallRun(const InstallRun&) = delete;
    InstallRun& operator=(const InstallRun&) = delete;

    // PrepareFolders, NoteFolders, PrepareDestination(productFolder),
    // ExtractPayload(false), RegisterInstall, WriteTitleScoutTag. Returns
    // kInstallCompleted, kInstallRestartNeeded when a file in use waits for
    // the next restart, or kInstallNotCompleted when the product folder
    // cannot be created or the extraction failed.
    int RunSilent();

    // Reports the folders the install goes to (the receiver's only when
    // there is a receiver) as notes.
    void NoteFolders();

    // Completes the folders: sets needThirdPartyFolder, takes the 3rd-party
    // folder as receiver folder when it is needed and known, strips one
    // trailing backslash from both folders and, unless receiverDefaultGiven,
    // appends "\QOR" to the receiver folder when it does not end in it.
    void PrepareFolders();

    // Points uninstallLogPath at folder\TrovixInstall.inf and creates folder
    // with logging (recording the log file itself when it is new). Returns
    // true when the folder exists at the end; false, creating nothing, when
    // the log path would not fit in 260 characters.
    bool PrepareDestination(const Text& folder);

    // Opens the archive appended to the file at path (header offset from the
    // file's last 4 bytes). Returns true when the archive is open; on failure
    // the archive is closed. A length below 21 (no archive is shorter; a bare
    // stub ends in zeros) or not below the file size is a failure.
    bool OpenPayload(const Text& path);

    // Places every archive entry of the own executable, logging what it
    // creates and collecting install commands; each entry is reported to the
    // observer. With placeFoldersFirst (the wizard's order) an entry's folder
    // is made before the entry is reported started. A file that another
    // program holds open is not failed: the new file, left beside it under a
    // temporary name, is scheduled to replace it at the next restart and
    // restartNeeded is set. Returns true when every entry was extracted and
    // every existing file due for replacement was replaced or scheduled (a
    // failed replacement also brings message 152/153); every entry is
    // attempted. The archive is closed afterwards.
    bool ExtractPayload(bool placeFoldersFirst);

    // Stores command in the next free install command slot; dropped when all
    // kMaxInstallCommands slots are used.
    void AddInstallCommand(const Text& command);

    // Writes the product's, the receiver's and the product configuration's
    // registry entries with logging, then starts the install commands hidden.
    // Failures are ignored.
    void RegisterInstall();

    // Writes "Trovix.tag" in C:\Program Files\QOR\Scout (logged); brings
    // message 170/171 when the file cannot be written.
    void WriteTitleScoutTag();

    // String-table entry id (256-character buffer) with the first
    // "<DISP NAME>" replaced by installName and the first "<PROD NAME>" by
    // productDisplayName. Empty text when the entry is missing.
    Text LoadText(UINT id) const;

    // ---- Data, in this order ----
    HINSTANCE moduleInstance = nullptr;         // string-table lookups
    InstallObserver* observer;                  // never null
    Text productFolder;                         // "[TROVIX]" entries; the uninstall log
    Text receiverFolder;                        // "[RECEIVE]" entries
    Text receiverName;                          // empty in a product-only setup
    Text installName;                           // stamped install (display) name
    Text productKeyName;                        // string 163; log prefix, registry entry name
    Text productDisplayName;                    // string 163; "Full Name", "<PROD NAME>"
    Text appExe;                                // 3rd-party application's program file name
    Text appName;                               // its display name; empty: appExe is shown
    Text thirdPartyFolder;                      // chosen in the wizard; else empty
    bool needThirdPartyFolder = false;          // set by PrepareFolders
    bool receiverDefaultGiven = false;          // stamped receiver default folder non-empty
    bool receiverFolderKnown = false;           // receiver folder non-empty at set-up
    QorZipFile archive;                         // the payload; opened by OpenPayload
    Text uninstallLogPath;                      // set by PrepareDestination
    bool restartNeeded = false;                 // a replacement waits for the next restart
    uint32_t installCommandCount = 0;           // used entries of installCommands
    Text installCommands[kMaxInstallCommands];  // run after the install, in archive order
};

// The answer a message box gives when its default button is pressed: IDYES
// for a Yes/No box, IDOK otherwise (all the run's boxes have OK first).
int DefaultAnswer(UINT style);

// The observer of silent mode: no progress, and each message as a box owned
// by owner (the run's own messages have none: the main window is hidden;
// the driver's prerequisite message is owned by the main window). With
// suppress (-suppressmsgboxes) no box is shown: every message is answered
// with DefaultAnswer at once.
class SilentObserver : public InstallObserver {
public:
    explicit SilentObserver(HWND owner, bool suppress = false)
        : owner_(owner), suppress_(suppress) {}
    void EntryStarted(const Text&) override {}
    void EntryFinished(const Text&, EntryOutcome, const Text&) override {}
    void Progress(uint32_t, uint32_t) override {}
    void Note(const Text&) override {}
    int Message(const InstallMessage& message) override;

private:
    HWND owner_;
    bool suppress_;
};
