// The wizard dialog (template 130): six pages made by showing, hiding,
// enabling and relabelling the controls of one modal dialog, the copy run on
// page 5 with its progress bar, and the Start Menu and Desktop entries of
// the last page.
#include <windows.h>
#include <commdlg.h>

#include <cstddef>
#include <cstdint>

#include "resources/resource.h"
#include "setup/ProgressBar.h"
#include "setup/SetupWizard.h"
#include "setup/StartUp.h"
#include "system/FileUtil.h"
#include "system/Handles.h"
#include "system/Launch.h"
#include "system/UninstallLog.h"
#include "text/ResourceText.h"
#include "text/TextUtil.h"
#include "ui/FolderBrowser.h"
#include "ui/Window.h"

namespace {

// The progress bar is repainted for at least this long after each update.
constexpr DWORD kProgressPumpMs = 20;

constexpr char kStartMenuFolder[] = "QOR\\Trovix";
constexpr char kDownloaderName[] = "QorDL.exe";
constexpr char kThirdPartyNamePlaceholder[] = "<3RD PARTY NAME>";

constexpr int kDestinationGroup[] = {IDC_WIZ_DEST_GROUP, IDC_WIZ_DEST_FOLDER, IDC_WIZ_DEST_BROWSE};
constexpr int kThirdPartyGroup[] = {IDC_WIZ_3RD_GROUP, IDC_WIZ_3RD_FOLDER, IDC_WIZ_3RD_BROWSE};
constexpr int kFinishOptions[] = {IDC_WIZ_LAUNCH, IDC_WIZ_DESKTOP_ICON};

template <size_t N>
void ShowControls(HWND dialog, const int (&ids)[N], bool show) {
    for (int id : ids) ShowWindow(GetDlgItem(dialog, id), show ? SW_SHOW : SW_HIDE);
}

void ShowControl(HWND dialog, int id, bool show) {
    ShowWindow(GetDlgItem(dialog, id), show ? SW_SHOW : SW_HIDE);
}

void EnableControl(HWND dialog, int id, bool enable) {
    EnableWindow(GetDlgItem(dialog, id), enable ? TRUE : FALSE);
}

void EnableNavigation(HWND dialog, bool enable) {
    EnableControl(dialog, IDC_WIZ_BACK, enable);
    EnableControl(dialog, IDC_WIZ_NEXT, enable);
    EnableControl(dialog, IDC_WIZ_CANCEL, enable);
}

// A control's rectangle in the dialog's client coordinates.
RECT ClientRectOf(HWND dialog, int id) {
    RECT r = {};
    GetWindowRect(GetDlgItem(dialog, id), &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

Text WithoutTrailingBackslash(Text path) {
    if (!path.empty() && path.back() == '\\') path.erase(path.size() - 1);
    return path;
}

// Name shown for "<3RD PARTY NAME>": the stamped application name, else
// the application's program file name (page 3 only appears when that is set).
Text ThirdPartyName(const Text& appName, const Text& appExe) {
    return appName.empty() ? appExe : appName;
}

void DrawLine(HDC dc, int colorIndex, const POINT (&points)[3]) {
    GdiObject pen(CreatePen(PS_SOLID, 0, GetSysColor(colorIndex)));
    HGDIOBJ old = SelectObject(dc, pen.Get());
    Polyline(dc, points, 3);
    SelectObject(dc, old);  // the pen is deleted once it is no longer selected
}

void FillWith(HDC dc, const RECT& r, int colorIndex) {
    if (r.right <= r.left || r.bottom <= r.top) return;
    GdiObject brush(CreateSolidBrush(GetSysColor(colorIndex)));
    FillRect(dc, &r, static_cast<HBRUSH>(brush.Get()));
}

}  // namespace

// ---- Dialog plumbing -----------------------------------------------------

SetupWizard::SetupWizard(HWND owner, InstallRun& installRun)
    : run(installRun), moduleInstance(installRun.moduleInstance), ownerWindow(owner) {}

int SetupWizard::ShowWizard() {
    run.PrepareFolders();
    INT_PTR result = DialogBoxParamA(moduleInstance, MAKEINTRESOURCEA(IDD_WIZARD), ownerWindow,
                                     &SetupWizard::DialogProc, reinterpret_cast<LPARAM>(this));
    dialogWindow = nullptr;  // later message boxes must not name a destroyed owner
    // Anything but a finished install (a failed dialog, or one ended by the
    // quit request of a failed copy) counts as not installed.
    return result == kInstallCompleted ? kInstallCompleted : kInstallNotCompleted;
}

INT_PTR CALLBACK SetupWizard::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) SetWindowLongPtrA(dialog, DWLP_USER, lParam);
    SetupWizard* wizard = reinterpret_cast<SetupWizard*>(GetWindowLongPtrA(dialog, DWLP_USER));
    return wizard ? wizard->HandleDialogMessage(dialog, message, wParam, lParam) : 0;
}

