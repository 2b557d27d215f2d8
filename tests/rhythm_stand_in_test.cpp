// The stand-in rhythm ROM, heard through ymfm's YM2608 and measured with
// libebur128 as the reference player measured the real drums: each drum's
// train of hits against one FM carrier of the same chip. The encoder is held
// to ymfm's own ADPCM-A decoder.
#include "render/rhythm_stand_in.h"

#include <ebur128.h>
#include <gtest/gtest.h>
#include <ymfm_adpcm.h>
#include <ymfm_opn.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <numbers>
#include <vector>

namespace morla::test {
namespace {

constexpr std::uint32_t kClock = 7987200;

// Hands ymfm the given image as its ADPCM-A memory.
class RomInterface : public ymfm::ymfm_interface {
  public:
    explicit RomInterface(std::span<const std::uint8_t> rom) : rom_(rom) {}
    std::uint8_t ymfm_external_read(ymfm::access_class type, std::uint32_t address) override {
        return type == ymfm::ACCESS_ADPCM_A && address < rom_.size() ? rom_[address] : 0;
    }

  private:
    std::span<const std::uint8_t> rom_;
};

// A YM2608 with the stand-in rhythm, at its usual clock and ymfm's lowest
// fidelity: its native rate is clock / 48.
class Opna {
  public:
    Opna() : interface_(RhythmStandInRom()), chip_(interface_) {
        chip_.set_fidelity(ymfm::OPN_FIDELITY_MIN);
        chip_.reset();
    }
    std::uint32_t rate() const { return chip_.sample_rate(kClock); }

    void Write(int reg, int data) {
        chip_.write(0, static_cast<std::uint8_t>(reg));
        chip_.write(1, static_cast<std::uint8_t>(data));
    }

    // Stereo frames: FM and ADPCM in outputs 0 and 1, the SSG (output 2) in
    // both, full scale 1.
    std::vector<float> Render(double seconds) {
        const auto frames = static_cast<std::size_t>(seconds * rate() + 0.5);
        std::vector<ymfm::ym2608::output_data> out(frames);
        chip_.generate(out.data(), static_cast<std::uint32_t>(frames));
        std::vector<float> stereo(frames * 2);
        for (std::size_t n = 0; n < frames; ++n) {
            stereo[2 * n] = static_cast<float>(out[n].data[0] + out[n].data[2]) / 32768.0f;
            stereo[2 * n + 1] = static_cast<float>(out[n].data[1] + out[n].data[2]) / 32768.0f;
        }
        return stereo;
    }

  private:
    RomInterface interface_;
    ymfm::ym2608 chip_;
};

// EBU R128 integrated loudness of a chip's output, at the chip's rate.
class Meter {
  public:
    explicit Meter(std::uint32_t rate) : state_(ebur128_init(2, rate, EBUR128_MODE_I)) {}
    void Add(const std::vector<float>& stereo) {
        EXPECT_EQ(ebur128_add_frames_float(state_.get(), stereo.data(), stereo.size() / 2),
                  EBUR128_SUCCESS);
    }
    double Loudness() const {
        double lufs = 0;
        EXPECT_EQ(ebur128_loudness_global(state_.get(), &lufs), EBUR128_SUCCESS);
        return lufs;
    }

