#include "job/convert_job.h"

#include "base/messages.h"
#include "job/amounts.h"
#include "job/report_rows.h"
#include "passes/level_walks.h"
#include "passes/volume_rewrite.h"
#include "platform/file_io.h"

namespace morla {

namespace {

// One job from its input to its output, step by step. Each step returns
// false when the job ends there (with its message in the result, or, in
// peak-only mode, done).
class Job {
  public:
    Job(const std::u16string& path, const VolumeSettings& settings,
        const std::optional<PeakLevels>& albumPeaks, const RhythmRom* rhythmRom, LogSink& log,
        OutputRules& rules)
        : path_(path),
          settings_(settings),
          albumPeaks_(albumPeaks),
          rhythmRom_(rhythmRom),
          log_(log),
          rules_(rules) {}

    JobResult Run() {
        if (!ValidateSettings() || !ReadInput() || !CheckHeader()) {
            return std::move(result_);
        }
        if (settings_.measure) {
            Measure();
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
        return !settings_.peakOnly && !settings_.showDetail && !HasTarget(settings_) &&
               !MovesByOneGain(settings_);  // the gain row names the parts the file has
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
        amounts_ = WorkOutAmounts(settings_, PeakLevels{}, PeakLevels{});
        StartOutput();
        const FusedOutcome outcome =
            FusedRewriteToOutput(image_, layout_, RewriteAmountsOf(settings_, amounts_), log_,
                                 output(), result_.message);
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
        if (!TakeMeasuredPeaks(peaks)) {
            return false;
        }
        StartOutput();
        // The rewrite continues from the algorithms the analysis left.
        tally_ = RewriteToOutput(image_, layout_, algorithms, RewriteAmountsOf(settings_, amounts_),
                                 log_, output());
        return true;
    }

    // The step after the analysis walk: the PEAK row when -v or -p asks for
    // it; then, unless only the peaks were asked for, the final amounts (from
    // the album's peaks in album mode). False in peak-only mode, where the job
    // ends here.
    bool TakeMeasuredPeaks(const PeakLevels& peaks) {
        if (settings_.showDetail || settings_.peakOnly) {
            log_.Append(FormatPeakLine(peaks));
        }
        if (settings_.peakOnly) {
            return false;
        }
        amounts_ = WorkOutAmounts(settings_, albumPeaks_.value_or(peaks), peaks);
        return true;
    }

    // -m: the checking walk (the PEAK row with -v or -p), then the song
    // rendered and metered; nothing is written.
    void Measure() {
        AlgorithmTable algorithms;
        PeakLevels peaks;
        result_.message = FastAnalysisWalk(image_, layout_, algorithms, peaks);
        if (!result_.message.empty()) {
            return;
        }
        result_.peaks = peaks;
        if (settings_.showDetail || settings_.peakOnly) {
            log_.Append(FormatPeakLine(peaks));
        }
        RenderSettings render;
        render.rhythmRom = rhythmRom_;
        const SongLoudness song = MeasureSong(image_, layout_, render);
        if (!song.measured) {
            result_.message = kMemoryAllocationError;
            return;
        }
        AppendLoudnessRows(log_, song);
        result_.loudness = song.meter;
    }

    // The gain rows, after the summary row of a job that succeeded.
    void AppendGainRow() {
        AppendGainRows(log_, settings_, amounts_, result_.peaks.value_or(PeakLevels{}), layout_,
                       tally_);
    }

    // The summary row; then the output renamed into place (or refused, or in
    // a dry run only noted) and, once it is, the gain rows.
    void Commit() {
        log_.Append(FormatSummaryLine(outputPath_, settings_, amounts_));
        if (!refusal_.empty()) {
            result_.message = refusal_;
            return;
        }
        if (rules_.DryRun()) {
            rules_.OutputPlanned(outputPath_);
            AppendGainRow();
            return;
        }
        const WriteOutcome written = output_->Commit(!rules_.DefersFolderFlush());
        switch (written.status) {
            case WriteStatus::Ok:
                rules_.OutputWritten(written.written);
                result_.pendingFlush = written.pendingFlush;
                AppendGainRow();
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
    const VolumeSettings& settings_;
    const std::optional<PeakLevels>& albumPeaks_;
    const RhythmRom* rhythmRom_;
    FinalAmounts amounts_;
    LogSink& log_;
    OutputRules& rules_;
    JobResult result_;
    S98Image image_;
    InputFacts input_;
    S98Layout layout_;
    std::u16string outputPath_;
    std::u16string refusal_;
    std::optional<OutputFile> output_;
    RewriteTally tally_;
};

}  // namespace

JobResult ConvertJob(const std::u16string& path, const VolumeSettings& settings, LogSink& log,
                     OutputRules& rules, const std::optional<PeakLevels>& albumPeaks,
                     const RhythmRom* rhythmRom) {
    return Job(path, settings, albumPeaks, rhythmRom, log, rules).Run();
}

}  // namespace morla
