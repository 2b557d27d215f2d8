// The render layer through its public face: songs built in code, rendered by
// the emulators and measured by the EBU R 128 meter.
#include <ebur128.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "base/text.h"
#include "decode/level_write_walk.h"
#include "format/chip_model.h"
#include "render/loudness.h"
#include "render/song_render.h"
#include "test_support.h"

namespace morla {
namespace {

using test::Bytes;
using test::S98Builder;

// A wait of `ticks` sync ticks as the stream writes it.
Bytes WaitBytes(std::uint64_t ticks) {
    if (ticks == 1) {
        return {0xFF};
    }
    Bytes bytes{0xFE};
    std::uint64_t value = ticks - 2;
    do {
        const auto low = static_cast<std::uint8_t>(value & 0x7F);
        value >>= 7;
        bytes.push_back(static_cast<std::uint8_t>(low | (value != 0 ? 0x80 : 0)));
    } while (value != 0);
    return bytes;
}

void Wait(S98Builder& song, std::uint64_t ticks) {
    song.Raw(WaitBytes(ticks));
}

// FM channel 1 of an OPN-family device: algorithm 7, every operator MUL 1 and
// the fastest attack, the carriers named by `slots` (bit 0 operator 1 ... bit
// 3 operator 4) at total level `tl` and keyed on, the others silent; block 4,
// F-number 1039 (about 440 Hz), both outputs.
void KeyFmTone(S98Builder& song, int device, int tl, int slots = 0x8) {
    constexpr int kSlotOffset[4] = {0, 8, 4, 12};  // operators 1-4
    for (int op = 0; op < 4; ++op) {
        const int at = kSlotOffset[op];
        song.Write(device, 0, 0x30 + at, 0x01);
        song.Write(device, 0, 0x40 + at, (slots >> op & 1) != 0 ? tl : 127);
        song.Write(device, 0, 0x50 + at, 0x1F);
        song.Write(device, 0, 0x60 + at, 0x00);
        song.Write(device, 0, 0x70 + at, 0x00);
        song.Write(device, 0, 0x80 + at, 0x0F);
        song.Write(device, 0, 0x90 + at, 0x00);
    }
    song.Write(device, 0, 0xB0, 0x07);
    song.Write(device, 0, 0xB4, 0xC0);
    song.Write(device, 0, 0xA4, 0x24);
    song.Write(device, 0, 0xA0, 0x0F);
    song.Write(device, 0, 0x28, slots << 4);
}

void KeyFmOff(S98Builder& song, int device) {
    song.Write(device, 0, 0x28, 0x00);
}

// SSG channel A of a PSG, OPN or OPNA at a 2 MHz SSG clock: a tone of about
// 440 Hz at fixed volume `volume` (the envelope with `envelope`).
void SsgTone(S98Builder& song, int device, int volume, bool envelope = false) {
    song.Write(device, 0, 0x00, 284 & 0xFF);
    song.Write(device, 0, 0x01, 284 >> 8);
    song.Write(device, 0, 0x07, 0x3E);
    song.Write(device, 0, 0x08, volume | (envelope ? 0x10 : 0));
}

SongLoudness Measure(const Bytes& bytes, const RenderSettings& settings = {}) {
    const S98Image image = S98Image::FromBytes(bytes.data(), bytes.size());
    S98Layout layout;
    EXPECT_TRUE(ReadHeader(image, layout).empty());
    SongLoudness song = MeasureSong(image, layout, settings);
    EXPECT_TRUE(song.measured);
    return song;
}

// One device type holding a tone made by `tone` for five seconds (at the
// default sync tick of 10 ms).
template <class Tone>
SongLoudness MeasureTone(std::vector<std::int32_t> types, Tone tone) {
    S98Builder song(std::move(types));
    tone(song);
    Wait(song, 500);
    song.End();
    return Measure(song.bytes());
}

double FmTone(int tl, int slots = 0x8, std::int32_t type = kDeviceYM2608) {
    return MeasureTone({type}, [&](S98Builder& song) { KeyFmTone(song, 0, tl, slots); })
        .figures.integratedLufs;
}

double SsgToneLoudness(std::int32_t type, int volume) {
    return MeasureTone({type}, [&](S98Builder& song) { SsgTone(song, 0, volume); })
        .figures.integratedLufs;
}

double Db(std::int64_t microDb) {
    return static_cast<double>(microDb) / 1e6;
}

TEST(RenderLevels, FmTotalLevelStepsAreThreeQuartersOfADecibel) {
    const double tl0 = FmTone(0);
    EXPECT_NEAR(FmTone(8) - tl0, -6.0, 0.1);
    EXPECT_NEAR(FmTone(16) - tl0, -12.0, 0.1);
    // the OPN's FM follows the same steps
    EXPECT_NEAR(FmTone(8, 0x8, kDeviceYM2203) - FmTone(0, 0x8, kDeviceYM2203), -6.0, 0.1);
}

TEST(RenderLevels, SsgVolumesFollowTheYm2149Curve) {
    for (const std::int32_t type : {kDeviceYM2608, kDeviceYM2203, kDeviceYM2149}) {
        SCOPED_TRACE(DeviceTypeName(type));
        const double top = SsgToneLoudness(type, 15);
        for (const int volume : {14, 13, 9, 4}) {
            EXPECT_NEAR(SsgToneLoudness(type, volume) - top, Db(kYm2149Curve[volume]), 0.1)
                << "volume " << volume;
        }
    }
}

TEST(RenderLevels, AyVolumesFollowTheAyCurve) {
    const double top = SsgToneLoudness(kDeviceAY8910, 15);
    for (const int volume : {14, 13, 9, 4}) {
        EXPECT_NEAR(SsgToneLoudness(kDeviceAY8910, volume) - top, Db(kAy8910Curve[volume]), 0.1)
            << "volume " << volume;
    }
    // not the YM2149's: volume 13 is 6 dB down there, under 4 dB here
    EXPECT_GT(SsgToneLoudness(kDeviceAY8910, 13) - top, -4.5);
}

// Figures of a real OPNA measured in an independent player: one carrier
// -12.8 LUFS, four in phase -0.7 LUFS, the SSG at volume 15 4.3 LU below one
// carrier.
TEST(RenderLevels, FmAgainstSsgAsTheChipPlaysThem) {
    const double carrier = FmTone(0);
    EXPECT_NEAR(FmTone(0, 0xF) - carrier, -0.7 - -12.8, 1.0);
    EXPECT_NEAR(SsgToneLoudness(kDeviceYM2608, 15) - carrier, -4.3, 1.0);
    // the OPN's FM and SSG as the OPNA's
    EXPECT_NEAR(FmTone(0, 0x8, kDeviceYM2203), carrier, 0.5);
    EXPECT_NEAR(SsgToneLoudness(kDeviceYM2203, 15), SsgToneLoudness(kDeviceYM2608, 15), 0.5);
}

// The OPNA's bass drum at full level, keyed every half second for five
// seconds.
Bytes RhythmSong() {
    S98Builder song;
    song.Write(0, 0, 0x11, 63);
    song.Write(0, 0, 0x18, 0xDF);
    for (int beat = 0; beat < 10; ++beat) {
        song.Write(0, 0, 0x10, 0x01);
        Wait(song, 50);
    }
    song.End();
    return song.bytes();
}

TEST(RenderRhythm, PlaysTheUserRomWhenGivenAndSaysWhichWasHeard) {
    RhythmRom userRom;
    std::mt19937 random(20260112u);
    for (std::uint8_t& byte : userRom) {
        byte = static_cast<std::uint8_t>(random());
    }
    RenderSettings withRom;
    withRom.rhythmRom = &userRom;
    const SongLoudness user = Measure(RhythmSong(), withRom);
    const SongLoudness standIn = Measure(RhythmSong());
    EXPECT_EQ(user.rhythm, RhythmHeard::UserRom);
    EXPECT_EQ(standIn.rhythm, RhythmHeard::StandIn);
    EXPECT_GT(std::abs(user.figures.integratedLufs - standIn.figures.integratedLufs), 3.0);
    // no rhythm keyed: none heard, whatever the ROM
    EXPECT_EQ(MeasureTone({kDeviceYM2608}, [](S98Builder& song) { KeyFmTone(song, 0, 0); }).rhythm,
              RhythmHeard::None);
}

// The stand-in drums as the whole render plays them: each drum at rhythm
// level 63 and instrument level 31 on both outputs, keyed every 500 ms for
// 10 s, against one FM carrier of the same render, as loud as the real
// chip's drums against its carrier (figures of an independent player with
// the real ROM), within 1 LU.
TEST(RenderRhythm, TheStandInDrumsAreAsLoudAsTheRealOnes) {
    const double carrier = FmTone(0);
    const struct {
        const char* name;
        double lu;
    } drums[] = {{"BD", -5.5}, {"SD", -7.4},  {"TOP", -7.0},
                 {"HH", -5.7}, {"TOM", -4.8}, {"RIM", -9.7}};
    for (int drum = 0; drum < 6; ++drum) {
        S98Builder song;
        song.Write(0, 0, 0x11, 63);
        song.Write(0, 0, 0x18 + drum, 0xC0 | 31);
        for (int beat = 0; beat < 20; ++beat) {
            song.Write(0, 0, 0x10, 1 << drum);
            Wait(song, 50);
        }
        song.End();
        const SongLoudness heard = Measure(song.bytes());
        EXPECT_EQ(heard.rhythm, RhythmHeard::StandIn);
        std::printf("%-3s %6.2f LU (the real drum %5.1f LU)\n", drums[drum].name,
                    heard.figures.integratedLufs - carrier, drums[drum].lu);
        EXPECT_NEAR(heard.figures.integratedLufs - carrier, drums[drum].lu, 0.5)
            << drums[drum].name;
    }
}

// A note retriggered as trackers write it, key-off and key-on of the channel
// at the same instant, restarts as the chip plays it: as loud as the same
// notes with a tick between the two writes, not a note that keeps decaying.
TEST(RenderSong, ANoteKeyedOffAndOnAtOnceStartsAgain) {
    const auto notes = [](bool tickBetween) {
        S98Builder song;
        KeyFmTone(song, 0, 0);
        song.Write(0, 0, 0x80 + 12, 0xFF);  // carrier: decays to silence, releases fast
        song.Write(0, 0, 0x60 + 12, 0x08);  // decays while held
        for (int note = 0; note < 10; ++note) {
            Wait(song, tickBetween ? 49 : 50);
            KeyFmOff(song, 0);
            if (tickBetween) {
                Wait(song, 1);
            }
            song.Write(0, 0, 0x28, 0x80);
        }
        Wait(song, 50);
        song.End();
        return Measure(song.bytes()).figures.integratedLufs;
    };
    const double gap = notes(true);
    const double atOnce = notes(false);
    EXPECT_NEAR(atOnce, gap, 0.3);
    EXPECT_LT(gap, FmTone(0) - 1.0);  // the notes do decay
}

TEST(RenderSong, MeasuresOnePassAndIgnoresTheLoop) {
    auto build = [](bool loop) {
        S98Builder song;
        KeyFmTone(song, 0, 0);
        Wait(song, 100);
        const std::size_t loopAt = song.bytes().size();
        KeyFmTone(song, 0, 20);
        Wait(song, 200);
        song.End();
        if (loop) {
            song.Set32(0x18, static_cast<std::uint32_t>(loopAt));
        }
        return song.bytes();
    };
    const SongLoudness looped = Measure(build(true));
    const SongLoudness plain = Measure(build(false));
    EXPECT_DOUBLE_EQ(looped.seconds, 3.0);
    EXPECT_DOUBLE_EQ(looped.figures.integratedLufs, plain.figures.integratedLufs);
    EXPECT_DOUBLE_EQ(looped.figures.truePeakDbtp, plain.figures.truePeakDbtp);
}

TEST(RenderSong, TakesTheSyncTickFromTheHeader) {
    S98Builder song;
    song.Set32(0x04, 1);
    song.Set32(0x08, 50);  // 20 ms a tick
    KeyFmTone(song, 0, 0);
    Wait(song, 100);
    Wait(song, 1);
    song.End();
    EXPECT_DOUBLE_EQ(Measure(song.bytes()).seconds, 2.02);
}

TEST(RenderSong, DevicesItCannotRenderAreNamedAndSilent) {
    S98Builder song({kDeviceYM2608, kDeviceSN76489, 99});
    KeyFmTone(song, 0, 0);
    song.Write(1, 0, 0x9F, 0x80);
    song.Write(2, 0, 0x10, 0x10);
    Wait(song, 500);
    song.End();
    const SongLoudness both = Measure(song.bytes());
    ASSERT_EQ(both.notices.size(), 2u);
    EXPECT_EQ(both.notices[0].kind, RenderNotice::Kind::DeviceSilent);
    EXPECT_EQ(both.notices[0].device, 1);
    EXPECT_EQ(both.notices[0].type, kDeviceSN76489);
    EXPECT_NE(ToUtf8(both.notices[0].text).find("SN76489"), std::string::npos);
    EXPECT_EQ(both.notices[1].device, 2);
    EXPECT_NE(ToUtf8(both.notices[1].text).find("type 99"), std::string::npos);
    // the OPNA is heard as it is alone
    EXPECT_NEAR(both.figures.integratedLufs, FmTone(0), 0.01);
    EXPECT_FALSE(IsRenderedDevice(kDeviceSN76489));
    EXPECT_TRUE(IsRenderedDevice(kDeviceAY8910));
}

TEST(RenderSong, AStreamFaultEndsTheSongWhereItBreaks) {
    S98Builder song;
    KeyFmTone(song, 0, 0);
    Wait(song, 100);
    song.Write(5, 0, 0x28, 0x00);  // no device 5
    Wait(song, 100);
    song.End();
    const SongLoudness broken = Measure(song.bytes());
    EXPECT_DOUBLE_EQ(broken.seconds, 1.0);
    ASSERT_EQ(broken.notices.size(), 1u);
    EXPECT_EQ(broken.notices[0].kind, RenderNotice::Kind::StreamFault);
}

// Hostile streams: waits of billions of ticks, a tone that never stops.
TEST(RenderBounds, HugeWaitsFinishFastAndSayTheCap) {
    auto build = [](bool huge) {
        S98Builder song;
        KeyFmTone(song, 0, 0);
        Wait(song, 100);
        KeyFmOff(song, 0);
        if (!huge) {
            Wait(song, 1000);
        }
        for (int k = 0; huge && k < 1000; ++k) {
            Wait(song, std::uint64_t{1} << 40);
            song.Raw({0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F});
        }
        song.End();
        return song.bytes();
    };
    const auto start = std::chrono::steady_clock::now();
    const SongLoudness capped = Measure(build(true));
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(took, 5.0);
    EXPECT_TRUE(capped.capped);
    EXPECT_DOUBLE_EQ(capped.seconds, 3600.0);
    EXPECT_GT(capped.skippedSeconds, 3500.0);
    ASSERT_FALSE(capped.notices.empty());
    EXPECT_EQ(capped.notices.back().kind, RenderNotice::Kind::Capped);
    // the tone measures as it does with a short ending
    EXPECT_NEAR(capped.figures.integratedLufs, Measure(build(false)).figures.integratedLufs, 0.01);
}

TEST(RenderBounds, ASoundThatNeverStopsIsCutAtTheCap) {
    S98Builder song;
    KeyFmTone(song, 0, 0);
    Wait(song, std::uint64_t{3} << 32);
    song.End();
    RenderSettings shortCap;
    shortCap.maxSeconds = 7.5;
    const SongLoudness capped = Measure(song.bytes(), shortCap);
    EXPECT_TRUE(capped.capped);
    EXPECT_DOUBLE_EQ(capped.seconds, 7.5);
    EXPECT_DOUBLE_EQ(capped.skippedSeconds, 0.0);
}

// A song with silence at its start, a long pause and a long ending, where
// the FM's release and an SSG envelope run on after their key-off.
Bytes SongWithPauses() {
    S98Builder song({kDeviceYM2608, kDeviceAY8910});
    Wait(song, 1234);
    KeyFmTone(song, 0, 4);
    song.Write(0, 0, 0x8C, 0x05);  // operator 4 releases slowly
    SsgTone(song, 1, 12);
    Wait(song, 300);
    KeyFmOff(song, 0);
    song.Write(1, 0, 0x08, 0);
    Wait(song, 6000);
    SsgTone(song, 0, 15);
    song.Write(0, 0, 0x0B, 0x10);  // an envelope that decays and holds
    song.Write(0, 0, 0x0C, 0x10);
    song.Write(0, 0, 0x0D, 0x00);
    song.Write(0, 0, 0x08, 0x10);
    KeyFmTone(song, 0, 10, 0xF);
    Wait(song, 150);
    KeyFmOff(song, 0);
    Wait(song, 9000);
    song.End();
    return song.bytes();
}

TEST(RenderSilence, SkippingSilenceMeasuresTheSame) {
    RenderSettings full;
    full.skipSilence = false;
    const SongLoudness rendered = Measure(SongWithPauses(), full);
    const SongLoudness skipped = Measure(SongWithPauses());
    EXPECT_DOUBLE_EQ(rendered.skippedSeconds, 0.0);
    EXPECT_GT(skipped.skippedSeconds, 120.0);
    EXPECT_DOUBLE_EQ(skipped.seconds, rendered.seconds);
    EXPECT_NEAR(skipped.figures.integratedLufs, rendered.figures.integratedLufs, 0.01);
    EXPECT_NEAR(skipped.figures.rangeLu, rendered.figures.rangeLu, 0.01);
    EXPECT_NEAR(skipped.figures.samplePeakDbfs, rendered.figures.samplePeakDbfs, 0.01);
    EXPECT_NEAR(skipped.figures.truePeakDbtp, rendered.figures.truePeakDbtp, 0.01);
    EXPECT_GT(rendered.figures.rangeLu, 1.0);  // two stretches at different levels
}

TEST(RenderSilence, ASoundStillDecayingIsNotSkipped) {
    // a release of several seconds: the skip would cut its tail
    S98Builder song;
    KeyFmTone(song, 0, 0);
    song.Write(0, 0, 0x8C, 0x02);
    Wait(song, 100);
    KeyFmOff(song, 0);
    Wait(song, 3000);
    song.End();
    RenderSettings full;
    full.skipSilence = false;
    const SongLoudness rendered = Measure(song.bytes(), full);
    const SongLoudness skipped = Measure(song.bytes());
    EXPECT_NEAR(skipped.figures.integratedLufs, rendered.figures.integratedLufs, 0.01);
    EXPECT_NEAR(skipped.figures.rangeLu, rendered.figures.rangeLu, 0.01);
    EXPECT_LT(skipped.skippedSeconds, 30.0 - 5.0);
}

TEST(RenderAlbum, SongsMeasuredAsOneProgramme) {
    const SongLoudness loud =
        MeasureTone({kDeviceYM2608}, [](S98Builder& s) { KeyFmTone(s, 0, 0); });
    const SongLoudness quiet =
        MeasureTone({kDeviceYM2608}, [](S98Builder& s) { KeyFmTone(s, 0, 16); });
    const SongLoudness silent = MeasureTone({kDeviceYM2608}, [](S98Builder&) {});
    EXPECT_TRUE(std::isinf(silent.figures.integratedLufs));

    const std::vector<SongLoudness> same = {loud, loud};
    EXPECT_NEAR(MeasureAlbum(same).integratedLufs, loud.figures.integratedLufs, 0.01);
    const std::vector<SongLoudness> mixed = {loud, quiet, silent};
    const LoudnessFigures album = MeasureAlbum(mixed);
    // equal lengths 12 dB apart: the mean energy, 3 dB below the loud song
    // less a little for the quiet one's share
    EXPECT_NEAR(album.integratedLufs, loud.figures.integratedLufs - 2.8, 0.2);
    EXPECT_NEAR(album.rangeLu, 12.0, 1.0);
    EXPECT_DOUBLE_EQ(album.truePeakDbtp, loud.figures.truePeakDbtp);
}

// The meter's own true peak against libebur128's, on signals with peaks
// between samples, in blocks of every length.
TEST(RenderMeter, TruePeakIsLibebur128s) {
    std::mt19937 random(7u);
    std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
    for (const std::uint32_t rate : {48000u, 44100u, 96000u}) {
        SCOPED_TRACE(rate);
        LoudnessMeter meter(rate);
        ebur128_state* reference = ebur128_init(2, rate, EBUR128_MODE_TRUE_PEAK);
        ASSERT_NE(reference, nullptr);
        std::vector<float> frames;
        for (int piece = 0; piece < 40; ++piece) {
            const std::size_t count = 1 + random() % 5000;
            frames.resize(2 * count);
            const float amplitude = 0.1f + 0.02f * static_cast<float>(piece % 11);
            for (std::size_t i = 0; i < count; ++i) {
                // a quarter of the rate, off the sample grid: the peaks fall
                // between samples; now and then noise
                const double phase = 2 * 3.14159265358979 * (0.25 * static_cast<double>(i) + 0.125);
                frames[2 * i] = amplitude * static_cast<float>(std::sin(phase));
                frames[2 * i + 1] = piece % 3 == 0 ? noise(random) : 0.5f * frames[2 * i];
            }
            meter.Add(frames.data(), count);
            ebur128_add_frames_float(reference, frames.data(), count);
        }
        double expected = 0.0;
        for (unsigned channel = 0; channel < 2; ++channel) {
            double peak = 0.0;
            ASSERT_EQ(ebur128_true_peak(reference, channel, &peak), EBUR128_SUCCESS);
            expected = std::max(expected, peak);
        }
        ebur128_destroy(&reference);
        const LoudnessFigures figures = meter.Figures();
        EXPECT_NEAR(figures.truePeakDbtp, 20 * std::log10(expected), 1e-6);
        EXPECT_GT(figures.truePeakDbtp, figures.samplePeakDbfs + 0.5);
    }
}

struct WaitRecorder {
    std::vector<std::uint64_t> events;  // ticks, or 0 for a write
    void operator()(std::size_t, std::uint8_t, std::uint8_t, std::uint8_t) { events.push_back(0); }
    void operator()(WaitTicks wait) { events.push_back(wait.ticks); }
};

TEST(RenderWalk, HandsWaitsToVisitorsThatTakeThem) {
    S98Builder song;
    song.Raw({0xFF});
    song.Write(0, 0, 0x28, 0);
    song.Raw({0xFE, 0x00});
    song.Raw({0xFE, 0x7F});
    song.Raw({0xFE, 0x80, 0x01});
    song.Raw({0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F});
    song.Raw({0xFE, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01});
    song.Write(0, 1, 0x28, 0);
    song.End();
    const S98Image image = S98Image::FromBytes(song.bytes().data(), song.bytes().size());
    S98Layout layout;
    ASSERT_TRUE(ReadHeader(image, layout).empty());
    WaitRecorder recorder;
    WalkCursor cursor = StartOfStream(layout);
    FastCommandWalk<WalkMode::Checking>(image.data(), layout, cursor, image.size(), recorder);
    EXPECT_TRUE(cursor.error.empty());
    const std::vector<std::uint64_t> expected = {
        1, 0, 2, 129, 130, (std::uint64_t{1} << 32) - 1 + 2, kMaxWaitTicks, 0};
    EXPECT_EQ(recorder.events, expected);
}

}  // namespace
}  // namespace morla
