// Writes a song-like S98 file for the benchmarks: generated, or the command
// stream of a real file repeated to the size asked for.
//   make_song FILE MEBIBYTES [SAMPLE.s98]
#include <cstdio>
#include <cstdlib>

#include "song_stream.h"

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: make_song FILE MEBIBYTES [SAMPLE.s98]\n");
        return 2;
    }
    const auto streamBytes = static_cast<std::size_t>(std::strtod(argv[2], nullptr) * 1048576.0);
    const auto image = argc == 4 ? morla::bench::RepeatSampleStream(argv[3], streamBytes)
                                 : morla::bench::MakeSongImage(streamBytes);
    if (image.empty()) {
        std::fprintf(stderr, "make_song: %s is not an S98 file with a command stream\n", argv[3]);
        return 1;
    }
    std::FILE* file = std::fopen(argv[1], "wb");
    if (file == nullptr || std::fwrite(image.data(), 1, image.size(), file) != image.size() ||
        std::fclose(file) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
