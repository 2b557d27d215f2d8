// One file, from settings to output: read, check, measure, work out the
// amounts, rewrite, write.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "base/log_sink.h"
#include "job/amounts.h"
#include "job/loudness_gain.h"
#include "job/output_rules.h"
#include "job/settings.h"
#include "passes/peak_analysis.h"
#include "passes/volume_rewrite.h"
#include "platform/file_io.h"
#include "render/loudness.h"

namespace morla {

// How a job ended.
struct JobResult {
    std::u16string message;           // empty on success, else the job's one message
    FileFailure failure;              // the system's reason, when a file operation failed
    std::optional<PeakLevels> peaks;  // the file's own, once its analysis walk completed
    // An output written but not yet durable: its folder's flush is the
    // batch's to do before the job is reported (DefersFolderFlush).
    std::optional<PendingFolderFlush> pendingFlush;
    // With -m, the song's meter once it was measured (an album's loudness is
    // measured over its songs' meters).
    std::shared_ptr<const LoudnessMeter> loudness;
    // With -m and -L, the song as measured (an album's pre-pass keeps it, so
    // that the song's own job does not render it again).
    std::shared_ptr<const SongLoudness> song;
    // What a job that got as far as its rewrite did, for machine-readable
    // reports: the output it wrote (or, in a dry run, would have), the final
    // amounts, one gain of every part (-g, -k, -L) in millionths of a dB,
    // what the rewrite did part by part, and with -L the loudness after it.
    std::u16string outputPath;
    std::optional<FinalAmounts> amounts;
    std::optional<std::int64_t> gainMicroDb;
    std::optional<RewriteTally> tally;
    std::optional<LoudnessFigures> loudnessAfter;
};

// Runs one job on the file at `path`, under the output rules of its batch.
// The input is only read; on failure nothing is written. In album mode the
// normalize amounts come from `albumPeaks` (the album's) instead of the
// file's own; the PEAK row still shows the file's own. With -m the song is
// rendered and measured instead, the OPNA's rhythm from `rhythmRom` (null:
// the stand-in), and nothing is written. With -L the song is measured the
// same way (or taken as `measured` when an album's pre-pass measured it),
// then rewritten by one gain: its own, chosen for the target, or in album
// mode `albumGain`, the album's.
JobResult ConvertJob(const std::u16string& path, const VolumeSettings& settings, LogSink& log,
                     OutputRules& rules, const std::optional<PeakLevels>& albumPeaks = std::nullopt,
                     const RhythmRom* rhythmRom = nullptr,
                     std::shared_ptr<const SongLoudness> measured = nullptr,
                     const std::optional<LoudnessGain>& albumGain = std::nullopt);

}  // namespace morla
