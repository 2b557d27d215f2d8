// The only file of the engine that includes operating-system headers.
#include "file_io.h"

#include <limits>
#include <string>

#include "text.h"

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace morla {
namespace {

// Files of 2 GiB or more cannot be described by the format's signed offsets.
constexpr std::uint64_t kLargestFile = std::numeric_limits<std::int32_t>::max();

// Attempts at a free temporary name beside the output before giving up.
constexpr int kTemporaryNameAttempts = 100;

#if defined(_WIN32)

std::wstring NativePath(const std::u16string& path) {
    std::wstring wide(path.begin(), path.end());
    if (wide.size() < MAX_PATH) {
        return wide;
    }
    // Beyond MAX_PATH the system wants an absolute "\\?\" path.
    DWORD length = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (length == 0) {
        return wide;
    }
    std::wstring full(length, L'\0');
    length = GetFullPathNameW(wide.c_str(), length, full.data(), nullptr);
    full.resize(length);
    if (full.rfind(L"\\\\?\\", 0) == 0) {
        return full;
    }
    if (full.rfind(L"\\\\", 0) == 0) {
        return L"\\\\?\\UNC\\" + full.substr(2);
    }
    return L"\\\\?\\" + full;
}

class Handle {
  public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle() { Close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }
    bool Close() {
        const bool closed = !valid() || CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        return closed;
    }

  private:
    HANDLE handle_;
};

ReadStatus ReadFileInto(const std::u16string& path, S98Image& image) {
    // A folder cannot be opened without backup semantics: it fails here.
    Handle file(CreateFileW(NativePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        return ReadStatus::OpenError;
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 ||
        static_cast<std::uint64_t>(size.QuadPart) > kLargestFile) {
        return ReadStatus::ReadError;
    }
    if (!image.Allocate(static_cast<std::size_t>(size.QuadPart))) {
        return ReadStatus::AllocationError;
    }
    std::size_t done = 0;
    while (done < image.size()) {
        DWORD got = 0;
        if (!ReadFile(file.get(), image.data() + done, static_cast<DWORD>(image.size() - done),
                      &got, nullptr) ||
            got == 0) {
            return ReadStatus::ReadError;
        }
        done += got;
    }
    return ReadStatus::Ok;
}

WriteStatus WriteThroughTemporary(const std::u16string& path, const std::uint8_t* bytes,
                                  std::size_t size) {
    const std::wstring target = NativePath(path);
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        const std::wstring temporary = target + L"." + std::to_wstring(GetCurrentProcessId()) +
                                       L"-" + std::to_wstring(attempt) + L".tmp";
        Handle file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.valid()) {
            if (GetLastError() == ERROR_FILE_EXISTS) {
                continue;
            }
            return WriteStatus::OpenError;
        }
        bool written = true;
        for (std::size_t done = 0; written && done < size;) {
            DWORD put = 0;
            written = WriteFile(file.get(), bytes + done, static_cast<DWORD>(size - done), &put,
                                nullptr) &&
                      put != 0;
            done += put;
        }
        if (!file.Close() || !written) {
            DeleteFileW(temporary.c_str());
            return WriteStatus::WriteError;
        }
        if (!MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
            DeleteFileW(temporary.c_str());
            return WriteStatus::OpenError;
        }
        return WriteStatus::Ok;
    }
    return WriteStatus::OpenError;
}

#else

class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() { Close(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    bool valid() const { return fd_ >= 0; }
    int get() const { return fd_; }
    bool Close() {
        const bool closed = fd_ < 0 || ::close(fd_) == 0;
        fd_ = -1;
        return closed;
    }

  private:
    int fd_;
};

// Asks for the buffer in huge pages where the system offers them: filling a
// large image then takes a few page faults instead of one per 4 KiB page,
// which on some machines costs more than the whole job.
void PreferHugePages(S98Image& image) {
#if defined(MADV_HUGEPAGE)
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto begin = reinterpret_cast<std::uintptr_t>(image.data());
    const std::uintptr_t first = (begin + page - 1) / page * page;
    const std::uintptr_t last = (begin + image.size()) / page * page;
    if (last > first) {
        ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
    }
#else
    (void)image;
#endif
}

ReadStatus ReadFileInto(const std::u16string& path, S98Image& image) {
    Descriptor file(::open(ToUtf8(path).c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.valid()) {
        return ReadStatus::OpenError;
    }
    struct stat status;
    if (::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return ReadStatus::OpenError;  // a folder, a device, a pipe
    }
    if (static_cast<std::uint64_t>(status.st_size) > kLargestFile) {
        return ReadStatus::ReadError;
    }
    if (!image.Allocate(static_cast<std::size_t>(status.st_size))) {
        return ReadStatus::AllocationError;
    }
    PreferHugePages(image);
    std::size_t done = 0;
    while (done < image.size()) {
        const ssize_t got = ::read(file.get(), image.data() + done, image.size() - done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return ReadStatus::ReadError;
        }
        done += static_cast<std::size_t>(got);
    }
    return ReadStatus::Ok;
}

WriteStatus WriteThroughTemporary(const std::u16string& path, const std::uint8_t* bytes,
                                  std::size_t size) {
    const std::string target = ToUtf8(path);
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        const std::string temporary =
            target + "." + std::to_string(::getpid()) + "-" + std::to_string(attempt) + ".tmp";
        Descriptor file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (!file.valid()) {
            if (errno == EEXIST) {
                continue;
            }
            return WriteStatus::OpenError;
        }
        bool written = true;
        for (std::size_t done = 0; written && done < size;) {
            const ssize_t put = ::write(file.get(), bytes + done, size - done);
            if (put < 0 && errno == EINTR) {
                continue;
            }
            written = put > 0;
            done += written ? static_cast<std::size_t>(put) : 0;
        }
        if (!file.Close() || !written) {
            ::unlink(temporary.c_str());
            return WriteStatus::WriteError;
        }
        if (::rename(temporary.c_str(), target.c_str()) != 0) {
            ::unlink(temporary.c_str());
            return WriteStatus::OpenError;
        }
        return WriteStatus::Ok;
    }
    return WriteStatus::OpenError;
}

#endif

}  // namespace

ReadStatus ReadWholeFile(const std::u16string& path, S98Image& image) {
    const ReadStatus status = ReadFileInto(path, image);
    if (status != ReadStatus::Ok) {
        image.Release();
    }
    return status;
}

WriteStatus ReplaceFileContents(const std::u16string& path, const std::uint8_t* bytes,
                                std::size_t size) {
    return WriteThroughTemporary(path, bytes, size);
}

}  // namespace morla
