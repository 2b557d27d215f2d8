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
        const std::optional<PeakLevels>& albumPeaks, const RhythmRom* rhythmRom,
        std::shared_ptr<const SongLoudness> measured, const std::optional<LoudnessGain>& albumGain,
        LogSink& log, OutputRules& rules)
        : path_(path),
          settings_(settings),
          albumPeaks_(albumPeaks),
          rhythmRom_(rhythmRom),
          measured_(std::move(measured)),
          albumGain_(albumGain),
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
        if (settings_.loudnessMicroLufs) {
            if (NormalizeLoudness()) {
                Commit();
            }
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
            refusal_ = rules_.MakeOutputFolder(outputPath_, result_.failure);
        }
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
                                 output(), result_.message, tally_);
        if (outcome == FusedOutcome::GaveUp) {
            output_.reset();  // started again by the two passes
        }
        return outcome;
    }

    // The analysis walk, the PEAK row and amounts, then the rewrite walk.
    // The checking walk that measures the register peaks (the file's own,
    // kept in the result); false with its fault message when the stream
    // breaks. `algorithms` is where the walk left each channel.
    bool AnalyseStream(AlgorithmTable& algorithms, PeakLevels& peaks) {
        result_.message = FastAnalysisWalk(image_, layout_, algorithms, peaks);
        if (!result_.message.empty()) {
            return false;
        }
        result_.peaks = peaks;
        return true;
    }

    bool TwoPasses() {
        AlgorithmTable algorithms;
        PeakLevels peaks;
        if (!AnalyseStream(algorithms, peaks)) {
            return false;
        }
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
        if (!AnalyseStream(algorithms, peaks)) {
            return;
        }
        if (settings_.showDetail || settings_.peakOnly) {
            log_.Append(FormatPeakLine(peaks));
        }
        const std::shared_ptr<const SongLoudness> song = MeasureOnce();
        if (!song) {
            return;
        }
        AppendLoudnessRows(log_, *song);
        result_.loudness = song->meter;
        result_.song = song;
    }

    // The song rendered and metered (null, with the job's message, when no
    // meter could be had).
    std::shared_ptr<const SongLoudness> MeasureImage(const S98Image& image) {
        RenderSettings render;
        render.rhythmRom = rhythmRom_;
        SongLoudness song = MeasureSong(image, layout_, render);
        if (!song.measured) {
            result_.message = kMemoryAllocationError;
            return nullptr;
        }
        return std::make_shared<const SongLoudness>(std::move(song));
    }
    // The input's song: as an album's pre-pass measured it, else measured now.
    std::shared_ptr<const SongLoudness> MeasureOnce() {
        return measured_ ? measured_ : MeasureImage(image_);
    }

    // -L: the analysis walk (the PEAK row with -v), the song measured, the
    // gain chosen (or the album's), the rewrite by that gain, and the
    // loudness row: the result predicted from the measured figures when
    // every part moved by the gain, else the rewritten song measured again.
    // False when the job ends here.
    bool NormalizeLoudness() {
        AlgorithmTable algorithms;
        PeakLevels peaks;
        if (!AnalyseStream(algorithms, peaks)) {
            return false;
        }
        if (settings_.showDetail) {
            log_.Append(FormatPeakLine(peaks));
        }
        const std::shared_ptr<const SongLoudness> song = MeasureOnce();
        if (!song) {
            return false;
        }
        result_.song = song;
        result_.loudness = song->meter;
        const std::int64_t target = *settings_.loudnessMicroLufs;
        const LoudnessGain gain = albumGain_
                                      ? *albumGain_
                                      : ChooseLoudnessGain(song->figures, target,
                                                           settings_.truePeakCeilingMicroDb, peaks);
        settings_.gainMicroDb = gain.gainMicroDb;
        amounts_ = WorkOutAmounts(settings_, peaks, peaks);
        StartOutput();
        S98Image rewritten;
        const bool keep = gain.measurable && gain.gainMicroDb != 0;
        if (keep && !rewritten.Allocate(image_.size())) {
            result_.message = kMemoryAllocationError;
            return false;
        }
        tally_ = RewriteToOutput(image_, layout_, algorithms, RewriteAmountsOf(settings_, amounts_),
                                 log_, output(), keep ? &rewritten : nullptr);
        LoudnessFigures after = song->figures;
        if (keep && AnythingMoved(tally_)) {
            if (MovedAsPredicted(peaks, amounts_, tally_, layout_)) {
                const double db = static_cast<double>(gain.gainMicroDb) / 1e6;
                after.integratedLufs += db;
                after.truePeakDbtp += db;
                after.samplePeakDbfs += db;
            } else {
                const std::shared_ptr<const SongLoudness> again = MeasureImage(rewritten);
                if (!again) {
                    return false;
                }
                after = again->figures;
            }
        }
        // In album mode a song is held to the album's gain, not to the target.
        const double aim =
            albumGain_ ? song->figures.integratedLufs + static_cast<double>(gain.gainMicroDb) / 1e6
                       : static_cast<double>(target) / 1e6;
        loudnessRow_ =
            FormatLoudnessGainLine(song->figures, after, aim, albumGain_.has_value(), gain, tally_);
        result_.loudnessAfter = after;
        return true;
    }

    // The gain rows, after the summary row of a job that succeeded.
    void AppendGainRow() {
        AppendGainRows(log_, settings_, amounts_, result_.peaks.value_or(PeakLevels{}), layout_,
                       tally_);
        if (!loudnessRow_.empty()) {
            log_.Append(loudnessRow_);
        }
    }

    // The summary row; then the output renamed into place (or refused, or in
    // a dry run only noted) and, once it is, the gain rows.
    void Commit() {
        log_.Append(FormatSummaryLine(outputPath_, settings_, amounts_));
        if (settings_.quiet) {
            AppendClampedRow(log_, tally_);
        }
        result_.outputPath = outputPath_;
        result_.amounts = amounts_;
        result_.tally = tally_;
        if (MovesByOneGain(settings_)) {
            result_.gainMicroDb = amounts_.gainMicroDb;
        }
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
    VolumeSettings settings_;  // with -L, the gain chosen set in it
    const std::optional<PeakLevels>& albumPeaks_;
    const RhythmRom* rhythmRom_;
    const std::shared_ptr<const SongLoudness> measured_;
    const std::optional<LoudnessGain>& albumGain_;
    std::u16string loudnessRow_;
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
                     const RhythmRom* rhythmRom, std::shared_ptr<const SongLoudness> measured,
                     const std::optional<LoudnessGain>& albumGain) {
    return Job(path, settings, albumPeaks, rhythmRom, std::move(measured), albumGain, log, rules)
        .Run();
}

}  // namespace morla