INT_PTR SetupWizard::HandleDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    dialogWindow = dialog;
    switch (message) {
        case WM_INITDIALOG:
            StartDialog();
            return 1;
        case WM_PAINT:
            PaintProgress();
            return 1;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_WIZ_CANCEL:
                    CancelOrFinish();
                    return 1;
                case IDC_WIZ_DEST_BROWSE:
                    BrowseForDestination();
                    return 1;
                case IDC_WIZ_3RD_BROWSE:
                    BrowseForThirdPartyProgram();
                    return 1;
                case IDC_WIZ_NEXT:
                    GoNext();
                    return 1;
                case IDC_WIZ_BACK:
                    GoBack();
                    return 1;
                default:
                    return 0;
            }
        default:
            return 0;
    }
}

Text SetupWizard::LoadWizardText(UINT id) const { return run.LoadText(id); }

Text SetupWizard::LoadThirdPartyText(UINT id) const {
    Text text = LoadResourceText(moduleInstance, id);
    ReplaceOccurrences(text, "<DISP NAME>", run.installName, false);
    ReplaceOccurrences(text, "<PROD NAME>", ThirdPartyName(run.appName, run.appExe), false);
    return text;
}

void SetupWizard::SetInstructions(UINT id1, UINT id2, UINT id3, UINT id4, UINT id5, UINT id6) {
    const UINT ids[] = {id1, id2, id3, id4, id5, id6};
    Text text;
    for (UINT id : ids) {
        if (id == 0) continue;
        Text part = LoadWizardText(id);
        // Strings 141 and 142 name the 3rd-party application; one occurrence
        // each, replaced once so a name that itself looks like the
        // placeholder cannot loop.
        ReplaceOccurrences(part, kThirdPartyNamePlaceholder,
                           ThirdPartyName(run.appName, run.appExe), false);
        if (!text.empty()) text += "\r\n\r\n";
        text += part;
    }
    SetDlgItemTextA(dialogWindow, IDC_WIZ_INSTRUCTIONS, text.c_str());
}

void SetupWizard::ShowProgressText(const Text& text) {
    if (dialogWindow) SetDlgItemTextA(dialogWindow, IDC_WIZ_PROGRESS_LABEL, text.c_str());
}

void SetupWizard::SetProgress(uint32_t done, uint32_t total) {
    progressDone = done;
    progressTotal = total;
    if (!dialogWindow) return;  // never paint over every window of the desktop
    InvalidateRect(dialogWindow, nullptr, FALSE);
    DWORD start = GetTickCount();
    for (;;) {
        PumpMessages();
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= kProgressPumpMs) break;
        // Sleep until a message arrives or the time is up, instead of spinning.
        MsgWaitForMultipleObjects(0, nullptr, FALSE, kProgressPumpMs - elapsed, QS_ALLINPUT);
    }
}

// ---- The run's observer --------------------------------------------------

void SetupWizard::EntryStarted(const Text& destination) {
    Text label = LoadWizardText(IDS_EXTRACTING_FILE);
    ReplaceOccurrences(label, "<FILE>", destination, false);
    ShowProgressText(label);
}

