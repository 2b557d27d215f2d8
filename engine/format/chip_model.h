// What the passes know of the OPN family (YM2203 OPN, YM2612 OPN2, YM2608
// OPNA) and of the PSGs: which register writes carry a level, how FM channels
// and operator slots are numbered, and which operators are carriers.
//
// Register classes (the same for every device type a pass looks at):
//
//   reg        class                        ports   level sense
//   08 09 0A   SSG volume, channels 1-3     0       larger is louder
//              ---x----  envelope mode (the volume is then not used)
//              ----vvvv  volume 0-15
//   0B         ADPCM level (OPNA only)      1       larger is louder, 0-255,
//                                                   linear in amplitude
//   11         rhythm total level           0       larger is louder, 0-63
//   2B         DAC enable (OPN2 only)       0       x-------  DAC on
//   40-42      FM total level (TL), slot 0  0, 1    attenuation, 0-127:
//   44-46      FM total level (TL), slot 1            larger is quieter
//   48-4A      FM total level (TL), slot 2
//   4C-4E      FM total level (TL), slot 3
//   B0-B2      FM feedback / algorithm      0, 1    -----aaa  algorithm
//
// Everything else (0x43, 0x47, 0x4B, 0x4F and 0xB3 among them) is passed over.
//
// FM channel 0-5: port * 3 + (reg & 3) for TL, port * 3 + (reg - 0xB0) for
// feedback/algorithm. Slot 0-3: (reg - 0x40) >> 2; in the chip's operator
// numbering slots 0, 1, 2, 3 are operators 1, 3, 2, 4.
#pragma once

#include <array>
#include <cstdint>

#include "format/s98_image.h"

namespace morla {

enum class RegisterClass : std::uint8_t {
    None,
    SsgVolume,
    RhythmTotalLevel,
    TotalLevel,
    FeedbackAlgorithm,
    AdpcmLevel,
    DacEnable,
};

inline constexpr std::array<RegisterClass, 256> kRegisterClasses = [] {
    std::array<RegisterClass, 256> classes{};
    classes[0x08] = classes[0x09] = classes[0x0A] = RegisterClass::SsgVolume;
    classes[0x0B] = RegisterClass::AdpcmLevel;
    classes[0x11] = RegisterClass::RhythmTotalLevel;
    classes[0x2B] = RegisterClass::DacEnable;
    for (int reg = 0x40; reg <= 0x4F; ++reg) {
        if ((reg & 3) != 3) {
            classes[reg] = RegisterClass::TotalLevel;
        }
    }
    classes[0xB0] = classes[0xB1] = classes[0xB2] = RegisterClass::FeedbackAlgorithm;
    return classes;
}();

// The range of each level, and what one step of it is worth in millionths
// of a dB: a total level (FM carriers, the rhythm) is 0.75 dB a step.
inline constexpr int kTotalLevelMax = 127;  // attenuation: 0 is the loudest
inline constexpr int kSsgVolumeMax = 15;
inline constexpr int kRhythmLevelMax = 63;
inline constexpr int kAdpcmLevelMax = 255;
inline constexpr std::uint8_t kSsgEnvelopeBit = 0x10;
inline constexpr std::int64_t kTotalLevelStepMicroDb = 750000;
// An SSG volume step of the YM2149 and of the OPN's and OPNA's SSG, as their
// data sheets give it.
inline constexpr std::int64_t kSsgStepMicroDb = 3000000;
inline constexpr std::uint8_t kDacOnBit = 0x80;

// A PSG's output level for each volume value, in millionths of a dB against
// volume 15. Volume 0 is silence; its entry is where silence counts as lying
// when the value nearest to a level is chosen: one step below volume 1, by
// the size of the step from 2 to 1.
using VolumeCurve = std::array<std::int64_t, kSsgVolumeMax + 1>;

// The YM2149, and the SSG of the YM2203 and YM2608: 3 dB a step.
inline constexpr VolumeCurve kYm2149Curve = [] {
    VolumeCurve curve{};
    for (int volume = 0; volume <= kSsgVolumeMax; ++volume) {
        curve[volume] = (volume - kSsgVolumeMax) * kSsgStepMicroDb;
    }
    return curve;
}();

// The AY-3-8910: its 16 output levels are not evenly spaced in dB, the top
// steps being much smaller than 3 dB. Measured levels of a real chip,
// relative to volume 15 (amplitudes 0.00999, 0.01445, 0.02106, 0.03070,
// 0.04555, 0.06450, 0.10736, 0.12659, 0.20499, 0.29221, 0.37284, 0.49253,
// 0.63532, 0.80558, 1 for volumes 1-15, as published with the Ayumi AY/YM
// emulator by Peter Sovietov), converted to dB.
inline constexpr VolumeCurve kAy8910Curve = {
    -43206814, -40004640, -36802466, -33531884, -30256907, -26830579, -23808821, -19382949,
    -17952091, -13765359, -10686091, -8569575,  -6151334,  -3940086,  -1877775,  0,
};

// The volume curve of a device type with an SSG.
inline constexpr const VolumeCurve& VolumeCurveOf(std::int32_t type) {
    return type == kDeviceAY8910 ? kAy8910Curve : kYm2149Curve;
}

inline constexpr int kFmChannelCount = 6;
inline constexpr std::uint8_t kNoAlgorithm = 8;  // no algorithm write seen yet

inline constexpr int TotalLevelChannel(std::uint8_t port, std::uint8_t reg) {
    return port * 3 + (reg & 3);
}
inline constexpr int TotalLevelSlot(std::uint8_t reg) {
    return (reg - 0x40) >> 2;
}
inline constexpr int AlgorithmChannel(std::uint8_t port, std::uint8_t reg) {
    return port * 3 + (reg - 0xB0);
}
inline constexpr int SsgChannel(std::uint8_t reg) {
    return reg - 0x08 + 1;
}

// Carrier slots of each algorithm, bit n for slot n, plus an empty mask for
// "no algorithm yet":
//   0-3: op4          -> slot 3
//   4:   op2, op4     -> slots 2, 3
//   5-6: op2-op4      -> slots 1, 2, 3
//   7:   all four     -> slots 0-3
inline constexpr std::array<std::uint8_t, 9> kCarrierMaskTable = {8, 8, 8, 8, 12, 14, 14, 15, 0};

// The current algorithm of every FM channel of every device a command byte can
// name; 8 until the stream sets one. One table per job; the rewrite pass
// continues from what the analysis pass left.
class AlgorithmTable {
  public:
    AlgorithmTable() { Reset(); }
    void Reset() {
        for (auto& channels : algorithm_) {
            channels.fill(kNoAlgorithm);
        }
    }
    std::uint8_t Get(int channel, int device) const { return algorithm_[device][channel]; }
    void Set(int channel, int device, std::uint8_t dataByte) {
        algorithm_[device][channel] = dataByte & 7;
    }

