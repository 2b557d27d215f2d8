#include "render/chips.h"

#include <ymfm_misc.h>
#include <ymfm_opl.h>
#include <ymfm_opm.h>
#include <ymfm_opn.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <type_traits>
#include <vector>

#include "format/chip_model.h"

namespace morla {
namespace {

// Takes a device's samples at its own rate and adds them to the mix at the
// output rate: each output frame is the mean of the device samples that fall
// into it (or the last one again, for a device slower than the output).
class Resampler {
  public:
    void Configure(std::uint32_t inputRate, std::uint32_t outputRate) {
        in_ = std::max<std::uint32_t>(inputRate, 1);
        out_ = outputRate;
        phase_ = 0;
    }
    std::uint32_t inputRate() const { return in_; }

    // The device samples that make the next `frames` output frames.
    std::size_t InputsFor(std::size_t frames) const {
        const std::uint64_t need = std::uint64_t{frames} * in_;
        return need <= phase_ ? 0 : static_cast<std::size_t>((need - phase_ + out_ - 1) / out_);
    }

    // Adds `frames` frames to `mix` from InputsFor(frames) device samples:
    // `sum(first, count, left, right)` gives the sums of `count` samples from
    // the `first`, taken in order.
    template <class Sum>
    void Run(float* mix, std::size_t frames, Sum sum) {
        std::size_t next = 0;
        for (std::size_t frame = 0; frame < frames; ++frame) {
            if (phase_ >= in_) {
                phase_ -= in_;  // no new sample in this frame: the last again
            } else {
                const auto count = static_cast<std::size_t>((in_ - phase_ + out_ - 1) / out_);
                float left = 0.0f;
                float right = 0.0f;
                sum(next, count, left, right);
                next += count;
                const float scale = 1.0f / static_cast<float>(count);
                lastLeft_ = left * scale;
                lastRight_ = right * scale;
                phase_ += count * out_ - in_;
            }
            mix[2 * frame] += lastLeft_;
            mix[2 * frame + 1] += lastRight_;
        }
    }

  private:
    std::uint64_t in_ = 1;
    std::uint64_t out_ = 1;
    std::uint64_t phase_ = 0;  // in units of 1 / (in * out) seconds
    float lastLeft_ = 0.0f;
    float lastRight_ = 0.0f;
};

// ymfm's SSG amplitudes by envelope step 0-31 (a fixed volume v is step
// 2v + 1), as its SSG engine puts them out; every value is distinct, so the
// step is read back from the value.
constexpr std::array<std::int32_t, 32> kYmfmSsgAmplitudes = {
    0,    32,   78,   141,  178,  222,  262,  306,   369,   441,   509,
    585,  701,  836,  965,  1112, 1334, 1595, 1853,  2146,  2576,  3081,
    3576, 4135, 5000, 6006, 7023, 8155, 9963, 11976, 14132, 16382,
};

double FromMicroDb(std::int64_t microDb) {
    return std::pow(10.0, static_cast<double>(microDb) / 20e6);
}

// The chip's output level of each envelope step, full scale 1. A fixed
// volume follows the type's volume curve (chip_model.h); the YM2149's
// envelope has 32 steps of 1.5 dB, the AY-3-8910's 16 at its volume levels.
double SsgStepLevel(std::int32_t type, int step) {
    const VolumeCurve& curve = VolumeCurveOf(type);
    if (step == 0) {
        return 0.0;
    }
    if (type == kDeviceAY8910) {
        return step >> 1 == 0 ? 0.0 : FromMicroDb(curve[step >> 1]);
    }
    return (step & 1) != 0 ? FromMicroDb(curve[step >> 1])
                           : FromMicroDb(curve[step >> 1] - kSsgStepMicroDb / 2);
}

// The mix level of each amplitude ymfm's SSG engine puts out (indexed by the
// amplitude itself, so that one load maps it), for the volume curve of `type`.
using SsgLevelTable = std::array<float, 16384>;
const SsgLevelTable& SsgLevels(std::int32_t type) {
    static const auto make = [](std::int32_t curveType) {
        auto table = std::make_unique<SsgLevelTable>();
        table->fill(0.0f);
        for (int step = 0; step < 32; ++step) {
            (*table)[kYmfmSsgAmplitudes[step]] =
                static_cast<float>(SsgStepLevel(curveType, step) * kSsgGain);
        }
        return table;
    };
    static const std::unique_ptr<SsgLevelTable> ym2149 = make(kDeviceYM2149);
    static const std::unique_ptr<SsgLevelTable> ay8910 = make(kDeviceAY8910);
    return type == kDeviceAY8910 ? *ay8910 : *ym2149;
}

// The external memory of a chip: the OPNA's rhythm ROM and its 256 KiB of
// ADPCM RAM (filled by the song's own memory writes).
class ChipMemory : public ymfm::ymfm_interface {
  public:
    explicit ChipMemory(const RhythmRom* rhythm = nullptr) : rhythm_(rhythm) {
        if (rhythm_ != nullptr) {
            adpcm_.assign(kAdpcmRamSize, 0);
        }
    }
    std::uint8_t ymfm_external_read(ymfm::access_class type, std::uint32_t address) override {
        if (type == ymfm::ACCESS_ADPCM_A && rhythm_ != nullptr) {
            return (*rhythm_)[address % kRhythmRomSize];
        }
        if (type == ymfm::ACCESS_ADPCM_B && !adpcm_.empty()) {
            return adpcm_[address % kAdpcmRamSize];
        }
        return 0;
    }
    void ymfm_external_write(ymfm::access_class type, std::uint32_t address,
                             std::uint8_t data) override {
        if (type == ymfm::ACCESS_ADPCM_B && !adpcm_.empty()) {
            adpcm_[address % kAdpcmRamSize] = data;
        }
    }

