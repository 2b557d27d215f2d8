// The slice of the S98 format that the engine reads and writes.
//
// Header (offsets from the start of the file; values are 32-bit little-endian
// and compared as signed integers):
//
//   0x00  3 bytes   format mark "S98"                    not examined
//   0x03  1 byte    version character                    '0'..'1' or '3' (bytes 0x00-0x31, 0x33)
//   0x04 12 bytes   timer info, compression              written back unchanged;
//                   0x04 and 0x08: one sync tick is      the render reads them
//                   numerator / denominator seconds
//   0x10  4 bytes   tag offset (0 = no tag)              limits the walk when beyond the data
//   0x14  4 bytes   data offset: start of the commands
//   0x18  4 bytes   loop offset                          written back unchanged
//   0x1C  4 bytes   device count (0 = a single OPNA)
//   0x20 16 bytes   device entry i at 0x20 + 16 * i;     the jobs read its first 4 bytes,
//                   one per device                       the device type number; the render
//                                                        also its clock in Hz (entry + 4)
//
// Command stream, from the data offset on:
//
//   0x00-0xFC  3 bytes   register write: device = byte >> 1, port = byte & 1,
//                        then register number, then data byte
//   0xFD       1 byte    end of the stream
//   0xFE       2+ bytes  wait of n sync ticks; n follows as bytes with bit 7 set
//                        except the last
//   0xFF       1 byte    wait of one sync tick
//
// The engine never changes the length or layout of a file: the only bytes it
// may change are data bytes (the third byte) of register writes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

namespace morla {

// Command bytes of the stream.
inline constexpr std::uint8_t kCommandEnd = 0xFD;
inline constexpr std::uint8_t kCommandWaitN = 0xFE;
inline constexpr std::uint8_t kCommandWait1 = 0xFF;

// How a walk takes the command stream.
enum class WalkMode {
    // Validates every command before handing it on; stops at the first fault.
    Checking,
    // Makes no tests. Only run on an image whose checking walk completed; the
    // visitor changes data bytes only, which never decide how the stream is
    // divided, so it visits exactly the commands the checking walk visited.
    Trusting,
};

// S98 device type numbers.
enum DeviceType : std::int32_t {
    kDeviceYM2149 = 1,    // PSG
    kDeviceYM2203 = 2,    // OPN
    kDeviceYM2612 = 3,    // OPN2
    kDeviceYM2608 = 4,    // OPNA
    kDeviceYM2151 = 5,    // OPM
    kDeviceYM2413 = 6,    // OPLL
    kDeviceYM3526 = 7,    // OPL
    kDeviceYM3812 = 8,    // OPL2
    kDeviceYMF262 = 9,    // OPL3
    kDeviceAY8910 = 15,   // PSG
    kDeviceSN76489 = 16,  // DCSG
};

// A device index is the command byte shifted right by one: 0-126.
inline constexpr int kDeviceIndexCount = 127;

inline constexpr std::size_t kHeaderSize = 0x20;
inline constexpr std::size_t kDeviceEntryOffset = 0x20;
inline constexpr std::size_t kDeviceEntrySize = 16;

// The whole file in one zero-filled buffer of exactly its length.
class S98Image {
  public:
    S98Image() = default;
    // Allocates `size` zero-filled bytes; false when the memory is not there.
    bool Allocate(std::size_t size);
    // Takes a copy of `size` bytes (tests, fuzzing, in-memory use).
    static S98Image FromBytes(const std::uint8_t* bytes, std::size_t size);

    std::uint8_t* data() { return bytes_.get(); }
    const std::uint8_t* data() const { return bytes_.get(); }
    std::size_t size() const { return size_; }
    void Release();

  private:
    struct FreeBytes {
        void operator()(std::uint8_t* p) const { std::free(p); }
    };
    std::unique_ptr<std::uint8_t[], FreeBytes> bytes_;
    std::size_t size_ = 0;
};

struct S98Header {
    std::int32_t tagOffset = 0;
    std::int32_t dataOffset = 0;
    std::int32_t deviceCount = 0;
};

// One register write as the walk hands it to a pass.
struct S98Command {
    std::size_t offset;        // file offset of the command byte
    std::uint8_t deviceIndex;  // 0-126
    std::uint8_t port;         // 0 or 1
    std::uint8_t reg;
    std::uint8_t data;
    std::int32_t deviceType;
};

// Which device indices the header declares, and the type of each, read once
// from the device table before the walks. A device index whose entry the
// header does not declare, or whose entry does not lie wholly inside the file,
// is not declared.
struct DeviceTable {
    std::array<bool, kDeviceIndexCount> declared{};
    std::array<std::int32_t, kDeviceIndexCount> type{};
};

// The header as a job uses it: the three values, where the walk ends, and the
// device table.
struct S98Layout {
    S98Header header;
    std::size_t endBound = 0;  // exclusive end of the walk
    DeviceTable devices;
};

// Reads and checks the header of `image`. Returns the empty text and fills
// `layout`, or returns the error message. Header bytes beyond the end of a
// short file read as 0.
std::u16string ReadHeader(const S98Image& image, S98Layout& layout);

// One sync tick of the stream: numerator / denominator seconds, from header
// 0x04 and 0x08; a 0 reads as the format's default (10 and 1000).
struct SyncTick {
    std::uint32_t numerator = 10;
    std::uint32_t denominator = 1000;
};
SyncTick ReadSyncTick(const S98Image& image);

// The clock in Hz that the header gives device `index` (entry + 4); 0 when
// it gives none (no device list, or the entry outside the file).
std::uint32_t ReadDeviceClock(const S98Image& image, int index);

// Why ReadHeader refused `image`, in a user's words ("not an S98 file (it
// does not begin with "S98")", "the file ends inside its header", ...), for
// a line beside the fixed message. Empty when the header is sound.
std::u16string HeaderFaultReason(const S98Image& image);

}  // namespace morla
