#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <regex>
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
            EXPECT_TRUE(changed || options.s.fmDown.value_or(0) == 0);
        }

        // The last run normalized FM to 127: its loudest carrier is now at TL 0.
        const JobRun again =
            RunJob(dir / output, Options().PeakOnly(), dir / (stem + "_new_new.s98"));
        ASSERT_EQ(again.rows.size(), 1u);
        EXPECT_EQ(again.rows[0].rfind("PEAK: FM=0(", 0), 0u) << again.rows[0];
    }
    EXPECT_GT(files, 0);
}

// Every move that the level writes of each part got between `input` and
// `output`, in dB, told apart only by register, port and device type: FM
// from TL bytes (lower is louder), the rhythm from its total level, the SSG
// and a YM2149 3 dB a volume step, the AY by its own levels, ADPCM by ratio.
std::map<std::string, std::vector<double>> MovesByPart(const Bytes& input, const Bytes& output) {
    const S98Image image = S98Image::FromBytes(input.data(), input.size());
    S98Layout layout;
    EXPECT_EQ(ReadHeader(image, layout), u"");
    std::map<std::string, std::vector<double>> moves;
    CommandWalk<WalkMode::Checking>(image, layout, [&](const S98Command& c) {
        const int in = c.data;
        const int out = output[c.offset + 2];
        const bool opn = c.deviceType >= 2 && c.deviceType <= 4;
        const bool volume = c.port == 0 && c.reg >= 0x08 && c.reg <= 0x0A && in != 0 &&
                            (in & 0x10) == 0 && in <= 15;
        if (opn && c.reg >= 0x40 && c.reg <= 0x4E && (c.reg & 3) != 3) {
            moves["FM"].push_back((in - out) * 0.75);
        } else if (opn && c.port == 0 && c.reg == 0x11) {
            moves["RHYTHM"].push_back((out - in) * 0.75);
        } else if (opn && volume) {
            moves["SSG"].push_back((out - in) * 3.0);
        } else if (c.deviceType == 1 && volume) {
            moves["PSG"].push_back((out - in) * 3.0);
        } else if (c.deviceType == 15 && volume) {
            moves["PSG"].push_back(static_cast<double>(kAy8910Curve[out] - kAy8910Curve[in]) / 1e6);
        } else if (c.deviceType == 4 && c.port == 1 && c.reg == 0x0B && in != 0) {
            moves["ADPCM"].push_back(20 * std::log10(static_cast<double>(out) / in));
        }
    });
    return moves;
}

// On real songs, lowered and raised without headroom: every figure of the
// gain row is a move that some write of its part really got, a part said to
// be at its loudest did not move at all, and only parts the file writes are
// named.
TEST(Samples, GainRowsSayWhatRealFilesMoved) {
    const std::filesystem::path folder = MORLA_SAMPLES_DIR;
    if (!std::filesystem::is_directory(folder)) {
        GTEST_SKIP() << "no sample folder at " << folder;
    }
    int rows = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() != ".s98") {
            continue;
        }
        const std::string name = entry.path().filename().string();
        const Bytes input = ReadFileBytes(entry.path());
        for (const std::int64_t gain : {-6000000, -12000000, +3000000, +9000000}) {
            SCOPED_TRACE(name + " " + std::to_string(gain));
            TempDir dir;
            WriteFileBytes(dir / name, input);
            const JobRun run = RunJob(dir / name, Options().Gain(gain),
                                      dir / (entry.path().stem().string() + "_new.s98"));
            ASSERT_EQ(run.error, "");
            ASSERT_TRUE(run.output);
            const auto moves = MovesByPart(input, *run.output);
            const auto row = std::find_if(run.rows.begin(), run.rows.end(),
                                          [](const auto& r) { return r.rfind("gain:", 0) == 0; });
            ASSERT_NE(row, run.rows.end());
            ++rows;
            const std::regex part(R"( (\w+)=([+-]\d+\.\d\d)dB( \(already at its loudest\))?)");
            std::set<std::string> named;
            for (auto it = std::sregex_iterator(row->begin(), row->end(), part);
                 it != std::sregex_iterator(); ++it) {
                const std::string which = (*it)[1];
                const double figure = std::stod((*it)[2]);
                named.insert(which);
                ASSERT_TRUE(moves.count(which)) << which << " in " << *row;
                const std::vector<double>& got = moves.at(which);
                if ((*it)[3].matched) {
                    EXPECT_TRUE(std::all_of(got.begin(), got.end(), [](double m) {
                        return m == 0;
                    })) << *row;
                } else {
                    EXPECT_TRUE(std::any_of(got.begin(), got.end(),
                                            [&](double m) { return std::abs(m - figure) < 0.006; }))
                        << which << "=" << figure << " moved by no write: " << *row;
                }
            }
            for (const auto& [which, got] : moves) {
                const bool carriersOnly = which == "FM";  // TL bytes of modulators never move
                EXPECT_TRUE(named.count(which) || carriersOnly) << which << " not in " << *row;
            }
        }
    }
    EXPECT_GT(rows, 0);
}

}  // namespace
}  // namespace morla::test
