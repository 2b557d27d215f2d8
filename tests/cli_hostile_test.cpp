// morla where its surroundings work against it: standard streams closed at
// start, a reader of the rows that goes away, interruptions while many files
// are written, runs killed outright, names that are only names on POSIX.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <iostream>
#include <map>
#include <random>
#include <thread>

#include "cli_support.h"

namespace morla::test {
namespace {

using Files = std::map<std::string, Bytes>;

Files FilesIn(const std::filesystem::path& folder) {
    Files files;
    for (const std::string& name : FolderEntries(folder)) {
        files[name] = ReadFileBytes(folder / name);
    }
    return files;
}

// Songs of a few lengths, each with a carrier, an SSG volume and many waits.
void WriteSongs(const TempDir& dir, int count, std::size_t waits = 20000) {
    for (int i = 0; i < count; ++i) {
        S98Builder b = Stream({}, {{0xB0, 7}, {0x40, 20 + i % 50}, {0x08, 12}});
        b.Waits(waits * (1 + i % 3));
        b.End();
        WriteFileBytes(dir / Printf("s%03d.s98", i), b.bytes());
    }
}

std::vector<std::string> SongNames(int count) {
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
        names.push_back(Printf("s%03d.s98", i));
    }
    return names;
}

// Starts morla in `dir` with standard output into a pipe (or /dev/null)
// and standard error to /dev/null; SIGPIPE as the parent of a pipeline
// leaves it, or ignored.
struct Child {
    pid_t pid = -1;
    int rows = -1;  // the reading end of standard output
};
enum class Rows { ToPipe, ToNull };
Child StartMorla(const TempDir& dir, const std::vector<std::string>& arguments,
                 bool ignorePipe = false, const char* jobs = "2", Rows rows = Rows::ToPipe) {
    int ends[2];
    if (::pipe(ends) != 0) {
        return {};
    }
    std::vector<std::string> words = {MorlaProgram()};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        if (::chdir(dir.path().c_str()) != 0 ||
            ::dup2(rows == Rows::ToPipe ? ends[1] : null, 1) < 0 || ::dup2(null, 2) < 0) {
            ::_exit(99);
        }
        ::close(ends[0]);
        ::close(ends[1]);
        ::signal(SIGPIPE, ignorePipe ? SIG_IGN : SIG_DFL);
        ::setenv("MORLA_JOBS", jobs, 1);
        ::execv(argv[0], argv.data());
        ::_exit(98);
    }
    ::close(ends[1]);
    return {pid, ends[0]};
}

// The exit status, or 1000 + the signal that ended it.
int Wait(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
}

// A song whose -v listing is long (every carrier write is a row), so rows
// are written while its output is.
Bytes ListedSong(int carrierWrites) {
    S98Builder b = Stream({}, {{0xB0, 7}});
    for (int k = 0; k < carrierWrites; ++k) {
        b.Write(0, 0, 0x40, 20 + k % 40);
    }
    b.Waits(1 << 20);
    return b.bytes();
}

// A closed standard output or error at start: no output file takes its
// number, so the outputs are byte for byte those of a run with both open.
// Without standard output the run stops as soon as its rows cannot be
// written (exit 1); the outputs it made are whole.
TEST(CliHostile, ClosedStandardStreamsNeverReachAnOutput) {
    const auto setUp = [](const TempDir& dir) {
        std::filesystem::create_directory(dir / "bad.s98");  // a reason on stderr
        for (int i = 0; i < 6; ++i) {
            WriteFileBytes(dir / Printf("s%03d.s98", i), ListedSong(4000 * (1 + i % 3)));
        }
    };
    std::vector<std::string> files = SongNames(6);
    files.insert(files.begin() + 1, "bad.s98");
    for (const auto& [options, jobs] :
         {std::pair<std::vector<std::string>, std::string>{{"-v", "-F120"}, "1"},
          {{"-f3", "-S13"}, "2"}}) {
        std::vector<std::string> arguments = options;
        arguments.insert(arguments.end(), files.begin(), files.end());
        const std::string environment = "export MORLA_JOBS=" + jobs;
        TempDir normal;
        setUp(normal);
        EXPECT_EQ(Morla(normal, arguments, ".out", environment).status, 1);  // bad.s98
        const Files expected = FilesIn(normal.path());

        for (int run = 0; run < 3; ++run) {
            TempDir noErr;
            setUp(noErr);
            EXPECT_EQ(Morla(noErr, arguments, ".out", environment, "&-").status, 1);
            EXPECT_TRUE(FilesIn(noErr.path()) == expected) << "stderr closed, " << options[0];

            TempDir noOut;
            setUp(noOut);
            EXPECT_EQ(Morla(noOut, arguments, "&-", environment).status, 1);
            const Files made = FilesIn(noOut.path());
            EXPECT_GT(made.size(), 7u);  // at least the first output
            for (const auto& [name, bytes] : made) {
                ASSERT_TRUE(expected.count(name))
                    << "stdout closed, " << options[0] << ": " << name;
                EXPECT_TRUE(expected.at(name) == bytes)
                    << "stdout closed, " << options[0] << ": " << name;
            }
        }
    }
}

