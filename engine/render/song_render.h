// A song as sound: the command stream, read by the production walk, drives an
// emulator of each device the header declares, in time, from the start to the
// end command (a loop is not repeated), mixed to one stereo signal at a fixed
// rate. Used to measure loudness (loudness.h); nothing is written anywhere.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "format/s98_image.h"
#include "render/rhythm_stand_in.h"

namespace morla {

using RhythmRom = std::array<std::uint8_t, kRhythmRomSize>;

struct RenderSettings {
    std::uint32_t sampleRate = 48000;
    // The most sound rendered; a song that runs longer is cut there (and says so).
    double maxSeconds = 3600.0;
    // The user's image of the OPNA rhythm ROM; null: the stand-in.
    const RhythmRom* rhythmRom = nullptr;
    // Stretches where every device holds a constant output (silence) and no
    // register write comes are counted instead of rendered; and a device's
    // FM or SSG whose output cannot change before its next write is not run
    // meanwhile (its counters, such as LFO and tone phases, stand still).
    bool skipSilence = true;
};

// Something a result says beside its figures.
struct RenderNotice {
    enum class Kind {
        DeviceSilent,  // a device no emulator here renders: heard as silence
        Capped,        // the song runs beyond maxSeconds: cut there
        StreamFault,   // the stream breaks off (its fault message in `text`)
    };
    Kind kind;
    int device = -1;        // DeviceSilent: the device index
    std::int32_t type = 0;  // DeviceSilent: its type number
    std::u16string text;    // the notice in a user's words
};

enum class RhythmHeard {
    None,     // no OPNA keyed its rhythm
    UserRom,  // the user's ROM image
    StandIn,  // the stand-in (rhythm_stand_in.h)
};

struct RenderSummary {
    std::uint64_t frames = 0;         // the song's length in frames, skipped ones included
    std::uint64_t skippedFrames = 0;  // counted as constant output, not rendered
    bool capped = false;
    RhythmHeard rhythm = RhythmHeard::None;
    std::vector<RenderNotice> notices;
};

// Receives the mix, in order: rendered stretches as interleaved stereo
// frames, and skipped stretches as a count of frames that would all equal
// the last frame handed on (Skip only comes after at least 4 seconds of that
// constant frame, and then only in whole multiples of `skipQuantum` frames).
class FrameSink {
  public:
    virtual ~FrameSink() = default;
    virtual void Frames(const float* interleaved, std::size_t frames) = 0;
    virtual void Skip(std::uint64_t frames) = 0;
};

// Renders the song of `image` (whose header `layout` holds) into `sink`.
// `skipQuantum` is the granularity of skipped stretches (0: none skipped).
RenderSummary RenderSong(const S98Image& image, const S98Layout& layout,
                         const RenderSettings& settings, FrameSink& sink,
                         std::uint64_t skipQuantum);

// Whether an emulator here renders devices of `type`.
bool IsRenderedDevice(std::int32_t type);

}  // namespace morla
