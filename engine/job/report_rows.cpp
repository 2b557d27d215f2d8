#include "job/report_rows.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <utility>
#include <vector>

#include "base/text.h"
#include "format/chip_model.h"

namespace morla {

std::u16string FormatPeakLine(const PeakLevels& peaks) {
    const PresentParts present = PartsOf(peaks);
    std::u16string line = u"PEAK:";
    std::u16string part;
    if (present.fm) {
        line += FormatLine(part, " FM=%d(2nd=%d)", peaks.fmPeak, peaks.fmSecondPeak);
    }
    if (present.ssg) {
        line += FormatLine(part, " SSG=%d", peaks.ssgPeak);
    }
    if (present.rhythm) {
        line += FormatLine(part, " RHYTHM=%d", peaks.rhythmPeak);
    }
    return line;
}

std::u16string FormatSummaryLine(std::u16string_view outputPath, const VolumeSettings& settings,
                                 const FinalAmounts& amounts) {
    std::u16string line = u"output file:";
    line += FileNamePart(outputPath);
    line += u"  volume down:";
    std::u16string part;
    if (amounts.fmDown != 0 || settings.fmTarget) {
        line += FormatLine(part, " FM=%d", amounts.fmDown);
    }
    if (amounts.ssgDown != 0 || settings.ssgTarget) {
        line += FormatLine(part, " SSG=%d", amounts.ssgDown);
    }
    if (amounts.rhythmDown != 0 || settings.rhythmTarget) {
        line += FormatLine(part, " RHYTHM=%d", amounts.rhythmDown);
    }
    return line;
}

namespace {

// One part of the gain row: " FM=+3.00dB" and what held it back. `microDb`
// is the move the part's writes got.
void AddPart(std::u16string& line, const char* name, std::int64_t microDb, const PartTally& tally) {
    std::u16string part;
    if (!tally.moved && tally.clamped != 0) {
        line += FormatLine(part, " %s=+0.00dB (already at its loudest)", name);
        return;
    }
    // exact in millionths, so no step gives "-0.00"
    const double db = static_cast<double>(microDb) / 1e6;
    line += FormatLine(part, " %s=%+.2fdB", name, std::abs(db) < 0.005 ? 0.0 : db);
    if (tally.clamped != 0) {
        line += FormatLine(part,
                           tally.clamped == 1 ? " (%llu write clamped)" : " (%llu writes clamped)",
                           static_cast<unsigned long long>(tally.clamped));
    }
}

// The move of a part that moves in whole steps: `down` steps, unless no write
// got the whole of it; then the most a clamped write got.
std::int64_t StepMove(std::int32_t down, std::int64_t step, const PartTally& tally) {
    if (!tally.full && tally.clamped != 0) {
        return std::int64_t{tally.clampedMove} * step;
    }
    return -std::int64_t{down} * step;
}

// The move of a part that moves by a curve or in proportion, by its map and
// its level of each value, in millionths of a dB: that of the loudest value
// written that the top did not hold back, or when the top held every one, of
// the loudest value written; `otherwise` when nothing was written.
template <class Map, class Written, class LevelOf>
std::int64_t LoudestMove(const Map& map, const Written& written, std::int64_t otherwise,
                         LevelOf levelOf) {
    std::optional<int> loudest;
    for (int value = static_cast<int>(written.size()) - 1; value >= 1; --value) {
        if (written[value]) {
            if (!map.over[value]) {
                return levelOf(map.to[value]) - levelOf(value);
            }
            loudest = loudest.value_or(value);
        }
    }
    return loudest ? levelOf(map.to[*loudest]) - levelOf(*loudest) : otherwise;
}

}  // namespace

void AppendGainRows(LogSink& log, const VolumeSettings& settings, const FinalAmounts& amounts,
                    const PeakLevels& own, const S98Layout& layout, const RewriteTally& tally) {
    if (!MovesByOneGain(settings)) {
        return;
    }
    const PresentParts present = PartsOf(own);
    const std::int64_t gain = amounts.gainMicroDb;
    std::u16string line = u"gain:";
    if (present.fm) {
        AddPart(line, "FM", StepMove(amounts.fmDown, kTotalLevelStepMicroDb, tally.fm), tally.fm);
    }
    if (own.chipSsgPeak != -1) {
        AddPart(line, "SSG", StepMove(amounts.ssgDown, kSsgStepMicroDb, tally.ssg), tally.ssg);
    }
    if (present.rhythm) {
        AddPart(line, "RHYTHM", StepMove(amounts.rhythmDown, kTotalLevelStepMicroDb, tally.rhythm),
                tally.rhythm);
    }
    if (own.ay8910Peak != -1) {
        AddPart(line, "PSG",
                LoudestMove(VolumeMapFor(kAy8910Curve, gain), tally.ay8910Volumes, gain,
                            [](int volume) { return kAy8910Curve[volume]; }),
                tally.psg);
    } else if (own.ym2149Peak != -1) {
        AddPart(line, "PSG", StepMove(amounts.psgDown, kSsgStepMicroDb, tally.psg), tally.psg);
    }
    if (own.adpcmPeak > 0) {
        AddPart(line, "ADPCM",
                LoudestMove(AdpcmMapFor(gain), tally.adpcmLevels, gain,
                            [](int level) {
                                // silence counts as half of level 1, as the
                                // rounding does
                                return std::llround(20e6 * std::log10(level == 0 ? 0.5 : level));
                            }),
                tally.adpcm);
    }
    if (line.size() > 5) {
        log.Append(line);
    }

    // What no gain reaches.
    std::u16string notMoved;
    std::u16string part;
    const auto name = [&](std::u16string_view what) {
        notMoved += notMoved.empty() ? u"not moved: " : u", ";
        notMoved += what;
    };
    if (tally.envelopeWrites != 0) {
        name(FormatLine(
            part,
            tally.envelopeWrites == 1 ? "SSG envelope (%llu write)" : "SSG envelope (%llu writes)",
            static_cast<unsigned long long>(tally.envelopeWrites)));
    }
    if (tally.dacOn) {
        name(u"DAC");
    }
    std::vector<std::int32_t> named;
    for (int device = 0; device < kDeviceIndexCount; ++device) {
        const std::int32_t type = layout.devices.type[device];
        if (!layout.devices.declared[device] || type == 0 ||
            RewritesDevice(RewriteAmounts{.everyPart = true}, type) ||
            std::find(named.begin(), named.end(), type) != named.end()) {
            continue;
        }
        named.push_back(type);
        const char* const chip = DeviceTypeName(type);
        name(chip != nullptr ? FormatLine(part, "%s", chip)
                             : FormatLine(part, "device type %d", type));
    }
    if (!notMoved.empty()) {
        log.Append(notMoved);
    }
}

namespace {

// A length as minutes, seconds and tenths: "3:12.5".
std::u16string FormatLength(double seconds) {
    const auto tenths = static_cast<std::int64_t>(std::llround(seconds * 10.0));
    return FormatText("%lld:%02lld.%lld", static_cast<long long>(tenths / 600),
                      static_cast<long long>(tenths / 10 % 60),
                      static_cast<long long>(tenths % 10));
}

}  // namespace

std::u16string FormatLoudnessLine(const LoudnessFigures& figures) {
    if (!std::isfinite(figures.integratedLufs)) {
        return u"LOUDNESS: silent";
    }
    return FormatText(
        "LOUDNESS: %.1f LUFS  RANGE=%.1f LU  TRUE PEAK=%.1f dBTP  SAMPLE PEAK=%.1f dBFS",
        figures.integratedLufs, figures.rangeLu, figures.truePeakDbtp, figures.samplePeakDbfs);
}

void AppendClampedRow(LogSink& log, const RewriteTally& tally) {
    const std::pair<const char*, const PartTally*> parts[] = {
        {"FM", &tally.fm},   {"SSG", &tally.ssg},     {"RHYTHM", &tally.rhythm},
        {"PSG", &tally.psg}, {"ADPCM", &tally.adpcm},
    };
    std::u16string row;
    for (const auto& [name, part] : parts) {
        if (part->clamped == 0) {
            continue;
        }
        row += row.empty() ? u"clamped: " : u", ";
        row += FormatText("%s %llu %s", name, static_cast<unsigned long long>(part->clamped),
                          part->clamped == 1 ? "write" : "writes");
    }
    if (!row.empty()) {
        log.Append(row);
    }
}

void AppendLoudnessRows(LogSink& log, const SongLoudness& song) {
    log.Append(FormatLoudnessLine(song.figures));
    std::u16string heard = u"heard: " + FormatLength(song.seconds);
    switch (song.rhythm) {
        case RhythmHeard::None:
            break;
        case RhythmHeard::UserRom:
            heard += u", rhythm: ROM image";
            break;
        case RhythmHeard::StandIn:
            heard += u", rhythm: stand-in";
            break;
    }
    log.Append(heard);
    for (const RenderNotice& notice : song.notices) {
        switch (notice.kind) {
            case RenderNotice::Kind::DeviceSilent: {
                const char* name = DeviceTypeName(notice.type);
                log.Append(name != nullptr
                               ? FormatText("notice: device %d (%s) is not rendered: heard as "
                                            "silence",
                                            notice.device + 1, name)
                               : FormatText("notice: device %d (device type %d) is not rendered: "
                                            "heard as silence",
                                            notice.device + 1, static_cast<int>(notice.type)));
                break;
            }
            case RenderNotice::Kind::Capped:
                log.Append(u"notice: measured the first " + FormatLength(song.seconds) +
                           u" only: the song runs longer");
                break;
            case RenderNotice::Kind::StreamFault:
                log.Append(u"notice: " + notice.text);
                break;
        }
    }
}

}  // namespace morla
