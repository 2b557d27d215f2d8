// A batch whose jobs overlap gives what one job at a time gives: the same rows
// in the same order, the same files, the same results.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <thread>

#include "job/convert_batch.h"
#include "platform/file_io.h"
#include "process/process.h"
#include "test_support.h"

namespace morla::test {
namespace {

// A carrier at TL `tl`, `kib` KiB of waits and the carrier again: files of
// different sizes take different times.
Bytes Song(int tl, std::size_t kib) {
    S98Builder b = Stream({}, {{0xB0, 7}, {0x40, tl}, {0x08, 9}});
    b.Waits(kib << 10);
    b.Write(0, 0, 0x40, tl + 1);
    return b.bytes();
}

struct Outcome {
    std::vector<std::string> rows;       // the album's row first, then the jobs'
    std::vector<std::string> results;    // message and system reason, in input order
    std::map<std::string, Bytes> files;  // the folder afterwards
};

// Writes `files` (a name ending in '/' is a folder) into a new folder and runs
// `inputs` as one batch, outputs into `outputFolder` when given: with no
// workers a Convert at a time, as the window does; else through ConvertAll.
Outcome RunBatch(const std::vector<std::pair<std::string, Bytes>>& files,
                 const std::vector<std::string>& inputs, VolumeSettings settings,
                 std::size_t workers, bool album, const std::string& outputFolder) {
    TempDir dir;
    for (const auto& [name, bytes] : files) {
        name.back() == '/' ? (void)std::filesystem::create_directory(dir / name)
                           : WriteFileBytes(dir / name, bytes);
    }
    std::vector<std::u16string> paths;
    for (const std::string& input : inputs) {
        paths.push_back(PathOf(dir / input));
    }
    ConvertBatch batch(paths, {outputFolder.empty() ? u"" : PathOf(dir / outputFolder), album});
    RecordingSink log;
    Outcome outcome;
    const auto keep = [&](const JobResult& result) {
        outcome.results.push_back(ToUtf8(result.message) + "|" + ToUtf8(result.failure.reason));
    };
    if (workers == 0) {
        for (std::size_t index = 0; index < batch.size(); ++index) {
            keep(batch.Convert(index, settings, log));
        }
    } else {
        batch.ConvertAll(settings, workers, [&](const FinishedJob& job) {
            EXPECT_EQ(job.index, outcome.results.size());
            for (const std::u16string& row : job.rows) {
                log.Append(row);
            }
            keep(job.result);
            return true;
        });
    }
    outcome.rows = log.Utf8Rows();
    // An album's row names its folder by the path given: the same in every run
    // but for the temporary folder's name.
    const std::string top = ToUtf8(PathOf(dir.path()));
    for (std::string& row : outcome.rows) {
        if (const std::size_t at = row.find(top); at != std::string::npos) {
            row.replace(at, top.size(), "<dir>");
        }
    }
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path())) {
        outcome.files[entry.path().lexically_relative(dir.path()).generic_string()] =
            ReadFileBytes(entry.path());
    }
    return outcome;
}

// Songs of many sizes among failing files and every kind of collision. Each
// colliding pair's first file is the larger, so that overlapping the pair
// would let the second job reach the write step first.
const std::vector<std::pair<std::string, Bytes>> kFiles = [] {
    std::vector<std::pair<std::string, Bytes>> files = {
        {"out/", {}},
        {"one/", {}},
        {"two/", {}},
        {"one/s.s98", Song(30, 300)},
        {"two/s.s98", Song(40, 1)},
        {"one/s_new.s98", Song(45, 0)},  // an earlier output, named beside its folder too
        {"big.s98", Song(5, 1024)},
        {"big_new.s98", Song(50, 0)},  // an earlier output, skipped
        {"a.s98", Song(6, 512)},       // and "a": one output
        {"a", Song(7, 0)},
        {"c.s98", Song(8, 512)},  // its output is a later input
        {"y_new.s98", Song(9, 0)},
        {"y.s98", Song(10, 64)},
        {"bad.s98", {'S', '9', '8', '2'}},
        {"empty.s98", {}},
    };
    for (int i = 0; i < 12; ++i) {
        files.push_back({Printf("t%d.s98", i), Song(i * 3, (i * 37) % 300)});
    }
    return files;
}();
// "T5.S98" is t5.s98 given again where names ignore case (Windows), a
// missing file elsewhere.
const std::vector<std::string> kInputs = {
    "t0.s98",      "big.s98",       "t1.s98",    "a.s98",   "a",           "t2.s98",
    "c.s98",       "c_new.s98",     "t3.s98",    "t4.s98",  "big_new.s98", "t5.s98",
    "T5.S98",      "y_new.s98",     "y.s98",     "t6.s98",  "bad.s98",     "t7.s98",
    "missing.s98", "one/s_new.s98", "t8.s98",    "one",     "empty.s98",   "t9.s98",
    "one/s.s98",   "t10.s98",       "two/s.s98", "t11.s98", "./t11.s98",   "one/s_new.s98",
};

