#include "volume_rewrite.h"

#include <algorithm>

#include "command_walk.h"
#include "text.h"

namespace morla {

void RewriteCommand::operator()(const S98Command& command) {
    if (!IsRewrittenDevice(command.deviceType)) {
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
            bytes_[command.offset + 2] = static_cast<std::uint8_t>(newValue);
            break;
        }
        case RegisterClass::SsgVolume:
            // a silent channel stays silent; an envelope-driven one is not touched
            if (command.port == 0 && command.data != 0 && (command.data & 0x10) == 0) {
                RewriteSsgVolume(command);
            }
            break;
        case RegisterClass::RhythmTotalLevel:
            if (command.port == 0) {
                RewriteRhythmLevel(command);
            }
            break;
        case RegisterClass::None:
            break;
    }
}

void RewriteCommand::ReportTotalLevel(const S98Command& command, int channel, int slot,
                                      int newValue, bool peakOver) {
    if (peakOver) {
        log_.Append(FormatLine(line_, "%08x: PEAK OVER!       TL=%3d -> %3d",
                               static_cast<unsigned>(command.offset), command.data, 0));
    }
    if (fmDetail_) {
        FormatLine(line_, "%08x FM#%d SL=%d AL=%d TL=%3d -> %3d",
                   static_cast<unsigned>(command.offset), channel + 1, slot,
                   algorithms_.Get(channel, command.deviceIndex), command.data, newValue);
        ReportDetail(peakOver);
    }
}

void RewriteCommand::RewriteSsgVolume(const S98Command& command) {
    bool peakOver = false;
    const int newValue = ClampLevel(command, command.data - std::int64_t{amounts_.ssgDown}, 15,
                                    "%08x: PEAK OVER!       SSG=%2d -> %2d", peakOver);
    if (amounts_.showDetail && amounts_.ssgDown != 0) {
        FormatLine(line_, "%08x SSG#%d VOL=%2d -> %2d", static_cast<unsigned>(command.offset),
                   SsgChannel(command.reg), command.data, newValue);
        ReportDetail(peakOver);
    }
    bytes_[command.offset + 2] = static_cast<std::uint8_t>(newValue);
}

void RewriteCommand::RewriteRhythmLevel(const S98Command& command) {
    bool peakOver = false;
    const int newValue = ClampLevel(command, command.data - std::int64_t{amounts_.rhythmDown}, 63,
                                    "%08x: PEAK OVER!       RHYTHM TL=%2d -> %2d", peakOver);
    if (amounts_.showDetail && amounts_.rhythmDown != 0) {
        FormatLine(line_, "%08x RHYTHM TL=%2d -> %2d", static_cast<unsigned>(command.offset),
                   command.data, newValue);
        ReportDetail(peakOver);
    }
    bytes_[command.offset + 2] = static_cast<std::uint8_t>(newValue);
}

int RewriteCommand::ClampLevel(const S98Command& command, std::int64_t moved, int maximum,
                               const char* peakOverFormat, bool& peakOver) {
    // 64-bit: an amount near either end of the 32-bit range cannot overflow
    peakOver = moved > maximum;
    if (peakOver) {
        log_.Append(FormatLine(line_, peakOverFormat, static_cast<unsigned>(command.offset),
                               command.data, maximum));
    }
    return static_cast<int>(std::clamp<std::int64_t>(moved, 0, maximum));
}

void RewriteCommand::ReportDetail(bool peakOver) {
    if (peakOver) {
        line_ += u" [PEAK OVER]";
    }
    log_.Append(line_);
}

void RewriteWalk(S98Image& image, const S98Layout& layout, AlgorithmTable& algorithms,
                 const RewriteAmounts& amounts, LogSink& log) {
    CommandWalk<WalkMode::Trusting>(image, layout, RewriteCommand(image, algorithms, amounts, log));
}

}  // namespace morla
