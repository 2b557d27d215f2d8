#include "job/convert_job.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

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

constexpr std::int64_t kTotalLevelStep = kTotalLevelStepMicroDb;
constexpr std::int64_t kSsgStep = kSsgStepMicroDb;

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

// What bringing the SSG peak to `target` lowers it by, in millionths of a dB:
// by the AY's curve when an AY holds the loudest volume, else 3 dB a step.
std::int64_t SsgTargetAmount(const PeakLevels& peaks, std::int32_t target) {
    const std::int32_t peak = peaks.ssgPeak;
    const bool onAy =
        peaks.ay8910Peak == peak && peaks.chipSsgPeak < peak && peaks.ym2149Peak < peak;
    if (onAy && peak <= kSsgVolumeMax && target >= 0 && target <= kSsgVolumeMax) {
        return kAy8910Curve[peak] - kAy8910Curve[target];
    }
    return (std::int64_t{peak} - target) * kSsgStep;
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
    settings.finalGainMicroDb = 0;
    if (settings.gainGiven) {
        // a gain is negative for quieter, an amount positive
        settings.fmDown = settings.rhythmDown = StepsOf(-settings.gainMicroDb, kTotalLevelStep);
        settings.ssgDown = settings.psgDown = StepsOf(-settings.gainMicroDb, kSsgStep);
        settings.finalGainMicroDb = settings.gainMicroDb;
    }
    const std::int32_t fmPeak = settings.useSecondPeak ? peaks.fmSecondPeak : peaks.fmPeak;
    // FM levels are attenuations: the target counts up from silence, so a
    // target of 127 brings the loudest carrier to TL 0. Worked out in 64 bits:
    // a keep-balance gain multiplies them.
    const std::int64_t fmAmount = std::int64_t{kTotalLevelMax} - settings.fmTarget - fmPeak;
    const std::int64_t ssgAmount = std::int64_t{peaks.ssgPeak} - settings.ssgTarget;
    const std::int64_t rhythmAmount = std::int64_t{peaks.rhythmPeak} - settings.rhythmTarget;
    if (settings.keepBalance) {
        // The targets' amounts in dB; the one that lowers most serves every
        // part the file has, so no part ends louder than its target. A target
        // of a part that was not measured has no amount to give (its start
        // value would raise everything by tens of dB).
        const PresentParts measured = PartsOf(peaks);
        std::optional<std::int64_t> down;
        const auto take = [&](bool given, std::int64_t microDb) {
            if (given) {
                down = std::max(down.value_or(microDb), microDb);
            }
        };
        take(settings.fmTargetGiven && measured.fm, fmAmount * kTotalLevelStep);
        take(settings.ssgTargetGiven && measured.ssg, SsgTargetAmount(peaks, settings.ssgTarget));
        take(settings.rhythmTargetGiven && measured.rhythm, rhythmAmount * kTotalLevelStep);
        const PresentParts present = PartsOf(own);
        const std::int64_t gain = down.value_or(0);
        settings.fmDown = present.fm ? StepsOf(gain, kTotalLevelStep) : 0;
        settings.ssgDown = present.ssg ? StepsOf(gain, kSsgStep) : 0;
        settings.rhythmDown = present.rhythm ? StepsOf(gain, kTotalLevelStep) : 0;
        settings.psgDown = StepsOf(gain, kSsgStep);
        settings.finalGainMicroDb = -gain;
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

namespace {

// One part of the gain row: " FM=+3.00dB" and what held it back. `microDb`
// is the move the part's writes got.
void AddPart(std::u16string& line, const char* name, std::int64_t microDb, const PartTally& tally) {
    std::u16string part;
    if (!tally.moved && tally.clamped != 0) {
        line += FormatLine(part, " %s=+0.00dB (already at its loudest)", name);
        return;
    }
    // exact in millionths, so no step gives "-0.00"
    const double db = static_cast<double>(microDb) / 1e6;
    line += FormatLine(part, " %s=%+.2fdB", name, std::abs(db) < 0.005 ? 0.0 : db);
    if (tally.clamped != 0) {
        line += FormatLine(part,
                           tally.clamped == 1 ? " (%llu write clamped)" : " (%llu writes clamped)",
                           static_cast<unsigned long long>(tally.clamped));
    }
}

// The move of a part that moves in whole steps: `down` steps, unless no write
// got the whole of it; then the most a clamped write got.
std::int64_t StepMove(std::int32_t down, std::int64_t step, const PartTally& tally) {
    if (!tally.full && tally.clamped != 0) {
        return std::int64_t{tally.clampedMove} * step;
    }
    return -std::int64_t{down} * step;
}

// The move of a part that moves by a curve or in proportion, by its map and
// its level of each value, in millionths of a dB: that of the loudest value
// written that the top did not hold back, or when the top held every one, of
// the loudest value written; `otherwise` when nothing was written.
template <class Map, class Written, class LevelOf>
std::int64_t LoudestMove(const Map& map, const Written& written, std::int64_t otherwise,
                         LevelOf levelOf) {
    std::optional<int> loudest;
    for (int value = static_cast<int>(written.size()) - 1; value >= 1; --value) {
        if (written[value]) {
            if (!map.over[value]) {
                return levelOf(map.to[value]) - levelOf(value);
            }
            loudest = loudest.value_or(value);
        }
    }
    return loudest ? levelOf(map.to[*loudest]) - levelOf(*loudest) : otherwise;
}

}  // namespace

void AppendGainRows(LogSink& log, const VolumeSettings& settings, const PeakLevels& own,
                    const S98Layout& layout, const RewriteTally& tally) {
    if (!settings.gainGiven && !settings.keepBalance) {
        return;
    }
    const PresentParts present = PartsOf(own);
    const std::int64_t gain = settings.finalGainMicroDb;
    std::u16string line = u"gain:";
    if (present.fm) {
        AddPart(line, "FM", StepMove(settings.fmDown, kTotalLevelStep, tally.fm), tally.fm);
    }
    if (own.chipSsgPeak != -1) {
        AddPart(line, "SSG", StepMove(settings.ssgDown, kSsgStep, tally.ssg), tally.ssg);
    }
    if (present.rhythm) {
        AddPart(line, "RHYTHM", StepMove(settings.rhythmDown, kTotalLevelStep, tally.rhythm),
                tally.rhythm);
    }
    if (own.ay8910Peak != -1) {
        AddPart(line, "PSG",
                LoudestMove(VolumeMapFor(kAy8910Curve, gain), tally.ay8910Volumes, gain,
                            [](int volume) { return kAy8910Curve[volume]; }),
                tally.psg);
    } else if (own.ym2149Peak != -1) {
        AddPart(line, "PSG", StepMove(settings.psgDown, kSsgStep, tally.psg), tally.psg);
    }
    if (own.adpcmPeak > 0) {
        AddPart(line, "ADPCM",
                LoudestMove(AdpcmMapFor(gain), tally.adpcmLevels, gain,
                            [](int level) {
                                // silence counts as half of level 1, as the
                                // rounding does
                                return std::llround(20e6 * std::log10(level == 0 ? 0.5 : level));
                            }),
                tally.adpcm);
    }
    if (line.size() > 5) {
        log.Append(line);
    }

    // What no gain reaches.
    std::u16string notMoved;
    std::u16string part;
    const auto name = [&](std::u16string_view what) {
        notMoved += notMoved.empty() ? u"not moved: " : u", ";
        notMoved += what;
    };
    if (tally.envelopeWrites != 0) {
        name(FormatLine(
            part,
            tally.envelopeWrites == 1 ? "SSG envelope (%llu write)" : "SSG envelope (%llu writes)",
            static_cast<unsigned long long>(tally.envelopeWrites)));
    }
    if (tally.dacOn) {
        name(u"DAC");
    }
    std::vector<std::int32_t> named;
    for (int device = 0; device < kDeviceIndexCount; ++device) {
        const std::int32_t type = layout.devices.type[device];
        if (!layout.devices.declared[device] || type == 0 ||
            RewritesDevice(RewriteAmounts{.everyPart = true}, type) ||
            std::find(named.begin(), named.end(), type) != named.end()) {
            continue;
        }
        named.push_back(type);
        const char* const chip = DeviceTypeName(type);
        name(chip != nullptr ? FormatLine(part, "%s", chip)
                             : FormatLine(part, "device type %d", type));
    }
    if (!notMoved.empty()) {
        log.Append(notMoved);
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
    ApplyFinalAmounts(settings, settings.normalizePeaks.value_or(peaks), peaks);
    return true;
}

RewriteAmounts AmountsOf(const VolumeSettings& settings) {
    return {settings.fmDown,          settings.ssgDown, settings.rhythmDown,
            settings.showDetail,      settings.psgDown, settings.gainGiven || settings.keepBalance,
            settings.finalGainMicroDb};
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
        tally_ = RewriteToOutput(image_, layout_, algorithms, AmountsOf(settings_), log_, output());
        return true;
    }

    // The gain rows, after the summary row of a job that succeeded.
    void AppendGainRow() {
        AppendGainRows(log_, settings_, result_.peaks.value_or(PeakLevels{}), layout_, tally_);
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
    RewriteTally tally_;
};

}  // namespace

JobResult ConvertJob(const std::u16string& path, VolumeSettings settings, LogSink& log,
                     OutputRules& rules) {
    return Job(path, std::move(settings), log, rules).Run();
}

}  // namespace morla
