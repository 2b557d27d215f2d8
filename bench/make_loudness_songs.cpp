// Writes the songs of loudness_songs.h into a folder, as NAME.s98, and lists
// them on standard output, one a line: the file name, "rhythm" or "-", and
// what is heard, separated by tabs.
//   make_loudness_songs FOLDER
#include <cstdio>
#include <string>

#include "loudness_songs.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_loudness_songs FOLDER\n");
        return 2;
    }
    for (const morla::bench::LoudnessSong& song : morla::bench::MakeLoudnessSongs()) {
        const std::string path = std::string(argv[1]) + "/" + song.name + ".s98";
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr ||
            std::fwrite(song.image.data(), 1, song.image.size(), file) != song.image.size() ||
            std::fclose(file) != 0) {
            std::perror(path.c_str());
            return 1;
        }
        std::printf("%s.s98\t%s\t%s\n", song.name.c_str(), song.rhythm ? "rhythm" : "-",
                    song.what.c_str());
    }
    return 0;
}
