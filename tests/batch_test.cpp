// A batch never destroys its own input: outputs that name a later input or an
// output the batch already wrote are refused at the write step, by identity.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iostream>

#include "job/convert_batch.h"
#include "test_support.h"

namespace morla::test {
namespace {

// One carrier at TL 10; -f3 makes it 13.
const Bytes kSong = Stream({}, {{0xB0, 7}, {0x40, 10}}).bytes();
// The user's own file, not a song of this batch's making: TL 50.
const Bytes kMine = Stream({}, {{0xB0, 7}, {0x40, 50}}).bytes();

Bytes Lowered(Bytes song, int by) {
    song.back() = static_cast<std::uint8_t>(song.back() + by);
    return song;
}

struct BatchRun {
    std::vector<std::string> rows;  // every row of the batch
    std::vector<std::string> results;
};

// Runs a batch of the given paths (relative to `dir`) with -f3, in order.
BatchRun RunBatch(const TempDir& dir, const std::vector<std::string>& names) {
    std::vector<std::u16string> paths;
    for (const std::string& name : names) {
        paths.push_back(PathOf(dir / name));
    }
    ConvertBatch batch(paths);
    RecordingSink log;
    BatchRun run;
    for (std::size_t i = 0; i < batch.size(); ++i) {
        run.results.push_back(ToUtf8(batch.Convert(i, Options().Fm(3), log).message));
    }
    run.rows = log.Utf8Rows();
    return run;
}

std::vector<std::string> RowsOf(const std::string& name, const std::string& output,
                                const std::string& result) {
    return {name, "output file:" + output + "  volume down: FM=3",
            result.empty() ? "-> ok" : "-> " + result};
}

std::vector<std::string> Concat(std::vector<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

constexpr char kIsInput[] = "output file is also an input.";
constexpr char kWritten[] = "output file already written.";

// song.s98 and song_new.s98 in one batch, however spelled and in either
// order: song_new.s98 is song.s98's earlier output, skipped, and song.s98's
// job replaces it. Running the batch again gives the same files.
TEST(Batch, EarlierOutputBesideItsInputIsSkippedAndReplaced) {
    for (const auto& [first, second] :
         std::vector<std::pair<std::string, std::string>>{{"song.s98", "song_new.s98"},
                                                          {"song.s98", "./song_new.s98"},
                                                          {"song.s98", "sub/../song_new.s98"},
                                                          {"song_new.s98", "song.s98"}}) {
        SCOPED_TRACE(first + " " + second);
        TempDir dir;
        std::filesystem::create_directory(dir / "sub");
        WriteFileBytes(dir / "song.s98", kSong);
        WriteFileBytes(dir / "song_new.s98", kMine);
        for (int run = 0; run < 2; ++run) {
            const BatchRun batch = RunBatch(dir, {first, second});
            const std::vector<std::string> skipped = {"song_new.s98",
                                                      "-> skipped: output of song.s98"};
            EXPECT_EQ(batch.rows, first == "song.s98"
                                      ? Concat({RowsOf("song.s98", "song_new.s98", ""), skipped})
                                      : Concat({skipped, RowsOf("song.s98", "song_new.s98", "")}));
            EXPECT_EQ(batch.results, (std::vector<std::string>{"", ""}));
            EXPECT_EQ(ReadFileBytes(dir / "song_new.s98"), Lowered(kSong, 3));
            EXPECT_EQ(FolderEntries(dir.path()),
                      (std::vector<std::string>{"song.s98", "song_new.s98", "sub"}));
        }
    }
}

// An earlier output is skipped however the batch reaches it: found in its
// folder, named directly (as a shell's glob over the folder names it), or
// both, in either order and more than once, in any spelling. None of its
// entries is an input, so its own input's job replaces it and nothing is
// converted into song_new_new.s98; running the batch again gives the same.
TEST(Batch, EarlierOutputIsSkippedWhetherFoundInItsFolderOrNamedDirectly) {
    const std::vector<std::string> skipped = {"song_new.s98", "-> skipped: output of song.s98"};
    const std::vector<std::string> folder =
        Concat({RowsOf("song.s98", "song_new.s98", ""), skipped});
    const struct {
        std::vector<std::string> names;
        std::vector<std::string> rows;
    } cases[] = {
        {{"G", "G/song_new.s98"}, Concat({folder, skipped})},
        {{"G/song_new.s98", "G"}, Concat({skipped, folder})},
        {{"G", "G/./song_new.s98", "G/song_new.s98"}, Concat({folder, skipped, skipped})},
        {{"G/song_new.s98", "G/song_new.s98", "G"}, Concat({skipped, skipped, folder})},
        {{"G/song_new.s98", "G", "./G/song_new.s98"}, Concat({skipped, folder, skipped})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.names));
        TempDir dir;
        std::filesystem::create_directory(dir / "G");
        WriteFileBytes(dir / "G" / "song.s98", kSong);
        WriteFileBytes(dir / "G" / "song_new.s98", kMine);
        for (int run = 0; run < 2; ++run) {
            const BatchRun batch = RunBatch(dir, c.names);
            EXPECT_EQ(batch.rows, c.rows) << run;
            const auto entries = std::count_if(c.rows.begin(), c.rows.end(), [](const auto& row) {
                return row.starts_with("-> ");
            });
            EXPECT_EQ(batch.results, std::vector<std::string>(entries, "")) << run;
            EXPECT_EQ(ReadFileBytes(dir / "G" / "song_new.s98"), Lowered(kSong, 3));
            EXPECT_EQ(FolderEntries(dir / "G"),
                      (std::vector<std::string>{"song.s98", "song_new.s98"}));
        }
    }
}

// The same name in another folder is no earlier output: the rule that an
// output never replaces a later input holds for it.
TEST(Batch, OutputThatIsALaterInputIsRefusedWhateverItsSpelling) {
    TempDir dir;
    std::filesystem::create_directory(dir / "sub");
    WriteFileBytes(dir / "sub" / "song.s98", kSong);
    WriteFileBytes(dir / "sub" / "song_new.s98", kMine);
    std::filesystem::create_hard_link(dir / "sub" / "song_new.s98", dir / "mine.s98");
    const BatchRun run = RunBatch(dir, {"sub/song.s98", "mine.s98"});
    EXPECT_EQ(run.rows, Concat({RowsOf("song.s98", "song_new.s98", kIsInput),
                                RowsOf("mine.s98", "mine_new.s98", "")}));
    EXPECT_EQ(ReadFileBytes(dir / "sub" / "song_new.s98"), kMine);
    EXPECT_EQ(ReadFileBytes(dir / "mine_new.s98"), Lowered(kMine, 3));
}

// The output is another name of a later input's file.
TEST(Batch, OutputThatIsALinkOfALaterInputIsRefused) {
    TempDir dir;
    WriteFileBytes(dir / "song.s98", kSong);
    WriteFileBytes(dir / "mine.s98", kMine);
    std::filesystem::create_hard_link(dir / "mine.s98", dir / "song_new.s98");
    const BatchRun run = RunBatch(dir, {"song.s98", "mine.s98"});
    EXPECT_EQ(run.results, (std::vector<std::string>{kIsInput, ""}));
    EXPECT_EQ(ReadFileBytes(dir / "mine.s98"), kMine);
    EXPECT_EQ(ReadFileBytes(dir / "mine_new.s98"), Lowered(kMine, 3));
#if !defined(_WIN32)  // symbolic links need privileges on Windows
    TempDir other;
    WriteFileBytes(other / "song.s98", kSong);
    WriteFileBytes(other / "mine.s98", kMine);
    std::filesystem::create_symlink("mine.s98", other / "song_new.s98");
    EXPECT_EQ(RunBatch(other, {"song.s98", "mine.s98"}).results,
              (std::vector<std::string>{kIsInput, ""}));
    EXPECT_EQ(ReadFileBytes(other / "mine.s98"), kMine);
#endif
}

#if defined(_WIN32)
// Windows names are case-insensitive: SONG_NEW.S98 is song.s98's earlier
// output, skipped and replaced.
TEST(Batch, EarlierOutputInAnotherLetterCaseIsSkipped) {
    TempDir dir;
    WriteFileBytes(dir / "song.s98", kSong);
    WriteFileBytes(dir / "song_new.s98", kMine);
    EXPECT_EQ(RunBatch(dir, {"song.s98", "SONG_NEW.S98"}).rows,
              Concat({RowsOf("song.s98", "song_new.s98", ""),
                      {"SONG_NEW.S98", "-> skipped: output of song.s98"}}));
    EXPECT_EQ(ReadFileBytes(dir / "song_new.s98"), Lowered(kSong, 3));
}
#else
// A job whose output is its own input (through a link) leaves the input alone,
// in a batch of its own too.
TEST(Batch, OutputThatIsTheJobsOwnInputIsRefused) {
    TempDir dir;
    WriteFileBytes(dir / "song_new.s98", kMine);
    std::filesystem::create_symlink("song_new.s98", dir / "song.s98");
    RecordingSink log;
    EXPECT_EQ(ToUtf8(RunSingleJob(PathOf(dir / "song.s98"), Options().Fm(3), log)), kIsInput);
    EXPECT_EQ(ReadFileBytes(dir / "song_new.s98"), kMine);
}
#endif

// Two inputs with one output, and one input given twice: the second job would
// replace what the first wrote.
TEST(Batch, OutputAlreadyWrittenByTheBatchIsRefused) {
    TempDir dir;
    WriteFileBytes(dir / "a.s98", kSong);
    WriteFileBytes(dir / "a", kMine);
    const BatchRun twoInputs = RunBatch(dir, {"a.s98", "a"});
    EXPECT_EQ(twoInputs.rows,
              Concat({RowsOf("a.s98", "a_new.s98", ""), RowsOf("a", "a_new.s98", kWritten)}));
    EXPECT_EQ(ReadFileBytes(dir / "a_new.s98"), Lowered(kSong, 3));

    const BatchRun twice = RunBatch(dir, {"a.s98", "./a.s98"});
    EXPECT_EQ(twice.results, (std::vector<std::string>{"", kWritten}));
    EXPECT_EQ(ReadFileBytes(dir / "a_new.s98"), Lowered(kSong, 3));
    EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"a", "a.s98", "a_new.s98"}));
}

