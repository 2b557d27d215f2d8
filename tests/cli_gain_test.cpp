// -g (one gain in dB for every part) and -k (normalize keeping the balance)
// through the morla executable. The expected amounts are worked out here
// from the step sizes: 0.75 dB a step for FM and rhythm, 3 dB for SSG and
// PSG, halves away from zero.
#include <gtest/gtest.h>

#include <algorithm>

#include "cli_support.h"

namespace morla::test {
namespace {

// The rows of a job on `name`.s98 that wrote its output.
std::vector<std::string> Rows(const std::string& summary, const std::string& gain,
                              const std::string& name = "x") {
    return {name + ".s98", "output file:" + name + "_new.s98  volume down:" + summary,
            "gain: " + gain, "-> ok"};
}

// On Song(): a carrier at TL 20, an SSG volume of 12, a rhythm level of 40.
TEST(CliGain, MovesEachPartByItsOwnSteps) {
    const std::string down6 = "FM=-6.00dB SSG=-6.00dB RHYTHM=-6.00dB";
    const struct {
        std::vector<std::string> arguments;
        std::string summary, gain;
    } cases[] = {
        {{"-g", "-6"}, " FM=8 SSG=2 RHYTHM=8", down6},
        {{"--gain=-6"}, " FM=8 SSG=2 RHYTHM=8", down6},
        {{"-g", "+3"}, " FM=-4 SSG=-1 RHYTHM=-4", "FM=+3.00dB SSG=+3.00dB RHYTHM=+3.00dB"},
        // half an FM step, then half an SSG step, each way
        {{"-g", "-0.375"}, " FM=1 RHYTHM=1", "FM=-0.75dB SSG=+0.00dB RHYTHM=-0.75dB"},
        {{"-g0.375"}, " FM=-1 RHYTHM=-1", "FM=+0.75dB SSG=+0.00dB RHYTHM=+0.75dB"},
        {{"-g", "-1.5"}, " FM=2 SSG=1 RHYTHM=2", "FM=-1.50dB SSG=-3.00dB RHYTHM=-1.50dB"},
        {{"-g", "+1.5"}, " FM=-2 SSG=-1 RHYTHM=-2", "FM=+1.50dB SSG=+3.00dB RHYTHM=+1.50dB"},
        {{"-g", "-1.499999"}, " FM=2 RHYTHM=2", "FM=-1.50dB SSG=+0.00dB RHYTHM=-1.50dB"},
        {{"-g", "-100000"},
         " FM=133333 SSG=33333 RHYTHM=133333",
         "FM=-99999.75dB SSG=-99999.00dB RHYTHM=-99999.75dB"},
        // a normalize target replaces its part's amount
        {{"-g", "-6", "-F127"}, " FM=-20 SSG=2 RHYTHM=8", "FM=+15.00dB SSG=-6.00dB RHYTHM=-6.00dB"},
        {{"-g3", "-S15", "-R60"},
         " FM=-4 SSG=-3 RHYTHM=-20",
         "FM=+3.00dB SSG=+9.00dB RHYTHM=+15.00dB"},
        // -k: each target's amount in dB, the largest cut for every part
        {{"-k", "-F120"}, " FM=-13 SSG=-3 RHYTHM=-13", "FM=+9.75dB SSG=+9.00dB RHYTHM=+9.75dB"},
        {{"--keep-balance", "-R30"},
         " FM=10 SSG=3 RHYTHM=10",
         "FM=-7.50dB SSG=-9.00dB RHYTHM=-7.50dB"},
        {{"-kF107", "-S10"}, " FM=8 SSG=2 RHYTHM=8", down6},
        {{"-k", "-F120", "-S13", "-R38"},
         " FM=2 SSG=1 RHYTHM=2",
         "FM=-1.50dB SSG=-3.00dB RHYTHM=-1.50dB"},
    };
    TempDir dir;
    WriteFileBytes(dir / "x.s98", Song());
    for (const auto& c : cases) {
        std::vector<std::string> arguments = c.arguments;
        arguments.push_back("x.s98");
        EXPECT_EQ(Morla(dir, arguments).rows, Rows(c.summary, c.gain)) << c.arguments.front();
    }
    // The bytes: TL 20 -> 28, SSG 12 -> 10, rhythm 40 -> 32. -p: no gain row.
    ASSERT_EQ(Morla(dir, {"-g", "-6", "x.s98"}).status, 0);
    Bytes expected = Song();
    const std::size_t end = expected.size();
    expected[end - 8] = 28, expected[end - 5] = 10, expected[end - 2] = 32;
    EXPECT_EQ(ReadFileBytes(dir / "x_new.s98"), expected);
    EXPECT_EQ(Morla(dir, {"-p", "-g", "-6", "x.s98"}).rows.size(), 3u);
}

// Stand-alone PSGs (types 1 and 15) move with -g under the SSG's rules
// (silent and envelope writes stay), the AY by its own curve; -s leaves them
// alone. The envelope writes are named as not moved.
TEST(CliGain, MovesStandAlonePsgVolumes) {
    TempDir dir;
    S98Builder b = Stream({4, 15}, {{0xB0, 7},
                                    {0x40, 20},
                                    {0x08, 12},
                                    {0x11, 40},
                                    {0x08, 13, 0, 1},    // the AY: a volume
                                    {0x09, 0x12, 0, 1},  // envelope
                                    {0x0A, 0, 0, 1},     // silent
                                    {0x0A, 1, 0, 1}});
    WriteFileBytes(dir / "x.s98", b.bytes());
    std::vector<std::string> rows =
        Rows(" FM=8 SSG=2 RHYTHM=8", "FM=-6.00dB SSG=-6.00dB RHYTHM=-6.00dB PSG=-6.75dB");
    rows.insert(rows.end() - 1, "not moved: SSG envelope (1 write)");
    EXPECT_EQ(Morla(dir, {"-g", "-6", "x.s98"}).rows, rows);
    // AY volume 13 (-3.94 dB) to 10 (-10.69 dB), the nearest to -9.94 dB;
    // volume 1 (-40 dB) to silence
    Bytes expected = b.bytes();
    for (const auto& [write, data] : {std::pair{1, 28}, {2, 10}, {3, 32}, {4, 10}, {7, 0}}) {
        expected[b.writes()[write] + 2] = static_cast<std::uint8_t>(data);
    }
    EXPECT_EQ(ReadFileBytes(dir / "x_new.s98"), expected);
    ASSERT_EQ(Morla(dir, {"-s2", "x.s98"}).status, 0);
    expected = b.bytes();
    expected[b.writes()[2] + 2] = 10;
    EXPECT_EQ(ReadFileBytes(dir / "x_new.s98"), expected);

    // A YM2149 alone: its volumes are the SSG of its PEAK row, but the gain
    // row names no SSG it does not have.
    WriteFileBytes(dir / "x.s98", Stream({1}, {{0x08, 9}}).bytes());
    EXPECT_EQ(Morla(dir, {"-g", "+3", "x.s98"}).rows,
              Rows(" FM=-4 SSG=-1 RHYTHM=-4", "PSG=+3.00dB"));
    EXPECT_EQ(ReadFileBytes(dir / "x_new.s98").back(), 10);
}

// The OPNA's ADPCM level moves with -g in proportion (linear in amplitude),
// with PEAK OVER rows at 255 and detail rows under -v; 0 stays 0.
TEST(CliGain, MovesTheAdpcmLevel) {
    TempDir dir;
    S98Builder b =
        Stream({4}, {{0xB0, 7}, {0x40, 20}, {0x0B, 200, 1}, {0x0B, 0, 1}, {0x0B, 60, 1}});
    WriteFileBytes(dir / "x.s98", b.bytes());
    // 200 to 100, 60 to 30: -6.02 dB at the loudest
    EXPECT_EQ(Morla(dir, {"-g", "-6", "x.s98"}).rows,
              Rows(" FM=8 SSG=2 RHYTHM=8", "FM=-6.00dB ADPCM=-6.02dB"));
    Bytes expected = b.bytes();
    for (const auto& [write, data] : {std::pair{1, 28}, {2, 100}, {4, 30}}) {
        expected[b.writes()[write] + 2] = static_cast<std::uint8_t>(data);
    }
    EXPECT_EQ(ReadFileBytes(dir / "x_new.s98"), expected);
    // +6 dB: 200 held at 255, 60 to 120 (+6.02 dB, the loudest that moved
    // by the whole gain)
    const std::vector<std::string> up = Morla(dir, {"-v", "-g", "+6", "x.s98"}).rows;
    EXPECT_NE(std::find(up.begin(), up.end(),
                        Printf("%08x: PEAK OVER!       ADPCM=200 -> 255",
                               static_cast<unsigned>(b.writes()[2]))),
              up.end());
    EXPECT_NE(
        std::find(up.begin(), up.end(),
                  Printf("%08x ADPCM LEVEL= 60 -> 120", static_cast<unsigned>(b.writes()[4]))),
        up.end());
    EXPECT_EQ(up[up.size() - 2], "gain: FM=+6.00dB ADPCM=+6.02dB (1 write clamped)");
    // The step options leave it alone.
    ASSERT_EQ(Morla(dir, {"-f8", "x.s98"}).status, 0);
    expected = b.bytes();
    expected[b.writes()[1] + 2] = 28;
    EXPECT_EQ(ReadFileBytes(dir / "x_new.s98"), expected);
}

// The gain row gives what each part really moved: the whole gain with the
// writes the top held back, the most a held write got when none moved by the
// whole gain, nothing when the part was already at its loudest; then what no
// gain can move.
TEST(CliGain, RowsSayWhatMovedAndWhatCouldNot) {
    TempDir dir;
    // carriers at TL 0 and 20, rhythm at 63, SSG volumes 15 and 9
    WriteFileBytes(
        dir / "x.s98",
        Stream({4}, {{0xB0, 7}, {0x40, 0}, {0x44, 20}, {0x11, 63}, {0x08, 15}, {0x09, 9}}).bytes());
    const auto gainRow = [&] {
        const std::vector<std::string> rows = Morla(dir, {"-g", "+3", "x.s98"}).rows;
        return rows.size() < 2 ? std::string() : rows[rows.size() - 2];
    };
    EXPECT_EQ(gainRow(),
              "gain: FM=+3.00dB (1 write clamped) SSG=+3.00dB (1 write clamped) "
              "RHYTHM=+0.00dB (already at its loudest)");
    // a lone carrier at TL 2 raised by 4 steps gets 2: +1.50 dB
    WriteFileBytes(dir / "x.s98", Stream({4}, {{0xB0, 7}, {0x40, 2}}).bytes());
    EXPECT_EQ(gainRow(), "gain: FM=+1.50dB (1 write clamped)");

    // Envelope-mode SSG writes, an OPN2 with its DAC on, an OPM and an
    // unknown device type: named once each, in the order of the header.
    WriteFileBytes(
        dir / "x.s98",
        Stream({2, 3, 5, 5, 42},
               {{0x08, 0x10}, {0x09, 0x1F}, {0x0A, 12}, {0x2B, 0x80, 0, 1}, {0x08, 0x10, 1, 0}})
            .bytes());
    std::vector<std::string> rows = Rows(" FM=8 SSG=2 RHYTHM=8", "SSG=-6.00dB");
    rows.insert(rows.end() - 1, "not moved: SSG envelope (2 writes), DAC, YM2151, device type 42");
    EXPECT_EQ(Morla(dir, {"-g", "-6", "x.s98"}).rows, rows);
    // A DAC written but never switched on is nothing to name; no row
    // without -g or -k.
    WriteFileBytes(dir / "x.s98", Stream({3}, {{0x2B, 0x00}, {0x2A, 0x80}}).bytes());
    EXPECT_EQ(Morla(dir, {"-g", "-6", "x.s98"}).rows.size(), 3u);
    WriteFileBytes(dir / "x.s98", Stream({2}, {{0x08, 0x10}}).bytes());
    EXPECT_EQ(Morla(dir, {"-s1", "x.s98"}).rows.size(), 3u);
}

// -k with -2 takes the second FM peak; with --album the album's peaks: one
// gain for every file, each moving only the parts it has.
TEST(CliGain, KeepBalanceTakesTheSecondPeakAndTheAlbum) {
    TempDir dir;
    // FM 0 (second 10): -F120 asks 5.25 dB down, with -2 2.25 dB up; -R38 1.5 dB down.
    WriteFileBytes(dir / "x.s98",
                   Stream({}, {{0xB0, 7}, {0x40, 0}, {0x44, 10}, {0x08, 12}, {0x11, 40}}).bytes());
    EXPECT_EQ(Morla(dir, {"-k", "-F120", "-R38", "x.s98"}).rows,
              Rows(" FM=7 SSG=2 RHYTHM=7", "FM=-5.25dB SSG=-6.00dB RHYTHM=-5.25dB"));
    EXPECT_EQ(Morla(dir, {"-k2", "-F120", "-R38", "x.s98"}).rows,
              Rows(" FM=2 SSG=1 RHYTHM=2", "FM=-1.50dB SSG=-3.00dB RHYTHM=-1.50dB"));

    // Alone, song asks 3 dB up (SSG 12 to 13) and loud 6 dB down (SSG 15 to
    // 13); the album (FM 5, SSG 15) asks 6 dB down of both.
    WriteFileBytes(dir / "song.s98", Song());
    WriteFileBytes(dir / "loud.s98", Stream({}, {{0xB0, 7}, {0x40, 5}, {0x08, 15}}).bytes());
    const std::vector<std::string> loud = Rows(" FM=8 SSG=2", "FM=-6.00dB SSG=-6.00dB", "loud");
    std::vector<std::string> rows =
        Rows(" FM=-4 SSG=-1 RHYTHM=-4", "FM=+3.00dB SSG=+3.00dB RHYTHM=+3.00dB", "song");
    rows.insert(rows.end(), loud.begin(), loud.end());
    EXPECT_EQ(Morla(dir, {"-k", "-F120", "-S13", "song.s98", "loud.s98"}).rows, rows);
    rows = {"ALBUM: files given directly", "ALBUM PEAK: FM=5(2nd=5) SSG=15 RHYTHM=40"};
    for (const auto& file :
         {Rows(" FM=8 SSG=2 RHYTHM=8", "FM=-6.00dB SSG=-6.00dB RHYTHM=-6.00dB", "song"), loud}) {
        rows.insert(rows.end(), file.begin(), file.end());
    }
    EXPECT_EQ(Morla(dir, {"--album", "-k", "-F120", "-S13", "song.s98", "loud.s98"}).rows, rows);
}

TEST(CliGain, MistakesAreUsageErrorsBeforeAnyFile) {
    TempDir dir;
    const struct {
        std::vector<std::string> arguments;
        std::string message;
    } cases[] = {
        {{"-g", "1e3"}, "option -g: '1e3' is not a gain in dB\n"},
        {{"-g", ".5"}, "option -g: '.5' is not a gain in dB\n"},
        {{"-g", "5."}, "option -g: '5.' is not a gain in dB\n"},
        {{"-g", " -6"}, "option -g: ' -6' is not a gain in dB\n"},
        {{"-g$10"}, "option -g: '$10' is not a gain in dB\n"},
        {{"-g", "100000.000001"}, "option -g: '100000.000001' is not a gain in dB\n"},
        {{"--gain="}, "option --gain: '' is not a gain in dB\n"},
        {{"--gain"}, "option --gain needs a value\n"},
        {{"--keep-balance=1", "-F3"}, "option --keep-balance takes no value\n"},
        {{"-g-6", "-f3"}, "-g sets the FM, SSG and RHYTHM amounts"},
        {{"-r1", "--gain", "0", "-F9"}, "-g sets the FM, SSG and RHYTHM amounts"},
        {{"-k", "-g3", "-F120"}, "-k works out one gain from the targets"},
        {{"-k", "-S12", "-s1"}, "-k works out one gain from the targets"},
        {{"-kv2"}, "-k needs a normalize target"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> arguments = {"missing.s98"};  // never opened
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        const CliRun run = Morla(dir, arguments);
        EXPECT_EQ(run.status, 2) << c.arguments.front();
        EXPECT_EQ(run.err.rfind("morla: " + c.message, 0), 0u) << run.err;
        EXPECT_TRUE(run.err.ends_with("\nTry 'morla --help' for more information.\n"));
    }
}

}  // namespace
}  // namespace morla::test
