#include "convert_job.h"

#include "convert_batch.h"
#include "file_io.h"
#include "level_walks.h"
#include "messages.h"
#include "text.h"
#include "volume_rewrite.h"

namespace morla {

std::u16string ValidateSettings(const VolumeSettings& settings) {
    if (settings.fmTargetGiven && (settings.fmTarget < 0 || settings.fmTarget > 127)) {
        return kFmTargetRangeError;
    }
    if (settings.ssgTargetGiven && (settings.ssgTarget < 0 || settings.ssgTarget > 15)) {
        return kSsgTargetRangeError;
    }
    if (settings.rhythmTargetGiven && (settings.rhythmTarget < 0 || settings.rhythmTarget > 63)) {
        return kRhythmTargetRangeError;
    }
    return {};
}

void ApplyFinalAmounts(VolumeSettings& settings, const PeakLevels& peaks) {
    if (!settings.fmDownGiven) {
        settings.fmDown = 0;
    }
    if (!settings.ssgDownGiven) {
        settings.ssgDown = 0;
    }
    if (!settings.rhythmDownGiven) {
        settings.rhythmDown = 0;
    }
    const std::int32_t fmPeak = settings.useSecondPeak ? peaks.fmSecondPeak : peaks.fmPeak;
    // FM levels are attenuations: the target counts up from silence, so a
    // target of 127 brings the loudest carrier to TL 0.
    if (settings.fmTargetGiven) {
        settings.fmDown = 127 - settings.fmTarget - fmPeak;
    }
    if (settings.ssgTargetGiven) {
        settings.ssgDown = peaks.ssgPeak - settings.ssgTarget;
    }
    if (settings.rhythmTargetGiven) {
        settings.rhythmDown = peaks.rhythmPeak - settings.rhythmTarget;
    }
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
    if (!outcome.error.empty()) {
        return outcome;
    }
    if (settings.showDetail || settings.peakOnly) {
        log.Append(FormatPeakLine(outcome.peaks));
    }
    if (settings.peakOnly) {
        return outcome;
    }

    ApplyFinalAmounts(settings, settings.normalizePeaks.value_or(outcome.peaks));
    // The rewrite continues from the algorithms the analysis left.
    const RewriteAmounts amounts{settings.fmDown, settings.ssgDown, settings.rhythmDown,
                                 settings.showDetail};
    RewriteWalk(image, layout, algorithms, amounts, log);
    outcome.rewritten = true;
    return outcome;
}

std::u16string OutputPathFor(std::u16string_view inputPath) {
    const std::u16string_view name = FileNamePart(inputPath);
    const std::size_t folderLength = inputPath.size() - name.size();
    const std::size_t dot = name.rfind(u'.');
    std::u16string output(inputPath);
    if (dot != std::u16string_view::npos && dot != 0) {
        output.resize(folderLength + dot);
    }
    output += u"_new.s98";
    return output;
}

std::u16string FormatSummaryLine(std::u16string_view outputPath, const VolumeSettings& settings) {
    std::u16string line = u"output file:";
    line += FileNamePart(outputPath);
    line += u"  volume down:";
    std::u16string part;
    if (settings.fmDown != 0 || settings.fmTargetGiven) {
        line += FormatLine(part, " FM=%d", settings.fmDown);
    }
    if (settings.ssgDown != 0 || settings.ssgTargetGiven) {
        line += FormatLine(part, " SSG=%d", settings.ssgDown);
    }
    if (settings.rhythmDown != 0 || settings.rhythmTargetGiven) {
        line += FormatLine(part, " RHYTHM=%d", settings.rhythmDown);
    }
    return line;
}

JobResult ConvertJob(const std::u16string& path, VolumeSettings settings, LogSink& log,
                     OutputRules& rules) {
    JobResult result;
    result.message = ValidateSettings(settings);
    if (!result.message.empty()) {
        return result;
    }

    S98Image image;
    InputFacts input;
    switch (ReadWholeFile(path, image, input)) {
        case ReadStatus::Ok:
            break;
        case ReadStatus::OpenError:
            result.message = kInputOpenError;
            break;
        case ReadStatus::AllocationError:
            result.message = kMemoryAllocationError;
            break;
        case ReadStatus::ReadError:
            result.message = kInputReadError;
            break;
    }
    if (!result.message.empty()) {
        result.failure = input.failure;
        return result;
    }

    S98Layout layout;
    result.message = ReadHeader(image, layout);
    if (!result.message.empty()) {
        return result;
    }

    // The output is made as the rewrite walks, so the batch is asked before
    // the walk; a refusal is still reported at the write step, after the rows.
    const std::u16string outputPath = rules.OutputOf(path);
    std::u16string refusal;
    std::optional<OutputFile> output;
    const auto startOutput = [&] {
        refusal = rules.CheckOutput(outputPath);
        if (refusal.empty()) {
            output.emplace(outputPath, input.permissions);
        }
    };
    const auto amountsOf = [](const VolumeSettings& final) {
        return RewriteAmounts{final.fmDown, final.ssgDown, final.rhythmDown, final.showDetail};
    };

    // Amounts known up front (no normalize target, no PEAK row to print
    // first): one walk checks and rewrites.
    bool rewritten = false;
    if (!settings.peakOnly && !settings.showDetail && !settings.fmTargetGiven &&
        !settings.ssgTargetGiven && !settings.rhythmTargetGiven) {
        ApplyFinalAmounts(settings, PeakLevels{});
        startOutput();
        switch (FusedRewriteToOutput(image, layout, amountsOf(settings), log,
                                     output ? &*output : nullptr, result.message)) {
            case FusedOutcome::Done:
                rewritten = true;
                break;
            case FusedOutcome::Fault:
                return result;
            case FusedOutcome::GaveUp:
                output.reset();  // started again by the two passes
                break;
        }
    }
    if (!rewritten) {
        AlgorithmTable algorithms;
        PeakLevels peaks;
        result.message = FastAnalysisWalk(image, layout, algorithms, peaks);
        if (!result.message.empty()) {
            return result;
        }
        result.peaks = peaks;
        if (settings.showDetail || settings.peakOnly) {
            log.Append(FormatPeakLine(peaks));
        }
        if (settings.peakOnly) {
            return result;
        }
        ApplyFinalAmounts(settings, settings.normalizePeaks.value_or(peaks));
        startOutput();
        // The rewrite continues from the algorithms the analysis left.
        RewriteToOutput(image, layout, algorithms, amountsOf(settings), log,
                        output ? &*output : nullptr);
    }

    log.Append(FormatSummaryLine(outputPath, settings));
    if (!refusal.empty()) {
        result.message = refusal;
        return result;
    }
    const WriteOutcome written = output->Commit();
    switch (written.status) {
        case WriteStatus::Ok:
            rules.OutputWritten(written.written);
            return result;
        case WriteStatus::OpenError:
            result.message = kOutputOpenError;
            break;
        case WriteStatus::WriteError:
            result.message = kOutputWriteError;
            break;
    }
    result.failure = written.failure;
    return result;
}

std::u16string ConvertJob(const std::u16string& path, VolumeSettings settings, LogSink& log) {
    ConvertBatch batch({path});
    return batch.RunJob(0, settings, log).message;
}

}  // namespace morla
