// Album mode and an output folder: one gain for all files of a batch, from
// the loudest of them; outputs written into one folder.
#include <gtest/gtest.h>

#include <filesystem>

#include "job/convert_batch.h"
#include "platform/file_io.h"
#include "test_support.h"

namespace morla::test {
namespace {

// Tracks whose loudest levels lie in different classes. Carriers under
// algorithm 7 on channel 1 (slots 0x40, 0x44, 0x48, 0x4C).
const Bytes kQuietFm = Stream({}, {{0xB0, 7}, {0x40, 10}, {0x08, 12}}).bytes();
const Bytes kLoudFm = Stream({}, {{0xB0, 7}, {0x40, 0}, {0x44, 20}, {0x11, 40}}).bytes();
const Bytes kBroken = S98Builder({}, '2').bytes();  // version error
const Bytes kSsgOnly = Stream({}, {{0x09, 9}}).bytes();

struct AlbumRun {
    std::string albumRow;
    std::vector<std::string> rows;  // the jobs' rows
};

// Writes the tracks into `dir` and runs them as one album of files named
// directly, as the command line's --album does.
AlbumRun RunAlbum(const TempDir& dir, const std::vector<std::pair<std::string, Bytes>>& tracks,
                  VolumeSettings settings, const std::u16string& outputFolder = {}) {
    std::vector<std::u16string> paths;
    for (const auto& [name, bytes] : tracks) {
        WriteFileBytes(dir / name, bytes);
        paths.push_back(PathOf(dir / name));
    }
    ConvertBatch batch(paths, {outputFolder, true});
    RecordingSink log;
    for (std::size_t i = 0; i < batch.size(); ++i) {
        batch.Convert(i, settings, log);
    }
    std::vector<std::string> rows = log.Utf8Rows();
    EXPECT_EQ(rows.at(0), "ALBUM: files given directly");
    AlbumRun run;
    run.albumRow = rows.at(1);
    run.rows.assign(rows.begin() + 2, rows.end());
    return run;
}

std::vector<std::string> SummaryRows(const std::vector<std::string>& rows) {
    std::vector<std::string> summaries;
    for (const std::string& row : rows) {
        if (row.rfind("output file:", 0) == 0) {
            summaries.push_back(row.substr(row.find("  volume down:")));
        }
    }
    return summaries;
}

// The loudest of each class over the files measured whole: FM and its
// second peak from different files, SSG and rhythm from others; the broken
// file in the middle counts for nothing and still reports its own failure.
TEST(Album, PeaksAreTheLoudestOfEachClassAcrossTheFilesThatCouldBeMeasured) {
    TempDir dir;
    const AlbumRun run = RunAlbum(dir,
                                  {{"quiet.s98", kQuietFm},
                                   {"broken.s98", kBroken},
                                   {"loud.s98", kLoudFm},
                                   {"ssg.s98", kSsgOnly}},
                                  Options().FmTarget(127).SsgTarget(15).RhythmTarget(63).Detail());
    EXPECT_EQ(run.albumRow, "ALBUM PEAK: FM=0(2nd=10) SSG=12 RHYTHM=40");

    // One amount for every file: 127 - 127 - 0, 12 - 15, 40 - 63.
    EXPECT_EQ(SummaryRows(run.rows),
              std::vector<std::string>(3, "  volume down: FM=0 SSG=-3 RHYTHM=-23"));
    // Each file's PEAK row shows its own levels.
    EXPECT_EQ(run.rows[1], "PEAK: FM=10(2nd=10) SSG=12");
    EXPECT_NE(std::find(run.rows.begin(), run.rows.end(), "-> S98 version error."), run.rows.end());
    EXPECT_EQ(ReadFileBytes(dir / "ssg_new.s98").back(), 12);  // 9 raised by 3
}

TEST(Album, SecondPeakOptionTakesTheAlbumsLowestSecondPeak) {
    TempDir dir;
    const AlbumRun run = RunAlbum(dir, {{"quiet.s98", kQuietFm}, {"loud.s98", kLoudFm}},
                                  Options().FmTarget(127).SecondPeak());
    EXPECT_EQ(SummaryRows(run.rows), std::vector<std::string>(2, "  volume down: FM=-10"));
    EXPECT_EQ(ReadFileBytes(dir / "quiet_new.s98")[kQuietFm.size() - 4], 0);  // TL 10 -> 0
}

// A level that no file has stays absent from the album's row, and its
// amount is worked out from the start value as for a single file.
TEST(Album, LevelsNoFileHasStayAbsent) {
    TempDir dir;
    const AlbumRun run = RunAlbum(dir, {{"a.s98", kSsgOnly}, {"b.s98", kSsgOnly}},
                                  Options().FmTarget(100).RhythmTarget(10));
    EXPECT_EQ(run.albumRow, "ALBUM PEAK: SSG=9");
    EXPECT_EQ(SummaryRows(run.rows),
              std::vector<std::string>(2, "  volume down: FM=-101 RHYTHM=-11"));

    TempDir empty;
    EXPECT_EQ(RunAlbum(empty, {{"broken.s98", kBroken}}, Options().Fm(1)).albumRow, "ALBUM PEAK:");
}

// Measuring writes nothing and reads no input for good: the batch rules hold
// for the jobs that follow, and peak-only mode writes nothing at all. An
// earlier output in the album is skipped, not measured.
TEST(Album, MeasuringWritesNothingAndKeepsTheBatchRules) {
#if !defined(_WIN32)
    TempDir dir;
    std::filesystem::create_directory(dir / "sub");
    WriteFileBytes(dir / "sub" / "song_new.s98", kLoudFm);
    std::filesystem::create_symlink(dir / "sub" / "song_new.s98", dir / "link.s98");
    const AlbumRun run =
        RunAlbum(dir, {{"sub/song.s98", kQuietFm}, {"link.s98", kLoudFm}}, Options().FmTarget(120));
    EXPECT_EQ(run.rows[2], "-> output file is also an input.");  // the link's target
    EXPECT_EQ(ReadFileBytes(dir / "sub" / "song_new.s98"), kLoudFm);
#endif

    TempDir rerun;
    const AlbumRun again = RunAlbum(rerun, {{"song.s98", kQuietFm}, {"song_new.s98", kLoudFm}},
                                    Options().FmTarget(120));
    EXPECT_EQ(again.albumRow, "ALBUM PEAK: FM=10(2nd=10) SSG=12");
    EXPECT_EQ(again.rows.at(3), "song_new.s98");
    EXPECT_EQ(again.rows.at(4), "-> skipped: output of song.s98");
    EXPECT_EQ(ReadFileBytes(rerun / "song_new.s98").size(), kQuietFm.size());

    TempDir peaks;
    const AlbumRun peakOnly =
        RunAlbum(peaks, {{"a.s98", kQuietFm}, {"b.s98", kLoudFm}}, Options().PeakOnly());
    EXPECT_EQ(peakOnly.rows,
              (std::vector<std::string>{"a.s98", "PEAK: FM=10(2nd=10) SSG=12", "-> ok", "b.s98",
                                        "PEAK: FM=0(2nd=20) RHYTHM=40", "-> ok"}));
    EXPECT_EQ(FolderEntries(peaks.path()), (std::vector<std::string>{"a.s98", "b.s98"}));
}

// Outputs go into the folder and nowhere else; two inputs of one name from
// different folders meet there, and the second is refused.
TEST(OutputFolder, OutputsLandInTheFolderUnderTheirOwnNames) {
    TempDir dir;
    std::filesystem::create_directories(dir / "one");
    std::filesystem::create_directories(dir / "two");
    std::filesystem::create_directories(dir / "out");
    WriteFileBytes(dir / "one" / "song.s98", kQuietFm);
    WriteFileBytes(dir / "two" / "song.s98", kLoudFm);
    WriteFileBytes(dir / "one" / "other", kLoudFm);
    ConvertBatch batch({PathOf(dir / "one" / "song.s98"), PathOf(dir / "one" / "other"),
                        PathOf(dir / "two" / "song.s98")},
                       {PathOf(dir / "out")});
    RecordingSink log;
    std::vector<std::u16string> results;
    for (std::size_t i = 0; i < batch.size(); ++i) {
        results.push_back(batch.Convert(i, Options().Fm(1), log).message);
    }
    EXPECT_EQ(results, (std::vector<std::u16string>{u"", u"", u"output file already written."}));
    EXPECT_EQ(log.Utf8Rows()[1], "output file:song_new.s98  volume down: FM=1");
    EXPECT_EQ(FolderEntries(dir / "out"),
              (std::vector<std::string>{"other_new.s98", "song_new.s98"}));
    EXPECT_EQ(FolderEntries(dir / "one"), (std::vector<std::string>{"other", "song.s98"}));
    EXPECT_EQ(FolderEntries(dir / "two"), std::vector<std::string>{"song.s98"});
    EXPECT_EQ(ReadFileBytes(dir / "out" / "song_new.s98").size(), kQuietFm.size());
}

TEST(OutputFolder, JoinsFolderAndNameOnce) {
#if defined(_WIN32)
    EXPECT_EQ(PathInFolder(u"C:\\out", u"a_new.s98"), u"C:\\out\\a_new.s98");
    EXPECT_EQ(PathInFolder(u"C:", u"a_new.s98"), u"C:a_new.s98");
    EXPECT_EQ(PathInFolder(u"out\\", u"a_new.s98"), u"out\\a_new.s98");
#else
    EXPECT_EQ(PathInFolder(u"/out", u"a_new.s98"), u"/out/a_new.s98");
    // '\' and ':' end a folder's name, not the folder.
    EXPECT_EQ(PathInFolder(u"out\\", u"a_new.s98"), u"out\\/a_new.s98");
    EXPECT_EQ(PathInFolder(u"d:", u"a_new.s98"), u"d:/a_new.s98");
#endif
    EXPECT_EQ(PathInFolder(u"out/", u"a_new.s98"), u"out/a_new.s98");
}

}  // namespace
}  // namespace morla::test
