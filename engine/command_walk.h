// The one decoder of the command stream, shared by the analysis pass
// (checking mode) and the rewrite pass (trusting mode).
#pragma once

#include <string>

#include "messages.h"
#include "s98_image.h"

namespace morla {

enum class WalkMode {
    // Validates every command before handing it on; stops at the first fault.
    Checking,
    // Makes no tests. Only run on an image whose checking walk completed; the
    // visitor changes data bytes only, which never decide how the stream is
    // divided, so it visits exactly the commands the checking walk visited.
    Trusting,
};

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
