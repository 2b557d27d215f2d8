// The decoder the jobs run on. It visits the same commands in the same order
// and reports the same faults as CommandWalk (command_walk.h), the readable
// reference that tests and the fuzz target hold it to, but:
//   - it is resumable: it walks the commands that start before a limit and
//     goes on from there when called again, so that its caller can write out
//     each stretch of the file as soon as the walk has passed it;
//   - it hands each register write on as its raw bytes, and makes the fault
//     message only once the walk has stopped, so the loop carries no text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "command_walk.h"
#include "s98_image.h"

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

// Walks the commands that start before `limit` (and before the end bound),
// handing every register write to `visit(offset, command, reg, data)`.
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

}  // namespace morla
