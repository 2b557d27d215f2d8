#include "render/rhythm_stand_in.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace morla {
namespace {

// The ADPCM-A decoder of the YM2608 and YM2610: a 12-bit accumulator that
// wraps, and a step index that moves by the three magnitude bits of a code.
constexpr std::array<int, 49> kSteps = {
    16,  17,  19,  21,  23,  25,  28,  31,  34,  37,  41,   45,   50,   55,   60,  66,  73,
    80,  88,  97,  107, 118, 130, 143, 157, 173, 190, 209,  230,  253,  279,  307, 337, 371,
    408, 449, 494, 544, 598, 658, 724, 796, 876, 963, 1060, 1166, 1282, 1411, 1552};
constexpr std::array<int, 8> kStepMoves = {-1, -1, -1, -1, 2, 5, 7, 9};

struct DecoderState {
    int accumulator = 0;  // signed, -2048..2047 while nothing wraps
    int stepIndex = 0;
};

int Delta(int code, int stepIndex) {
    const int delta = (2 * (code & 7) + 1) * kSteps[stepIndex] / 8;
    return (code & 8) != 0 ? -delta : delta;
}

int NextStepIndex(int code, int stepIndex) {
    return std::clamp(stepIndex + kStepMoves[code & 7], 0, 48);
}

// The samples are made in double arithmetic with no library function beyond
// the exact ones (floor, ldexp), so the image does not depend on the C
// library: sine and exponential are computed here. (A compiler that fused
// multiplies and adds into FMA instructions could still round differently;
// the tests hold the image to its hash.)
constexpr double kPi = 3.14159265358979323846;

double Sine(double x) {
    x -= 2 * kPi * std::floor(x / (2 * kPi) + 0.5);  // -pi..pi
    if (x > kPi / 2) {
        x = kPi - x;
    } else if (x < -kPi / 2) {
        x = -kPi - x;
    }
    const double x2 = x * x;
    double term = x;
    double sum = x;
    for (int n = 1; n <= 8; ++n) {
        term *= -x2 / ((2 * n) * (2 * n + 1));
        sum += term;
    }
    return sum;
}

double Exp(double x) {
    constexpr double kLn2 = 0.69314718055994530942;
    const double whole = std::floor(x / kLn2 + 0.5);
    const double r = x - whole * kLn2;  // |r| <= ln 2 / 2
    double term = 1;
    double sum = 1;
    for (int n = 1; n <= 14; ++n) {
        term *= r / n;
        sum += term;
    }
    return std::ldexp(sum, static_cast<int>(whole));
}

// White noise in -1..1 from a 32-bit xorshift generator.
class Noise {
  public:
    explicit Noise(std::uint32_t seed) : state_(seed) {}
    double operator()() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return static_cast<double>(state_) / 2147483648.0 - 1;
    }

  private:
    std::uint32_t state_;
};

// A second-order section (the usual cookbook band-pass, constant peak gain, or
// high-pass), run sample by sample.
class Filter {
  public:
    static Filter BandPass(double hz, double q, double rate) { return Filter(hz, q, rate, true); }
    static Filter HighPass(double hz, double q, double rate) { return Filter(hz, q, rate, false); }

    double operator()(double x) {
        const double y = b0_ * x + b1_ * x1_ + b2_ * x2_ - a1_ * y1_ - a2_ * y2_;
        x2_ = x1_;
        x1_ = x;
        y2_ = y1_;
        y1_ = y;
        return y;
    }

  private:
    Filter(double hz, double q, double rate, bool bandPass) {
        const double w = 2 * kPi * hz / rate;
        const double cosW = Sine(w + kPi / 2);
        const double alpha = Sine(w) / (2 * q);
        const double a0 = 1 + alpha;
        if (bandPass) {
            b0_ = alpha / a0;
            b1_ = 0;
            b2_ = -alpha / a0;
        } else {
            b0_ = (1 + cosW) / 2 / a0;
            b1_ = -(1 + cosW) / a0;
            b2_ = b0_;
        }
        a1_ = -2 * cosW / a0;
        a2_ = (1 - alpha) / a0;
    }

    double b0_, b1_, b2_, a1_, a2_;
    double x1_ = 0, x2_ = 0, y1_ = 0, y2_ = 0;
};

