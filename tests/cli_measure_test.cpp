// morla -m end to end: the loudness rows of rendered songs, the album's row,
// the refusals, and which rhythm sounds are heard (--rhythm-rom, the image in
// the configuration folder, the stand-in).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>

#include "cli_support.h"

namespace morla::test {
namespace {

using Rows = std::vector<std::string>;

// The integrated loudness of a "LOUDNESS: ..." row (or an "ALBUM LOUDNESS:
// ..." row), once the row's every figure reads; NaN otherwise.
double Lufs(std::string row) {
    if (row.rfind("ALBUM ", 0) == 0) {
        row.erase(0, 6);
    }
    double lufs = 0, range = 0, truePeak = 0, samplePeak = 0;
    char end = 0;
    const int read = std::sscanf(
        row.c_str(), "LOUDNESS: %lf LUFS  RANGE=%lf LU  TRUE PEAK=%lf dBTP  SAMPLE PEAK=%lf dBF%c",
        &lufs, &range, &truePeak, &samplePeak, &end);
    return read == 5 && end == 'S' ? lufs : std::numeric_limits<double>::quiet_NaN();
}

// An image of the rhythm ROM of `size` bytes of noise.
Bytes RomOfNoise(std::size_t size) {
    std::mt19937 random(20260112u);
    Bytes rom(size);
    for (std::uint8_t& byte : rom) {
        byte = static_cast<std::uint8_t>(random());
    }
    return rom;
}

// The configuration folder is the test's own, empty unless a case fills it,
// so that no image of the user's is found there.
const std::string kOwnConfiguration = "export XDG_CONFIG_HOME=\"$PWD/config\"";

TEST(CliMeasure, EachSongGetsItsLoudnessAndLengthAndNothingIsWritten) {
    TempDir dir;
    WriteFileBytes(dir / "loud.s98", SongOfFmTone(0));
    WriteFileBytes(dir / "quiet.s98", SongOfFmTone(20));
    WriteFileBytes(dir / "silent.s98", SongOfSilence(3));
    const CliRun run = Morla(dir, {"-m", "loud.s98", "quiet.s98", "silent.s98"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    ASSERT_EQ(run.rows.size(), 12u) << testing::PrintToString(run.rows);
    EXPECT_EQ(run.rows, (Rows{"loud.s98", run.rows[1], "heard: 0:05.0", "-> ok", "quiet.s98",
                              run.rows[5], "heard: 0:05.0", "-> ok", "silent.s98",
                              "LOUDNESS: silent", "heard: 0:03.0", "-> ok"}));
    // One carrier at TL 0 as a real OPNA plays it, about -12.8 LUFS; 20 steps
    // of 0.75 dB below it, 15 dB quieter.
    const double loud = Lufs(run.rows[1]), quiet = Lufs(run.rows[5]);
    ASSERT_TRUE(std::isfinite(loud)) << run.rows[1];
    ASSERT_TRUE(std::isfinite(quiet)) << run.rows[5];
    EXPECT_NEAR(loud, -12.8, 1.0);
    EXPECT_NEAR(loud - quiet, 15.0, 0.2);
    EXPECT_EQ(FolderEntries(dir.path()),
              (std::vector<std::string>{"loud.s98", "quiet.s98", "silent.s98"}));

    // A song measured twice gives the same figures.
    EXPECT_EQ(Morla(dir, {"--measure", "loud.s98"}).rows[1], run.rows[1]);
}

// With -a the album's loudness, over its songs as one programme, follows its
// last file: between the loudness of its quietest and its loudest song (both
// within the meter's relative gate, 10 LU below the mean).
TEST(CliMeasure, AlbumLoudnessFollowsTheLastFileAndLiesBetweenItsSongs) {
    TempDir dir;
    WriteFileBytes(dir / "a.s98", SongOfFmTone(4));
    WriteFileBytes(dir / "b.s98", SongOfFmTone(12));
    const CliRun run = Morla(dir, {"-m", "-a", "a.s98", "b.s98"});
    EXPECT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(run.rows.size(), 10u) << testing::PrintToString(run.rows);
    EXPECT_EQ(run.rows[0], "ALBUM: files given directly");
    EXPECT_EQ(run.rows[1], "a.s98");
    EXPECT_EQ(run.rows[5], "b.s98");
    EXPECT_EQ(run.rows[8], "-> ok");
    int albumRows = 0;
    for (const std::string& row : run.rows) {
        albumRows += row.rfind("ALBUM LOUDNESS:", 0) == 0;
    }
    EXPECT_EQ(albumRows, 1);
    const double a = Lufs(run.rows[2]), b = Lufs(run.rows[6]), album = Lufs(run.rows[9]);
    ASSERT_TRUE(std::isfinite(album)) << run.rows[9];
    EXPECT_NEAR(a - b, 6.0, 0.2);
    EXPECT_LT(album, a);
    EXPECT_GT(album, b);
    // Two songs of equal length: the mean of their energies,
    // 10 log10((1 + 10^-0.6) / 2), 2.04 dB below the louder.
    EXPECT_NEAR(album, a - 2.04, 0.2);
    EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"a.s98", "b.s98"}));
}

// -m goes with no option that changes a level; --rhythm-rom takes an image
// of the chip's ROM only. Each is refused before any file is touched.
TEST(CliMeasure, LevelOptionsAndAFileThatIsNoRomAreUsageErrors) {
    TempDir dir;
    WriteFileBytes(dir / "song.s98", SongOfDrums(1));
    for (const char* level : {"-f2", "-F120", "-g-6", "-s1"}) {
        SCOPED_TRACE(level);
        const CliRun run = Morla(dir, {"-m", level, "song.s98"});
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.rows, Rows{});
        EXPECT_EQ(run.err,
                  "morla: -m only measures: it goes with none of -f, -s, -r, -F, -S, -R, -g and "
                  "-k\nTry 'morla --help' for more information.\n");
    }
    WriteFileBytes(dir / "short.bin", RomOfNoise(8191));
    WriteFileBytes(dir / "long.bin", RomOfNoise(8193));
    for (const char* file : {"short.bin", "long.bin"}) {
        const CliRun run = Morla(dir, {"-m", "--rhythm-rom", file, "song.s98"});
        EXPECT_EQ(run.status, 2) << file;
        EXPECT_EQ(run.rows, Rows{});
        EXPECT_NE(run.err.find(std::string("--rhythm-rom: '") + file + "' is "), std::string::npos)
            << run.err;
        EXPECT_NE(run.err.find("not 8192: no image of the rhythm ROM"), std::string::npos)
            << run.err;
    }
    EXPECT_EQ(Morla(dir, {"-m", "--rhythm-rom", "missing.bin", "song.s98"}).status, 2);
    EXPECT_EQ(FolderEntries(dir.path()),
              (std::vector<std::string>{"long.bin", "short.bin", "song.s98"}));
}

