#include <gtest/gtest.h>

#include "test_support.h"

namespace morla::test {
namespace {

// The one row of a peak-only job over the given register writes.
std::string PeakLine(const std::vector<std::int32_t>& devices, const std::vector<W>& writes) {
    TempDir dir;
    const JobRun run = RunJob(dir, Stream(devices, writes).bytes(), Options().PeakOnly());
    EXPECT_EQ(run.error, "");
    EXPECT_FALSE(run.output);
    return run.rows.size() == 1 ? run.rows[0] : "rows: " + std::to_string(run.rows.size());
}

TEST(PeakAnalysis, CarrierSlotsOfEachAlgorithm) {
    // slots 0-3: registers 0x40, 0x44, 0x48, 0x4C
    const char* const carriers[8] = {"---3", "---3", "---3", "---3",
                                     "--23", "-123", "-123", "0123"};
    for (int algorithm = 0; algorithm < 8; ++algorithm) {
        for (int slot = 0; slot < 4; ++slot) {
            // with feedback bits set: the algorithm is the low three bits
            EXPECT_EQ(PeakLine({}, {{0xB0, 0x38 | algorithm}, {0x40 + 4 * slot, 5}}),
                      carriers[algorithm][slot] == '-' ? "PEAK:" : "PEAK: FM=5(2nd=5)")
                << "algorithm " << algorithm << " slot " << slot;
        }
    }
}

TEST(PeakAnalysis, EachWriteIsJudgedByTheStateItMeets) {
    struct Case {
        const char* what;
        std::vector<W> writes;
        const char* line;
        std::vector<std::int32_t> devices = {};
    };
    const Case cases[] = {
        {"no level writes", {{0x30, 1}, {0x28, 0xF0}, {0x0B, 9}}, "PEAK:"},
        {"TL before any algorithm", {{0x4C, 5}, {0xB0, 0}}, "PEAK:"},
        {"algorithm changes",
         {{0xB0, 7}, {0x40, 30}, {0xB0, 0}, {0x40, 2}, {0x4C, 50}},
         "PEAK: FM=30(2nd=30)"},
        {"zero and the second peak",
         {{0xB0, 7}, {0x40, 0}, {0x44, 12}, {0x48, 20}},
         "PEAK: FM=0(2nd=12)"},
        {"only zero", {{0xB0, 7}, {0x40, 0}}, "PEAK: FM=0(2nd=128)"},
        {"channel 2", {{0xB1, 7}, {0x45, 5}, {0x49, 3}, {0x48, 1}}, "PEAK: FM=3(2nd=3)"},
        {"TL of 128 and more", {{0xB0, 7}, {0x40, 0x80}, {0x44, 0xFF}}, "PEAK:"},
        {"algorithms per device",
         {{0xB0, 7, 0, 1}, {0x40, 3}, {0x40, 9, 0, 1}},
         "PEAK: FM=9(2nd=9)",
         {4, 4}},
        {"port 1 is channels 4-6",
         {{0xB2, 7, 1}, {0x42, 3}, {0x40, 2, 1}, {0x42, 6, 1}, {0x4E, 8, 1}},
         "PEAK: FM=6(2nd=6)"},
        {"port 0 algorithm", {{0xB0, 7}, {0x40, 4, 1}}, "PEAK:"},
        {"no level registers", {{0xB0, 7}, {0xB3, 7}, {0x43, 1}, {0x4F, 1}, {0x40, 1, 1}}, "PEAK:"},
        {"device 100",
         {{0xB0, 7, 0, 100}, {0x40, 3, 0, 100}},
         "PEAK: FM=3(2nd=3)",
         std::vector<std::int32_t>(101, 4)},
        {"SSG volumes", {{0x08, 5}, {0x09, 0x1F}, {0x0A, 12}}, "PEAK: SSG=12"},
        {"SSG volume 0", {{0x08, 0}, {0x09, 0x10}}, "PEAK: SSG=0"},
        {"SSG whole byte", {{0x08, 0x20}}, "PEAK: SSG=32"},
        {"rhythm", {{0x11, 40}, {0x11, 10}}, "PEAK: RHYTHM=40"},
        {"rhythm whole byte", {{0x11, 0xC0}}, "PEAK: RHYTHM=192"},
        {"port 1 SSG and rhythm", {{0x08, 9, 1}, {0x11, 9, 1}}, "PEAK:"}};
    for (const Case& c : cases) {
        EXPECT_EQ(PeakLine(c.devices, c.writes), c.line) << c.what;
    }
}

// Every device type the analysis looks at has the same register classes; the
// others change nothing.
TEST(PeakAnalysis, DeviceTypesThatCount) {
    for (const std::int32_t type : {0, 1, 2, 3, 4, 5, 6, 15, 16, 0x104, -1}) {
        const bool counted = type == 1 || type == 2 || type == 3 || type == 4 || type == 15;
        EXPECT_EQ(PeakLine({type}, {{0x08, 7}, {0x11, 9}, {0xB0, 7}, {0x40, 5}}),
                  counted ? "PEAK: FM=5(2nd=5) SSG=7 RHYTHM=9" : "PEAK:")
            << "type " << type;
    }
}

}  // namespace
}  // namespace morla::test
