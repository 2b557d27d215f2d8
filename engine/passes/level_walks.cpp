#include "passes/level_walks.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "decode/level_write_walk.h"

namespace morla {
namespace {

// The output is made and written this much at a time.
constexpr std::size_t kChunkSize = 256 * 1024;
// What the fused pass holds back at most before it gives up: rows (about 100
// bytes each) and carrier TL writes waiting for their channel's algorithm.
constexpr std::size_t kMostHeldRows = 32 * 1024;
constexpr std::size_t kMostPendingWrites = 64 * 1024;

// Rows held back by the fused pass with the offset of the write that made
// them, to be logged in stream order once the walk has completed.
class HeldRows : public LogSink {
  public:
    void Append(std::u16string_view line) override { rows_.emplace_back(at, std::u16string(line)); }
    bool full() const { return rows_.size() > kMostHeldRows; }
    void LogInStreamOrder(LogSink& log) {
        std::stable_sort(rows_.begin(), rows_.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        for (const auto& row : rows_) {
            log.Append(row.second);
        }
    }

    std::size_t at = 0;  // the offset of the write being rewritten

  private:
    std::vector<std::pair<std::size_t, std::u16string>> rows_;
};

// The rewrite step on the fast decoder: the reference step (RewriteCommand),
// writing its new bytes into the chunk of the output being made.
// `Fused`: the walk is the checking one, starting with no algorithm known;
// carrier TL writes of a channel whose algorithm is not known yet are kept
// for the end.
template <bool Fused>
class FastRewrite {
  public:
    FastRewrite(const S98Image& image, const S98Layout& layout, AlgorithmTable& algorithms,
                const RewriteAmounts& amounts, LogSink& log)
        : image_(image),
          layout_(layout),
          algorithms_(algorithms),
          // writes into chunks (Into) or, for the writes kept for the end,
          // into a byte of its own (Decide); never into the image
          step_(const_cast<S98Image&>(image), algorithms, amounts, log) {}

    // Where the next stretch's new bytes go: the chunk holding the file from
    // `start` on.
    void Into(std::uint8_t* chunk, std::size_t start) { step_.Into(chunk, start); }

    void operator()(std::size_t offset, std::uint8_t command, std::uint8_t reg, std::uint8_t data) {
        const auto device = static_cast<std::uint8_t>(command >> 1);
        const auto port = static_cast<std::uint8_t>(command & 1);
        const std::int32_t type = layout_.devices.type[device];
        if constexpr (Fused) {
            if (kRegisterClasses[reg] == RegisterClass::TotalLevel &&
                algorithms_.Get(TotalLevelChannel(port, reg), device) == kNoAlgorithm)
                [[unlikely]] {
                pending_.push_back(static_cast<std::uint32_t>(offset));
                return;  // the chunk keeps the byte as read for now
            }
        }
        // the walk hands on writes to rewritten devices only (RewritesDevice)
        step_.RewriteDeviceWrite(S98Command{offset, device, port, reg, data, type});
    }

    // The reference step on the write at `offset`, by the algorithms as they
    // stand: logs its rows and returns its new data byte.
    std::uint8_t Decide(std::size_t offset) {
        const std::uint8_t* bytes = image_.data();
        const auto device = static_cast<std::uint8_t>(bytes[offset] >> 1);
        std::uint8_t value = bytes[offset + 2];
        step_.Into(&value, offset + 2);
        step_(S98Command{offset, device, static_cast<std::uint8_t>(bytes[offset] & 1),
                         bytes[offset + 1], bytes[offset + 2], layout_.devices.type[device]});
        return value;
    }

    const std::vector<std::uint32_t>& pending() const { return pending_; }
    const RewriteTally& tally() const { return step_.tally(); }
    bool full() const { return pending_.size() > kMostPendingWrites; }

