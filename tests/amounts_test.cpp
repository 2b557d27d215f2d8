#include <gtest/gtest.h>

#include "test_support.h"

namespace morla::test {
namespace {

constexpr const char* kFmRange = "FM normalize volume must be 0-127.";
constexpr const char* kSsgRange = "SSG normalize volume must be 0-15.";
constexpr const char* kRhythmRange = "RHYTHM normalize volume must be 0-63.";

// Targets are checked before the file is opened, so a missing file shows
// which settings pass: those get "input file open error.".
TEST(Amounts, NormalizeTargetsAreCheckedBeforeTheFileIsOpened) {
    const std::pair<Options, const char*> cases[] = {
        {Options().FmTarget(128), kFmRange},
        {Options().FmTarget(-1), kFmRange},
        {Options().SsgTarget(16), kSsgRange},
        {Options().SsgTarget(-1), kSsgRange},
        {Options().RhythmTarget(64), kRhythmRange},
        {Options().RhythmTarget(INT32_MIN), kRhythmRange},
        {Options().FmTarget(128).SsgTarget(16).RhythmTarget(64), kFmRange},
        {Options().SsgTarget(16).RhythmTarget(64), kSsgRange},
        {Options().FmTarget(200).PeakOnly(), kFmRange},
        {Options().FmTarget(0).SsgTarget(0).RhythmTarget(0), "input file open error."},
        {Options().FmTarget(127).SsgTarget(15).RhythmTarget(63), "input file open error."},
        {Options(), "input file open error."},  // no target ticked: nothing to check
        {Options().Fm(INT32_MIN).Ssg(INT32_MAX).Rhythm(-1), "input file open error."},
    };
    TempDir dir;
    for (const auto& [options, error] : cases) {
        SCOPED_TRACE(error);
        const JobRun run = RunJob(dir / "missing.s98", options, dir / "missing_new.s98");
        EXPECT_EQ(run.error, error);
        EXPECT_TRUE(run.rows.empty());
    }
}

// Peaks of the file: FM 20, SSG 9, rhythm 30.
TEST(Amounts, FinalAmountsAndTheSummaryLine) {
    const S98Builder b =
        Stream({}, {{0xB0, 7}, {0x40, 20}, {0x44, 40}, {0x08, 9}, {0x11, 30}, {0x0A, 0x1F}});
    const std::size_t tl = b.writes()[1], ssg = b.writes()[3], rhythm = b.writes()[4];
    struct Case {
        Options options;
        const char* amounts;  // the end of the summary line
        int tl, ssg, rhythm;  // the rewritten bytes
    };
    const Case cases[] = {{Options().Detail(), "", 20, 9, 30},
                          {Options().Fm(0), "", 20, 9, 30},
                          {Options(), "", 20, 9, 30},  // nothing ticked
                          {Options().Fm(10), " FM=10", 30, 9, 30},
                          {Options().Fm(-5), " FM=-5", 15, 9, 30},
                          {Options().Fm(10).FmTarget(100), " FM=7", 27, 9, 30},
                          {Options().FmTarget(107), " FM=0", 20, 9, 30},
                          {Options().FmTarget(127).SecondPeak(), " FM=-20", 0, 9, 30},
                          {Options().Ssg(2), " SSG=2", 20, 7, 30},
                          {Options().Ssg(5).SsgTarget(15), " SSG=-6", 20, 15, 30},
                          {Options().Rhythm(-3), " RHYTHM=-3", 20, 9, 33},
                          {Options().RhythmTarget(10), " RHYTHM=20", 20, 9, 10},
                          {Options().RhythmTarget(30), " RHYTHM=0", 20, 9, 30},
                          {Options().Fm(1).Ssg(2).Rhythm(3), " FM=1 SSG=2 RHYTHM=3", 21, 7, 27}};
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.amounts);
        const JobRun run = RunJob(dir, b.bytes(), c.options);
        ASSERT_EQ(run.error, "");
        ASSERT_TRUE(run.output && !run.rows.empty());
        EXPECT_EQ(run.rows.back(), std::string("output file:in_new.s98  volume down:") + c.amounts);
        EXPECT_EQ((*run.output)[tl + 2], c.tl);
        EXPECT_EQ((*run.output)[ssg + 2], c.ssg);
        EXPECT_EQ((*run.output)[rhythm + 2], c.rhythm);
    }

    // Peak-only: the PEAK line without -v, and nothing else.
    const JobRun peaks = RunJob(dir, b.bytes(), Options().PeakOnly().Fm(5).SsgTarget(3));
    EXPECT_EQ(peaks.error, "");
    EXPECT_EQ(peaks.rows, std::vector<std::string>{"PEAK: FM=20(2nd=20) SSG=9 RHYTHM=30"});
    EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"in.s98"});
}

TEST(Amounts, SecondPeakLeavesOutTotalLevelZero) {
    const S98Builder b = Stream({}, {{0xB0, 7}, {0x40, 0}, {0x44, 12}});
    TempDir dir;
    const JobRun second = RunJob(dir, b.bytes(), Options().FmTarget(127).SecondPeak());
    EXPECT_EQ(second.rows, (std::vector<std::string>{
                               Printf("%08zx: PEAK OVER!       TL=  0 ->   0", b.writes()[1]),
                               "output file:in_new.s98  volume down: FM=-12"}));
    ASSERT_TRUE(second.output);
    EXPECT_EQ((*second.output)[b.writes()[2] + 2], 0);

    const JobRun first = RunJob(dir, b.bytes(), Options().FmTarget(127));
    EXPECT_EQ(first.rows, std::vector<std::string>{"output file:in_new.s98  volume down: FM=0"});
    EXPECT_EQ(first.output, b.bytes());
}

// With nothing measured the start peaks enter the formulas; an SSG volume in
// envelope mode is neither measured nor rewritten.
TEST(Amounts, TargetsWithoutMeasuredLevels) {
    const Bytes image = Stream({}, {{0x08, 0x10}}).bytes();
    TempDir dir;
    const JobRun run =
        RunJob(dir, image, Options().FmTarget(0).SsgTarget(15).RhythmTarget(63).Detail());
    EXPECT_EQ(run.rows,
              (std::vector<std::string>{
                  "PEAK:", "output file:in_new.s98  volume down: FM=-1 SSG=-16 RHYTHM=-64"}));
    EXPECT_EQ(run.output, image);
}

// A PSG device can hold the SSG peak; the amount applies to the OPNA only.
TEST(Amounts, SsgPeakOfAPsgDeviceMovesTheOtherDevices) {
    const S98Builder b = Stream({4, 15}, {{0x08, 10}, {0x08, 15, 0, 1}});
    TempDir dir;
    const JobRun run = RunJob(dir, b.bytes(), Options().SsgTarget(12).Detail());
    EXPECT_EQ(run.rows, (std::vector<std::string>{"PEAK: SSG=15",
                                                  Printf("%08zx SSG#1 VOL=10 ->  7", b.writes()[0]),
                                                  "output file:in_new.s98  volume down: SSG=3"}));
    ASSERT_TRUE(run.output);
    EXPECT_EQ((*run.output)[b.writes()[0] + 2], 7);
    EXPECT_EQ((*run.output)[b.writes()[1] + 2], 15);
}

}  // namespace
}  // namespace morla::test
