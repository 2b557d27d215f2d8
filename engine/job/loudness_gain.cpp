#include "job/loudness_gain.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "base/text.h"
#include "format/chip_model.h"
#include "render/song_render.h"

namespace morla {

namespace {

constexpr double kMicro = 1e6;
// A result this far from the target, in dB, is reported as missing it.
constexpr double kMissedBy = 0.5;

std::int64_t MicroOf(double value) {
    return std::llround(value * kMicro);
}

// `value` rounded down to a multiple of `step`.
std::int64_t FloorTo(std::int64_t value, std::int64_t step) {
    const std::int64_t quotient = value / step;
    return (value % step != 0 && value < 0 ? quotient - 1 : quotient) * step;
}

}  // namespace

PartMoves MovesOf(std::int64_t gainMicroDb, const PeakLevels& own) {
    VolumeSettings settings;
    settings.gainMicroDb = gainMicroDb;
    const FinalAmounts amounts = WorkOutAmounts(settings, own, own);
    const PresentParts present = PartsOf(own);
    std::vector<std::int64_t> moves;
    if (present.fm) {
        moves.push_back(-std::int64_t{amounts.fmDown} * kTotalLevelStepMicroDb);
    }
    if (present.rhythm) {
        moves.push_back(-std::int64_t{amounts.rhythmDown} * kTotalLevelStepMicroDb);
    }
    if (own.chipSsgPeak != -1) {
        moves.push_back(-std::int64_t{amounts.ssgDown} * kSsgStepMicroDb);
    }
    if (own.ym2149Peak != -1) {
        moves.push_back(-std::int64_t{amounts.psgDown} * kSsgStepMicroDb);
    }
    // By a curve or in proportion: about the gain, never exactly.
    const bool approximate = own.ay8910Peak != -1 || own.adpcmPeak > 0;
    if (approximate) {
        moves.push_back(gainMicroDb);
    }
    PartMoves result;
    if (moves.empty()) {
        // No part measured: what the rewrite moves (levels the analysis did
        // not count) is not known to follow the gain.
        result.uniform = false;
        return result;
    }
    result.leading = moves.front();
    result.largest = *std::max_element(moves.begin(), moves.end());
    result.uniform =
        !approximate && std::all_of(moves.begin(), moves.end(),
                                    [&](std::int64_t move) { return move == result.leading; });
    return result;
}

LoudnessGain ChooseLoudnessGain(const LoudnessFigures& measured, std::int64_t targetMicroLufs,
                                std::int64_t ceilingMicroDb, const PeakLevels& own) {
    LoudnessGain result;
    if (!std::isfinite(measured.integratedLufs)) {
        return result;
    }
    result.measurable = true;
    const std::int64_t measuredMicro = MicroOf(measured.integratedLufs);
    const std::int64_t wanted = targetMicroLufs - measuredMicro;
    const PresentParts present = PartsOf(own);
    const std::int64_t step = present.fm || present.rhythm ? kTotalLevelStepMicroDb
                              : own.chipSsgPeak != -1 || own.ym2149Peak != -1 ? kSsgStepMicroDb
                                                                              : 0;
    // The room under the ceiling; a silent peak leaves all of it.
    const std::int64_t room = std::isfinite(measured.truePeakDbtp)
                                  ? ceilingMicroDb - MicroOf(measured.truePeakDbtp)
                                  : std::numeric_limits<std::int64_t>::max();

    std::vector<std::int64_t> candidates;
    if (step == 0) {
        candidates.push_back(wanted);
    } else {
        const std::int64_t below = FloorTo(wanted, step);
        for (std::int64_t k = -1; k <= 2; ++k) {
            candidates.push_back(below + k * step);
        }
    }
    // The nearest to the target; of two as near, the quieter (the first).
    std::int64_t chosen = candidates.front();
    std::int64_t nearest = std::numeric_limits<std::int64_t>::max();
    for (const std::int64_t candidate : candidates) {
        const std::int64_t miss = std::abs(MovesOf(candidate, own).leading - wanted);
        if (miss < nearest) {
            nearest = miss;
            chosen = candidate;
        }
    }
    if (MovesOf(chosen, own).largest > room) {
        const std::int64_t nearestChoice = chosen;
        const std::int64_t top = std::min(wanted, room);
        chosen = step == 0 ? top : FloorTo(top, step);
        // A part on coarser steps may still move past the ceiling: a step
        // lower at a time (its steps are at most four of FM's).
        for (int tries = 0; tries < 8 && step != 0 && MovesOf(chosen, own).largest > room;
             ++tries) {
            chosen -= step;
        }
        // Said only where the ceiling took something off the nearest step.
        result.lowered = chosen < nearestChoice;
    }
    const PartMoves moves = MovesOf(chosen, own);
    result.gainMicroDb = chosen;
    result.predictedLufs = measured.integratedLufs + static_cast<double>(moves.leading) / kMicro;
    result.predictedTruePeakDbtp =
        measured.truePeakDbtp + static_cast<double>(moves.largest) / kMicro;
    return result;
}

bool AnythingMoved(const RewriteTally& tally) {
    return tally.fm.moved || tally.ssg.moved || tally.rhythm.moved || tally.psg.moved ||
           tally.adpcm.moved;
}

bool MovedAsPredicted(const PeakLevels& own, const FinalAmounts& amounts, const RewriteTally& tally,
                      const S98Layout& layout) {
    for (const PartTally* part : {&tally.fm, &tally.ssg, &tally.rhythm, &tally.psg, &tally.adpcm}) {
        if (part->clamped != 0) {
            return false;
        }
    }
    if (tally.envelopeWrites != 0 || tally.dacOn) {
        return false;
    }
    for (int device = 0; device < kDeviceIndexCount; ++device) {
        const std::int32_t type = layout.devices.type[device];
        if (layout.devices.declared[device] && IsRenderedDevice(type) &&
            !RewritesDevice(RewriteAmounts{.everyPart = true}, type)) {
            return false;  // sounds, and no gain reaches it
        }
    }
    return MovesOf(amounts.gainMicroDb, own).uniform;
}

namespace {

// What held the song back from the target, as the row names it.
std::u16string WhatHeldBack(const RewriteTally& tally) {
    std::u16string reasons;
    const auto add = [&](const std::u16string& reason) {
        reasons += reasons.empty() ? u"" : u", ";
        reasons += reason;
    };
    const struct {
        const char* name;
        const PartTally& part;
    } parts[] = {{"FM", tally.fm},
                 {"SSG", tally.ssg},
                 {"RHYTHM", tally.rhythm},
                 {"PSG", tally.psg},
                 {"ADPCM", tally.adpcm}};
    for (const auto& [name, part] : parts) {
        if (part.clamped != 0) {
            add(FormatText(part.clamped == 1 ? "%s %llu write clamped" : "%s %llu writes clamped",
                           name, static_cast<unsigned long long>(part.clamped)));
        }
    }
    if (tally.envelopeWrites != 0) {
        add(u"SSG envelope not moved");
    }
    if (tally.dacOn) {
        add(u"DAC not moved");
    }
    if (reasons.empty()) {
        add(u"the parts move in steps of their own");
    }
    return reasons;
}

}  // namespace

std::u16string FormatLoudnessGainLine(const LoudnessFigures& before, const LoudnessFigures& after,
                                      double aimLufs, bool albumGain, const LoudnessGain& gain,
                                      const RewriteTally& tally) {
    if (!gain.measurable) {
        return u"loudness: silent: cannot be measured, nothing moved";
    }
    const double db = static_cast<double>(gain.gainMicroDb) / kMicro;
    std::u16string line =
        std::isfinite(after.integratedLufs)
            ? FormatText("loudness: %.1f -> %.1f LUFS (gain %+.2fdB)", before.integratedLufs,
                         after.integratedLufs, std::abs(db) < 0.005 ? 0.0 : db)
            : FormatText("loudness: %.1f -> silent (gain %+.2fdB)", before.integratedLufs, db);
    if (std::isfinite(after.truePeakDbtp)) {
        line += FormatText(", true peak %.1f dBTP", after.truePeakDbtp);
    }
    if (gain.lowered) {
        line += u" (gain lowered to fit the ceiling)";
    }
    const double miss = after.integratedLufs - aimLufs;
    // How far from the aim the song ended, and what held it there.
    const char* aim = albumGain ? "the album's gain" : "the target";
    if (std::isfinite(after.integratedLufs) && miss < -kMissedBy && !gain.lowered) {
        line += FormatText(", %.1f LU below %s: ", -miss, aim) + WhatHeldBack(tally);
    } else if (std::isfinite(after.integratedLufs) && miss > kMissedBy) {
        line += FormatText(", %.1f LU above %s: ", miss, aim) + WhatHeldBack(tally);
    }
    return line;
}

std::u16string FormatAlbumGainLine(const LoudnessFigures& album, std::int64_t targetMicroLufs,
                                   const LoudnessGain& gain) {
    if (!gain.measurable) {
        return u"ALBUM GAIN: none: silent, nothing moved";
    }
    const double db = static_cast<double>(gain.gainMicroDb) / kMicro;
    std::u16string line = FormatText(
        "ALBUM GAIN: %+.2fdB, %.1f -> %.1f LUFS (target %.1f)", std::abs(db) < 0.005 ? 0.0 : db,
        album.integratedLufs, gain.predictedLufs, static_cast<double>(targetMicroLufs) / kMicro);
    if (gain.lowered) {
        line += u" (lowered to fit the ceiling)";
    }
    return line;
}

}  // namespace morla
