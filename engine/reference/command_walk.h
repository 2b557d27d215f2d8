// The reference decoder of the command stream: the format's rules written out
// plainly, one command at a time, in checking mode (analysis) and trusting
// mode (rewrite). Not part of the product: the production walk
// (decode/level_write_walk.h) is held to it, command for command and fault
// for fault, by the tests and the fuzz target.
#pragma once

#include <string>

#include "base/messages.h"
#include "format/s98_image.h"

namespace morla {

// Walks the commands from the data offset to `layout.endBound` or the first
// end command and hands every register write to `visit(const S98Command&)`.
// Returns the empty text, or in checking mode the fault message.
template <WalkMode Mode, class Visitor>
std::u16string CommandWalk(const S98Image& image, const S98Layout& layout, Visitor&& visit) {
    constexpr bool checking = Mode == WalkMode::Checking;
    const std::uint8_t* const bytes = image.data();
    const std::size_t end = layout.endBound;
    std::size_t pos = static_cast<std::size_t>(layout.header.dataOffset);

    while (pos < end) {
        const std::uint8_t command = bytes[pos];
        if (command < kCommandEnd) {
            // register write: device/port, register, data
            if constexpr (checking) {
                if (end - pos < 3) {
                    return UnexpectedEofMessage(pos);
                }
            }
            const std::uint8_t device = command >> 1;
            if constexpr (checking) {
                if (!layout.devices.declared[device]) {
                    return CorruptedDataMessage(pos, command, bytes[pos + 1], bytes[pos + 2]);
                }
            }
            visit(S98Command{pos, device, static_cast<std::uint8_t>(command & 1), bytes[pos + 1],
                             bytes[pos + 2], layout.devices.type[device]});
            pos += 3;
        } else if (command == kCommandWait1) {
            pos += 1;
        } else if (command == kCommandWaitN) {
            // variable-length tick count: bit 7 set on every byte but the last
            pos += 1;
            for (;;) {
                if constexpr (checking) {
                    if (pos >= end) {
                        return UnexpectedEofMessage(pos);
                    }
                }
                if ((bytes[pos++] & 0x80) == 0) {
                    break;
                }
            }
        } else {
            break;  // kCommandEnd: nothing after it is visited
        }
    }
    return {};
}

}  // namespace morla
