#include <gtest/gtest.h>

#include "test_support.h"

namespace morla::test {
namespace {

// Header values against a 39-byte file holding one carrier TL write of 10 at
// 0x23; run with FM down 1, a walk that reaches it makes it 11. The mark
// letters are "XYZ" throughout: they are not examined.
TEST(HeaderChecks, VersionThenDataOffsetThenTagOffset) {
    struct Case {
        int version;
        std::uint32_t tag, data;
        const char* error;
        int tl = 0;  // the TL byte of the output on success
    };
    const Case cases[] = {
        {'3', 0, 32, "", 11},
        {'0', 0, 32, "", 11},
        {'1', 0, 32, "", 11},
        {0x00, 0, 32, "", 11},
        {'2', 0, 32, "S98 version error."},
        {'4', 0, 32, "S98 version error."},
        {0xFF, 0, 32, "S98 version error."},
        {'2', 16, 31, "S98 version error."},
        {'3', 0, 31, "data offset error. 0000001f"},
        {'3', 0, 39, "", 10},  // the data starts at the end: nothing to walk
        {'3', 0, 40, "data offset error. 00000028"},
        {'3', 0, 0x80000000, "data offset error. 80000000"},
        {'3', 16, 31, "data offset error. 0000001f"},
        {'3', 16, 32, "tag offset error. 00000010"},
        {'3', 31, 32, "tag offset error. 0000001f"},
        {'3', 40, 32, "tag offset error. 00000028"},
        {'3', 0xFFFFFFFF, 32, "tag offset error. ffffffff"},
        {'3', 32, 32, "", 11},  // a tag not beyond the data leaves the file end as bound
        {'3', 39, 32, "", 11},
        {'3', 38, 32, "", 11},  // the tag may hold the 0xFD
        {'3', 37, 32, "found unexpected EOF.  ofs=00000023"}};
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(Printf("version %02x tag %08x data %08x", c.version, c.tag, c.data));
        S98Builder b;
        b.Write(0, 0, 0xB0, 7);
        const std::size_t tl = b.Write(0, 0, 0x40, 10);
        b.End();
        Bytes image = b.bytes();
        image[0] = 'X', image[1] = 'Y', image[2] = 'Z';
        image[kVersionAt] = static_cast<std::uint8_t>(c.version);
        Put32(image, kTagOffsetAt, c.tag);
        Put32(image, kDataOffsetAt, c.data);

        const JobRun run = RunJob(dir, image, Options().Fm(1).Detail());
        EXPECT_EQ(run.error, c.error);
        if (run.error.empty()) {
            ASSERT_TRUE(run.output);
            EXPECT_EQ((*run.output)[tl + 2], c.tl);
        } else {
            EXPECT_TRUE(run.rows.empty());
            EXPECT_FALSE(run.output);
        }
    }
}

// Header bytes missing from a short file read as 0.
TEST(HeaderChecks, ShortFilesFailWithoutReadingPastTheirEnd) {
    struct Case {
        std::size_t size;
        int version, dataLow;  // bytes 3 and 0x14 when the file holds them
        const char* error;
    };
    const Case cases[] = {{0, '3', 0, "data offset error. 00000000"},
                          {3, '3', 0, "data offset error. 00000000"},
                          {4, '2', 0, "S98 version error."},
                          {4, '3', 0, "data offset error. 00000000"},
                          {0x15, '3', 0x20, "data offset error. 00000020"},
                          {0x1F, '3', 0x1F, "data offset error. 0000001f"}};
    TempDir dir;
    for (const Case& c : cases) {
        Bytes image(c.size);
        if (c.size > kVersionAt) {
            image[kVersionAt] = static_cast<std::uint8_t>(c.version);
        }
        if (c.size > kDataOffsetAt) {
            image[kDataOffsetAt] = static_cast<std::uint8_t>(c.dataLow);
        }
        const JobRun run = RunJob(dir, image, Options().Detail());
        EXPECT_EQ(run.error, c.error) << "size " << c.size;
        EXPECT_TRUE(run.rows.empty() && !run.output);
    }
}

// Beside the fixed message, a job gives the reason in a user's words.
TEST(HeaderChecks, FaultsComeWithAReasonAUserUnderstands) {
    const auto reasonOf = [](Bytes bytes) {
        const S98Image image = S98Image::FromBytes(bytes.data(), bytes.size());
        return ToUtf8(HeaderFaultReason(image));
    };
    const std::string text = "just some notes, not music at all";
    Bytes cut = S98Builder().bytes();
    cut.resize(20);
    Bytes farData = S98Builder().bytes();
    Put32(farData, kDataOffsetAt, 0x1000);
    Bytes farTag = S98Builder().bytes();
    Put32(farTag, kTagOffsetAt, 0x1000);
    const std::pair<Bytes, std::string> cases[] = {
        {Bytes(text.begin(), text.end()), "not an S98 file (it does not begin with \"S98\")"},
        {{}, "not an S98 file (it does not begin with \"S98\")"},
        {{'S', '9', '8'}, "the file ends inside its header"},
        {S98Builder({}, '2').bytes(), "an S98 version this tool does not read (only 0, 1 and 3)"},
        {cut, "the file ends inside its header"},
        {farData, "the header's data offset points outside the file"},
        {farTag, "the header's tag offset points outside the file"},
        {S98Builder().bytes(), ""},
    };
    for (const auto& [bytes, reason] : cases) {
        EXPECT_EQ(reasonOf(bytes), reason);
    }
}

}  // namespace
}  // namespace morla::test
