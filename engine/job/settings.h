// What a job is asked to do: the options ticked, with their values, as the
// window's boxes and fields or the command line give them. Nothing worked out
// from a file is kept here (see amounts.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace morla {

// The true-peak ceiling of -L when --max-peak is not given: -1 dBTP.
inline constexpr std::int64_t kDefaultTruePeakCeilingMicroDb = -1'000'000;
// The loudness targets of -L and the ceilings of --max-peak a job takes, in
// whole LUFS and dBTP, both ends included.
inline constexpr std::int32_t kLoudnessLeast = -70, kLoudnessMost = 0;
inline constexpr std::int32_t kCeilingLeast = -30, kCeilingMost = 0;

// An option with a value is ticked when its value is there.
struct VolumeSettings {
    std::optional<std::int32_t> fmDown;        // -f: FM total levels, in steps
    std::optional<std::int32_t> ssgDown;       // -s: SSG volumes, in steps
    std::optional<std::int32_t> rhythmDown;    // -r: the rhythm total level, in steps
    std::optional<std::int32_t> fmTarget;      // -F: the loudest FM carrier, counted from silence
    std::optional<std::int32_t> ssgTarget;     // -S: the loudest SSG volume
    std::optional<std::int32_t> rhythmTarget;  // -R: the loudest rhythm level
    // -g: one gain for every part, in millionths of a dB (negative is quieter).
    std::optional<std::int64_t> gainMicroDb;
    bool showDetail = false;     // -v
    bool quiet = false;          // -q: no PEAK OVER rows, a row counting them instead
    bool peakOnly = false;       // -p
    bool useSecondPeak = false;  // -2: FM normalizes from the loudest carrier below TL 0
    // -k: the normalize targets worked out as one gain for every part.
    bool keepBalance = false;
    // -m: the loudness as heard (the song rendered and metered); nothing is
    // written.
    bool measure = false;
    // -L: the loudness as heard to bring each song (or album) to, in
    // millionths of a LUFS; reached by one gain for every part.
    std::optional<std::int64_t> loudnessMicroLufs;
    // --max-peak: with -L, the true peak no song is raised beyond, in
    // millionths of a dBTP.
    std::int64_t truePeakCeilingMicroDb = kDefaultTruePeakCeilingMicroDb;
};

// Whether the job moves every part by one gain (-g or -k), the stand-alone
// PSGs and the ADPCM level included, and reports it in the gain rows.
inline bool MovesByOneGain(const VolumeSettings& settings) {
    return settings.gainMicroDb.has_value() || settings.keepBalance;
}

// Whether the job only measures (-p, -m): it writes nothing, whatever else
// is asked.
inline bool WritesNothing(const VolumeSettings& settings) {
    return settings.peakOnly || settings.measure;
}

// Whether a normalize target is ticked.
inline bool HasTarget(const VolumeSettings& settings) {
    return settings.fmTarget || settings.ssgTarget || settings.rhythmTarget;
}

// Checks the normalize targets against the ranges of their levels, and the
// loudness target and its ceiling against theirs; the empty text or the first
// range message.
std::u16string ValidateSettings(const VolumeSettings& settings);

}  // namespace morla
