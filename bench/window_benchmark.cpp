// The window at real scale: drops files on the real main window, through
// WM_DROPFILES and the window's own drop handling, with -v and -fn ticked,
// and reports how long the list takes to fill and the longest time the window
// went without processing its messages.
//   window_benchmark [-f VALUE] FILE...
//
// While the drop runs, a thread timer (10 ms, the system's shortest) is the
// probe of responsiveness: its message is only dispatched when the window
// processes its messages, so the longest gap between two of them is the
// longest time the window did not answer, give or take the timer's period.
#include "main_window.h"
// after windows.h
#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "drop_files.h"

namespace {

using Clock = std::chrono::steady_clock;

std::vector<Clock::time_point> answered;  // when the window processed its messages

void CALLBACK NoteAnswer(HWND, UINT, UINT_PTR, DWORD) {
    answered.push_back(Clock::now());
}

double Seconds(Clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

LRESULT RowCount(HWND list) {
    return SendMessageW(list, LB_GETCOUNT, 0, 0);
}

int Run(const std::vector<std::wstring>& arguments) {
    std::wstring value = L"2";
    std::vector<std::wstring> files;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == L"-f" && i + 1 < arguments.size()) {
            value = arguments[++i];
        } else {
            files.push_back(arguments[i]);
        }
    }
    if (files.empty()) {
        std::fputs("usage: window_benchmark [-f VALUE] FILE...\n", stderr);
        return 2;
    }

    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    TMORLA_MAIN window;
    MORLA_MAIN = &window;
    ShowWindow(window.Handle(), SW_SHOWNORMAL);
    UpdateWindow(window.Handle());
    SendMessageW(window.C_v, BM_SETCHECK, BST_CHECKED, 0);
    SendMessageW(window.C_fn, BM_SETCHECK, BST_CHECKED, 0);
    SetWindowTextW(window.E_fn, value.c_str());
    ProcessMessages();

    const LRESULT before = RowCount(window.LIST);
    const UINT_PTR timer = SetTimer(nullptr, 0, USER_TIMER_MINIMUM, NoteAnswer);
    const Clock::time_point start = Clock::now();
    answered.push_back(start);
    SendMessageW(window.Handle(), WM_DROPFILES,
                 reinterpret_cast<WPARAM>(morla::test::MakeDrop(files)), 0);
    const Clock::time_point listed = Clock::now();  // the last row is in the list
    answered.push_back(listed);
    KillTimer(nullptr, timer);
    ProcessMessages();  // paints the rows of the last file
    UpdateWindow(window.Handle());
    const Clock::time_point painted = Clock::now();

    Clock::duration longest{};
    for (std::size_t i = 1; i < answered.size(); ++i) {
        longest = std::max(longest, answered[i] - answered[i - 1]);
    }
    const LRESULT rows = RowCount(window.LIST) - before;
    const double seconds = Seconds(listed - start);
    std::printf("files dropped:                 %zu\n", files.size());
    std::printf("rows listed:                   %ld\n", static_cast<long>(rows));
    std::printf("drop to last row in the list:  %.3f s\n", seconds);
    std::printf("rows per second:               %.0f\n", rows / seconds);
    std::printf("longest time without answering: %.3f s\n", Seconds(longest));
    std::printf("last rows painted after:       %.3f s\n", Seconds(painted - listed));
    MORLA_MAIN = nullptr;
    return rows > 0 ? 0 : 1;
}

}  // namespace

int main() {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::wstring> arguments(wide + 1, wide + count);
    LocalFree(wide);
    return Run(arguments);
}
