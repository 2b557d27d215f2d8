// The AVX-512 kernel of the block scanner (decode/block_scan.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "decode/block_scan.h"
#include "format/chip_model.h"

namespace morla {

// Whether this processor and system run it: AVX-512 F, BW, VBMI and VBMI2.
bool Avx512Runs();

BlockScan ScanAvx512(const std::uint8_t* bytes, std::size_t pos, std::size_t stop,
                     std::uint8_t commandBound, std::uint16_t* found);

}  // namespace morla
