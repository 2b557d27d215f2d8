// morla -L end to end: the rows of songs brought to a loudness, the outputs
// measured again with -m to hold the rows to what is heard, album mode
// keeping the songs' differences, and the usage errors.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>

#include "cli_support.h"

namespace morla::test {
namespace {

using Rows = std::vector<std::string>;
constexpr double kNone = std::numeric_limits<double>::quiet_NaN();

// The integrated loudness of a "LOUDNESS: ..." row; NaN when it does not read.
double Lufs(const std::string& row) {
    double lufs = 0;
    return std::sscanf(row.c_str(), "LOUDNESS: %lf LUFS", &lufs) == 1 ? lufs : kNone;
}

// The loudness of each of `files` in `dir` as -m measures it.
std::vector<double> Measured(const TempDir& dir, const std::vector<std::string>& files) {
    std::vector<std::string> arguments = {"-m"};
    arguments.insert(arguments.end(), files.begin(), files.end());
    const CliRun run = Morla(dir, arguments);
    EXPECT_EQ(run.status, 0) << run.err;
    std::vector<double> loudness;
    for (const std::string& row : run.rows) {
        if (row.starts_with("LOUDNESS: ")) {
            loudness.push_back(Lufs(row));
        }
    }
    EXPECT_EQ(loudness.size(), files.size()) << testing::PrintToString(run.rows);
    return loudness;
}

// The "before -> after" and the gain of a "loudness: ..." row.
struct LoudnessRow {
    double before = kNone, after = kNone, gain = kNone;
};
LoudnessRow ReadRow(const std::string& row) {
    LoudnessRow read;
    if (std::sscanf(row.c_str(), "loudness: %lf -> %lf LUFS (gain %lfdB)", &read.before,
                    &read.after, &read.gain) != 3) {
        return {};
    }
    return read;
}

// A carrier at TL 0 (about -12.8 LUFS) to -20: ten FM steps down; the row's
// result is what -m then hears, within a tenth.
TEST(CliLoudness, ASongIsBroughtToTheTargetAndTheRowSaysWhatIsHeard) {
    TempDir dir;
    WriteFileBytes(dir / "tone.s98", SongOfFmTone(0, 3));
    const CliRun run = Morla(dir, {"-L", "-20", "tone.s98"});
    EXPECT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(run.rows.size(), 5u) << testing::PrintToString(run.rows);
    EXPECT_EQ(run.rows,
              (Rows{"tone.s98", "output file:tone_new.s98  volume down: FM=10 SSG=3 RHYTHM=10",
                    "gain: FM=-7.50dB", run.rows[3], "-> ok"}));
    const LoudnessRow row = ReadRow(run.rows[3]);
    ASSERT_FALSE(std::isnan(row.after)) << run.rows[3];
    EXPECT_EQ(row.gain, -7.5);
    EXPECT_NEAR(row.after, -20.0, 0.375 + 0.05);
    EXPECT_NEAR(Measured(dir, {"tone_new.s98"}).at(0), row.after, 0.1);

    // --loudness=, and a dry run: the same rows, nothing written.
    std::filesystem::remove(dir / "tone_new.s98");
    const CliRun dry = Morla(dir, {"--loudness=-20", "-n", "tone.s98"});
    EXPECT_EQ(dry.status, 0) << dry.err;
    ASSERT_EQ(dry.rows.size(), 5u) << testing::PrintToString(dry.rows);
    EXPECT_EQ(dry.rows[3], run.rows[3]);
    EXPECT_EQ(dry.rows[4], "-> ok (dry run: nothing written)");
    EXPECT_EQ(FolderEntries(dir.path()), Rows{"tone.s98"});
}

// --max-peak lowers a gain that would pass it; the row says so.
TEST(CliLoudness, TheCeilingLowersTheGainAndTheRowSaysSo) {
    TempDir dir;
    WriteFileBytes(dir / "quiet.s98", SongOfFmTone(40, 3));
    const CliRun run = Morla(dir, {"-L", "-14", "--max-peak", "-20", "quiet.s98"});
    EXPECT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(run.rows.size(), 5u) << testing::PrintToString(run.rows);
    EXPECT_TRUE(run.rows[3].ends_with(" dBTP (gain lowered to fit the ceiling)")) << run.rows[3];
    // without it the default ceiling (-1 dBTP) leaves room for the target
    const CliRun free = Morla(dir, {"-L", "-14", "quiet.s98"});
    ASSERT_EQ(free.rows.size(), 5u) << testing::PrintToString(free.rows);
    const LoudnessRow lowered = ReadRow(run.rows[3]), reached = ReadRow(free.rows[3]);
    EXPECT_LT(lowered.gain, reached.gain - 5);
    EXPECT_NEAR(reached.after, -14.0, 0.375 + 0.05);
}

// A silent song cannot be measured: it is written as it is, and the run ends
// well.
TEST(CliLoudness, ASilentSongIsSaidToBeSilent) {
    TempDir dir;
    WriteFileBytes(dir / "silent.s98", SongOfSilence(2));
    const CliRun run = Morla(dir, {"-L", "-20", "silent.s98"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.rows, (Rows{"silent.s98", "output file:silent_new.s98  volume down:",
                              "loudness: silent: cannot be measured, nothing moved", "-> ok"}));
}

// Two songs 6 dB apart (8 FM steps) in one album get one gain from the
// album's loudness, so they stay 6 dB apart; the album's rows open it.
TEST(CliLoudness, AnAlbumTakesOneGainAndItsSongsKeepTheirDifferences) {
    TempDir dir;
    WriteFileBytes(dir / "a.s98", SongOfFmTone(8, 3));
    WriteFileBytes(dir / "b.s98", SongOfFmTone(16, 3));
    const CliRun run = Morla(dir, {"-L", "-20", "-a", "a.s98", "b.s98"});
    EXPECT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(run.rows.size(), 14u) << testing::PrintToString(run.rows);
    EXPECT_EQ(run.rows[0], "ALBUM: files given directly");
    EXPECT_EQ(run.rows[1], "ALBUM PEAK: FM=8(2nd=8)");
    EXPECT_TRUE(run.rows[2].starts_with("ALBUM LOUDNESS: ")) << run.rows[2];
    EXPECT_TRUE(run.rows[3].starts_with("ALBUM GAIN: ")) << run.rows[3];
    EXPECT_EQ(run.rows[4], "a.s98");
    EXPECT_EQ(run.rows[9], "b.s98");
    // one gain for both, the same row of it
    EXPECT_EQ(run.rows[6], run.rows[11]);
    const LoudnessRow a = ReadRow(run.rows[7]), b = ReadRow(run.rows[12]);
    ASSERT_FALSE(std::isnan(a.after)) << run.rows[7];
    ASSERT_FALSE(std::isnan(b.after)) << run.rows[12];
    EXPECT_EQ(a.gain, b.gain);
    EXPECT_NEAR(a.before - b.before, 6.0, 0.2);
    const std::vector<double> heard = Measured(dir, {"a_new.s98", "b_new.s98"});
    ASSERT_EQ(heard.size(), 2u);
    EXPECT_NEAR(heard[0] - heard[1], 6.0, 0.75);
    // the album, not either song, is brought to the target
    double album = 0, gain = 0;
    ASSERT_EQ(std::sscanf(run.rows[2].c_str(), "ALBUM LOUDNESS: %lf", &album), 1);
    ASSERT_EQ(std::sscanf(run.rows[3].c_str(), "ALBUM GAIN: %lfdB", &gain), 1);
    EXPECT_EQ(gain, a.gain);
    EXPECT_NEAR(album + gain, -20.0, 0.375 + 0.05);
    EXPECT_GT(heard[0], -20.0);
    EXPECT_LT(heard[1], -20.0);
}

// The drums are heard from the user's ROM image in the album's first pass as
// in the song's own measurement: the album's loudness and the song's are
// those -m gives with the image, not with the stand-in.
TEST(CliLoudness, AnAlbumIsHeardWithTheUsersRhythmRom) {
    TempDir dir;
    WriteFileBytes(dir / "drums.s98", SongOfDrums(2));
    std::mt19937 random(20260112u);
    Bytes rom(8192);
    for (std::uint8_t& byte : rom) {
        byte = static_cast<std::uint8_t>(random());
    }
    WriteFileBytes(dir / "rom.bin", rom);
    const std::string ownConfiguration = "export XDG_CONFIG_HOME=\"$PWD/config\"";
    const auto loudnessRow = [](const CliRun& run) {
        for (const std::string& row : run.rows) {
            if (row.starts_with("LOUDNESS: ")) {
                return row;
            }
        }
        return std::string();
    };
    const std::string withRom = loudnessRow(
        Morla(dir, {"-m", "--rhythm-rom", "rom.bin", "drums.s98"}, ".out", ownConfiguration));
    const std::string standIn =
        loudnessRow(Morla(dir, {"-m", "drums.s98"}, ".out", ownConfiguration));
    ASSERT_FALSE(std::isnan(Lufs(withRom))) << withRom;
    ASSERT_NE(Lufs(withRom), Lufs(standIn)) << "the image and the stand-in sound alike";

    const CliRun run = Morla(dir, {"-L", "-20", "-a", "--rhythm-rom", "rom.bin", "drums.s98"},
                             ".out", ownConfiguration);
    EXPECT_EQ(run.status, 0) << run.err;
    ASSERT_GE(run.rows.size(), 3u) << testing::PrintToString(run.rows);
    EXPECT_EQ(run.rows[2], "ALBUM " + withRom);
    const LoudnessRow song = ReadRow(run.rows[run.rows.size() - 2]);
    EXPECT_NEAR(song.before, Lufs(withRom), 0.05) << run.rows[run.rows.size() - 2];
}

TEST(CliLoudness, MistakesAreUsageErrorsBeforeAnyFile) {
    TempDir dir;
    const std::string alone = "-L works out one gain from the loudness: it goes with none of ";
    const struct {
        std::vector<std::string> arguments;
        std::string message;
    } cases[] = {
        {{"-L", "-80"}, "option -L: '-80' is out of range (-70 to 0)\n"},
        {{"-L", "1"}, "option -L: '1' is out of range (-70 to 0)\n"},
        {{"--loudness", "loud"}, "option --loudness: 'loud' is not a loudness in LUFS\n"},
        {{"-L"}, "option -L needs a value\n"},
        {{"-L", "-20", "--max-peak", "0.5"},
         "option --max-peak: '0.5' is out of range (-30 to 0)\n"},
        {{"--max-peak", "-3"}, "--max-peak is the ceiling of -L: it needs -L\n"},
        {{"-L", "-20", "-f3"}, alone},
        {{"-s1", "-L", "-20"}, alone},
        {{"-L", "-20", "-r1"}, alone},
        {{"-L", "-20", "-F100"}, alone},
        {{"-L", "-20", "-S10"}, alone},
        {{"-L", "-20", "-R30"}, alone},
        {{"-L", "-20", "-g", "-3"}, alone},
        {{"-L", "-20", "-p"}, alone},
        {{"-m", "-L", "-20"}, alone},
        {{"-L", "-20", "-k", "-F100"}, alone},
    };
    WriteFileBytes(dir / "tone.s98", SongOfFmTone(0, 1));
    for (const auto& c : cases) {
        std::vector<std::string> arguments = {"tone.s98"};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        const CliRun run = Morla(dir, arguments);
        EXPECT_EQ(run.status, 2) << testing::PrintToString(c.arguments);
        EXPECT_EQ(run.err.rfind("morla: " + c.message, 0), 0u) << run.err;
        EXPECT_EQ(run.rows, Rows{});
    }
    EXPECT_EQ(FolderEntries(dir.path()), Rows{"tone.s98"});
}

}  // namespace
}  // namespace morla::test
