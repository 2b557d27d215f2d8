// The process helpers on POSIX systems: signal handlers, descriptors and the
// terminal.
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/text.h"
#include "process/process.h"

namespace morla {
namespace {

// The line LineToEraseOnInterrupt names: its descriptor and width.
std::atomic<int> lineDescriptor{-1};
std::atomic<int> lineColumns{0};

// "\r", spaces over the line, "\r": only write(2), which a handler may call.
void EraseLine() {
    const int fd = lineDescriptor.load();
    int columns = lineColumns.exchange(0);
    if (fd < 0 || columns <= 0) {
        return;
    }
    char spaces[64];
    std::memset(spaces, ' ', sizeof spaces);
    [[maybe_unused]] ssize_t ignored = ::write(fd, "\r", 1);
    while (columns > 0) {
        const int now = columns < 64 ? columns : 64;
        ignored = ::write(fd, spaces, static_cast<std::size_t>(now));
        columns -= now;
    }
    ignored = ::write(fd, "\r", 1);
}

extern "C" void RemoveTemporariesOnSignal(int signal) {
    EraseLine();
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

void LineToEraseOnInterrupt(std::FILE* stream, int columns) {
    lineDescriptor.store(::fileno(stream));
    lineColumns.store(columns);
}

void OpenClosedStandardDescriptors() {
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            // The lowest free number: `fd` itself, the lower ones being open.
            ::open("/dev/null", fd == STDIN_FILENO ? O_WRONLY : O_RDONLY);
        }
    }
}

std::vector<std::u16string> UserFileFolders(const char* program) {
    std::vector<std::u16string> folders;
    std::string self(4096, '\0');
    const ssize_t length = readlink("/proc/self/exe", self.data(), self.size());
    if (length > 0 && static_cast<std::size_t>(length) < self.size()) {
        self.resize(static_cast<std::size_t>(length));
        if (const std::size_t slash = self.rfind('/'); slash != std::string::npos) {
            folders.push_back(FromUtf8(self.substr(0, slash)));
        }
    }
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    if (config != nullptr && config[0] == '/') {
        folders.push_back(FromUtf8(std::string(config) + "/" + program));
    } else if (home != nullptr && home[0] != '\0') {
        folders.push_back(FromUtf8(std::string(home) + "/.config/" + program));
    }
    return folders;
}

bool IsTerminal(std::FILE* stream) {
    const int fd = ::fileno(stream);
    return fd >= 0 && ::isatty(fd) == 1;
}

int TerminalColumns(std::FILE* stream) {
    constexpr int kUnknown = 80;
    const int fd = ::fileno(stream);
    struct winsize size {};
    if (fd < 0 || ::ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) {
        return kUnknown;
    }
    return size.ws_col;
}

}  // namespace morla
