// The rows a job reports beside its file's name: the PEAK row, the summary
// row with the final amounts, and with -g or -k the gain rows.
#pragma once

#include <string>
#include <string_view>

#include "base/log_sink.h"
#include "format/s98_image.h"
#include "job/amounts.h"
#include "job/settings.h"
#include "passes/peak_analysis.h"
#include "passes/volume_rewrite.h"
#include "render/loudness.h"

namespace morla {

// "PEAK:" followed by the FM, SSG and rhythm parts of what was measured
// (an album's row puts "ALBUM " before it).
std::u16string FormatPeakLine(const PeakLevels& peaks);

// "output file:<name>  volume down:" with the FM, SSG and RHYTHM amounts that
// are not 0 or whose target is ticked.
std::u16string FormatSummaryLine(std::u16string_view outputPath, const VolumeSettings& settings,
                                 const FinalAmounts& amounts);

// With -g or -k, the rows after the summary of a job whose rewrite `tally`
// says what it did: "gain:" and what each part the file has was moved by
// (" FM=-6.00dB": steps times step size; the AY and the ADPCM level by the move
// of their loudest value), with the writes held at the part's loudest value
// (" (12 writes clamped)", or " (already at its loudest)" when none moved);
// then "not moved:" and what no gain reaches (SSG channels in envelope mode,
// an OPN2's DAC, devices of other types), when the file has any. `own` are
// the file's own peaks.
void AppendGainRows(LogSink& log, const VolumeSettings& settings, const FinalAmounts& amounts,
                    const PeakLevels& own, const S98Layout& layout, const RewriteTally& tally);

// With -q, after the summary: "clamped: FM 812 writes, SSG 1 write", the
// writes each part held at its loudest value short of the amount, when any
// part held any.
void AppendClampedRow(LogSink& log, const RewriteTally& tally);

// With -m, the rows of a song's loudness as heard:
//   "LOUDNESS: -14.2 LUFS  RANGE=6.3 LU  TRUE PEAK=-2.9 dBTP  SAMPLE PEAK=-3.1 dBFS"
//   ("LOUDNESS: silent" when no stretch of it reaches the meter's gate),
//   "heard: 3:12.5, rhythm: stand-in" (the length measured; which rhythm
//   sounds were heard, when the song keys the OPNA's rhythm: "stand-in" or
//   "ROM image"),
// then a "notice:" row for each device heard as silence, for a song cut at
// the longest length measured, and for a stream that breaks off.
void AppendLoudnessRows(LogSink& log, const SongLoudness& song);

// "LOUDNESS: ..." as above, for `figures` (an album's row puts "ALBUM "
// before it).
std::u16string FormatLoudnessLine(const LoudnessFigures& figures);

}  // namespace morla
