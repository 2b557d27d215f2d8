// One gain in dB for every part (-g), and normalizing that keeps the balance
// between the parts (-k): amounts in each part's steps, stand-alone PSGs
// moved with the SSG, and the "gain:" row.
#include <gtest/gtest.h>

#include "job/amounts.h"
#include "job/number_field.h"
#include "test_support.h"

namespace morla::test {
namespace {

// FM, SSG and rhythm present: FM peak 20 (second 24), SSG 12, rhythm 40.
PeakLevels AllParts() {
    return {20, 24, 12, 40};
}

struct Amounts {
    std::int32_t fm, ssg, rhythm, psg;
    friend bool operator==(const Amounts&, const Amounts&) = default;
};

Amounts AmountsFor(const VolumeSettings& settings, const PeakLevels& peaks,
                   const PeakLevels& own = AllParts()) {
    const FinalAmounts amounts = WorkOutAmounts(settings, peaks, own);
    return {amounts.fmDown, amounts.ssgDown, amounts.rhythmDown, amounts.psgDown};
}

std::ostream& operator<<(std::ostream& out, const Amounts& a) {
    return out << a.fm << "/" << a.ssg << "/" << a.rhythm << "/" << a.psg;
}

// 0.75 dB a total-level step, 3 dB an SSG step, halves away from zero.
TEST(Gain, EveryPartMovesByItsNearestSteps) {
    const std::pair<std::int64_t, Amounts> cases[] = {
        {-6000000, {8, 2, 8, 2}},                                // quieter by 6 dB
        {+3000000, {-4, -1, -4, -1}}, {-4500000, {6, 2, 6, 2}},  // SSG 1.5 steps: away from zero
        {+4500000, {-6, -2, -6, -2}}, {-375000, {1, 0, 1, 0}},   // FM half a step
        {+375000, {-1, 0, -1, 0}},    {-1499999, {2, 0, 2, 0}},  // SSG just below half a step
        {-1500000, {2, 1, 2, 1}},     {0, {0, 0, 0, 0}},
    };
    for (const auto& [microDb, amounts] : cases) {
        EXPECT_EQ(AmountsFor(Options().Gain(microDb), AllParts()), amounts) << microDb;
    }
    // A normalize target still replaces its own part's amount.
    EXPECT_EQ(AmountsFor(Options().Gain(-6000000).SsgTarget(15), AllParts()),
              (Amounts{8, -3, 8, 2}));
    // Without -g or -k the PSGs never move.
    EXPECT_EQ(AmountsFor(Options().Ssg(3), AllParts()), (Amounts{0, 3, 0, 0}));
}

// Each ticked target's amount in dB; the one that lowers most serves every
// part the file has.
TEST(Gain, KeepBalanceTakesTheTargetThatLowersMost) {
    const auto keep = [] { return Options().KeepBalance(); };
    const struct {
        const char* name;
        VolumeSettings settings;
        Amounts amounts;
        PeakLevels own = AllParts();
    } cases[] = {
        // FM: 127 - 120 - 20 = -13 steps = -9.75 dB, applied to all
        {"-F120", keep().FmTarget(120), {-13, -3, -13, -3}},
        // SSG: 12 - 10 = 2 steps = 6 dB lowers more than FM's -9.75 dB
        {"-F120 -S10", keep().FmTarget(120).SsgTarget(10), {8, 2, 8, 2}},
        // rhythm: 40 - 30 = 10 steps = 7.5 dB, the most of the three
        {"-F120 -S10 -R30", keep().FmTarget(120).SsgTarget(10).RhythmTarget(30), {10, 3, 10, 3}},
        // the second peak: 127 - 100 - 24 = 3 steps = 2.25 dB
        {"-2 -F100", keep().FmTarget(100).SecondPeak(), {3, 1, 3, 1}},
        // parts the file lacks stay at 0 (no rhythm, no SSG here)
        {"-F100, FM only", keep().FmTarget(100), {7, 0, 0, 2}, PeakLevels{20, 24, -1, -1}},
        // a target of a part not measured gives nothing: no raise by its
        // start value (-1 - 60 steps)
        {"-R60, no rhythm", keep().RhythmTarget(60), {0, 0, 0, 0}, PeakLevels{20, 24, 12, -1}},
        {"-F120 -R60, no rhythm",
         keep().FmTarget(120).RhythmTarget(60),
         {-13, -3, 0, -3},
         PeakLevels{20, 24, 12, -1}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AmountsFor(c.settings, c.own, c.own), c.amounts) << c.name;
    }
    // With an album's peaks the amounts come from the album, the parts from
    // the file: one gain for every track.
    const PeakLevels album{5, 5, 15, 63};
    EXPECT_EQ(AmountsFor(keep().FmTarget(120), album), (Amounts{2, 1, 2, 1}));
}

TEST(Gain, DecibelTextIsDigitsWithAnOptionalSignAndFraction) {
    const std::pair<const char16_t*, std::optional<std::int64_t>> cases[] = {
        {u"-6", -6000000},         {u"+3", 3000000},
        {u"-4.5", -4500000},       {u"0", 0},
        {u"12.25", 12250000},      {u"-0.0000005", -1},
        {u"1.0000004", 1000000},   {u".5", std::nullopt},
        {u"5.", std::nullopt},     {u"1e3", std::nullopt},
        {u"", std::nullopt},       {u"-", std::nullopt},
        {u" 6", std::nullopt},     {u"6dB", std::nullopt},
        {u"100001", std::nullopt},
    };
    for (const auto& [text, value] : cases) {
        EXPECT_EQ(ParseDecibels(text), value) << ToUtf8(text);
    }
    // The window's field takes what it can read and counts the rest as 0.
    EXPECT_EQ(ParseDecibelsField(u"  -6"), -6000000);
    EXPECT_EQ(ParseDecibelsField(u"abc"), 0);
}

// Each chip's volumes go to the value nearest, on its own curve, to their
// level plus the gain. The YM2149's steps are 3 dB; the AY-3-8910's levels
// (dB against volume 15) are 15: 0, 14: -1.88, 13: -3.94, 12: -6.15,
// 11: -8.57, 10: -10.69, 9: -13.77, ... 2: -36.80, 1: -40.00, and silence
// counts as one step of 3.20 dB below 1.
TEST(Gain, PsgVolumesGoToTheNearestLevelOnTheirChipsCurve) {
    using Row = std::array<int, 16>;
    const auto mapped = [](const VolumeCurve& curve, std::int64_t microDb) {
        const VolumeMap map = VolumeMapFor(curve, microDb);
        Row to{};
        for (int v = 0; v < 16; ++v) {
            to[v] = map.over[v] ? -map.to[v] : map.to[v];  // held at the top: negative
        }
        return to;
    };
    // 3 dB a step: the old step rule, halves of a step going the gain's way
    EXPECT_EQ(mapped(kYm2149Curve, -6000000),
              (Row{0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}));
    EXPECT_EQ(mapped(kYm2149Curve, -4500000),
              (Row{0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}));
    EXPECT_EQ(mapped(kYm2149Curve, +4500000),
              (Row{0, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, -15, -15}));
    EXPECT_EQ(mapped(kYm2149Curve, -1499999),
              (Row{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}));
    // The AY: -6 dB takes 15 to 12 (-6.15), 14 to 11 (-7.88 wanted), 13 to
    // 10 (-9.94 wanted: 0.75 from 10, 1.37 from 11), 12 to 10 (-12.15
    // wanted: 1.46 from 10, 1.62 from 9), 7 (-19.38) to 5 (-26.83 is 1.45
    // from -25.38 wanted, -23.81 is 1.57), 1 to silence.
    const Row ayDown6 = mapped(kAy8910Curve, -6000000);
    EXPECT_EQ(ayDown6[15], 12);
    EXPECT_EQ(ayDown6[14], 11);
    EXPECT_EQ(ayDown6[13], 10);
    EXPECT_EQ(ayDown6[12], 10);
    EXPECT_EQ(ayDown6[7], 5);
    EXPECT_EQ(ayDown6[1], 0);
    EXPECT_EQ(ayDown6[0], 0);
    // -12 dB: 15 to 10 (-10.69 is 1.31 from -12, -13.77 is 1.77)
    EXPECT_EQ(mapped(kAy8910Curve, -12000000)[15], 10);
    // +3 dB: 14 would need +1.12 dB over the top, more than half its top
    // step (0.94): held at 15; 13 to 14 (-0.94 wanted)
    const Row ayUp3 = mapped(kAy8910Curve, +3000000);
    EXPECT_EQ(ayUp3[15], -15);
    EXPECT_EQ(ayUp3[14], -15);
    EXPECT_EQ(ayUp3[13], 14);
    EXPECT_EQ(ayUp3[9], 10);  // -10.77 wanted: 0.08 from 10
    // No gain moves nothing; a gain beyond any use silences or holds.
    EXPECT_EQ(mapped(kAy8910Curve, 0), (Row{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}));
    EXPECT_EQ(mapped(kAy8910Curve, std::int64_t{-3} << 50), Row{});
    EXPECT_EQ(mapped(kAy8910Curve, std::int64_t{3} << 50)[1], -15);
}

// The ADPCM level is an amplitude: scaled and rounded, held at 255.
TEST(Gain, AdpcmLevelsScaleInProportion) {
    const AdpcmMap down6 = AdpcmMapFor(-6000000);  // x 0.50119
    EXPECT_EQ(down6.to[255], 128);
    EXPECT_EQ(down6.to[200], 100);
    EXPECT_EQ(down6.to[1], 1);
    EXPECT_EQ(down6.to[0], 0);
    EXPECT_FALSE(down6.over.any());
    const AdpcmMap up6 = AdpcmMapFor(+6000000);  // x 1.99526
    EXPECT_EQ(up6.to[128], 255);                 // 255.39
    EXPECT_FALSE(up6.over[128]);
    EXPECT_EQ(up6.to[129], 255);  // 257.39
    EXPECT_TRUE(up6.over[129]);
    EXPECT_EQ(up6.to[0], 0);
    EXPECT_EQ(AdpcmMapFor(std::int64_t{-3} << 50).to[255], 0);
    EXPECT_TRUE(AdpcmMapFor(std::int64_t{3} << 50).over[1]);
}

// A file with an OPNA (FM carrier TL 20, SSG volume 12, rhythm 40) and an AY
// beside it (volume 14 on channel A).
Bytes OpnaAndAy() {
    S98Builder b({kDeviceYM2608, kDeviceAY8910});
    b.Write(0, 0, 0xB0, 7);
    b.Write(0, 0, 0x40, 20);
    b.Write(0, 0, 0x08, 12);
    b.Write(0, 0, 0x11, 40);
    b.Write(1, 0, 0x08, 14);
    b.End();
    return b.bytes();
}

// The AY moves with the SSG under -g by its own curve, and the gain row names
// it; -s leaves it alone, as the original options always did.
TEST(Gain, StandAlonePsgsMoveWithTheSsgAndTheRowSaysIt) {
    TempDir dir;
    const Bytes song = OpnaAndAy();
    const JobRun gain = RunJob(dir, song, Options().Gain(-6000000));
    EXPECT_EQ(gain.error, "");
    EXPECT_EQ(gain.rows, (std::vector<std::string>{
                             "output file:in_new.s98  volume down: FM=8 SSG=2 RHYTHM=8",
                             "gain: FM=-6.00dB SSG=-6.00dB RHYTHM=-6.00dB PSG=-6.69dB"}));
    ASSERT_TRUE(gain.output);
    Bytes expected = song;
    expected[expected.size() - 11] = 28;  // TL 20 + 8
    expected[expected.size() - 8] = 10;   // SSG 12 - 2
    expected[expected.size() - 5] = 32;   // rhythm 40 - 8
    expected[expected.size() - 2] = 11;   // AY 14 (-1.88 dB) to 11 (-8.57 dB)
    EXPECT_EQ(*gain.output, expected);

    const JobRun ssg = RunJob(dir, song, Options().Ssg(2));
    expected = song;
    expected[expected.size() - 8] = 10;
    EXPECT_EQ(ssg.output, expected);
    EXPECT_EQ(ssg.rows.size(), 1u);  // no gain row

    // A raise is shown with its sign, and what the top held back: the AY
    // only gets from 14 to 15. No row in peak-only mode.
    EXPECT_EQ(RunJob(dir, song, Options().Gain(3000000)).rows.back(),
              "gain: FM=+3.00dB SSG=+3.00dB RHYTHM=+3.00dB PSG=+1.88dB (1 write clamped)");
    EXPECT_EQ(RunJob(dir, song, Options().Gain(-6000000).PeakOnly()).rows,
              std::vector<std::string>{"PEAK: FM=20(2nd=20) SSG=14 RHYTHM=40"});
    // A file with no level at all gets no gain row.
    S98Builder empty;
    empty.End();
    EXPECT_EQ(RunJob(dir, empty.bytes(), Options().Gain(-6000000)).rows,
              std::vector<std::string>{"output file:in_new.s98  volume down: FM=8 SSG=2 RHYTHM=8"});
}

}  // namespace
}  // namespace morla::test
