// The file layer on POSIX systems.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <limits>
#include <memory>
#include <optional>
#include <system_error>

#include "base/text.h"
#include "platform/file_io_internal.h"

namespace morla {
namespace {

// Files of 2 GiB or more cannot be described by the format's signed offsets.
constexpr std::uint64_t kLargestFile = std::numeric_limits<std::int32_t>::max();

// Attempts at a free temporary name before giving up.
constexpr int kTemporaryNameAttempts = 100;

// The process's umask, read once before main runs (reading it means setting
// it, which must not race with another thread creating a file).
const mode_t kUmask = [] {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}();

std::u16string SystemReason(int error) {
    return FromUtf8(std::error_code(error, std::generic_category()).message());
}

FileFailure Failure(const std::string& path, int error) {
    return {FromUtf8(path), SystemReason(error)};
}

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

// The signals on which a program removes its temporary files. SIGPIPE is one:
// a reader of the rows that goes away (`morla ... | head -1`) ends the run.
constexpr int kInterruptions[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ};

file_io::PendingTemporaries<char> pendingTemporaries;

// Holds the interruptions back on this thread while it lives.
class InterruptionsHeld {
  public:
    InterruptionsHeld() {
        sigset_t held;
        sigemptyset(&held);
        for (const int signal : kInterruptions) {
            sigaddset(&held, signal);
        }
        pthread_sigmask(SIG_BLOCK, &held, &before_);
    }
    ~InterruptionsHeld() { pthread_sigmask(SIG_SETMASK, &before_, nullptr); }
    InterruptionsHeld(const InterruptionsHeld&) = delete;
    InterruptionsHeld& operator=(const InterruptionsHeld&) = delete;

  private:
    sigset_t before_;
};

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Takes the lock that marks a temporary file as being written, then makes
// sure `path` still names the locked file: another process's sweep may have
// found the new file before it was locked, locked it first and removed it.
bool LockAsOurs(int fd, const std::string& path) {
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    struct stat locked, named;
    return ::fstat(fd, &locked) == 0 && ::lstat(path.c_str(), &named) == 0 &&
           SameFile(locked, named);
}

// A temporary file beside the output, created exclusively under a fresh name
// and locked while it lives. Removed when it goes out of scope unless it was
// renamed over the target: a failure, or an exception that cuts the job
// short, leaves nothing behind.
//
// Its name is among the pending ones for the interruption handler (which may
// run on any thread) from before the file exists until after it is gone or
// renamed: at worst the handler removes a name that is not there. While the
// file is being created the handler waits for it; once the handler has begun
// no file is created.
class TemporaryFile {
  public:
    // Creates the file in `folder` ("" for the current folder).
    explicit TemporaryFile(const std::string& folder) {
        const InterruptionsHeld held;
        if (!pendingTemporaries.BeginCreating()) {
            for (;;) {  // the handler on another thread is ending the process
                ::pause();
            }
        }
        const struct Creating {
            ~Creating() { pendingTemporaries.EndCreating(); }
        } creating;
        for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
            path_ = folder + file_io::TemporaryName();
            slot_ = pendingTemporaries.Add(path_.c_str());
            fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (fd_ >= 0 && LockAsOurs(fd_, path_)) {
                created_ = true;
                return;
            }
            const int error = fd_ >= 0 ? EEXIST : errno;  // lost to a sweep: a fresh name
            if (fd_ >= 0) {
                ::close(fd_);
                fd_ = -1;
            }
            pendingTemporaries.Withdraw(slot_);
            if (error != EEXIST) {
                errno = error;
                return;
            }
        }
        errno = EEXIST;
    }
    ~TemporaryFile() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        if (created_ && !renamed_) {
            ::unlink(path_.c_str());
        }
        pendingTemporaries.Withdraw(slot_);
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    bool valid() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }
    // Renames the file over `target`; errno tells why when it fails.
    bool RenameOver(const std::string& target) {
        if (file_io::TakeInjectedFault(FileStep::Rename)) {
            errno = EIO;
            return false;
        }
        renamed_ = ::rename(path_.c_str(), target.c_str()) == 0;
        if (renamed_) {
            pendingTemporaries.Withdraw(slot_);
        }
        return renamed_;
    }

  private:
    std::string path_;
    int fd_ = -1;
    file_io::PendingTemporaries<char>::Slot* slot_ = nullptr;
    bool created_ = false;
    bool renamed_ = false;
};