void SetupWizard::Progress(uint32_t done, uint32_t total) {
    EndWaitCursor();
    SetProgress(done, total);
    BeginWaitCursor();
}

int SetupWizard::Message(const InstallMessage& message) {
    return ShowInstallMessage(dialogWindow, message);
}

// ---- Pages ---------------------------------------------------------------

void SetupWizard::StartDialog() {
    HWND dialog = dialogWindow;
    CenterOverParent(dialog);

    // The picture is centred in the space left of the instructions and above
    // the group frames.
    HWND picture = GetDlgItem(dialog, IDC_WIZ_PICTURE);
    RECT pic = ClientRectOf(dialog, IDC_WIZ_PICTURE);
    RECT instructions = ClientRectOf(dialog, IDC_WIZ_INSTRUCTIONS);
    RECT group = ClientRectOf(dialog, IDC_WIZ_DEST_GROUP);
    LONG width = pic.right - pic.left;
    LONG height = pic.bottom - pic.top;
    MoveWindow(picture, (instructions.left - width) / 2, (group.top - height) / 2, width, height,
               FALSE);

    ShowPage(kPageDestination);
    CheckDlgButton(dialog, IDC_WIZ_LAUNCH, BST_CHECKED);
    CheckDlgButton(dialog, IDC_WIZ_DESKTOP_ICON, BST_CHECKED);
}

void SetupWizard::ShowPage(int page) {
    switch (page) {
        case kPageDestination:
            ShowDestinationPage();
            break;
        case kPageReceiverDestination:
            ShowReceiverDestinationPage();
            break;
        case kPageThirdPartyFolder:
            ShowThirdPartyFolderPage();
            break;
        case kPageReady:
            ShowReadyPage();
            break;
        case kPageCopying:
            ShowCopyingPage();
            break;
        case kPageFinished:
            ShowFinishedPage();
            break;
        default:
            break;
    }
}

void SetupWizard::ShowCopyingPageAndInstall() {
    ShowPage(kPageCopying);
    RunCopy();
}

void SetupWizard::ShowFinishedPageAndWriteShortcuts() {
    ShowPage(kPageFinished);
    WriteStartMenuEntries();
}

void SetupWizard::ShowDestinationPage() {
    HWND dialog = dialogWindow;
    ShowControls(dialog, kThirdPartyGroup, false);
    ShowControls(dialog, kDestinationGroup, false);  // the receiver group
    ShowControls(dialog, kDestinationGroup, true);
    EnableControl(dialog, IDC_WIZ_NEXT, true);
    EnableControl(dialog, IDC_WIZ_BACK, false);
    SetWindowTextA(dialog, LoadWizardText(IDS_TITLE_DESTINATION).c_str());
    SetInstructions(IDS_DEST_INTRO, IDS_DEST_CLICK_NEXT, IDS_DEST_CLICK_BROWSE,
                    IDS_DEST_CAN_CANCEL);
    SetDlgItemTextA(dialog, IDC_WIZ_DEST_FOLDER, run.productFolder.c_str());
    currentPage = kPageDestination;
}

void SetupWizard::ShowReceiverDestinationPage() {
    HWND dialog = dialogWindow;
    ShowControls(dialog, kThirdPartyGroup, false);
    ShowControls(dialog, kDestinationGroup, false);
    // The receiver group shares the destination controls; its folder can only
    // be changed when the setup names a default folder for it.
    ShowControl(dialog, IDC_WIZ_DEST_GROUP, true);
    ShowControl(dialog, IDC_WIZ_DEST_FOLDER, true);
    ShowControl(dialog, IDC_WIZ_DEST_BROWSE, run.receiverDefaultGiven);
    EnableControl(dialog, IDC_WIZ_BACK, true);
    // Next may still be disabled from page 3; nothing on this page can block
    // going on, so it is always enabled here.
    EnableControl(dialog, IDC_WIZ_NEXT, true);
    SetWindowTextA(dialog, LoadWizardText(IDS_TITLE_RCV_DESTINATION).c_str());
    if (run.receiverDefaultGiven)
        SetInstructions(IDS_RCV_DEST_INTRO, IDS_RCV_DEST_CLICK_NEXT, IDS_RCV_DEST_CLICK_BROWSE);
    else
        SetInstructions(IDS_RCV_DEST_INTRO, IDS_RCV_DEST_FIXED);
    SetDlgItemTextA(dialog, IDC_WIZ_DEST_FOLDER, run.receiverFolder.c_str());
    currentPage = kPageReceiverDestination;
}

