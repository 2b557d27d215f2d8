// An S98 file rendered by libvgm (ValleyBell's VGM/S98 player library, with
// MAME- and EMU2149-derived emulators), for scripts/loudness-check: one pass
// from the start to the end command (a loop is not repeated), no fade, no
// master volume, written as a 32-bit float stereo WAV file so that nothing is
// clipped (libvgm's own integer output stops at full scale).
//
// Not part of the build: libvgm is no dependency of morla. Build it against a
// libvgm checkout and build folder of your own, e.g.
//
//   git clone https://github.com/ValleyBell/libvgm ~/libvgm
//   cmake -S ~/libvgm -B ~/libvgm/build -DCMAKE_BUILD_TYPE=Release
//         -DBUILD_LIBAUDIO=OFF -DBUILD_PLAYER=OFF -DUSE_SANITIZERS=OFF
//   cmake --build ~/libvgm/build -j2 --target vgm-player
//   g++ -std=c++17 -O2 -I ~/libvgm scripts/libvgm-render.cpp
//       -L ~/libvgm/build/bin -lvgm-player -lvgm-emu -lvgm-utils -lz -o ~/libvgm-render
//
// (each command on one line), then
//
//   libvgm-render [--samplerate N] IN.s98 OUT.wav
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "player/s98player.hpp"
#include "utils/DataLoader.h"
#include "utils/FileLoader.h"

namespace {

// libvgm's mixing scale: full scale is 2^23.
constexpr float kFullScale = 8388608.0f;
constexpr std::uint32_t kChunk = 4096;

void Put16(std::vector<std::uint8_t>& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}
void Put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}
void PutTag(std::vector<std::uint8_t>& out, const char* tag) {
    out.insert(out.end(), tag, tag + 4);
}

std::vector<std::uint8_t> WavHeader(std::uint32_t rate, std::uint64_t frames) {
    const auto dataBytes = static_cast<std::uint32_t>(frames * 8);
    std::vector<std::uint8_t> out;
    PutTag(out, "RIFF");
    Put32(out, 4 + 8 + 16 + 8 + dataBytes);
    PutTag(out, "WAVE");
    PutTag(out, "fmt ");
    Put32(out, 16);
    Put16(out, 3);  // IEEE float
    Put16(out, 2);
    Put32(out, rate);
    Put32(out, rate * 8);
    Put16(out, 8);
    Put16(out, 32);
    PutTag(out, "data");
    Put32(out, dataBytes);
    return out;
}

int Usage() {
    std::fprintf(stderr, "usage: libvgm-render [--samplerate N] IN.s98 OUT.wav\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::uint32_t rate = 48000;
    int arg = 1;
    if (arg + 1 < argc && std::strcmp(argv[arg], "--samplerate") == 0) {
        rate = static_cast<std::uint32_t>(std::strtoul(argv[arg + 1], nullptr, 10));
        arg += 2;
    }
    if (argc - arg != 2 || rate < 8000 || rate > 192000) {
        return Usage();
    }
    const char* input = argv[arg];
    const char* output = argv[arg + 1];

    DATA_LOADER* loader = FileLoader_Init(input);
    if (loader == nullptr) {
        std::fprintf(stderr, "%s: cannot open\n", input);
        return 1;
    }
    DataLoader_SetPreloadBytes(loader, 0x100);
    S98Player player;
    if (DataLoader_Load(loader) != 0 || player.CanLoadFile(loader) != 0 ||
        (player.SetSampleRate(rate), player.LoadFile(loader)) != 0) {
        std::fprintf(stderr, "%s: not an S98 file libvgm plays\n", input);
        DataLoader_Deinit(loader);
        return 1;
    }
    player.SetPlaybackSpeed(1.0);
    if (player.Start() != 0) {
        std::fprintf(stderr, "%s: libvgm cannot start its devices\n", input);
        return 1;
    }
    // One pass: the song's length, without the loop's repeats or a fade.
    const std::uint64_t frames = player.Tick2Sample(player.GetTotalTicks());

    std::FILE* file = std::fopen(output, "wb");
    if (file == nullptr) {
        std::perror(output);
        return 1;
    }
    const std::vector<std::uint8_t> header = WavHeader(rate, frames);
    bool ok = std::fwrite(header.data(), 1, header.size(), file) == header.size();
    std::vector<WAVE_32BS> mix(kChunk);
    std::vector<float> samples(2 * kChunk);
    for (std::uint64_t done = 0; ok && done < frames;) {
        const auto count =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(kChunk, frames - done));
        std::fill(mix.begin(), mix.end(), WAVE_32BS{0, 0});  // Render adds into the buffer
        const std::uint32_t rendered = player.Render(count, mix.data());
        // A song that ends early (its end command) is filled with silence.
        for (std::uint32_t k = 0; k < count; ++k) {
            const bool heard = k < rendered;
            samples[2 * k] = heard ? static_cast<float>(mix[k].L) / kFullScale : 0.0f;
            samples[2 * k + 1] = heard ? static_cast<float>(mix[k].R) / kFullScale : 0.0f;
        }
        ok = std::fwrite(samples.data(), sizeof(float), 2 * count, file) == 2 * count;
        done += count;
    }
    player.Stop();
    player.UnloadFile();
    DataLoader_Deinit(loader);
    if (std::fclose(file) != 0 || !ok) {
        std::fprintf(stderr, "%s: cannot write\n", output);
        return 1;
    }
    return 0;
}