// On POSIX only '/' separates folders: a name with ':' or '\' is shown
// whole and keeps its whole name in its output's, beside the input or in
// an output folder.
TEST(CliHostile, ColonAndBackslashAreCharactersOfAName) {
    const std::vector<std::string> names = {"a:b.s98", "z:b.s98", "b.s98", "x:.s98", "c\\d.s98"};
    TempDir dir;
    std::filesystem::create_directory(dir / "od");
    for (const std::string& name : names) {
        WriteFileBytes(dir / name, Song());
    }
    for (const bool intoFolder : {false, true}) {
        std::vector<std::string> arguments = {"-f3"};
        if (intoFolder) {
            arguments.insert(arguments.end(), {"-o", "od"});
        }
        arguments.insert(arguments.end(), names.begin(), names.end());
        const CliRun run = Morla(dir, arguments);
        EXPECT_EQ(run.status, 0) << run.err;
        std::vector<std::string> rows;
        for (const std::string& name : names) {
            const std::string output = name.substr(0, name.size() - 4) + "_new.s98";
            rows.insert(rows.end(),
                        {name, "output file:" + output + "  volume down: FM=3", "-> ok"});
        }
        EXPECT_EQ(run.rows, rows);
    }
    const std::vector<std::string> outputs = {"a:b_new.s98", "b_new.s98", "c\\d_new.s98",
                                              "x:_new.s98", "z:b_new.s98"};
    EXPECT_EQ(FolderEntries(dir / "od"), outputs);
    for (const std::string& output : outputs) {
        EXPECT_EQ(ReadFileBytes(dir / output), ReadFileBytes(dir / "od" / output)) << output;
    }
}

// `morla ... | head -1`: the reader goes after one row while files are
// being written. The run ends at once with 128 + SIGPIPE, or, where SIGPIPE
// is ignored, with a write error; either way no temporary file is left and
// every output there is whole.
TEST(CliHostile, ReaderThatGoesAwayLeavesNoTemporaryFile) {
    // Long -v listings: every carrier write is a row.
    TempDir dir;
    std::vector<std::string> names;
    for (int i = 0; i < 6; ++i) {
        WriteFileBytes(dir / Printf("v%d.s98", i), ListedSong(20000));
        names.push_back(Printf("v%d.s98", i));
    }
    // Enough files that the run outlasts the batch's wait for a folder flush
    // (rows come out in groups, once the flush that covers them is done):
    // the reader is gone while rows are still to come.
    WriteSongs(dir, 200);
    std::vector<std::string> songs = SongNames(200);
    names.insert(names.end(), songs.begin(), songs.end());
    std::vector<std::string> detail = {"-v", "-f3", "-s1", "-r2"};
    std::vector<std::string> plain = {"-f3", "-s1", "-r2"};
    detail.insert(detail.end(), names.begin(), names.end());
    plain.insert(plain.end(), names.begin(), names.end());
    const Files inputs = FilesIn(dir.path());

    for (const bool ignorePipe : {false, true}) {
        for (const auto* arguments : {&detail, &plain}) {
            for (int run = 0; run < 4; ++run) {
                SCOPED_TRACE(
                    Printf("ignored %d, -v %d, run %d", ignorePipe, arguments == &detail, run));
                const Child child = StartMorla(dir, *arguments, ignorePipe);
                ASSERT_GT(child.pid, 0);
                char c = 0;
                while (::read(child.rows, &c, 1) == 1 && c != '\n') {
                }
                ::close(child.rows);
                const int status = Wait(child.pid);
                EXPECT_EQ(status, ignorePipe ? 1 : 128 + SIGPIPE);
                EXPECT_FALSE(HasTemporaryFile(dir.path()));
                for (const auto& [name, bytes] : FilesIn(dir.path())) {
                    if (!inputs.count(name)) {
                        EXPECT_EQ(bytes.size(),
                                  inputs.at(name.substr(0, name.size() - 8) + ".s98").size());
                        std::filesystem::remove(dir / name);
                    }
                }
            }
        }
    }
}

// Eight files at a time, interrupted at random moments: whatever the
// threads were doing, no temporary file is left, and the run ends with
// 128 + the signal (or had finished).
TEST(CliHostile, InterruptingManyJobsLeavesNoTemporaryFile) {
    TempDir dir;
    WriteSongs(dir, 200, 4000);
    const std::vector<std::string> arguments = [] {
        std::vector<std::string> all = {"-f3", "-S13"};
        const std::vector<std::string> songs = SongNames(200);
        all.insert(all.end(), songs.begin(), songs.end());
        return all;
    }();
    // How long a whole run takes here, to interrupt within it.
    const auto start = std::chrono::steady_clock::now();
    const Child timed = StartMorla(dir, arguments, false, "8", Rows::ToNull);
    ::close(timed.rows);
    ASSERT_EQ(Wait(timed.pid), 0);
    const auto whole = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - start);
    std::minstd_rand random(12345);
    int interrupted = 0;
    for (int run = 0; run < 120; ++run) {
        const int signal = run % 2 == 0 ? SIGINT : SIGTERM;
        const Child child = StartMorla(dir, arguments, false, "8", Rows::ToNull);
        ::close(child.rows);
        std::this_thread::sleep_for(std::chrono::microseconds(random() % (whole.count() / 2 + 1)));
        ::kill(child.pid, signal);
        const int status = Wait(child.pid);
        // (Killed by the signal itself only when it came before the run set
        // its handlers, before any file.)
        EXPECT_TRUE(status == 128 + signal || status == 1000 + signal || status == 0) << status;
        interrupted += status != 0;
        ASSERT_FALSE(HasTemporaryFile(dir.path())) << "run " << run;
    }
    EXPECT_GT(interrupted, 30);  // many runs were caught under way
}

