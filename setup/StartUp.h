// Start-up of the setup program: stamped configuration, command line, the
// invisible main window and its message loop, and the setup driver that
// hands over to the install run and turns its result into the exit code.
//
// The logic is kept in functions that take the configuration explicitly
// (command line in, configuration out) so it can be tested without a
// window; the program itself uses the one global gSetupConfig.
#pragma once

#include <windows.h>

#include "contract/StampedSlots.h"
#include "contract/UninstallLogFormat.h"  // kProductWord: the product's setup entry name
#include "text/Text.h"

// Posted by the main window to itself on creation; runs RunSetup.
constexpr UINT WM_APP_START_SETUP = WM_USER + 10;  // 1034

// Process exit codes.
constexpr int kExitInstalled = 0;
constexpr int kExitFailed = -1;  // cancelled, failed, prerequisite missing or a folder refused
// Silent mode: installed, but a file in use is replaced at the next restart
// (ERROR_SUCCESS_REBOOT_REQUIRED, which deployment tools read that way).
constexpr int kExitRestartNeeded = 3010;

// Command-line options (matched in lower case).
constexpr const char* kOptionSilent = "-silent";
constexpr const char* kOptionReceiveDir = "-receivedir=";
constexpr const char* kOptionTrovixDir = "-trovixdir=";
// With -silent: no window at all, every message answered with its default.
constexpr const char* kOptionSuppressMessageBoxes = "-suppressmsgboxes";
// The setup log; its value keeps its case.
constexpr const char* kOptionLog = "-log=";

// Configuration values of one run. Written during start-up and the first
// two steps of RunSetup, read-only afterwards.
struct SetupConfig {
    Text installName;                   // display name of what is installed
    Text receiverName;                  // receiver key name; empty: product only
    Text receiverDefaultFolder;         // fallback receiver folder; may be empty
    Text appKeyList;                    // "key|key|..." below HKLM or setup entry names
    Text appLocationValue;              // value holding the application folder
    Text appName;                       // application display name
    Text appExe;                        // application program file name
    Text productFolder;                 // -trovixdir= or FindDefaultTrovixFolder
    Text receiverFolder;                // -receivedir= or LocateReceiverFolder
    bool silent = false;                // -silent
    bool suppressMessageBoxes = false;  // -suppressmsgboxes, with -silent only
    Text logPath;                       // -log=, as given (empty: no log)
    Text commandLine;                   // the command-line tail as given
    char windowTitle[256] = {};         // string 103
    char windowClassName[256] = {};     // string 109
    HINSTANCE instance = nullptr;       // for every string-table lookup
};

// The program's configuration (static lifetime).
extern SetupConfig gSetupConfig;

// The stamped block itself, in section ".qorcfg" (see contract/StampedSlots.h).
extern StampedSlots gStampedSlots;

// Copies the seven stamped slots into config. Each slot is read up to its
// first zero byte but never past its capacity, so an unterminated slot
// yields capacity characters. A slot still holding its marker gives the
// default: defaultInstallName for the install name, empty for the others.
// Touches no other field of config.
void LoadStampedConfigFrom(const StampedSlots& slots, const Text& defaultInstallName,
                           SetupConfig& config);

// LoadStampedConfigFrom(gStampedSlots, string 163 of this module, config).
void LoadStampedConfig(SetupConfig& config);

// Sets config.silent, config.receiverFolder and config.productFolder from the
// command-line tail (the text after the program name). The tail is matched
// and taken in lower case. Absent options leave the folders empty; "-silent"
// counts at position 0 or after a space, first occurrence only.
// "-suppressmsgboxes" is matched the same way and counts only with -silent;
// "-log=" is matched like the folders but its value (quoted for spaces)
// keeps its case. config.commandLine receives the tail as given.
void ParseCommandLine(const Text& commandTail, SetupConfig& config);

// True when folder is absolute: a drive letter, a colon and a backslash, or a
// UNC path "\\server\share" (with or without more after it). A relative
// folder would be taken from whatever the current folder happens to be.
bool IsAbsoluteFolder(const Text& folder);

// True when a folder of config cannot be used: the product folder, or a
// non-empty receiver folder, is not absolute.
bool FolderRefused(const SetupConfig& config);

// The default product folder for a system directory: its drive letter (C
// when it starts with a backslash or is empty), ":\" and folderBelowDrive
// (string 166, "Program Files\QOR\Trovix").
Text DefaultTrovixFolderFor(const Text& systemDirectory, const Text& folderBelowDrive);

// Sets config.productFolder: "Directory" of the publisher setup entry
// "Trovix" as stored, else DefaultTrovixFolderFor(system directory, string 166).
void FindDefaultTrovixFolder(SetupConfig& config);

// Sets config.receiverFolder from the application key list (which becomes
// the receiver name first when it is empty): for each "|"-separated
// alternative, the publisher setup entry's "Directory", else the value
// config.appLocationValue of that key; first non-empty wins. Falls back to
// config.receiverDefaultFolder, which may be empty.
void LocateReceiverFolder(SetupConfig& config);

// True when a receiver cannot be placed and the user cannot be asked: an
// application key list is given, the receiver folder is still empty and no
// application program is configured, or the run is silent (only the wizard
// can ask for the application's folder).
bool PrerequisiteMissing(const SetupConfig& config);

// messageTemplate (string 129) with every "<RCV>" replaced by the install
// name and every "<PROD>" by the application name.
Text PrerequisiteMessage(const Text& messageTemplate, const SetupConfig& config);

// The module whose string table is used: config.instance once recorded,
// this executable before that.
HINSTANCE StringModule(const SetupConfig& config);

// Results of RunSilent and ShowWizard.
enum InstallResult {
    kInstallCompleted = 1,
    kInstallNotCompleted = 2,   // cancelled or failed
    kInstallRestartNeeded = 3,  // complete once a file in use is replaced at restart
};

// Exit code for a result of RunSilent / ShowWizard: 0 for kInstallCompleted,
// 3010 for kInstallRestartNeeded, -1 otherwise.
int ExitCodeForResult(int result);

// The setup driver: completes the folders, checks the prerequisite (message
// strings 129/130 and exit code -1 on failure, silent mode too), runs
// RunSilent or ShowWizard and posts WM_QUIT with the exit code. Uses
// gSetupConfig.
void RunSetup(HWND mainWindow);

// Main window procedure: WM_CREATE posts WM_APP_START_SETUP, which runs
// RunSetup; WM_DESTROY posts WM_QUIT with 0.
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Program entry: loads the configuration, parses commandTail, registers the
// class and creates the zero-size popup main window (hidden when silent),
// runs the message loop and returns the exit code. A main window that cannot
// be created, or a failing message queue, gives -1: nothing was installed.
int RunProgram(HINSTANCE instance, const char* commandTail, int showCommand);