// Another process replaces an output the batch wrote and writes the next
// job's output path: the file system hands the freed inode number on, so the
// new file has the identity the batch wrote. It is not the batch's file, and
// the next job replaces it. The batch's own file by another name is still
// refused.
TEST(Batch, FileAnotherProcessPutInPlaceOfAnOutputIsNotTheBatchs) {
    TempDir dir;
    WriteFileBytes(dir / "a.s98", kSong);
    WriteFileBytes(dir / "b.s98", kSong);
    WriteFileBytes(dir / "c.s98", kSong);
    ConvertBatch batch({PathOf(dir / "a.s98"), PathOf(dir / "b.s98"), PathOf(dir / "./a.s98")});
    RecordingSink log;
    ASSERT_EQ(batch.Convert(0, Options().Fm(3), log).message, u"");
    const auto written = IdentifyFile(PathOf(dir / "a_new.s98"));
    // The other process: a_new.s98 replaced by rename, then b_new.s98 made.
    WriteFileBytes(dir / "other.tmp", kMine);
    std::filesystem::rename(dir / "other.tmp", dir / "a_new.s98");
    WriteFileBytes(dir / "b_new.s98", kMine);
    const bool numberReused = IdentifyFile(PathOf(dir / "b_new.s98")) == written;

    EXPECT_EQ(batch.Convert(1, Options().Fm(3), log).message, u"");
    EXPECT_EQ(ReadFileBytes(dir / "b_new.s98"), Lowered(kSong, 3));
    // a_new.s98 is now the other process's file: replaced, not refused.
    EXPECT_EQ(batch.Convert(2, Options().Fm(3), log).message, u"");
    EXPECT_EQ(ReadFileBytes(dir / "a_new.s98"), Lowered(kSong, 3));
    if (!numberReused) {
        std::cout << "note: this file system did not reuse the inode number\n";
    }

    // Its own outputs, untouched since, are still refused by any name.
    ConvertBatch again({PathOf(dir / "c.s98"), PathOf(dir / "./c.s98")});
    EXPECT_EQ(again.Convert(0, Options().Fm(3), log).message, u"");
    EXPECT_EQ(again.Convert(1, Options().Fm(3), log).message, FromUtf8(kWritten));
}

