#include "render/loudness.h"

#include <ebur128.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

namespace morla {
namespace {

constexpr int kChannels = 2;
// The true peak is measured here (TruePeak below), not by libebur128.
constexpr int kModes = EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_SAMPLE_PEAK;

double ToDb(double linear) {
    return linear > 0.0 ? 20.0 * std::log10(linear) : -std::numeric_limits<double>::infinity();
}

// Frames skipped in the mix are not handed on: the meter has seen at least 4
// seconds of the constant frame already, so each window in the skipped
// stretch would measure silence (below the absolute gate, left out of every
// figure) and its peaks are those already counted.
class MeterSink : public FrameSink {
  public:
    explicit MeterSink(LoudnessMeter& meter) : meter_(meter) {}
    void Frames(const float* interleaved, std::size_t frames) override {
        meter_.Add(interleaved, frames);
    }
    void Skip(std::uint64_t) override {}

  private:
    LoudnessMeter& meter_;
};

}  // namespace

// The true peak of each channel as libebur128 measures it (the same
// interpolator: 4 times oversampled below 96 kHz and 2 times below 192 kHz,
// by a 49-tap Hann-windowed sinc, accumulated in double, each output rounded
// to float), but a block whose samples cannot reach the peak found so far
// is not interpolated: no output exceeds the samples under the filter times
// the largest sum of coefficient magnitudes of a phase.
class TruePeak {
  public:
    explicit TruePeak(std::uint32_t sampleRate) {
        factor_ = sampleRate < 96000 ? 4 : sampleRate < 192000 ? 2 : 1;
        history_ = static_cast<std::size_t>((kTaps + factor_ - 1) / factor_ - 1);
        constexpr double kAlmostZero = 0.000001;
        const double pi = std::acos(-1.0);
        for (int j = 0; j < kTaps && factor_ > 1; ++j) {
            const double m = j - (kTaps - 1) / 2.0;
            double c = 1.0;
            if (std::fabs(m) > kAlmostZero) {
                c = std::sin(m * pi / factor_) / (m * pi / factor_);
            }
            c *= 0.5 * (1 - std::cos(2 * pi * j / (kTaps - 1)));
            if (std::fabs(c) > kAlmostZero) {
                phases_[j % factor_].push_back({c, j / factor_});
            }
        }
        for (const auto& phase : phases_) {
            double sum = 0.0;
            for (const Tap& tap : phase) {
                sum += std::fabs(tap.coeff);
            }
            gain_ = std::max(gain_, sum);
        }
    }

    void Add(const float* interleaved, std::size_t frames) {
        if (factor_ == 1) {
            return;  // the sample peak is the true peak
        }
        const std::size_t history = history_;
        signal_.resize(history + frames);
        sums_.resize(frames);
        for (int channel = 0; channel < kChannels; ++channel) {
            float* x = signal_.data();
            std::copy(last_[channel].begin(), last_[channel].begin() + history, x);
            float largest = 0.0f;
            for (std::size_t i = 0; i < frames; ++i) {
                x[history + i] = interleaved[kChannels * i + channel];
            }
            for (std::size_t i = 0; i < history + frames; ++i) {
                largest = std::max(largest, std::fabs(x[i]));
            }
            if (largest * gain_ * (1.0 + 1e-9) > peak_[channel]) {
                Interpolate(x + history, frames, peak_[channel]);
            }
            std::copy(x + frames, x + frames + history, last_[channel].begin());
        }
    }

    double peak(int channel) const { return peak_[channel]; }

  private:
    static constexpr int kTaps = 49;
    static constexpr int kMostHistory = kTaps / 2;  // at 2 times oversampling
    struct Tap {
        double coeff;
        int back;  // frames back from the newest
    };

    // x[0, frames) with history_ frames before x[0].
    void Interpolate(const float* x, std::size_t frames, double& peak) {
        double* sums = sums_.data();
        for (const auto& phase : phases_) {
            if (phase.empty()) {
                continue;
            }
            std::fill(sums, sums + frames, 0.0);
            for (const Tap& tap : phase) {
                const float* from = x - tap.back;
                for (std::size_t i = 0; i < frames; ++i) {
                    sums[i] += static_cast<double>(from[i]) * tap.coeff;
                }
            }
            for (std::size_t i = 0; i < frames; ++i) {
                peak = std::max(peak, static_cast<double>(std::fabs(static_cast<float>(sums[i]))));
            }
        }
    }

