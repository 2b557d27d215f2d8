#include "job/amounts.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <optional>

#include "format/chip_model.h"

namespace morla {

namespace {

// The steps nearest to `microDb` (halves away from zero), within int32.
std::int32_t StepsOf(std::int64_t microDb, std::int64_t step) {
    const std::int64_t magnitude = (std::abs(microDb) + step / 2) / step;
    const std::int64_t steps = microDb < 0 ? -magnitude : magnitude;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        steps, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

// What bringing the SSG peak to `target` lowers it by, in millionths of a dB:
// by the AY's curve when an AY holds the loudest volume, else 3 dB a step.
std::int64_t SsgTargetAmount(const PeakLevels& peaks, std::int32_t target) {
    const std::int32_t peak = peaks.ssgPeak;
    const bool onAy =
        peaks.ay8910Peak == peak && peaks.chipSsgPeak < peak && peaks.ym2149Peak < peak;
    if (onAy && peak <= kSsgVolumeMax && target >= 0 && target <= kSsgVolumeMax) {
        return kAy8910Curve[peak] - kAy8910Curve[target];
    }
    return (std::int64_t{peak} - target) * kSsgStepMicroDb;
}

// The amount a normalize target gives its part, in the part's steps. FM
// levels are attenuations: the target counts up from silence, so a target of
// kTotalLevelMax brings the loudest carrier to TL 0. Worked out in 64 bits: a
// keep-balance gain multiplies them.
std::int64_t FmTargetSteps(const VolumeSettings& settings, const PeakLevels& peaks) {
    const std::int32_t peak = settings.useSecondPeak ? peaks.fmSecondPeak : peaks.fmPeak;
    return std::int64_t{kTotalLevelMax} - *settings.fmTarget - peak;
}
std::int64_t SsgTargetSteps(const VolumeSettings& settings, const PeakLevels& peaks) {
    return std::int64_t{peaks.ssgPeak} - *settings.ssgTarget;
}
std::int64_t RhythmTargetSteps(const VolumeSettings& settings, const PeakLevels& peaks) {
    return std::int64_t{peaks.rhythmPeak} - *settings.rhythmTarget;
}

// With -k: the targets' amounts in dB; the one that lowers most serves every
// part the file has, so no part ends louder than its target. A target of a
// part that was not measured has no amount to give (its start value would
// raise everything by tens of dB).
FinalAmounts KeepBalance(const VolumeSettings& settings, const PeakLevels& peaks,
                         const PeakLevels& own) {
    const PresentParts measured = PartsOf(peaks);
    std::optional<std::int64_t> down;
    const auto take = [&](std::int64_t microDb) {
        down = std::max(down.value_or(microDb), microDb);
    };
    if (settings.fmTarget && measured.fm) {
        take(FmTargetSteps(settings, peaks) * kTotalLevelStepMicroDb);
    }
    if (settings.ssgTarget && measured.ssg) {
        take(SsgTargetAmount(peaks, *settings.ssgTarget));
    }
    if (settings.rhythmTarget && measured.rhythm) {
        take(RhythmTargetSteps(settings, peaks) * kTotalLevelStepMicroDb);
    }
    const PresentParts present = PartsOf(own);
    const std::int64_t gain = down.value_or(0);
    FinalAmounts amounts;
    amounts.fmDown = present.fm ? StepsOf(gain, kTotalLevelStepMicroDb) : 0;
    amounts.ssgDown = present.ssg ? StepsOf(gain, kSsgStepMicroDb) : 0;
    amounts.rhythmDown = present.rhythm ? StepsOf(gain, kTotalLevelStepMicroDb) : 0;
    amounts.psgDown = StepsOf(gain, kSsgStepMicroDb);
    amounts.gainMicroDb = -gain;
    return amounts;
}

}  // namespace

PresentParts PartsOf(const PeakLevels& peaks) {
    const PeakLevels none;
    return {peaks.fmPeak != none.fmPeak, peaks.ssgPeak != none.ssgPeak,
            peaks.rhythmPeak != none.rhythmPeak};
}

FinalAmounts WorkOutAmounts(const VolumeSettings& settings, const PeakLevels& peaks,
                            const PeakLevels& own) {
    FinalAmounts amounts;
    amounts.fmDown = settings.fmDown.value_or(0);
    amounts.ssgDown = settings.ssgDown.value_or(0);
    amounts.rhythmDown = settings.rhythmDown.value_or(0);
    if (settings.gainMicroDb) {
        // a gain is negative for quieter, an amount positive
        const std::int64_t gain = *settings.gainMicroDb;
        amounts.fmDown = amounts.rhythmDown = StepsOf(-gain, kTotalLevelStepMicroDb);
        amounts.ssgDown = amounts.psgDown = StepsOf(-gain, kSsgStepMicroDb);
        amounts.gainMicroDb = gain;
    }
    if (settings.keepBalance) {
        return KeepBalance(settings, peaks, own);
    }
    if (settings.fmTarget) {
        amounts.fmDown = static_cast<std::int32_t>(FmTargetSteps(settings, peaks));
    }
    if (settings.ssgTarget) {
        amounts.ssgDown = static_cast<std::int32_t>(SsgTargetSteps(settings, peaks));
    }
    if (settings.rhythmTarget) {
        amounts.rhythmDown = static_cast<std::int32_t>(RhythmTargetSteps(settings, peaks));
    }
    return amounts;
}

RewriteAmounts RewriteAmountsOf(const VolumeSettings& settings, const FinalAmounts& amounts) {
    return {amounts.fmDown,  amounts.ssgDown,          amounts.rhythmDown,  settings.showDetail,
            amounts.psgDown, MovesByOneGain(settings), amounts.gainMicroDb, settings.quiet};
}

}  // namespace morla
