#include <gtest/gtest.h>

#include "test_support.h"

namespace morla::test {
namespace {

constexpr const char* kEof = "found unexpected EOF.  ofs=%08x";

// A fault ends the job with its message before any line is written and
// leaves no file behind; offsets are those of the bytes in the file.
TEST(StreamFaults, FirstFaultEndsTheJobWithItsOffset) {
    struct Case {
        Bytes stream;
        std::size_t faultAt;  // from the data offset
        const char* error;    // with the file offset of the fault
        bool tagged = false;  // a tag follows the stream
        std::vector<std::int32_t> devices = {};
    };
    const Case cases[] = {
        {{0x00, 0xB0}, 0, kEof},
        {{0x00}, 0, kEof},
        {{0xFF, 0x00, 0xB0}, 1, kEof},
        {{0xFE}, 1, kEof},
        {{0xFE, 0x80, 0x81}, 3, kEof},
        {{0xFE, 0x80, 0x01, 0x01, 0xB2, 0x07}, 0, ""},
        {{0x00, 0xB0, 0x07, 0x00, 0x40}, 3, kEof, true},
        {{0x00, 0xB0, 0x07}, 0, "", true},  // the tag's bytes are not commands
        {{0xFE, 0x80}, 2, kEof, true},
        {{0x02, 0x40, 0x05}, 0, "found corrupted data.  ofs=%08x: 02 40 05"},
        {{0xFF, 0xFE, 0x05, 0x0B, 0xAB, 0xCD}, 3, "found corrupted data.  ofs=%08x: 0b ab cd"},
        {{0xFC, 0x40, 0x05}, 0, "found corrupted data.  ofs=%08x: fc 40 05"},
        {{0xFD, 0x02, 0x40}, 0, ""},  // nothing after the end is examined
        {{0x03, 0x40, 0x05, 0x00, 0x40, 0x05}, 0, "", false, {4, 15}},
        {{0x04, 0x40, 0x05}, 0, "found corrupted data.  ofs=%08x: 04 40 05", false, {4, 15}}};
    TempDir dir;
    for (const Case& c : cases) {
        S98Builder b(c.devices);
        b.Raw(c.stream);
        if (c.tagged) {
            b.Tag();
        }
        const std::string expected = Printf(c.error, unsigned(b.dataOffset() + c.faultAt));
        SCOPED_TRACE(expected);
        const JobRun run = RunJob(dir, b.bytes(), Options().Fm(1).Detail());
        EXPECT_EQ(run.error, expected);
        if (!expected.empty()) {
            EXPECT_TRUE(run.rows.empty());
            EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"in.s98"});
        }
    }
}

TEST(StreamFaults, DevicesTheHeaderDoesNotHoldAreCorruptedData) {
    TempDir dir;
    S98Builder negative;
    negative.Set32(kDeviceCountAt, 0xFFFFFFFF);
    negative.Write(0, 0, 0xB0, 7);
    EXPECT_EQ(RunJob(dir, negative.bytes(), Options().Detail()).error,
              "found corrupted data.  ofs=00000020: 00 b0 07");

    // Three devices declared, but the file ends inside the entry of device 2.
    S98Builder cut({4});
    cut.Set32(kDeviceCountAt, 3);
    cut.Write(1, 0, 0x08, 5);
    const std::size_t at = cut.Write(2, 0, 0x08, 5);
    cut.Waits(kDeviceEntryOffset + 2 * kDeviceEntrySize + 2 - cut.bytes().size());
    EXPECT_EQ(RunJob(dir, cut.bytes(), Options().Detail()).error,
              Printf("found corrupted data.  ofs=%08zx: 04 08 05", at));
}

TEST(StreamFaults, BytesAfterTheEndAreNeitherExaminedNorChanged) {
    S98Builder b = Stream({}, {{0xB0, 7}, {0x40, 10}});
    b.End();
    b.Raw({0x00, 0x40, 0x05, 0x02, 0x44});  // a carrier TL write, then a fault
    TempDir dir;
    const JobRun run = RunJob(dir, b.bytes(), Options().Fm(3));
    Bytes expected = b.bytes();
    expected[b.writes()[1] + 2] = 13;
    EXPECT_EQ(run.output, expected);
}

}  // namespace
}  // namespace morla::test
