#include "json_report.h"

#include <cmath>
#include <nlohmann/json.hpp>

namespace {

using Json = nlohmann::ordered_json;
using morla::ToUtf8;

Json Text(std::u16string_view text) {
    // A name that is not valid UTF-8 on POSIX comes back as its own bytes;
    // the JSON writer below replaces what is not UTF-8.
    return ToUtf8(text);
}

// A value the meter cannot give (silence: minus infinity) is null.
Json Number(double value) {
    return std::isfinite(value) ? Json(std::round(value * 100.0) / 100.0) : Json(nullptr);
}

// A part's peak, when the file has the part (the PEAK row's figures).
Json Peak(std::int32_t value, bool present) {
    return present ? Json(value) : Json(nullptr);
}

Json PeaksOf(const morla::PeakLevels& peaks) {
    const bool fm = peaks.fmPeak <= morla::kTotalLevelMax;
    return Json{
        {"fm", Peak(peaks.fmPeak, fm)},
        {"fm_second", Peak(peaks.fmSecondPeak, peaks.fmSecondPeak <= morla::kTotalLevelMax)},
        {"ssg", Peak(peaks.ssgPeak, peaks.ssgPeak >= 0)},
        {"rhythm", Peak(peaks.rhythmPeak, peaks.rhythmPeak >= 0)},
        {"ym2149", Peak(peaks.ym2149Peak, peaks.ym2149Peak >= 0)},
        {"ay8910", Peak(peaks.ay8910Peak, peaks.ay8910Peak >= 0)},
        {"adpcm", Peak(peaks.adpcmPeak, peaks.adpcmPeak >= 0)},
    };
}

Json FiguresOf(const morla::LoudnessFigures& figures) {
    return Json{
        {"integrated_lufs", Number(figures.integratedLufs)},
        {"range_lu", Number(figures.rangeLu)},
        {"true_peak_dbtp", Number(figures.truePeakDbtp)},
        {"sample_peak_dbfs", Number(figures.samplePeakDbfs)},
    };
}

Json ClampedOf(const morla::RewriteTally& tally) {
    return Json{
        {"fm", tally.fm.clamped},         {"ssg", tally.ssg.clamped},
        {"rhythm", tally.rhythm.clamped}, {"psg", tally.psg.clamped},
        {"adpcm", tally.adpcm.clamped},
    };
}

std::string StatusOf(const morla::ConvertBatch& batch, std::size_t index,
                     const morla::VolumeSettings& settings, const morla::BatchOptions& options,
                     const morla::JobResult& result) {
    if (batch.kind(index) == morla::ConvertBatch::EntryKind::Leftover) {
        return "skipped";
    }
    if (!result.message.empty()) {
        return "failed";
    }
    return options.dryRun && !morla::WritesNothing(settings) ? "dry run" : "ok";
}

}  // namespace

std::string JsonLineOf(const morla::ConvertBatch& batch, std::size_t index,
                       const morla::VolumeSettings& settings, const morla::BatchOptions& options,
                       const morla::JobResult& result, const std::vector<std::u16string>& rows) {
    Json line;
    line["schema"] = kJsonSchema;
    line["input"] = Text(batch.path(index));
    line["name"] = Text(batch.shownName(index));
    line["status"] = StatusOf(batch, index, settings, options, result);
    // The outcome row's text after "-> " for anything but a plain success.
    const std::u16string outcome = rows.empty() ? std::u16string() : rows.back();
    line["message"] = !result.message.empty()                              ? Text(result.message)
                      : outcome.starts_with(u"-> ") && outcome != u"-> ok" ? Text(outcome.substr(3))
                                                                           : Json(nullptr);
    line["output"] = result.outputPath.empty() ? Json(nullptr) : Text(result.outputPath);
    line["peaks"] = result.peaks ? PeaksOf(*result.peaks) : Json(nullptr);
    if (result.amounts) {
        line["amounts"] = Json{{"fm", result.amounts->fmDown},
                               {"ssg", result.amounts->ssgDown},
                               {"rhythm", result.amounts->rhythmDown},
                               {"psg", result.amounts->psgDown}};
    } else {
        line["amounts"] = nullptr;
    }
    line["gain_db"] =
        result.gainMicroDb ? Json(static_cast<double>(*result.gainMicroDb) / 1e6) : Json(nullptr);
    line["clamped"] = result.tally ? ClampedOf(*result.tally) : Json(nullptr);
    if (result.song) {
        Json loudness = FiguresOf(result.song->figures);
        loudness["seconds"] = Number(result.song->seconds);
        loudness["silent"] = !std::isfinite(result.song->figures.integratedLufs);
        line["loudness"] = std::move(loudness);
    } else {
        line["loudness"] = nullptr;
    }
    line["loudness_after"] =
        result.loudnessAfter ? FiguresOf(*result.loudnessAfter) : Json(nullptr);
    Json shown = Json::array();
    for (const std::u16string& row : rows) {
        shown.push_back(Text(row));
    }
    line["rows"] = std::move(shown);
    return line.dump(-1, ' ', false, Json::error_handler_t::replace);
}