  private:
    const S98Image& image_;
    const S98Layout& layout_;
    AlgorithmTable& algorithms_;
    RewriteCommand step_;
    std::vector<std::uint32_t> pending_;
};

// Walks the stream stretch by stretch, each stretch rewritten into a copy of
// its part of the file that is then written out. False when the walk stopped
// at a fault or `gaveUp` said so.
template <WalkMode Mode, class Rewrite, class GaveUp>
bool WalkIntoOutput(const S98Image& image, const S98Layout& layout, const RewriteAmounts& amounts,
                    Rewrite& rewrite, OutputFile* output, WalkCursor& cursor, GaveUp gaveUp,
                    S98Image* rewritten = nullptr) {
    const WriteFilter filter =
        FilterFor(layout, [&](std::int32_t type) { return RewritesDevice(amounts, type); });
    std::vector<std::uint8_t> chunk(std::min(kChunkSize, image.size()));
    for (std::size_t start = 0; start < image.size();) {
        const std::size_t end = std::min(start + kChunkSize, image.size());
        std::memcpy(chunk.data(), image.data() + start, end - start);
        if (!cursor.ended) {
            // A write's data byte lies two bytes after its start: the writes
            // starting in the last two bytes belong to the next chunk.
            rewrite.Into(chunk.data(), start);
            LevelWriteWalk<Mode>(image.data(), layout, filter, cursor,
                                 end == image.size() ? end : end - 2, rewrite);
            if (!cursor.error.empty() || gaveUp()) {
                return false;
            }
        }
        if (output != nullptr) {
            output->Append(chunk.data(), end - start);
        }
        if (rewritten != nullptr) {
            std::memcpy(rewritten->data() + start, chunk.data(), end - start);
        }
        start = end;
    }
    return true;
}

}  // namespace

std::u16string FastAnalysisWalk(const S98Image& image, const S98Layout& layout,
                                AlgorithmTable& algorithms, PeakLevels& peaks) {
    // Measured into a local: its address never escapes the loop, so the
    // compiler can keep the peaks in registers.
    PeakLevels measured = peaks;
    auto analyse = [&](std::size_t offset, std::uint8_t command, std::uint8_t reg,
                       std::uint8_t data) {
        const auto device = static_cast<std::uint8_t>(command >> 1);
        // the walk hands on writes to analysed devices only
        AnalyseDeviceWrite(S98Command{offset, device, static_cast<std::uint8_t>(command & 1), reg,
                                      data, layout.devices.type[device]},
                           algorithms, measured);
    };
    WalkCursor cursor = StartOfStream(layout);
    LevelWriteWalk<WalkMode::Checking>(image.data(), layout, FilterFor(layout, IsAnalysedDevice),
                                       cursor, layout.endBound, analyse);
    peaks = measured;
    return cursor.error;
}

RewriteTally RewriteToOutput(const S98Image& image, const S98Layout& layout,
                             AlgorithmTable& algorithms, const RewriteAmounts& amounts,
                             LogSink& log, OutputFile* output, S98Image* rewritten) {
    FastRewrite<false> rewrite(image, layout, algorithms, amounts, log);
    WalkCursor cursor = StartOfStream(layout);
    WalkIntoOutput<WalkMode::Trusting>(
        image, layout, amounts, rewrite, output, cursor, [] { return false; }, rewritten);
    return rewrite.tally();
}

FusedOutcome FusedRewriteToOutput(const S98Image& image, const S98Layout& layout,
                                  const RewriteAmounts& amounts, LogSink& log, OutputFile* output,
                                  std::u16string& error, RewriteTally& tally) {
    AlgorithmTable algorithms;
    HeldRows held;
    FastRewrite<true> rewrite(image, layout, algorithms, amounts, held);
    WalkCursor cursor = StartOfStream(layout);
    // Tells the held rows which write they belong to.
    struct NotingRewrite {
        FastRewrite<true>& rewrite;
        HeldRows& held;
        void Into(std::uint8_t* chunk, std::size_t start) { rewrite.Into(chunk, start); }
        void operator()(std::size_t offset, std::uint8_t command, std::uint8_t reg,
                        std::uint8_t data) {
            held.at = offset;
            rewrite(offset, command, reg, data);
        }
    } noting{rewrite, held};
    const bool completed =
        WalkIntoOutput<WalkMode::Checking>(image, layout, amounts, noting, output, cursor,
                                           [&] { return held.full() || rewrite.full(); });
    if (!cursor.error.empty()) {
        error = cursor.error;
        return FusedOutcome::Fault;
    }
    if (!completed) {
        return FusedOutcome::GaveUp;
    }
    // The writes made before their channel's algorithm, by the final one.
    for (const std::uint32_t offset : rewrite.pending()) {
        held.at = offset;
        const std::uint8_t value = rewrite.Decide(offset);
        if (value != image.data()[offset + 2] && output != nullptr) {
            output->WriteAt(offset + 2, &value, 1);
        }
    }
    if (held.full()) {
        return FusedOutcome::GaveUp;
    }
    held.LogInStreamOrder(log);
    tally = rewrite.tally();
    return FusedOutcome::Done;
}

}  // namespace morla
