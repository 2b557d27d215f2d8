// Each walk over a 64 MiB command stream, in bytes of stream per second:
// a generated song, a real song repeated, and a dense stream of random
// register writes.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <utility>

#include "decode/decoder.h"
#include "job/convert_job.h"
#include "passes/level_walks.h"
#include "passes/peak_analysis.h"
#include "passes/volume_rewrite.h"
#include "reference/reference.h"
#include "song_stream.h"

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

// The reference checking walk (the readable decoder the fast one is held to).
void ReferenceWalk(benchmark::State& state, Source source) {
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

enum class Walk { Analysis, Rewrite, Fused };

// One walk of a job on one decoder: the analysis (checking), the rewrite
// after it (trusting, into 256 KiB stretches of output not written anywhere),
// or the one fused walk a job makes when its amounts are known up front.
void JobWalk(benchmark::State& state, Source source, Walk walk, const morla::Decoder* decoder) {
    morla::S98Image image;
    morla::S98Layout layout;
    if (!Load(state, source, image, layout)) {
        return;
    }
    if (!morla::UseDecoder(*decoder)) {
        state.SkipWithError("this processor does not run the decoder");
        return;
    }
    DiscardSink log;
    const morla::RewriteAmounts amounts{3, 1, 2, false};
    for (auto _ : state) {
        morla::AlgorithmTable algorithms;
        switch (walk) {
            case Walk::Analysis: {
                morla::PeakLevels peaks;
                auto error = morla::FastAnalysisWalk(image, layout, algorithms, peaks);
                benchmark::DoNotOptimize(error);
                benchmark::DoNotOptimize(peaks);
                break;
            }
            case Walk::Rewrite:
                morla::RewriteToOutput(image, layout, algorithms, amounts, log, nullptr);
                break;
            case Walk::Fused: {
                std::u16string error;
                morla::RewriteTally tally;
                auto outcome =
                    morla::FusedRewriteToOutput(image, layout, amounts, log, nullptr, error, tally);
                benchmark::DoNotOptimize(outcome);
                break;
            }
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * image.size()));
}

void RegisterWalks() {
    const std::pair<const char*, Source> sources[] = {
        {"song", Song}, {"lotus", RealSong}, {"dense", Dense}};
    const std::pair<const char*, Walk> walks[] = {
        {"Analysis", Walk::Analysis}, {"Rewrite", Walk::Rewrite}, {"Fused", Walk::Fused}};
    for (const auto& [sourceName, source] : sources) {
        benchmark::RegisterBenchmark((std::string("ReferenceWalk/") + sourceName).c_str(),
                                     ReferenceWalk, source)
            ->Unit(benchmark::kMillisecond)
            ->MinTime(1.0);
        for (const morla::Decoder& decoder : morla::Decoders()) {
            for (const auto& [walkName, walk] : walks) {
                const std::string name =
                    std::string(walkName) + "/" + sourceName + "/" + decoder.name;
                benchmark::RegisterBenchmark(name.c_str(), JobWalk, source, walk, &decoder)
                    ->Unit(benchmark::kMillisecond)
                    ->MinTime(1.0);
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    RegisterWalks();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
