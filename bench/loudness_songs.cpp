#include "loudness_songs.h"

#include <array>
#include <utility>

namespace morla::bench {

SongWriter::SongWriter(std::vector<Device> devices) {
    const auto put32 = [&](std::uint32_t value) {
        for (int shift = 0; shift < 32; shift += 8) {
            bytes_.push_back(static_cast<std::uint8_t>(value >> shift));
        }
    };
    const auto dataOffset = static_cast<std::uint32_t>(0x20 + 16 * devices.size());
    bytes_ = {'S', '9', '8', '3'};
    put32(10);    // sync tick numerator: 10 / 1000 s
    put32(1000);  // denominator
    put32(0);     // no compression
    put32(0);     // no tag
    put32(dataOffset);
    put32(0);  // no loop
    put32(static_cast<std::uint32_t>(devices.size()));
    for (const Device& device : devices) {
        put32(device.type);
        put32(device.clock);
        put32(0);  // pan
        put32(0);  // reserved
    }
}

void SongWriter::Write(int device, int port, int reg, int data) {
    bytes_.push_back(static_cast<std::uint8_t>(device * 2 + port));
    bytes_.push_back(static_cast<std::uint8_t>(reg));
    bytes_.push_back(static_cast<std::uint8_t>(data));
}

void SongWriter::Wait(std::uint32_t ticks) {
    if (ticks == 0) {
        return;
    }
    if (ticks == 1) {
        bytes_.push_back(0xFF);
        return;
    }
    bytes_.push_back(0xFE);
    std::uint32_t value = ticks - 2;
    do {
        const auto low = static_cast<std::uint8_t>(value & 0x7F);
        value >>= 7;
        bytes_.push_back(static_cast<std::uint8_t>(low | (value != 0 ? 0x80 : 0)));
    } while (value != 0);
}

std::vector<std::uint8_t> SongWriter::Finish() {
    bytes_.push_back(0xFD);
    return std::move(bytes_);
}

namespace {

constexpr std::uint32_t kSecond = 100;  // sync ticks

// One FM operator; `tl` 127 is silent.
struct Operator {
    int tl = 127;
    int mul = 1;
    int ar = 31;
    int dr = 0;
    int sl = 0;
    int rr = 15;
};

// Pan bits of register B4-B6 (OPNA): both outputs, left only.
constexpr int kBoth = 0xC0;
constexpr int kLeft = 0x80;

struct Voice {
    int algorithm = 7;
    int feedback = 0;
    std::array<Operator, 4> ops{};  // operators 1-4
    int pan = kBoth;
};

// A one-carrier voice: algorithm 7 with only operator 4 heard, at `tl`.
Voice Carrier(int tl, int pan = kBoth) {
    Voice voice;
    voice.ops[3].tl = tl;
    voice.pan = pan;
    return voice;
}

// FM channel 0-5 (3-5 on port 1) of `device`.
void SetVoice(SongWriter& song, int device, int channel, const Voice& voice, bool hasPan) {
    constexpr int kOperatorOffset[4] = {0, 8, 4, 12};  // operators 1-4
    const int port = channel / 3;
    const int ch = channel % 3;
    for (int op = 0; op < 4; ++op) {
        const Operator& o = voice.ops[op];
        const int at = kOperatorOffset[op] + ch;
        song.Write(device, port, 0x30 + at, o.mul);
        song.Write(device, port, 0x40 + at, o.tl);
        song.Write(device, port, 0x50 + at, o.ar);
        song.Write(device, port, 0x60 + at, o.dr);
        song.Write(device, port, 0x70 + at, 0);
        song.Write(device, port, 0x80 + at, o.sl << 4 | o.rr);
        song.Write(device, port, 0x90 + at, 0);
    }
    song.Write(device, port, 0xB0 + ch, voice.feedback << 3 | voice.algorithm);
    if (hasPan) {
        song.Write(device, port, 0xB4 + ch, voice.pan);
    }
}

// Block and F-number of the channel, then the key: every operator on or off.
void KeyOn(SongWriter& song, int device, int channel, int block, int fnumber) {
    const int port = channel / 3;
    const int ch = channel % 3;
    song.Write(device, port, 0xA4 + ch, block << 3 | fnumber >> 8);
    song.Write(device, port, 0xA0 + ch, fnumber & 0xFF);
    song.Write(device, 0, 0x28, 0xF0 | port << 2 | ch);
}
void KeyOff(SongWriter& song, int device, int channel) {
    song.Write(device, 0, 0x28, (channel / 3) << 2 | channel % 3);
}

// Block 4, F-number 1039: about 440 Hz at the OPNA's and OPN's usual clocks.
constexpr int kBlock = 4;
constexpr int kFnumber440 = 1039;

// The OPNA's six FM channels (its channels 4-6 are off after a reset).
void OpnaSixChannels(SongWriter& song, int device) {
    song.Write(device, 0, 0x29, 0x80);
}

// SSG channel 0-2: a tone of about 440 Hz at a 2 MHz SSG clock, at `volume`.
void SsgTone(SongWriter& song, int device, int channel, int volume, int period = 284) {
    song.Write(device, 0, 0x00 + 2 * channel, period & 0xFF);
    song.Write(device, 0, 0x01 + 2 * channel, period >> 8);
    song.Write(device, 0, 0x08 + channel, volume);
}
// The mixer: tone on for the channels in `toneMask` (bit 0 channel A), no noise.
void SsgMixer(SongWriter& song, int device, int toneMask) {
    song.Write(device, 0, 0x07, 0x38 | (~toneMask & 7));
}

LoudnessSong OpnaCarrier(std::string name, std::string what, const Voice& voice) {
    SongWriter song({{kTypeYm2608, kOpnaClock}});
    SetVoice(song, 0, 0, voice, true);
    KeyOn(song, 0, 0, kBlock, kFnumber440);
    song.Wait(5 * kSecond);
    KeyOff(song, 0, 0);
    song.Wait(kSecond / 2);
    return {std::move(name), std::move(what), false, song.Finish()};
}

LoudnessSong SsgSong(std::string name, std::string what, SongWriter::Device device, int volume) {
    SongWriter song({device});
    SsgMixer(song, 0, 1);
    SsgTone(song, 0, 0, volume);
    song.Wait(5 * kSecond);
    song.Write(0, 0, 0x08, 0);
    song.Wait(kSecond / 2);
    return {std::move(name), std::move(what), false, song.Finish()};
}

// Six FM channels of the OPNA, each its own algorithm, feedback, operator
// levels and note of a chord, held together.
LoudnessSong FmChannels() {
    struct Channel {
        int algorithm, feedback;
        std::array<int, 4> tl;  // operators 1-4 (carriers and modulators)
        std::array<int, 4> mul;
        int block, fnumber;
    };
    // C4 E4 G4 C5 E3 G3 (F-numbers of the 7.9872 MHz OPNA)
    constexpr Channel kChannels[6] = {
        {0, 5, {40, 35, 30, 10}, {1, 2, 1, 1}, 4, 618},  //
        {2, 3, {35, 45, 38, 14}, {3, 1, 2, 1}, 4, 779},  //
        {4, 2, {32, 18, 36, 18}, {2, 1, 4, 1}, 4, 927},  //
        {5, 6, {30, 24, 22, 24}, {1, 1, 2, 4}, 5, 618},  //
        {6, 0, {28, 20, 26, 20}, {5, 1, 2, 1}, 3, 779},  //
        {7, 0, {26, 30, 34, 22}, {1, 2, 3, 4}, 3, 927},  //
    };
    SongWriter song({{kTypeYm2608, kOpnaClock}});
    OpnaSixChannels(song, 0);
    for (int channel = 0; channel < 6; ++channel) {
        const Channel& c = kChannels[channel];
        Voice voice;
        voice.algorithm = c.algorithm;
        voice.feedback = c.feedback;
        for (int op = 0; op < 4; ++op) {
            voice.ops[op].tl = c.tl[op];
            voice.ops[op].mul = c.mul[op];
        }
        SetVoice(song, 0, channel, voice, true);
    }
    for (int channel = 0; channel < 6; ++channel) {
        KeyOn(song, 0, channel, kChannels[channel].block, kChannels[channel].fnumber);
    }
    song.Wait(6 * kSecond);
    for (int channel = 0; channel < 6; ++channel) {
        KeyOff(song, 0, channel);
    }
    song.Wait(kSecond / 2);
    return {"fm_channels", "OPNA: six FM channels, algorithms 0 2 4 5 6 7, a held chord", false,
            song.Finish()};
}

// Decaying FM notes of half a second, each followed by three seconds of
// silence.
LoudnessSong NotesAndSilences() {
    SongWriter song({{kTypeYm2608, kOpnaClock}});
    Voice voice;
    voice.algorithm = 4;
    voice.feedback = 4;
    voice.ops[0] = {.tl = 30, .mul = 2, .ar = 31, .dr = 10, .sl = 4, .rr = 8};
    voice.ops[1] = {.tl = 6, .mul = 1, .ar = 31, .dr = 6, .sl = 2, .rr = 7};
    voice.ops[2] = {.tl = 34, .mul = 3, .ar = 31, .dr = 12, .sl = 5, .rr = 8};
    voice.ops[3] = {.tl = 6, .mul = 1, .ar = 31, .dr = 6, .sl = 2, .rr = 7};
    SetVoice(song, 0, 0, voice, true);
    constexpr int kFnumbers[5] = {618, 693, 779, 825, 927};
    for (const int fnumber : kFnumbers) {
        KeyOn(song, 0, 0, kBlock, fnumber);
        song.Wait(kSecond / 2);
        KeyOff(song, 0, 0);
        song.Wait(3 * kSecond);
    }
    return {"fm_silences", "OPNA: five decaying FM notes, 3 s of silence after each", false,
            song.Finish()};
}

// A decaying FM note keyed every half second. With `gap`, each key-off
// stands one sync tick before the next key-on; without, the key-off and the
// key-on are written back to back, at the same instant (as trackers export
// a retriggered note).
LoudnessSong Retrigger(std::string name, std::string what, bool gap) {
    SongWriter song({{kTypeYm2608, kOpnaClock}});
    Voice voice = Carrier(0);
    voice.ops[3].dr = 14;
    voice.ops[3].sl = 15;
    voice.ops[3].rr = 15;
    SetVoice(song, 0, 0, voice, true);
    for (int note = 0; note < 12; ++note) {
        KeyOn(song, 0, 0, kBlock, kFnumber440);
        song.Wait(kSecond / 2 - (gap ? 1 : 0));
        KeyOff(song, 0, 0);
        song.Wait(gap ? 1 : 0);
    }
    song.Wait(kSecond / 2);
    return {std::move(name), std::move(what), false, song.Finish()};
}

// The OPN's three FM channels, each four carriers at TL 0 in a chord: the
// sum runs far beyond one channel's full scale.
LoudnessSong OpnOverload() {
    SongWriter song({{kTypeYm2203, kOpnClock}});
    Voice voice;
    for (Operator& op : voice.ops) {
        op.tl = 0;
    }
    constexpr int kFnumbers[3] = {618, 779, 927};
    for (int channel = 0; channel < 3; ++channel) {
        SetVoice(song, 0, channel, voice, false);
    }
    for (int channel = 0; channel < 3; ++channel) {
        KeyOn(song, 0, channel, kBlock, kFnumbers[channel]);
    }
    song.Wait(5 * kSecond);
    for (int channel = 0; channel < 3; ++channel) {
        KeyOff(song, 0, channel);
    }
    song.Wait(kSecond / 2);
    return {"opn_fm_overload", "YM2203: three channels of four carriers at TL 0, a chord", false,
            song.Finish()};
}

constexpr const char* kDrumNames[6] = {"bass drum", "snare", "top cymbal",
                                       "hi-hat",    "tom",   "rim shot"};
constexpr const char* kDrumFiles[6] = {"bd", "sd", "top", "hh", "tom", "rim"};

// The rhythm at total level 63, every instrument at level 31 on both outputs.
void RhythmLevels(SongWriter& song, int device) {
    song.Write(device, 0, 0x11, 63);
    for (int drum = 0; drum < 6; ++drum) {
        song.Write(device, 0, 0x18 + drum, 0xC0 | 31);
    }
}

// The drums in `drumMask` (bit 0 bass drum ... bit 5 rim shot), each in turn
// keyed four times half a second apart.
LoudnessSong RhythmSong(std::string name, std::string what, int drumMask) {
    SongWriter song({{kTypeYm2608, kOpnaClock}});
    RhythmLevels(song, 0);
    for (int drum = 0; drum < 6; ++drum) {
        if ((drumMask >> drum & 1) == 0) {
            continue;
        }
        for (int hit = 0; hit < 4; ++hit) {
            song.Write(0, 0, 0x10, 1 << drum);
            song.Wait(kSecond / 2);
        }
    }
    song.Wait(kSecond);
    return {std::move(name), std::move(what), true, song.Finish()};
}

// Two FM channels, two SSG channels at volume 12 and a drum beat together,
// on one OPNA.
LoudnessSong Mix() {
    SongWriter song({{kTypeYm2608, kOpnaClock}});
    Voice lead = Carrier(12);
    lead.ops[2].tl = 30;  // a second carrier, an octave up
    lead.ops[2].mul = 2;
    SetVoice(song, 0, 0, lead, true);
    Voice bass;
    bass.algorithm = 4;
    bass.ops[0] = {.tl = 28, .mul = 1};
    bass.ops[1] = {.tl = 10, .mul = 1};
    SetVoice(song, 0, 1, bass, true);
    SsgMixer(song, 0, 3);
    SsgTone(song, 0, 0, 12, 213);  // about 586 Hz
    SsgTone(song, 0, 1, 12, 568);  // about 220 Hz
    RhythmLevels(song, 0);
    KeyOn(song, 0, 0, kBlock, 927);
    KeyOn(song, 0, 1, 2, 618);
    constexpr int kBeat[4] = {0x01, 0x08, 0x02, 0x08};  // bass drum, hi-hat, snare, hi-hat
    for (int beat = 0; beat < 16; ++beat) {
        song.Write(0, 0, 0x10, kBeat[beat % 4]);
        song.Wait(kSecond / 4);
    }
    KeyOff(song, 0, 0);
    KeyOff(song, 0, 1);
    song.Write(0, 0, 0x08, 0);
    song.Write(0, 0, 0x09, 0);
    song.Wait(kSecond);
    return {"mix_fm_ssg_rhythm", "OPNA: two FM channels, two SSG tones at 12 and a drum beat", true,
            song.Finish()};
}

// The OPN's FM carrier at TL 8 with its SSG at volume 13 beside it.
LoudnessSong OpnMix() {
    SongWriter song({{kTypeYm2203, kOpnClock}});
    SetVoice(song, 0, 0, Carrier(8), false);
    SsgMixer(song, 0, 1);
    SsgTone(song, 0, 0, 13, 426);  // about 293 Hz
    KeyOn(song, 0, 0, kBlock, kFnumber440);
    song.Wait(5 * kSecond);
    KeyOff(song, 0, 0);
    song.Write(0, 0, 0x08, 0);
    song.Wait(kSecond / 2);
    return {"opn_mix", "YM2203: FM carrier at TL 8 and SSG tone at volume 13", false,
            song.Finish()};
}

}  // namespace

std::vector<LoudnessSong> MakeLoudnessSongs() {
    std::vector<LoudnessSong> songs;
    songs.push_back(OpnaCarrier("fm_carrier", "OPNA: one FM carrier, TL 0, ~440 Hz", Carrier(0)));
    songs.push_back(OpnaCarrier("fm_carrier_tl8", "OPNA: one FM carrier, TL 8", Carrier(8)));
    Voice four;
    for (Operator& op : four.ops) {
        op.tl = 0;
    }
    songs.push_back(OpnaCarrier("fm_four_slots", "OPNA: four carriers in phase, TL 0", four));
    songs.push_back(OpnaCarrier("fm_carrier_left", "OPNA: one FM carrier, TL 0, left output only",
                                Carrier(0, kLeft)));
    {
        SongWriter song({{kTypeYm2203, kOpnClock}});
        SetVoice(song, 0, 0, Carrier(0), false);
        KeyOn(song, 0, 0, kBlock, kFnumber440);
        song.Wait(5 * kSecond);
        KeyOff(song, 0, 0);
        song.Wait(kSecond / 2);
        songs.push_back({"opn_fm_carrier", "YM2203: one FM carrier, TL 0", false, song.Finish()});
    }
    songs.push_back(FmChannels());
    songs.push_back(NotesAndSilences());
    songs.push_back(Retrigger("fm_retrigger_gap",
                              "OPNA: decaying note keyed every 0.5 s, key-off one tick before",
                              true));
    songs.push_back(Retrigger("fm_retrigger",
                              "OPNA: decaying note keyed every 0.5 s, key-off and key-on together",
                              false));
    for (const int volume : {15, 13, 10}) {
        songs.push_back(SsgSong("opna_ssg_" + std::to_string(volume),
                                "OPNA: SSG tone, volume " + std::to_string(volume),
                                {kTypeYm2608, kOpnaClock}, volume));
    }
    for (const int volume : {15, 13, 10}) {
        songs.push_back(SsgSong("opn_ssg_" + std::to_string(volume),
                                "YM2203: SSG tone, volume " + std::to_string(volume),
                                {kTypeYm2203, kOpnClock}, volume));
    }
    for (const int volume : {15, 12}) {
        songs.push_back(SsgSong("ym2149_" + std::to_string(volume),
                                "YM2149: tone, volume " + std::to_string(volume),
                                {kTypeYm2149, kPsgClock}, volume));
    }
    for (const int volume : {15, 12}) {
        songs.push_back(SsgSong("ay8910_" + std::to_string(volume),
                                "AY-3-8910: tone, volume " + std::to_string(volume),
                                {kTypeAy8910, kPsgClock}, volume));
    }
    songs.push_back(OpnMix());
    songs.push_back(OpnOverload());
    songs.push_back(RhythmSong("rhythm_pattern", "OPNA rhythm: each drum in turn, 4 hits", 0x3F));
    for (int drum = 0; drum < 6; ++drum) {
        songs.push_back(RhythmSong(std::string("rhythm_") + kDrumFiles[drum],
                                   std::string("OPNA rhythm: ") + kDrumNames[drum] + ", 4 hits",
                                   1 << drum));
    }
    songs.push_back(Mix());
    return songs;
}

}  // namespace morla::bench
