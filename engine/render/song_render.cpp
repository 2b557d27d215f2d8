#include "render/song_render.h"

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

#include "base/text.h"
#include "decode/level_write_walk.h"
#include "format/chip_model.h"
#include "render/chips.h"

namespace morla {
namespace {

constexpr std::size_t kBlockFrames = 4096;
// Bytes of stream walked between two looks at the length cap.
constexpr std::size_t kWalkStretch = 4096;
// The longest song a render takes, in frames: keeps the tick arithmetic
// within 64 bits (frames * tick denominator < 2^63).
constexpr std::uint64_t kMostFrames = std::uint64_t{1} << 31;
// How long the mix must have held one frame before a stretch is skipped:
// longer than the meter's longest window (3 s), so that every window that
// reaches back into sound has been measured on real frames.
constexpr std::uint32_t kConstantSecondsBeforeSkip = 4;

class SongDriver {
  public:
    SongDriver(const S98Image& image, const S98Layout& layout, const RenderSettings& settings,
               FrameSink& sink, std::uint64_t skipQuantum)
        : sink_(sink),
          rate_(std::clamp<std::uint32_t>(settings.sampleRate, 8000, 192000)),
          tick_(ReadSyncTick(image)),
          skipQuantum_(settings.skipSilence ? skipQuantum : 0),
          holdQuiet_(settings.skipSilence),
          block_(2 * kBlockFrames) {
        const double most = std::max(0.0, std::min(settings.maxSeconds, 1e9)) * rate_;
        capFrames_ = std::min<std::uint64_t>(static_cast<std::uint64_t>(most), kMostFrames);
        framesPerTick_ = static_cast<double>(tick_.numerator) / tick_.denominator * rate_;
        const RhythmRom& rom =
            settings.rhythmRom != nullptr ? *settings.rhythmRom : RhythmStandInRom();
        userRom_ = settings.rhythmRom != nullptr;
        for (int index = 0; index < kDeviceIndexCount; ++index) {
            if (!layout.devices.declared[index]) {
                continue;
            }
            const std::int32_t type = layout.devices.type[index];
            devices_[index] = MakeRenderDevice(type, ReadDeviceClock(image, index), rate_, rom);
            if (!devices_[index]) {
                const char* name = DeviceTypeName(type);
                summary_.notices.push_back(
                    {RenderNotice::Kind::DeviceSilent, index, type,
                     name != nullptr
                         ? FormatText("device %d (%s) is not rendered: heard as silence", index + 1,
                                      name)
                         : FormatText("device %d (type %d) is not rendered: heard as silence",
                                      index + 1, static_cast<int>(type))});
            } else {
                live_.push_back(devices_[index].get());
            }
        }
    }

    // A register write: the sound up to now first, then the write.
    void operator()(std::size_t, std::uint8_t command, std::uint8_t reg, std::uint8_t data) {
        if (summary_.capped) {
            return;
        }
        RenderTo(target_);
        if (RenderDevice* device = devices_[command >> 1].get()) {
            device->Write(command & 1, reg, data);
            quiet_ = false;
        }
    }

    // A wait moves the time the next write comes at; the sound is made then.
    void operator()(WaitTicks wait) {
        if (summary_.capped) {
            return;
        }
        const double frames = static_cast<double>(wait.ticks) * framesPerTick_;
        if (static_cast<double>(target_) + frames >= static_cast<double>(capFrames_) - 1.0) {
            // exact below: frames < 2^31, so ticks * numerator * rate stays
            // below 2^31 * denominator
            target_ = capFrames_;
            summary_.capped = true;
            return;
        }
        tickRemainder_ += wait.ticks * (std::uint64_t{tick_.numerator} * rate_);
        target_ += tickRemainder_ / tick_.denominator;
        tickRemainder_ %= tick_.denominator;
    }

    bool capped() const { return summary_.capped; }

    RenderSummary Finish(double maxSeconds) {
        RenderTo(target_);
        summary_.frames = now_;
        if (summary_.capped) {
            summary_.notices.push_back(
                {RenderNotice::Kind::Capped, -1, 0,
                 FormatText("the song runs longer than %.0f seconds: measured up to there",
                            maxSeconds)});
        }
        for (const RenderDevice* device : live_) {
            if (device->RhythmKeyed()) {
                summary_.rhythm = userRom_ ? RhythmHeard::UserRom : RhythmHeard::StandIn;
            }
        }
        return std::move(summary_);
    }

