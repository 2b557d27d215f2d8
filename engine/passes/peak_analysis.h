// The analysis pass: peak levels of a file, measured on every device type the
// engine knows (the PSGs included).
#pragma once

#include <cstdint>
#include <string>

#include "format/chip_model.h"
#include "format/s98_image.h"

namespace morla {

struct PeakLevels {
    std::int32_t fmPeak = 128;        // smallest carrier TL seen (the loudest)
    std::int32_t fmSecondPeak = 128;  // smallest non-zero carrier TL seen
    std::int32_t ssgPeak = -1;        // largest SSG volume byte seen with bit 4 clear
    std::int32_t rhythmPeak = -1;     // largest rhythm total level byte seen
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
            if (command.port == 0 && (value & 0x10) == 0 && value > peaks.ssgPeak) {
                peaks.ssgPeak = value;
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
        case RegisterClass::None:
            break;
    }
}

// Album mode: folds one file's peaks into the peaks of an album, keeping the
// loudest of each (the lowest FM and second FM levels, the highest SSG and
// rhythm levels). A level that no file has keeps its start value.
void TakeLoudest(PeakLevels& album, const PeakLevels& file);

// "PEAK:" followed by the FM, SSG and rhythm parts of what was measured.
std::u16string FormatPeakLine(const PeakLevels& peaks);

}  // namespace morla
