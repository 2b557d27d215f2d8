// Outputs as a trusted file tool writes them: flushed to disk before they
// replace anything, through a temporary file of a short name of its own that
// never outlives a failure, with the input's permission bits; inputs that are
// not regular files refused without waiting.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <future>
#include <iostream>

#include "job/convert_batch.h"
#include "platform/file_io.h"
#include "process/process.h"
#include "test_support.h"

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace morla::test {
namespace {

const Bytes kSong = Stream({}, {{0xB0, 7}, {0x40, 10}}).bytes();

// A failure at any step of the write: the job's message, the summary row
// before it, the earlier output untouched and no temporary file left.
TEST(FileSafety, FailureAtAnyStepOfTheWriteLeavesTheOldOutputAndNoDebris) {
    const struct {
        FileStep step;
        const char* error;
    } cases[] = {
        {FileStep::CreateTemporary, "output file open error."},
        {FileStep::Write, "output file write error."},
        {FileStep::Flush, "output file write error."},
        {FileStep::Rename, "output file open error."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        TempDir dir;
        WriteFileBytes(dir / "in_new.s98", Bytes(100, 0xAA));
        WriteFileBytes(dir / "in.s98", kSong);
        InjectFileFault(c.step);
        const JobRun run = RunJob(dir / "in.s98", Options().Fm(3), dir / "in_new.s98");
        EXPECT_EQ(run.error, c.error);
        EXPECT_EQ(run.rows, std::vector<std::string>{"output file:in_new.s98  volume down: FM=3"});
        EXPECT_EQ(run.output, Bytes(100, 0xAA));
        EXPECT_TRUE(run.inputUnchanged);
        EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"in.s98", "in_new.s98"}));

        // The fault was used up: the next job writes.
        EXPECT_EQ(RunJob(dir / "in.s98", Options().Fm(3), dir / "in_new.s98").error, "");
    }
}

// A file that a writer holds, as every output's temporary file is held
// while it is written.
class HeldFile {
  public:
    explicit HeldFile(const std::filesystem::path& path) {
        WriteFileBytes(path, Bytes(10, 1));
#if defined(_WIN32)
        handle_ = CreateFileW(path.wstring().c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_NE(handle_, INVALID_HANDLE_VALUE);
#else
        fd_ = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        EXPECT_EQ(::flock(fd_, LOCK_EX), 0);
#endif
    }
    ~HeldFile() {
#if defined(_WIN32)
        CloseHandle(handle_);
#else
        ::close(fd_);
#endif
    }

  private:
#if defined(_WIN32)
    HANDLE handle_;
#else
    int fd_;
#endif
};

// The first output into a folder removes the temporary files of killed runs
// there, and only those: not one a writer holds, not other names, not
// another folder's.
TEST(FileSafety, LeftoversOfKilledRunsGoWithTheNextOutputInTheirFolder) {
    TempDir dir;
    std::filesystem::create_directory(dir / "other");
    const std::vector<std::string> kept = {".morla-HELD01.tmp", ".morla-abc.tmp",
                                           ".morla-abcdefg.tmp", "morla-abcdef.tmp"};
    for (const std::string& name : kept) {
        WriteFileBytes(dir / name, Bytes(10, 1));
    }
    WriteFileBytes(dir / ".morla-ab12CD.tmp", Bytes(100, 2));
    WriteFileBytes(dir / ".morla-000000.tmp", {});
    WriteFileBytes(dir / "other" / ".morla-zz99ZZ.tmp", Bytes(10, 3));
    const HeldFile held(dir / ".morla-HELD01.tmp");
    WriteFileBytes(dir / "in.s98", kSong);

    EXPECT_EQ(RunJob(dir / "in.s98", Options().Fm(3), dir / "in_new.s98").error, "");
    std::vector<std::string> expected = kept;
    expected.insert(expected.end(), {"in.s98", "in_new.s98", "other"});
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(FolderEntries(dir.path()), expected);
    EXPECT_EQ(FolderEntries(dir / "other"), std::vector<std::string>{".morla-zz99ZZ.tmp"});
}

// The rename has happened when the folder cannot be flushed: the output is
// the new one, but the job cannot promise it is on disk.
TEST(FileSafety, FolderThatCannotBeFlushedIsAWriteError) {
    TempDir dir;
    WriteFileBytes(dir / "in.s98", kSong);
    InjectFileFault(FileStep::FlushFolder);
    const JobRun run = RunJob(dir / "in.s98", Options().Detail(), dir / "in_new.s98");
    EXPECT_EQ(run.error, "output file write error.");
    EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"in.s98", "in_new.s98"}));
}

// The temporary name does not grow with the output's: any output name that
// is legal itself can be written, up to the 255 bytes of common file systems.
TEST(FileSafety, OutputNamesUpToTheSystemsLimitAreWritten) {
    for (const std::size_t length : {250u, 255u}) {
        TempDir dir;
        const std::string stem(length - 8, 'n');  // the output adds "_new.s98"
        WriteFileBytes(dir / (stem + ".s98"), kSong);
        const JobRun run =
            RunJob(dir / (stem + ".s98"), Options().Fm(3), dir / (stem + "_new.s98"));
        EXPECT_EQ(run.error, "") << length;
        EXPECT_TRUE(run.output);
    }
}

