#include "base/messages.h"

#include "base/text.h"

namespace morla {

std::u16string DataOffsetErrorMessage(std::int32_t dataOffset) {
    return FormatText("data offset error. %08x", static_cast<unsigned>(dataOffset));
}

std::u16string TagOffsetErrorMessage(std::int32_t tagOffset) {
    return FormatText("tag offset error. %08x", static_cast<unsigned>(tagOffset));
}

std::u16string UnexpectedEofMessage(std::size_t offset) {
    return FormatText("found unexpected EOF.  ofs=%08x", static_cast<unsigned>(offset));
}

std::u16string CorruptedDataMessage(std::size_t offset, std::uint8_t command, std::uint8_t reg,
                                    std::uint8_t data) {
    return FormatText("found corrupted data.  ofs=%08x: %02x %02x %02x",
                      static_cast<unsigned>(offset), command, reg, data);
}

}  // namespace morla