// A song that keys the rhythm is heard with the image the user gives, with
// ym2608_adpcm_rom.bin in morla's configuration folder when none is given,
// else with the stand-in; the row under the loudness says which.
TEST(CliMeasure, RhythmIsHeardFromTheUsersRomImageElseTheStandIn) {
    TempDir dir;
    std::filesystem::create_directories(dir / "config/morla");
    WriteFileBytes(dir / "drums.s98", SongOfDrums());
    WriteFileBytes(dir / "tone.s98", SongOfFmTone(0));
    WriteFileBytes(dir / "rom.bin", RomOfNoise(8192));
    const auto measure = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "-m");
        arguments.push_back("drums.s98");
        arguments.push_back("tone.s98");
        return Morla(dir, arguments, ".out", kOwnConfiguration);
    };

    const CliRun standIn = measure({});
    EXPECT_EQ(standIn.status, 0) << standIn.err;
    ASSERT_EQ(standIn.rows.size(), 8u);
    EXPECT_EQ(standIn.rows[2], "heard: 0:05.0, rhythm: stand-in");
    EXPECT_EQ(standIn.rows[6], "heard: 0:05.0");  // no rhythm keyed: none named

    const CliRun given = measure({"--rhythm-rom", "rom.bin"});
    EXPECT_EQ(given.status, 0) << given.err;
    ASSERT_EQ(given.rows.size(), 8u);
    EXPECT_EQ(given.rows[2], "heard: 0:05.0, rhythm: ROM image");
    EXPECT_EQ(given.rows[6], "heard: 0:05.0");
    EXPECT_NE(Lufs(given.rows[1]), Lufs(standIn.rows[1])) << "the image's sounds were heard";
    EXPECT_EQ(given.rows[5], standIn.rows[5]);  // the tone as before

    // In the configuration folder: taken without --rhythm-rom.
    WriteFileBytes(dir / "config/morla/ym2608_adpcm_rom.bin", RomOfNoise(8192));
    const CliRun found = measure({});
    EXPECT_EQ(found.status, 0) << found.err;
    EXPECT_EQ(found.err, "");
    EXPECT_EQ(found.rows, given.rows);

    // A file of that name that is no image is passed over, with a warning.
    WriteFileBytes(dir / "config/morla/ym2608_adpcm_rom.bin", RomOfNoise(4096));
    const CliRun passedOver = measure({});
    EXPECT_EQ(passedOver.status, 0);
    EXPECT_EQ(passedOver.rows, standIn.rows);
    EXPECT_NE(passedOver.err.find("ym2608_adpcm_rom.bin is 4096 bytes, not 8192: not taken as the "
                                  "rhythm ROM"),
              std::string::npos)
        << passedOver.err;
    // ... and --rhythm-rom still wins over it.
    EXPECT_EQ(measure({"--rhythm-rom", "rom.bin"}).rows, given.rows);
}

}  // namespace
}  // namespace morla::test
