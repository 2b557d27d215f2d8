// The passes of a job on the production walk (decode/level_write_walk.h),
// with the output made as it is written: the analysis walk, the rewrite walk
// after it, and the one fused pass that checks and rewrites at once when the
// amounts are known up front. Each gives exactly the rows and bytes of the
// reference passes (reference/reference.h).
#pragma once

#include <cstdint>
#include <string>

#include "base/log_sink.h"
#include "format/chip_model.h"
#include "format/s98_image.h"
#include "passes/peak_analysis.h"
#include "passes/volume_rewrite.h"
#include "platform/file_io.h"

namespace morla {

// The analysis pass: the checking walk measuring the peaks and following the
// algorithms. Returns the empty text or the stream's fault.
std::u16string FastAnalysisWalk(const S98Image& image, const S98Layout& layout,
                                AlgorithmTable& algorithms, PeakLevels& peaks);

// The rewrite pass after the analysis: the trusting walk, continuing from the
// algorithms the analysis left. Its rows go to `log` as they arise; the
// rewritten file goes to `output` (when given) 256 KiB at a time, and to
// `rewritten` (when given: an image of the same size) whole. The image is
// not changed. Returns what the rewrite did, part by part.
RewriteTally RewriteToOutput(const S98Image& image, const S98Layout& layout,
                             AlgorithmTable& algorithms, const RewriteAmounts& amounts,
                             LogSink& log, OutputFile* output, S98Image* rewritten = nullptr);

enum class FusedOutcome {
    Done,    // the rows are in the log and the file is in `output`
    Fault,   // the stream has a fault: `error` holds it; no row was logged
    GaveUp,  // too much to hold back: nothing was logged; run the two passes
};

// Checks and rewrites in one walk, for amounts known before the analysis (no
// normalize target, no detail rows). The PEAK OVER rows are held back until
// the walk completes, so a fault logs nothing but its error. Carrier TL
// writes cannot be judged before their channel's first algorithm write: they
// are kept in a list and decided at the end by the algorithm the stream ends
// with, as the rewrite pass after an analysis would. When the rows or that
// list grow beyond a few MiB the pass gives up, leaving `output` to be
// started again; the image is never changed.
// `tally` says what the walk did when it is Done.
FusedOutcome FusedRewriteToOutput(const S98Image& image, const S98Layout& layout,
                                  const RewriteAmounts& amounts, LogSink& log, OutputFile* output,
                                  std::u16string& error, RewriteTally& tally);

}  // namespace morla
