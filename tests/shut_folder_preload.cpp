// Loaded into morla by the command-line tests (LD_PRELOAD) to make the
// system refuse what it never refuses root, who runs the tests on CI:
//   MORLA_TEST_SHUT_FOLDER=DIR  opening DIR (any spelling) as a folder fails
//                               with EACCES, as for a folder of mode 0300;
//   MORLA_TEST_SYNCFS_FAILS=1   every syncfs fails with EIO.
// Everything else goes on to the system as usual.
#undef _FORTIFY_SOURCE  // open must stay a plain function to be replaced
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>

namespace {

bool IsShutFolder(const char* path) {
    const char* shut = std::getenv("MORLA_TEST_SHUT_FOLDER");
    struct stat folder, named;
    return shut != nullptr && ::stat(shut, &folder) == 0 && ::stat(path, &named) == 0 &&
           folder.st_dev == named.st_dev && folder.st_ino == named.st_ino;
}

template <typename Function>
Function Next(const char* name) {
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" int open(const char* path, int flags, ...) {
    mode_t mode = 0;
    if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
        va_list arguments;
        va_start(arguments, flags);
        mode = va_arg(arguments, mode_t);
        va_end(arguments);
    }
    if ((flags & O_DIRECTORY) != 0 && IsShutFolder(path)) {
        errno = EACCES;
        return -1;
    }
    static const auto next = Next<int (*)(const char*, int, ...)>("open");
    return next(path, flags, mode);
}

extern "C" int syncfs(int fd) {
    if (const char* fails = std::getenv("MORLA_TEST_SYNCFS_FAILS");
        fails != nullptr && fails[0] == '1') {
        errno = EIO;
        return -1;
    }
    static const auto next = Next<int (*)(int)>("syncfs");
    return next(fd);
}