void SetupWizard::ShowThirdPartyFolderPage() {
    HWND dialog = dialogWindow;
    ShowControls(dialog, kDestinationGroup, false);
    ShowControls(dialog, kThirdPartyGroup, true);
    EnableControl(dialog, IDC_WIZ_BACK, true);
    SetWindowTextA(dialog, LoadThirdPartyText(IDS_TITLE_3RD_FOLDER).c_str());
    SetInstructions(IDS_3RD_NEEDED, IDS_3RD_SELECT);
    SetDlgItemTextA(dialog, IDC_WIZ_3RD_GROUP, LoadThirdPartyText(IDS_3RD_GROUP).c_str());
    Text shown = run.thirdPartyFolder.empty() ? Text("C:\\") : run.thirdPartyFolder + "\\";
    SetDlgItemTextA(dialog, IDC_WIZ_3RD_FOLDER, shown.c_str());
    currentPage = kPageThirdPartyFolder;
    UpdateThirdPartyNext();
}

void SetupWizard::ShowReadyPage() {
    HWND dialog = dialogWindow;
    ShowControls(dialog, kDestinationGroup, false);
    ShowControls(dialog, kThirdPartyGroup, false);
    ShowControl(dialog, IDC_WIZ_PROGRESS_LABEL, false);
    EnableControl(dialog, IDC_WIZ_BACK, true);
    // Reached by Next or after a failed copy start (which re-enables it); set
    // anyway so this page can never be a dead end.
    EnableControl(dialog, IDC_WIZ_NEXT, true);
    SetWindowTextA(dialog, LoadWizardText(IDS_TITLE_READY).c_str());
    SetInstructions(IDS_READY_INTRO, IDS_READY_REVIEW, IDS_READY_CLICK_NEXT);
    currentPage = kPageReady;
}

void SetupWizard::ShowCopyingPage() {
    HWND dialog = dialogWindow;
    ShowControls(dialog, kFinishOptions, false);
    ShowControl(dialog, IDC_WIZ_PROGRESS_LABEL, true);
    EnableNavigation(dialog, false);
    SetWindowTextA(dialog, LoadWizardText(IDS_TITLE_COPYING).c_str());
    SetInstructions(IDS_COPYING_WAIT);
    currentPage = kPageCopying;
}

void SetupWizard::ShowFinishedPage() {
    HWND dialog = dialogWindow;
    ShowControl(dialog, IDC_WIZ_PROGRESS_LABEL, false);
    ShowControls(dialog, kFinishOptions, true);
    EnableControl(dialog, IDC_WIZ_BACK, false);
    EnableControl(dialog, IDC_WIZ_NEXT, false);
    SetDlgItemTextA(dialog, IDC_WIZ_CANCEL, LoadWizardText(IDS_FINISHED_BUTTON).c_str());
    SetWindowTextA(dialog, LoadWizardText(IDS_TITLE_COMPLETE).c_str());
    SetInstructions(IDS_DONE_INSTALLED, IDS_DONE_ACCESS, IDS_DONE_OPTIONS, IDS_DONE_CLICK_FINISHED);
    currentPage = kPageFinished;
    InvalidateRect(dialog, nullptr, TRUE);  // wipes the progress bar
}