TEST(ParallelBatch, GivesTheRowsFilesAndResultsOfOneJobAtATime) {
    const struct {
        const char* name;
        VolumeSettings settings;
        bool album;
    } cases[] = {{"-f3 -s1 -v", Options().Fm(3).Ssg(1).Detail(), false},
                 {"-p", Options().PeakOnly(), false},
                 {"-F200", Options().FmTarget(200), false},
                 {"album -F120 -S13", Options().FmTarget(120).SsgTarget(13), true}};
    for (const std::string outputFolder : {"", "out"}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + " -o " + outputFolder);
            const Outcome reference =
                RunBatch(kFiles, kInputs, c.settings, 0, c.album, outputFolder);
            ASSERT_EQ(reference.results.size(), kInputs.size() + 1);  // "one" holds two files
            for (const std::size_t workers : {1, 2, 3}) {
                SCOPED_TRACE(workers);
                const Outcome overlapped =
                    RunBatch(kFiles, kInputs, c.settings, workers, c.album, outputFolder);
                EXPECT_EQ(overlapped.rows, reference.rows);
                EXPECT_EQ(overlapped.results, reference.results);
                EXPECT_TRUE(overlapped.files == reference.files);
            }
        }
    }
    // The batch rules were met in the run that writes beside the inputs.
    const Outcome reference = RunBatch(kFiles, kInputs, Options().Fm(3), 0, false, "");
    // The result of an input's first entry; the folder "one" is two entries.
    const auto resultOf = [&](const std::string& input) {
        const auto at = std::find(kInputs.begin(), kInputs.end(), input) - kInputs.begin();
        const auto folder = std::find(kInputs.begin(), kInputs.end(), "one") - kInputs.begin();
        return reference.results[at + (at > folder ? 1 : 0)];
    };
    EXPECT_EQ(resultOf("a"), "output file already written.|");
    EXPECT_EQ(resultOf("./t11.s98"), "output file already written.|");
    EXPECT_EQ(resultOf("big_new.s98"), "|");  // skipped, replaced by big.s98's job
    EXPECT_EQ(resultOf("c_new.s98"), "|");
    EXPECT_EQ(resultOf("y.s98"), "|");
    EXPECT_EQ(reference.files.at("big_new.s98").size(), Song(5, 1024).size());
    EXPECT_EQ(resultOf("one/s.s98"), "output file already written.|");  // after the folder "one"
    EXPECT_EQ(resultOf("one/s_new.s98"), "|");  // skipped, replaced by the folder's one/s.s98
    EXPECT_EQ(reference.files.at("one/s_new.s98").size(), Song(30, 300).size());
    EXPECT_EQ(resultOf("missing.s98").rfind("input file open error.|", 0), 0u);
}

// The small file's job ends while the big file's runs, unless one job at a
// time is asked for or the big file's output exists (its job then runs
// alone, and no job starts until it ends).
TEST(ParallelBatch, OverlapsOnlyJobsThatCannotMeet) {
    TempDir dir;
    WriteFileBytes(dir / "big.s98", Song(5, 1 << 20));
    WriteFileBytes(dir / "small.s98", Song(5, 0));
    // The big file's output: none yet, an earlier run's, or a second name of
    // the small input (which the big job must not replace before it is read).
    enum { kNone, kEarlierRun, kLinkToInput };
    for (const int bigOutput : {kNone, kEarlierRun, kLinkToInput}) {
        for (const std::size_t workers : {1, 2}) {
            SCOPED_TRACE(workers);
            std::filesystem::remove(dir / "small_new.s98");
            std::filesystem::remove(dir / "big_new.s98");
            if (bigOutput == kEarlierRun) {
                WriteFileBytes(dir / "big_new.s98", {});
            } else if (bigOutput == kLinkToInput) {
                std::filesystem::create_hard_link(dir / "small.s98", dir / "big_new.s98");
            }
            ConvertBatch batch({PathOf(dir / "big.s98"), PathOf(dir / "small.s98")});
            std::vector<bool> smallWrittenBefore;
            std::vector<std::u16string> results;
            batch.ConvertAll(Options().Fm(3), workers, [&](const FinishedJob& job) {
                smallWrittenBefore.push_back(std::filesystem::exists(dir / "small_new.s98"));
                results.push_back(job.result.message);
                return true;
            });
            // Beside the big job the small one is done long before it; one at
            // a time it has not started. (Whether it starts once a job that
            // runs alone has ended, before that job is handed on, is timing.)
            if (workers == 1 || bigOutput != kLinkToInput) {
                EXPECT_EQ(smallWrittenBefore, (std::vector<bool>{workers == 2, true}));
            }
            // Run alone, the big job finds its output still an unread input.
            EXPECT_EQ(results[0],
                      bigOutput == kLinkToInput ? u"output file is also an input." : u"");
        }
    }
}

