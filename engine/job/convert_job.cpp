#include "job/convert_job.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

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

namespace {

// The loudness of one step, in millionths of a dB: a total level (FM
// carriers, the rhythm) is 0.75 dB a step; an SSG volume about 3 dB (the
// chip's curve departs from that near silence).
constexpr std::int64_t kTotalLevelStep = 750000;
constexpr std::int64_t kSsgStep = 3000000;

// The steps nearest to `microDb` (halves away from zero), within int32.
std::int32_t StepsOf(std::int64_t microDb, std::int64_t step) {
    const std::int64_t magnitude = (std::abs(microDb) + step / 2) / step;
    const std::int64_t steps = microDb < 0 ? -magnitude : magnitude;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        steps, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

// Which parts a file has: those its own PEAK row shows.
struct PresentParts {
    bool fm, ssg, rhythm;
};
PresentParts PartsOf(const PeakLevels& own) {
    const PeakLevels none;
    return {own.fmPeak != none.fmPeak, own.ssgPeak != none.ssgPeak,
            own.rhythmPeak != none.rhythmPeak};
}

}  // namespace

void ApplyFinalAmounts(VolumeSettings& settings, const PeakLevels& peaks, const PeakLevels& own) {
    if (!settings.fmDownGiven) {
        settings.fmDown = 0;
    }
    if (!settings.ssgDownGiven) {
        settings.ssgDown = 0;
    }
    if (!settings.rhythmDownGiven) {
        settings.rhythmDown = 0;
    }
    settings.psgDown = 0;
    if (settings.gainGiven) {
        // a gain is negative for quieter, an amount positive
        settings.fmDown = settings.rhythmDown = StepsOf(-settings.gainMicroDb, kTotalLevelStep);
        settings.ssgDown = settings.psgDown = StepsOf(-settings.gainMicroDb, kSsgStep);
    }
    const std::int32_t fmPeak = settings.useSecondPeak ? peaks.fmSecondPeak : peaks.fmPeak;
    // FM levels are attenuations: the target counts up from silence, so a
    // target of 127 brings the loudest carrier to TL 0. Worked out in 64 bits:
    // a keep-balance gain multiplies them.
    const std::int64_t fmAmount = std::int64_t{127} - settings.fmTarget - fmPeak;
    const std::int64_t ssgAmount = std::int64_t{peaks.ssgPeak} - settings.ssgTarget;
    const std::int64_t rhythmAmount = std::int64_t{peaks.rhythmPeak} - settings.rhythmTarget;
    if (settings.keepBalance) {
        // The targets' amounts in dB; the one that lowers most serves every
        // part the file has, so no part ends louder than its target. A target
        // of a part that was not measured has no amount to give (its start
        // value would raise everything by tens of dB).
        const PresentParts measured = PartsOf(peaks);
        std::optional<std::int64_t> down;
        const auto take = [&](bool given, std::int64_t amount, std::int64_t step) {
            if (given) {
                down = std::max(down.value_or(amount * step), amount * step);
            }
        };
        take(settings.fmTargetGiven && measured.fm, fmAmount, kTotalLevelStep);
        take(settings.ssgTargetGiven && measured.ssg, ssgAmount, kSsgStep);
        take(settings.rhythmTargetGiven && measured.rhythm, rhythmAmount, kTotalLevelStep);
        const PresentParts present = PartsOf(own);
        const std::int64_t gain = down.value_or(0);
        settings.fmDown = present.fm ? StepsOf(gain, kTotalLevelStep) : 0;
        settings.ssgDown = present.ssg ? StepsOf(gain, kSsgStep) : 0;
        settings.rhythmDown = present.rhythm ? StepsOf(gain, kTotalLevelStep) : 0;
        settings.psgDown = StepsOf(gain, kSsgStep);
        return;
    }
    if (settings.fmTargetGiven) {
        settings.fmDown = static_cast<std::int32_t>(fmAmount);
    }
    if (settings.ssgTargetGiven) {
        settings.ssgDown = static_cast<std::int32_t>(ssgAmount);
    }
    if (settings.rhythmTargetGiven) {
        settings.rhythmDown = static_cast<std::int32_t>(rhythmAmount);
    }
}

std::u16string FormatGainLine(const VolumeSettings& settings, const PeakLevels& own,
                              bool declaresPsg) {
    if (!settings.gainGiven && !settings.keepBalance) {
        return {};
    }
    const PresentParts present = PartsOf(own);
    std::u16string line = u"gain:";
    std::u16string part;
    const auto add = [&](bool shown, const char* name, std::int32_t down, std::int64_t step) {
        if (shown) {
            // exact in millionths, so no step gives "-0.00"
            const std::int64_t microDb = -std::int64_t{down} * step;
            line += FormatLine(part, " %s=%+.2fdB", name, static_cast<double>(microDb) / 1e6);
        }
    };
    add(present.fm, "FM", settings.fmDown, kTotalLevelStep);
    add(present.ssg, "SSG", settings.ssgDown, kSsgStep);
    add(present.rhythm, "RHYTHM", settings.rhythmDown, kTotalLevelStep);
    add(declaresPsg, "PSG", settings.psgDown, kSsgStep);
    return line.size() > 5 ? line : std::u16string();
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
    ApplyFinalAmounts(settings, settings.normalizePeaks.value_or(peaks), peaks);
    return true;
}

RewriteAmounts AmountsOf(const VolumeSettings& settings) {
    return {settings.fmDown,     settings.ssgDown, settings.rhythmDown,
            settings.showDetail, settings.psgDown, settings.gainGiven || settings.keepBalance};
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
               !settings_.ssgTargetGiven && !settings_.rhythmTargetGiven && !settings_.gainGiven &&
               !settings_.keepBalance;  // the gain row names the parts the file has
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
        ApplyFinalAmounts(settings_, PeakLevels{}, PeakLevels{});
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
    // The gain row, after the summary row of a job that succeeded.
    void AppendGainRow() {
        const std::u16string gain =
            FormatGainLine(settings_, result_.peaks.value_or(PeakLevels{}), DeclaresPsg(layout_));
        if (!gain.empty()) {
            log_.Append(gain);
        }
    }

    void Commit() {
        log_.Append(FormatSummaryLine(outputPath_, settings_));
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
