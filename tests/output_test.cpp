#include <gtest/gtest.h>

#include <algorithm>

#include "base/text.h"
#include "test_support.h"

namespace morla::test {
namespace {

// Names of files on disk: WrittenBesideTheInput.
TEST(Output, NameCutsOnlyTheExtensionOfTheFileName) {
    const std::pair<const char*, const char*> cases[] = {
        {"song", "song_new.s98"},
        {"song.", "song_new.s98"},
        {".s98", ".s98_new.s98"},
        {"..s98", "._new.s98"},
        {"/home/x/music.old/song", "/home/x/music.old/song_new.s98"},
        {"dir/.hidden", "dir/.hidden_new.s98"},
#if defined(_WIN32)
        {"C:\\music.old\\song", "C:\\music.old\\song_new.s98"},
        {"d.x:song", "d.x:song_new.s98"},
        {"mixed/a.b\\c", "mixed/a.b\\c_new.s98"},
        {"C:\\曲\\夜の曲.s98", "C:\\曲\\夜の曲_new.s98"},
#else
        // '\' and ':' are characters of the name here.
        {"C:\\music.old\\song", "C:\\music_new.s98"},
        {"d.x:song", "d_new.s98"},
        {"mixed/a.b\\c", "mixed/a_new.s98"},
        {"x:.s98", "x:_new.s98"},
        {"/曲/夜の曲.s98", "/曲/夜の曲_new.s98"},
#endif
    };
    for (const auto& [input, output] : cases) {
        EXPECT_EQ(ToUtf8(OutputPathFor(FromUtf8(input))), output) << input;
    }
}

const Bytes kCarrier = Stream({}, {{0xB0, 7}, {0x40, 10}}).bytes();

// '\' and ':' separate the file name on every platform: on POSIX a file whose
// name holds one is shown in the summary line by the part after it.
TEST(Output, WrittenBesideTheInput) {
    struct Case {
        const char* input;
        const char* output;
        const char* shown;  // in the summary line
        bool posixOnly = false;
    };
    const Case cases[] = {{"song.s98", "song_new.s98", "song_new.s98"},
                          {"a.b.s98", "a.b_new.s98", "a.b_new.s98"},
                          {"song", "song_new.s98", "song_new.s98"},
                          {"夜の曲.s98", "夜の曲_new.s98", "夜の曲_new.s98"},
                          {"a\\b.s98", "a\\b_new.s98", "a\\b_new.s98", true},
                          {"x:y.s98", "x:y_new.s98", "x:y_new.s98", true},
                          {"x:.s98", "x:_new.s98", "x:_new.s98", true},
                          {"\xff\xfe.s98", "\xff\xfe_new.s98", "\xff\xfe_new.s98", true}};
    for (const Case& c : cases) {
#if defined(_WIN32)
        if (c.posixOnly) {
            continue;
        }
#endif
        SCOPED_TRACE(c.output);
        TempDir dir;
        WriteFileBytes(dir / c.input, kCarrier);
        const JobRun run = RunJob(dir / c.input, Options().Fm(3), dir / c.output);
        EXPECT_EQ(run.error, "");
        EXPECT_EQ(run.rows, std::vector<std::string>{std::string("output file:") + c.shown +
                                                     "  volume down: FM=3"});
        ASSERT_TRUE(run.output);
        EXPECT_EQ(run.output->size(), kCarrier.size());
        EXPECT_NE(*run.output, kCarrier);
        EXPECT_TRUE(run.inputUnchanged);
        std::vector<std::string> entries = {c.input, c.output};
        std::sort(entries.begin(), entries.end());
        EXPECT_EQ(FolderEntries(dir.path()), entries);
    }
}

TEST(Output, AnExistingOutputIsReplacedWhole) {
    TempDir dir;
    WriteFileBytes(dir / "in_new.s98", Bytes(5000, 0xAA));
    WriteFileBytes(dir / "in.s98", kCarrier);
    const JobRun run = RunJob(dir / "in.s98", Options().Detail(), dir / "in_new.s98");
    EXPECT_EQ(run.error, "");
    EXPECT_EQ(run.output, kCarrier);
}

// A folder in the way of the output: the summary line is already listed, and
// the folder holds what it held before.
TEST(Output, OutputThatCannotBeCreatedLeavesNothingBehind) {
    TempDir dir;
    std::filesystem::create_directory(dir / "in_new.s98");
    WriteFileBytes(dir / "in.s98", kCarrier);
    const JobRun run = RunJob(dir / "in.s98", Options().Fm(3).Detail(), dir / "in_new.s98");
    EXPECT_EQ(run.error, "output file open error.");
    ASSERT_EQ(run.rows.size(), 3u);
    EXPECT_EQ(run.rows.back(), "output file:in_new.s98  volume down: FM=3");
    EXPECT_TRUE(run.inputUnchanged);
    EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"in.s98", "in_new.s98"}));
    EXPECT_TRUE(std::filesystem::is_empty(dir / "in_new.s98"));
}

TEST(Output, InputThatCannotBeOpened) {
    TempDir dir;
    std::filesystem::create_directory(dir / "folder.s98");
    for (const char* name : {"folder.s98", "missing.s98"}) {
        const JobRun run = RunJob(dir / name, Options().Fm(3).Detail(), dir / "x");
        EXPECT_EQ(run.error, "input file open error.") << name;
        EXPECT_TRUE(run.rows.empty());
    }
    EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"folder.s98"});
}

// A file of 2 GiB cannot be addressed by the format's signed offsets: it is
// refused before any memory is taken for it. The file is sparse.
TEST(Output, FileOfTwoGibibytesIsRefused) {
    TempDir dir;
    WriteFileBytes(dir / "huge.s98", S98Builder().bytes());
    std::filesystem::resize_file(dir / "huge.s98", std::uintmax_t{1} << 31);
    RecordingSink log;
    EXPECT_EQ(RunSingleJob(FromUtf8((dir / "huge.s98").string()), Options().Fm(3), log),
              u"input file read error.");
    EXPECT_TRUE(log.rows.empty());
    EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"huge.s98"});
}

}  // namespace
}  // namespace morla::test
