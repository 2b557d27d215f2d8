// The OPNA's rhythm sounds when the user has no image of the chip's own
// rhythm ROM (8 KiB of 4-bit ADPCM-A, Yamaha's, never shipped with morla).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace morla {

inline constexpr std::size_t kRhythmRomSize = 8192;

// The stand-in ROM image, at the addresses the chip plays each rhythm sound
// from.
const std::array<std::uint8_t, kRhythmRomSize>& RhythmStandInRom();

}  // namespace morla
