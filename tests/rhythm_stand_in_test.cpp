// The stand-in rhythm ROM, heard through ymfm's YM2608 and measured with
// libebur128 as the reference player measured the real drums: each drum's
// train of hits against one FM carrier of the same chip.
#include "render/rhythm_stand_in.h"

#include <ebur128.h>
#include <gtest/gtest.h>
#include <ymfm_adpcm.h>
#include <ymfm_opn.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

namespace morla::test {
namespace {

constexpr std::uint32_t kClock = 7987200;

// Reads the rhythm from the given image.
class RomInterface : public ymfm::ymfm_interface {
  public:
    explicit RomInterface(std::span<const std::uint8_t> rom) : rom_(rom) {}
    std::uint8_t ymfm_external_read(ymfm::access_class type, std::uint32_t address) override {
        return type == ymfm::ACCESS_ADPCM_A && address < rom_.size() ? rom_[address] : 0;
    }

  private:
    std::span<const std::uint8_t> rom_;
};

// A YM2608 at its usual clock and ymfm's lowest fidelity (its native rate,
// clock / 48), with a loudness meter on its stereo output: FM and ADPCM in
// outputs 0 and 1, the SSG (output 2) in both.
class MeteredOpna {
  public:
    MeteredOpna() : interface_(RhythmStandInRom()), chip_(interface_) {
        chip_.set_fidelity(ymfm::OPN_FIDELITY_MIN);
        chip_.reset();
        rate_ = chip_.sample_rate(kClock);
        meter_.reset(ebur128_init(2, rate_, EBUR128_MODE_I));
    }

    void Write(int reg, int data) {
        chip_.write(0, static_cast<std::uint8_t>(reg));
        chip_.write(1, static_cast<std::uint8_t>(data));
    }

    void Render(double seconds) {
        const auto frames = static_cast<std::size_t>(seconds * rate_ + 0.5);
        std::vector<ymfm::ym2608::output_data> out(frames);
        chip_.generate(out.data(), static_cast<std::uint32_t>(frames));
        std::vector<float> stereo(frames * 2);
        for (std::size_t n = 0; n < frames; ++n) {
            stereo[2 * n] = static_cast<float>(out[n].data[0] + out[n].data[2]) / 32768.0f;
            stereo[2 * n + 1] = static_cast<float>(out[n].data[1] + out[n].data[2]) / 32768.0f;
        }
        ASSERT_EQ(ebur128_add_frames_float(meter_.get(), stereo.data(), frames), EBUR128_SUCCESS);
    }

    double Loudness() {
        double lufs = 0;
        EXPECT_EQ(ebur128_loudness_global(meter_.get(), &lufs), EBUR128_SUCCESS);
        return lufs;
    }

  private:
    struct Close {
        void operator()(ebur128_state* state) const { ebur128_destroy(&state); }
    };
    RomInterface interface_;
    ymfm::ym2608 chip_;
    std::uint32_t rate_;
    std::unique_ptr<ebur128_state, Close> meter_;
};

// Ten seconds of FM channel 1, algorithm 7, with the given slots keyed on
// (bits 4-7 of register 0x28), each at TL 0, MUL 1, at 440 Hz, in both outputs.
double CarrierLoudness(int slots) {
    MeteredOpna chip;
    for (int offset : {0x0, 0x4, 0x8, 0xC}) {
        chip.Write(0x30 + offset, 0x01);  // DT 0, MUL 1
        chip.Write(0x40 + offset, 0x00);  // TL 0
        chip.Write(0x50 + offset, 0x1F);  // AR 31
        chip.Write(0x60 + offset, 0x00);
        chip.Write(0x70 + offset, 0x00);
        chip.Write(0x80 + offset, 0x0F);
    }
    chip.Write(0xB0, 0x07);
    chip.Write(0xB4, 0xC0);
    chip.Write(0xA4, (4 << 3) | (1039 >> 8));
    chip.Write(0xA0, 1039 & 0xFF);
    chip.Write(0x28, slots);
    chip.Render(10);
    return chip.Loudness();
}

// Ten seconds of one drum (0 bass drum .. 5 rim shot) keyed on every 500 ms at
// rhythm total level 63 and instrument level 31, in both outputs.
double DrumLoudness(int drum) {
    MeteredOpna chip;
    chip.Write(0x11, 63);
    chip.Write(0x18 + drum, 0xC0 | 31);
    for (int hit = 0; hit < 20; ++hit) {
        chip.Write(0x10, 1 << drum);
        chip.Render(0.5);
    }
    return chip.Loudness();
}

struct Drum {
    const char* name;
    double reference;  // LU against one carrier, the real ROM in an independent player
};
constexpr std::array<Drum, 6> kDrums = {{
    {"bass drum", -5.5},
    {"snare", -7.4},
    {"top cymbal", -7.0},
    {"hi-hat", -5.7},
    {"tom", -4.8},
    {"rim shot", -9.7},
}};

TEST(RhythmStandIn, EachDrumIsAsLoudAsTheRealOneAgainstAnFmCarrier) {
    const double carrier = CarrierLoudness(0x80);
    // the harness hears FM as the reference player did: four carriers in
    // phase are 12.1 LU above one (-0.7 and -12.8 LUFS there)
    EXPECT_NEAR(CarrierLoudness(0xF0) - carrier, 12.1, 0.3);

    std::printf("one carrier: %.2f LUFS\n%-12s %9s %9s\n", carrier, "drum", "measured",
                "reference");
    for (int drum = 0; drum < 6; ++drum) {
        const double relative = DrumLoudness(drum) - carrier;
        std::printf("%-12s %6.2f LU %6.2f LU\n", kDrums[drum].name, relative,
                    kDrums[drum].reference);
        EXPECT_NEAR(relative, kDrums[drum].reference, 1.0) << kDrums[drum].name;
    }
}

}  // namespace
}  // namespace morla::test
