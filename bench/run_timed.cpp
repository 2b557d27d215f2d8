// Runs one command and prints what it cost, for scripts/bench:
//   run_timed [-o FILE] COMMAND [ARGUMENT]...
// prints "WALL_NS CPU_NS" on one line: the time from just before the command
// is started to its end on the monotonic clock, and the processor time the
// command (and any children it waited for) spent, user plus system, both in
// nanoseconds. The command's standard output goes to FILE (created or
// truncated, before the clock starts), or to /dev/null; its standard error is
// kept. Exits with the command's status, or 127 when it could not be started,
// or 128 + n when signal n ended it.
//
// The shell's `times` and GNU time print processor time in steps of 1 and
// 10 ms; cp of a 64 MiB file takes a few tens of ms, so a ratio against it
// needs the microseconds that wait4() reports.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

extern char** environ;

namespace {

std::int64_t MonotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

std::int64_t Ns(const timeval& time) {
    return static_cast<std::int64_t>(time.tv_sec) * 1000000000 +
           static_cast<std::int64_t>(time.tv_usec) * 1000;
}

}  // namespace

int main(int argc, char** argv) {
    int first = 1;
    const char* outputPath = "/dev/null";
    if (argc > 2 && std::strcmp(argv[1], "-o") == 0) {
        outputPath = argv[2];
        first = 3;
    }
    if (first >= argc) {
        std::fprintf(stderr, "usage: run_timed [-o FILE] COMMAND [ARGUMENT]...\n");
        return 2;
    }
    const int output = open(outputPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (output < 0) {
        std::fprintf(stderr, "run_timed: %s: %s\n", outputPath, std::strerror(errno));
        return 127;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output, 1);

    const std::int64_t start = MonotonicNs();
    pid_t child = 0;
    const int spawnError =
        posix_spawnp(&child, argv[first], &actions, nullptr, argv + first, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(output);
    if (spawnError != 0) {
        std::fprintf(stderr, "run_timed: %s: %s\n", argv[first], std::strerror(spawnError));
        return 127;
    }
    int status = 0;
    rusage usage{};
    while (wait4(child, &status, 0, &usage) < 0) {
        if (errno != EINTR) {
            std::perror("run_timed: wait4");
            return 127;
        }
    }
    const std::int64_t wall = MonotonicNs() - start;

    std::printf("%lld %lld\n", static_cast<long long>(wall),
                static_cast<long long>(Ns(usage.ru_utime) + Ns(usage.ru_stime)));
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return WEXITSTATUS(status);
}