  private:
    static constexpr std::size_t kAdpcmRamSize = 256 * 1024;
    const RhythmRom* rhythm_;
    std::vector<std::uint8_t> adpcm_;
};

// The SSG of a PSG, OPN or OPNA: ymfm's SSG engine, run here rather than
// inside the chip so that its three channels come out apart and each takes
// the level of the device's own volume curve.
class SsgUnit : public ymfm::ssg_override {
  public:
    SsgUnit(ymfm::ymfm_interface& memory, std::int32_t type, std::uint32_t outputRate)
        : engine_(memory), levels_(SsgLevels(type)) {
        engine_.reset();
        resampler_.Configure(1, outputRate);
    }
    void Configure(std::uint32_t rate, std::uint32_t outputRate) {
        if (rate != resampler_.inputRate()) {
            resampler_.Configure(rate, outputRate);
        }
    }

    void ssg_reset() override {
        engine_.reset();
        quiet_ = false;
    }
    std::uint8_t ssg_read(std::uint32_t reg) override { return engine_.read(reg); }
    void ssg_write(std::uint32_t reg, std::uint8_t data) override {
        engine_.write(reg, data);
        quiet_ = false;
    }
    void ssg_prescale_changed() override {}

    // `holdQuiet`: while the SSG is quiet (its output cannot change before
    // the next write), its counters stand still and its constant output is
    // mixed without running it.
    void Render(float* mix, std::size_t frames, bool holdQuiet) {
        if (holdQuiet && !quiet_ && Quiet()) {
            quiet_ = true;
            quietLevel_ = QuietLevel();
        }
        if (holdQuiet && quiet_) {
            resampler_.Run(mix, frames,
                           [&](std::size_t, std::size_t count, float& left, float& right) {
                               left = right = quietLevel_ * static_cast<float>(count);
                           });
            return;
        }
        resampler_.Run(mix, frames, [&](std::size_t, std::size_t count, float& left, float& right) {
            float level = 0.0f;
            for (std::size_t k = 0; k < count; ++k) {
                ymfm::ssg_engine::output_data out;
                engine_.clock();
                engine_.output(out);
                level += levels_[out.data[0] & 0x3FFF] + levels_[out.data[1] & 0x3FFF] +
                         levels_[out.data[2] & 0x3FFF];
            }
            left = right = level;
        });
    }

