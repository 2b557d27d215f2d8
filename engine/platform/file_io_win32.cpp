// The file layer on Windows.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <atomic>
#include <limits>
#include <optional>

#include "base/text.h"
#include "platform/file_io_internal.h"

namespace morla {
namespace {

// Files of 2 GiB or more cannot be described by the format's signed offsets.
constexpr std::uint64_t kLargestFile = std::numeric_limits<std::int32_t>::max();

// Attempts at a free temporary name before giving up.
constexpr int kTemporaryNameAttempts = 100;

std::wstring Wide(std::u16string_view text) {
    return std::wstring(text.begin(), text.end());
}

std::u16string SystemReason(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::u16string reason(text, text + length);
    LocalFree(text);
    while (!reason.empty() && (reason.back() == u'\n' || reason.back() == u'\r' ||
                               reason.back() == u' ' || reason.back() == u'.')) {
        reason.pop_back();
    }
    if (reason.empty()) {
        reason = FromUtf8("system error " + std::to_string(error));
    }
    return reason;
}

FileFailure Failure(std::u16string_view path, DWORD error) {
    return {std::u16string(path), SystemReason(error)};
}

// The path as the system should be handed it: absolute, and in the "\\?\"
// form when it is long. Whether a path passes MAX_PATH depends on its full
// length, not on how it was typed: a short relative path in a deep folder is
// long. The margin leaves room for a temporary file's name beside it.
std::wstring NativePath(const std::u16string& path) {
    const std::wstring wide = Wide(path);
    DWORD length = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (length == 0) {
        return wide;
    }
    std::wstring full(length, L'\0');
    length = GetFullPathNameW(wide.c_str(), length, full.data(), nullptr);
    full.resize(length);
    if (full.size() < MAX_PATH - 20 || full.rfind(L"\\\\?\\", 0) == 0 ||
        full.rfind(L"\\\\.\\", 0) == 0) {  // short, or already a device or "\\?\" path
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

std::optional<FileStamp> StampOf(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(file, &information)) {
        return std::nullopt;
    }
    const auto join = [](DWORD high, DWORD low) { return (std::uint64_t{high} << 32) | low; };
    const std::uint64_t written =
        join(information.ftLastWriteTime.dwHighDateTime, information.ftLastWriteTime.dwLowDateTime);
    return FileStamp{{information.dwVolumeSerialNumber,
                      join(information.nFileIndexHigh, information.nFileIndexLow)},
                     join(information.nFileSizeHigh, information.nFileSizeLow),
                     static_cast<std::int64_t>(written * 100)};  // 100 ns units
}

file_io::PendingTemporaries<wchar_t> pendingTemporaries;

// A temporary file beside the output, created exclusively under a fresh name
// and held open (no other process may open it for deletion) while it lives.
// Removed when it goes out of scope unless it was renamed over the target.
// Once the console handler has begun, no file is created.
class TemporaryFile {
  public:
    explicit TemporaryFile(const std::wstring& folder) {
        if (!pendingTemporaries.BeginCreating()) {
            Sleep(INFINITE);  // the console handler is ending the process
        }
        const struct Creating {
            ~Creating() { pendingTemporaries.EndCreating(); }
        } creating;
        for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
            const std::string name = file_io::TemporaryName();
            path_ = folder + std::wstring(name.begin(), name.end());
            // Pending from before the file exists until after it is gone.
            slot_ = pendingTemporaries.Add(path_.c_str());
            file_ = CreateFileW(path_.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_DELETE, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file_ != INVALID_HANDLE_VALUE) {
                created_ = true;
                return;
            }
            const DWORD error = GetLastError();
            pendingTemporaries.Withdraw(slot_);
            SetLastError(error);
            if (error != ERROR_FILE_EXISTS) {
                return;
            }
        }
    }
    ~TemporaryFile() {
        if (file_ != INVALID_HANDLE_VALUE) {
            CloseHandle(file_);
        }
        if (created_ && !renamed_) {
            DeleteFileW(path_.c_str());
        }
        pendingTemporaries.Withdraw(slot_);
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    bool valid() const { return file_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return file_; }
    bool Close() {
        const HANDLE file = file_;
        file_ = INVALID_HANDLE_VALUE;
        return CloseHandle(file);
    }
    bool RenameOver(const std::wstring& target) {
        if (file_io::TakeInjectedFault(FileStep::Rename)) {
            SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        renamed_ = MoveFileExW(path_.c_str(), target.c_str(),
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
        if (renamed_) {
            pendingTemporaries.Withdraw(slot_);
        }
        return renamed_;
    }

  private:
    std::wstring path_;
    HANDLE file_ = INVALID_HANDLE_VALUE;
    file_io::PendingTemporaries<wchar_t>::Slot* slot_ = nullptr;
    bool created_ = false;
    bool renamed_ = false;
};

// Removes the temporary files in `folder` that no process holds: those of
// runs killed outright. A writer holds its file open, so opening it for
// deletion with no sharing fails; a file nobody holds opens and goes when
// this handle closes.
void RemoveLeftovers(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((folder + L".morla-*.tmp").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        const std::wstring_view name = found.cFileName;
        if (!file_io::IsTemporaryName(name) ||
            (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            continue;
        }
        const std::wstring path = folder + std::wstring(name);
        if (pendingTemporaries.Holds(path)) {
            continue;  // this process is writing it
        }
        const HANDLE file =
            CreateFileW(path.c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                        FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

ReadStatus ReadFileInto(const std::u16string& path, S98Image& image, InputFacts& facts) {
    // A folder cannot be opened without backup semantics: it fails here.
    Handle file(CreateFileW(NativePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        facts.failure = Failure(path, GetLastError());
        return ReadStatus::OpenError;
    }
    if (GetFileType(file.get()) != FILE_TYPE_DISK) {  // a pipe, a console, a device
        facts.failure = {path, u"Not a regular file"};
        return ReadStatus::OpenError;
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 ||
        static_cast<std::uint64_t>(size.QuadPart) > kLargestFile) {
        facts.failure = Failure(path, ERROR_FILE_TOO_LARGE);
        return ReadStatus::ReadError;
    }
    if (!image.Allocate(static_cast<std::size_t>(size.QuadPart))) {
        facts.failure = Failure(path, ERROR_NOT_ENOUGH_MEMORY);
        return ReadStatus::AllocationError;
    }
    std::size_t done = 0;
    while (done < image.size()) {
        DWORD got = 0;
        if (!ReadFile(file.get(), image.data() + done, static_cast<DWORD>(image.size() - done),
                      &got, nullptr) ||
            got == 0) {
            facts.failure = Failure(path, got == 0 ? ERROR_HANDLE_EOF : GetLastError());
            return ReadStatus::ReadError;
        }
        done += got;
    }
    return ReadStatus::Ok;
}

// The folder part of a path, with its trailing separator, or "" for a bare name.
std::wstring FolderOf(const std::wstring& path) {
    const std::size_t separator = path.find_last_of(L"\\/:");
    return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator + 1);
}

bool WriteAll(HANDLE file, const std::uint8_t* bytes, std::size_t size) {
    if (file_io::TakeInjectedFault(FileStep::Write)) {
        SetLastError(ERROR_WRITE_FAULT);
        return false;
    }
    for (std::size_t done = 0; done < size;) {
        DWORD put = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 30));
        if (!WriteFile(file, bytes + done, chunk, &put, nullptr)) {
            return false;
        }
        if (put == 0) {
            SetLastError(ERROR_DISK_FULL);
            return false;
        }
        done += put;
    }
    return true;
}

bool FlushToDisk(HANDLE file) {
    if (file_io::TakeInjectedFault(FileStep::Flush)) {
        SetLastError(ERROR_WRITE_FAULT);
        return false;
    }
    return FlushFileBuffers(file);
}

}  // namespace

std::u16string SystemPathOf(const std::u16string& path) {
    const std::wstring native = NativePath(path);
    return std::u16string(native.begin(), native.end());
}

std::optional<FileStamp> StampFile(const std::u16string& path) {
    Handle file(CreateFileW(NativePath(path).c_str(), 0,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file.valid()) {
        return std::nullopt;
    }
    return StampOf(file.get());
}

std::optional<FileIdentity> IdentifyFile(const std::u16string& path) {
    const std::optional<FileStamp> stamp = StampFile(path);
    return stamp ? std::optional(stamp->identity) : std::nullopt;
}

std::optional<std::vector<FolderEntry>> ListFolder(const std::u16string& path) {
    std::wstring pattern = NativePath(path);
    if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/') {
        pattern += L'\\';
    }
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((pattern + L'*').c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return GetLastError() == ERROR_FILE_NOT_FOUND ? std::optional(std::vector<FolderEntry>())
                                                      : std::nullopt;
    }
    std::vector<FolderEntry> listed;
    do {
        const std::wstring_view name = found.cFileName;
        if (name == L"." || name == L"..") {
            continue;
        }
        FolderEntry entry{std::u16string(name.begin(), name.end())};
        const DWORD attributes = found.dwFileAttributes;
        const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            // a link or junction to a folder is not followed
            entry.kind = link ? FolderEntry::Kind::Other : FolderEntry::Kind::Folder;
        } else if (!(attributes & FILE_ATTRIBUTE_DEVICE)) {
            entry.kind = FolderEntry::Kind::File;
        }
        listed.push_back(std::move(entry));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return listed;
}

bool IsFolder(const std::u16string& path) {
    const DWORD attributes = GetFileAttributesW(NativePath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool MakeFolders(const std::u16string& path, FileFailure& failure) {
    if (IsFolder(path)) {
        return true;
    }
    // The parent first; NTFS journals the new folder's entry itself.
    std::u16string parent = path;
    while (!parent.empty() && (parent.back() == u'\\' || parent.back() == u'/')) {
        parent.pop_back();
    }
    const std::size_t separator = parent.find_last_of(u"\\/");
    parent = separator == std::u16string::npos ? std::u16string() : parent.substr(0, separator + 1);
    if (!parent.empty() && !MakeFolders(parent, failure)) {
        return false;
    }
    if (!CreateDirectoryW(NativePath(path).c_str(), nullptr) &&
        GetLastError() != ERROR_ALREADY_EXISTS) {
        failure = Failure(path, GetLastError());
        return false;
    }
    if (!IsFolder(path)) {
        failure = Failure(path, ERROR_DIRECTORY);
        return false;
    }
    return true;
}

ReadStatus ReadWholeFile(const std::u16string& path, S98Image& image, InputFacts& facts) {
    const ReadStatus status = ReadFileInto(path, image, facts);
    if (status != ReadStatus::Ok) {
        image.Release();
    }
    return status;
}

struct OutputFile::State {
    State(const std::u16string& path) : path(path), target(NativePath(path)) {}
    std::u16string path;
    std::wstring target;
    std::optional<TemporaryFile> temporary;
    WriteOutcome outcome;  // the first failure

    void Fail(WriteStatus status) {
        if (outcome.status == WriteStatus::Ok) {
            outcome.status = status;
            outcome.failure = Failure(path, GetLastError());
        }
    }
};

OutputFile::OutputFile(const std::u16string& path, std::uint32_t /*permissions*/)
    : state_(std::make_unique<State>(path)) {
    State& state = *state_;
    if (file_io::TakeInjectedFault(FileStep::CreateTemporary)) {
        SetLastError(ERROR_WRITE_FAULT);
        state.Fail(WriteStatus::OpenError);
        return;
    }
    const std::wstring folder = FolderOf(state.target);
    if (file_io::FirstOutputIn(folder)) {
        RemoveLeftovers(folder);
    }
    state.temporary.emplace(folder);
    if (!state.temporary->valid()) {
        state.Fail(WriteStatus::OpenError);
    }
}

OutputFile::~OutputFile() = default;

bool OutputFile::ok() const {
    return state_->outcome.status == WriteStatus::Ok;
}

void OutputFile::Append(const std::uint8_t* bytes, std::size_t size) {
    if (ok() && !WriteAll(state_->temporary->get(), bytes, size)) {
        state_->Fail(WriteStatus::WriteError);
    }
}

void OutputFile::WriteAt(std::size_t offset, const std::uint8_t* bytes, std::size_t size) {
    if (!ok()) {
        return;
    }
    const HANDLE file = state_->temporary->get();
    LARGE_INTEGER end{}, at{};
    at.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(file, LARGE_INTEGER{}, &end, FILE_CURRENT) ||
        !SetFilePointerEx(file, at, nullptr, FILE_BEGIN) || !WriteAll(file, bytes, size) ||
        !SetFilePointerEx(file, end, nullptr, FILE_BEGIN)) {
        state_->Fail(WriteStatus::WriteError);
    }
}

std::uint64_t RenamesSoFar() {
    return 0;
}

std::uint64_t FolderFlushesSoFar() {
    return 0;  // a rename here is durable by itself (MOVEFILE_WRITE_THROUGH)
}

bool FlushFolderToDisk(const PendingFolderFlush& /*pending*/, FileFailure& /*failure*/) {
    return true;  // MOVEFILE_WRITE_THROUGH: each rename is on disk already
}

// Renames with MOVEFILE_WRITE_THROUGH are durable when they return: no folder
// flush is left to the caller.
WriteOutcome OutputFile::Commit(bool /*flushFolder*/) {
    State& state = *state_;
    if (!ok()) {
        return state.outcome;
    }
    TemporaryFile& temporary = *state.temporary;
    if (!FlushToDisk(temporary.get())) {
        state.Fail(WriteStatus::WriteError);
        return state.outcome;
    }
    // Renaming leaves the last write time as it is: the stamp holds after it.
    const std::optional<FileStamp> written = StampOf(temporary.get());
    if (!written || !temporary.Close()) {
        state.Fail(WriteStatus::WriteError);
        return state.outcome;
    }
    // MOVEFILE_WRITE_THROUGH returns once the rename is on disk.
    if (!temporary.RenameOver(state.target)) {
        state.Fail(WriteStatus::OpenError);
        return state.outcome;
    }
    if (file_io::TakeInjectedFault(FileStep::FlushFolder)) {
        SetLastError(ERROR_WRITE_FAULT);
        state.Fail(WriteStatus::WriteError);
        return state.outcome;
    }
    state.outcome.written = *written;
    return state.outcome;
}

std::span<const int> InterruptionSignals() {
    return {};
}

void RemoveTemporaryFilesAndExit(int status) {
    // The console's handler runs on a thread of its own; a second event
    // waits for the first to end the process.
    if (!pendingTemporaries.RemoveAllOnce([](const wchar_t* path) { DeleteFileW(path); })) {
        Sleep(INFINITE);
    }
    ExitProcess(static_cast<UINT>(status));
}

}  // namespace morla
