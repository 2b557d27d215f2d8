// Collections: folders that stand for their S98 files, in natural order,
// one album per folder, earlier outputs skipped, and dry runs.
#include "job/collection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "job/convert_batch.h"
#include "test_support.h"

namespace morla::test {
namespace {

const Bytes kQuiet = Stream({}, {{0xB0, 7}, {0x40, 30}}).bytes();
const Bytes kLoud = Stream({}, {{0xB0, 7}, {0x40, 10}}).bytes();

TEST(Collection, NaturalOrderComparesNumbersByValueAndLettersInEitherCase) {
    // Each name comes before the next.
    const std::vector<std::u16string> ordered = {
        u"",        u"1",       u"01",       u"2",        u"10",      u"a",
        u"A1",      u"a2",      u"Disc 1",   u"disc 2",   u"disc 10", u"track10",
        u"track 2", u"track 2", u"track 2b", u"track 10", u"Zebra",   u"zebra",
    };
    for (std::size_t i = 0; i + 1 < ordered.size(); ++i) {
        SCOPED_TRACE(ToUtf8(ordered[i]) + " < " + ToUtf8(ordered[i + 1]));
        EXPECT_FALSE(NaturalLess(ordered[i + 1], ordered[i]));
        if (ordered[i] != ordered[i + 1]) {
            EXPECT_TRUE(NaturalLess(ordered[i], ordered[i + 1]));
        }
    }
    // ("track10" first: its word run "track" is a prefix of "track ".)
    std::vector<std::u16string> shuffled(ordered.rbegin(), ordered.rend());
    std::sort(shuffled.begin(), shuffled.end(), NaturalLess);
    EXPECT_EQ(shuffled, ordered);
}

TEST(Collection, FolderGivesItsOwnFilesThenEachSubFolder) {
    TempDir dir;
    for (const char* folder : {"box/Disc 10", "box/disc 2", "box/Disc 1", "box/.hidden",
                               "box/empty", "box/empty/deeper"}) {
        std::filesystem::create_directories(dir / folder);
    }
    for (const char* file :
         {"box/track 10.s98", "box/track 2.S98", "box/._track 2.s98", "box/.x.s98", "box/notes.txt",
          "box/Disc 1/a.s98", "box/disc 2/b.s98", "box/Disc 10/c.s98", "box/.hidden/d.s98"}) {
        WriteFileBytes(dir / file, kQuiet);
    }
    std::vector<std::string> expected = {"box: track 2.S98, track 10.s98"};
#if !defined(_WIN32)
    // a link to a file is a file; a link to a folder is not followed
    std::filesystem::create_symlink(dir / "box" / "track 10.s98", dir / "box" / "link.s98");
    std::filesystem::create_directory_symlink(dir / "box" / "Disc 1", dir / "box" / "Disc 0");
    expected = {"box: link.s98, track 2.S98, track 10.s98"};
#endif
    expected.insert(expected.end(), {"Disc 1: a.s98", "disc 2: b.s98", "Disc 10: c.s98"});
    std::vector<std::string> listed;
    for (const CollectedFolder& folder : CollectFolder(PathOf(dir / "box"))) {
        std::string line = ToUtf8(FileNamePart(folder.path)) + ":";
        for (const std::u16string& file : folder.files) {
            line += (line.back() == ':' ? " " : ", ") + ToUtf8(FileNamePart(file));
        }
        listed.push_back(line);
    }
    EXPECT_EQ(listed, expected);
    EXPECT_TRUE(CollectFolder(PathOf(dir / "box" / "empty")).empty());
}

struct BatchRows {
    std::vector<std::string> rows;
    std::vector<std::string> results;
};

BatchRows RunPaths(const std::vector<std::u16string>& paths, const BatchOptions& options,
                   const VolumeSettings& settings) {
    ConvertBatch batch(paths, options);
    RecordingSink log;
    BatchRows run;
    for (std::size_t i = 0; i < batch.size(); ++i) {
        run.results.push_back(ToUtf8(batch.Convert(i, settings, log).message));
    }
    run.rows = log.Utf8Rows();
    return run;
}

// Album mode: the files named directly are one album, wherever they stand;
// each folder with files another, a sub-folder its own. Each opens with its
// rows; a folder with no file is its own failing entry and no album.
TEST(Collection, EachFolderIsAnAlbumOfItsOwn) {
    TempDir dir;
    std::filesystem::create_directories(dir / "game" / "disc 2");
    std::filesystem::create_directories(dir / "nothing");
    WriteFileBytes(dir / "loose1.s98", kQuiet);
    WriteFileBytes(dir / "loose2.s98", kLoud);
    WriteFileBytes(dir / "game" / "a.s98", kQuiet);
    WriteFileBytes(dir / "game" / "b.s98", {'S', '9', '8', '2'});  // fails, counts for nothing
    WriteFileBytes(dir / "game" / "disc 2" / "c.s98", kLoud);
    const std::u16string game = PathOf(dir / "game");
    // Without album mode (and writing nothing): input order, folders expanded in place.
    const BatchRows plain = RunPaths({PathOf(dir / "loose1.s98"), game, PathOf(dir / "loose2.s98")},
                                     {}, Options().PeakOnly());
    std::vector<std::string> names;
    for (const std::string& row : plain.rows) {
        if (row.ends_with(".s98") && !row.starts_with("-> ")) {
            names.push_back(row);
        }
    }
    // Named by their paths below the folder given, with the system's separator.
    const std::string c = ToUtf8(PathInFolder(u"disc 2", u"c.s98"));
    EXPECT_EQ(names, (std::vector<std::string>{"loose1.s98", "a.s98", "b.s98", c, "loose2.s98"}));
    const BatchRows run = RunPaths(
        {PathOf(dir / "loose1.s98"), game, PathOf(dir / "nothing"), PathOf(dir / "loose2.s98")},
        {u"", true}, Options().FmTarget(127));
    const std::string gamePath = ToUtf8(game);
    EXPECT_EQ(run.rows, (std::vector<std::string>{"ALBUM: files given directly",
                                                  "ALBUM PEAK: FM=10(2nd=10)",
                                                  "loose1.s98",
                                                  "output file:loose1_new.s98  volume down: FM=-10",
                                                  "-> ok",
                                                  "loose2.s98",
                                                  "output file:loose2_new.s98  volume down: FM=-10",
                                                  "-> ok",
                                                  "ALBUM: " + gamePath,
                                                  "ALBUM PEAK: FM=30(2nd=30)",
                                                  "a.s98",
                                                  "output file:a_new.s98  volume down: FM=-30",
                                                  "-> ok",
                                                  "b.s98",
                                                  "-> S98 version error.",
                                                  "ALBUM: " + ToUtf8(PathInFolder(game, u"disc 2")),
                                                  "ALBUM PEAK: FM=10(2nd=10)",
                                                  c,
                                                  "output file:c_new.s98  volume down: FM=-10",
                                                  "-> ok",
                                                  ToUtf8(PathOf(dir / "nothing")),
                                                  "-> no .s98 file in this folder."}));
}

// A dry run shows the rows of a real run, but for its result rows, and
// changes nothing on disk; its rules act as if the outputs had been written.
TEST(Collection, DryRunChangesNothing) {
    TempDir dir;
    WriteFileBytes(dir / "a.s98", kQuiet);
    WriteFileBytes(dir / "a", kLoud);
    WriteFileBytes(dir / "b.s98", kLoud);
    WriteFileBytes(dir / "b_new.s98", kQuiet);  // an earlier output of b.s98
    const std::vector<std::u16string> paths = {PathOf(dir / "a.s98"), PathOf(dir / "a"),
                                               PathOf(dir / "b.s98"), PathOf(dir / "b_new.s98")};
    const BatchRows dry = RunPaths(paths, {u"", false, true}, Options().FmTarget(120).Detail());
    EXPECT_EQ(FolderEntries(dir.path()),
              (std::vector<std::string>{"a", "a.s98", "b.s98", "b_new.s98"}));
    EXPECT_EQ(ReadFileBytes(dir / "b_new.s98"), kQuiet);
    EXPECT_EQ(dry.results, (std::vector<std::string>{"", "output file already written.", "", ""}));

    const BatchRows real = RunPaths(paths, {}, Options().FmTarget(120).Detail());
    std::vector<std::string> expected = real.rows;
    std::replace(expected.begin(), expected.end(), std::string("-> ok"),
                 std::string("-> ok (dry run: nothing written)"));
    EXPECT_EQ(dry.rows, expected);
    EXPECT_EQ(real.results, dry.results);
}

}  // namespace
}  // namespace morla::test