// A sine whose frequency glides exponentially from `startHz` to `endHz`.
class Glide {
  public:
    Glide(double startHz, double endHz, double seconds, double rate)
        : start_(startHz), end_(endHz), seconds_(seconds), rate_(rate) {}
    double operator()(double t) {
        const double hz = end_ + (start_ - end_) * Exp(-t / seconds_);
        phase_ += 2 * kPi * hz / rate_;
        return Sine(phase_);
    }

  private:
    double start_, end_, seconds_, rate_;
    double phase_ = 0;
};

// The six square waves at unrelated pitches that make the metallic part of
// the cymbal and the hi-hat.
double Metal(double t) {
    constexpr std::array<double, 6> kHz = {205.3, 304.4, 369.6, 522.7, 540.0, 800.0};
    double sum = 0;
    for (const double hz : kHz) {
        const double cycles = t * hz;
        sum += cycles - std::floor(cycles) < 0.5 ? 1 : -1;
    }
    return sum / 6;
}

constexpr double kClock = 7987200;  // the YM2608's usual clock
constexpr double kFastRate = kClock / 432;
constexpr double kSlowRate = kClock / 864;

// The sound's last few milliseconds fade to nothing, so a drum cut by the end
// of its bytes does not click.
double Fade(double t, double length) {
    constexpr double kFade = 0.004;
    return std::clamp((length - t) / kFade, 0.0, 1.0);
}

std::vector<double> BassDrum(std::size_t count, double rate) {
    std::vector<double> out(count);
    Glide body(150, 48, 0.012, rate);
    Noise noise(0x0BD0BD01u);
    Filter click = Filter::BandPass(1800, 0.9, rate);
    for (std::size_t n = 0; n < count; ++n) {
        const double t = n / rate;
        out[n] = body(t) * Exp(-t / 0.030) + 0.5 * click(noise()) * Exp(-t / 0.002);
    }
    return out;
}

std::vector<double> Snare(std::size_t count, double rate) {
    std::vector<double> out(count);
    Glide low(210, 180, 0.010, rate);
    Glide high(350, 320, 0.010, rate);
    Noise noise(0x05AE5AE5u);
    Filter rattle = Filter::BandPass(4200, 0.5, rate);
    for (std::size_t n = 0; n < count; ++n) {
        const double t = n / rate;
        const double tone = (0.6 * low(t) + 0.4 * high(t)) * Exp(-t / 0.018);
        out[n] = 0.6 * tone + 1.2 * rattle(noise()) * Exp(-t / 0.024);
    }
    return out;
}

// The metal and noise above `hz`, dying away with the time constant `seconds`.
std::vector<double> Cymbal(std::size_t count, double rate, double seconds, double hz,
                           std::uint32_t seed) {
    std::vector<double> out(count);
    Noise noise(seed);
    Filter metal = Filter::HighPass(hz, 0.8, rate);
    Filter hiss = Filter::HighPass(hz, 0.7, rate);
    for (std::size_t n = 0; n < count; ++n) {
        const double t = n / rate;
        const double attack = std::min(1.0, t / 0.0015);
        out[n] = (metal(Metal(t)) + 0.6 * hiss(noise())) * attack * Exp(-t / seconds);
    }
    return out;
}

std::vector<double> TopCymbal(std::size_t count, double rate) {
    return Cymbal(count, rate, 0.180, 5000, 0x7070C0C0u);
}

std::vector<double> HiHat(std::size_t count, double rate) {
    return Cymbal(count, rate, 0.030, 6000, 0x4A4A4A4Au);
}

std::vector<double> Tom(std::size_t count, double rate) {
    std::vector<double> out(count);
    Glide body(180, 120, 0.040, rate);
    Noise noise(0x0707070Fu);
    Filter skin = Filter::BandPass(900, 0.8, rate);
    for (std::size_t n = 0; n < count; ++n) {
        const double t = n / rate;
        out[n] = body(t) * Exp(-t / 0.045) + 0.4 * skin(noise()) * Exp(-t / 0.006);
    }
    return out;
}

