// Short S98 songs whose levels are known, for comparing morla's loudness
// figures with another player's (scripts/loudness-check): single FM carriers
// and SSG/PSG tones at chosen levels, several FM channels with different
// algorithms, notes between long silences, the OPNA's rhythm drums and a mix
// of FM, SSG and rhythm. Each is an S98 version 3 image: 10 ms sync ticks,
// no tag, no loop, one device entry per chip, ending in the end command.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace morla::bench {

struct LoudnessSong {
    std::string name;     // the file name without ".s98"
    std::string what;     // one line: what is heard
    bool rhythm = false;  // keys the OPNA's rhythm (heard through morla's stand-in)
    std::vector<std::uint8_t> image;
};

// Every song, in a fixed order with unique names.
std::vector<LoudnessSong> MakeLoudnessSongs();

// A builder of such images (also used by the songs' tests).
class SongWriter {
  public:
    struct Device {
        std::uint32_t type;
        std::uint32_t clock;
    };
    explicit SongWriter(std::vector<Device> devices);

    void Write(int device, int port, int reg, int data);
    // Waits `ticks` sync ticks (one 0xFF, or 0xFE with the count as its varint).
    void Wait(std::uint32_t ticks);
    // Appends the end command and returns the image.
    std::vector<std::uint8_t> Finish();

  private:
    std::vector<std::uint8_t> bytes_;
};

// The usual clocks of the PC-98 boards the songs stand for.
inline constexpr std::uint32_t kOpnaClock = 7987200;
inline constexpr std::uint32_t kOpnClock = 3993600;
inline constexpr std::uint32_t kPsgClock = 1996800;

// S98 device types.
inline constexpr std::uint32_t kTypeYm2149 = 1;
inline constexpr std::uint32_t kTypeYm2203 = 2;
inline constexpr std::uint32_t kTypeYm2608 = 4;
inline constexpr std::uint32_t kTypeAy8910 = 15;

}  // namespace morla::bench