// Removes the temporary files in `folder` that no process holds: those of
// runs killed outright. A file is removed only while this process holds its
// lock and the name still leads to it, so a writer's file never goes, nor one
// created a moment ago (its creator checks, once it has the lock, that its
// name still leads to it).
void RemoveLeftovers(const std::string& folder) {
    DIR* entries = ::opendir(folder.empty() ? "." : folder.c_str());
    if (entries == nullptr) {
        return;
    }
    while (const dirent* entry = ::readdir(entries)) {
        const std::string_view name = entry->d_name;
        if (!file_io::IsTemporaryName(name)) {
            continue;
        }
        const std::string path = folder + std::string(name);
        if (pendingTemporaries.Holds(path)) {
            continue;  // this process is writing it
        }
        const Descriptor file(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat locked, named;
        if (file.valid() && ::flock(file.get(), LOCK_EX | LOCK_NB) == 0 &&
            ::fstat(file.get(), &locked) == 0 && S_ISREG(locked.st_mode) &&
            ::lstat(path.c_str(), &named) == 0 && SameFile(locked, named)) {
            ::unlink(path.c_str());
        }
    }
    ::closedir(entries);
}

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

ReadStatus ReadFileInto(const std::string& path, S98Image& image, InputFacts& facts) {
    // Without blocking: a FIFO with no writer would otherwise hold the batch.
    Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!file.valid()) {
        facts.failure = Failure(path, errno);
        return ReadStatus::OpenError;
    }
    struct stat status;
    if (::fstat(file.get(), &status) != 0) {
        facts.failure = Failure(path, errno);
        return ReadStatus::OpenError;
    }
    if (!S_ISREG(status.st_mode)) {  // a folder, a device, a FIFO, a socket
        facts.failure = S_ISDIR(status.st_mode)
                            ? Failure(path, EISDIR)
                            : FileFailure{FromUtf8(path), u"Not a regular file"};
        return ReadStatus::OpenError;
    }
    facts.permissions = status.st_mode & 0777;
    if (static_cast<std::uint64_t>(status.st_size) > kLargestFile) {
        facts.failure = Failure(path, EFBIG);
        return ReadStatus::ReadError;
    }
    if (!image.Allocate(static_cast<std::size_t>(status.st_size))) {
        facts.failure = Failure(path, ENOMEM);
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
            facts.failure = got < 0 ? Failure(path, errno)
                                    : FileFailure{FromUtf8(path), u"File shrank while being read"};
            return ReadStatus::ReadError;
        }
        done += static_cast<std::size_t>(got);
    }
    return ReadStatus::Ok;
}

// The folder part of a path, with its trailing '/', or "" for a bare name.
std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

FileStamp StampOf(const struct stat& status) {
    return {{static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)},
            static_cast<std::uint64_t>(status.st_size),
            std::int64_t{status.st_ctim.tv_sec} * 1000000000 + status.st_ctim.tv_nsec};
}

bool WriteAll(int fd, const std::uint8_t* bytes, std::size_t size) {
    if (file_io::TakeInjectedFault(FileStep::Write)) {
        errno = EIO;
        return false;
    }
    for (std::size_t done = 0; done < size;) {
        const ssize_t put = ::write(fd, bytes + done, size - done);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            if (put == 0) {
                errno = ENOSPC;
            }
            return false;
        }
        done += static_cast<std::size_t>(put);
    }
    return true;
}

