#include "reference/amounts.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

#include "format/chip_model.h"

namespace morla {

namespace {

// What one step of each level is worth, in millionths of a dB.
constexpr std::int64_t kFmStep = kTotalLevelStepMicroDb;      // FM total level
constexpr std::int64_t kRhythmStep = kTotalLevelStepMicroDb;  // rhythm total level
constexpr std::int64_t kSsgStep = kSsgStepMicroDb;            // SSG and YM2149 volume

// The whole number of steps nearest to `microDb`; exactly half a step between
// two rounds away from zero. Beyond int32 it stays at int32's end.
std::int32_t NearestSteps(std::int64_t microDb, std::int64_t step) {
    std::int64_t steps = microDb / step;  // toward zero
    const std::int64_t rest = microDb % step;
    if (rest > 0 && 2 * rest >= step) {
        steps += 1;
    }
    if (rest < 0 && -2 * rest >= step) {
        steps -= 1;
    }
    if (steps > std::numeric_limits<std::int32_t>::max()) {
        return std::numeric_limits<std::int32_t>::max();
    }
    if (steps < std::numeric_limits<std::int32_t>::min()) {
        return std::numeric_limits<std::int32_t>::min();
    }
    return static_cast<std::int32_t>(steps);
}

// Whether the analysis saw a level of each part: the FM peak counts down from
// one past the quietest TL, the others up from -1.
bool HasFm(const PeakLevels& peaks) {
    return peaks.fmPeak <= kTotalLevelMax;
}
bool HasSsg(const PeakLevels& peaks) {
    return peaks.ssgPeak >= 0;
}
bool HasRhythm(const PeakLevels& peaks) {
    return peaks.rhythmPeak >= 0;
}

// The FM level a normalize target is measured from: the loudest carrier, or
// with -2 the loudest one below TL 0.
std::int32_t FmPeakOf(const VolumeSettings& settings, const PeakLevels& peaks) {
    if (settings.useSecondPeak) {
        return peaks.fmSecondPeak;
    }
    return peaks.fmPeak;
}

// -F: the loudest FM carrier to `target` counted up from silence (TL 127 is
// target 0, TL 0 target 127), in total-level steps.
std::int64_t FmTargetSteps(const VolumeSettings& settings, const PeakLevels& peaks) {
    const std::int64_t targetTl = std::int64_t{kTotalLevelMax} - *settings.fmTarget;
    return targetTl - FmPeakOf(settings, peaks);
}

// -S: the loudest SSG volume to the target, in volume steps.
std::int64_t SsgTargetSteps(const VolumeSettings& settings, const PeakLevels& peaks) {
    return std::int64_t{peaks.ssgPeak} - *settings.ssgTarget;
}

// -R: the loudest rhythm level to the target, in total-level steps.
std::int64_t RhythmTargetSteps(const VolumeSettings& settings, const PeakLevels& peaks) {
    return std::int64_t{peaks.rhythmPeak} - *settings.rhythmTarget;
}

// -S in dB, for -k. When the loudest SSG volume is an AY-3-8910's alone (no
// other chip reaches it) and both it and the target are volumes of the chip,
// the AY's own curve gives the difference; otherwise 3 dB a volume step.
std::int64_t SsgTargetMicroDb(const VolumeSettings& settings, const PeakLevels& peaks) {
    const std::int32_t peak = peaks.ssgPeak;
    const std::int32_t target = *settings.ssgTarget;
    const bool aloneOnAnAy =
        peaks.ay8910Peak == peak && peaks.chipSsgPeak < peak && peaks.ym2149Peak < peak;
    const bool onTheCurve =
        0 <= peak && peak <= kSsgVolumeMax && 0 <= target && target <= kSsgVolumeMax;
    if (aloneOnAnAy && onTheCurve) {
        return kAy8910Curve[peak] - kAy8910Curve[target];
    }
    return SsgTargetSteps(settings, peaks) * kSsgStep;
}

}  // namespace

FinalAmounts ReferenceAmounts(const VolumeSettings& settings, const PeakLevels& peaks,
                              const PeakLevels& own) {
    FinalAmounts amounts;  // every amount 0 unless a rule below sets it

    // 1. The amounts ticked by -f, -s and -r.
    if (settings.fmDown) {
        amounts.fmDown = *settings.fmDown;
    }
    if (settings.ssgDown) {
        amounts.ssgDown = *settings.ssgDown;
    }
    if (settings.rhythmDown) {
        amounts.rhythmDown = *settings.rhythmDown;
    }

    // 2. -g: every part moves by the gain, in its own steps. A gain is
    // negative for quieter, an amount positive. The stand-alone YM2149s take
    // the SSG's steps; the AY-3-8910s and the ADPCM level follow the gain
    // itself.
    if (settings.gainMicroDb) {
        const std::int64_t quieter = -*settings.gainMicroDb;
        amounts.fmDown = NearestSteps(quieter, kFmStep);
        amounts.rhythmDown = NearestSteps(quieter, kRhythmStep);
        amounts.ssgDown = NearestSteps(quieter, kSsgStep);
        amounts.psgDown = NearestSteps(quieter, kSsgStep);
        amounts.gainMicroDb = *settings.gainMicroDb;
    }

    // 3. -k: each ticked target of a part the peaks have gives its amount in
    // dB; the largest (the one that lowers most) becomes one gain for every
    // part the file itself has, and for the stand-alone PSGs. Nothing else
    // counts: neither -f, -s, -r nor -g.
    if (settings.keepBalance) {
        std::vector<std::int64_t> candidates;
        if (settings.fmTarget && HasFm(peaks)) {
            candidates.push_back(FmTargetSteps(settings, peaks) * kFmStep);
        }
        if (settings.ssgTarget && HasSsg(peaks)) {
            candidates.push_back(SsgTargetMicroDb(settings, peaks));
        }
        if (settings.rhythmTarget && HasRhythm(peaks)) {
            candidates.push_back(RhythmTargetSteps(settings, peaks) * kRhythmStep);
        }
        std::int64_t quieter = 0;
        if (!candidates.empty()) {
            quieter = *std::max_element(candidates.begin(), candidates.end());
        }
        FinalAmounts balanced;
        balanced.fmDown = HasFm(own) ? NearestSteps(quieter, kFmStep) : 0;
        balanced.ssgDown = HasSsg(own) ? NearestSteps(quieter, kSsgStep) : 0;
        balanced.rhythmDown = HasRhythm(own) ? NearestSteps(quieter, kRhythmStep) : 0;
        balanced.psgDown = NearestSteps(quieter, kSsgStep);
        balanced.gainMicroDb = -quieter;
        return balanced;
    }

    // 4. Otherwise each ticked normalize target replaces its part's amount,
    // whatever -f, -s, -r or -g gave it.
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

}  // namespace morla
