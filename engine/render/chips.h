// The emulated devices of a render (song_render.cpp only): one object per
// device the header declares, each taking its register writes, adding its
// sound into the mix at the output rate and saying when it is quiet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "render/song_render.h"

namespace morla {

// Levels of the mix: a full-scale sample of the chips' 16-bit output is
// kFmGain, and an SSG channel at its loudest holds kSsgGain (its peak-to-peak
// swing: the square wave runs from 0 to kSsgGain). Set from a real OPNA as an
// independent player measures it: one FM carrier at total level 0 (algorithm
// 7, about 440 Hz, both outputs) -12.8 LUFS, an SSG tone at volume 15 4.3 LU
// below it. ymfm puts the OPNA's FM out at half the scale of the OPN's (13
// bits against 14), so the OPNA's FM is doubled (kOpnaFmGain): one carrier
// then measures the same on both.
inline constexpr float kFmGain = 1.0f;
inline constexpr float kOpnaFmGain = 2.0f;
inline constexpr float kSsgGain = 0.2f;

class RenderDevice {
  public:
    virtual ~RenderDevice() = default;
    // A register write: port 0 or 1, register, data.
    virtual void Write(std::uint8_t port, std::uint8_t reg, std::uint8_t data) = 0;
    // Adds `frames` interleaved stereo frames of sound to `mix`. With
    // `holdQuiet`, a section of the device that is quiet (below) is not run: its
    // counters stand still and its constant output is mixed.
    virtual void Render(float* mix, std::size_t frames, bool holdQuiet) = 0;
    // True when, with no further register write, the output stays what it
    // is now: every envelope released to silence, no sample playing, every
    // PSG channel at a fixed level with no tone or noise heard.
    virtual bool Quiet() = 0;
    // Whether the stream has keyed the OPNA's rhythm.
    virtual bool RhythmKeyed() const { return false; }
};

// The device of `type` at `clock` Hz (0: the type's usual clock), rendering at
// `outputRate`; null for a type no emulator here renders. `rhythmRom` is the
// OPNA's rhythm ROM image.
std::unique_ptr<RenderDevice> MakeRenderDevice(std::int32_t type, std::uint32_t clock,
                                               std::uint32_t outputRate,
                                               const RhythmRom& rhythmRom);

}  // namespace morla