void SetupWizard::WriteStartMenuEntries() {
    // Failures of the shortcut writers are not the user's concern here.
    Text prefix = LoadWizardText(IDS_PRODUCT_NAME);
    Text downloader = run.productFolder + "\\" + kDownloaderName;
    CreateLoggedStartMenuUrl(prefix, run.uninstallLogPath, kStartMenuFolder,
                             LoadWizardText(IDS_SHORTCUT_START), LoadWizardText(IDS_PRODUCT_URL),
                             downloader, 1);
    CreateLoggedStartMenuShortcut(prefix, run.uninstallLogPath, kStartMenuFolder,
                                  LoadWizardText(IDS_SHORTCUT_CONFIGURE), downloader, Text(), 1);
    CreateLoggedStartMenuShortcut(prefix, run.uninstallLogPath, kStartMenuFolder,
                                  LoadWizardText(IDS_SHORTCUT_UNINSTALL),
                                  run.productFolder + "\\" + kUninstallerFileName, Text(), 1);
}

void SetupWizard::UpdateThirdPartyNext() {
    bool found = FileExists(run.thirdPartyFolder + "\\" + run.appExe);
    EnableControl(dialogWindow, IDC_WIZ_NEXT, found);
}

// ---- Navigation ----------------------------------------------------------

void SetupWizard::GoNext() {
    switch (currentPage) {
        case kPageDestination:
            if (run.receiverFolderKnown)
                ShowPage(kPageReceiverDestination);
            else if (!run.appExe.empty())
                ShowPage(kPageThirdPartyFolder);
            else
                ShowPage(kPageReady);
            break;
        case kPageReceiverDestination:
            ShowPage(run.appExe.empty() ? kPageReady : kPageThirdPartyFolder);
            break;
        case kPageThirdPartyFolder:
            ShowPage(kPageReady);
            break;
        case kPageReady:
            ShowCopyingPageAndInstall();
            break;
        case kPageCopying:
            ShowFinishedPageAndWriteShortcuts();
            break;
        default:
            break;
    }
}

void SetupWizard::GoBack() {
    switch (currentPage) {
        case kPageReceiverDestination:
            ShowPage(kPageDestination);
            break;
        case kPageThirdPartyFolder:
            ShowPage(run.receiverFolderKnown ? kPageReceiverDestination : kPageDestination);
            break;
        case kPageReady:
            if (!run.appExe.empty())
                ShowPage(kPageThirdPartyFolder);
            else
                ShowPage(run.receiverFolderKnown ? kPageReceiverDestination : kPageDestination);
            break;
        case kPageCopying:
            ShowPage(kPageReady);
            break;
        default:
            break;
    }
}

void SetupWizard::RunCopy() {
    HWND dialog = dialogWindow;
    run.NoteFolders();
    // The copy page's messages go through the run's observer, so a setup log
    // records them too; they come back here to be shown.
    if (!run.PrepareDestination(run.productFolder)) {
        Text text = LoadWizardText(IDS_CREATE_FOLDER_FAILED);
        ReplaceOccurrences(text, "<FOLDER>", run.productFolder, false);
        const InstallMessage message{IDS_CREATE_FOLDER_FAILED, text,
                                     LoadWizardText(IDS_CREATE_FOLDER_FAILED_CAPTION),
                                     MB_OK | MB_ICONERROR};
        run.observer->Message(message);
        EnableNavigation(dialog, true);
        GoBack();
        return;
    }
    if (!run.ExtractPayload(true)) {
        const InstallMessage message{IDS_EXTRACT_FAILED, LoadWizardText(IDS_EXTRACT_FAILED),
                                     LoadWizardText(IDS_EXTRACT_FAILED_CAPTION),
                                     MB_OK | MB_ICONERROR};
        run.observer->Message(message);
        // The program ends with -1; ending the dialog as cancelled as well
        // gives ShowWizard a defined answer that maps to the same code.
        PostQuitMessage(-1);
        EndDialog(dialog, kInstallNotCompleted);
        return;
    }
    ShowProgressText(LoadWizardText(IDS_UPDATING_SYSTEM));
    run.RegisterInstall();
    ShowProgressText(LoadWizardText(IDS_INSTALL_COMPLETE));
    run.WriteTitleScoutTag();
    // Files in use wait for the restart: said once, before the last page.
    if (run.restartNeeded) {
        const InstallMessage message{IDS_RESTART_NEEDED, LoadWizardText(IDS_RESTART_NEEDED),
                                     LoadWizardText(IDS_RESTART_NEEDED_CAPTION),
                                     MB_OK | MB_ICONINFORMATION};
        run.observer->Message(message);
    }
    EnableNavigation(dialog, true);
    GoNext();
}

