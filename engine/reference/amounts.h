// The reference arithmetic of a job's amounts: the rules of how options and
// measured peaks turn into each part's amount, written out plainly, one rule
// after another. Not part of the product: the job's own arithmetic
// (job/amounts.h) is held to it by the tests and the fuzz target.
#pragma once

#include "job/amounts.h"
#include "job/settings.h"
#include "passes/peak_analysis.h"

namespace morla {

// The final amounts of a job with `settings` on a file whose own peaks are
// `own`, its normalize targets taken from `peaks` (the album's in album mode,
// else the file's own).
FinalAmounts ReferenceAmounts(const VolumeSettings& settings, const PeakLevels& peaks,
                              const PeakLevels& own);

}  // namespace morla