// An input already read may be replaced by a later job's output, as any
// output that is not the batch's own; so may an output of an earlier batch.
TEST(Batch, EarlierInputsAndEarlierBatchesOutputsAreReplaced) {
    TempDir dir;
    WriteFileBytes(dir / "song.s98", kSong);
    WriteFileBytes(dir / "mine.s98", kMine);
    std::filesystem::create_hard_link(dir / "mine.s98", dir / "song_new.s98");
    const BatchRun run = RunBatch(dir, {"mine.s98", "song.s98"});
    EXPECT_EQ(run.results, (std::vector<std::string>{"", ""}));
    EXPECT_EQ(ReadFileBytes(dir / "mine_new.s98"), Lowered(kMine, 3));
    EXPECT_EQ(ReadFileBytes(dir / "song_new.s98"), Lowered(kSong, 3));
    EXPECT_EQ(ReadFileBytes(dir / "mine.s98"), kMine);

    EXPECT_EQ(RunBatch(dir, {"song.s98"}).results, std::vector<std::string>{""});
    EXPECT_EQ(ReadFileBytes(dir / "song_new.s98"), Lowered(kSong, 3));
}

// Only the write step is refused: a failing job before it, or a peak-only
// batch, is not touched by the rules.
TEST(Batch, RulesApplyOnlyToJobsThatWrite) {
    TempDir dir;
    WriteFileBytes(dir / "song.s98", kSong);
    WriteFileBytes(dir / "mine.s98", kMine);
    std::filesystem::create_hard_link(dir / "mine.s98", dir / "song_new.s98");
    ConvertBatch batch({PathOf(dir / "song.s98"), PathOf(dir / "mine.s98")});
    RecordingSink log;
    EXPECT_EQ(batch.Convert(0, Options().PeakOnly(), log).message, u"");
    EXPECT_EQ(batch.Convert(1, Options().FmTarget(200), log).message,
              u"FM normalize volume must be 0-127.");
    EXPECT_EQ(log.Utf8Rows(),
              (std::vector<std::string>{"song.s98", "PEAK: FM=10(2nd=10)", "-> ok", "mine.s98",
                                        "-> FM normalize volume must be 0-127."}));
    EXPECT_EQ(FolderEntries(dir.path()),
              (std::vector<std::string>{"mine.s98", "song.s98", "song_new.s98"}));
}

}  // namespace
}  // namespace morla::test
