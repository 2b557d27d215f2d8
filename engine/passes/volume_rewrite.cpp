#include "passes/volume_rewrite.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "base/text.h"

namespace morla {

VolumeMap VolumeMapFor(const VolumeCurve& curve, std::int64_t gainMicroDb) {
    VolumeMap map;
    // Doubled, so that half the top step stays whole: a level this far above
    // volume 15 or more would need a louder value than the chip has.
    const std::int64_t overFrom = 2 * curve[kSsgVolumeMax] + (curve[kSsgVolumeMax] - curve[14]);
    for (int volume = 1; volume <= kSsgVolumeMax; ++volume) {
        const std::int64_t wanted = curve[volume] + gainMicroDb;
        if (2 * wanted >= overFrom) {
            map.to[volume] = kSsgVolumeMax;
            map.over[volume] = true;
            continue;
        }
        int nearest = 0;
        std::int64_t distance = std::abs(curve[0] - wanted);
        for (int candidate = 1; candidate <= kSsgVolumeMax; ++candidate) {
            const std::int64_t d = std::abs(curve[candidate] - wanted);
            if (d < distance || (d == distance && gainMicroDb > 0)) {
                nearest = candidate;
                distance = d;
            }
        }
        map.to[volume] = static_cast<std::uint8_t>(nearest);
    }
    return map;
}

AdpcmMap AdpcmMapFor(std::int64_t gainMicroDb) {
    AdpcmMap map;
    const double factor = std::pow(10.0, static_cast<double>(gainMicroDb) / 20e6);
    for (int level = 1; level <= kAdpcmLevelMax; ++level) {
        const double scaled = level * factor;  // infinite for a gain beyond any use
        if (scaled >= kAdpcmLevelMax + 0.5) {
            map.to[level] = kAdpcmLevelMax;
            map.over[level] = true;
        } else {
            map.to[level] = static_cast<std::uint8_t>(std::lround(scaled));
        }
    }
    return map;
}

namespace {

bool MovesAny(const VolumeMap& map) {
    for (int volume = 0; volume <= kSsgVolumeMax; ++volume) {
        if (map.to[volume] != volume) {
            return true;
        }
    }
    return false;
}

// The map of a PSG-type level moved by whole steps of the YM2149's curve.
VolumeMap VolumeMapOfSteps(std::int32_t down) {
    return VolumeMapFor(kYm2149Curve, -std::int64_t{down} * kSsgStepMicroDb);
}

}  // namespace

RewriteCommand::RewriteCommand(S98Image& image, AlgorithmTable& algorithms,
                               const RewriteAmounts& amounts, LogSink& log)
    : out_(image.data()),
      algorithms_(algorithms),
      amounts_(amounts),
      fmDetail_(amounts.showDetail && amounts.fmDown != 0),
      ssgDetail_(amounts.showDetail && amounts.ssgDown != 0),
      rhythmDetail_(amounts.showDetail && amounts.rhythmDown != 0),
      psgDetail_(amounts.showDetail && amounts.psgDown != 0),
      adpcmDetail_(amounts.showDetail && amounts.everyPart && amounts.gainMicroDb != 0),
      ssgVolumes_(VolumeMapOfSteps(amounts.ssgDown)),
      ym2149Volumes_(VolumeMapOfSteps(amounts.psgDown)),
      ay8910Volumes_(VolumeMapFor(kAy8910Curve, amounts.gainMicroDb)),
      adpcmLevels_(AdpcmMapFor(amounts.gainMicroDb)),
      ay8910Detail_(amounts.showDetail && MovesAny(ay8910Volumes_)),
      log_(log) {}

void RewriteCommand::ReportTotalLevel(const S98Command& command, int channel, int slot,
                                      int newValue, bool peakOver) {
    if (peakOver) {
        ++tally_.fm.clamped;
        tally_.fm.clampedMove = std::max(tally_.fm.clampedMove, int{command.data});
    }
    if (peakOver && !amounts_.quiet) {
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
    const bool ay = command.deviceType == kDeviceAY8910;
    const VolumeMap& volumes = !psg ? ssgVolumes_ : ay ? ay8910Volumes_ : ym2149Volumes_;
    const char* const peakOverFormat = "%08x: PEAK OVER!       SSG=%2d -> %2d";
    bool peakOver = false;
    int newValue = 0;
    if (command.data <= kSsgVolumeMax) {
        if (ay) {
            tally_.ay8910Volumes[command.data] = true;
        }
        newValue = volumes.to[command.data];
        peakOver = volumes.over[command.data];
        if (peakOver && !amounts_.quiet) {
            log_.Append(FormatLine(line_, peakOverFormat, static_cast<unsigned>(command.offset),
                                   command.data, kSsgVolumeMax));
        }
    } else {
        // bits above the volume, which the chip does not read: by whole steps
        const std::int32_t down = psg ? amounts_.psgDown : amounts_.ssgDown;
        newValue = ClampLevel(command, command.data - std::int64_t{down}, kSsgVolumeMax,
                              peakOverFormat, peakOver);
    }
    Tally(psg ? tally_.psg : tally_.ssg, command, psg ? amounts_.psgDown : amounts_.ssgDown,
          newValue, peakOver);
    if (!psg ? ssgDetail_ : ay ? ay8910Detail_ : psgDetail_) {
        FormatLine(line_, "%08x SSG#%d VOL=%2d -> %2d", static_cast<unsigned>(command.offset),
                   SsgChannel(command.reg), command.data, newValue);
        ReportDetail(peakOver);
    }
    Store(command, newValue);
}

void RewriteCommand::RewriteRhythmLevel(const S98Command& command) {
    bool peakOver = false;
    const int newValue =
        ClampLevel(command, command.data - std::int64_t{amounts_.rhythmDown}, kRhythmLevelMax,
                   "%08x: PEAK OVER!       RHYTHM TL=%2d -> %2d", peakOver);
    Tally(tally_.rhythm, command, amounts_.rhythmDown, newValue, peakOver);
    if (rhythmDetail_) {
        FormatLine(line_, "%08x RHYTHM TL=%2d -> %2d", static_cast<unsigned>(command.offset),
                   command.data, newValue);
        ReportDetail(peakOver);
    }
    Store(command, newValue);
}

void RewriteCommand::RewriteAdpcmLevel(const S98Command& command) {
    tally_.adpcmLevels[command.data] = true;
    const int newValue = adpcmLevels_.to[command.data];
    const bool peakOver = adpcmLevels_.over[command.data];
    if (peakOver && !amounts_.quiet) {
        log_.Append(FormatLine(line_, "%08x: PEAK OVER!       ADPCM=%3d -> %3d",
                               static_cast<unsigned>(command.offset), command.data,
                               kAdpcmLevelMax));
    }
    Tally(tally_.adpcm, command, command.data - std::int64_t{newValue}, newValue, peakOver);
    if (adpcmDetail_) {
        FormatLine(line_, "%08x ADPCM LEVEL=%3d -> %3d", static_cast<unsigned>(command.offset),
                   command.data, newValue);
        ReportDetail(peakOver);
    }
    Store(command, newValue);
}

int RewriteCommand::ClampLevel(const S98Command& command, std::int64_t moved, int maximum,
                               const char* peakOverFormat, bool& peakOver) {
    // 64-bit: an amount near either end of the 32-bit range cannot overflow
    peakOver = moved > maximum;
    if (peakOver && !amounts_.quiet) {
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