    // Every channel at a level that does not move: no envelope running, and
    // either silent or with neither tone nor noise heard.
    bool Quiet() {
        std::vector<std::uint8_t>& state = saved_;
        ymfm::ymfm_saved_state saver(state, true);
        engine_.save_restore(saver);
        // registers, then tone counts [3], tone states [3], envelope count,
        // envelope state (32-bit little-endian each)
        const std::size_t at = ymfm::ssg_registers::REGISTERS + 4 * 7;
        if (state.size() < at + 4) {
            return false;
        }
        envelopeState_ = state[at] | state[at + 1] << 8 | state[at + 2] << 16 |
                         static_cast<std::uint32_t>(state[at + 3]) << 24;
        ymfm::ssg_registers& regs = engine_.regs();
        const bool envelopeHeld =
            (regs.envelope_hold() | (regs.envelope_continue() ^ 1)) != 0 && envelopeState_ >= 32;
        const std::uint32_t heldLevel =
            ((regs.envelope_attack() ^ regs.envelope_alternate()) & regs.envelope_continue()) != 0
                ? 31
                : 0;
        for (int chan = 0; chan < 3; ++chan) {
            std::uint32_t level = regs.ch_amplitude(chan);
            if (regs.ch_envelope_enable(chan) != 0) {
                if (!envelopeHeld) {
                    return false;
                }
                level = heldLevel;
            }
            const bool toneOrNoise =
                regs.ch_tone_enable_n(chan) == 0 || regs.ch_noise_enable_n(chan) == 0;
            if (level != 0 && toneOrNoise) {
                return false;
            }
        }
        return true;
    }

  private:
    // The output of a quiet SSG (Quiet() true, its state read): each
    // channel's fixed level, 0 where it is silent.
    float QuietLevel() {
        ymfm::ssg_registers& regs = engine_.regs();
        const bool heldHigh =
            ((regs.envelope_attack() ^ regs.envelope_alternate()) & regs.envelope_continue()) != 0;
        float level = 0.0f;
        for (int chan = 0; chan < 3; ++chan) {
            int step = 0;
            if (regs.ch_envelope_enable(chan) != 0) {
                step = heldHigh ? 31 : 0;
            } else if (regs.ch_amplitude(chan) != 0) {
                step = static_cast<int>(regs.ch_amplitude(chan)) * 2 + 1;
            }
            level += levels_[kYmfmSsgAmplitudes[step]];
        }
        return level;
    }

    ymfm::ssg_engine engine_;
    const SsgLevelTable& levels_;
    Resampler resampler_;
    std::vector<std::uint8_t> saved_;
    std::uint32_t envelopeState_ = 0;
    bool quiet_ = false;
    float quietLevel_ = 0.0f;
};

// How each chip's outputs make a stereo pair, and what else it has.
template <class Chip>
struct ChipTraits;

template <>
struct ChipTraits<ymfm::ym2203> {
    static constexpr float kGain = kFmGain;
    static constexpr bool kHasSsg = true;
    static constexpr bool kTwoPorts = false;
    static std::uint32_t SsgDivider(std::uint32_t prescale) {
        return prescale == 2 ? 4 : prescale == 3 ? 8 : 16;
    }
    static void Sum(const ymfm::ym2203::output_data* out, std::size_t count, std::int32_t& left,
                    std::int32_t& right) {
        std::int32_t sum = 0;
        for (std::size_t k = 0; k < count; ++k) {
            sum += out[k].data[0];
        }
        left = right = sum;
    }
};
template <>
struct ChipTraits<ymfm::ym2608> {
    static constexpr float kGain = kOpnaFmGain;
    static constexpr bool kHasSsg = true;
    static constexpr bool kTwoPorts = true;
    static std::uint32_t SsgDivider(std::uint32_t prescale) {
        return prescale == 2 ? 8 : prescale == 3 ? 16 : 32;
    }
    static void Sum(const ymfm::ym2608::output_data* out, std::size_t count, std::int32_t& left,
                    std::int32_t& right) {
        std::int32_t sumLeft = 0;
        std::int32_t sumRight = 0;
        for (std::size_t k = 0; k < count; ++k) {
            sumLeft += out[k].data[0];
            sumRight += out[k].data[1];
        }
        left = sumLeft;
        right = sumRight;
    }
};
template <class Chip, bool TwoPorts>
struct StereoTraits {
    static constexpr float kGain = kFmGain;
    static constexpr bool kHasSsg = false;
    static constexpr bool kTwoPorts = TwoPorts;
    static std::uint32_t SsgDivider(std::uint32_t) { return 8; }
    static void Sum(const typename Chip::output_data* out, std::size_t count, std::int32_t& left,
                    std::int32_t& right) {
        std::int32_t sumLeft = 0;
        std::int32_t sumRight = 0;
        for (std::size_t k = 0; k < count; ++k) {
            sumLeft += out[k].data[0];
            sumRight += out[k].data[1];
        }
        left = sumLeft;
        right = sumRight;
    }
};
template <>
struct ChipTraits<ymfm::ym2612> : StereoTraits<ymfm::ym2612, true> {};
template <>
struct ChipTraits<ymfm::ym2151> : StereoTraits<ymfm::ym2151, false> {};
template <>
struct ChipTraits<ymfm::ymf262> : StereoTraits<ymfm::ymf262, true> {
    static void Sum(const ymfm::ymf262::output_data* out, std::size_t count, std::int32_t& left,
                    std::int32_t& right) {
        std::int32_t sumLeft = 0;
        std::int32_t sumRight = 0;
        for (std::size_t k = 0; k < count; ++k) {
            sumLeft += out[k].data[0] + out[k].data[2];
            sumRight += out[k].data[1] + out[k].data[3];
        }
        left = sumLeft;
        right = sumRight;
    }
};
template <class Chip>
struct MonoTraits {
    static constexpr float kGain = kFmGain;
    static constexpr bool kHasSsg = false;
    static constexpr bool kTwoPorts = false;
    static std::uint32_t SsgDivider(std::uint32_t) { return 8; }
    static void Sum(const typename Chip::output_data* out, std::size_t count, std::int32_t& left,
                    std::int32_t& right) {
        std::int32_t sum = 0;
        for (std::size_t k = 0; k < count; ++k) {
            for (std::uint32_t output = 0; output < Chip::OUTPUTS; ++output) {
                sum += out[k].data[output];
            }
        }
        left = right = sum;
    }
};
template <>
struct ChipTraits<ymfm::ym2413> : MonoTraits<ymfm::ym2413> {};
template <>
struct ChipTraits<ymfm::ym3526> : MonoTraits<ymfm::ym3526> {};
template <>
struct ChipTraits<ymfm::ym3812> : MonoTraits<ymfm::ym3812> {};

// A ymfm chip with its state open to the quiet test.
template <class Chip>
class OpenChip : public Chip {
  public:
    using Chip::Chip;

