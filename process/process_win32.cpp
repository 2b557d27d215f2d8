// The process helpers on Windows: the console's control handler.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

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

}  // namespace morla
