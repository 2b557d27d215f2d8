// The rewrite step: the new data bytes of carrier TL, SSG volume and rhythm
// total level writes of OPN/OPN2/OPNA devices, each clamped into its
// register's range, with the detail and PEAK OVER rows; under a gain of every
// part also the stand-alone PSGs' volumes and the OPNA's ADPCM level. The
// bytes go into the chunk of the output being written (or, for the
// reference, the image).
#pragma once

#include <algorithm>
#include <array>
#include <bitset>
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
    std::int32_t psgDown = 0;  // taken from stand-alone YM2149 volumes
    // A gain of every part (-g, -k): the stand-alone PSGs and the ADPCM level
    // move too, the AY-3-8910's volumes and the ADPCM level by `gainMicroDb`
    // (by the AY's own curve; in proportion).
    bool everyPart = false;
    std::int64_t gainMicroDb = 0;
    // No PEAK OVER rows (-q): the tally still counts the clamped writes.
    bool quiet = false;
};

// Whether the rewrite with `amounts` changes writes of devices of `type`.
inline bool RewritesDevice(const RewriteAmounts& amounts, std::int32_t type) {
    return IsRewrittenDevice(type) || (amounts.everyPart && IsPsgDevice(type));
}

// Where every volume 0-15 of a PSG-type level goes under one gain: to the
// value whose level on the chip's curve is nearest to its own level plus the
// gain (ties go the gain's way). A level that would go beyond volume 15 by
// half the top step or more is held at 15 and marked `over`; 0 stays 0.
struct VolumeMap {
    std::array<std::uint8_t, kSsgVolumeMax + 1> to{};
    std::bitset<kSsgVolumeMax + 1> over;
};
VolumeMap VolumeMapFor(const VolumeCurve& curve, std::int64_t gainMicroDb);

// Where every ADPCM level 0-255 goes under one gain: scaled in amplitude and
// rounded, held at 255 (and marked `over`) above it; 0 stays 0.
struct AdpcmMap {
    std::array<std::uint8_t, kAdpcmLevelMax + 1> to{};
    std::bitset<kAdpcmLevelMax + 1> over;
};
AdpcmMap AdpcmMapFor(std::int64_t gainMicroDb);

// What a rewrite did, part by part, for the rows after it.
struct PartTally {
    std::uint64_t clamped = 0;  // writes held at the part's loudest value short of the amount
    bool moved = false;         // whether any write got a new value
    bool full = false;          // whether any write moved by the whole amount
    int clampedMove = 0;        // the largest move of a clamped write, in register values
};
struct RewriteTally {
    PartTally fm, ssg, rhythm, psg, adpcm;
    std::uint64_t envelopeWrites = 0;  // SSG and PSG volume writes in envelope mode, not moved
    bool dacOn = false;                // an OPN2 switched its DAC on
    // The values written to the parts that move by a curve or in proportion.
    std::bitset<kSsgVolumeMax + 1> ay8910Volumes;
    std::bitset<kAdpcmLevelMax + 1> adpcmLevels;
};

// The rewrite step for one register write, after a checking walk has passed
// the stream. Owns the job's work string, so report lines reuse one buffer.
class RewriteCommand {
  public:
    RewriteCommand(S98Image& image, AlgorithmTable& algorithms, const RewriteAmounts& amounts,
                   LogSink& log);

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

    const RewriteTally& tally() const { return tally_; }

  private:
    // The "PEAK OVER!" line and the detail line of a carrier TL write.
    void ReportTotalLevel(const S98Command& command, int channel, int slot, int newValue,
                          bool peakOver);
    void RewriteSsgVolume(const S98Command& command);
    void RewriteRhythmLevel(const S98Command& command);
    void RewriteAdpcmLevel(const S98Command& command);
    // Clamps a level where larger is louder into 0..maximum; above it sets
    // `peakOver` and reports the "PEAK OVER!" line at once.
    int ClampLevel(const S98Command& command, std::int64_t moved, int maximum,
                   const char* peakOverFormat, bool& peakOver);
    void ReportDetail(bool peakOver);
    // Counts a write of `part` lowered by `down` that became `newValue`.
    static void Tally(PartTally& part, const S98Command& command, std::int64_t down, int newValue,
                      bool clamped) {
        part.moved |= newValue != command.data;
        part.full |= command.data - std::int64_t{newValue} == down;
        if (clamped) {
            ++part.clamped;
            part.clampedMove = std::max(part.clampedMove, newValue - command.data);
        }
    }

