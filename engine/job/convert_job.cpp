#include "job/convert_job.h"

#include "base/messages.h"
#include "base/text.h"
#include "passes/level_walks.h"
#include "passes/volume_rewrite.h"
#include "platform/file_io.h"

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

bool TakeMeasuredPeaks(VolumeSettings& settings, const PeakLevels& peaks, LogSink& log) {
    if (settings.showDetail || settings.peakOnly) {
        log.Append(FormatPeakLine(peaks));
    }
    if (settings.peakOnly) {
        return false;
    }
    ApplyFinalAmounts(settings, settings.normalizePeaks.value_or(peaks));
    return true;
}

RewriteAmounts AmountsOf(const VolumeSettings& settings) {
    return {settings.fmDown, settings.ssgDown, settings.rhythmDown, settings.showDetail};
}

namespace {

// One job from its input to its output, step by step. Each step returns
// false when the job ends there (with its message in the result, or, in
// peak-only mode, done).
class Job {
  public:
    Job(const std::u16string& path, VolumeSettings settings, LogSink& log, OutputRules& rules)
        : path_(path), settings_(std::move(settings)), log_(log), rules_(rules) {}

    JobResult Run() {
        if (!ValidateSettings() || !ReadInput() || !CheckHeader()) {
            return std::move(result_);
        }
        switch (AmountsKnownUpFront() ? FusedPass() : FusedOutcome::GaveUp) {
            case FusedOutcome::Done:
                break;
            case FusedOutcome::Fault:
                return std::move(result_);
            case FusedOutcome::GaveUp:
                if (!TwoPasses()) {
                    return std::move(result_);
                }
                break;
        }
        Commit();
        return std::move(result_);
    }

  private:
    bool ValidateSettings() {
        result_.message = morla::ValidateSettings(settings_);
        return result_.message.empty();
    }

    // The whole file in memory.
    bool ReadInput() {
        switch (ReadWholeFile(path_, image_, input_)) {
            case ReadStatus::Ok:
                return true;
            case ReadStatus::OpenError:
                result_.message = kInputOpenError;
                break;
            case ReadStatus::AllocationError:
                result_.message = kMemoryAllocationError;
                break;
            case ReadStatus::ReadError:
                result_.message = kInputReadError;
                break;
        }
        result_.failure = input_.failure;
        return false;
    }

    bool CheckHeader() {
        result_.message = ReadHeader(image_, layout_);
        if (!result_.message.empty()) {
            result_.failure = {path_, HeaderFaultReason(image_)};
        }
        return result_.message.empty();
    }

    // No normalize target and no PEAK row to print first: the amounts are
    // the options themselves, and one walk can check and rewrite.
    bool AmountsKnownUpFront() const {
        return !settings_.peakOnly && !settings_.showDetail && !settings_.fmTargetGiven &&
               !settings_.ssgTargetGiven && !settings_.rhythmTargetGiven;
    }

    // The output is made as the rewrite walks, so the batch is asked before
    // the walk; a refusal is still reported at the write step, after the rows.
    void StartOutput() {
        outputPath_ = rules_.OutputOf(path_);
        refusal_ = rules_.CheckOutput(outputPath_);
        if (refusal_.empty() && !rules_.DryRun()) {
            output_.emplace(outputPath_, input_.permissions);
        }
    }
    OutputFile* output() { return output_ ? &*output_ : nullptr; }

    FusedOutcome FusedPass() {
        ApplyFinalAmounts(settings_, PeakLevels{});
        StartOutput();
        const FusedOutcome outcome = FusedRewriteToOutput(image_, layout_, AmountsOf(settings_),
                                                          log_, output(), result_.message);
        if (outcome == FusedOutcome::GaveUp) {
            output_.reset();  // started again by the two passes
        }
        return outcome;
    }

    // The analysis walk, the PEAK row and amounts, then the rewrite walk.
    bool TwoPasses() {
        AlgorithmTable algorithms;
        PeakLevels peaks;
        result_.message = FastAnalysisWalk(image_, layout_, algorithms, peaks);
        if (!result_.message.empty()) {
            return false;
        }
        result_.peaks = peaks;
        if (!TakeMeasuredPeaks(settings_, peaks, log_)) {
            return false;
        }
        StartOutput();
        // The rewrite continues from the algorithms the analysis left.
        RewriteToOutput(image_, layout_, algorithms, AmountsOf(settings_), log_, output());
        return true;
    }

    // The summary row, then the output renamed into place (or refused, or in
    // a dry run only noted).
    void Commit() {
        log_.Append(FormatSummaryLine(outputPath_, settings_));
        if (!refusal_.empty()) {
            result_.message = refusal_;
            return;
        }
        if (rules_.DryRun()) {
            rules_.OutputPlanned(outputPath_);
            return;
        }
        const WriteOutcome written = output_->Commit();
        switch (written.status) {
            case WriteStatus::Ok:
                rules_.OutputWritten(written.written);
                return;
            case WriteStatus::OpenError:
                result_.message = kOutputOpenError;
                break;
            case WriteStatus::WriteError:
                result_.message = kOutputWriteError;
                break;
        }
        result_.failure = written.failure;
    }

    const std::u16string& path_;
    VolumeSettings settings_;
    LogSink& log_;
    OutputRules& rules_;
    JobResult result_;
    S98Image image_;
    InputFacts input_;
    S98Layout layout_;
    std::u16string outputPath_;
    std::u16string refusal_;
    std::optional<OutputFile> output_;
};

}  // namespace

JobResult ConvertJob(const std::u16string& path, VolumeSettings settings, LogSink& log,
                     OutputRules& rules) {
    return Job(path, std::move(settings), log, rules).Run();
}

}  // namespace morla
