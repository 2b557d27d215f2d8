// The rewrite pass: changes carrier TL, SSG volume and rhythm total level data
// bytes of OPN/OPN2/OPNA devices in place, clamped into each register's range.
#pragma once

#include <cstdint>
#include <string>

#include "chip_model.h"
#include "log_sink.h"
#include "s98_image.h"

namespace morla {

struct RewriteAmounts {
    std::int32_t fmDown = 0;      // added to carrier TL (attenuation)
    std::int32_t ssgDown = 0;     // taken from SSG volume
    std::int32_t rhythmDown = 0;  // taken from rhythm total level
    bool showDetail = false;
};

// The rewrite step for one register write of the trusting walk. Owns the
// job's work string, so report lines reuse one buffer.
class RewriteCommand {
  public:
    RewriteCommand(S98Image& image, AlgorithmTable& algorithms, const RewriteAmounts& amounts,
                   LogSink& log)
        : bytes_(image.data()),
          algorithms_(algorithms),
          amounts_(amounts),
          fmDetail_(amounts.showDetail && amounts.fmDown != 0),
          log_(log) {}

    void operator()(const S98Command& command);

  private:
    // The "PEAK OVER!" line and the detail line of a carrier TL write.
    void ReportTotalLevel(const S98Command& command, int channel, int slot, int newValue,
                          bool peakOver);
    void RewriteSsgVolume(const S98Command& command);
    void RewriteRhythmLevel(const S98Command& command);
    // Clamps a level where larger is louder into 0..maximum; above it sets
    // `peakOver` and reports the "PEAK OVER!" line at once.
    int ClampLevel(const S98Command& command, std::int64_t moved, int maximum,
                   const char* peakOverFormat, bool& peakOver);
    void ReportDetail(bool peakOver);

    std::uint8_t* bytes_;
    AlgorithmTable& algorithms_;
    const RewriteAmounts amounts_;
    const bool fmDetail_;  // whether carrier TL writes get detail lines
    LogSink& log_;
    std::u16string line_;
};

// The rewrite pass: the trusting walk with RewriteCommand as its visitor,
// compiled beside it so that the step inlines into the walk's loop.
void RewriteWalk(S98Image& image, const S98Layout& layout, AlgorithmTable& algorithms,
                 const RewriteAmounts& amounts, LogSink& log);

}  // namespace morla
