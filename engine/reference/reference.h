// The reference engine: the readable statement of the format and of a job's
// treatment of a file, that every fast path of the product is held to.
//
// It decodes with CommandWalk (command_walk.h), one command at a time with
// every rule in plain sight, and changes the image in memory. The tests, the
// fuzz target and the benchmarks link it (library morla_reference); the
// product does not: its job walks with the production decoder and writes the
// output as it walks. Both must give the same rows, the same bytes and the
// same faults for every input.
#pragma once

#include <string>

#include "base/log_sink.h"
#include "format/chip_model.h"
#include "format/s98_image.h"
#include "job/amounts.h"
#include "job/settings.h"
#include "passes/peak_analysis.h"
#include "passes/volume_rewrite.h"

namespace morla {

// The analysis pass: the checking walk with AnalyseCommand as its visitor.
// Returns the empty text or the stream's fault message.
std::u16string AnalysisWalk(const S98Image& image, const S98Layout& layout,
                            AlgorithmTable& algorithms, PeakLevels& peaks);

// The rewrite pass: the trusting walk with RewriteCommand as its visitor,
// changing the image in place. Returns what it did, part by part.
RewriteTally RewriteWalk(S98Image& image, const S98Layout& layout, AlgorithmTable& algorithms,
                         const RewriteAmounts& amounts, LogSink& log);

// What a job did to an image in memory.
struct ImageOutcome {
    std::u16string error;    // empty on success
    bool rewritten = false;  // false in peak-only mode and on error
    PeakLevels peaks;
    FinalAmounts amounts;  // by the reference arithmetic (reference/amounts.h), once rewritten
    RewriteTally tally;    // once rewritten
};

// A job on an image in memory: header checks, analysis walk, the PEAK row,
// the final amounts by ReferenceAmounts, rewrite walk. The image is changed
// only when the outcome says it was rewritten.
ImageOutcome ConvertImage(S98Image& image, const VolumeSettings& settings, LogSink& log);

}  // namespace morla
