// -L: the gain chosen for a loudness target against hand-worked cases, and
// jobs whose outputs are rendered and measured again to hold their rows to
// what is heard.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>

#include "format/s98_image.h"
#include "job/loudness_gain.h"
#include "render/loudness.h"
#include "test_support.h"

namespace morla::test {
namespace {

constexpr std::int64_t kDb = 1'000'000;

LoudnessFigures Figures(double lufs, double truePeak) {
    LoudnessFigures figures;
    figures.integratedLufs = lufs;
    figures.truePeakDbtp = truePeak;
    figures.samplePeakDbfs = truePeak;
    return figures;
}

PeakLevels FmOnly() {
    PeakLevels peaks;
    peaks.fmPeak = peaks.fmSecondPeak = 0;
    return peaks;
}

PeakLevels SsgOnly() {
    PeakLevels peaks;
    peaks.ssgPeak = peaks.chipSsgPeak = 12;
    return peaks;
}

// The gain is target - measured placed on FM's 0.75 dB grid: of the steps
// around it the nearest, the quieter of two as near.
TEST(LoudnessGain, FmSongsTakeTheNearestFmStep) {
    // -12.8 to -20: -7.2 dB lies between -7.50 (0.30 away) and -6.75 (0.45).
    LoudnessGain gain = ChooseLoudnessGain(Figures(-12.8, -12.1), -20 * kDb, -1 * kDb, FmOnly());
    EXPECT_TRUE(gain.measurable);
    EXPECT_EQ(gain.gainMicroDb, -7'500'000);
    EXPECT_FALSE(gain.lowered);
    EXPECT_NEAR(gain.predictedLufs, -20.3, 1e-9);
    EXPECT_NEAR(gain.predictedTruePeakDbtp, -19.6, 1e-9);

    // Raising: -30 to -23.5 is +6.5 dB, between +6.00 (0.5) and +6.75 (0.25).
    gain = ChooseLoudnessGain(Figures(-30.0, -29.0), -23'500'000, -1 * kDb, FmOnly());
    EXPECT_EQ(gain.gainMicroDb, 6'750'000);

    // Exactly on a step, and exactly between two: the quieter.
    EXPECT_EQ(ChooseLoudnessGain(Figures(-17.0, -20.0), -20 * kDb, -1 * kDb, FmOnly()).gainMicroDb,
              -3 * kDb);
    EXPECT_EQ(
        ChooseLoudnessGain(Figures(-20.0, -20.0), -19'625'000, -1 * kDb, FmOnly()).gainMicroDb, 0);
}

// Without FM or rhythm the SSG's 3 dB steps are the grid; with no part a gain
// moves, the gain asked for is kept and nothing is predicted to change.
TEST(LoudnessGain, OtherPartsTakeTheirOwnSteps) {
    const LoudnessGain ssg =
        ChooseLoudnessGain(Figures(-16.0, -10.0), -20 * kDb, -1 * kDb, SsgOnly());
    EXPECT_EQ(ssg.gainMicroDb, -3 * kDb);  // -4 dB: -3 is 1 away, -6 is 2
    EXPECT_NEAR(ssg.predictedLufs, -19.0, 1e-9);

    const LoudnessGain none =
        ChooseLoudnessGain(Figures(-16.0, -10.0), -20 * kDb, -1 * kDb, PeakLevels{});
    EXPECT_EQ(none.gainMicroDb, -4 * kDb);
    EXPECT_NEAR(none.predictedLufs, -16.0, 1e-9);

    // A song above the ceiling that no part of moves: the gain asked for
    // lowers it, and the ceiling took nothing off it, so nothing says so.
    const LoudnessGain loud =
        ChooseLoudnessGain(Figures(0.1, 0.1), -20 * kDb, -1 * kDb, PeakLevels{});
    EXPECT_EQ(loud.gainMicroDb, -20'100'000);
    EXPECT_FALSE(loud.lowered);
}

// A gain that would take the true peak past the ceiling is lowered onto the
// grid below it; a part on coarser steps counts with its own move.
TEST(LoudnessGain, TheCeilingLowersTheGain) {
    // +7.5 would put the peak at +4.5 dBTP: 2 dB of room, so +1.50.
    LoudnessGain gain = ChooseLoudnessGain(Figures(-12.8, -3.0), -5 * kDb, -1 * kDb, FmOnly());
    EXPECT_TRUE(gain.lowered);
    EXPECT_EQ(gain.gainMicroDb, 1'500'000);
    EXPECT_NEAR(gain.predictedTruePeakDbtp, -1.5, 1e-9);

    // FM and SSG: +1.50 moves the SSG a whole 3 dB step, past 2.2 dB of room;
    // +0.75 leaves the SSG where it is.
    PeakLevels both = FmOnly();
    both.ssgPeak = both.chipSsgPeak = 12;
    gain = ChooseLoudnessGain(Figures(-20.0, -3.2), -18'500'000, -1 * kDb, both);
    EXPECT_TRUE(gain.lowered);
    EXPECT_EQ(gain.gainMicroDb, 750'000);

    // A ceiling already passed: the gain goes down until the peak is under it.
    gain = ChooseLoudnessGain(Figures(-10.0, 0.5), -10 * kDb, -1 * kDb, FmOnly());
    EXPECT_TRUE(gain.lowered);
    EXPECT_EQ(gain.gainMicroDb, -1'500'000);

    // A ceiling with room enough changes nothing.
    gain = ChooseLoudnessGain(Figures(-12.8, -12.1), -20 * kDb, -10 * kDb, FmOnly());
    EXPECT_FALSE(gain.lowered);
    EXPECT_EQ(gain.gainMicroDb, -7'500'000);
}

TEST(LoudnessGain, ASilentSongHasNoGain) {
    const double silent = -std::numeric_limits<double>::infinity();
    const LoudnessGain gain =
        ChooseLoudnessGain(Figures(silent, silent), -20 * kDb, -1 * kDb, FmOnly());
    EXPECT_FALSE(gain.measurable);
    EXPECT_EQ(gain.gainMicroDb, 0);
}

// The figures of a song as heard.
LoudnessFigures Heard(const Bytes& bytes) {
    const S98Image image = S98Image::FromBytes(bytes.data(), bytes.size());
    S98Layout layout;
    EXPECT_EQ(ToUtf8(ReadHeader(image, layout)), "");
    return MeasureSong(image, layout, RenderSettings{}).figures;
}

// The figures of a "loudness: ..." row, once every one of them reads.
// A figure as the rows write it, to a tenth.
std::string OneDecimal(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

struct LoudnessRow {
    double before = NAN, after = NAN, gain = NAN, truePeak = NAN;
    std::string rest;  // what follows the true peak
};
LoudnessRow ReadRow(const std::string& row) {
    LoudnessRow read;
    int end = 0;
    if (std::sscanf(row.c_str(), "loudness: %lf -> %lf LUFS (gain %lfdB), true peak %lf dBTP%n",
                    &read.before, &read.after, &read.gain, &read.truePeak, &end) == 4) {
        read.rest = row.substr(static_cast<std::size_t>(end));
    } else {
        read = {};
    }
    return read;
}

VolumeSettings Loudness(double lufs, double ceiling = -1.0) {
    VolumeSettings settings;
    settings.loudnessMicroLufs = std::llround(lufs * kDb);
    settings.truePeakCeilingMicroDb = std::llround(ceiling * kDb);
    return settings;
}

// One carrier at TL 0 measures about -12.8 LUFS: -20 is 10 steps down, every
// write moved by the gain, so the row's result is the measured loudness plus
// the gain, and the output measures so within a tenth.
TEST(LoudnessJob, AnFmSongIsBroughtToTheTargetWithinOneStep) {
    TempDir dir;
    const JobRun run = RunJob(dir, SongOfFmTone(0, 3), Loudness(-20));
    ASSERT_EQ(run.error, "");
    ASSERT_EQ(run.rows.size(), 3u) << testing::PrintToString(run.rows);
    // as -g moves them: every part by its steps
    EXPECT_EQ(run.rows[0], "output file:in_new.s98  volume down: FM=10 SSG=3 RHYTHM=10");
    EXPECT_EQ(run.rows[1], "gain: FM=-7.50dB");
    const LoudnessRow row = ReadRow(run.rows[2]);
    ASSERT_FALSE(std::isnan(row.after)) << run.rows[2];
    EXPECT_NEAR(row.before, -12.8, 1.0);
    EXPECT_EQ(row.gain, -7.5);
    EXPECT_EQ(row.rest, "");
    EXPECT_NEAR(row.after, -20.0, 0.375 + 0.05);
    ASSERT_TRUE(run.output);
    const LoudnessFigures heard = Heard(*run.output);
    EXPECT_NEAR(heard.integratedLufs, row.after, 0.1);
    EXPECT_NEAR(heard.truePeakDbtp, row.truePeak, 0.1);
}

// A carrier at TL 20 can go 15 dB louder at most: -5 LUFS asks for 22.5.
// The carrier is held at TL 0, the row says how far the song got, measured
// again, and why.
TEST(LoudnessJob, ClampedWritesLeaveTheSongShortAndTheRowSaysSo) {
    TempDir dir;
    const JobRun run = RunJob(dir, SongOfFmTone(20, 3), Loudness(-5));
    ASSERT_EQ(run.error, "");
    ASSERT_EQ(run.rows.size(), 4u) << testing::PrintToString(run.rows);
    EXPECT_EQ(run.rows[0].substr(8), ": PEAK OVER!       TL= 20 ->   0");
    // the silent operators (TL 127) took the whole gain; the carrier did not
    EXPECT_EQ(run.rows[2], "gain: FM=+22.50dB (1 write clamped)");
    const LoudnessRow row = ReadRow(run.rows[3]);
    ASSERT_FALSE(std::isnan(row.after)) << run.rows[3];
    EXPECT_EQ(row.gain, 22.5);
    EXPECT_EQ(row.rest,
              ", " + OneDecimal(-5.0 - row.after) + " LU below the target: FM 1 write clamped");
    EXPECT_NEAR(row.after, row.before + 15.0, 0.2);
    ASSERT_TRUE(run.output);
    EXPECT_NEAR(Heard(*run.output).integratedLufs, row.after, 0.05);
}

// A carrier at TL 40 (about -42.8 LUFS) raised towards -14 would peak near
// -13.6 dBTP; a ceiling of -20 holds the gain to the step under it.
TEST(LoudnessJob, TheCeilingHoldsTheTruePeakUnderIt) {
    TempDir dir;
    const JobRun run = RunJob(dir, SongOfFmTone(40, 3), Loudness(-14, -20));
    ASSERT_EQ(run.error, "");
    ASSERT_EQ(run.rows.size(), 3u) << testing::PrintToString(run.rows);
    const LoudnessRow row = ReadRow(run.rows[2]);
    ASSERT_FALSE(std::isnan(row.after)) << run.rows[2];
    EXPECT_EQ(row.rest, " (gain lowered to fit the ceiling)");
    EXPECT_LE(row.truePeak, -20.0);
    EXPECT_GT(row.truePeak, -20.75 - 0.1);  // within a step of it
    ASSERT_TRUE(run.output);
    EXPECT_LE(Heard(*run.output).truePeakDbtp, -20.0 + 0.05);
}

// Nothing heard: nothing to measure and nothing moved; the output is the
// input.
TEST(LoudnessJob, ASilentSongIsLeftAsItIs) {
    TempDir dir;
    const Bytes song = SongOfSilence(2);
    const JobRun run = RunJob(dir, song, Loudness(-20));
    ASSERT_EQ(run.error, "");
    ASSERT_FALSE(run.rows.empty());
    EXPECT_EQ(run.rows.back(), "loudness: silent: cannot be measured, nothing moved");
    EXPECT_EQ(run.output, song);
}

// The SSG of the OPNA in envelope mode: heard, but no gain reaches it.
Bytes SongOfSsgEnvelope() {
    S98Builder song;
    song.Write(0, 0, 0x07, 0x3E);  // tone A only
    song.Write(0, 0, 0x00, 0xFE);  // tone period
    song.Write(0, 0, 0x01, 0x00);
    song.Write(0, 0, 0x0B, 0x00);  // envelope period
    song.Write(0, 0, 0x0C, 0x08);
    song.Write(0, 0, 0x0D, 0x0E);  // a repeating triangle
    song.Write(0, 0, 0x08, 0x10);  // channel A by the envelope
    song.Waits(300);
    song.End();
    return song.bytes();
}

TEST(LoudnessJob, ASongOfOnlySsgEnvelopeWritesMovesNothingAndSaysWhy) {
    TempDir dir;
    const Bytes song = SongOfSsgEnvelope();
    const LoudnessFigures heard = Heard(song);
    ASSERT_TRUE(std::isfinite(heard.integratedLufs)) << "the envelope is heard";
    const double target = std::round(heard.integratedLufs) - 10;
    const JobRun run = RunJob(dir, song, Loudness(target));
    ASSERT_EQ(run.error, "");
    ASSERT_EQ(run.rows.size(), 3u) << testing::PrintToString(run.rows);
    EXPECT_EQ(run.rows[1], "not moved: SSG envelope (1 write)");
    const LoudnessRow row = ReadRow(run.rows[2]);
    ASSERT_FALSE(std::isnan(row.after)) << run.rows[2];
    EXPECT_EQ(row.before, row.after);
    EXPECT_EQ(row.rest, ", " + OneDecimal(row.after - target) +
                            " LU above the target: SSG envelope not moved");
    EXPECT_EQ(run.output, song);
}

// The sample songs have parts that do not all move by the gain (an SSG on
// 3 dB steps, an AY by its curve, SSG envelopes): their rows come from the
// rewritten song measured again, and say what the output is heard as.
TEST(LoudnessJob, SongsWhosePartsMoveUnevenlyAreMeasuredAgain) {
    const std::filesystem::path folder = MORLA_SAMPLES_DIR;
    if (!std::filesystem::is_directory(folder)) {
        GTEST_SKIP() << "no sample folder at " << folder;
    }
    int songs = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() != ".s98") {
            continue;
        }
        ++songs;
        TempDir dir;
        const JobRun run = RunJob(dir, ReadFileBytes(entry.path()), Loudness(-18));
        ASSERT_EQ(run.error, "") << entry.path();
        ASSERT_FALSE(run.rows.empty());
        const LoudnessRow row = ReadRow(run.rows.back());
        ASSERT_FALSE(std::isnan(row.after)) << run.rows.back();
        ASSERT_TRUE(run.output);
        const LoudnessFigures heard = Heard(*run.output);
        EXPECT_NEAR(heard.integratedLufs, row.after, 0.05) << run.rows.back();
        EXPECT_NEAR(heard.truePeakDbtp, row.truePeak, 0.05) << run.rows.back();
        EXPECT_LE(heard.truePeakDbtp, -1.0 + 0.05) << run.rows.back();
        // the gain is the FM step nearest the target from the song's loudness
        EXPECT_LE(std::abs(row.before + row.gain - -18.0), 0.375 + 0.05) << run.rows.back();
    }
    EXPECT_GT(songs, 0);
}

}  // namespace
}  // namespace morla::test