  private:
    std::array<std::array<std::uint8_t, kFmChannelCount>, kDeviceIndexCount> algorithm_;
};

inline bool IsCarrierWrite(const AlgorithmTable& algorithms, int channel, int device, int slot) {
    return (kCarrierMaskTable[algorithms.Get(channel, device)] >> slot) & 1;
}

// `condition ? ifTrue : ifFalse` by arithmetic, where a branch would follow
// data that no predictor can guess (which slots of a channel are carriers
// changes with every algorithm the stream sets).
inline constexpr std::int32_t Select(bool condition, std::int32_t ifTrue, std::int32_t ifFalse) {
    return ifFalse + ((ifTrue - ifFalse) & -static_cast<std::int32_t>(condition));
}

// Device types whose level writes the analysis pass counts.
inline constexpr bool IsAnalysedDevice(std::int32_t type) {
    return type == kDeviceYM2149 || type == kDeviceYM2203 || type == kDeviceYM2612 ||
           type == kDeviceYM2608 || type == kDeviceAY8910;
}

// Device types whose level writes the rewrite pass changes. The PSGs are
// measured but never rewritten, but for a gain of every part (-g, -k), which
// moves their volume writes (IsPsgDevice) as the SSG's.
inline constexpr bool IsRewrittenDevice(std::int32_t type) {
    return type == kDeviceYM2203 || type == kDeviceYM2612 || type == kDeviceYM2608;
}

// The stand-alone PSG devices: an SSG without FM, volumes at 0x08-0x0A.
inline constexpr bool IsPsgDevice(std::int32_t type) {
    return type == kDeviceYM2149 || type == kDeviceAY8910;
}

// The chip's name for a device type, for rows that name devices; null for a
// type this table does not know.
inline constexpr const char* DeviceTypeName(std::int32_t type) {
    switch (type) {
        case 1:
            return "YM2149";
        case 2:
            return "YM2203";
        case 3:
            return "YM2612";
        case 4:
            return "YM2608";
        case 5:
            return "YM2151";
        case 6:
            return "YM2413";
        case 7:
            return "YM3526";
        case 8:
            return "YM3812";
        case 9:
            return "YMF262";
        case 15:
            return "AY-3-8910";
        case 16:
            return "SN76489";
        default:
            return nullptr;
    }
}

// Register bytes whose writes carry a level or set an algorithm: every class
// but RegisterClass::None. The production walk hands on only these.
inline constexpr std::array<bool, 256> kLevelRegisters = [] {
    std::array<bool, 256> level{};
    for (int reg = 0; reg < 256; ++reg) {
        level[reg] = kRegisterClasses[reg] != RegisterClass::None;
    }
    return level;
}();

}  // namespace morla