std::vector<double> RimShot(std::size_t count, double rate) {
    std::vector<double> out(count);
    Glide low(520, 500, 0.005, rate);
    Glide high(1720, 1700, 0.005, rate);
    Noise noise(0x00814181u);
    Filter crack = Filter::BandPass(2500, 1.2, rate);
    for (std::size_t n = 0; n < count; ++n) {
        const double t = n / rate;
        out[n] = (0.6 * low(t) + 0.4 * high(t)) * Exp(-t / 0.008) +
                 0.5 * crack(noise()) * Exp(-t / 0.002);
    }
    return out;
}

// The drum's samples at its gain, faded at the end, rounded and kept a little
// inside the accumulator's range, which the encoder needs to reach a peak
// without overshooting it.
std::vector<std::int16_t> Quantise(const std::vector<double>& sound, double rate, double gain) {
    std::vector<std::int16_t> samples(sound.size());
    const double length = sound.size() / rate;
    for (std::size_t n = 0; n < sound.size(); ++n) {
        const double value = gain * sound[n] * Fade(n / rate, length);
        samples[n] =
            static_cast<std::int16_t>(std::floor(std::clamp(value, -2000.0, 2000.0) + 0.5));
    }
    return samples;
}

// Each drum: the bytes the chip plays it from, its rate, its gain (the
// accumulator's full scale is 2048) and its sound before that gain. The gains
// make each drum, keyed on every 500 ms, as loud against one FM carrier as the
// real drum measures, as the render hears both: mixed down to 48 kHz, where
// the images of the drums' low sample rates above 24 kHz no longer count
// (tests/render_test.cpp holds them to the figures; the chip heard at its own
// rate, tests/rhythm_stand_in_test.cpp, gives the bright drums up to 1 LU more).
struct Drum {
    std::size_t first, last;  // inclusive
    double rate;
    double gain;
    std::vector<double> (*sound)(std::size_t count, double rate);
};
constexpr std::array<Drum, 6> kDrums = {{
    {0x0000, 0x01BF, kFastRate, 1850, BassDrum},
    {0x01C0, 0x043F, kFastRate, 1270, Snare},
    {0x0440, 0x1B7F, kFastRate, 1153, TopCymbal},
    {0x1B80, 0x1CFF, kFastRate, 3613, HiHat},
    {0x1D00, 0x1F7F, kSlowRate, 1400, Tom},
    {0x1F80, 0x1FFF, kSlowRate, 2286, RimShot},
}};

// The drum's 12-bit samples, two for each of its bytes.
std::vector<std::int16_t> DrumSamples(const Drum& drum) {
    const std::size_t count = (drum.last - drum.first + 1) * 2;
    return Quantise(drum.sound(count, drum.rate), drum.rate, drum.gain);
}

std::array<std::uint8_t, 8192> MakeRom() {
    std::array<std::uint8_t, 8192> rom{};
    for (const Drum& drum : kDrums) {
        EncodeAdpcmA(DrumSamples(drum),
                     std::span(rom).subspan(drum.first, drum.last - drum.first + 1));
    }
    return rom;
}

}  // namespace

void EncodeAdpcmA(std::span<const std::int16_t> samples, std::span<std::uint8_t> out) {
    DecoderState state;
    for (std::size_t n = 0; n < samples.size(); ++n) {
        const int target = std::clamp<int>(samples[n], -2048, 2047);
        int best = -1;
        int bestError = 0;
        for (int code = 0; code < 16; ++code) {
            const int next = state.accumulator + Delta(code, state.stepIndex);
            if (next < -2048 || next > 2047) {
                continue;  // the accumulator would wrap around
            }
            const int error = std::abs(target - next);
            if (best < 0 || error < bestError) {
                best = code;
                bestError = error;
            }
        }
        state.accumulator += Delta(best, state.stepIndex);
        state.stepIndex = NextStepIndex(best, state.stepIndex);
        if (n % 2 == 0) {
            out[n / 2] = static_cast<std::uint8_t>(best << 4);
        } else {
            out[n / 2] |= static_cast<std::uint8_t>(best);
        }
    }
}

const std::array<std::uint8_t, kRhythmRomSize>& RhythmStandInRom() {
    static const std::array<std::uint8_t, 8192> rom = MakeRom();
    return rom;
}

}  // namespace morla
