// The songs of bench/loudness_songs.h, which scripts/loudness-check plays in
// morla and in another player: each is a whole S98 song that morla reads and
// renders to its end, and each holds the level, length and parts its name
// says, as morla's own render measures them.
#include "loudness_songs.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "format/chip_model.h"
#include "render/loudness.h"
#include "render/song_render.h"

namespace morla {
namespace {

using bench::LoudnessSong;
using bench::SongWriter;

SongLoudness MeasureImage(const std::vector<std::uint8_t>& bytes) {
    const S98Image image = S98Image::FromBytes(bytes.data(), bytes.size());
    S98Layout layout;
    EXPECT_TRUE(ReadHeader(image, layout).empty());
    SongLoudness song = MeasureSong(image, layout, RenderSettings{});
    EXPECT_TRUE(song.measured);
    return song;
}

// Every song measured once, by name.
const std::map<std::string, SongLoudness>& Measured() {
    static const std::map<std::string, SongLoudness> measured = [] {
        std::map<std::string, SongLoudness> songs;
        for (const LoudnessSong& song : bench::MakeLoudnessSongs()) {
            songs[song.name] = MeasureImage(song.image);
        }
        return songs;
    }();
    return measured;
}

double Lufs(const std::string& name) {
    const auto found = Measured().find(name);
    EXPECT_NE(found, Measured().end()) << name;
    return found == Measured().end() ? 0.0 : found->second.figures.integratedLufs;
}

double Seconds(const std::string& name) {
    return Measured().at(name).seconds;
}

TEST(SongWriter, WritesTheHeaderDeviceTableAndWaitsOfTheFormat) {
    SongWriter writer({{bench::kTypeYm2203, bench::kOpnClock}, {bench::kTypeAy8910, 1234567}});
    writer.Write(1, 0, 0x08, 0x0F);
    writer.Wait(1);
    writer.Wait(2);
    writer.Wait(131);  // 129 in two varint bytes
    writer.Wait(0);    // nothing
    const std::vector<std::uint8_t> bytes = writer.Finish();

    const S98Image image = S98Image::FromBytes(bytes.data(), bytes.size());
    S98Layout layout;
    ASSERT_TRUE(ReadHeader(image, layout).empty());
    EXPECT_EQ(layout.header.deviceCount, 2);
    EXPECT_EQ(layout.header.dataOffset, 0x20 + 2 * 16);
    EXPECT_EQ(layout.header.tagOffset, 0);
    EXPECT_EQ(layout.devices.type[0], static_cast<std::int32_t>(kDeviceYM2203));
    EXPECT_EQ(layout.devices.type[1], static_cast<std::int32_t>(kDeviceAY8910));
    EXPECT_EQ(bytes[0x34], 0x87);  // the second clock, little-endian
    EXPECT_EQ(bytes[0x35], 0xD6);

    const std::vector<std::uint8_t> stream(bytes.begin() + layout.header.dataOffset, bytes.end());
    const std::vector<std::uint8_t> expected = {0x02, 0x08, 0x0F, 0xFF, 0xFE,
                                                0x00, 0xFE, 0x81, 0x01, 0xFD};
    EXPECT_EQ(stream, expected);
    // 1 + 2 + 131 ticks of 10 ms
    EXPECT_NEAR(MeasureImage(bytes).seconds, 1.34, 0.011);
}

TEST(LoudnessSongs, AreWholeSongsWithUniqueNamesAndTheirRhythmMarked) {
    const std::vector<LoudnessSong> songs = bench::MakeLoudnessSongs();
    EXPECT_GE(songs.size(), 12u);
    std::set<std::string> names;
    for (const LoudnessSong& song : songs) {
        SCOPED_TRACE(song.name);
        EXPECT_TRUE(names.insert(song.name).second);
        EXPECT_FALSE(song.what.empty());
        const SongLoudness& measured = Measured().at(song.name);
        EXPECT_TRUE(measured.notices.empty());  // no fault, no silent device, no cap
        EXPECT_GE(measured.seconds, 3.0);
        EXPECT_GT(measured.figures.integratedLufs, -40.0);  // heard, not silence
        EXPECT_EQ(measured.rhythm != RhythmHeard::None, song.rhythm);
    }
}

TEST(LoudnessSongs, FmLevelsAreTheOnesNamed) {
    const double carrier = Lufs("fm_carrier");
    EXPECT_NEAR(carrier, -12.8, 0.5);  // the level morla is set to
    EXPECT_NEAR(Lufs("fm_carrier_tl8") - carrier, -6.0, 0.2);
    EXPECT_NEAR(Lufs("fm_four_slots") - carrier, 12.0, 0.5);    // four in phase
    EXPECT_NEAR(Lufs("fm_carrier_left") - carrier, -3.0, 0.2);  // one output of two
    EXPECT_NEAR(Lufs("opn_fm_carrier"), carrier, 0.5);
    // the OPN's carrier at TL 8 with its SSG at 13: louder than either alone
    EXPECT_GT(Lufs("opn_mix"), Lufs("fm_carrier_tl8"));
    // six channels together, and a chord far beyond full scale
    EXPECT_GT(Lufs("fm_channels"), carrier - 3.0);
    EXPECT_GT(Lufs("opn_fm_overload"), Lufs("fm_four_slots"));
}

TEST(LoudnessSongs, SsgAndPsgVolumesFollowTheirCurves) {
    for (const std::string chip : {"opna_ssg_", "opn_ssg_"}) {
        SCOPED_TRACE(chip);
        const double top = Lufs(chip + "15");
        EXPECT_NEAR(Lufs(chip + "13") - top, kYm2149Curve[13] / 1e6, 0.2);
        EXPECT_NEAR(Lufs(chip + "10") - top, kYm2149Curve[10] / 1e6, 0.2);
    }
    EXPECT_NEAR(Lufs("ym2149_12") - Lufs("ym2149_15"), kYm2149Curve[12] / 1e6, 0.2);
    EXPECT_NEAR(Lufs("ay8910_12") - Lufs("ay8910_15"), kAy8910Curve[12] / 1e6, 0.2);
}

TEST(LoudnessSongs, LengthsSilencesAndRetriggersAsDescribed) {
    // five notes of 0.5 s, each followed by 3 s of silence: the gate leaves
    // the silences out, the loudness range sees the decays
    EXPECT_NEAR(Seconds("fm_silences"), 17.5, 0.05);
    EXPECT_GT(Measured().at("fm_silences").figures.rangeLu, 3.0);
    // the same twelve half-second notes, with or without a tick between
    // key-off and key-on
    EXPECT_NEAR(Seconds("fm_retrigger"), 6.5, 0.05);
    EXPECT_NEAR(Seconds("fm_retrigger_gap"), 6.5, 0.05);
    EXPECT_LT(Lufs("fm_retrigger_gap"), Lufs("fm_carrier") - 3.0);  // decaying notes
    // four hits half a second apart per drum, a second of tail
    for (const std::string drum : {"bd", "sd", "top", "hh", "tom", "rim"}) {
        EXPECT_NEAR(Seconds("rhythm_" + drum), 3.0, 0.05) << drum;
    }
    EXPECT_NEAR(Seconds("rhythm_pattern"), 13.0, 0.05);
    // FM, SSG and rhythm together are louder than the drums alone
    EXPECT_GT(Lufs("mix_fm_ssg_rhythm"), Lufs("rhythm_pattern"));
}

}  // namespace
}  // namespace morla
