#include "passes/volume_rewrite.h"

#include <algorithm>

#include "base/text.h"

namespace morla {

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
    const bool psg = IsPsgDevice(command.deviceType);
    bool peakOver = false;
    const int newValue =
        ClampLevel(command, command.data - std::int64_t{psg ? amounts_.psgDown : amounts_.ssgDown},
                   15, "%08x: PEAK OVER!       SSG=%2d -> %2d", peakOver);
    if (psg ? psgDetail_ : ssgDetail_) {
        FormatLine(line_, "%08x SSG#%d VOL=%2d -> %2d", static_cast<unsigned>(command.offset),
                   SsgChannel(command.reg), command.data, newValue);
        ReportDetail(peakOver);
    }
    Store(command, newValue);
}

void RewriteCommand::RewriteRhythmLevel(const S98Command& command) {
    bool peakOver = false;
    const int newValue = ClampLevel(command, command.data - std::int64_t{amounts_.rhythmDown}, 63,
                                    "%08x: PEAK OVER!       RHYTHM TL=%2d -> %2d", peakOver);
    if (rhythmDetail_) {
        FormatLine(line_, "%08x RHYTHM TL=%2d -> %2d", static_cast<unsigned>(command.offset),
                   command.data, newValue);
        ReportDetail(peakOver);
    }
    Store(command, newValue);
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

}  // namespace morla