bool FlushToDisk(int fd, FileStep step) {
    if (file_io::TakeInjectedFault(step)) {
        errno = EIO;
        return false;
    }
    while (::fsync(fd) != 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

// Opens `folder` ("" for the current one) to flush it: -1, with errno, when
// it cannot be, as a folder that can be written but not read (mode 0300).
int OpenFolderToFlush(const std::string& folder) {
    if (file_io::TakeInjectedFault(FileStep::OpenFolder)) {
        errno = EACCES;
        return -1;
    }
    return ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// Flushes the whole file system the open file `fd` is on, which covers every
// rename made on it before the call (Linux's syncfs). False where the system
// has no such flush or there is no file (`fd` < 0), errno then left as it was.
bool FlushFileSystem(int fd) {
#if defined(__linux__)
    if (fd < 0) {
        return false;
    }
    if (file_io::TakeInjectedFault(FileStep::FlushFileSystem)) {
        errno = EIO;
        return false;
    }
    return ::syncfs(fd) == 0;
#else
    (void)fd;
    return false;
#endif
}

// Flushes the folder's entry of a renamed file, so that the rename survives a
// power cut. File systems that cannot flush a folder (EINVAL, ENOTSUP) make
// the rename durable by themselves. A folder that cannot be opened is not
// flushed through: the flush of the file system of the renamed file (`output`,
// a descriptor of it, or -1) covers the rename instead, or nothing does.
std::atomic<std::uint64_t> folderFlushes{0};

bool FlushFolder(const std::string& folder, int output) {
    ++folderFlushes;
    Descriptor dir(OpenFolderToFlush(folder));
    if (!dir.valid()) {
        return FlushFileSystem(output);
    }
    return FlushToDisk(dir.get(), FileStep::FlushFolder) || errno == EINVAL || errno == ENOTSUP;
}

}  // namespace

// A descriptor of a committed output, open until the last holder lets go.
struct HeldOutput {
    explicit HeldOutput(int fd) : fd(fd) {}
    ~HeldOutput() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    HeldOutput(const HeldOutput&) = delete;
    HeldOutput& operator=(const HeldOutput&) = delete;
    const int fd;
};

std::optional<FileIdentity> IdentifyFile(const std::u16string& path) {
    struct stat status;
    if (::stat(ToUtf8(path).c_str(), &status) != 0) {
        return std::nullopt;
    }
    return FileIdentity{static_cast<std::uint64_t>(status.st_dev),
                        static_cast<std::uint64_t>(status.st_ino)};
}

std::optional<FileStamp> StampFile(const std::u16string& path) {
    struct stat status;
    if (::stat(ToUtf8(path).c_str(), &status) != 0) {
        return std::nullopt;
    }
    return StampOf(status);
}

std::optional<std::vector<FolderEntry>> ListFolder(const std::u16string& path) {
    const std::string folder = ToUtf8(path);
    DIR* entries = ::opendir(folder.c_str());
    if (entries == nullptr) {
        return std::nullopt;
    }
    const std::string prefix = folder.empty() || folder.back() == '/' ? folder : folder + '/';
    std::vector<FolderEntry> listed;
    while (const dirent* entry = ::readdir(entries)) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        FolderEntry listedEntry{FromUtf8(name)};
        struct stat own, target;
        const std::string entryPath = prefix + std::string(name);
        if (::lstat(entryPath.c_str(), &own) == 0) {
            if (S_ISDIR(own.st_mode)) {
                listedEntry.kind = FolderEntry::Kind::Folder;
            } else if (::stat(entryPath.c_str(), &target) == 0 && S_ISREG(target.st_mode)) {
                listedEntry.kind = FolderEntry::Kind::File;  // a file, or a link to one
            }
        }
        listed.push_back(std::move(listedEntry));
    }
    ::closedir(entries);
    return listed;
}

bool IsFolder(const std::u16string& path) {
    struct stat status;
    return ::stat(ToUtf8(path).c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool MakeFolders(const std::u16string& path, FileFailure& failure) {
    const std::string folder = ToUtf8(path);
    struct stat status;
    if (::stat(folder.c_str(), &status) == 0) {
        if (S_ISDIR(status.st_mode)) {
            return true;
        }
        failure = Failure(folder, ENOTDIR);
        return false;
    }
    // The parent first, then this one, flushed into the parent.
    std::string parent = folder;
    while (parent.size() > 1 && parent.back() == '/') {
        parent.pop_back();
    }
    const std::size_t slash = parent.rfind('/');
    parent = slash == std::string::npos ? std::string() : parent.substr(0, slash + 1);
    if (!parent.empty() && !MakeFolders(FromUtf8(parent), failure)) {
        return false;
    }
    if (::mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
        failure = Failure(folder, errno);
        return false;
    }
    if (!FlushFolder(parent, -1)) {
        failure = Failure(parent.empty() ? "." : parent, errno);
        return false;
    }
    return IsFolder(path) || (failure = Failure(folder, ENOTDIR), false);
}

ReadStatus ReadWholeFile(const std::u16string& path, S98Image& image, InputFacts& facts) {
    const ReadStatus status = ReadFileInto(ToUtf8(path), image, facts);
    if (status != ReadStatus::Ok) {
        image.Release();
    }
    return status;
}

struct OutputFile::State {
    explicit State(const std::string& target) : target(target), folder(FolderOf(target)) {}
    std::string target;
    std::string folder;
    std::optional<TemporaryFile> temporary;
    WriteOutcome outcome;      // the first failure
    std::size_t appended = 0;  // bytes appended so far
    std::size_t sentOff = 0;   // bytes whose writing to disk has been started

    void Fail(WriteStatus status, const std::string& about) {
        if (outcome.status == WriteStatus::Ok) {
            outcome.status = status;
            outcome.failure = Failure(about, errno);
        }
    }
};

OutputFile::OutputFile(const std::u16string& path, std::uint32_t permissions)
    : state_(std::make_unique<State>(ToUtf8(path))) {
    State& state = *state_;
    if (file_io::TakeInjectedFault(FileStep::CreateTemporary)) {
        errno = EIO;
        state.Fail(WriteStatus::OpenError, state.target);
        return;
    }
    if (file_io::FirstOutputIn(state.folder)) {
        RemoveLeftovers(state.folder);
    }
    state.temporary.emplace(state.folder);
    if (!state.temporary->valid()) {
        state.Fail(WriteStatus::OpenError, state.target);
        return;
    }
    // Never more open than the input; the umask may take more away.
    ::fchmod(state.temporary->fd(), static_cast<mode_t>(permissions & 0777) & ~kUmask);
}

OutputFile::~OutputFile() = default;

bool OutputFile::ok() const {
    return state_->outcome.status == WriteStatus::Ok;
}

void OutputFile::Append(const std::uint8_t* bytes, std::size_t size) {
    State& state = *state_;
    if (!ok()) {
        return;
    }
    if (!WriteAll(state.temporary->fd(), bytes, size)) {
        state.Fail(WriteStatus::WriteError, state.target);
        return;
    }
    state.appended += size;
#ifdef __linux__
    // Starts writing each few MiB to disk while the walk goes on, so that
    // the flush in Commit has only the last of the file to wait for. Only a
    // request: the flush still reports any failure.
    constexpr std::size_t kSendEvery = 4u << 20;
    if (state.appended - state.sentOff >= kSendEvery) {
        ::sync_file_range(state.temporary->fd(), static_cast<off_t>(state.sentOff),
                          static_cast<off_t>(state.appended - state.sentOff),
                          SYNC_FILE_RANGE_WRITE);
        state.sentOff = state.appended;
    }
#endif
}

void OutputFile::WriteAt(std::size_t offset, const std::uint8_t* bytes, std::size_t size) {
    if (!ok()) {
        return;
    }
    const int fd = state_->temporary->fd();
    for (std::size_t done = 0; done < size;) {
        const ssize_t put =
            ::pwrite(fd, bytes + done, size - done, static_cast<off_t>(offset + done));
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            errno = put == 0 ? ENOSPC : errno;
            state_->Fail(WriteStatus::WriteError, state_->target);
            return;
        }
        done += static_cast<std::size_t>(put);
    }
}

namespace {
std::atomic<std::uint64_t> renames{0};
}  // namespace

std::uint64_t FolderFlushesSoFar() {
    return folderFlushes.load();
}

std::uint64_t RenamesSoFar() {
    return renames.load();
}

bool FlushFolderToDisk(const PendingFolderFlush& pending, FileFailure& failure) {
    const std::string path = ToUtf8(pending.folder);
    if (FlushFolder(path, pending.output ? pending.output->fd : -1)) {
        return true;
    }
    failure = Failure(path.empty() ? std::string(".") : path, errno);
    return false;
}

WriteOutcome OutputFile::Commit(bool flushFolder) {
    State& state = *state_;
    if (!ok()) {
        return state.outcome;
    }
    TemporaryFile& temporary = *state.temporary;
    if (!FlushToDisk(temporary.fd(), FileStep::Flush)) {
        state.Fail(WriteStatus::WriteError, state.target);
        return state.outcome;
    }
    // A second descriptor keeps the file open through the rename (and its
    // lock held): its stamp is taken after the rename, which changes it, and
    // whatever another process then does to the name; and through the folder
    // flush, for the flush of its file system where the folder cannot be
    // opened.
    const auto kept = std::make_shared<const HeldOutput>(::dup(temporary.fd()));
    if (kept->fd < 0 || !temporary.Close()) {
        state.Fail(WriteStatus::WriteError, state.target);
        return state.outcome;
    }
    if (!temporary.RenameOver(state.target)) {
        state.Fail(WriteStatus::OpenError, state.target);
        return state.outcome;
    }
    const std::uint64_t renamed = ++renames;
    struct stat status;
    if (::fstat(kept->fd, &status) != 0) {
        state.Fail(WriteStatus::WriteError, state.target);
        return state.outcome;
    }
    if (!flushFolder) {
        state.outcome.pendingFlush = PendingFolderFlush{FromUtf8(state.folder), renamed, kept};
    } else if (!FlushFolder(state.folder, kept->fd)) {
        state.Fail(WriteStatus::WriteError, state.folder.empty() ? std::string(".") : state.folder);
        return state.outcome;
    }
    state.outcome.written = StampOf(status);
    return state.outcome;
}

std::span<const int> InterruptionSignals() {
    return kInterruptions;
}

void RemoveTemporaryFilesAndExit(int status) {
    if (!pendingTemporaries.RemoveAllOnce([](const char* path) { ::unlink(path); })) {
        for (;;) {  // another thread's handler is ending the process
            ::pause();
        }
    }
    ::_exit(status);
}

}  // namespace morla
