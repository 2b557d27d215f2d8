// Each walk over a 64 MiB command stream, in bytes of stream per second:
// a generated song, a real song repeated, and a dense stream of random
// register writes.
#include <benchmark/benchmark.h>

#include <cstring>

#include "convert_job.h"
#include "level_walks.h"
#include "peak_analysis.h"
#include "song_stream.h"
#include "volume_rewrite.h"

namespace {

constexpr std::size_t kStreamBytes = 64u << 20;

class DiscardSink : public morla::LogSink {
  public:
    void Append(std::u16string_view) override {}
};

const std::vector<std::uint8_t>& Song() {
    static const std::vector<std::uint8_t> song = morla::bench::MakeSongImage(kStreamBytes);
    return song;
}

// A real song's stream repeated to 64 MiB, when the shared sample files are
// there (empty otherwise).
const std::vector<std::uint8_t>& RealSong() {
    static const std::vector<std::uint8_t> song =
        morla::bench::RepeatSampleStream(MORLA_SAMPLES_DIR "/Lotus.s98", kStreamBytes);
    return song;
}

// Register writes only, on random ports to random registers: no rhythm in the
// stream for a branch predictor to learn.
const std::vector<std::uint8_t>& Dense() {
    static const std::vector<std::uint8_t> dense =
        morla::bench::MakeDenseRandomImage(kStreamBytes, 20110226u);
    return dense;
}

using Source = const std::vector<std::uint8_t>& (*)();

// The image of `source` and its checked header; false (the benchmark skipped)
// when the source is missing.
bool Load(benchmark::State& state, Source source, morla::S98Image& image,
          morla::S98Layout& layout) {
    if (source().empty()) {
        state.SkipWithError("sample file not found");
        return false;
    }
    image = morla::S98Image::FromBytes(source().data(), source().size());
    morla::ReadHeader(image, layout);
    return true;
}

void CheckingWalk(benchmark::State& state, Source source) {
    morla::S98Image image;
    morla::S98Layout layout;
    if (!Load(state, source, image, layout)) {
        return;
    }
    for (auto _ : state) {
        morla::AlgorithmTable algorithms;
        morla::PeakLevels peaks;
        auto error = morla::AnalysisWalk(image, layout, algorithms, peaks);
        benchmark::DoNotOptimize(error);
        benchmark::DoNotOptimize(peaks);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * image.size()));
}

void TrustingWalk(benchmark::State& state, Source source) {
    morla::S98Image image;
    morla::S98Layout layout;
    if (!Load(state, source, image, layout)) {
        return;
    }
    DiscardSink log;
    const morla::RewriteAmounts amounts{3, 1, 2, false};
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(image.data(), source().data(), image.size());
        morla::AlgorithmTable algorithms;
        state.ResumeTiming();
        morla::RewriteWalk(image, layout, algorithms, amounts, log);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * image.size()));
}

// Both walks and everything between them, as a job does in memory.
void WholeImage(benchmark::State& state, Source source) {
    if (source().empty()) {
        state.SkipWithError("sample file not found");
        return;
    }
    morla::S98Image image = morla::S98Image::FromBytes(source().data(), source().size());
    DiscardSink log;
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(image.data(), source().data(), image.size());
        state.ResumeTiming();
        morla::VolumeSettings settings;
        settings.fmDownGiven = settings.ssgDownGiven = settings.rhythmDownGiven = true;
        settings.fmDown = 3, settings.ssgDown = 1, settings.rhythmDown = 2;
        auto outcome = morla::ConvertImage(image, settings, log);
        benchmark::DoNotOptimize(outcome);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * image.size()));
}

// The one walk a job makes when its amounts are known up front: checking and
// rewriting at once into 256 KiB stretches of output (not written anywhere).
void FusedWalk(benchmark::State& state, Source source) {
    morla::S98Image image;
    morla::S98Layout layout;
    if (!Load(state, source, image, layout)) {
        return;
    }
    DiscardSink log;
    const morla::RewriteAmounts amounts{3, 1, 2, false};
    for (auto _ : state) {
        std::u16string error;
        auto outcome = morla::FusedRewriteToOutput(image, layout, amounts, log, nullptr, error);
        benchmark::DoNotOptimize(outcome);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * image.size()));
}

}  // namespace

BENCHMARK_CAPTURE(CheckingWalk, song, Song)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_CAPTURE(TrustingWalk, song, Song)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_CAPTURE(WholeImage, song, Song)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_CAPTURE(FusedWalk, song, Song)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_CAPTURE(CheckingWalk, lotus, RealSong)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_CAPTURE(TrustingWalk, lotus, RealSong)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_CAPTURE(WholeImage, lotus, RealSong)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_CAPTURE(FusedWalk, lotus, RealSong)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_CAPTURE(CheckingWalk, dense, Dense)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_CAPTURE(TrustingWalk, dense, Dense)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_CAPTURE(WholeImage, dense, Dense)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_CAPTURE(FusedWalk, dense, Dense)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_MAIN();