TEST(ParallelBatch, NoJobStartsOnceTheHandlerStops) {
    for (const std::size_t workers : {1, 2}) {
        TempDir dir;
        std::vector<std::u16string> paths;
        for (int i = 0; i < 8; ++i) {
            WriteFileBytes(dir / (std::to_string(i) + ".s98"), Song(i, i == 3 ? 32 << 10 : 0));
            paths.push_back(PathOf(dir / (std::to_string(i) + ".s98")));
        }
        ConvertBatch batch(paths);
        std::vector<std::size_t> handed;
        batch.ConvertAll(Options().Fm(3), workers, [&](const FinishedJob& job) {
            handed.push_back(job.index);
            return job.index < 3;
        });
        EXPECT_EQ(handed, (std::vector<std::size_t>{0, 1, 2, 3}));
        EXPECT_TRUE(std::filesystem::exists(dir / "3_new.s98"));
        // One at a time, no job after the stop. Jobs run at once go on while
        // the finished ones wait for their folder's flush (bounded, see
        // GroupCommitTest), and stop with the handler.
        if (workers == 1) {
            EXPECT_FALSE(std::filesystem::exists(dir / "4_new.s98"));
        }
    }
}

// ---- Group commit ----

// Whether the file layer flushes folders (Windows renames are durable by
// themselves: no folder flush is ever asked for there).
#if defined(_WIN32)
constexpr std::uint64_t kFlushesPerFolder = 0;
#else
constexpr std::uint64_t kFlushesPerFolder = 1;
#endif

// A finished job whose output was renamed into `folder` (rename number
// `renamed`), its flush left to the batch; `pending` false: a job with
// nothing to flush (a failure, a skip).
FinishedJob Renamed(std::size_t index, const std::filesystem::path& folder, bool pending = true) {
    FinishedJob job;
    job.index = index;
    job.rows = {u"job " + FromUtf8(std::to_string(index)), u"-> ok"};
    if (pending) {
        job.result.pendingFlush = PendingFolderFlush{PathOf(folder) + u"/", index + 1, nullptr};
    }
    return job;
}

struct Handed {
    std::vector<std::size_t> order;
    std::vector<std::string> results;
    FinishedJobHandler Handler(std::size_t stopAt = SIZE_MAX) {
        return [this, stopAt](const FinishedJob& job) {
            order.push_back(job.index);
            results.push_back(ToUtf8(job.rows.back()));
            EXPECT_FALSE(job.result.pendingFlush) << "handed on before its flush";
            return job.index != stopAt;
        };
    }
};

