#include "render/rhythm_stand_in.h"

namespace morla {

// A placeholder until the synthesized drums land: every nibble is 8 or 0, the
// smallest ADPCM-A steps down and up, a near-silent tone where each sound
// would be.
const std::array<std::uint8_t, kRhythmRomSize>& RhythmStandInRom() {
    static const std::array<std::uint8_t, kRhythmRomSize> rom = [] {
        std::array<std::uint8_t, kRhythmRomSize> bytes{};
        bytes.fill(0x80);
        return bytes;
    }();
    return rom;
}

}  // namespace morla
