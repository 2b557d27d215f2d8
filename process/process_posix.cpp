// The process helpers on POSIX systems: signal handlers and descriptors.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "process/process.h"

namespace morla {
namespace {

extern "C" void RemoveTemporariesOnSignal(int signal) {
    RemoveTemporaryFilesAndExit(128 + signal);
}

}  // namespace

void RemoveTemporaryFilesOnInterrupt() {
    struct sigaction action {};
    action.sa_handler = RemoveTemporariesOnSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : InterruptionSignals()) {
        sigaddset(&action.sa_mask, signal);
    }
    for (const int signal : InterruptionSignals()) {
        struct sigaction before {};
        ::sigaction(signal, &action, &before);
        if (before.sa_handler == SIG_IGN) {
            ::sigaction(signal, &before, nullptr);  // ignored on purpose (nohup)
        }
    }
}

void OpenClosedStandardDescriptors() {
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            // The lowest free number: `fd` itself, the lower ones being open.
            ::open("/dev/null", fd == STDIN_FILENO ? O_WRONLY : O_RDONLY);
        }
    }
}

}  // namespace morla
