// A stand-in for the YM2608's rhythm ROM: six drums made here, in code.
//
// The OPNA plays its six rhythm sounds (bass drum, snare, top cymbal, hi-hat,
// tom, rim shot) from an internal 8 KiB ROM of ADPCM-A samples. That ROM is
// Yamaha's and does not ship with morla; a user who has a dump of it
// (ym2608_adpcm_rom.bin) hands it to the render layer, which otherwise plays
// these synthetic drums. They sound like drums rather than like the real ones,
// but each is as loud as the real drum it stands for (EBU R128, against one
// FM carrier of the same chip), so a song measures as it would with the ROM.
//
// The image holds each drum in the byte range the chip plays it from:
//
//   drum       bytes            rate          length
//   bass drum  0x0000-0x01BF    clock / 432   ~48 ms
//   snare      0x01C0-0x043F    clock / 432   ~69 ms
//   top cym.   0x0440-0x1B7F    clock / 432   ~644 ms
//   hi-hat     0x1B80-0x1CFF    clock / 432   ~41 ms
//   tom        0x1D00-0x1F7F    clock / 864   ~138 ms
//   rim shot   0x1F80-0x1FFF    clock / 864   ~28 ms
//
// Two 4-bit ADPCM-A codes a byte, the high nibble first; the decoder starts
// every drum from an accumulator of 0 at the smallest step.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace morla {

inline constexpr std::size_t kRhythmRomSize = 8192;

// The 8 KiB image, made on first use (from any thread) and the same bytes on
// every run and every build.
const std::array<std::uint8_t, kRhythmRomSize>& RhythmStandInRom();

// Encodes 12-bit samples (-2048..2047; larger values are taken as the limit)
// as ADPCM-A: two codes a byte, high nibble first, as the YM2608 and YM2610
// decode them from a key-on. Each code is the one that brings the decoder's own
// 12-bit accumulator closest to the sample, so errors do not build up, and
// none makes the accumulator wrap around. An odd count leaves the last low
// nibble 0. Writes (samples.size() + 1) / 2 bytes to `out`, which must hold
// them.
void EncodeAdpcmA(std::span<const std::int16_t> samples, std::span<std::uint8_t> out);

}  // namespace morla
