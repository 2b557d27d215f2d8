// Outputs as a trusted file tool writes them: flushed to disk before they
// replace anything, through a temporary file of a short name of its own that
// never outlives a failure, with the input's permission bits; inputs that are
// not regular files refused without waiting.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>

#include "file_io.h"
#include "test_support.h"

#if !defined(_WIN32)
#include <fcntl.h>
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
        return ToUtf8(ConvertJob(FromUtf8(input.string()), Options().Fm(3), log));
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

}  // namespace
}  // namespace morla::test