// A run killed outright (nothing can catch SIGKILL) leaves its temporary
// file; the next run that writes into the folder removes it, but not the
// file of a writer still at work.
TEST(CliHostile, NextRunRemovesTheLeftoverOfAKilledRun) {
    TempDir dir;
    WriteFileBytes(dir / "big.s98", BigSong(64));
    WriteFileBytes(dir / "small.s98", Song());
    bool caught = false;
    for (int attempt = 0; attempt < 5 && !caught; ++attempt) {
        const Child child = StartMorla(dir, {"-f3", "big.s98"});
        const auto start = std::chrono::steady_clock::now();
        while (!HasTemporaryFile(dir.path()) &&
               std::chrono::steady_clock::now() - start < std::chrono::seconds(20)) {
        }
        ::kill(child.pid, SIGKILL);
        ::close(child.rows);
        caught = Wait(child.pid) == 1000 + SIGKILL && HasTemporaryFile(dir.path());
        std::filesystem::remove(dir / "big_new.s98");
    }
    ASSERT_TRUE(caught) << "the write was never caught in progress";
    // A writer at work, holding its file as morla does.
    const int held = ::open((dir / ".morla-WRITER.tmp").c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);

    const CliRun run = Morla(dir, {"-f3", "small.s98"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{".morla-WRITER.tmp", "big.s98",
                                                                   "small.s98", "small_new.s98"}));
    ::close(held);
}

#if defined(__linux__)
// An output folder that can be written but not read cannot be opened to
// flush the renames in it: morla flushes the whole file system each output
// is on instead, and says "-> ok" only then. When that flush fails too,
// every file it was to cover fails with a write error and the system's
// reason on standard error (exit 1), its output in place and no temporary
// file left; one file at a time and four at a time. The folder is shut by a
// preloaded library (root opens any folder), and for real when not root; the
// file system flush fails only through the library.
TEST(CliHostile, OutputFolderThatCannotBeOpenedIsFlushedThroughItsFileSystem) {
    const std::vector<std::string> songs = SongNames(6);
    std::vector<std::string> arguments = {"-f3", "-o", "out"};
    arguments.insert(arguments.end(), songs.begin(), songs.end());
    for (const bool realFolder : {false, true}) {
        if (realFolder && ::geteuid() == 0) {
            std::cout << "note: root opens any folder, so no real folder of mode 0300; "
                         "the preloaded library stands in\n";
            continue;
        }
        for (const char* jobs : {"1", "4"}) {
            for (const bool syncfsFails : {false, true}) {
                SCOPED_TRACE(Printf("real folder %d, MORLA_JOBS=%s, syncfs fails %d", realFolder,
                                    jobs, syncfsFails));
                TempDir dir;
                WriteSongs(dir, 6, 2000);
                std::filesystem::create_directory(dir / "out");
                std::string setUp = std::string("export MORLA_JOBS=") + jobs +
                                    " LD_PRELOAD=" + MORLA_SHUT_FOLDER_PRELOAD +
                                    (syncfsFails ? " MORLA_TEST_SYNCFS_FAILS=1" : "");
                setUp += realFolder ? " && chmod 0300 out" : " MORLA_TEST_SHUT_FOLDER=out";
                const CliRun run = Morla(dir, arguments, ".out", setUp);
                ::chmod((dir / "out").c_str(), 0700);
                std::vector<std::string> rows;
                std::string errors;
                for (const std::string& song : songs) {
                    const std::string stem = song.substr(0, song.size() - 4);
                    rows.insert(rows.end(),
                                {song, "output file:" + stem + "_new.s98  volume down: FM=3",
                                 syncfsFails ? "-> output file write error." : "-> ok"});
                    errors += syncfsFails ? "morla: out/: Input/output error\n" : "";
                    EXPECT_TRUE(std::filesystem::exists(dir / "out" / (stem + "_new.s98")));
                }
                EXPECT_EQ(run.status, syncfsFails ? 1 : 0);
                EXPECT_EQ(run.rows, rows);
                EXPECT_EQ(run.err, errors);
                EXPECT_EQ(FolderEntries(dir / "out").size(), songs.size());  // no temporary file
            }
        }
    }
}
#endif

}  // namespace
}  // namespace morla::test
