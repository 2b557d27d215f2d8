// The fast decoder and the passes built on it against the reference walk and
// passes: the same commands, faults, rows and bytes, whether a job takes the
// fused pass or two, and across the stretches the output is written in.
#include <gtest/gtest.h>

#include <random>
#include <tuple>

#include "decode/decoder.h"
#include "decode/level_write_walk.h"
#include "job/report_rows.h"
#include "reference/command_walk.h"
#include "reference/reference.h"
#include "test_support.h"

namespace morla::test {
namespace {

using Visit = std::tuple<std::size_t, int, int, int>;  // offset, command, reg, data

struct Walked {
    std::vector<Visit> visits;
    std::u16string error;
};

template <WalkMode Mode>
Walked ReferenceWalk(const S98Image& image, const S98Layout& layout) {
    Walked walked;
    walked.error = CommandWalk<Mode>(image, layout, [&](const S98Command& c) {
        walked.visits.emplace_back(c.offset, c.deviceIndex * 2 + c.port, c.reg, c.data);
    });
    return walked;
}

// The fast walk in stretches ending at the given limits, then to the end.
template <WalkMode Mode>
Walked FastWalk(const S98Image& image, const S98Layout& layout,
                const std::vector<std::size_t>& limits) {
    Walked walked;
    auto visit = [&](std::size_t offset, std::uint8_t command, std::uint8_t reg,
                     std::uint8_t data) { walked.visits.emplace_back(offset, command, reg, data); };
    WalkCursor cursor = StartOfStream(layout);
    for (const std::size_t limit : limits) {
        FastCommandWalk<Mode>(image.data(), layout, cursor, limit, visit);
    }
    FastCommandWalk<Mode>(image.data(), layout, cursor, image.size(), visit);
    EXPECT_TRUE(cursor.ended);
    walked.error = cursor.error;
    return walked;
}

// Ends a stream with one of its faults, or none: a write to an undeclared
// device (a write after it), a write or a long wait cut by the end of the file.
void AppendFault(S98Builder& b, std::mt19937& rng, int devices) {
    switch (rng() % 4) {
        case 0:
            b.Raw({static_cast<std::uint8_t>(2 * devices + rng() % 2), 0x40, 0x00});
            b.Raw({0x00, 0x40, 0x00});
            break;
        case 1:
            b.Raw({0x00, 0x40});
            break;
        case 2:
            b.Raw({0xFE, 0x81});
            break;
        default:
            break;
    }
}

// A random stream of about `commands` commands for random devices: mostly
// level, algorithm and other writes, waits of both kinds; sometimes a fault
// (an undeclared device, a command cut by the end, a wait running off it), an
// end command with bytes behind it, or a tag.
Bytes RandomImage(std::mt19937& rng, std::size_t commands, bool mayFault) {
    const std::int32_t types[] = {1, 2, 3, 4, 15, 5};
    std::vector<std::int32_t> devices(rng() % 3);
    for (auto& type : devices) {
        type = types[rng() % std::size(types)];
    }
    const int count = devices.empty() ? 1 : static_cast<int>(devices.size());
    S98Builder b(devices);
    const int regs[] = {0x08, 0x09, 0x0A, 0x11, 0x43, 0xB0, 0xB1, 0xB2, 0xB3, 0x28};
    for (std::size_t n = 0; n < commands; ++n) {
        const unsigned pick = rng() % 20;
        if (pick < 3) {
            b.Raw(pick == 0   ? Bytes{0xFF}
                  : pick == 1 ? Bytes{0xFE, static_cast<std::uint8_t>(rng() & 0x7F)}
                              : Bytes{0xFE, 0x81, 0x80, static_cast<std::uint8_t>(rng() & 0x7F)});
            continue;
        }
        const unsigned reg = pick < 10   ? 0x40 + rng() % 16
                             : pick < 18 ? regs[rng() % std::size(regs)]
                                         : rng() & 0xFF;
        // data near both ends of every range, to clamp and to report
        const unsigned data = rng() % 3 == 0   ? rng() % 4
                              : rng() % 4 == 0 ? 0x7C + rng() % 4
                                               : rng() & 0xFF;
        b.Write(static_cast<int>(rng() % count), rng() % 2, static_cast<int>(reg),
                static_cast<int>(data));
    }
    if (mayFault) {
        AppendFault(b, rng, count);
    } else if (rng() % 3 == 0) {
        b.End();
        b.Raw({0x00, 0x40, 0x00, 0x01, 0x08, 0x00});
    } else if (rng() % 2 == 0) {
        b.Tag();
    }
    return b.bytes();
}

// Where stretches of a walk end: the first below `first`, then each at most
// `longest` after the one before, up to `size`.
std::vector<std::size_t> RandomLimits(std::mt19937& rng, std::size_t size, std::size_t first,
                                      std::size_t longest) {
    std::vector<std::size_t> limits;
    for (std::size_t limit = rng() % first; limit < size; limit += 1 + rng() % longest) {
        limits.push_back(limit);
    }
    return limits;
}

S98Layout LayoutOf(const S98Image& image) {
    S98Layout layout;
    EXPECT_EQ(ReadHeader(image, layout), u"");
    return layout;
}

TEST(FastWalk, VisitsWhatTheReferenceVisitsInAnyStretches) {
    std::mt19937 rng(20261208);
    for (int round = 0; round < 400; ++round) {
        const Bytes bytes = RandomImage(rng, rng() % 200, round % 2 == 0);
        const S98Image image = S98Image::FromBytes(bytes.data(), bytes.size());
        const S98Layout layout = LayoutOf(image);
        const std::vector<std::size_t> limits = RandomLimits(rng, bytes.size(), 7, 40);
        const Walked checking = ReferenceWalk<WalkMode::Checking>(image, layout);
        const Walked fast = FastWalk<WalkMode::Checking>(image, layout, limits);
        ASSERT_EQ(fast.error, checking.error) << "round " << round;
        ASSERT_EQ(fast.visits, checking.visits) << "round " << round;
        if (checking.error.empty()) {
            EXPECT_EQ(FastWalk<WalkMode::Trusting>(image, layout, limits).visits,
                      ReferenceWalk<WalkMode::Trusting>(image, layout).visits);
        }
    }
}

// Runs the walks on one decoder while it lives, then on the one before.
class DecoderInUse {
  public:
    explicit DecoderInUse(const Decoder& decoder) : before_(ActiveDecoder()) {
        runs_ = UseDecoder(decoder);
    }
    ~DecoderInUse() { UseDecoder(before_); }
    bool runs() const { return runs_; }

