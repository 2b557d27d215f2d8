#include "song_stream.h"

#include <array>
#include <fstream>
#include <iterator>

namespace morla::bench {
namespace {

constexpr std::size_t kDataOffset = 0x80;

// A small fixed-sequence generator, so every run measures the same bytes.
class Dice {
  public:
    std::uint32_t Next() {
        state_ = state_ * 1664525u + 1013904223u;
        return state_ >> 8;
    }
    std::uint32_t Below(std::uint32_t n) { return Next() % n; }

  private:
    std::uint32_t state_ = 20110226u;
};

// SplitMix64: every bit of every draw is usable, so one draw decides a whole
// command and no bit field repeats with a short period that a branch
// predictor could learn.
class RandomBits {
  public:
    explicit RandomBits(std::uint64_t seed) : state_(seed) {}
    std::uint64_t Next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15u);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
        return z ^ (z >> 31);
    }

  private:
    std::uint64_t state_;
};

}  // namespace

std::vector<std::uint8_t> MakeSongImage(std::size_t streamBytes) {
    std::vector<std::uint8_t> image(kDataOffset, 0);
    image[0] = 'S', image[1] = '9', image[2] = '8', image[3] = '3';
    image[0x14] = kDataOffset;
    image[0x1C] = 1;     // one device
    image[0x20] = 4;     // YM2608 (OPNA)
    image[0x24] = 0x00;  // clock and panning left as zero
    image.reserve(kDataOffset + streamBytes + 4);

    Dice dice;
    const auto write = [&](int port, int reg, int data) {
        image.push_back(static_cast<std::uint8_t>(port));
        image.push_back(static_cast<std::uint8_t>(reg));
        image.push_back(static_cast<std::uint8_t>(data));
    };
    while (image.size() < kDataOffset + streamBytes) {
        // one row of the song: a few channels change, then time passes
        const int notes = 1 + static_cast<int>(dice.Below(4));
        for (int n = 0; n < notes; ++n) {
            const int port = static_cast<int>(dice.Below(2));
            const int channel = static_cast<int>(dice.Below(3));
            if (dice.Below(16) == 0) {
                write(port, 0xB0 + channel,
                      static_cast<int>(dice.Below(64)));  // feedback/algorithm
            }
            write(0, 0x28, port * 4 + channel);  // key off
            for (int slot = 0; slot < 4; ++slot) {
                write(port, 0x40 + slot * 4 + channel, static_cast<int>(dice.Below(128)));  // TL
            }
            write(port, 0xA4 + channel, static_cast<int>(dice.Below(64)));   // block/f-number
            write(port, 0xA0 + channel, static_cast<int>(dice.Below(256)));  // f-number
            write(0, 0x28, 0xF0 | (port * 4 + channel));                     // key on
        }
        if (dice.Below(3) == 0) {
            write(0, 0x08 + static_cast<int>(dice.Below(3)), static_cast<int>(dice.Below(16)));
        }
        if (dice.Below(8) == 0) {
            write(0, 0x11, static_cast<int>(dice.Below(64)));  // rhythm total level
            write(0, 0x10, 1 << dice.Below(6));                // rhythm key on
        }
        if (dice.Below(4) == 0) {
            image.push_back(0xFE);  // many ticks
            image.push_back(static_cast<std::uint8_t>(0x80 | dice.Below(128)));
            image.push_back(static_cast<std::uint8_t>(dice.Below(4)));
        } else {
            image.push_back(0xFF);
        }
    }
    image.push_back(0xFD);
    return image;
}

std::vector<std::uint8_t> MakeDenseRandomImage(std::size_t streamBytes, std::uint32_t seed) {
    constexpr std::size_t kHeaderBytes = 0x20;
    std::vector<std::uint8_t> image(kHeaderBytes, 0);
    image[0] = 'S', image[1] = '9', image[2] = '8', image[3] = '3';
    image[0x14] = kHeaderBytes;  // data offset; device count 0 = one OPNA
    image.reserve(kHeaderBytes + streamBytes + 4);

    // the registers with a level meaning, in the OPN family's layout
    static constexpr std::uint8_t kLevelRegisters[] = {
        0x40, 0x41, 0x42, 0x44, 0x45, 0x46, 0x48, 0x49, 0x4A, 0x4C,  // TL
        0x4D, 0x4E, 0xB0, 0xB1, 0xB2,                                // algorithm
        0x08, 0x09, 0x0A, 0x11,                                      // SSG, rhythm
    };
    constexpr std::uint32_t kLevelRegisterCount = std::size(kLevelRegisters);
    // The bits a level register holds: TL -ttttttt, SSG ---evvvv, rhythm
    // total level --llllll. Real songs keep within them; a level out of range
    // would be reported row by row, and the log would be measured instead of
    // the walks.
    static constexpr std::array<std::uint8_t, 256> kDataMask = [] {
        std::array<std::uint8_t, 256> mask{};
        mask.fill(0xFF);
        for (int reg = 0x40; reg <= 0x4F; ++reg) {
            mask[reg] = 0x7F;
        }
        mask[0x08] = mask[0x09] = mask[0x0A] = 0x1F;
        mask[0x11] = 0x3F;
        return mask;
    }();

    RandomBits random(seed);
    while (image.size() < kHeaderBytes + streamBytes) {
        // bits 0-3: wait when all zero; 4: port; 5: level register or any;
        // 8-15: data; 16-23: register; 32-63: which level register
        const std::uint64_t roll = random.Next();
        if ((roll & 15) == 0) {
            image.push_back(0xFF);  // one tick
            continue;
        }
        const auto anyRegister = static_cast<std::uint8_t>(roll >> 16);
        const std::uint8_t levelRegister = kLevelRegisters[(roll >> 32) % kLevelRegisterCount];
        image.push_back(static_cast<std::uint8_t>((roll >> 4) & 1));  // device 0, port 0 or 1
        const std::uint8_t reg = (roll >> 5) & 1 ? levelRegister : anyRegister;
        image.push_back(reg);
        image.push_back(static_cast<std::uint8_t>((roll >> 8) & kDataMask[reg]));
    }
    image.push_back(0xFD);
    return image;
}

std::vector<std::uint8_t> RepeatSampleStream(const char* path, std::size_t streamBytes) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> file((std::istreambuf_iterator<char>(in)), {});
    if (file.size() < 0x20) {
        return {};
    }
    const auto read32 = [&](std::size_t at) {
        return static_cast<std::size_t>(file[at] | file[at + 1] << 8 | file[at + 2] << 16 |
                                        static_cast<std::uint32_t>(file[at + 3]) << 24);
    };
    const std::size_t data = read32(0x14);
    const std::size_t tag = read32(0x10);
    std::size_t end = tag > data && tag <= file.size() ? tag : file.size();
    while (end > data && file[end - 1] != 0xFD) {
        --end;  // the stream up to and without its end command
    }
    if (data >= file.size() || end <= data + 1) {
        return {};
    }
    std::vector<std::uint8_t> image(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(data));
    image[0x10] = image[0x11] = image[0x12] = image[0x13] = 0;  // no tag
    while (image.size() < data + streamBytes) {
        image.insert(image.end(), file.begin() + static_cast<std::ptrdiff_t>(data),
                     file.begin() + static_cast<std::ptrdiff_t>(end - 1));
    }
    image.push_back(0xFD);
    return image;
}

}  // namespace morla::bench
