// One file, from settings to output: read, check, measure, rewrite, write.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/log_sink.h"
#include "format/s98_image.h"
#include "passes/peak_analysis.h"
#include "passes/volume_rewrite.h"
#include "platform/file_io.h"

namespace morla {

// The options of one job, as the window's check boxes and number fields give
// them. After the analysis the three down fields hold the final amounts.
struct VolumeSettings {
    std::int32_t fmDown = 0;
    std::int32_t ssgDown = 0;
    std::int32_t rhythmDown = 0;
    std::int32_t fmTarget = -1;
    std::int32_t ssgTarget = -1;
    std::int32_t rhythmTarget = -1;
    bool fmDownGiven = false;
    bool ssgDownGiven = false;
    bool rhythmDownGiven = false;
    bool fmTargetGiven = false;
    bool ssgTargetGiven = false;
    bool rhythmTargetGiven = false;
    bool showDetail = false;
    bool peakOnly = false;
    bool useSecondPeak = false;
    // -g: one gain for every part, in millionths of a dB (negative is quieter).
    bool gainGiven = false;
    std::int64_t gainMicroDb = 0;
    // -k: the normalize targets worked out as one gain for every part.
    bool keepBalance = false;
    // The final amount for stand-alone YM2149s, moved only with -g or -k, by
    // the SSG's steps.
    std::int32_t psgDown = 0;
    // With -g or -k, the one gain worked out for every part, in millionths of
    // a dB: the AY-3-8910's volumes follow it by their own curve, the ADPCM
    // level in proportion.
    std::int64_t finalGainMicroDb = 0;
    // Album mode: the normalize amounts come from these peaks (the album's)
    // instead of the file's own. The PEAK line still shows the file's own.
    std::optional<PeakLevels> normalizePeaks = std::nullopt;
};

// Checks the normalize targets; the empty text or the range message.
std::u16string ValidateSettings(const VolumeSettings& settings);

// Turns the options and the measured peaks into the final down amounts:
// unticked amounts are 0, a gain (-g) sets every part's amount in its steps
// (FM and rhythm 0.75 dB, SSG and PSG 3 dB, halves away from zero), a
// normalize target replaces the amount of its source; with -k the targets'
// amounts become one gain in dB, the one that lowers most, for every part the
// file has (`own`: the file's own peaks; `peaks` may be an album's). Nothing
// is clamped here.
void ApplyFinalAmounts(VolumeSettings& settings, const PeakLevels& peaks, const PeakLevels& own);

// With -g or -k, the rows after the summary of a job whose rewrite `tally`
// says what it did: "gain:" and what each part the file has was moved by
// (" FM=-6.00dB": steps times step size; the AY and the ADPCM level by the move
// of their loudest value), with the writes held at the part's loudest value
// (" (12 writes clamped)", or " (already at its loudest)" when none moved);
// then "not moved:" and what no gain reaches (SSG channels in envelope mode,
// an OPN2's DAC, devices of other types), when the file has any.
void AppendGainRows(LogSink& log, const VolumeSettings& settings, const PeakLevels& own,
                    const S98Layout& layout, const RewriteTally& tally);

// The step after the analysis walk, the same in every job: the PEAK row when
// -v or -p asks for it; then, unless only the peaks were asked for, the final
// amounts (from the album's peaks in album mode). False in peak-only mode,
// where the job ends here.
bool TakeMeasuredPeaks(VolumeSettings& settings, const PeakLevels& peaks, LogSink& log);

// The rewrite step's amounts of final settings.
RewriteAmounts AmountsOf(const VolumeSettings& settings);

// The output name: the input path with the extension of its file-name part
// replaced by "_new.s98" (a name with no '.' after its first character gets
// the suffix appended). A '.' in a folder name is never cut.
std::u16string OutputPathFor(std::u16string_view inputPath);

// "output file:<name>  volume down:" with the FM, SSG and RHYTHM parts.
std::u16string FormatSummaryLine(std::u16string_view outputPath, const VolumeSettings& settings);

// Where a job's output goes, and what its batch decides about it (see
// ConvertBatch).
class OutputRules {
  public:
    virtual ~OutputRules() = default;
    // The output's path for the input at `inputPath`.
    virtual std::u16string OutputOf(const std::u16string& inputPath) const = 0;
    // At the write step, before anything is written: the empty text when the
    // job may write `outputPath`, else the job's message.
    virtual std::u16string CheckOutput(const std::u16string& outputPath) = 0;
    // The job has written its output, now the file `written`.
    virtual void OutputWritten(const FileStamp& written) = 0;
    // A dry run: the job takes every step but the write, and reports here
    // the output it would have written.
    virtual bool DryRun() const { return false; }
    virtual void OutputPlanned(const std::u16string& /*outputPath*/) {}
    // Whether the job leaves its output's folder flush to the batch
    // (JobResult::pendingFlush), which then flushes before it reports the job.
    virtual bool DefersFolderFlush() const { return false; }
};

// How a job ended.
struct JobResult {
    std::u16string message;           // empty on success, else the job's one message
    FileFailure failure;              // the system's reason, when a file operation failed
    std::optional<PeakLevels> peaks;  // the file's own, once its analysis walk completed
    // An output written but not yet durable: its folder's flush is the
    // batch's to do before the job is reported (DefersFolderFlush).
    std::optional<PendingFolderFlush> pendingFlush;
};

// Runs one job on the file at `path`, under the output rules of its batch.
// The input is only read; on failure nothing is written.
JobResult ConvertJob(const std::u16string& path, VolumeSettings settings, LogSink& log,
                     OutputRules& rules);

}  // namespace morla