    void Fault(const std::u16string& message) {
        summary_.notices.push_back({RenderNotice::Kind::StreamFault, -1, 0, message});
    }

  private:
    bool AllQuiet() {
        if (!quiet_) {
            quiet_ = std::all_of(live_.begin(), live_.end(),
                                 [](RenderDevice* device) { return device->Quiet(); });
        }
        return quiet_;
    }

    void RenderTo(std::uint64_t until) {
        const std::uint64_t settled = std::uint64_t{kConstantSecondsBeforeSkip} * rate_;
        while (now_ < until) {
            if (skipQuantum_ != 0 && constantRun_ >= settled && until - now_ >= skipQuantum_ &&
                AllQuiet()) {
                const std::uint64_t skip = (until - now_) / skipQuantum_ * skipQuantum_;
                sink_.Skip(skip);
                now_ += skip;
                summary_.skippedFrames += skip;
                constantRun_ += skip;
                continue;
            }
            const std::size_t frames =
                static_cast<std::size_t>(std::min<std::uint64_t>(kBlockFrames, until - now_));
            float* mix = block_.data();
            std::fill(mix, mix + 2 * frames, 0.0f);
            for (RenderDevice* device : live_) {
                device->Render(mix, frames, holdQuiet_);
            }
            CountConstantRun(mix, frames);
            sink_.Frames(mix, frames);
            now_ += frames;
        }
    }

    // How many frames at the end of the mix equal its last frame.
    void CountConstantRun(const float* mix, std::size_t frames) {
        const float left = mix[2 * frames - 2];
        const float right = mix[2 * frames - 1];
        std::size_t run = 0;
        while (run < frames && mix[2 * (frames - 1 - run)] == left &&
               mix[2 * (frames - 1 - run) + 1] == right) {
            ++run;
        }
        const bool continues = run == frames && left == lastLeft_ && right == lastRight_;
        constantRun_ = continues ? constantRun_ + run : run;
        lastLeft_ = left;
        lastRight_ = right;
    }

    FrameSink& sink_;
    std::uint32_t rate_;
    SyncTick tick_;
    std::uint64_t skipQuantum_;
    bool holdQuiet_;
    std::uint64_t capFrames_ = 0;
    double framesPerTick_ = 0.0;
    bool userRom_ = false;
    std::array<std::unique_ptr<RenderDevice>, kDeviceIndexCount> devices_;
    std::vector<RenderDevice*> live_;
    std::vector<float> block_;
    std::uint64_t now_ = 0;     // frames handed to the sink (or skipped)
    std::uint64_t target_ = 0;  // the frame the next command comes at
    std::uint64_t tickRemainder_ = 0;
    std::uint64_t constantRun_ = 0;
    float lastLeft_ = 0.0f;
    float lastRight_ = 0.0f;
    bool quiet_ = false;
    RenderSummary summary_;
};

}  // namespace

bool IsRenderedDevice(std::int32_t type) {
    switch (type) {
        case kDeviceYM2149:
        case kDeviceYM2203:
        case kDeviceYM2612:
        case kDeviceYM2608:
        case kDeviceYM2151:
        case kDeviceYM2413:
        case kDeviceYM3526:
        case kDeviceYM3812:
        case kDeviceYMF262:
        case kDeviceAY8910:
            return true;
        default:
            return false;
    }
}

RenderSummary RenderSong(const S98Image& image, const S98Layout& layout,
                         const RenderSettings& settings, FrameSink& sink,
                         std::uint64_t skipQuantum) {
    SongDriver driver(image, layout, settings, sink, skipQuantum);
    WalkCursor cursor = StartOfStream(layout);
    while (!cursor.ended && !driver.capped()) {
        FastCommandWalk<WalkMode::Checking>(image.data(), layout, cursor, cursor.pos + kWalkStretch,
                                            driver);
    }
    if (!cursor.error.empty()) {
        driver.Fault(cursor.error);
    }
    return driver.Finish(settings.maxSeconds);
}

}  // namespace morla
