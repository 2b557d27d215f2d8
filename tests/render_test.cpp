// The render layer through its public face: songs built in code, rendered by
// the emulators and measured by the EBU R 128 meter.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <random>
#include <vector>

#include "decode/level_write_walk.h"
#include "format/chip_model.h"
#include "render/loudness.h"
#include "render/song_render.h"
#include "test_support.h"

namespace morla {
namespace {

using test::Bytes;
using test::S98Builder;

// A wait of `ticks` sync ticks as the stream writes it.
Bytes WaitBytes(std::uint64_t ticks) {
    if (ticks == 1) {
        return {0xFF};
    }
    Bytes bytes{0xFE};
    std::uint64_t value = ticks - 2;
    do {
        const auto low = static_cast<std::uint8_t>(value & 0x7F);
        value >>= 7;
        bytes.push_back(static_cast<std::uint8_t>(low | (value != 0 ? 0x80 : 0)));
    } while (value != 0);
    return bytes;
}

void Wait(S98Builder& song, std::uint64_t ticks) {
    song.Raw(WaitBytes(ticks));
}

// FM channel 1 of an OPN-family device: algorithm 7, every operator MUL 1 and
// the fastest attack, the carriers named by `slots` (bit 0 operator 1 ... bit
// 3 operator 4) at total level `tl` and keyed on, the others silent; block 4,
// F-number 1039 (about 440 Hz), both outputs.
void KeyFmTone(S98Builder& song, int device, int tl, int slots = 0x8) {
    constexpr int kSlotOffset[4] = {0, 8, 4, 12};  // operators 1-4
    for (int op = 0; op < 4; ++op) {
        const int at = kSlotOffset[op];
        song.Write(device, 0, 0x30 + at, 0x01);
        song.Write(device, 0, 0x40 + at, (slots >> op & 1) != 0 ? tl : 127);
        song.Write(device, 0, 0x50 + at, 0x1F);
        song.Write(device, 0, 0x60 + at, 0x00);
        song.Write(device, 0, 0x70 + at, 0x00);
        song.Write(device, 0, 0x80 + at, 0x0F);
        song.Write(device, 0, 0x90 + at, 0x00);
    }
    song.Write(device, 0, 0xB0, 0x07);
    song.Write(device, 0, 0xB4, 0xC0);
    song.Write(device, 0, 0xA4, 0x24);
    song.Write(device, 0, 0xA0, 0x0F);
    song.Write(device, 0, 0x28, slots << 4);
}

[[maybe_unused]] void KeyFmOff(S98Builder& song, int device) {
    song.Write(device, 0, 0x28, 0x00);
}

// SSG channel A of a PSG, OPN or OPNA at a 2 MHz SSG clock: a tone of about
// 440 Hz at fixed volume `volume` (the envelope with `envelope`).
void SsgTone(S98Builder& song, int device, int volume, bool envelope = false) {
    song.Write(device, 0, 0x00, 284 & 0xFF);
    song.Write(device, 0, 0x01, 284 >> 8);
    song.Write(device, 0, 0x07, 0x3E);
    song.Write(device, 0, 0x08, volume | (envelope ? 0x10 : 0));
}

SongLoudness Measure(const Bytes& bytes, const RenderSettings& settings = {}) {
    const S98Image image = S98Image::FromBytes(bytes.data(), bytes.size());
    S98Layout layout;
    EXPECT_TRUE(ReadHeader(image, layout).empty());
    SongLoudness song = MeasureSong(image, layout, settings);
    EXPECT_TRUE(song.measured);
    return song;
}

// One device type holding a tone made by `tone` for five seconds (at the
// default sync tick of 10 ms).
template <class Tone>
SongLoudness MeasureTone(std::vector<std::int32_t> types, Tone tone) {
    S98Builder song(std::move(types));
    tone(song);
    Wait(song, 500);
    song.End();
    return Measure(song.bytes());
}

double FmTone(int tl, int slots = 0x8, std::int32_t type = kDeviceYM2608) {
    return MeasureTone({type}, [&](S98Builder& song) { KeyFmTone(song, 0, tl, slots); })
        .figures.integratedLufs;
}

double SsgToneLoudness(std::int32_t type, int volume) {
    return MeasureTone({type}, [&](S98Builder& song) { SsgTone(song, 0, volume); })
        .figures.integratedLufs;
}

double Db(std::int64_t microDb) {
    return static_cast<double>(microDb) / 1e6;
}

TEST(RenderLevels, FmTotalLevelStepsAreThreeQuartersOfADecibel) {
    const double tl0 = FmTone(0);
    EXPECT_NEAR(FmTone(8) - tl0, -6.0, 0.1);
    EXPECT_NEAR(FmTone(16) - tl0, -12.0, 0.1);
    // the OPN's FM follows the same steps
    EXPECT_NEAR(FmTone(8, 0x8, kDeviceYM2203) - FmTone(0, 0x8, kDeviceYM2203), -6.0, 0.1);
}

TEST(RenderLevels, SsgVolumesFollowTheYm2149Curve) {
    for (const std::int32_t type : {kDeviceYM2608, kDeviceYM2203, kDeviceYM2149}) {
        SCOPED_TRACE(DeviceTypeName(type));
        const double top = SsgToneLoudness(type, 15);
        for (const int volume : {14, 13, 9, 4}) {
            EXPECT_NEAR(SsgToneLoudness(type, volume) - top, Db(kYm2149Curve[volume]), 0.1)
                << "volume " << volume;
        }
    }
}

TEST(RenderLevels, AyVolumesFollowTheAyCurve) {
    const double top = SsgToneLoudness(kDeviceAY8910, 15);
    for (const int volume : {14, 13, 9, 4}) {
        EXPECT_NEAR(SsgToneLoudness(kDeviceAY8910, volume) - top, Db(kAy8910Curve[volume]), 0.1)
            << "volume " << volume;
    }
    // not the YM2149's: volume 13 is 6 dB down there, under 4 dB here
    EXPECT_GT(SsgToneLoudness(kDeviceAY8910, 13) - top, -4.5);
}

// Figures of a real OPNA measured in an independent player: one carrier
// -12.8 LUFS, four in phase -0.7 LUFS, the SSG at volume 15 4.3 LU below one
// carrier.
TEST(RenderLevels, FmAgainstSsgAsTheChipPlaysThem) {
    const double carrier = FmTone(0);
    EXPECT_NEAR(FmTone(0, 0xF) - carrier, -0.7 - -12.8, 1.0);
    EXPECT_NEAR(SsgToneLoudness(kDeviceYM2608, 15) - carrier, -4.3, 1.0);
    // the OPN's FM and SSG as the OPNA's
    EXPECT_NEAR(FmTone(0, 0x8, kDeviceYM2203), carrier, 0.5);
    EXPECT_NEAR(SsgToneLoudness(kDeviceYM2203, 15), SsgToneLoudness(kDeviceYM2608, 15), 0.5);
    std::printf("carrier %.2f four %.2f ssg %.2f\n", carrier, FmTone(0, 0xF),
                SsgToneLoudness(kDeviceYM2608, 15));
}

}  // namespace
}  // namespace morla