    bool EnvelopesQuiet() const {
        for (std::uint32_t index = 0; index < Chip::fm_engine::OPERATORS; ++index) {
            const auto* op = this->m_fm.debug_operator(index);
            if (op->debug_eg_state() != ymfm::EG_RELEASE || op->debug_eg_attenuation() < 0x3FF ||
                op->debug_ssg_inverted() != 0) {
                return false;
            }
        }
        return true;
    }
    std::uint32_t Prescale() const { return this->m_fm.clock_prescale(); }

    // The OPNA's sample players: none playing.
    bool SamplesQuiet() {
        if constexpr (std::is_same_v<Chip, ymfm::ym2608>) {
            if ((this->m_adpcm_b.status() & ymfm::adpcm_b_channel::STATUS_PLAYING) != 0) {
                return false;
            }
            // each rhythm channel's state: its playing flag (32-bit) first
            std::vector<std::uint8_t> state;
            ymfm::ymfm_saved_state saver(state, true);
            this->m_adpcm_a.save_restore(saver);
            constexpr std::size_t kChannelState = 6 * 4;
            for (int channel = 0; channel < ymfm::adpcm_a_engine::CHANNELS; ++channel) {
                const std::size_t at = ymfm::adpcm_a_registers::REGISTERS + kChannelState * channel;
                if (at + 4 > state.size() ||
                    (state[at] | state[at + 1] | state[at + 2] | state[at + 3]) != 0) {
                    return false;
                }
            }
        }
        return true;
    }
};

// The FM key register of an OPN-family or OPM chip (port 0): a write that
// names a channel (its low bits) and the operators keyed on (the high bits).
// Other chips: none (-1).
template <class Chip>
constexpr int KeyRegister() {
    if constexpr (std::is_same_v<Chip, ymfm::ym2203> || std::is_same_v<Chip, ymfm::ym2608> ||
                  std::is_same_v<Chip, ymfm::ym2612>) {
        return 0x28;
    } else if constexpr (std::is_same_v<Chip, ymfm::ym2151>) {
        return 0x08;
    } else {
        return -1;
    }
}

template <class Chip>
class ChipDevice : public RenderDevice {
    using Traits = ChipTraits<Chip>;

  public:
    ChipDevice(std::int32_t type, std::uint32_t clock, std::uint32_t outputRate,
               const RhythmRom* rhythmRom)
        : memory_(rhythmRom), chip_(memory_), clock_(clock), outputRate_(outputRate) {
        if constexpr (Traits::kHasSsg) {
            ssg_ = std::make_unique<SsgUnit>(memory_, type, outputRate);
            chip_.ssg_override(*ssg_);
        }
        if constexpr (requires(Chip & chip) { chip.set_fidelity(ymfm::OPN_FIDELITY_MIN); }) {
            chip_.set_fidelity(ymfm::OPN_FIDELITY_MIN);
        }
        chip_.reset();
        resampler_.Configure(chip_.sample_rate(clock), outputRate);
        UpdateSsgRate();
    }

