// The production walk of the command stream, the one the jobs run on. It
// visits the same commands in the same order and reports the same faults as
// the reference decoder (reference/command_walk.h), which the tests and the
// fuzz target hold it to, but:
//   - it is resumable: it walks the commands that start before a limit and
//     goes on from there when called again, so that its caller can write out
//     each stretch of the file as soon as the walk has passed it;
//   - it hands each register write on as its raw bytes, and makes the fault
//     message only once the walk has stopped, so the loop carries no text.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

#include "base/messages.h"
#include "decode/block_scan.h"
#include "format/chip_model.h"
#include "format/s98_image.h"

namespace morla {

// Where a walk stands between two stretches.
struct WalkCursor {
    std::size_t pos = 0;   // the next command
    bool ended = false;    // the end command or the end bound was reached
    std::u16string error;  // checking mode: the fault that stopped the walk
};

inline WalkCursor StartOfStream(const S98Layout& layout) {
    WalkCursor cursor;
    cursor.pos = static_cast<std::size_t>(layout.header.dataOffset);
    cursor.ended = cursor.pos >= layout.endBound;
    return cursor;
}

// A wait as the walk hands it to a visitor that takes waits: the number of
// sync ticks, 1 for 0xFF; for 0xFE, the value bytes (7 bits each, the lowest
// first) plus 2, held at kMaxWaitTicks when the value is larger.
struct WaitTicks {
    std::uint64_t ticks;
};
inline constexpr std::uint64_t kMaxWaitTicks = std::uint64_t{1} << 56;

// The value of the 0xFE wait whose value bytes start at `value` and end with
// the byte at `last`.
inline std::uint64_t WaitValueTicks(const std::uint8_t* bytes, std::size_t value,
                                    std::size_t last) {
    std::uint64_t ticks = 0;
    for (std::size_t at = value, shift = 0; at <= last; ++at, shift += 7) {
        const std::uint64_t bits = bytes[at] & 0x7F;
        if (shift > 49 && bits != 0) {
            return kMaxWaitTicks;
        }
        ticks |= shift > 49 ? 0 : bits << shift;
    }
    return ticks + 2;
}

// Walks the commands that start before `limit` (and before the end bound),
// handing every register write to `visit(offset, command, reg, data)`, and
// every wait to `visit(WaitTicks)` when the visitor takes one (the walks of
// the level passes do not, and compile without it).
template <WalkMode Mode, class Visitor>
void FastCommandWalk(const std::uint8_t* bytes, const S98Layout& layout, WalkCursor& cursor,
                     std::size_t limit, Visitor&& visit) {
    constexpr bool checking = Mode == WalkMode::Checking;
    const std::size_t end = layout.endBound;
    const std::size_t stop = limit < end ? limit : end;
    std::size_t pos = cursor.pos;
    // Checking mode: a fault stops the walk; its message is made after it.
    enum { kNone, kEof, kCorrupted } fault = kNone;
    std::size_t eofAt = 0;
    bool ended = false;
    while (pos < stop) {
        const std::uint8_t command = bytes[pos];
        if (command < kCommandEnd) {
            if constexpr (checking) {
                if (end - pos < 3) {
                    fault = kEof;
                    eofAt = pos;
                    break;
                }
                if (!layout.devices.declared[command >> 1]) {
                    fault = kCorrupted;
                    break;
                }
            }
            visit(pos, command, bytes[pos + 1], bytes[pos + 2]);
            pos += 3;
        } else if (command == kCommandWait1) {
            if constexpr (std::is_invocable_v<Visitor&, WaitTicks>) {
                visit(WaitTicks{1});
            }
            pos += 1;
        } else if (command == kCommandWaitN) {
            // variable-length tick count: bit 7 set on every byte but the last
            std::size_t value = pos + 1;
            if constexpr (checking) {
                while (value < end && (bytes[value] & 0x80) != 0) {
                    ++value;
                }
                if (value >= end) {
                    fault = kEof;
                    eofAt = value;
                    break;
                }
            } else {
                while ((bytes[value] & 0x80) != 0) {
                    ++value;
                }
            }
            if constexpr (std::is_invocable_v<Visitor&, WaitTicks>) {
                visit(WaitTicks{WaitValueTicks(bytes, pos + 1, value)});
            }
            pos = value + 1;
        } else {
            ended = true;  // kCommandEnd: nothing after it is visited
            break;
        }
    }
    cursor.pos = pos;
    cursor.ended = ended || fault != kNone || pos >= end;
    if constexpr (checking) {
        if (fault == kEof) {
            cursor.error = UnexpectedEofMessage(eofAt);
        } else if (fault == kCorrupted) {
            cursor.error = CorruptedDataMessage(pos, bytes[pos], bytes[pos + 1], bytes[pos + 2]);
        }
    }
}

// The register writes a pass looks at: writes to a level register
// (kLevelRegisters) of a device it wants.
struct WriteFilter {
    std::array<bool, kDeviceIndexCount> wanted{};  // by device index
    // Command bytes below it name declared devices (the header declares
    // devices 0 to n - 1).
    std::uint8_t commandBound = 0;