void SetupWizard::CancelOrFinish() {
    HWND dialog = dialogWindow;
    if (currentPage == kPageCopying) return;  // the button is disabled meanwhile
    if (currentPage == kPageFinished) {
        Text address = LoadWizardText(IDS_PRODUCT_URL);
        if (IsDlgButtonChecked(dialog, IDC_WIZ_DESKTOP_ICON) == BST_CHECKED) {
            CreateLoggedDesktopUrl(LoadWizardText(IDS_PRODUCT_NAME), run.uninstallLogPath,
                                   LoadWizardText(IDS_SHORTCUT_START), address,
                                   run.productFolder + "\\" + kDownloaderName, 2);
        }
        if (IsDlgButtonChecked(dialog, IDC_WIZ_LAUNCH) == BST_CHECKED) OpenUrlInBrowser(address);
        EndDialog(dialog, kInstallCompleted);
        return;
    }
    int answer = MessageBoxA(dialog, LoadWizardText(IDS_CANCEL_QUERY).c_str(),
                             LoadWizardText(IDS_CANCEL_CAPTION).c_str(), MB_YESNO);
    if (answer == IDYES) EndDialog(dialog, kInstallNotCompleted);
}

// ---- Browse buttons ------------------------------------------------------

void SetupWizard::BrowseForDestination() {
    HWND dialog = dialogWindow;
    if (currentPage != kPageDestination && currentPage != kPageReceiverDestination) return;

    char shown[kPathBufferSize + 1] = {};
    GetDlgItemTextA(dialog, IDC_WIZ_DEST_FOLDER, shown, sizeof shown);

    Text path;
    {
        FolderBrowser browser(dialog, moduleInstance);
        browser.SetTitle(LoadWizardText(IDS_BROWSE_TITLE));
        browser.SetMessages(LoadWizardText(IDS_INVALID_PATH),
                            LoadWizardText(IDS_INVALID_PATH_CAPTION));
        browser.SetPath(shown);
        if (browser.Run() != 1) return;
        path = browser.GetPath();
    }
    // The browser takes "\\x" and "C:x" as paths; a folder must not depend
    // on the current drive or folder.
    if (!IsAbsoluteFolder(path)) {
        Text message = LoadWizardText(IDS_INVALID_PATH);
        ReplaceOccurrences(message, "<SAMPLE>", Text(shown), false);
        MessageBoxA(dialog, message.c_str(), LoadWizardText(IDS_INVALID_PATH_CAPTION).c_str(),
                    MB_OK | MB_ICONERROR);
        return;
    }
    path = WithoutTrailingBackslash(path);

    if (!FolderExists(path)) {
        Text question = LoadWizardText(IDS_CREATE_FOLDER_QUERY);
        ReplaceOccurrences(question, "<FOLDER>", path, false);
        int answer = MessageBoxA(dialog, question.c_str(),
                                 LoadWizardText(IDS_CREATE_FOLDER_CAPTION).c_str(), MB_YESNO);
        if (answer != IDYES) return;
        if (!run.PrepareDestination(path)) {
            Text message = LoadWizardText(IDS_CREATE_FOLDER_FAILED);
            ReplaceOccurrences(message, "<FOLDER>", path, false);
            MessageBoxA(dialog, message.c_str(),
                        LoadWizardText(IDS_CREATE_FOLDER_FAILED_CAPTION).c_str(),
                        MB_OK | MB_ICONERROR);
            return;
        }
    }
    if (currentPage == kPageDestination)
        run.productFolder = path;
    else
        run.receiverFolder = path;
    SetDlgItemTextA(dialog, IDC_WIZ_DEST_FOLDER, path.c_str());
}

