#include "reference/reference.h"

#include "job/report_rows.h"
#include "reference/amounts.h"
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

ImageOutcome ConvertImage(S98Image& image, const VolumeSettings& settings, LogSink& log) {
    ImageOutcome outcome;
    S98Layout layout;
    outcome.error = ReadHeader(image, layout);
    if (!outcome.error.empty()) {
        return outcome;
    }
    AlgorithmTable algorithms;
    outcome.error = AnalysisWalk(image, layout, algorithms, outcome.peaks);
    if (!outcome.error.empty()) {
        return outcome;
    }
    if (settings.showDetail || settings.peakOnly) {
        log.Append(FormatPeakLine(outcome.peaks));
    }
    if (settings.peakOnly) {
        return outcome;
    }
    outcome.amounts = ReferenceAmounts(settings, outcome.peaks, outcome.peaks);
    RewriteAmounts amounts;
    amounts.fmDown = outcome.amounts.fmDown;
    amounts.ssgDown = outcome.amounts.ssgDown;
    amounts.rhythmDown = outcome.amounts.rhythmDown;
    amounts.psgDown = outcome.amounts.psgDown;
    amounts.gainMicroDb = outcome.amounts.gainMicroDb;
    amounts.showDetail = settings.showDetail;
    // with -g or -k the stand-alone PSGs and the ADPCM level move too
    amounts.everyPart = settings.gainMicroDb.has_value() || settings.keepBalance;
    // The rewrite continues from the algorithms the analysis left.
    outcome.tally = RewriteWalk(image, layout, algorithms, amounts, log);
    outcome.rewritten = true;
    return outcome;
}

}  // namespace morla
