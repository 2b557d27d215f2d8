// Arbitrary bytes and settings through the convert job, in memory and now and
// then through real files. Aborts when an invariant breaks:
//   - the image keeps its length, and a failed or peak-only job changes nothing;
//   - only data bytes of register writes of OPN/OPN2/OPNA devices in level
//     registers can differ;
//   - the checking and trusting walks visit the same commands, and the fast
//     decoder, walked in arbitrary stretches, visits them too and stops at
//     the same fault; the level-write walk on every decoder this processor
//     runs visits the level writes among them and stops at the same fault;
//   - the job's amount arithmetic gives the reference amounts for the peaks
//     measured;
//   - a job on a file (the fused or two-pass walks writing as they go) leaves
//     the input as it was, gives the in-memory job's rows and bytes, and
//     leaves no file behind when it fails;
//   - the render measures at most its cap of sound (a fraction of a second
//     here, so that every input runs fast), stops at the walk's fault, and
//     gives figures that are numbers (or -infinity for silence).
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "base/text.h"
#include "decode/decoder.h"
#include "decode/level_write_walk.h"
#include "format/chip_model.h"
#include "job/amounts.h"
#include "job/convert_batch.h"
#include "job/report_rows.h"
#include "reference/command_walk.h"
#include "reference/reference.h"
#include "render/loudness.h"