    bool Wants(std::uint8_t command, std::uint8_t reg) const {
        return wanted[command >> 1] && kLevelRegisters[reg];
    }
};

// The filter for the devices of `layout` whose type `wants(type)` accepts.
template <class WantsType>
WriteFilter FilterFor(const S98Layout& layout, WantsType wantsType) {
    WriteFilter filter;
    int declared = 0;
    while (declared < kDeviceIndexCount && layout.devices.declared[declared]) {
        ++declared;
    }
    filter.commandBound =
        static_cast<std::uint8_t>(declared * 2 < kCommandEnd ? declared * 2 : kCommandEnd);
    for (int device = 0; device < kDeviceIndexCount; ++device) {
        filter.wanted[device] =
            layout.devices.declared[device] && wantsType(layout.devices.type[device]);
    }
    return filter;
}

// FastCommandWalk for the writes `filter` wants only: the same walk, the same
// faults, visiting those writes in the same order. Takes the stream a block of
// 64 bytes at a time with the block scanner of the decoder in use
// (decoder.h), and steps command by command where the scanner hands a block
// over, near `limit` and with the scalar decoder.
template <WalkMode Mode, class Visitor>
void LevelWriteWalk(const std::uint8_t* bytes, const S98Layout& layout, const WriteFilter& filter,
                    WalkCursor& cursor, std::size_t limit, Visitor&& visit) {
    auto visitWanted = [&](std::size_t offset, std::uint8_t command, std::uint8_t reg,
                           std::uint8_t data) {
        if (filter.Wants(command, reg)) {
            visit(offset, command, reg, data);
        }
    };
    const std::size_t stop = limit < layout.endBound ? limit : layout.endBound;
    const BlockScanner scan = filter.commandBound != 0 ? ActiveBlockScanner() : nullptr;
    if (scan != nullptr) {
        std::uint16_t found[kScanFoundRoom];
        while (!cursor.ended && cursor.pos + 2 * kScanBlock <= stop) {
            const BlockScan scanned = scan(bytes, cursor.pos, stop, filter.commandBound, found);
            for (std::size_t i = 0; i < scanned.found; ++i) {
                const std::size_t offset = cursor.pos + found[i];
                if (filter.wanted[bytes[offset] >> 1]) {
                    visit(offset, bytes[offset], bytes[offset + 1], bytes[offset + 2]);
                }
            }
            cursor.pos = scanned.pos;
            if (scanned.handOver) {
                FastCommandWalk<Mode>(bytes, layout, cursor, scanned.pos + kScanBlock, visitWanted);
            }
        }
    }
    FastCommandWalk<Mode>(bytes, layout, cursor, limit, visitWanted);
}

}  // namespace morla
