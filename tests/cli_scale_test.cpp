// morla on a collection: rows that name a folder's files by their paths, -o
// mirroring the tree, the quiet mode's counts, -j, --json read back by a JSON
// parser, and the measuring modes that skip no file.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "cli_support.h"
#include "test_support.h"

namespace morla::test {
namespace {

namespace fs = std::filesystem;
using Rows = std::vector<std::string>;

// A song whose carrier (TL 2), SSG volume (15) and rhythm level (62) are
// at or near their loudest, written `times` times each: a gain of +3 dB
// clamps every one of those writes.
Bytes LoudSong(int times) {
    std::vector<W> writes{{0xB0, 7}};
    for (int i = 0; i < times; ++i) {
        writes.push_back({0x4C, 2});
        writes.push_back({0x08, 15});
        writes.push_back({0x11, 62});
    }
    S98Builder song = Stream({}, writes);
    song.End();
    return song.bytes();
}

// Two files of one name in different folders, a name with a space, a file
// named directly:
//   coll/Covers/track 2.s98, coll/Covers/Disc 1/01.s98, coll/Game/01.s98, loose.s98
void MakeCollection(const TempDir& dir) {
    fs::create_directories(dir / "coll/Covers/Disc 1");
    fs::create_directories(dir / "coll/Game");
    WriteFileBytes(dir / "coll/Covers/track 2.s98", Song());
    WriteFileBytes(dir / "coll/Covers/Disc 1/01.s98", Song());
    WriteFileBytes(dir / "coll/Game/01.s98", LoudSong(1));
    WriteFileBytes(dir / "loose.s98", Song());
}

Rows NameRows(const Rows& rows) {
    Rows names;
    for (const std::string& row : rows) {
        if (row.ends_with(".s98") && !row.starts_with("-> ") && !row.starts_with("output")) {
            names.push_back(row);
        }
    }
    return names;
}

// The files below `folder`, as paths relative to it, sorted.
std::vector<std::string> FilesBelow(const fs::path& folder) {
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            files.push_back(fs::relative(entry.path(), folder).generic_string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

TEST(CliScale, RowsNameEachFileByItsPathBelowTheFolderNamed) {
    TempDir dir;
    MakeCollection(dir);
    const CliRun run = Morla(dir, {"-f2", "coll", "loose.s98"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(NameRows(run.rows),
              (Rows{"Covers/track 2.s98", "Covers/Disc 1/01.s98", "Game/01.s98", "loose.s98"}));
    // Below the folder as named, however it is spelled.
    const CliRun below = Morla(dir, {"-n", "-f2", "coll/Covers/", "./coll/Game"});
    // (with the first run's outputs, skipped, named the same way)
    EXPECT_EQ(NameRows(below.rows), (Rows{"track 2.s98", "track 2_new.s98", "Disc 1/01.s98",
                                          "Disc 1/01_new.s98", "01.s98", "01_new.s98"}));
    // The summary rows still name the output file alone.
    EXPECT_NE(
        std::find(run.rows.begin(), run.rows.end(), "output file:01_new.s98  volume down: FM=2"),
        run.rows.end());
}

// -o: the files of a folder into the same sub-folders below DIR, made as
// needed; files named directly into DIR; the same bytes as beside the input.
TEST(CliScale, OutputFolderMirrorsTheTreeBelowIt) {
    for (const char* jobs : {"-j1", "-j2"}) {
        SCOPED_TRACE(jobs);
        TempDir dir;
        MakeCollection(dir);
        fs::create_directory(dir / "out");
        const CliRun run = Morla(dir, {jobs, "-f2", "-o", "out", "coll", "loose.s98"});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(FilesBelow(dir / "out"),
                  (std::vector<std::string>{"Covers/Disc 1/01_new.s98", "Covers/track 2_new.s98",
                                            "Game/01_new.s98", "loose_new.s98"}));
        EXPECT_EQ(FilesBelow(dir / "coll"),
                  (std::vector<std::string>{"Covers/Disc 1/01.s98", "Covers/track 2.s98",
                                            "Game/01.s98"}));
        // The two 01.s98 are different songs: each output is its own.
        const CliRun beside = Morla(dir, {"-f2", "coll/Game/01.s98", "coll/Covers/Disc 1/01.s98"});
        ASSERT_EQ(beside.status, 0);
        EXPECT_EQ(ReadFileBytes(dir / "out/Game/01_new.s98"),
                  ReadFileBytes(dir / "coll/Game/01_new.s98"));
        EXPECT_EQ(ReadFileBytes(dir / "out/Covers/Disc 1/01_new.s98"),
                  ReadFileBytes(dir / "coll/Covers/Disc 1/01_new.s98"));
        EXPECT_FALSE(HasTemporaryFile(dir / "out/Game"));
    }
}

TEST(CliScale, OutputFolderTreeIsNotMadeByADryRunAndAFileInItsWayFailsOneJob) {
    TempDir dir;
    MakeCollection(dir);
    fs::create_directory(dir / "out");
    const CliRun dry = Morla(dir, {"-n", "-f2", "-o", "out", "coll"});
    EXPECT_EQ(dry.status, 0);
    EXPECT_TRUE(fs::is_empty(dir / "out"));

    // A file where the Game folder would go: that job fails with the
    // system's reason, the others are written.
    WriteFileBytes(dir / "out/Game", {'x'});
    const CliRun run = Morla(dir, {"-f2", "-o", "out", "coll"});
    EXPECT_EQ(run.status, 1);
    const Rows expectedTail = {"Game/01.s98", "output file:01_new.s98  volume down: FM=2",
                               "-> output file open error."};
    EXPECT_EQ(Rows(run.rows.end() - 3, run.rows.end()), expectedTail);
    EXPECT_NE(run.err.find("out/Game"), std::string::npos) << run.err;
    EXPECT_EQ(
        FilesBelow(dir / "out"),
        (std::vector<std::string>{"Covers/Disc 1/01_new.s98", "Covers/track 2_new.s98", "Game"}));
}

// Counts of each part's PEAK OVER rows.
std::map<std::string, int> PeakOverCounts(const Rows& rows) {
    std::map<std::string, int> counts;
    for (const std::string& row : rows) {
        const std::size_t at = row.find("PEAK OVER!");
        if (at == std::string::npos) {
            continue;
        }
        const std::string rest = row.substr(at + 10);
        const std::string part = rest.find("RHYTHM") != std::string::npos ? "RHYTHM"
                                 : rest.find("SSG") != std::string::npos  ? "SSG"
                                                                          : "FM";
        ++counts[part];
    }
    return counts;
}

// -q: no PEAK OVER rows; one row counts them, part by part; every other row
// stays. Both ways a job can rewrite (one walk for amounts known up front,
// two for a gain).
TEST(CliScale, QuietModeCountsTheClampedWritesInsteadOfListingThem) {
    TempDir dir;
    WriteFileBytes(dir / "loud.s98", LoudSong(700));
    WriteFileBytes(dir / "quiet.s98", Song());
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{"-g", "+3"}, {"-f-3", "-s-2", "-r-4"}}) {
        std::vector<std::string> loud = options, quiet = options;
        loud.insert(loud.end(), {"loud.s98", "quiet.s98"});
        quiet.insert(quiet.end(), {"-q", "loud.s98", "quiet.s98"});
        const CliRun full = Morla(dir, loud);
        const CliRun counted = Morla(dir, quiet);
        EXPECT_EQ(full.status, 0);
        EXPECT_EQ(counted.status, 0);
        const std::map<std::string, int> counts = PeakOverCounts(full.rows);
        ASSERT_EQ(counts, (std::map<std::string, int>{{"FM", 700}, {"RHYTHM", 700}, {"SSG", 700}}))
            << options[0];
        Rows kept;
        for (const std::string& row : full.rows) {
            if (row.find("PEAK OVER") == std::string::npos) {
                kept.push_back(row);
            }
        }
        // After loud.s98's summary row, its count; none for quiet.s98.
        kept.insert(kept.begin() + 2, "clamped: FM 700 writes, SSG 700 writes, RHYTHM 700 writes");
        EXPECT_EQ(counted.rows, kept) << options[0];
    }
}

TEST(CliScale, JobsOptionGivesTheRowsOfOneAtATimeAndWinsOverTheEnvironment) {
    TempDir dir;
    MakeCollection(dir);
    const CliRun one = Morla(dir, {"-n", "-f2", "-j", "1", "coll", "loose.s98"});
    const CliRun many = Morla(dir, {"-n", "-f2", "--jobs=8", "coll", "loose.s98"}, ".out",
                              "export MORLA_JOBS=nonsense");
    EXPECT_EQ(one.status, 0);
    EXPECT_EQ(many.status, 0) << many.err;
    EXPECT_EQ(many.rows, one.rows);
    EXPECT_EQ(Morla(dir, {"-n", "-f2", "coll"}, ".out", "export MORLA_JOBS=nonsense").status, 2);
}

using Json = nlohmann::json;

std::vector<Json> JsonLines(const std::string& out) {
    std::vector<Json> objects;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        objects.push_back(Json::parse(line));  // throws, failing the test, on anything else
    }
    return objects;
}

// --json: one object per entry, read back by a JSON parser; its fields say
// what the rows say, its rows are the rows, the exit status is the same.
TEST(CliScale, JsonLinesCarryWhatTheRowsSay) {
    // The same collection twice, once for the rows, once for JSON.
    TempDir rowsDir, jsonDir;
    for (const TempDir* dir : {&rowsDir, &jsonDir}) {
        MakeCollection(*dir);
        WriteFileBytes(*dir / "coll/Game/01_new.s98", Song());   // an earlier output
        WriteFileBytes(*dir / "coll/Game/bad.s98", {'S', '9'});  // fails
    }
    const CliRun rows = Morla(rowsDir, {"-q", "-g", "+3", "coll", "loose.s98"});
    const CliRun lines = Morla(jsonDir, {"-q", "-g", "+3", "--json", "coll", "loose.s98"});
    EXPECT_EQ(rows.status, 1);
    EXPECT_EQ(lines.status, 1);
    EXPECT_EQ(lines.err, rows.err);
    const std::vector<Json> objects = JsonLines(lines.out);
    ASSERT_EQ(objects.size(), 6u);

    Rows joined;
    std::map<std::string, std::string> status;
    for (const Json& object : objects) {
        EXPECT_EQ(object.at("schema"), 1);
        for (const Json& row : object.at("rows")) {
            joined.push_back(row.get<std::string>());
        }
        status[object.at("name").get<std::string>()] = object.at("status").get<std::string>();
    }
    EXPECT_EQ(joined, rows.rows) << "the rows of every entry, in order";
    EXPECT_EQ(status, (std::map<std::string, std::string>{{"Covers/track 2.s98", "ok"},
                                                          {"Covers/Disc 1/01.s98", "ok"},
                                                          {"Game/01.s98", "ok"},
                                                          {"Game/01_new.s98", "skipped"},
                                                          {"Game/bad.s98", "failed"},
                                                          {"loose.s98", "ok"}}));

    const Json& game = objects[2];
    EXPECT_EQ(game.at("input"), "coll/Game/01.s98");
    EXPECT_EQ(game.at("output"), "coll/Game/01_new.s98");
    EXPECT_TRUE(game.at("message").is_null());
    EXPECT_EQ(game.at("peaks").at("fm"), 2);
    EXPECT_EQ(game.at("peaks").at("ssg"), 15);
    EXPECT_EQ(game.at("peaks").at("rhythm"), 62);
    EXPECT_TRUE(game.at("peaks").at("adpcm").is_null());
    EXPECT_EQ(game.at("amounts").at("fm"), -4);  // +3 dB is 4 steps of 0.75 dB
    EXPECT_EQ(game.at("gain_db"), 3.0);
    EXPECT_EQ(game.at("clamped").at("fm"), 1);
    EXPECT_EQ(game.at("clamped").at("ssg"), 1);
    EXPECT_EQ(game.at("clamped").at("rhythm"), 1);
    EXPECT_TRUE(game.at("loudness").is_null());

    EXPECT_EQ(objects[3].at("message"), "skipped: output of 01.s98");
    EXPECT_TRUE(objects[3].at("output").is_null());
    EXPECT_EQ(objects[4].at("message"), "data offset error. 00000000");
    EXPECT_TRUE(objects[4].at("peaks").is_null());
}

// With -m: the loudness as the LOUDNESS row has it; a silent song has none.
// A dry run's status says so.
TEST(CliScale, JsonLinesCarryTheLoudnessAndTheDryRun) {
    TempDir dir;
    WriteFileBytes(dir / "tone.s98", SongOfFmTone(0, 2));
    WriteFileBytes(dir / "silent.s98", SongOfSilence(1));
    const CliRun measured = Morla(dir, {"-m", "--json", "tone.s98", "silent.s98"});
    EXPECT_EQ(measured.status, 0);
    const std::vector<Json> objects = JsonLines(measured.out);
    ASSERT_EQ(objects.size(), 2u);
    const Json& tone = objects[0].at("loudness");
    const std::string row = objects[0].at("rows")[1].get<std::string>();
    EXPECT_NEAR(tone.at("integrated_lufs").get<double>(), std::stod(row.substr(10)), 0.051) << row;
    EXPECT_EQ(tone.at("seconds"), 2.0);
    EXPECT_FALSE(tone.at("silent").get<bool>());
    EXPECT_TRUE(objects[1].at("loudness").at("integrated_lufs").is_null());
    EXPECT_TRUE(objects[1].at("loudness").at("silent").get<bool>());

    const CliRun dry = Morla(dir, {"-n", "-f2", "--json", "tone.s98"});
    const std::vector<Json> planned = JsonLines(dry.out);
    ASSERT_EQ(planned.size(), 1u);
    EXPECT_EQ(planned[0].at("status"), "dry run");
    EXPECT_EQ(planned[0].at("output"), "tone_new.s98");
    EXPECT_FALSE(fs::exists(dir / "tone_new.s98"));
}

// -p and -m write nothing, so X_new.s98 beside X.s98 is measured like any
// file; a run that writes still skips it.
TEST(CliScale, MeasuringModesSkipNoFile) {
    TempDir dir;
    fs::create_directory(dir / "album");
    WriteFileBytes(dir / "album/a.s98", Song());
    WriteFileBytes(dir / "album/a_new.s98", LoudSong(1));
    const CliRun peaks = Morla(dir, {"-p", "album"});
    EXPECT_EQ(peaks.status, 0);
    EXPECT_EQ(peaks.rows, (Rows{"a.s98", "PEAK: FM=20(2nd=20) SSG=12 RHYTHM=40", "-> ok",
                                "a_new.s98", "PEAK: FM=2(2nd=2) SSG=15 RHYTHM=62", "-> ok"}));
    const CliRun measured = Morla(dir, {"-m", "album"});
    EXPECT_EQ(NameRows(measured.rows), (Rows{"a.s98", "a_new.s98"}));
    const CliRun written = Morla(dir, {"-f1", "album"});
    EXPECT_EQ(NameRows(written.rows), (Rows{"a.s98", "a_new.s98"}));
    EXPECT_EQ(written.rows.back(), "-> skipped: output of a.s98");
}

}  // namespace
}  // namespace morla::test
