#include "passes/peak_analysis.h"

#include <algorithm>

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

}  // namespace morla
