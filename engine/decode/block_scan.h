// The contract of the block scanners under the production walk: finds the command starts of
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
// The kernels that keep this contract live in a folder per architecture
// (x86/); the decoder list (decoder.cpp) says which runs. For the decoders'
// own walks, not for front ends: they include decoder.h.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace morla {

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
// devices: their blocks are handed over.
using BlockScanner = BlockScan (*)(const std::uint8_t* bytes, std::size_t pos, std::size_t stop,
                                   std::uint8_t commandBound, std::uint16_t* found);
// The scanner of the decoder in use; null for the scalar walk, which steps
// through every command itself.
BlockScanner ActiveBlockScanner();

}  // namespace morla
