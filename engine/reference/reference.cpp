#include "reference/reference.h"

#include "reference/command_walk.h"

namespace morla {

std::u16string AnalysisWalk(const S98Image& image, const S98Layout& layout,
                            AlgorithmTable& algorithms, PeakLevels& peaks) {
    // Measured into a local: its address never escapes the loop, so the
    // compiler can keep the peaks in registers.
    PeakLevels measured = peaks;
    std::u16string error = CommandWalk<WalkMode::Checking>(
        image, layout,
        [&](const S98Command& command) { AnalyseCommand(command, algorithms, measured); });
    peaks = measured;
    return error;
}

RewriteTally RewriteWalk(S98Image& image, const S98Layout& layout, AlgorithmTable& algorithms,
                         const RewriteAmounts& amounts, LogSink& log) {
    RewriteCommand rewrite(image, algorithms, amounts, log);
    CommandWalk<WalkMode::Trusting>(image, layout, rewrite);
    return rewrite.tally();
}

ImageOutcome ConvertImage(S98Image& image, VolumeSettings& settings, LogSink& log) {
    ImageOutcome outcome;
    S98Layout layout;
    outcome.error = ReadHeader(image, layout);
    if (!outcome.error.empty()) {
        return outcome;
    }
    AlgorithmTable algorithms;
    outcome.error = AnalysisWalk(image, layout, algorithms, outcome.peaks);
    if (!outcome.error.empty() || !TakeMeasuredPeaks(settings, outcome.peaks, log)) {
        return outcome;
    }
    // The rewrite continues from the algorithms the analysis left.
    outcome.tally = RewriteWalk(image, layout, algorithms, AmountsOf(settings), log);
    outcome.rewritten = true;
    return outcome;
}

}  // namespace morla