    void Write(std::uint8_t port, std::uint8_t reg, std::uint8_t data) override {
        if (!Traits::kTwoPorts && port != 0) {
            return;  // a chip with one address port: not a write it takes
        }
        if constexpr (KeyRegister<Chip>() >= 0) {
            if (port == 0 && reg == KeyRegister<Chip>()) {
                RunBeforeRetrigger(data);
            }
        }
        const std::uint32_t offset = port * 2u;
        chip_.write(offset, reg);
        chip_.write(offset + 1, data);
        fmQuiet_ = false;
        haveLast_ = false;
        if constexpr (std::is_same_v<Chip, ymfm::ym2608>) {
            if (port == 0 && reg == 0x10 && (data & 0x80) == 0 && (data & 0x3F) != 0) {
                rhythmKeyed_ = true;
            }
        }
        if (Traits::kHasSsg && port == 0 && reg >= 0x2D && reg <= 0x2F) {
            UpdateSsgRate();
        }
    }

    void Render(float* mix, std::size_t frames, bool holdQuiet) override {
        constexpr float kScale = Traits::kGain / 32768.0f;
        if (holdQuiet && !fmQuiet_ && haveLast_ && chip_.EnvelopesQuiet() && chip_.SamplesQuiet()) {
            fmQuiet_ = true;
        }
        if (holdQuiet && fmQuiet_) {
            // the last sample since the last write, held
            resampler_.Run(mix, frames,
                           [&](std::size_t, std::size_t count, float& left, float& right) {
                               left = static_cast<float>(lastLeft_) * kScale * count;
                               right = static_cast<float>(lastRight_) * kScale * count;
                           });
        } else {
            const std::size_t inputs = resampler_.InputsFor(frames);
            samples_.resize(inputs);
            // samples made ahead first (RunBeforeRetrigger), then the chip's
            const std::size_t ahead = std::min(inputs, ahead_.size());
            std::copy_n(ahead_.begin(), ahead, samples_.begin());
            ahead_.erase(ahead_.begin(), ahead_.begin() + static_cast<std::ptrdiff_t>(ahead));
            if (inputs > ahead) {
                chip_.generate(samples_.data() + ahead, static_cast<std::uint32_t>(inputs - ahead));
                keyedOff_ = 0;
            }
            if (inputs != 0) {
                Traits::Sum(&samples_.back(), 1, lastLeft_, lastRight_);
                haveLast_ = true;
            }
            resampler_.Run(mix, frames,
                           [&](std::size_t first, std::size_t count, float& left, float& right) {
                               std::int32_t sumLeft = 0;
                               std::int32_t sumRight = 0;
                               Traits::Sum(samples_.data() + first, count, sumLeft, sumRight);
                               left = static_cast<float>(sumLeft) * kScale;
                               right = static_cast<float>(sumRight) * kScale;
                           });
        }
        if (ssg_) {
            ssg_->Render(mix, frames, holdQuiet);
        }
    }

    bool Quiet() override {
        return chip_.EnvelopesQuiet() && chip_.SamplesQuiet() && (!ssg_ || ssg_->Quiet());
    }
    bool RhythmKeyed() const override { return rhythmKeyed_; }

  private:
    // The chip takes a key write at its next sample: a key-off and a key-on
    // of one channel written at the same instant (as trackers retrigger a
    // note) would leave the note keyed on, never restarted, where the chip
    // itself releases and attacks again. So before a key-on of a channel
    // keyed off since the last sample, the chip makes the samples of one FM
    // clock (with the key-off; at the lowest fidelity an OPN or OPNA clocks
    // its FM once in up to three samples), kept for the mix ahead of the next
    // ones: no time is lost.
    void RunBeforeRetrigger(std::uint8_t data) {
        constexpr bool kOpm = KeyRegister<Chip>() == 0x08;
        const unsigned channel = data & 0x07u;
        const unsigned operators = kOpm ? (data >> 3) & 0x0Fu : data >> 4;
        const std::uint32_t bit = 1u << channel;
        if (operators != 0 && (keyedOff_ & bit) != 0) {
            constexpr std::size_t kSamplesPerFmClock =
                std::is_same_v<Chip, ymfm::ym2203> || std::is_same_v<Chip, ymfm::ym2608> ? 3 : 1;
            typename Chip::output_data samples[kSamplesPerFmClock] = {};
            chip_.generate(samples, kSamplesPerFmClock);
            ahead_.insert(ahead_.end(), samples, samples + kSamplesPerFmClock);
            keyedOff_ = 0;
        }
        if (operators != 0x0F) {
            keyedOff_ |= bit;  // some operator keyed off
        }
    }