namespace {

#define CHECK(condition)                                                                    \
    do {                                                                                    \
        if (!(condition)) {                                                                 \
            std::fprintf(stderr, "invariant broken: %s (line %d)\n", #condition, __LINE__); \
            std::abort();                                                                   \
        }                                                                                   \
    } while (0)

class RecordingSink : public morla::LogSink {
  public:
    void Append(std::u16string_view line) override { rows.emplace_back(line); }
    std::vector<std::u16string> rows;
};

struct Visit {
    std::size_t offset;
    std::int32_t deviceType;
    std::uint8_t port, reg;
    bool operator==(const Visit&) const = default;
};

// The fast decoder in stretches of the given lengths, then to the end.
template <morla::WalkMode Mode>
std::u16string FastWalk(const morla::S98Image& image, const morla::S98Layout& layout,
                        const std::vector<std::uint8_t>& stretches, std::vector<Visit>& visits) {
    auto visit = [&](std::size_t offset, std::uint8_t command, std::uint8_t reg, std::uint8_t) {
        visits.push_back({offset, layout.devices.type[command >> 1],
                          static_cast<std::uint8_t>(command & 1), reg});
    };
    morla::WalkCursor cursor = morla::StartOfStream(layout);
    std::size_t limit = 0;
    for (const std::uint8_t stretch : stretches) {
        limit += stretch;
        morla::FastCommandWalk<Mode>(image.data(), layout, cursor, limit, visit);
    }
    morla::FastCommandWalk<Mode>(image.data(), layout, cursor, image.size(), visit);
    CHECK(cursor.ended);
    return cursor.error;
}

// The level-write walk on `decoder` in stretches of the given lengths, then
// to the end, for the devices of `wantsType`.
template <morla::WalkMode Mode, class WantsType>
std::u16string LevelWalk(const morla::S98Image& image, const morla::S98Layout& layout,
                         WantsType wantsType, const std::vector<std::uint8_t>& stretches,
                         std::vector<Visit>& visits) {
    auto visit = [&](std::size_t offset, std::uint8_t command, std::uint8_t reg, std::uint8_t) {
        visits.push_back({offset, layout.devices.type[command >> 1],
                          static_cast<std::uint8_t>(command & 1), reg});
    };
    const morla::WriteFilter filter = morla::FilterFor(layout, wantsType);
    morla::WalkCursor cursor = morla::StartOfStream(layout);
    std::size_t limit = 0;
    for (const std::uint8_t stretch : stretches) {
        limit += 64 * std::size_t{stretch};  // stretches long enough for whole blocks
        morla::LevelWriteWalk<Mode>(image.data(), layout, filter, cursor, limit, visit);
    }
    morla::LevelWriteWalk<Mode>(image.data(), layout, filter, cursor, image.size(), visit);
    CHECK(cursor.ended);
    return cursor.error;
}

// The visits of `all` to the level registers of devices `wantsType` accepts.
template <class WantsType>
std::vector<Visit> LevelVisits(const std::vector<Visit>& all, WantsType wantsType) {
    std::vector<Visit> level;
    for (const Visit& visit : all) {
        if (wantsType(visit.deviceType) && morla::kLevelRegisters[visit.reg]) {
            level.push_back(visit);
        }
    }
    return level;
}

// Every decoder's level-write walk against the reference's visits.
template <morla::WalkMode Mode>
void CheckLevelWalks(const morla::S98Image& image, const morla::S98Layout& layout,
                     const std::vector<std::uint8_t>& stretches, const std::u16string& error,
                     const std::vector<Visit>& reference) {
    for (const morla::Decoder& decoder : morla::Decoders()) {
        if (!morla::UseDecoder(decoder)) {
            continue;
        }
        for (const bool rewritten : {false, true}) {
            const auto wants = rewritten ? morla::IsRewrittenDevice : morla::IsAnalysedDevice;
            std::vector<Visit> level;
            CHECK(LevelWalk<Mode>(image, layout, wants, stretches, level) == error);
            CHECK(level == LevelVisits(reference, wants));
        }
    }
}

template <morla::WalkMode Mode>
std::u16string Walk(const morla::S98Image& image, const morla::S98Layout& layout,
                    std::vector<Visit>& visits) {
    return morla::CommandWalk<Mode>(image, layout, [&](const morla::S98Command& command) {
        visits.push_back({command.offset, command.deviceType, command.port, command.reg});
    });
}

// Whether a job with `settings` may change the data byte of the write.
bool IsLevelWrite(const Visit& visit, const morla::VolumeSettings& settings) {
    const bool psg = morla::MovesByOneGain(settings) && morla::IsPsgDevice(visit.deviceType) &&
                     morla::kRegisterClasses[visit.reg] == morla::RegisterClass::SsgVolume;
    if (!morla::IsRewrittenDevice(visit.deviceType) && !psg) {
        return false;
    }
    switch (morla::kRegisterClasses[visit.reg]) {
        case morla::RegisterClass::TotalLevel:
            return true;
        case morla::RegisterClass::SsgVolume:
        case morla::RegisterClass::RhythmTotalLevel:
            return visit.port == 0;
        case morla::RegisterClass::AdpcmLevel:
            return morla::MovesByOneGain(settings) && visit.port == 1 &&
                   visit.deviceType == morla::kDeviceYM2608;
        default:
            return false;
    }
}

morla::VolumeSettings SettingsFrom(FuzzedDataProvider& input) {
    morla::VolumeSettings settings;
    const auto amount = [&] {
        // mostly small values, now and then anything at all
        return input.ConsumeBool() ? input.ConsumeIntegral<std::int32_t>()
                                   : input.ConsumeIntegralInRange<std::int32_t>(-140, 140);
    };
    // A value is read for every option, ticked or not, so that the seeds
    // keep their meaning.
    const auto tick = [](bool ticked, std::int32_t value) {
        return ticked ? std::optional<std::int32_t>(value) : std::nullopt;
    };
    bool ticked = input.ConsumeBool();
    settings.fmDown = tick(ticked, amount());
    ticked = input.ConsumeBool();
    settings.ssgDown = tick(ticked, amount());
    ticked = input.ConsumeBool();
    settings.rhythmDown = tick(ticked, amount());
    ticked = input.ConsumeBool();
    settings.fmTarget = tick(ticked, input.ConsumeIntegralInRange<std::int32_t>(-1, 128));
    ticked = input.ConsumeBool();
    settings.ssgTarget = tick(ticked, input.ConsumeIntegralInRange<std::int32_t>(-1, 16));
    ticked = input.ConsumeBool();
    settings.rhythmTarget = tick(ticked, input.ConsumeIntegralInRange<std::int32_t>(-1, 64));
    settings.showDetail = input.ConsumeBool();
    settings.peakOnly = input.ConsumeBool();
    settings.useSecondPeak = input.ConsumeBool();
    // a gain of every part, now and then; the engine takes any mix of
    // options (the front ends refuse some)
    ticked = input.ConsumeIntegralInRange<int>(0, 3) == 0;
    const std::int64_t gain =
        input.ConsumeIntegralInRange<std::int64_t>(-100000000000, 100000000000);
    if (ticked) {
        settings.gainMicroDb = gain;
    }
    settings.keepBalance = input.ConsumeIntegralInRange<int>(0, 3) == 0;
    return settings;
}

// One job on its own: a batch of one file. The empty text on success, else
// the job's message.
std::u16string RunSingleJob(const std::u16string& path, const morla::VolumeSettings& settings,
                            morla::LogSink& log) {
    morla::ConvertBatch batch({path});
    return batch.RunJob(0, settings, log).message;
}

// The same job through the file layer, in a folder of this process.
void CheckThroughFiles(const std::vector<std::uint8_t>& bytes,
                       const morla::VolumeSettings& settings, const std::u16string& memoryError,
                       const std::vector<std::u16string>& memoryRows,
                       const morla::S98Image* rewritten) {
    static const std::filesystem::path folder = [] {
        auto path = std::filesystem::temp_directory_path() /
                    ("morla-fuzz-" + std::to_string(static_cast<long>(::getpid())));
        std::filesystem::create_directories(path);
        return path;
    }();
    const auto input = folder / "in.s98";
    const auto output = folder / "in_new.s98";
    std::filesystem::remove(output);
    std::ofstream(input, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));

    RecordingSink log;
    const std::u16string error = RunSingleJob(morla::FromUtf8(input.string()), settings, log);
    std::ifstream reread(input, std::ios::binary);
    const std::vector<std::uint8_t> after((std::istreambuf_iterator<char>(reread)), {});
    CHECK(after == bytes);  // the input is only ever read
    const bool validSettings = morla::ValidateSettings(settings).empty();
    CHECK(!validSettings || error == memoryError);
    CHECK(!validSettings || log.rows == memoryRows);  // the rows of the walks on the file
    if (!error.empty() || rewritten == nullptr) {
        CHECK(!std::filesystem::exists(output));
    } else {
        std::ifstream in(output, std::ios::binary);
        const std::vector<std::uint8_t> written((std::istreambuf_iterator<char>(in)), {});
        CHECK(written.size() == rewritten->size());
        CHECK(std::memcmp(written.data(), rewritten->data(), written.size()) == 0);
    }
    CHECK(std::distance(std::filesystem::directory_iterator(folder),
                        std::filesystem::directory_iterator()) ==
          (error.empty() && rewritten ? 2 : 1));
}

}  // namespace

