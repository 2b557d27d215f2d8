// A long, song-like S98 image for measuring: one OPNA whose stream mixes the
// writes a real log holds (frequencies, key on/off, operator levels, algorithm
// changes, SSG and rhythm levels) with one- and many-tick waits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace morla::bench {

// An image whose command stream is `streamBytes` long (give or take one
// command), ending in the end command.
std::vector<std::uint8_t> MakeSongImage(std::size_t streamBytes);

// The worst case for a walk's branch prediction: one OPNA (version '3', no
// device list, the stream right after the 32-byte header) whose stream is
// register writes only, each on a random port to a random register with a
// random data byte (within the bits the register holds), and now and then a
// one-tick wait. Half the registers are drawn from the ones the level passes
// look at (TL 40-4E, algorithm B0-B2, SSG volume 08-0A, rhythm total level
// 11), half from all 256. The same seed gives the same bytes.
std::vector<std::uint8_t> MakeDenseRandomImage(std::size_t streamBytes, std::uint32_t seed);

// The header and command stream of an S98 file (up to its end command or
// tag), with the stream repeated until it is `streamBytes` long; empty when
// the file cannot be read.
std::vector<std::uint8_t> RepeatSampleStream(const char* path, std::size_t streamBytes);

}  // namespace morla::bench
