// The invisible main window: it carries the message loop and starts the
// setup driver from inside it by posting itself WM_APP_START_SETUP.
#include "resources/resource.h"
#include "setup/StartUp.h"

namespace {

// Loads string id into a 256-character buffer (empty when missing).
void LoadFixedString(HINSTANCE instance, UINT id, char (&buffer)[256]) {
    buffer[0] = '\0';
    if (LoadStringA(instance, id, buffer, sizeof(buffer)) <= 0) buffer[0] = '\0';
}

}  // namespace

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            // Posted, so the driver runs after creation has returned.
            PostMessageA(window, WM_APP_START_SETUP, 0, 0);
            return 0;
        case WM_APP_START_SETUP:
            RunSetup(window);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(kExitInstalled);
            return 0;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

int RunProgram(HINSTANCE instance, const char* commandTail, int showCommand) {
    SetupConfig& config = gSetupConfig;
    LoadStampedConfig(config);
    ParseCommandLine(commandTail, config);
    LoadFixedString(instance, IDS_WINDOW_TITLE, config.windowTitle);
    LoadFixedString(instance, IDS_WINDOW_CLASS, config.windowClassName);

    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof(wc);
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = MainWindowProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_MAIN_LARGE));
    wc.hIconSm = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(IDI_MAIN_SMALL),
                                               IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), 0));
    wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszMenuName = nullptr;
    wc.lpszClassName = config.windowClassName;
    RegisterClassExA(&wc);

    config.instance = instance;
    HWND window = CreateWindowExA(0, config.windowClassName, config.windowTitle, WS_POPUP, 0, 0, 0,
                                  0, nullptr, nullptr, instance, nullptr);
    // Without its window the setup cannot run at all (e.g. no display): report
    // that as a failure, never as an install that did not happen.
    if (!window) return kExitFailed;
    ShowWindow(window, config.silent ? SW_HIDE : showCommand);
    UpdateWindow(window);

    MSG msg = {};
    BOOL got;
    while ((got = GetMessageA(&msg, nullptr, 0, 0)) != 0) {
        if (got == -1) return kExitFailed;  // the queue itself failed
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return static_cast<int>(msg.wParam);
}
