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

// The header and command stream of an S98 file (up to its end command or
// tag), with the stream repeated until it is `streamBytes` long; empty when
// the file cannot be read.
std::vector<std::uint8_t> RepeatSampleStream(const char* path, std::size_t streamBytes);

}  // namespace morla::bench
