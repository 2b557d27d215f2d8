// Start-up: the application's one window and its message loop. Files arrive
// by being dropped onto the window, chosen in the system's file dialogs, or
// named on the command line (dropped onto the program's icon, "Send to",
// "Open with"), which are converted once the window is shown.
#include "main_window.h"
// after windows.h
#include <commctrl.h>
#include <objbase.h>

#include <exception>
#include <utility>

#include "api/morla.h"

namespace {

// The thread's single-threaded apartment, which the shell's file dialogs need
// (they are COM objects that call back on this thread). When it cannot be
// entered the window still works; the dialogs then say why they cannot open.
class ComApartment {
  public:
    ComApartment()
        : entered_(SUCCEEDED(
              CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
    ~ComApartment() {
        if (entered_) {
            CoUninitialize();
        }
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

  private:
    bool entered_;
};

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const ComApartment apartment;
    try {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&controls);

        StartArguments arguments = ReadStartArguments(GetCommandLineW());
        // A top-level window without owner carries the task-bar button itself,
        // with the application title as its caption.
        TMORLA_MAIN window({arguments.language, SettingsFilePath()});
        MORLA_MAIN = &window;
        ShowWindow(window.Handle(), SW_SHOWNORMAL);
        UpdateWindow(window.Handle());
        window.ConvertAtStart(std::move(arguments.paths));
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
