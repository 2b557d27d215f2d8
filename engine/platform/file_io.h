// The engine's only contact with the operating system: reading a whole file,
// telling files apart, and replacing a file with new contents durably. Paths
// are UTF-16. One source per platform implements it (file_io_posix.cpp,
// file_io_win32.cpp); file_io.cpp holds what every platform shares.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "format/s98_image.h"

namespace morla {

// Which file a path reaches, whatever the spelling: device and inode on POSIX,
// volume serial number and file index on Windows. Two paths reach the same
// file exactly when their identities are equal (hard links, symbolic links,
// "./" and letter case included).
struct FileIdentity {
    std::uint64_t volume = 0;
    std::uint64_t file = 0;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// The identity of the file `path` reaches (links followed), if it exists.
std::optional<FileIdentity> IdentifyFile(const std::u16string& path);

// One state of a file: its identity, size and last change. Identity numbers
// are reused once a file is gone (another process replacing a file frees its
// inode for the next file made anywhere on the device), so a file seen once
// is recognised later by its stamp, not its identity alone: a later file with
// the old number has another change time.
struct FileStamp {
    FileIdentity identity;
    std::uint64_t size = 0;
    std::int64_t changed = 0;  // ns; status change on POSIX, last write on Windows
    friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

// The stamp of the file `path` reaches (links followed), if it exists.
std::optional<FileStamp> StampFile(const std::u16string& path);

// True when `path` names an existing folder (links followed).
bool IsFolder(const std::u16string& path);

// One entry of a folder, as a collection is walked: a file (or a link to
// one), a folder (not a link to one: links to folders are not followed), or
// anything else.
struct FolderEntry {
    enum class Kind { File, Folder, Other };
    std::u16string name;
    Kind kind = Kind::Other;
};

// The entries of the folder `path` ("." and ".." left out), in no particular
// order; none when it cannot be read.
std::optional<std::vector<FolderEntry>> ListFolder(const std::u16string& path);

// The path of the file `name` in `folder`, with the platform's separator
// between them unless `folder` already ends in one (or, on Windows, in a
// drive's ':').
std::u16string PathInFolder(std::u16string_view folder, std::u16string_view name);

#if defined(_WIN32)
// The form of `path` every call of the file layer hands to the system:
// absolute, and "\\?\"-prefixed when its full length comes near MAX_PATH
// (a short relative path in a deep folder included).
std::u16string SystemPathOf(const std::u16string& path);
#endif

// Why a file operation failed: the file it concerns and the system's words
// for it ("Permission denied"). Both empty when there was nothing to report.
struct FileFailure {
    std::u16string path;
    std::u16string reason;
};

// Makes the folder `path` and every folder above it that is missing, each
// new one flushed into its parent on disk (so that an output renamed into it
// later survives a power cut with its folder). True when `path` is a folder
// now; false, with the system's reason, when a part of it could not be made
// or is a file.
bool MakeFolders(const std::u16string& path, FileFailure& failure);

enum class ReadStatus {
    Ok,
    OpenError,        // missing, unreadable, or not a regular file
    AllocationError,  // the buffer could not be had
    ReadError,        // short read, or a file of 2 GiB or more
};

// What a read brings besides the bytes.
struct InputFacts {
    std::uint32_t permissions = 0666;  // POSIX permission bits of the input
    FileFailure failure;               // set when the read failed
};

// Reads the whole file into `image`, allocated at exactly the file's length.
// Only a regular file is read; a FIFO, socket, device or folder is refused at
// once, without waiting for a writer.
ReadStatus ReadWholeFile(const std::u16string& path, S98Image& image, InputFacts& facts);

enum class WriteStatus {
    Ok,
    OpenError,   // the temporary file could not be created, or not renamed over the target
    WriteError,  // a failed or short write, a failed flush to disk or close
};

// A committed output, held open by its file layer until its folder is
// flushed (see PendingFolderFlush).
struct HeldOutput;

// A folder whose flush a committed output still waits for (see Commit).
struct PendingFolderFlush {
    std::u16string folder;      // as the output's path gives it; empty: the current folder
    std::uint64_t renamed = 0;  // the rename's number in this process (RenamesSoFar)
    // The output itself, open: where the folder cannot be opened to flush it
    // (it can be written but not read), a flush of the whole file system the
    // output is on covers the rename instead. None: the folder's flush only.
    std::shared_ptr<const HeldOutput> output;
};

struct WriteOutcome {
    WriteStatus status = WriteStatus::Ok;
    FileStamp written;    // the new file as it stands after the rename, on success
    FileFailure failure;  // set on failure
    std::optional<PendingFolderFlush> pendingFlush;  // a committed output's folder, when left
};

// How many outputs this process has renamed into place so far. A folder
// flush started after the n-th rename covers that rename.
std::uint64_t RenamesSoFar();
// How many folder flushes (FlushFolderToDisk, or a Commit's own) this
// process has asked the system for so far.
std::uint64_t FolderFlushesSoFar();

// Flushes the folder of `pending` to disk, so that the renames in it survive
// a power cut: renames up to RenamesSoFar() at the call are covered. A folder
// that cannot be opened to flush it is covered by a flush of the file system
// of `pending.output` where the system has one (Linux), else it fails. False,
// with the reason, when it failed.
bool FlushFolderToDisk(const PendingFolderFlush& pending, FileFailure& failure);

// A new file that replaces the file at `path` whole, or not at all, written
// in pieces as it is made. Until Commit the bytes go to a temporary file of a
// short name of its own (".morla-XXXXXX.tmp") in the same folder; Commit
// flushes it to disk, renames it over `path` and flushes the folder after it.
// The new file gets `permissions` as the umask allows (POSIX). A failure at
// any step, or destruction without Commit, removes the temporary file; an
// existing file at `path` is left as it was.
//
// The temporary file is held while it is written (an advisory lock on POSIX,
// the open handle on Windows). Only a process killed outright leaves one
// behind; the first OutputFile of a process in a folder removes the
// ".morla-*.tmp" files there that no process holds.
class OutputFile {
  public:
    OutputFile(const std::u16string& path, std::uint32_t permissions);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Appends bytes; after the first failure nothing more is written.
    void Append(const std::uint8_t* bytes, std::size_t size);
    // Overwrites bytes already written, from `offset` on.
    void WriteAt(std::size_t offset, const std::uint8_t* bytes, std::size_t size);
    // False once creating or writing has failed.
    bool ok() const;
    // The first failure so far (OpenError when the temporary file could not
    // be created, WriteError when a write failed), else the outcome of
    // flushing and renaming. Call once. A folder that cannot be opened to
    // flush it (one that can be written but not read) is covered by a flush
    // of the output's whole file system (Linux: syncfs); where that cannot
    // be had, or fails, the outcome is a write error (the rename stands).
    // With `flushFolder` false, a system whose renames need a folder flush to
    // be durable (POSIX) leaves it to the caller: the outcome names the folder
    // and holds the output open (pendingFlush), and the output is not durable
    // until FlushFolderToDisk of it has succeeded, after this rename. Many
    // renames into one folder can then share one flush.
    WriteOutcome Commit(bool flushFolder = true);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// The file layer's part in ending a program on an interruption; the
// handlers themselves are the program's (process/process.h).
//
// The signals on which a program removes its temporary files (SIGINT,
// SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ; none on Windows, where the console's
// events stand for them): a thread creating a temporary file holds them back
// meanwhile.
std::span<const int> InterruptionSignals();
// For a signal or console handler: shuts the door on new temporary files
// (a thread about to create one waits for the end instead), waits for those
// being created, removes every temporary file being written, and ends the
// process with exit status `status`. A second caller waits for the first to
// end the process. Async-signal-safe.
[[noreturn]] void RemoveTemporaryFilesAndExit(int status);

// The steps of writing an OutputFile that tests can make fail.
enum class FileStep {
    CreateTemporary,
    Write,
    Flush,            // the temporary file to disk
    Rename,           // over the target
    FlushFolder,      // the folder, after the rename
    OpenFolder,       // the folder, opened to flush it (POSIX)
    FlushFileSystem,  // the output's file system, when its folder cannot be opened (Linux)
};

// Makes the next OutputFile (or folder flush, FlushFolderToDisk) fail at
// `step`: the store behind the test fault hook InjectFileFault
// (process/process.h), which says what such a fault looks like.
void ArmFileFault(FileStep step);

}  // namespace morla
