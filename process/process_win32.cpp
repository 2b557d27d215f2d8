// The process helpers on Windows: the console's control handler and its
// window.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <io.h>
#include <windows.h>

#include <string>
#include <vector>

#include "base/text.h"
#include "process/process.h"

namespace morla {
namespace {

BOOL WINAPI RemoveTemporariesOnConsoleEvent(DWORD event) {
    // The numbers of the C runtime's SIGINT and SIGBREAK, as a POSIX shell
    // would report them.
    RemoveTemporaryFilesAndExit(128 + (event == CTRL_C_EVENT ? 2 : 21));
}

}  // namespace

void RemoveTemporaryFilesOnInterrupt() {
    SetConsoleCtrlHandler(RemoveTemporariesOnConsoleEvent, TRUE);
}

void OpenClosedStandardDescriptors() {}

void LineToEraseOnInterrupt(std::FILE* /*stream*/, int /*columns*/) {}

std::vector<std::u16string> UserFileFolders(const char* program) {
    std::vector<std::u16string> folders;
    std::wstring self(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
    if (length > 0 && length < self.size()) {
        self.resize(length);
        if (const std::size_t slash = self.find_last_of(L"\\/"); slash != std::wstring::npos) {
            folders.emplace_back(reinterpret_cast<const char16_t*>(self.data()), slash);
        }
    }
    std::wstring appData(32768, L'\0');
    const DWORD appLength =
        GetEnvironmentVariableW(L"APPDATA", appData.data(), static_cast<DWORD>(appData.size()));
    if (appLength > 0 && appLength < appData.size()) {
        appData.resize(appLength);
        std::u16string folder(reinterpret_cast<const char16_t*>(appData.data()), appData.size());
        folder += u"\\";
        folder += FromUtf8(program);
        folders.push_back(folder);
    }
    return folders;
}

namespace {

// The console behind `stream`, or nullptr. (_isatty is true for NUL too, which
// is a character device but no console; GetConsoleMode answers only for a
// console.)
HANDLE ConsoleOf(std::FILE* stream) {
    const int fd = _fileno(stream);
    if (fd < 0) {
        return nullptr;
    }
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) ? handle : nullptr;
}

}  // namespace

bool IsTerminal(std::FILE* stream) {
    return ConsoleOf(stream) != nullptr;
}

int TerminalColumns(std::FILE* stream) {
    constexpr int kUnknown = 80;
    CONSOLE_SCREEN_BUFFER_INFO info{};
    const HANDLE console = ConsoleOf(stream);
    if (console == nullptr || !GetConsoleScreenBufferInfo(console, &info)) {
        return kUnknown;
    }
    const int columns = info.srWindow.Right - info.srWindow.Left + 1;
    return columns > 0 ? columns : kUnknown;
}

}  // namespace morla