void SetupWizard::BrowseForThirdPartyProgram() {
    HWND dialog = dialogWindow;
    if (currentPage != kPageThirdPartyFolder) return;

    // An initial file that does not fit the dialog's buffer is left out
    // rather than cut into a wrong path.
    char file[kPathBufferSize] = {};
    Text initial = run.thirdPartyFolder + "\\" + run.appExe;
    if (initial.size() < sizeof file) memcpy(file, initial.c_str(), initial.size() + 1);

    Text title = LoadThirdPartyText(IDS_3RD_BROWSE_TITLE);
    OPENFILENAMEA request = {};
    request.lStructSize = kClassicOpenFileNameSize;
    request.hwndOwner = dialog;
    request.hInstance = moduleInstance;
    request.lpstrFile = file;
    request.nMaxFile = sizeof file;
    request.lpstrInitialDir = run.thirdPartyFolder.empty() ? nullptr : run.thirdPartyFolder.c_str();
    request.lpstrTitle = title.c_str();
    request.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;

    if (GetOpenFileNameA(&request)) {
        Text chosen(file);
        size_t slash = chosen.rfind('\\');
        Text name = slash == Text::npos ? chosen : chosen.substr(slash + 1);
        Text wanted = run.appExe;
        bool matches = name.MakeLower() == wanted.MakeLower();
        if (!matches) {
            Text message = LoadThirdPartyText(IDS_WRONG_FILE);
            ReplaceOccurrences(message, "<EXE>", run.appExe, false);
            MessageBoxA(dialog, message.c_str(), LoadWizardText(IDS_WRONG_FILE_CAPTION).c_str(),
                        MB_OK | MB_ICONINFORMATION);
        }
        // The folder is taken even for a wrong file: the user may have picked
        // a sibling of the program in the right folder.
        run.thirdPartyFolder = slash == Text::npos ? Text() : chosen.substr(0, slash);
        SetDlgItemTextA(dialog, IDC_WIZ_3RD_FOLDER, (run.thirdPartyFolder + "\\").c_str());
        // A still-needed receiver folder follows the chosen folder whenever
        // that folder holds the program, even if another file of it was
        // picked: Next is enabled then, and the receiver must not stay in
        // the "\QOR" placeholder at the root of the current drive.
        if (matches || FileExists(run.thirdPartyFolder + "\\" + run.appExe)) run.PrepareFolders();
    } else if (CommDlgExtendedError() != 0) {
        MessageBoxA(dialog, LoadThirdPartyText(IDS_FILE_ACCESS_FAILED).c_str(),
                    LoadWizardText(IDS_FILE_ACCESS_FAILED_CAPTION).c_str(), MB_OK | MB_ICONERROR);
    }
    UpdateThirdPartyNext();
}

// ---- Progress bar --------------------------------------------------------

void SetupWizard::PaintProgress() {
    HWND dialog = dialogWindow;
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(dialog, &paint);
    if (dc && currentPage == kPageCopying) {
        RECT r = ClientRectOf(dialog, IDC_WIZ_PROGRESS_BAR);
        const LONG L = r.left, T = r.top, R = r.right, B = r.bottom;
        // A sunken frame: dark on the top and left, light on the bottom and right.
        DrawLine(dc, COLOR_BTNSHADOW, {{L, B - 2}, {L, T}, {R - 1, T}});
        DrawLine(dc, COLOR_3DDKSHADOW, {{L + 1, B - 3}, {L + 1, T + 1}, {R - 2, T + 1}});
        DrawLine(dc, COLOR_3DLIGHT, {{L + 1, B - 2}, {R - 2, B - 2}, {R - 2, T + 1}});
        DrawLine(dc, COLOR_BTNHIGHLIGHT, {{L, B - 1}, {R - 1, B - 1}, {R - 1, T}});

        InflateRect(&r, -2, -2);
        LONG filled = ProgressFilledWidth(r.right - r.left, progressDone, progressTotal);
        RECT bar = {r.left, r.top, r.left + filled, r.bottom};
        RECT rest = {r.left + filled, r.top, r.right, r.bottom};
        FillWith(dc, bar, COLOR_HIGHLIGHT);
        FillWith(dc, rest, COLOR_WINDOW);
    }
    EndPaint(dialog, &paint);
}