#if defined(_WIN32)
// A file in a deep folder, given by a short relative path: its full path
// passes 300 characters, beyond MAX_PATH, so the system must be handed the
// long form of it, whatever the length as typed.
TEST(FileSafety, ShortRelativePathToADeepFolderIsConverted) {
    TempDir dir;
    const std::wstring longForm = L"\\\\?\\" + std::filesystem::absolute(dir.path()).wstring();
    std::vector<std::wstring> folders;  // in the long form, outermost first
    std::wstring relative;              // below the current folder
    for (int level = 0; level < 7; ++level) {
        const std::wstring name(45, static_cast<wchar_t>(L'a' + level));
        folders.push_back((folders.empty() ? longForm : folders.back()) + L"\\" + name);
        ASSERT_TRUE(CreateDirectoryW(folders.back().c_str(), nullptr));
        if (level >= 3) {
            relative += name + L"\\";
        }
    }
    const std::wstring input = folders.back() + L"\\x.s98";
    const std::wstring output = folders.back() + L"\\x_new.s98";
    ASSERT_GT(input.size() - 4, 300u);
    ASSERT_LT(relative.size(), 240u);
    const HANDLE file = CreateFileW(input.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file, kSong.data(), static_cast<DWORD>(kSong.size()), &written, nullptr));
    CloseHandle(file);

    wchar_t before[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, before);
    ASSERT_TRUE(SetCurrentDirectoryW(folders[2].substr(4).c_str()));
    RecordingSink log;
    const std::u16string path(relative.begin(), relative.end());
    // Wine takes long paths in any form; Windows only the long form.
    const std::u16string system = SystemPathOf(path + u"x.s98");
    EXPECT_EQ(std::wstring(system.begin(), system.end()), input);
    EXPECT_EQ(RunSingleJob(path + u"x.s98", Options().Fm(3), log), u"");
    SetCurrentDirectoryW(before);
    EXPECT_NE(GetFileAttributesW(output.c_str()), INVALID_FILE_ATTRIBUTES);

    DeleteFileW(output.c_str());
    DeleteFileW(input.c_str());
    for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder) {
        RemoveDirectoryW(folder->c_str());
    }
}
#endif

TEST(FileSafety, IdentityIsTheFileNotTheName) {
    TempDir dir;
    WriteFileBytes(dir / "a.s98", kSong);
    WriteFileBytes(dir / "b.s98", kSong);
    std::filesystem::create_hard_link(dir / "a.s98", dir / "link.s98");
    const auto identity = [&](const std::string& name) { return IdentifyFile(PathOf(dir / name)); };
    ASSERT_TRUE(identity("a.s98"));
    EXPECT_EQ(identity("a.s98"), identity("link.s98"));
    EXPECT_EQ(identity("a.s98"), identity("./a.s98"));
    EXPECT_NE(identity("a.s98"), identity("b.s98"));
    EXPECT_FALSE(identity("missing.s98"));
}

#if !defined(_WIN32)

mode_t Umask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

mode_t ModeOf(const std::filesystem::path& path) {
    struct stat status {};
    ::stat(path.c_str(), &status);
    return status.st_mode & 07777;
}

// The output is never more open than its input; an existing output more open
// than the input is narrowed when it is replaced.
TEST(FileSafety, OutputTakesTheInputsPermissionBits) {
    for (const mode_t mode : {0600, 0640, 0644, 0444, 0755}) {
        SCOPED_TRACE(mode);
        TempDir dir;
        WriteFileBytes(dir / "in.s98", kSong);
        WriteFileBytes(dir / "in_new.s98", kSong);
        ::chmod((dir / "in_new.s98").c_str(), 0666);
        ::chmod((dir / "in.s98").c_str(), mode);
        EXPECT_EQ(RunJob(dir / "in.s98", Options().Fm(3), dir / "in_new.s98").error, "");
        EXPECT_EQ(ModeOf(dir / "in_new.s98"), mode & ~Umask());
    }
}

// Runs the job on another thread; a job that does not come back within five
// seconds is reported as hanging.
std::string ErrorWithin5Seconds(const std::filesystem::path& input) {
    auto job = std::async(std::launch::async, [input] {
        RecordingSink log;
        return ToUtf8(RunSingleJob(FromUtf8(input.string()), Options().Fm(3), log));
    });
    if (job.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        // Let the job go: open the FIFO for writing so its open returns.
        if (::access(input.c_str(), F_OK) == 0) {
            const int unblock = ::open(input.c_str(), O_WRONLY | O_NONBLOCK);
            job.wait();
            ::close(unblock);
        }
        return "hung";
    }
    return job.get();
}

TEST(FileSafety, InputsThatAreNotRegularFilesAreRefusedAtOnce) {
    TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "fifo.s98").c_str(), 0600), 0);
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = (dir / "socket.s98").string();
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    socketPath.copy(address.sun_path, socketPath.size());
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::listen(listener, 1);
    for (const std::filesystem::path& input :
         {dir / "fifo.s98", dir / "socket.s98", std::filesystem::path("/dev/zero"), dir.path()}) {
        EXPECT_EQ(ErrorWithin5Seconds(input), "input file open error.") << input;
    }
    ::close(listener);
    EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"fifo.s98", "socket.s98"}));
}