void CheckRender(const morla::S98Image& image, const morla::S98Layout& layout,
                 const std::u16string& walkError) {
    morla::RenderSettings settings;
    settings.maxSeconds = 0.05 + 0.01 * static_cast<double>(image.size() % 46);
    settings.skipSilence = image.size() / 46 % 2 == 0;
    const morla::SongLoudness song = morla::MeasureSong(image, layout, settings);
    CHECK(song.measured);
    CHECK(song.seconds <= settings.maxSeconds + 1e-9);
    CHECK(song.skippedSeconds <= song.seconds);
    bool faulted = false;
    for (const morla::RenderNotice& notice : song.notices) {
        faulted = faulted || notice.kind == morla::RenderNotice::Kind::StreamFault;
        if (notice.kind == morla::RenderNotice::Kind::StreamFault) {
            CHECK(notice.text == walkError);
        }
    }
    CHECK(song.capped || faulted == !walkError.empty());
    const morla::LoudnessFigures& figures = song.figures;
    for (const double figure :
         {figures.integratedLufs, figures.rangeLu, figures.samplePeakDbfs, figures.truePeakDbtp}) {
        CHECK(!std::isnan(figure) && figure < 1000.0);
    }
    CHECK(figures.truePeakDbtp >= figures.samplePeakDbfs);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    morla::VolumeSettings settings = SettingsFrom(input);
    const bool throughFiles = input.ConsumeIntegralInRange<int>(0, 15) == 0;
    // the decoder the job on a file runs on (the best this processor has when
    // the one picked does not run here)
    const morla::Decoder& jobDecoder = morla::Decoders()[input.ConsumeIntegralInRange<std::size_t>(
        0, morla::Decoders().size() - 1)];
    const std::vector<std::uint8_t> stretches =
        input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange<std::size_t>(0, 4));
    const std::vector<std::uint8_t> bytes = input.ConsumeRemainingBytes<std::uint8_t>();
    const morla::S98Image original = morla::S98Image::FromBytes(bytes.data(), bytes.size());

    // The walks on their own.
    morla::S98Layout layout;
    std::u16string walkError = morla::ReadHeader(original, layout);
    const bool headerRead = walkError.empty();
    std::vector<Visit> checked, trusted;
    if (walkError.empty()) {
        walkError = Walk<morla::WalkMode::Checking>(original, layout, checked);
        std::vector<Visit> fast;
        CHECK(FastWalk<morla::WalkMode::Checking>(original, layout, stretches, fast) == walkError);
        CHECK(fast == checked);
        CheckLevelWalks<morla::WalkMode::Checking>(original, layout, stretches, walkError, checked);
        if (walkError.empty()) {
            Walk<morla::WalkMode::Trusting>(original, layout, trusted);
            CHECK(trusted == checked);
            fast.clear();
            FastWalk<morla::WalkMode::Trusting>(original, layout, stretches, fast);
            CHECK(fast == checked);
            CheckLevelWalks<morla::WalkMode::Trusting>(original, layout, stretches, walkError,
                                                       checked);
        }
    }

    // The render, with a small cap: the same stream through the emulators.
    if (headerRead) {
        CheckRender(original, layout, walkError);
    }

    // The job in memory.
    morla::S98Image image = morla::S98Image::FromBytes(bytes.data(), bytes.size());
    RecordingSink log;
    const morla::ImageOutcome outcome = morla::ConvertImage(image, settings, log);
    CHECK(outcome.error == walkError);
    CHECK(image.size() == original.size());
    if (!outcome.rewritten) {
        CHECK(std::memcmp(image.data(), original.data(), image.size()) == 0);
    } else {
        CHECK(!settings.peakOnly);
        CHECK(morla::WorkOutAmounts(settings, outcome.peaks, outcome.peaks) == outcome.amounts);
        std::vector<bool> mayChange(image.size(), false);
        for (const Visit& visit : checked) {
            if (IsLevelWrite(visit, settings)) {
                mayChange[visit.offset + 2] = true;
            }
        }
        for (std::size_t i = 0; i < image.size(); ++i) {
            CHECK(image.data()[i] == original.data()[i] || mayChange[i]);
        }
        std::vector<Visit> afterRewrite;
        Walk<morla::WalkMode::Trusting>(image, layout, afterRewrite);
        CHECK(afterRewrite == checked);
    }

    if (throughFiles) {
        if (!morla::UseDecoder(jobDecoder)) {
            morla::UseDecoder(morla::Decoders().back());  // scalar, which runs everywhere
        }
        if (outcome.rewritten) {
            log.Append(morla::FormatSummaryLine(u"in_new.s98", settings, outcome.amounts));
            morla::AppendGainRows(log, settings, outcome.amounts, outcome.peaks, layout,
                                  outcome.tally);
        }
        CheckThroughFiles(bytes, settings, outcome.error, log.rows,
                          outcome.rewritten ? &image : nullptr);
    }
    return 0;
}
