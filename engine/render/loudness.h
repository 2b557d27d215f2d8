// Loudness by EBU R 128 (libebur128): a meter per song, the measurement of a
// song as rendered (song_render.h), and of an album as one programme.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "format/s98_image.h"
#include "render/song_render.h"

namespace morla {

// The figures of a programme. Loudness of a silent programme is -infinity.
struct LoudnessFigures {
    double integratedLufs = 0.0;  // integrated (gated) loudness, LUFS
    double rangeLu = 0.0;         // loudness range, LU
    double samplePeakDbfs = 0.0;  // highest sample, dB of full scale
    double truePeakDbtp = 0.0;    // highest true (inter-sample) peak, dBTP
};

// A stereo meter: integrated loudness, loudness range, sample and true peak.
class LoudnessMeter {
  public:
    explicit LoudnessMeter(std::uint32_t sampleRate);
    ~LoudnessMeter();
    LoudnessMeter(LoudnessMeter&&) noexcept;
    LoudnessMeter& operator=(LoudnessMeter&&) noexcept;

    // False when the meter could not be made (out of memory).
    bool valid() const { return state_ != nullptr; }
    void Add(const float* interleaved, std::size_t frames);
    LoudnessFigures Figures() const;

    // The stretch of frames whose multiples can go unmeasured in a constant
    // signal without changing any figure: the step of the loudness-range
    // windows, a multiple of the gating blocks' step.
    std::uint64_t SkipQuantum() const { return skipQuantum_; }

    // Several meters' programmes measured as one (an album).
    static LoudnessFigures Combined(std::span<const LoudnessMeter* const> meters);

  private:
    struct State;
    State* state_ = nullptr;
    std::uint64_t skipQuantum_ = 0;
};

struct SongLoudness {
    bool measured = false;  // false: no meter (out of memory)
    LoudnessFigures figures;
    double seconds = 0.0;         // the sound measured
    double skippedSeconds = 0.0;  // of which counted as constant, not rendered
    bool capped = false;
    RhythmHeard rhythm = RhythmHeard::None;
    std::vector<RenderNotice> notices;
    // The song's meter, for an album measurement (MeasureAlbum).
    std::shared_ptr<LoudnessMeter> meter;
};

// Renders the song and measures it.
SongLoudness MeasureSong(const S98Image& image, const S98Layout& layout,
                         const RenderSettings& settings);

// The album's figures over the songs' meters (songs without one are left out).
LoudnessFigures MeasureAlbum(std::span<const SongLoudness> songs);

}  // namespace morla
