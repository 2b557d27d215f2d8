// Writes a song-like S98 file for the benchmarks: generated, the command
// stream of a real file repeated to the size asked for, or a dense stream of
// random register writes.
//   make_song FILE MEBIBYTES [SAMPLE.s98]
//   make_song FILE MEBIBYTES --dense [SEED]
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "song_stream.h"

namespace {

constexpr std::uint32_t kDefaultDenseSeed = 20110226u;

int Usage() {
    std::fprintf(stderr,
                 "usage: make_song FILE MEBIBYTES [SAMPLE.s98]\n"
                 "       make_song FILE MEBIBYTES --dense [SEED]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 5) {
        return Usage();
    }
    const bool dense = argc >= 4 && std::strcmp(argv[3], "--dense") == 0;
    if (argc == 5 && !dense) {
        return Usage();
    }
    char* end = nullptr;
    const double mebibytes = std::strtod(argv[2], &end);
    if (end == argv[2] || *end != '\0' || !(mebibytes > 0.0 && mebibytes < 2048.0)) {
        return Usage();
    }
    const auto streamBytes = static_cast<std::size_t>(mebibytes * 1048576.0);

    std::vector<std::uint8_t> image;
    if (dense) {
        std::uint32_t seed = kDefaultDenseSeed;
        if (argc == 5) {
            const unsigned long value = std::strtoul(argv[4], &end, 0);
            if (end == argv[4] || *end != '\0') {
                return Usage();
            }
            seed = static_cast<std::uint32_t>(value);
        }
        image = morla::bench::MakeDenseRandomImage(streamBytes, seed);
    } else if (argc == 4) {
        image = morla::bench::RepeatSampleStream(argv[3], streamBytes);
        if (image.empty()) {
            std::fprintf(stderr, "make_song: %s is not an S98 file with a command stream\n",
                         argv[3]);
            return 1;
        }
    } else {
        image = morla::bench::MakeSongImage(streamBytes);
    }

    std::FILE* file = std::fopen(argv[1], "wb");
    if (file == nullptr || std::fwrite(image.data(), 1, image.size(), file) != image.size() ||
        std::fclose(file) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
