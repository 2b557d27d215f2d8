#include "job/settings.h"

#include "base/messages.h"
#include "format/chip_model.h"

namespace morla {

namespace {

bool OutOfRange(const std::optional<std::int32_t>& target, int max) {
    return target && (*target < 0 || *target > max);
}

}  // namespace

std::u16string ValidateSettings(const VolumeSettings& settings) {
    if (OutOfRange(settings.fmTarget, kTotalLevelMax)) {
        return kFmTargetRangeError;
    }
    if (OutOfRange(settings.ssgTarget, kSsgVolumeMax)) {
        return kSsgTargetRangeError;
    }
    if (OutOfRange(settings.rhythmTarget, kRhythmLevelMax)) {
        return kRhythmTargetRangeError;
    }
    constexpr std::int64_t kDb = 1'000'000;
    if (settings.loudnessMicroLufs && (*settings.loudnessMicroLufs < kLoudnessLeast * kDb ||
                                       *settings.loudnessMicroLufs > kLoudnessMost * kDb)) {
        return kLoudnessTargetRangeError;
    }
    if (settings.truePeakCeilingMicroDb < kCeilingLeast * kDb ||
        settings.truePeakCeilingMicroDb > kCeilingMost * kDb) {
        return kTruePeakCeilingRangeError;
    }
    return {};
}

}  // namespace morla