  private:
    const Decoder& before_;
    bool runs_ = false;
};

// A stream made to trip a block scanner: writes whose register and data bytes
// are often command bytes (FD, FE, FF, an undeclared device), waits whose tick
// counts run from 1 to 150 bytes (across one block and beyond the next),
// stretches of one-tick waits; and now and then an end command, a write to an
// undeclared device, or a wait or write cut by the end of the file.
Bytes ScannerImage(std::mt19937& rng, std::size_t commands) {
    const int declared = static_cast<int>(rng() % 4);
    std::vector<std::int32_t> types;
    for (int i = 0; i < declared; ++i) {
        types.push_back(std::int32_t{1} + static_cast<std::int32_t>(rng() % 4));
    }
    const int devices = declared == 0 ? 1 : declared;
    S98Builder b(types);
    const auto awkward = [&]() -> int {
        const int bytes[] = {0xFD, 0xFE, 0xFF, 2 * devices, 0x80, 0x08, 0x11, 0x40, 0xB2};
        return rng() % 2 == 0 ? bytes[rng() % std::size(bytes)] : static_cast<int>(rng() & 0xFF);
    };
    for (std::size_t n = 0; n < commands; ++n) {
        const unsigned pick = rng() % 16;
        if (pick == 0) {
            Bytes wait{0xFE};
            const std::size_t length = rng() % 4 == 0 ? 1 + rng() % 150 : 1 + rng() % 3;
            for (std::size_t i = 1; i < length; ++i) {
                wait.push_back(static_cast<std::uint8_t>(0x80 | rng()));
            }
            wait.push_back(static_cast<std::uint8_t>(rng() & 0x7F));
            b.Raw(wait);
        } else if (pick == 1) {
            b.Waits(rng() % 4 == 0 ? rng() % 100 : 1);
        } else {
            const int reg = rng() % 3 == 0 ? awkward() : static_cast<int>(0x40 + rng() % 16);
            b.Write(static_cast<int>(rng() % devices), static_cast<int>(rng() % 2), reg, awkward());
        }
    }
    if (rng() % 3 == 0) {
        b.End();
        b.Raw({0x00, 0x40, 0x00});
    } else {
        AppendFault(b, rng, devices);
    }
    return b.bytes();
}

// The reference's visits to the level registers of devices `wantsType` takes.
template <class WantsType>
std::vector<Visit> LevelVisits(const S98Layout& layout, const Walked& reference,
                               WantsType wantsType) {
    std::vector<Visit> level;
    for (const Visit& visit : reference.visits) {
        const auto [offset, command, reg, data] = visit;
        if (layout.devices.declared[command >> 1] && wantsType(layout.devices.type[command >> 1]) &&
            kRegisterClasses[reg] != RegisterClass::None) {
            level.push_back(visit);
        }
    }
    return level;
}

// The level-write walk in stretches ending at the given limits, then to the
// end.
template <WalkMode Mode, class WantsType>
Walked LevelWalk(const S98Image& image, const S98Layout& layout, WantsType wantsType,
                 const std::vector<std::size_t>& limits) {
    Walked walked;
    auto visit = [&](std::size_t offset, std::uint8_t command, std::uint8_t reg,
                     std::uint8_t data) { walked.visits.emplace_back(offset, command, reg, data); };
    const WriteFilter filter = FilterFor(layout, wantsType);
    WalkCursor cursor = StartOfStream(layout);
    for (const std::size_t limit : limits) {
        LevelWriteWalk<Mode>(image.data(), layout, filter, cursor, limit, visit);
    }
    LevelWriteWalk<Mode>(image.data(), layout, filter, cursor, image.size(), visit);
    EXPECT_TRUE(cursor.ended);
    walked.error = cursor.error;
    return walked;
}

// Every decoder this processor runs, on streams long enough for many blocks
// and made to trip them, in stretches of any length: the level writes the
// reference visits, and its fault.
TEST(BlockScan, EveryDecoderVisitsTheLevelWritesTheReferenceVisits) {
    for (const Decoder& decoder : Decoders()) {
        const DecoderInUse use(decoder);
        if (!use.runs()) {
            continue;
        }
        SCOPED_TRACE(decoder.name);
        std::mt19937 rng(20261209);
        for (int round = 0; round < 300; ++round) {
            const Bytes bytes = round % 3 == 0 ? RandomImage(rng, rng() % 3000, round % 2 == 0)
                                               : ScannerImage(rng, rng() % 3000);
            const S98Image image = S98Image::FromBytes(bytes.data(), bytes.size());
            const S98Layout layout = LayoutOf(image);
            const std::vector<std::size_t> limits = RandomLimits(rng, bytes.size(), 300, 700);
            const Walked checking = ReferenceWalk<WalkMode::Checking>(image, layout);
            for (const bool rewritten : {false, true}) {
                const auto wants = rewritten ? IsRewrittenDevice : IsAnalysedDevice;
                const Walked level = LevelWalk<WalkMode::Checking>(image, layout, wants, limits);
                ASSERT_EQ(level.error, checking.error) << "round " << round;
                ASSERT_EQ(level.visits, LevelVisits(layout, checking, wants)) << "round " << round;
                if (checking.error.empty()) {
                    ASSERT_EQ(LevelWalk<WalkMode::Trusting>(image, layout, wants, limits).visits,
                              level.visits)
                        << "round " << round;
                }
            }
        }
    }
}

// What the reference gives for a job: ConvertImage on the bytes in memory,
// then the summary line; the output is the rewritten image.
JobRun ReferenceJob(const Bytes& bytes, const VolumeSettings& settings) {
    S98Image image = S98Image::FromBytes(bytes.data(), bytes.size());
    RecordingSink log;
    const ImageOutcome outcome = ConvertImage(image, settings, log);
    JobRun run;
    run.error = ToUtf8(outcome.error);
    if (outcome.error.empty() && outcome.rewritten) {
        log.Append(FormatSummaryLine(u"in_new.s98", settings, outcome.amounts));
        S98Layout layout;
        ReadHeader(image, layout);
        AppendGainRows(log, settings, outcome.amounts, outcome.peaks, layout, outcome.tally);
        run.output = Bytes(image.data(), image.data() + image.size());
    }
    run.rows = log.Utf8Rows();
    return run;
}

void ExpectSameJob(const TempDir& dir, const Bytes& bytes, const VolumeSettings& settings,
                   const std::string& what) {
    const JobRun reference = ReferenceJob(bytes, settings);
    const JobRun job = RunJob(dir, bytes, settings);
    ASSERT_EQ(job.error, reference.error) << what;
    ASSERT_EQ(job.rows, reference.rows) << what;
    ASSERT_EQ(job.output.has_value(), reference.output.has_value()) << what;
    if (reference.output) {
        ASSERT_TRUE(*job.output == *reference.output) << what;
    }
}

// Every kind of job: the fused pass (volume down only, PEAK OVER rows held
// back) and two passes (normalize, detail rows, peaks only), on small files
// and on files of several 256 KiB stretches.
TEST(FastWalk, JobsGiveTheReferenceRowsAndBytes) {
    const std::pair<const char*, VolumeSettings> settings[] = {
        {"-f3 -s1 -r2", Options().Fm(3).Ssg(1).Rhythm(2)},
        {"-f-9 -s-20 -r-70", Options().Fm(-9).Ssg(-20).Rhythm(-70)},
        {"-f2147483647 -s-2147483648", Options().Fm(INT32_MAX).Ssg(INT32_MIN)},
        {"-v -f2 -s-3", Options().Detail().Fm(2).Ssg(-3)},
        {"-F127 -S15 -R63", Options().FmTarget(127).SsgTarget(15).RhythmTarget(63)},
        {"-2 -F120 -v", Options().SecondPeak().FmTarget(120).Detail()},
        {"-p", Options().PeakOnly()},
        {"-v", Options().Detail()},
        {"-g -6 -v", Options().Gain(-6000000).Detail()},
        {"-g +4.5", Options().Gain(4500000)},
        {"-k -F120 -S13", Options().KeepBalance().FmTarget(120).SsgTarget(13)},
    };
    TempDir dir;
    for (const Decoder& decoder : Decoders()) {
        const DecoderInUse use(decoder);
        if (!use.runs()) {
            continue;
        }
        std::mt19937 rng(77);
        for (int round = 0; round < 120; ++round) {
            const std::size_t commands = round % 20 == 0 ? 150000 + rng() % 100000 : rng() % 300;
            const Bytes bytes = RandomImage(rng, commands, round % 3 == 0);
            for (const auto& [name, options] : settings) {
                ExpectSameJob(
                    dir, bytes, options,
                    std::string(name) + ", round " + std::to_string(round) + ", " + decoder.name);
            }
        }
    }
}

// Carrier TL writes before their channel's first algorithm write are judged
// by the algorithm the stream ends with, as the rewrite after an analysis
// judges them.
TEST(FastWalk, WritesBeforeTheFirstAlgorithmAreJudgedByTheLast) {
    TempDir dir;
    for (const int algorithm : {0, 4, 7}) {
        S98Builder b;
        b.Write(0, 0, 0x4C, 10);  // slot 3: a carrier under every algorithm
        b.Write(0, 0, 0x40, 0);   // slot 0: a carrier under algorithm 7 only
        b.Write(0, 0, 0xB0, 2);
        b.Write(0, 0, 0x40, 1);
        b.Write(0, 0, 0xB0, algorithm);
        b.End();
        SCOPED_TRACE(algorithm);
        ExpectSameJob(dir, b.bytes(), Options().Fm(-3), "pending");
        const JobRun run = RunJob(dir, b.bytes(), Options().Fm(-3));
        EXPECT_EQ(run.rows.size(), algorithm == 7 ? 2u : 1u);  // PEAK OVER for TL 0 under 7
    }
}

// A fault after PEAK OVER rows: the fused pass shows nothing but its error
// and writes nothing.
TEST(FastWalk, FaultAfterHeldRowsShowsOnlyTheError) {
    TempDir dir;
    S98Builder b;
    b.Write(0, 0, 0xB0, 7);
    b.Write(0, 0, 0x40, 0);
    b.Write(0, 0, 0x08, 15);
    const std::size_t bad = b.Raw({0x02, 0x40, 0x00});
    const JobRun run = RunJob(dir, b.bytes(), Options().Fm(-5).Ssg(-5));
    EXPECT_EQ(run.error, Printf("found corrupted data.  ofs=%08zx: 02 40 00", bad));
    EXPECT_TRUE(run.rows.empty());
    EXPECT_FALSE(run.output);
    EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"in.s98"});
}