#endif

#if defined(__linux__)

// One run of a batch of songs whose outputs go into a folder that cannot be
// opened to flush it.
struct ShutFolderRun {
    std::vector<std::string> results;  // message|reason, in input order
    std::vector<std::string> reasonPaths;
    std::vector<std::string> outputs;  // the output folder afterwards
};

// Converts eight songs into dir/out with -f3: one Convert at a time (as the
// window and `MORLA_JOBS=1` do, each job flushing its own rename), or
// through ConvertAll on three workers (the flush shared and left to the
// batch). Each job's last row is checked against its result.
ShutFolderRun ConvertIntoShutFolder(const TempDir& dir, std::size_t workers) {
    std::vector<std::u16string> paths;
    for (int i = 0; i < 8; ++i) {
        WriteFileBytes(dir / Printf("s%d.s98", i), Stream({}, {{0xB0, 7}, {0x40, i}}).bytes());
        paths.push_back(PathOf(dir / Printf("s%d.s98", i)));
    }
    ConvertBatch batch(paths, {PathOf(dir / "out")});
    ShutFolderRun run;
    const auto keep = [&](const JobResult& result, const std::u16string& lastRow) {
        run.results.push_back(ToUtf8(result.message) + "|" + ToUtf8(result.failure.reason));
        run.reasonPaths.push_back(ToUtf8(result.failure.path));
        EXPECT_EQ(ToUtf8(lastRow),
                  result.message.empty() ? "-> ok" : "-> " + ToUtf8(result.message));
    };
    if (workers == 1) {
        for (std::size_t index = 0; index < batch.size(); ++index) {
            RecordingSink log;
            const JobResult result = batch.Convert(index, Options().Fm(3), log);
            keep(result, log.rows.back());
        }
    } else {
        batch.ConvertAll(Options().Fm(3), workers, [&](const FinishedJob& job) {
            keep(job.result, job.rows.back());
            return true;
        });
    }
    ::chmod((dir / "out").c_str(), 0700);
    run.outputs = FolderEntries(dir / "out");
    return run;
}

// An output folder that can be written but not read cannot be opened to
// flush the rename in it: a flush of the whole file system the output is on
// covers the rename instead, and only when that fails too is the job a write
// error, with the system's reason, its rename standing and no temporary file
// left. Never "-> ok" without a flush that covers the rename, whether each
// job flushes its own or jobs run at once share one. As root (who opens any
// folder) the fault hook stands in for the folder; a real one otherwise.
TEST(FileSafety, FolderThatCannotBeOpenedIsCoveredByAFlushOfItsFileSystem) {
    const std::vector<std::string> outputs = {"s0_new.s98", "s1_new.s98", "s2_new.s98",
                                              "s3_new.s98", "s4_new.s98", "s5_new.s98",
                                              "s6_new.s98", "s7_new.s98"};
    const std::string kFailed = "output file write error.|Input/output error";
    for (const bool realFolder : {false, true}) {
        if (realFolder && ::geteuid() == 0) {
            std::cout << "note: root opens any folder, so no real folder of mode 0300; "
                         "the fault hook stands in\n";
            continue;
        }
        for (const std::size_t workers : {1, 3}) {
            for (const bool fallbackFails : {false, true}) {
                SCOPED_TRACE(Printf("real folder %d, workers %zu, file system flush fails %d",
                                    realFolder, workers, fallbackFails));
                TempDir dir;
                std::filesystem::create_directory(dir / "out");
                if (realFolder) {
                    ::chmod((dir / "out").c_str(), 0300);
                } else {
                    InjectFileFault(FileStep::OpenFolder);
                }
                if (fallbackFails) {
                    InjectFileFault(FileStep::FlushFileSystem);
                }
                const ShutFolderRun run = ConvertIntoShutFolder(dir, workers);
                EXPECT_EQ(run.outputs, outputs);  // renamed, no temporary file
                ASSERT_EQ(run.results.size(), 8u);
                if (!fallbackFails) {
                    EXPECT_EQ(run.results, std::vector<std::string>(8, "|"));
                    continue;
                }
                // The first flush fails: its job, and at once the jobs it
                // covered (those waiting for it: a run of jobs from the
                // first); one at a time, the fault is used up by the first.
                EXPECT_EQ(run.results[0], kFailed);
                EXPECT_EQ(run.reasonPaths[0], ToUtf8(PathOf(dir / "out")) + "/");
                std::size_t covered = 1;
                while (covered < run.results.size() && run.results[covered] == kFailed) {
                    ++covered;
                }
                for (std::size_t i = covered; i < run.results.size(); ++i) {
                    EXPECT_EQ(run.results[i], "|") << i;
                }
                if (workers == 1) {
                    EXPECT_EQ(covered, 1u);
                }
            }
        }
    }
}

#endif

}  // namespace
}  // namespace morla::test
