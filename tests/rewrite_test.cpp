#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <iterator>

#include "test_support.h"

namespace morla::test {
namespace {

// The lines of the rewrite walk: the rows between the PEAK line and the
// summary line of a job run with the detail log.
std::vector<std::string> WalkRows(const JobRun& run) {
    if (run.rows.size() < 2 || run.rows.front().rfind("PEAK:", 0) != 0 ||
        run.rows.back().rfind("output file:", 0) != 0) {
        ADD_FAILURE() << "not the rows of a job with the detail log";
        return run.rows;
    }
    return {run.rows.begin() + 1, run.rows.end() - 1};
}

// One level write per case, at 0x1a5: FM channel 1 slot 0 under algorithm 7,
// SSG channel 1 or the rhythm total level, with the amount of its class.
struct LevelClass {
    int reg;
    Options& (Options::*tick)(std::int32_t);
    const char* overLine;    // offset, old value, loud end
    const char* detailLine;  // offset, old value, new value
    int loudEnd;
};
const LevelClass kFm{0x40, &Options::Fm, "%08zx: PEAK OVER!       TL=%3d -> %3d",
                     "%08zx FM#1 SL=0 AL=7 TL=%3d -> %3d", 0};
const LevelClass kSsg{0x08, &Options::Ssg, "%08zx: PEAK OVER!       SSG=%2d -> %2d",
                      "%08zx SSG#1 VOL=%2d -> %2d", 15};
const LevelClass kRhythm{0x11, &Options::Rhythm, "%08zx: PEAK OVER!       RHYTHM TL=%2d -> %2d",
                         "%08zx RHYTHM TL=%2d -> %2d", 63};

TEST(Rewrite, ClampsIntoEachRangeAndReportsTheLoudSide) {
    struct Case {
        const LevelClass& level;
        std::int32_t amount;
        int old, now;
        bool over;            // clamped on the loud side
        bool touched = true;  // reaches the rewrite at all
    };
    const Case cases[] = {{kFm, 10, 120, 127, false},
                          {kFm, 7, 120, 127, false},
                          {kFm, -10, 4, 0, true},
                          {kFm, -4, 4, 0, false},
                          {kFm, 0, 200, 127, false},
                          {kFm, 0, 0, 0, false},
                          {kFm, INT32_MAX, 1, 127, false},
                          {kFm, INT32_MIN, 127, 0, true},
                          {kSsg, 3, 2, 0, false},
                          {kSsg, 5, 5, 0, false},
                          {kSsg, -3, 14, 15, true},
                          {kSsg, -1, 14, 15, false},
                          {kSsg, 0, 0x20, 15, true},
                          {kSsg, -5, 0, 0, false, false},
                          {kSsg, -5, 0x1F, 0x1F, false, false},
                          {kSsg, INT32_MIN, 15, 15, true},
                          {kSsg, INT32_MAX, 15, 0, false},
                          {kRhythm, -5, 60, 63, true},
                          {kRhythm, -3, 60, 63, false},
                          {kRhythm, 70, 20, 0, false},
                          {kRhythm, -5, 0, 5, false},
                          {kRhythm, 0, 80, 63, true},
                          {kRhythm, INT32_MIN, 63, 63, true}};
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(Printf("reg %02x amount %d old %d", c.level.reg, c.amount, c.old));
        S98Builder b = Stream({}, {{0xB0, 7}});
        b.Waits(0x1A5 - b.bytes().size());
        const std::size_t at = b.Write(0, 0, c.level.reg, c.old);
        std::vector<std::string> lines;
        if (c.over) {
            lines.push_back(Printf(c.level.overLine, at, c.old, c.level.loudEnd));
        }
        if (c.touched && c.amount != 0) {
            lines.push_back(Printf(c.level.detailLine, at, c.old, c.now) +
                            (c.over ? " [PEAK OVER]" : ""));
        }
        Options options;
        (options.*c.level.tick)(c.amount);

        const JobRun quiet = RunJob(dir, b.bytes(), options);
        ASSERT_EQ(quiet.error, "");
        ASSERT_TRUE(quiet.output && !quiet.rows.empty());
        EXPECT_EQ((*quiet.output)[at + 2], c.now);
        EXPECT_EQ(std::vector<std::string>(quiet.rows.begin(), quiet.rows.end() - 1),
                  std::vector<std::string>(lines.begin(), lines.begin() + c.over));
        EXPECT_EQ(WalkRows(RunJob(dir, b.bytes(), options.Detail())), lines);
    }
}

// `image` with the data bytes of the register writes at the given offsets replaced.
Bytes Rewritten(Bytes image, std::initializer_list<std::pair<std::size_t, int>> changes) {
    for (const auto& [at, data] : changes) {
        image[at + 2] = static_cast<std::uint8_t>(data);
    }
    return image;
}

// The rewrite starts from the algorithms the analysis left (the first write is
// judged by algorithm 5), then follows the algorithm writes it meets.
TEST(Rewrite, OnlyCarriersOfTheAlgorithmInForceChange) {
    const S98Builder b = Stream({}, {{0x44, 10},
                                     {0xB0, 4},
                                     {0x40, 10},
                                     {0x44, 10},
                                     {0x48, 10},
                                     {0x4C, 10},
                                     {0xB0, 7},
                                     {0x40, 10},
                                     {0xB0, 5}});
    const std::vector<std::size_t>& w = b.writes();
    TempDir dir;
    const JobRun run = RunJob(dir, b.bytes(), Options().Fm(5).Detail());
    ASSERT_EQ(run.error, "");
    EXPECT_EQ(run.rows.front(), "PEAK: FM=10(2nd=10)");
    EXPECT_EQ(WalkRows(run),
              (std::vector<std::string>{Printf("%08zx FM#1 SL=1 AL=5 TL= 10 ->  15", w[0]),
                                        Printf("%08zx FM#1 SL=2 AL=4 TL= 10 ->  15", w[4]),
                                        Printf("%08zx FM#1 SL=3 AL=4 TL= 10 ->  15", w[5]),
                                        Printf("%08zx FM#1 SL=0 AL=7 TL= 10 ->  15", w[7])}));
    EXPECT_EQ(run.output, Rewritten(b.bytes(), {{w[0], 15}, {w[4], 15}, {w[5], 15}, {w[7], 15}}));
}

// Port 1 holds FM channels 4-6 only; 0x43 and 0x0B carry no level.
TEST(Rewrite, PortsChannelsAndRegisterClasses) {
    const S98Builder b = Stream({}, {{0xB2, 7, 1},
                                     {0xB0, 7},
                                     {0x4E, 20, 1},
                                     {0x09, 10},
                                     {0x11, 10},
                                     {0x08, 10, 1},
                                     {0x11, 10, 1},
                                     {0x43, 10},
                                     {0x0B, 10}});
    const std::vector<std::size_t>& w = b.writes();
    TempDir dir;
    const JobRun run = RunJob(dir, b.bytes(), Options().Fm(-2).Ssg(3).Rhythm(4).Detail());
    ASSERT_EQ(run.error, "");
    EXPECT_EQ(WalkRows(run),
              (std::vector<std::string>{Printf("%08zx FM#6 SL=3 AL=7 TL= 20 ->  18", w[2]),
                                        Printf("%08zx SSG#2 VOL=10 ->  7", w[3]),
                                        Printf("%08zx RHYTHM TL=10 ->  6", w[4])}));
    EXPECT_EQ(run.output, Rewritten(b.bytes(), {{w[2], 18}, {w[3], 7}, {w[4], 6}}));

    // amounts of 0 list nothing of their class
    EXPECT_EQ(WalkRows(RunJob(dir, b.bytes(), Options().Ssg(3).Detail())),
              std::vector<std::string>{Printf("%08zx SSG#2 VOL=10 ->  7", w[3])});
}

// Only OPN, OPN2 and OPNA devices are rewritten; the PSGs are measured only.
// Devices 94-100 (of 101) have the types below.
TEST(Rewrite, OnlyDeviceTypesTwoToFourAreRewritten) {
    const std::int32_t types[] = {4, 15, 1, 2, 3, 5, 0};
    std::vector<std::int32_t> devices(101, 4);
    std::copy(std::begin(types), std::end(types), devices.begin() + 94);
    S98Builder b(devices);
    for (int device = 94; device <= 100; ++device) {
        for (const int reg : {0xB0, 0x40, 0x08, 0x11}) {
            b.Write(device, 0, reg, reg == 0xB0 ? 7 : 10);
        }
    }
    TempDir dir;
    const JobRun run = RunJob(dir, b.bytes(), Options().Fm(1).Ssg(1).Rhythm(1));
    ASSERT_TRUE(run.output);
    const int rewritten[4] = {7, 11, 9, 9};  // algorithm, TL + 1, SSG - 1, rhythm - 1
    for (std::size_t i = 0; i < b.writes().size(); ++i) {
        const std::size_t at = b.writes()[i];
        const std::int32_t type = types[i / 4];
        EXPECT_EQ((*run.output)[at + 2],
                  type >= 2 && type <= 4 ? rewritten[i % 4] : b.bytes()[at + 2])
            << "type " << type << " register " << int(b.bytes()[at + 1]);
    }
}

}  // namespace
}  // namespace morla::test