// Jobs wait, in order, until the renames waiting on a folder reach the
// bound; one flush per folder then hands on every waiting job; a job with
// nothing to flush waits behind the ones before it; the rest at the end.
TEST(GroupCommitTest, HandsJobsOnInOrderAfterOneFlushOfEachFolder) {
    TempDir dir;
    std::filesystem::create_directories(dir / "a");
    std::filesystem::create_directories(dir / "b");
    Handed handed;
    GroupCommit group(handed.Handler(),
                      {.renames = 4, .rows = 1000, .wait = std::chrono::hours(1)});
    const std::uint64_t before = FolderFlushesSoFar();
    for (std::size_t i = 0; i < 7; ++i) {
        EXPECT_TRUE(group.Add(Renamed(i, dir / (i % 2 ? "b" : "a"), i != 5)));
    }
    // a: jobs 0, 2, 4, 6 reached 4 at job 6; b's three and job 5 came along.
    EXPECT_EQ(handed.order, (std::vector<std::size_t>{0, 1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(FolderFlushesSoFar() - before, 2 * kFlushesPerFolder);
    EXPECT_TRUE(group.Add(Renamed(7, dir / "a")));
    EXPECT_TRUE(group.Add(Renamed(8, dir / "a", false)));
    EXPECT_EQ(handed.order.size(), 7u) << "8 waits behind 7";
    EXPECT_TRUE(group.Drain());
    EXPECT_EQ(handed.order.size(), 9u);
    EXPECT_EQ(FolderFlushesSoFar() - before, 3 * kFlushesPerFolder);
    // Jobs with nothing to flush and nothing before them go on at once.
    EXPECT_TRUE(group.Add(Renamed(9, dir / "a", false)));
    EXPECT_EQ(handed.order.size(), 10u);
}

// The rows never wait longer than the bound: Tick, called while the batch
// waits for its next job, commits once the oldest output has waited it.
TEST(GroupCommitTest, OldestOutputWaitsNoLongerThanTheBound) {
    TempDir dir;
    Handed handed;
    GroupCommit group(handed.Handler(),
                      {.renames = 64, .rows = 1000, .wait = std::chrono::milliseconds(30)});
    EXPECT_TRUE(group.Add(Renamed(0, dir.path())));
    EXPECT_TRUE(group.Tick());
    EXPECT_TRUE(handed.order.empty());
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    EXPECT_TRUE(group.Tick());
    EXPECT_EQ(handed.order, std::vector<std::size_t>{0});
    // Many rows waiting are a bound too.
    FinishedJob big = Renamed(1, dir.path());
    big.rows.resize(1000, u"PEAK OVER!");
    big.rows.back() = u"-> ok";
    EXPECT_TRUE(group.Add(big));
    EXPECT_EQ(handed.order.size(), 2u);
}

// Once the handler stops the run, nothing more is handed on.
TEST(GroupCommitTest, NothingIsHandedOnAfterTheHandlerStops) {
    TempDir dir;
    Handed handed;
    GroupCommit group(handed.Handler(1),
                      {.renames = 3, .rows = 1000, .wait = std::chrono::hours(1)});
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_TRUE(group.Add(Renamed(i, dir.path())));
    }
    EXPECT_FALSE(group.Add(Renamed(2, dir.path())));
    EXPECT_FALSE(group.Add(Renamed(3, dir.path())));
    EXPECT_FALSE(group.Drain());
    EXPECT_EQ(handed.order, (std::vector<std::size_t>{0, 1}));
}

#if !defined(_WIN32)  // Windows renames are durable by themselves: no folder flush
// A failed group flush fails every job it covered, in every folder it
// covered, and no job of a later group.
TEST(GroupCommitTest, FailedFlushFailsEveryJobOfItsGroup) {
    TempDir dir;
    Handed handed;
    GroupCommit group(handed.Handler(),
                      {.renames = 5, .rows = 1000, .wait = std::chrono::hours(1)});
    InjectFileFault(FileStep::FlushFolder);
    for (std::size_t i = 0; i < 12; ++i) {
        EXPECT_TRUE(group.Add(Renamed(i, dir.path(), i != 2)));
    }
    EXPECT_TRUE(group.Drain());
    std::vector<std::string> expected(12, "-> ok");
    for (const std::size_t covered : {0, 1, 3, 4, 5}) {
        expected[covered] = "-> output file write error.";
    }
    EXPECT_EQ(handed.results, expected);
}

// Jobs that run at once share their folder's flush, and a job is handed on
// only after the flush that covers its rename: when that flush fails, every
// job it covered reports the write error (its rename stands, it is not known
// to be on disk), the first among them, and no job it did not cover. A
// hundred outputs into one folder take a few flushes, not one each.
TEST(ParallelBatch, FailedSharedFolderFlushFailsTheJobsItCoveredAndNoOther) {
    constexpr std::size_t kWorkers = 3;
    TempDir dir;
    std::vector<std::u16string> paths;
    for (int i = 0; i < 100; ++i) {
        WriteFileBytes(dir / Printf("s%02d.s98", i), Song(i, 64 * (i % 4)));
        paths.push_back(PathOf(dir / Printf("s%02d.s98", i)));
    }
    ConvertBatch batch(paths);
    InjectFileFault(FileStep::FlushFolder);
    std::vector<std::string> results;
    const std::uint64_t flushesBefore = FolderFlushesSoFar();
    batch.ConvertAll(Options().Fm(3), kWorkers, [&](const FinishedJob& job) {
        results.push_back(ToUtf8(job.result.message));
        EXPECT_EQ(ToUtf8(job.rows.back()),
                  job.result.message.empty() ? "-> ok" : "-> " + ToUtf8(job.result.message));
        return true;
    });
    const std::uint64_t flushes = FolderFlushesSoFar() - flushesBefore;
    ASSERT_EQ(results.size(), paths.size());
    // The first flush covered a run of jobs from the first, and only those.
    std::size_t covered = 0;
    while (covered < results.size() && results[covered] == "output file write error.") {
        ++covered;
    }
    EXPECT_GE(covered, 1u);
    EXPECT_LE(covered, GroupCommit::Bounds{}.renames);
    for (std::size_t i = 0; i < results.size(); ++i) {
        if (i >= covered) {
            EXPECT_EQ(results[i], "") << i;
        }
        EXPECT_TRUE(std::filesystem::exists(dir / Printf("s%02d_new.s98", static_cast<int>(i))));
    }
    EXPECT_GE(flushes, 2u);  // the failed one and at least one more
    EXPECT_LE(flushes, 25u) << "a flush per group of outputs, not per output";
}

#endif

}  // namespace
}  // namespace morla::test
