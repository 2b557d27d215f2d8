// The rewrite step: the new data bytes of carrier TL, SSG volume and rhythm
// total level writes of OPN/OPN2/OPNA devices, each clamped into its
// register's range, with the detail and PEAK OVER rows. The bytes go into the
// chunk of the output being written (or, for the reference, the image).
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>

#include "base/log_sink.h"
#include "format/chip_model.h"
#include "format/s98_image.h"

namespace morla {

struct RewriteAmounts {
    std::int32_t fmDown = 0;      // added to carrier TL (attenuation)
    std::int32_t ssgDown = 0;     // taken from SSG volume
    std::int32_t rhythmDown = 0;  // taken from rhythm total level
    bool showDetail = false;
    std::int32_t psgDown = 0;  // taken from stand-alone PSG volumes
    bool psg = false;          // whether stand-alone PSG devices are rewritten at all
};

// Whether the rewrite with `amounts` changes writes of devices of `type`.
inline bool RewritesDevice(const RewriteAmounts& amounts, std::int32_t type) {
    return IsRewrittenDevice(type) || (amounts.psg && IsPsgDevice(type));
}

// The rewrite step for one register write, after a checking walk has passed
// the stream. Owns the job's work string, so report lines reuse one buffer.
class RewriteCommand {
  public:
    RewriteCommand(S98Image& image, AlgorithmTable& algorithms, const RewriteAmounts& amounts,
                   LogSink& log)
        : out_(image.data()),
          algorithms_(algorithms),
          amounts_(amounts),
          fmDetail_(amounts.showDetail && amounts.fmDown != 0),
          ssgDetail_(amounts.showDetail && amounts.ssgDown != 0),
          rhythmDetail_(amounts.showDetail && amounts.rhythmDown != 0),
          psgDetail_(amounts.showDetail && amounts.psgDown != 0),
          log_(log) {}

    // Inline (below), so that it inlines into the loop of every walk that
    // uses it.
    inline void operator()(const S98Command& command);
    // operator() for a write to a device it rewrites (RewritesDevice), for
    // walks that hand on no other.
    inline void RewriteDeviceWrite(const S98Command& command);

    // Where new data bytes go from now on: instead of the image, the buffer
    // `out` holding the file from offset `start` on (a chunk of an output
    // being written).
    void Into(std::uint8_t* out, std::size_t start) {
        out_ = out;
        outStart_ = start;
    }

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

    // A level where larger is louder, lowered by `down` and kept at 0 or
    // above, here; `reporting` (out of line) when it would go over `maximum`
    // or gets a detail row.
    void LowerLevel(const S98Command& command, std::int32_t down, int maximum, bool detail,
                    void (RewriteCommand::*reporting)(const S98Command&)) {
        const std::int64_t moved = command.data - std::int64_t{down};
        if (moved > maximum || detail) [[unlikely]] {
            (this->*reporting)(command);
        } else {
            Store(command, static_cast<int>(std::max<std::int64_t>(moved, 0)));
        }
    }

    void Store(const S98Command& command, int newValue) {
        out_[command.offset + 2 - outStart_] = static_cast<std::uint8_t>(newValue);
    }

    std::uint8_t* out_;
    std::size_t outStart_ = 0;
    AlgorithmTable& algorithms_;
    const RewriteAmounts amounts_;
    const bool fmDetail_;  // whether carrier TL writes get detail lines
    const bool ssgDetail_;
    const bool rhythmDetail_;
    const bool psgDetail_;
    LogSink& log_;
    std::u16string line_;
};

inline void RewriteCommand::operator()(const S98Command& command) {
    if (RewritesDevice(amounts_, command.deviceType)) {
        RewriteDeviceWrite(command);
    }
}

inline void RewriteCommand::RewriteDeviceWrite(const S98Command& command) {
    if (IsPsgDevice(command.deviceType)) [[unlikely]] {
        // a PSG has only the SSG's volumes; the same rules, its own amount
        if (kRegisterClasses[command.reg] == RegisterClass::SsgVolume && command.port == 0 &&
            command.data != 0 && (command.data & 0x10) == 0) {
            LowerLevel(command, amounts_.psgDown, 15, psgDetail_,
                       &RewriteCommand::RewriteSsgVolume);
        }
        return;
    }
    switch (kRegisterClasses[command.reg]) {
        case RegisterClass::FeedbackAlgorithm:
            algorithms_.Set(AlgorithmChannel(command.port, command.reg), command.deviceIndex,
                            command.data);
            break;
        case RegisterClass::TotalLevel: {
            // Carrier or not is judged without a branch, and a write that is
            // not a carrier stores its own byte back. TL is an attenuation:
            // below 0 is louder than the chip goes. 64-bit, so that no amount
            // can overflow.
            const int channel = TotalLevelChannel(command.port, command.reg);
            const int slot = TotalLevelSlot(command.reg);
            const bool carrier = IsCarrierWrite(algorithms_, channel, command.deviceIndex, slot);
            const std::int64_t moved = command.data + std::int64_t{amounts_.fmDown};
            const bool peakOver = carrier & (moved < 0);
            const std::int32_t newValue =
                Select(carrier, static_cast<std::int32_t>(std::clamp<std::int64_t>(moved, 0, 127)),
                       command.data);
            if (peakOver | (carrier & fmDetail_)) [[unlikely]] {
                ReportTotalLevel(command, channel, slot, newValue, peakOver);
            }
            Store(command, newValue);
            break;
        }
        case RegisterClass::SsgVolume:
            // a silent channel stays silent; an envelope-driven one is not touched
            if (command.port == 0 && command.data != 0 && (command.data & 0x10) == 0) {
                LowerLevel(command, amounts_.ssgDown, 15, ssgDetail_,
                           &RewriteCommand::RewriteSsgVolume);
            }
            break;
        case RegisterClass::RhythmTotalLevel:
            if (command.port == 0) {
                LowerLevel(command, amounts_.rhythmDown, 63, rhythmDetail_,
                           &RewriteCommand::RewriteRhythmLevel);
            }
            break;
        case RegisterClass::None:
            break;
    }
}

}  // namespace morla
