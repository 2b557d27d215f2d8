// The job's amount arithmetic held to the reference one (reference/amounts.h)
// over random settings and the peaks an analysis can measure, in single-file
// and album mode.
#include <gtest/gtest.h>

#include <optional>
#include <random>

#include "job/amounts.h"
#include "reference/amounts.h"
#include "test_support.h"

namespace morla {

void PrintTo(const FinalAmounts& a, std::ostream* out) {
    *out << "FM=" << a.fmDown << " SSG=" << a.ssgDown << " RHYTHM=" << a.rhythmDown
         << " PSG=" << a.psgDown << " gain=" << a.gainMicroDb;
}

namespace test {
namespace {

// Peaks as an analysis leaves them: an FM peak from 0 to 127 or none (128),
// the second one the same unless the loudest is TL 0; SSG volume bytes with
// bit 4 clear, mostly volumes of the chips' range, on any of the three kinds
// of chip; rhythm and ADPCM levels from 0 to 255 or none (-1).
PeakLevels RandomPeaks(std::mt19937& rng) {
    PeakLevels peaks;
    const auto pick = [&](int none, int last) {
        return rng() % 4 == 0 ? none : static_cast<std::int32_t>(rng() % (last + 1));
    };
    peaks.fmPeak = pick(kTotalLevelMax + 1, kTotalLevelMax);
    peaks.fmSecondPeak = peaks.fmPeak;
    if (peaks.fmPeak == 0) {
        peaks.fmSecondPeak = 1 + static_cast<std::int32_t>(rng() % (kTotalLevelMax + 1));
    }
    const auto ssgByte = [&] {
        if (rng() % 3 == 0) {
            return -1;
        }
        const auto byte = static_cast<std::int32_t>(rng() % 4 ? rng() % 16 : rng() % 256);
        return byte & ~std::int32_t{kSsgEnvelopeBit};
    };
    peaks.chipSsgPeak = ssgByte();
    peaks.ym2149Peak = ssgByte();
    peaks.ay8910Peak = ssgByte();
    peaks.ssgPeak = std::max({peaks.chipSsgPeak, peaks.ym2149Peak, peaks.ay8910Peak});
    peaks.rhythmPeak = rng() % 4 ? pick(-1, kRhythmLevelMax) : pick(-1, 255);
    peaks.adpcmPeak = pick(-1, kAdpcmLevelMax);
    return peaks;
}

VolumeSettings RandomSettings(std::mt19937& rng) {
    const std::int32_t amounts[] = {0, 1, -1, 5, -12, 127, -128, INT32_MAX, INT32_MIN};
    const auto sometimes = [&](auto value) -> std::optional<decltype(value)> {
        if (rng() % 3 == 0) {
            return value;
        }
        return std::nullopt;
    };
    const auto amount = [&] {
        return rng() % 4 ? amounts[rng() % std::size(amounts)] : static_cast<std::int32_t>(rng());
    };
    // gains near half steps of both step sizes, and any at all
    const auto gain = [&]() -> std::int64_t {
        const std::int64_t half = rng() % 2 ? kTotalLevelStepMicroDb / 2 : kSsgStepMicroDb / 2;
        const std::int64_t near = half * (static_cast<std::int64_t>(rng() % 81) - 40) +
                                  static_cast<std::int64_t>(rng() % 3) - 1;
        return rng() % 2 ? near : static_cast<std::int64_t>(rng() % 200000000001ULL) - 100000000000;
    };
    VolumeSettings s;
    s.fmDown = sometimes(amount());
    s.ssgDown = sometimes(amount());
    s.rhythmDown = sometimes(amount());
    s.fmTarget = sometimes(static_cast<std::int32_t>(rng() % (kTotalLevelMax + 1)));
    s.ssgTarget = sometimes(static_cast<std::int32_t>(rng() % (kSsgVolumeMax + 1)));
    s.rhythmTarget = sometimes(static_cast<std::int32_t>(rng() % (kRhythmLevelMax + 1)));
    s.gainMicroDb = sometimes(gain());
    s.useSecondPeak = rng() % 2;
    s.keepBalance = rng() % 3 == 0;
    return s;
}

TEST(AmountsDifferential, TheJobsArithmeticGivesTheReferenceAmounts) {
    std::mt19937 rng(1207);
    for (int round = 0; round < 200000; ++round) {
        const VolumeSettings settings = RandomSettings(rng);
        const PeakLevels own = RandomPeaks(rng);
        // album mode: the loudest of the file and another
        std::optional<PeakLevels> album;
        if (rng() % 2) {
            album = own;
            TakeLoudest(*album, RandomPeaks(rng));
        }
        const PeakLevels& peaks = album.value_or(own);
        ASSERT_EQ(WorkOutAmounts(settings, peaks, own), ReferenceAmounts(settings, peaks, own))
            << "round " << round;
    }
}

// A few amounts worked out by hand, so that the reference is more than a
// second copy: peaks FM 20, SSG 12 (on an AY alone), rhythm 40.
TEST(AmountsDifferential, TheReferenceGivesTheAmountsWorkedOutByHand) {
    PeakLevels ay{20, 20, 12, 40};
    ay.ay8910Peak = 12;
    const struct {
        const char* name;
        VolumeSettings settings;
        FinalAmounts amounts;
    } cases[] = {
        {"nothing", Options(), {}},
        {"-f3 -s-2", Options().Fm(3).Ssg(-2), {3, -2, 0, 0, 0}},
        // -4.5 dB: 6 FM steps, 1.5 SSG steps away from zero
        {"-g -4.5", Options().Gain(-4500000), {6, 2, 6, 2, -4500000}},
        {"-g +0.375", Options().Gain(375000), {-1, 0, -1, 0, 375000}},
        // 127 - 100 - 20; 12 - 10; 40 - 50; a target replaces -g's amount
        {"-F100 -S10 -R50 -g -3",
         Options().FmTarget(100).SsgTarget(10).RhythmTarget(50).Gain(-3000000),
         {7, 2, -10, 1, -3000000}},
        // -k: the AY's curve from 12 to 9 is 13.765359 - 6.151334 = 7.614025 dB,
        // more than FM's 7 steps (5.25 dB): 10.15 FM steps, 2.54 SSG steps
        {"-k -F100 -S9",
         Options().KeepBalance().FmTarget(100).SsgTarget(9),
         {10, 3, 10, 3, -7614025}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ReferenceAmounts(c.settings, ay, ay), c.amounts) << c.name;
        EXPECT_EQ(WorkOutAmounts(c.settings, ay, ay), c.amounts) << c.name;
    }
}

}  // namespace
}  // namespace test
}  // namespace morla
