#include "render/loudness.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace morla {
namespace {

constexpr int kChannels = 2;
constexpr int kModes =
    EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_SAMPLE_PEAK | EBUR128_MODE_TRUE_PEAK;

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

struct LoudnessMeter::State {
    ebur128_state* meter;
};

LoudnessMeter::LoudnessMeter(std::uint32_t sampleRate) {
    ebur128_state* meter = ebur128_init(kChannels, sampleRate, kModes);
    if (meter != nullptr) {
        state_ = new State{meter};
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
            if (ebur128_true_peak(meter->state_->meter, channel, &peak) == EBUR128_SUCCESS) {
                truePeak = std::max(truePeak, peak);
            }
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
