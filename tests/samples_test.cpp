#include <gtest/gtest.h>

#include <set>

#include "reference/command_walk.h"
#include "test_support.h"

namespace morla::test {
namespace {

// Data bytes of level writes on devices of types 2-4: the only bytes a job may change.
std::set<std::size_t> ChangeableBytes(const Bytes& file) {
    const S98Image image = S98Image::FromBytes(file.data(), file.size());
    S98Layout layout;
    std::set<std::size_t> bytes;
    EXPECT_EQ(ReadHeader(image, layout), u"");
    EXPECT_EQ(
        CommandWalk<WalkMode::Checking>(image, layout,
                                        [&](const S98Command& c) {
                                            if (IsRewritableWrite(c.deviceType, c.port, c.reg)) {
                                                bytes.insert(c.offset + 2);
                                            }
                                        }),
        u"");
    return bytes;
}

TEST(Samples, RealFilesUnderSeveralSettings) {
    const std::filesystem::path folder = MORLA_SAMPLES_DIR;
    if (!std::filesystem::is_directory(folder)) {
        GTEST_SKIP() << "no sample folder at " << folder;
    }
    const std::pair<const char*, Options> settings[] = {
        {"-v", Options().Detail()},
        {"-f10 -s2 -r5 -v", Options().Fm(10).Ssg(2).Rhythm(5).Detail()},
        {"-f-30 -s-15 -r-70", Options().Fm(-30).Ssg(-15).Rhythm(-70)},
        {"-F100 -S10 -R40 -2", Options().FmTarget(100).SsgTarget(10).RhythmTarget(40).SecondPeak()},
        {"-F127", Options().FmTarget(127)}};
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() != ".s98") {
            continue;
        }
        ++files;
        const std::string name = entry.path().filename().string();
        const std::string stem = entry.path().stem().string();
        const std::string output = stem + "_new.s98";
        TempDir dir;
        const Bytes input = ReadFileBytes(entry.path());
        WriteFileBytes(dir / name, input);
        const std::set<std::size_t> changeable = ChangeableBytes(input);

        const JobRun peaks = RunJob(dir / name, Options().PeakOnly(), dir / output);
        EXPECT_EQ(peaks.error, "") << name;
        ASSERT_EQ(peaks.rows.size(), 1u) << name;
        EXPECT_EQ(peaks.rows[0].rfind("PEAK: FM=", 0), 0u) << peaks.rows[0];
        EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{name});

        for (const auto& [flags, options] : settings) {
            SCOPED_TRACE(name + " " + flags);
            const JobRun run = RunJob(dir / name, options, dir / output);
            ASSERT_EQ(run.error, "");
            EXPECT_TRUE(run.inputUnchanged);
            ASSERT_FALSE(run.rows.empty());
            EXPECT_EQ(run.rows.front() == peaks.rows[0], options.s.showDetail);
            EXPECT_EQ(run.rows.back().rfind("output file:" + output + "  volume down:", 0), 0u);
            ASSERT_TRUE(run.output);
            ASSERT_EQ(run.output->size(), input.size());
            bool changed = false;
            for (std::size_t i = 0; i < input.size(); ++i) {
                changed |= (*run.output)[i] != input[i];
                EXPECT_TRUE((*run.output)[i] == input[i] || changeable.count(i)) << "byte " << i;
            }
            EXPECT_TRUE(changed || options.s.fmDown == 0);
        }

        // The last run normalized FM to 127: its loudest carrier is now at TL 0.
        const JobRun again =
            RunJob(dir / output, Options().PeakOnly(), dir / (stem + "_new_new.s98"));
        ASSERT_EQ(again.rows.size(), 1u);
        EXPECT_EQ(again.rows[0].rfind("PEAK: FM=0(", 0), 0u) << again.rows[0];
    }
    EXPECT_GT(files, 0);
}

}  // namespace
}  // namespace morla::test
