// The user's image of the OPNA's rhythm ROM (8 KiB, the chip's own drum
// sounds, Yamaha's: never shipped with morla), which a measurement hears in
// place of the stand-in when the user has one.
#pragma once

#include <string>
#include <string_view>

#include "render/song_render.h"

namespace morla {

// The name players of chip music look for beside them or in their
// configuration folder.
inline constexpr std::u16string_view kRhythmRomFileName = u"ym2608_adpcm_rom.bin";

// Reads the image at `path` into `rom`: the empty text, or why it is no such
// image ("cannot be read", "is N bytes, not 8192").
std::u16string ReadRhythmRom(const std::u16string& path, RhythmRom& rom);

}  // namespace morla