// More held back than the fused pass keeps: tens of thousands of PEAK OVER
// rows, or of TL writes on channels with no algorithm yet. The job takes the
// two passes and gives the same.
TEST(FastWalk, TooMuchToHoldBackFallsBackToTwoPasses) {
    TempDir dir;
    S98Builder rows;
    rows.Write(0, 0, 0xB0, 7);
    for (int i = 0; i < 40000; ++i) {
        rows.Write(0, 0, 0x40, 1);
    }
    rows.End();
    ExpectSameJob(dir, rows.bytes(), Options().Fm(-2), "rows");

    S98Builder pending;
    for (int i = 0; i < 70000; ++i) {
        pending.Write(0, i % 2, 0x40 + 4 * (i % 4), 20);
    }
    pending.Write(0, 0, 0xB0, 7);
    pending.Write(0, 1, 0xB0, 4);
    pending.End();
    ExpectSameJob(dir, pending.bytes(), Options().Fm(-21), "pending");
}

// The real songs on every decoder: the same visits, and the same bytes from
// a job.
TEST(BlockScan, EveryDecoderGivesTheSameJobOnTheSamples) {
    TempDir dir;
    for (const char* name : {"Lotus.s98", "Jump__opn_ay.s98"}) {
        const Bytes bytes = ReadFileBytes(std::filesystem::path(MORLA_SAMPLES_DIR) / name);
        if (bytes.empty()) {
            GTEST_SKIP() << "sample file not found: " << name;
        }
        const S98Image image = S98Image::FromBytes(bytes.data(), bytes.size());
        const S98Layout layout = LayoutOf(image);
        const Walked reference = ReferenceWalk<WalkMode::Checking>(image, layout);
        for (const Decoder& decoder : Decoders()) {
            const DecoderInUse use(decoder);
            if (!use.runs()) {
                continue;
            }
            SCOPED_TRACE(std::string(name) + " on " + decoder.name);
            const Walked level = LevelWalk<WalkMode::Checking>(image, layout, IsAnalysedDevice, {});
            EXPECT_EQ(level.visits, LevelVisits(layout, reference, IsAnalysedDevice));
            EXPECT_GT(level.visits.size(), 1000u);
            ExpectSameJob(dir, bytes, Options().Fm(2).Ssg(3).Rhythm(1), "fused");
            ExpectSameJob(dir, bytes, Options().FmTarget(0).SsgTarget(15), "two passes");
        }
    }
}

}  // namespace
}  // namespace morla::test
