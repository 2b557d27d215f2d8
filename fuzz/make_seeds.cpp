// Writes the fuzzer's seed corpus: small valid S98 images of each device kind
// and stream feature, each followed by bytes the fuzzer reads as settings.
#include <cstdio>
#include <filesystem>
#include <string>

#include "test_support.h"

using morla::test::Bytes;
using morla::test::S98Builder;
using morla::test::Stream;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_fuzz_seeds FOLDER\n");
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::filesystem::create_directories(folder);

    std::vector<Bytes> images;
    // one OPNA, every level register class, an algorithm change and waits
    S98Builder opna = Stream({}, {{0xB0, 4},
                                  {0x48, 20},
                                  {0x4C, 0},
                                  {0xB2, 7, 1},
                                  {0x42, 9, 1},
                                  {0x08, 12},
                                  {0x09, 0x10},
                                  {0x11, 40},
                                  {0x11, 50, 1}});
    opna.Raw({0xFF, 0xFE, 0x81, 0x01});
    opna.End();
    images.push_back(opna.bytes());
    // OPN and AY side by side, with a tag
    S98Builder pair = Stream({2, 15}, {{0xB1, 5}, {0x45, 3}, {0x08, 15, 0, 1}, {0x0A, 7}});
    pair.End();
    pair.Tag();
    images.push_back(pair.bytes());
    // OPN2 and an unknown device, no end command
    images.push_back(Stream({3, 9}, {{0xB0, 0}, {0x4C, 127}, {0x4C, 1, 0, 1}}).bytes());
    // an old version with no devices
    images.push_back(S98Builder({}, '1').bytes());

    const Bytes settings(32, 0x5A);
    for (std::size_t i = 0; i < images.size(); ++i) {
        Bytes seed = images[i];
        seed.insert(seed.end(), settings.begin(), settings.end());
        morla::test::WriteFileBytes(folder / ("seed" + std::to_string(i) + ".s98"), seed);
    }
    return 0;
}