  private:
    struct Close {
        void operator()(ebur128_state* state) const { ebur128_destroy(&state); }
    };
    std::unique_ptr<ebur128_state, Close> state_;
};

// Ten seconds of FM channel 1, algorithm 7, with the given slots keyed on
// (bits 4-7 of register 0x28), each at TL 0, MUL 1, at 440 Hz, in both outputs.
double CarrierLoudness(int slots) {
    Opna chip;
    for (int offset : {0x0, 0x4, 0x8, 0xC}) {
        chip.Write(0x30 + offset, 0x01);  // DT 0, MUL 1
        chip.Write(0x40 + offset, 0x00);  // TL 0
        chip.Write(0x50 + offset, 0x1F);  // AR 31
        chip.Write(0x80 + offset, 0x0F);  // SL 0, RR 15
    }
    chip.Write(0xB0, 0x07);
    chip.Write(0xB4, 0xC0);
    chip.Write(0xA4, (4 << 3) | (1039 >> 8));
    chip.Write(0xA0, 1039 & 0xFF);
    chip.Write(0x28, slots);
    Meter meter(chip.rate());
    meter.Add(chip.Render(10));
    return meter.Loudness();
}

// One drum (0 bass drum .. 5 rim shot) at rhythm total level 63 and instrument
// level 31, in both outputs, keyed on every 500 ms; the first `hits` of them.
std::vector<float> DrumTrain(Opna& chip, int drum, int hits) {
    chip.Write(0x11, 63);
    chip.Write(0x18 + drum, 0xC0 | 31);
    std::vector<float> stereo;
    for (int hit = 0; hit < hits; ++hit) {
        chip.Write(0x10, 1 << drum);
        const std::vector<float> half = chip.Render(0.5);
        stereo.insert(stereo.end(), half.begin(), half.end());
    }
    return stereo;
}

struct Drum {
    const char* name;
    double reference;     // LU against one carrier: the real ROM in an independent player
    double milliseconds;  // how long the real drum sounds: its bytes at its rate
    std::array<double, 2> lowShare;  // of its energy below about 500 Hz, least and most
};
constexpr std::array<double, 2> kLow = {0.8, 1};  // the drums with a pitched body
constexpr std::array<double, 2> kMid = {0.1, 0.6};
constexpr std::array<double, 2> kHigh = {0, 0.03};  // the cymbals
constexpr std::array<Drum, 6> kDrums = {{
    {"bass drum", -5.5, 48, kLow},
    {"snare", -7.4, 69, kMid},
    {"top cymbal", -7.0, 644, kHigh},
    {"hi-hat", -5.7, 41, kHigh},
    {"tom", -4.8, 136, kLow},
    {"rim shot", -9.7, 27, kMid},
}};

// Heard through the chip alone at its own rate (166.4 kHz here), the images
// of the drums' low sample rates above 24 kHz count too, which the render
// mixed down to 48 kHz (and the reference player) no longer hear: the bright
// drums measure up to 1 LU louder here than there. The render's own test
// (tests/render_test.cpp) holds each drum to its figure within 0.5 LU; this
// one keeps the chip's side of it within 1.5.
TEST(RhythmStandIn, EachDrumIsAsLoudAsTheRealOneAgainstAnFmCarrier) {
    const double carrier = CarrierLoudness(0x80);
    // the harness hears FM as the reference player did: four carriers in
    // phase are 12.1 LU above one (-0.7 and -12.8 LUFS there)
    EXPECT_NEAR(CarrierLoudness(0xF0) - carrier, 12.1, 0.3);

    std::printf("one carrier: %.2f LUFS\n%-12s %9s %9s\n", carrier, "drum", "measured",
                "reference");
    for (int drum = 0; drum < 6; ++drum) {
        Opna chip;
        Meter meter(chip.rate());
        meter.Add(DrumTrain(chip, drum, 20));
        const double relative = meter.Loudness() - carrier;
        std::printf("%-12s %6.2f LU %6.2f LU\n", kDrums[drum].name, relative,
                    kDrums[drum].reference);
        EXPECT_NEAR(relative, kDrums[drum].reference, 1.5) << kDrums[drum].name;
    }
}

TEST(RhythmStandIn, EachDrumSoundsAsLongAsTheRealOneInItsOwnRegister) {
    for (int drum = 0; drum < 6; ++drum) {
        SCOPED_TRACE(kDrums[drum].name);
        Opna chip;
        const std::vector<float> stereo = DrumTrain(chip, drum, 2);
        std::vector<double> left(stereo.size() / 2);
        for (std::size_t n = 0; n < left.size(); ++n) {
            left[n] = stereo[2 * n];
        }
        const std::size_t second = left.size() / 2;  // the second hit's key-on

        // heard (above 1% of the peak) until close to the real drum's end
        double peak = 0;
        std::size_t last = 0;
        for (std::size_t n = 0; n < second; ++n) {
            peak = std::max(peak, std::abs(left[n]));
        }
        for (std::size_t n = 0; n < second; ++n) {
            if (std::abs(left[n]) > peak / 100) {
                last = n;
            }
        }
        const double milliseconds = std::min(last * 1000.0 / chip.rate(), 500.0);
        EXPECT_GT(peak, 0.05);
        EXPECT_GT(milliseconds, 0.85 * std::min(kDrums[drum].milliseconds, 500.0));
        EXPECT_LT(milliseconds, 1.05 * kDrums[drum].milliseconds);

        // the share of its energy below about 500 Hz (a one-pole low-pass)
        const double pole = std::exp(-2 * std::numbers::pi * 500 / chip.rate());
        double low = 0;
        double lowEnergy = 0;
        double energy = 0;
        for (std::size_t n = 0; n < second; ++n) {
            low = (1 - pole) * left[n] + pole * low;
            lowEnergy += low * low;
            energy += left[n] * left[n];
        }
        EXPECT_GE(lowEnergy / energy, kDrums[drum].lowShare[0]);
        EXPECT_LE(lowEnergy / energy, kDrums[drum].lowShare[1]);
    }
}

TEST(RhythmStandIn, TheSameBytesOnEveryCallAndInEveryBuild) {
    const auto& rom = RhythmStandInRom();
    EXPECT_EQ(&rom, &RhythmStandInRom());
    // FNV-1a of the image as made by this build: the drums are computed with
    // plain IEEE arithmetic only, so every build (and the Windows one) makes
    // these bytes, and the loudness figures above belong to them
    std::uint64_t hash = 0xCBF29CE484222325u;
    for (const std::uint8_t byte : rom) {
        hash = (hash ^ byte) * 0x100000001B3u;
    }
    EXPECT_EQ(hash, 0x7D62187993C51DE9u) << std::hex << hash;
}

// What ymfm's ADPCM-A engine plays from `bytes` after a key-on at full
// volume: the accumulator, recovered from the output (which drops its two
// lowest bits after scaling it by 7.5).
std::vector<double> DecodeWithChip(const std::vector<std::uint8_t>& bytes) {
    RomInterface rom(bytes);
    ymfm::adpcm_a_engine engine(rom, 0);
    engine.reset();
    engine.set_start_end(0, 0, static_cast<std::uint16_t>(bytes.size() - 1));
    engine.write(0x01, 0x3F);  // total level
    engine.write(0x08, 0xC0 | 0x1F);
    engine.write(0x00, 0x01);  // key on
    std::vector<double> decoded(bytes.size() * 2);
    for (double& sample : decoded) {
        engine.clock(1);
        ymfm::ymfm_output<2> out;
        engine.output(out.clear(), 1);
        sample = out.data[0] / 7.5;
    }
    return decoded;
}

std::vector<double> RoundTrip(const std::vector<std::int16_t>& samples) {
    std::vector<std::uint8_t> bytes((samples.size() + 1) / 2, 0xFF);
    EncodeAdpcmA(samples, bytes);
    std::vector<double> decoded = DecodeWithChip(bytes);
    decoded.resize(samples.size());
    return decoded;
}

TEST(AdpcmAEncoder, TheChipsDecoderGivesBackATone) {
    // two seconds of 440 Hz under a slow swell: a stateless encoder would drift
    std::vector<std::int16_t> tone(37000);
    for (std::size_t n = 0; n < tone.size(); ++n) {
        const double t = n / 18489.0;
        const double amplitude = 1000 + 800 * std::sin(2 * std::numbers::pi * 0.7 * t);
        tone[n] = static_cast<std::int16_t>(
            std::lround(amplitude * std::sin(2 * std::numbers::pi * 440 * t)));
    }
    const std::vector<double> decoded = RoundTrip(tone);
    double signal = 0;
    double noise = 0;
    double worst = 0;
    for (std::size_t n = 0; n < tone.size(); ++n) {
        const double error = decoded[n] - tone[n];
        signal += static_cast<double>(tone[n]) * tone[n];
        noise += error * error;
        if (n >= 100) {  // past the step's climb from its smallest size
            worst = std::max(worst, std::abs(error));
        }
    }
    EXPECT_GT(10 * std::log10(signal / noise), 30.0);
    EXPECT_LT(worst, 100.0);
}

TEST(AdpcmAEncoder, FullScaleEdgesNeverWrapTheAccumulator) {
    // a square wave at and beyond full scale: codes that overshoot would wrap
    // the 12-bit accumulator to the other end
    for (const int level : {2047, 32767}) {
        std::vector<std::int16_t> square(4000);
        for (std::size_t n = 0; n < square.size(); ++n) {
            square[n] = static_cast<std::int16_t>((n / 200) % 2 == 0 ? level : -level);
        }
        const std::vector<double> decoded = RoundTrip(square);
        for (std::size_t n = 0; n < square.size(); ++n) {
            if (n % 200 >= 40) {  // settled after each edge
                const double target = square[n] > 0 ? 2047 : -2048;
                ASSERT_NEAR(decoded[n], target, 80) << "level " << level << " sample " << n;
            }
        }
    }
}

}  // namespace
}  // namespace morla::test