    // An SSG volume by its map, here; out of line when it goes over, gets a
    // detail row or carries bits above the volume.
    void MoveVolume(const S98Command& command, const VolumeMap& volumes, std::int32_t down,
                    bool detail, PartTally& part) {
        if (command.data > kSsgVolumeMax || detail || volumes.over[command.data]) [[unlikely]] {
            RewriteSsgVolume(command);
        } else {
            const int newValue = volumes.to[command.data];
            Tally(part, command, down, newValue, false);
            Store(command, newValue);
        }
    }

    // A level where larger is louder, lowered by `down` and kept at 0 or
    // above, here; `reporting` (out of line) when it would go over `maximum`
    // or gets a detail row.
    void LowerLevel(const S98Command& command, std::int32_t down, int maximum, bool detail,
                    PartTally& part, void (RewriteCommand::*reporting)(const S98Command&)) {
        const std::int64_t moved = command.data - std::int64_t{down};
        if (moved > maximum || detail) [[unlikely]] {
            (this->*reporting)(command);
        } else {
            const int newValue = static_cast<int>(std::max<std::int64_t>(moved, 0));
            Tally(part, command, down, newValue, false);
            Store(command, newValue);
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
    const bool adpcmDetail_;
    // The SSG's and the PSGs' volumes 0-15 by their curves; values above 15
    // (bits the chip does not read) by the plain amounts.
    const VolumeMap ssgVolumes_;
    const VolumeMap ym2149Volumes_;
    const VolumeMap ay8910Volumes_;
    const AdpcmMap adpcmLevels_;
    const bool ay8910Detail_;  // whether the AY's map moves any volume
    LogSink& log_;
    std::u16string line_;
    RewriteTally tally_;
};

inline void RewriteCommand::operator()(const S98Command& command) {
    if (RewritesDevice(amounts_, command.deviceType)) {
        RewriteDeviceWrite(command);
    }
}

inline void RewriteCommand::RewriteDeviceWrite(const S98Command& command) {
    const RegisterClass registerClass = kRegisterClasses[command.reg];
    if (registerClass == RegisterClass::SsgVolume) {
        // a silent channel stays silent; an envelope-driven one is not touched
        if (command.port == 0 && command.data != 0) {
            if ((command.data & kSsgEnvelopeBit) != 0) {
                ++tally_.envelopeWrites;
            } else if (IsPsgDevice(command.deviceType)) [[unlikely]] {
                // a PSG has only the SSG's volumes; the same rules, its own
                // amount and curve
                RewriteSsgVolume(command);
            } else {
                MoveVolume(command, ssgVolumes_, amounts_.ssgDown, ssgDetail_, tally_.ssg);
            }
        }
        return;
    }
    if (IsPsgDevice(command.deviceType)) [[unlikely]] {
        return;
    }
    switch (registerClass) {
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
            const std::int32_t newValue = Select(
                carrier,
                static_cast<std::int32_t>(std::clamp<std::int64_t>(moved, 0, kTotalLevelMax)),
                command.data);
            tally_.fm.moved |= newValue != command.data;
            tally_.fm.full |= carrier & (newValue == moved);
            if (peakOver | (carrier & fmDetail_)) [[unlikely]] {
                ReportTotalLevel(command, channel, slot, newValue, peakOver);
            }
            Store(command, newValue);
            break;
        }
        case RegisterClass::RhythmTotalLevel:
            if (command.port == 0) {
                LowerLevel(command, amounts_.rhythmDown, kRhythmLevelMax, rhythmDetail_,
                           tally_.rhythm, &RewriteCommand::RewriteRhythmLevel);
            }
            break;
        case RegisterClass::AdpcmLevel:
            if (amounts_.everyPart && command.port == 1 && command.data != 0 &&
                command.deviceType == kDeviceYM2608) [[unlikely]] {
                RewriteAdpcmLevel(command);
            }
            break;
        case RegisterClass::DacEnable:
            tally_.dacOn |= command.port == 0 && command.deviceType == kDeviceYM2612 &&
                            (command.data & kDacOnBit) != 0;
            break;
        case RegisterClass::SsgVolume:
        case RegisterClass::None:
            break;
    }
}

}  // namespace morla
