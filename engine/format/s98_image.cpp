#include "format/s98_image.h"

#include <cstring>

#include "base/messages.h"

namespace morla {
namespace {

// A 32-bit little-endian value at `offset`; bytes beyond the image read as 0,
// so a file shorter than its header never reads outside the buffer.
std::int32_t ReadLE32(const S98Image& image, std::size_t offset) {
    std::uint32_t value = 0;
    for (std::size_t k = 0; k < 4; ++k) {
        if (offset + k < image.size()) {
            value |= static_cast<std::uint32_t>(image.data()[offset + k]) << (8 * k);
        }
    }
    return static_cast<std::int32_t>(value);
}

constexpr std::size_t kVersionOffset = 0x03;
constexpr std::size_t kTimerNumeratorOffset = 0x04;
constexpr std::size_t kTimerDenominatorOffset = 0x08;
constexpr std::size_t kTagOffsetOffset = 0x10;
constexpr std::size_t kDataOffsetOffset = 0x14;
constexpr std::size_t kDeviceCountOffset = 0x1C;

// Versions '0' and '1' (and the bytes below them) and '3' are read; '2' and
// everything from '4' up are refused.
bool IsReadableVersion(std::uint8_t version) {
    return version <= '1' || version == '3';
}

DeviceTable ReadDeviceTable(const S98Image& image, std::int32_t deviceCount) {
    DeviceTable devices;
    if (deviceCount == 0) {
        // no device list: one OPNA
        devices.declared[0] = true;
        devices.type[0] = kDeviceYM2608;
        return devices;
    }
    for (int index = 0; index < kDeviceIndexCount && index < deviceCount; ++index) {
        const std::size_t entry = kDeviceEntryOffset + kDeviceEntrySize * index;
        if (entry + 4 <= image.size()) {
            devices.declared[index] = true;
            devices.type[index] = ReadLE32(image, entry);
        }
    }
    return devices;
}

}  // namespace

bool S98Image::Allocate(std::size_t size) {
    // calloc: large blocks come zero-filled from the system without a pass
    bytes_.reset(static_cast<std::uint8_t*>(std::calloc(size == 0 ? 1 : size, 1)));
    size_ = bytes_ ? size : 0;
    return static_cast<bool>(bytes_);
}

S98Image S98Image::FromBytes(const std::uint8_t* bytes, std::size_t size) {
    S98Image image;
    if (image.Allocate(size) && size != 0) {
        std::memcpy(image.data(), bytes, size);
    }
    return image;
}

void S98Image::Release() {
    bytes_.reset();
    size_ = 0;
}

std::u16string ReadHeader(const S98Image& image, S98Layout& layout) {
    const std::uint8_t version = kVersionOffset < image.size() ? image.data()[kVersionOffset] : 0;
    if (!IsReadableVersion(version)) {
        return kVersionError;
    }

    S98Header& header = layout.header;
    header.tagOffset = ReadLE32(image, kTagOffsetOffset);
    header.dataOffset = ReadLE32(image, kDataOffsetOffset);
    header.deviceCount = ReadLE32(image, kDeviceCountOffset);

    // The image is below 2 GiB, so its length is a valid signed 32-bit count.
    const auto length = static_cast<std::int64_t>(image.size());
    if (header.dataOffset < static_cast<std::int32_t>(kHeaderSize) || header.dataOffset > length) {
        return DataOffsetErrorMessage(header.dataOffset);
    }
    if ((header.tagOffset != 0 && header.tagOffset < static_cast<std::int32_t>(kHeaderSize)) ||
        header.tagOffset > length) {
        return TagOffsetErrorMessage(header.tagOffset);
    }
    layout.endBound = header.tagOffset > header.dataOffset
                          ? static_cast<std::size_t>(header.tagOffset)
                          : image.size();
    layout.devices = ReadDeviceTable(image, header.deviceCount);
    return {};
}

SyncTick ReadSyncTick(const S98Image& image) {
    SyncTick tick;
    const auto numerator = static_cast<std::uint32_t>(ReadLE32(image, kTimerNumeratorOffset));
    const auto denominator = static_cast<std::uint32_t>(ReadLE32(image, kTimerDenominatorOffset));
    tick.numerator = numerator != 0 ? numerator : tick.numerator;
    tick.denominator = denominator != 0 ? denominator : tick.denominator;
    return tick;
}

std::uint32_t ReadDeviceClock(const S98Image& image, int index) {
    const std::size_t entry =
        kDeviceEntryOffset + kDeviceEntrySize * static_cast<std::size_t>(index);
    if (index < 0 || ReadLE32(image, kDeviceCountOffset) <= index || entry + 8 > image.size()) {
        return 0;
    }
    return static_cast<std::uint32_t>(ReadLE32(image, entry + 4));
}

std::u16string HeaderFaultReason(const S98Image& image) {
    S98Layout layout;
    if (ReadHeader(image, layout).empty()) {
        return {};
    }
    const std::uint8_t* bytes = image.data();
    const std::size_t size = image.size();
    if (size < 3 || bytes[0] != 'S' || bytes[1] != '9' || bytes[2] != '8') {
        return u"not an S98 file (it does not begin with \"S98\")";
    }
    if (size <= kVersionOffset || !IsReadableVersion(bytes[kVersionOffset])) {
        return size <= kVersionOffset ? u"the file ends inside its header"
                                      : u"an S98 version this tool does not read (only 0, 1 and 3)";
    }
    if (size < kHeaderSize) {
        return u"the file ends inside its header";
    }
    const std::int32_t dataOffset = ReadLE32(image, kDataOffsetOffset);
    if (dataOffset < static_cast<std::int32_t>(kHeaderSize) ||
        dataOffset > static_cast<std::int64_t>(size)) {
        return u"the header's data offset points outside the file";
    }
    return u"the header's tag offset points outside the file";
}

}  // namespace morla
