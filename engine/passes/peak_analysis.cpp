#include "passes/peak_analysis.h"

#include <algorithm>

#include "base/text.h"

namespace morla {

void TakeLoudest(PeakLevels& album, const PeakLevels& file) {
    album.fmPeak = std::min(album.fmPeak, file.fmPeak);
    album.fmSecondPeak = std::min(album.fmSecondPeak, file.fmSecondPeak);
    album.ssgPeak = std::max(album.ssgPeak, file.ssgPeak);
    album.rhythmPeak = std::max(album.rhythmPeak, file.rhythmPeak);
    album.chipSsgPeak = std::max(album.chipSsgPeak, file.chipSsgPeak);
    album.ym2149Peak = std::max(album.ym2149Peak, file.ym2149Peak);
    album.ay8910Peak = std::max(album.ay8910Peak, file.ay8910Peak);
    album.adpcmPeak = std::max(album.adpcmPeak, file.adpcmPeak);
}

std::u16string FormatPeakLine(const PeakLevels& peaks) {
    std::u16string line = u"PEAK:";
    std::u16string part;
    if (peaks.fmPeak != 128) {
        line += FormatLine(part, " FM=%d(2nd=%d)", peaks.fmPeak, peaks.fmSecondPeak);
    }
    if (peaks.ssgPeak != -1) {
        line += FormatLine(part, " SSG=%d", peaks.ssgPeak);
    }
    if (peaks.rhythmPeak != -1) {
        line += FormatLine(part, " RHYTHM=%d", peaks.rhythmPeak);
    }
    return line;
}

}  // namespace morla
