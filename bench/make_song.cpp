// Writes the song-like S98 file the command-line comparison runs on.
#include <cstdio>
#include <cstdlib>

#include "song_stream.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_song FILE MEBIBYTES\n");
        return 2;
    }
    const auto image = morla::bench::MakeSongImage(std::strtoull(argv[2], nullptr, 10) << 20);
    std::FILE* file = std::fopen(argv[1], "wb");
    if (file == nullptr || std::fwrite(image.data(), 1, image.size(), file) != image.size() ||
        std::fclose(file) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
