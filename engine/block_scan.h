// The vector block scanner under the fast walk: finds the command starts of
// 64 bytes of stream at a time and, among them, the register writes whose
// register carries a level, without stepping from command to command.
//
// How a block is scanned: every byte of the block is taken as if a command
// started there, giving the position of the command after it (3 bytes on for
// a write, 1 for a one-tick wait, past the tick count for a long wait). Those
// 64 "next" positions are composed with themselves six times by byte permutes
// (next of next, 4 on, ... 64 on), which gives at once where the walk leaves
// the block and, for every n < 64, where its n-th command starts. The writes
// among those starts are then classed by their register bytes in parallel.
//
// A block the scanner cannot judge is handed back to the scalar walk: one
// whose walk reaches an end command or a command byte naming an undeclared
// device (both stop the walk there), or a wait whose tick count runs on past
// the next block.
//
// Three decoders share that contract: AVX-512 (with the VBMI byte permutes),
// AVX2 (16-byte halves and 16-entry table lookups), and none, where the fast
// walk steps through every command itself. On first use the walks take
// AVX-512 when the processor (and system) runs it, else the scalar walk: the
// AVX2 scan measured slower than the scalar walk on song streams, and is
// there to be chosen (MORLA_DECODER=avx2).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "chip_model.h"

namespace morla {

enum class Decoder {
    Scalar,
    Avx2,
    Avx512,
};

// "scalar", "avx2", "avx512": as `morla --version` prints it.
const char* DecoderName(Decoder decoder);

// Whether this processor (and system) can run `decoder`.
bool DecoderRuns(Decoder decoder);

// The decoder the walks use: AVX-512 when this processor runs it, else the
// scalar one, unless UseDecoder chose another.
Decoder ActiveDecoder();

// Makes the walks use `decoder` from now on; false (and nothing changed) when
// the processor cannot run it. For tests, benchmarks and users who want to
// compare.
bool UseDecoder(Decoder decoder);

// Register bytes whose writes carry a level or set an algorithm: every class
// but RegisterClass::None.
inline constexpr std::array<bool, 256> kLevelRegisters = [] {
    std::array<bool, 256> level{};
    for (int reg = 0; reg < 256; ++reg) {
        level[reg] = kRegisterClasses[reg] != RegisterClass::None;
    }
    return level;
}();

// What one call of a scanner found.
struct BlockScan {
    std::size_t pos = 0;    // the next command start, not scanned yet
    std::size_t found = 0;  // level writes found, in stream order
    bool handOver = false;  // the block at `pos` is the scalar walk's
};

// How many blocks a scanner takes in one call, and the room its caller gives
// it for the offsets it finds (a block holds at most 22 writes; a scanner may
// store 32 entries per block, the ones beyond what it found being rubbish).
inline constexpr std::size_t kScanBlock = 64;
inline constexpr std::size_t kScanBlocksPerCall = 16;
inline constexpr std::size_t kScanFoundRoom = kScanBlocksPerCall * 32;

// Scans the commands from `pos` (a command start), block by block while a
// block and the 64 bytes after it lie before `stop`, and stores in `found`
// the offset from `pos` of every register write among them whose command byte is below
// `commandBound` and whose register is a level register (kLevelRegisters).
// Command bytes from `commandBound` up to the end command name undeclared
// devices: their blocks are handed over. Null when the active decoder is the
// scalar one.
using BlockScanner = BlockScan (*)(const std::uint8_t* bytes, std::size_t pos, std::size_t stop,
                                   std::uint8_t commandBound, std::uint16_t* found);
BlockScanner ActiveBlockScanner();

}  // namespace morla
