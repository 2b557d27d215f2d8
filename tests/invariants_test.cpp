#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <random>
#include <set>
#include <tuple>

#include "reference/command_walk.h"
#include "test_support.h"

namespace morla::test {
namespace {

using Visit = std::tuple<std::size_t, int, int, int, int, std::int32_t>;

template <WalkMode Mode>
std::vector<Visit> Visits(const S98Image& image, const S98Layout& layout) {
    std::vector<Visit> visits;
    EXPECT_EQ(CommandWalk<Mode>(image, layout,
                                [&](const S98Command& c) {
                                    visits.emplace_back(c.offset, c.deviceIndex, c.port, c.reg,
                                                        c.data, c.deviceType);
                                }),
              u"");
    return visits;
}

// A valid image: random devices, waits and register writes (mostly to level
// and algorithm registers), sometimes ended by 0xFD and trailing bytes, or by
// a tag right behind the stream.
S98Builder RandomImage(std::mt19937& rng, std::vector<std::int32_t>& typeOf) {
    const std::int32_t types[] = {1, 2, 3, 4, 15, 5, 0};
    std::vector<std::int32_t> devices(rng() % 4);
    for (auto& type : devices) {
        type = types[rng() % std::size(types)];
    }
    typeOf = devices.empty() ? std::vector<std::int32_t>{kDeviceYM2608} : devices;
    S98Builder b(devices, "013"[rng() % 3]);
    const int regs[] = {0x08, 0x09, 0x0A, 0x11, 0x43, 0xB0, 0xB1, 0xB2, 0xB3};
    for (unsigned n = rng() % 80; n > 0; --n) {
        const unsigned pick = rng() % 16;
        if (pick < 2) {
            b.Raw(pick ? Bytes{0xFF} : Bytes{0xFE, 0x85, static_cast<std::uint8_t>(rng() & 0x7F)});
            continue;
        }
        const unsigned reg = pick < 8    ? 0x40 + rng() % 16
                             : pick < 14 ? regs[rng() % std::size(regs)]
                                         : rng() & 0xFF;
        b.Write(static_cast<int>(rng() % typeOf.size()), rng() % 2, static_cast<int>(reg),
                rng() & 0xFF);
    }
    if (rng() % 3 == 0) {
        b.End();
        b.Raw({0x00, 0x40, 0x00, 0x01, 0x08, 0x00});  // would be level writes
    } else if (rng() % 2 == 0 && b.bytes().size() > b.dataOffset()) {
        b.Tag();
    }
    return b;
}

VolumeSettings RandomSettings(std::mt19937& rng) {
    const std::int32_t amounts[] = {0, 1, -1, 7, -7, 64, -64, 200, -200, INT32_MAX, INT32_MIN};
    auto amount = [&] { return rng() % 4 ? amounts[rng() % std::size(amounts)] : int(rng()); };
    // A value is drawn for every option, ticked or not.
    const auto tick = [](bool ticked, std::int32_t value) {
        return ticked ? std::optional<std::int32_t>(value) : std::nullopt;
    };
    VolumeSettings s;
    bool ticked = rng() % 2;
    s.fmDown = tick(ticked, amount());
    ticked = rng() % 2;
    s.ssgDown = tick(ticked, amount());
    ticked = rng() % 2;
    s.rhythmDown = tick(ticked, amount());
    ticked = rng() % 3 == 0;
    s.fmTarget = tick(ticked, static_cast<std::int32_t>(rng() % 128));
    ticked = rng() % 3 == 0;
    s.ssgTarget = tick(ticked, static_cast<std::int32_t>(rng() % 16));
    ticked = rng() % 3 == 0;
    s.rhythmTarget = tick(ticked, static_cast<std::int32_t>(rng() % 64));
    s.showDetail = rng() % 2, s.peakOnly = rng() % 8 == 0, s.useSecondPeak = rng() % 2;
    return s;
}

TEST(Invariants, RandomValidImages) {
    std::mt19937 rng(20240611);
    TempDir dir;
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(Printf("round %d", round));
        std::vector<std::int32_t> typeOf;
        const S98Builder b = RandomImage(rng, typeOf);
        const Bytes& input = b.bytes();
        const VolumeSettings settings = RandomSettings(rng);

        // Both walks visit exactly the register writes of the stream, in order.
        const S98Image image = S98Image::FromBytes(input.data(), input.size());
        S98Layout layout;
        ASSERT_EQ(ReadHeader(image, layout), u"");
        const std::vector<Visit> visits = Visits<WalkMode::Checking>(image, layout);
        EXPECT_EQ(Visits<WalkMode::Trusting>(image, layout), visits);
        ASSERT_EQ(visits.size(), b.writes().size());
        std::set<std::size_t> mayChange;
        for (std::size_t i = 0; i < visits.size(); ++i) {
            const auto [offset, device, port, reg, data, type] = visits[i];
            EXPECT_EQ(offset, b.writes()[i]);
            EXPECT_EQ(type, typeOf[device]);
            if (IsRewritableWrite(type, port, reg)) {
                mayChange.insert(offset + 2);
            }
        }

        const JobRun run = RunJob(dir, input, settings);
        ASSERT_EQ(run.error, "");
        EXPECT_TRUE(run.inputUnchanged);
        if (settings.peakOnly) {
            EXPECT_FALSE(run.output);
            continue;
        }
        ASSERT_TRUE(run.output);
        ASSERT_EQ(run.output->size(), input.size());
        for (std::size_t i = 0; i < input.size(); ++i) {
            EXPECT_TRUE((*run.output)[i] == input[i] || mayChange.count(i)) << "byte " << i;
        }
    }
}

}  // namespace
}  // namespace morla::test