    int factor_ = 4;
    std::array<std::vector<Tap>, 4> phases_;
    double gain_ = 0.0;
    std::size_t history_ = 0;  // input frames under the filter before the newest
    std::array<std::array<float, kMostHistory>, kChannels> last_{};
    std::array<double, kChannels> peak_{};
    std::vector<float> signal_;
    std::vector<double> sums_;
};

struct LoudnessMeter::State {
    ebur128_state* meter;
    TruePeak truePeak;
};

LoudnessMeter::LoudnessMeter(std::uint32_t sampleRate) {
    ebur128_state* meter = ebur128_init(kChannels, sampleRate, kModes);
    if (meter != nullptr) {
        state_ = new State{meter, TruePeak(sampleRate)};
        // libebur128's 100 ms step, rounded as it rounds it, and the
        // loudness range's windows move by ten of those
        skipQuantum_ = std::uint64_t{(sampleRate + 5) / 10} * 10;
    }
}

LoudnessMeter::~LoudnessMeter() {
    if (state_ != nullptr) {
        ebur128_destroy(&state_->meter);
        delete state_;
    }
}

LoudnessMeter::LoudnessMeter(LoudnessMeter&& other) noexcept
    : state_(other.state_), skipQuantum_(other.skipQuantum_) {
    other.state_ = nullptr;
}

LoudnessMeter& LoudnessMeter::operator=(LoudnessMeter&& other) noexcept {
    std::swap(state_, other.state_);
    std::swap(skipQuantum_, other.skipQuantum_);
    return *this;
}

void LoudnessMeter::Add(const float* interleaved, std::size_t frames) {
    if (state_ != nullptr && frames != 0) {
        ebur128_add_frames_float(state_->meter, interleaved, frames);
        state_->truePeak.Add(interleaved, frames);
    }
}

LoudnessFigures LoudnessMeter::Figures() const {
    const LoudnessMeter* self = this;
    return Combined(std::span<const LoudnessMeter* const>(&self, 1));
}

LoudnessFigures LoudnessMeter::Combined(std::span<const LoudnessMeter* const> meters) {
    std::vector<ebur128_state*> states;
    double samplePeak = 0.0;
    double truePeak = 0.0;
    for (const LoudnessMeter* meter : meters) {
        if (meter == nullptr || meter->state_ == nullptr) {
            continue;
        }
        states.push_back(meter->state_->meter);
        for (unsigned channel = 0; channel < kChannels; ++channel) {
            double peak = 0.0;
            if (ebur128_sample_peak(meter->state_->meter, channel, &peak) == EBUR128_SUCCESS) {
                samplePeak = std::max(samplePeak, peak);
            }
            // as libebur128 reports it: never below the sample peak
            truePeak = std::max({truePeak, peak, meter->state_->truePeak.peak(channel)});
        }
    }
    LoudnessFigures figures;
    figures.integratedLufs = -std::numeric_limits<double>::infinity();
    if (!states.empty()) {
        double loudness = 0.0;
        if (ebur128_loudness_global_multiple(states.data(), states.size(), &loudness) ==
            EBUR128_SUCCESS) {
            figures.integratedLufs = loudness;
        }
        double range = 0.0;
        if (ebur128_loudness_range_multiple(states.data(), states.size(), &range) ==
            EBUR128_SUCCESS) {
            figures.rangeLu = range;
        }
    }
    figures.samplePeakDbfs = ToDb(samplePeak);
    figures.truePeakDbtp = ToDb(truePeak);
    return figures;
}

SongLoudness MeasureSong(const S98Image& image, const S98Layout& layout,
                         const RenderSettings& settings) {
    SongLoudness song;
    RenderSettings used = settings;
    used.sampleRate = std::clamp<std::uint32_t>(settings.sampleRate, 8000, 192000);
    auto meter = std::make_shared<LoudnessMeter>(used.sampleRate);
    if (!meter->valid()) {
        return song;
    }
    MeterSink sink(*meter);
    RenderSummary summary = RenderSong(image, layout, used, sink, meter->SkipQuantum());
    song.measured = true;
    song.figures = meter->Figures();
    song.seconds = static_cast<double>(summary.frames) / used.sampleRate;
    song.skippedSeconds = static_cast<double>(summary.skippedFrames) / used.sampleRate;
    song.capped = summary.capped;
    song.rhythm = summary.rhythm;
    song.notices = std::move(summary.notices);
    song.meter = std::move(meter);
    return song;
}

LoudnessFigures MeasureAlbum(std::span<const SongLoudness> songs) {
    std::vector<const LoudnessMeter*> meters;
    for (const SongLoudness& song : songs) {
        if (song.meter) {
            meters.push_back(song.meter.get());
        }
    }
    return LoudnessMeter::Combined(meters);
}

}  // namespace morla
