// Start-up: the application's one window and its message loop. The command
// line is not used; files arrive only by being dropped onto the window.
#include "main_window.h"
// after windows.h
#include <commctrl.h>

#include <exception>

#include "base/text.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    try {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&controls);

        // A top-level window without owner carries the task-bar button itself,
        // with the application title as its caption.
        TMORLA_MAIN window;
        MORLA_MAIN = &window;
        ShowWindow(window.Handle(), SW_SHOWNORMAL);
        UpdateWindow(window.Handle());
        RunMessageLoop();
        MORLA_MAIN = nullptr;
    } catch (const std::exception& error) {
        const std::u16string message = morla::FromUtf8(error.what());
        ShowExceptionBox(std::wstring(message.begin(), message.end()));
    } catch (...) {
        ShowExceptionBox(L"");
    }
    return 0;
}
