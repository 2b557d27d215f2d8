// What a job works out from its settings and the measured peaks: the amount
// each part moves by. Worked out once per file and handed on as a value; the
// settings stay as they were asked.
#pragma once

#include <cstdint>

#include "job/settings.h"
#include "passes/peak_analysis.h"
#include "passes/volume_rewrite.h"

namespace morla {

// The final amounts, in each part's steps (positive is quieter), and with -g
// or -k the one gain every part follows.
struct FinalAmounts {
    std::int32_t fmDown = 0;      // FM carrier total levels
    std::int32_t ssgDown = 0;     // the SSG of the OPN and OPNA
    std::int32_t rhythmDown = 0;  // the OPNA's rhythm total level
    // Stand-alone YM2149s, moved only with -g or -k, by the SSG's steps.
    std::int32_t psgDown = 0;
    // With -g or -k, the one gain in millionths of a dB: the AY-3-8910's
    // volumes follow it by their own curve, the ADPCM level in proportion.
    std::int64_t gainMicroDb = 0;
    friend bool operator==(const FinalAmounts&, const FinalAmounts&) = default;
};

// Which parts a file has: those its PEAK row shows.
struct PresentParts {
    bool fm = false, ssg = false, rhythm = false;
};
PresentParts PartsOf(const PeakLevels& peaks);

// Turns the options and the measured peaks into the final amounts: unticked
// amounts are 0, a gain (-g) sets every part's amount in its steps (FM and
// rhythm 0.75 dB, SSG and PSG 3 dB, halves away from zero), a normalize
// target replaces the amount of its source; with -k the targets' amounts
// become one gain in dB, the one that lowers most, for every part the file
// has. `peaks` are those the targets normalize from (an album's in album
// mode), `own` the file's own. Nothing is clamped here but to int32.
FinalAmounts WorkOutAmounts(const VolumeSettings& settings, const PeakLevels& peaks,
                            const PeakLevels& own);

// The rewrite step's amounts: the final amounts with the settings' detail
// rows and, with -g or -k, every part.
RewriteAmounts RewriteAmountsOf(const VolumeSettings& settings, const FinalAmounts& amounts);

}  // namespace morla