    void UpdateSsgRate() {
        if (ssg_) {
            ssg_->Configure(clock_ / Traits::SsgDivider(chip_.Prescale()), outputRate_);
        }
    }

    ChipMemory memory_;
    OpenChip<Chip> chip_;
    std::uint32_t clock_;
    std::uint32_t outputRate_;
    std::unique_ptr<SsgUnit> ssg_;
    Resampler resampler_;
    std::vector<typename Chip::output_data> samples_;
    std::vector<typename Chip::output_data> ahead_;  // made before a retrigger
    std::uint32_t keyedOff_ = 0;  // channels keyed off since the last sample made
    std::int32_t lastLeft_ = 0;
    std::int32_t lastRight_ = 0;
    bool haveLast_ = false;  // a sample made since the last write
    bool fmQuiet_ = false;   // FM and samples quiet since then: held
    bool rhythmKeyed_ = false;
};

// A YM2149 or AY-3-8910: the SSG alone, at the clock / 8 its counters run at.
class PsgDevice : public RenderDevice {
  public:
    PsgDevice(std::int32_t type, std::uint32_t clock, std::uint32_t outputRate)
        : ssg_(memory_, type, outputRate) {
        ssg_.Configure(clock / 8, outputRate);
    }
    void Write(std::uint8_t, std::uint8_t reg, std::uint8_t data) override {
        if (reg < 0x10) {
            ssg_.ssg_write(reg, data);
        }
    }
    void Render(float* mix, std::size_t frames, bool holdQuiet) override {
        ssg_.Render(mix, frames, holdQuiet);
    }
    bool Quiet() override { return ssg_.Quiet(); }

  private:
    ChipMemory memory_;
    SsgUnit ssg_;
};

std::uint32_t UsualClock(std::int32_t type) {
    switch (type) {
        case kDeviceYM2608:
        case kDeviceYM2612:
            return type == kDeviceYM2608 ? 7987200 : 7670454;
        case kDeviceYM2203:
            return 3993600;
        case kDeviceYM2149:
        case kDeviceAY8910:
            return 1996800;
        case kDeviceYMF262:
            return 14318180;
        default:
            return 3579545;
    }
}

}  // namespace

std::unique_ptr<RenderDevice> MakeRenderDevice(std::int32_t type, std::uint32_t clock,
                                               std::uint32_t outputRate,
                                               const RhythmRom& rhythmRom) {
    // A clock far from any real board's is held to one, so that a hostile
    // header cannot make a chip run millions of samples per output frame.
    constexpr std::uint32_t kLowestClock = 250000;
    constexpr std::uint32_t kHighestClock = 30000000;
    clock = clock == 0 ? UsualClock(type) : std::clamp(clock, kLowestClock, kHighestClock);
    switch (type) {
        case kDeviceYM2149:
        case kDeviceAY8910:
            return std::make_unique<PsgDevice>(type, clock, outputRate);
        case kDeviceYM2203:
            return std::make_unique<ChipDevice<ymfm::ym2203>>(type, clock, outputRate, nullptr);
        case kDeviceYM2608:
            return std::make_unique<ChipDevice<ymfm::ym2608>>(type, clock, outputRate, &rhythmRom);
        case kDeviceYM2612:
            return std::make_unique<ChipDevice<ymfm::ym2612>>(type, clock, outputRate, nullptr);
        case kDeviceYM2151:
            return std::make_unique<ChipDevice<ymfm::ym2151>>(type, clock, outputRate, nullptr);
        case kDeviceYM2413:
            return std::make_unique<ChipDevice<ymfm::ym2413>>(type, clock, outputRate, nullptr);
        case kDeviceYM3526:
            return std::make_unique<ChipDevice<ymfm::ym3526>>(type, clock, outputRate, nullptr);
        case kDeviceYM3812:
            return std::make_unique<ChipDevice<ymfm::ym3812>>(type, clock, outputRate, nullptr);
        case kDeviceYMF262:
            return std::make_unique<ChipDevice<ymfm::ymf262>>(type, clock, outputRate, nullptr);
        default:
            return nullptr;
    }
}

}  // namespace morla
