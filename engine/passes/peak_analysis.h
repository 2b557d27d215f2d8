// The analysis pass: peak levels of a file, measured on every device type the
// engine knows (the PSGs included).
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>

#include "format/chip_model.h"
#include "format/s98_image.h"

namespace morla {

// A level no write has set keeps its start value, one past its quietest.
struct PeakLevels {
    std::int32_t fmPeak = kTotalLevelMax + 1;        // smallest carrier TL seen (the loudest)
    std::int32_t fmSecondPeak = kTotalLevelMax + 1;  // smallest non-zero carrier TL seen
    std::int32_t ssgPeak = -1;     // largest SSG volume byte seen with bit 4 clear
    std::int32_t rhythmPeak = -1;  // largest rhythm total level byte seen
    // Beyond the PEAK row: which chips the SSG volumes were written to (each
    // its largest byte with bit 4 clear), and the largest ADPCM level.
    std::int32_t chipSsgPeak = -1;  // the SSG of an OPN, OPN2 or OPNA
    std::int32_t ym2149Peak = -1;   // stand-alone YM2149s
    std::int32_t ay8910Peak = -1;   // stand-alone AY-3-8910s
    std::int32_t adpcmPeak = -1;    // the OPNA's ADPCM level
};

inline void AnalyseDeviceWrite(const S98Command& command, AlgorithmTable& algorithms,
                               PeakLevels& peaks);

// The analysis step for one register write: follows algorithm writes and
// collects the peaks. Reads nothing but the command. Inline, so that it
// inlines into the loop of every walk that uses it.
inline void AnalyseCommand(const S98Command& command, AlgorithmTable& algorithms,
                           PeakLevels& peaks) {
    if (IsAnalysedDevice(command.deviceType)) {
        AnalyseDeviceWrite(command, algorithms, peaks);
    }
}

// AnalyseCommand for a write to a device it analyses (IsAnalysedDevice), for
// walks that hand on no other.
inline void AnalyseDeviceWrite(const S98Command& command, AlgorithmTable& algorithms,
                               PeakLevels& peaks) {
    // Whole data bytes are compared, not masked to the register's width.
    const std::int32_t value = command.data;
    switch (kRegisterClasses[command.reg]) {
        case RegisterClass::SsgVolume:
            if (command.port == 0 && (value & kSsgEnvelopeBit) == 0) {
                peaks.ssgPeak = std::max(peaks.ssgPeak, value);
                std::int32_t& chip = command.deviceType == kDeviceAY8910   ? peaks.ay8910Peak
                                     : command.deviceType == kDeviceYM2149 ? peaks.ym2149Peak
                                                                           : peaks.chipSsgPeak;
                chip = std::max(chip, value);
            }
            break;
        case RegisterClass::AdpcmLevel:
            if (command.port == 1 && command.deviceType == kDeviceYM2608 &&
                value > peaks.adpcmPeak) {
                peaks.adpcmPeak = value;
            }
            break;
        case RegisterClass::RhythmTotalLevel:
            if (command.port == 0 && value > peaks.rhythmPeak) {
                peaks.rhythmPeak = value;
            }
            break;
        case RegisterClass::TotalLevel:
            if (IsCarrierWrite(algorithms, TotalLevelChannel(command.port, command.reg),
                               command.deviceIndex, TotalLevelSlot(command.reg))) {
                if (value < peaks.fmPeak) {
                    peaks.fmPeak = value;
                }
                if (value != 0 && value < peaks.fmSecondPeak) {
                    peaks.fmSecondPeak = value;
                }
            }
            break;
        case RegisterClass::FeedbackAlgorithm:
            algorithms.Set(AlgorithmChannel(command.port, command.reg), command.deviceIndex,
                           command.data);
            break;
        case RegisterClass::DacEnable:
        case RegisterClass::None:
            break;
    }
}

// Album mode: folds one file's peaks into the peaks of an album, keeping the
// loudest of each (the lowest FM and second FM levels, the highest SSG and
// rhythm levels). A level that no file has keeps its start value.
void TakeLoudest(PeakLevels& album, const PeakLevels& file);

}  // namespace morla
