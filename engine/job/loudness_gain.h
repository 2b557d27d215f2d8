// -L: the one gain that brings a song (or an album) to a loudness as heard,
// worked out from its measured figures and the parts it has, and the row
// that says how far it got.
#pragma once

#include <cstdint>
#include <string>

#include "job/amounts.h"
#include "job/settings.h"
#include "passes/peak_analysis.h"
#include "passes/volume_rewrite.h"
#include "render/loudness.h"

namespace morla {

// What the gain of a loudness target is, once chosen.
struct LoudnessGain {
    bool measurable = false;       // false: silent, nothing to bring anywhere (gain 0)
    std::int64_t gainMicroDb = 0;  // the one gain every part follows (-g's)
    // The ceiling held it below the gain nearest the target.
    bool lowered = false;
    // As predicted from the measured figures and the moves of the parts.
    double predictedLufs = 0.0;
    double predictedTruePeakDbtp = 0.0;
};

// The move each part the file has gets under the gain `gainMicroDb`, in
// millionths of a dB, by its steps: FM and rhythm 0.75 dB, the SSG and a
// YM2149 3 dB (the nearest step); an AY-3-8910 and the ADPCM level follow
// the gain itself (by curve, in proportion). `leading` is the move of the
// part the loudness is taken to follow: FM, else rhythm, else the SSG or
// YM2149, else the gain; `largest` the largest move of any part it has.
struct PartMoves {
    std::int64_t leading = 0;
    std::int64_t largest = 0;
    bool uniform = true;  // it has parts, and every one moves by `leading`
};
PartMoves MovesOf(std::int64_t gainMicroDb, const PeakLevels& own);

// Chooses the gain that brings `measured` to `targetMicroLufs`: the gain
// target - measured, placed on the steps of the part the loudness follows
// (FM's 0.75 dB grid when the file has FM or rhythm, the SSG's 3 dB
// otherwise), the step below or above, whichever comes nearest; then, when
// the true peak plus the largest move of a part would pass
// `ceilingMicroDb`, step by step lower until it fits. `own` are the parts'
// peaks (an album's in album mode).
LoudnessGain ChooseLoudnessGain(const LoudnessFigures& measured, std::int64_t targetMicroLufs,
                                std::int64_t ceilingMicroDb, const PeakLevels& own);

// Whether the rewrite `tally` with `amounts` moved every part the song has
// (and nothing else that sounds) by the one gain, so that the result is the
// measured loudness plus the gain; false when writes were clamped, parts did
// not move (SSG envelope, DAC, devices no gain reaches) or moved by steps of
// their own. `layout` names the devices.
bool MovedAsPredicted(const PeakLevels& own, const FinalAmounts& amounts, const RewriteTally& tally,
                      const S98Layout& layout);

// Whether any write got a new value.
bool AnythingMoved(const RewriteTally& tally);

// The row after the gain rows:
//   "loudness: -9.3 -> -18.0 LUFS (gain -8.25dB), true peak -2.1 dBTP"
// with " (gain lowered to fit the ceiling)" when the ceiling held the gain
// back, and ", 0.8 LU below the target: FM 212 writes clamped" or ", 1.8 LU
// above the target: SSG envelope not moved" when the result lies more than
// half a dB from `aimLufs`, with what held it there. The aim is the target,
// or with `albumGain` the song's loudness plus the album's gain (", 1.2 LU
// above the album's gain: ..."). A silent song's row:
//   "loudness: silent: cannot be measured, nothing moved".
std::u16string FormatLoudnessGainLine(const LoudnessFigures& before, const LoudnessFigures& after,
                                      double aimLufs, bool albumGain, const LoudnessGain& gain,
                                      const RewriteTally& tally);

// "album gain: -4.50dB from -13.5 LUFS to -18.0 LUFS" (" (lowered to fit the
// ceiling)"), or "album gain: none: silent, nothing moved".
std::u16string FormatAlbumGainLine(const LoudnessFigures& album, std::int64_t targetMicroLufs,
                                   const LoudnessGain& gain);

}  // namespace morla
