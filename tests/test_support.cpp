#include "test_support.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <utility>

#include "base/text.h"

namespace morla::test {

void Put32(Bytes& bytes, std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

S98Builder::S98Builder(std::vector<std::int32_t> deviceTypes, char version)
    : bytes_{'S', '9', '8', static_cast<std::uint8_t>(version)} {
    dataOffset_ = kHeaderSize + kDeviceEntrySize * deviceTypes.size();
    bytes_.resize(dataOffset_);
    Set32(kDataOffsetAt, static_cast<std::uint32_t>(dataOffset_));
    Set32(kDeviceCountAt, static_cast<std::uint32_t>(deviceTypes.size()));
    for (std::size_t i = 0; i < deviceTypes.size(); ++i) {
        Set32(kDeviceEntryOffset + kDeviceEntrySize * i,
              static_cast<std::uint32_t>(deviceTypes[i]));
    }
}

std::size_t S98Builder::Write(int device, int port, int reg, int data) {
    writes_.push_back(bytes_.size());
    return Raw({static_cast<std::uint8_t>(device * 2 + port), static_cast<std::uint8_t>(reg),
                static_cast<std::uint8_t>(data)});
}

std::size_t S98Builder::Raw(const Bytes& bytes) {
    const std::size_t at = bytes_.size();
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return at;
}

std::size_t S98Builder::Tag() {
    Set32(kTagOffsetAt, static_cast<std::uint32_t>(bytes_.size()));
    return Raw({'[', 'S', '9', '8', ']', 't', 'i', 't', 'l', 'e', '=', 'x', 0x0A});
}

S98Builder Stream(std::vector<std::int32_t> deviceTypes, const std::vector<W>& writes) {
    S98Builder b(std::move(deviceTypes));
    for (const W& w : writes) {
        b.Write(w.device, w.port, w.reg, w.data);
    }
    return b;
}

TempDir::TempDir() {
    std::random_device random;
    do {
        path_ = std::filesystem::temp_directory_path() / ("morla_test_" + std::to_string(random()));
    } while (!std::filesystem::create_directory(path_));
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path TempDir::operator/(std::string_view name) const {
    return path_ / std::u8string(name.begin(), name.end());
}

void WriteFileBytes(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write a test file");
    }
}

Bytes ReadFileBytes(const std::filesystem::path& path) {
    if (!std::filesystem::is_regular_file(path)) {
        return {};
    }
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> FolderEntries(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::u8string name = entry.path().filename().u8string();
        names.emplace_back(name.begin(), name.end());
    }
    std::sort(names.begin(), names.end());
    return names;
}

Bytes SongOfFmTone(int tl, int seconds) {
    S98Builder song;
    // The algorithm before the levels, as songs set them: the analysis knows
    // the carrier, so the FM peak is the carrier's TL.
    song.Write(0, 0, 0xB0, 0x07);                  // algorithm 7
    constexpr int kSlotOffset[4] = {0, 8, 4, 12};  // operators 1-4
    for (int op = 0; op < 4; ++op) {
        const int at = kSlotOffset[op];
        song.Write(0, 0, 0x30 + at, 0x01);                // MUL 1
        song.Write(0, 0, 0x40 + at, op == 3 ? tl : 127);  // only the carrier heard
        song.Write(0, 0, 0x50 + at, 0x1F);                // the fastest attack
        song.Write(0, 0, 0x80 + at, 0x0F);
    }
    song.Write(0, 0, 0xB4, 0xC0);  // both outputs
    song.Write(0, 0, 0xA4, 0x24);  // block 4, F-number 1039
    song.Write(0, 0, 0xA0, 0x0F);
    song.Write(0, 0, 0x28, 0x80);  // operator 4 of channel 1 keyed on
    song.Waits(static_cast<std::size_t>(seconds) * 100);
    song.End();
    return song.bytes();
}

Bytes SongOfDrums(int seconds) {
    S98Builder song;
    song.Write(0, 0, 0x11, 63);    // rhythm total level
    song.Write(0, 0, 0x18, 0xDF);  // bass drum: both outputs, level 31
    for (int beat = 0; beat < 2 * seconds; ++beat) {
        song.Write(0, 0, 0x10, 0x01);
        song.Waits(50);
    }
    song.End();
    return song.bytes();
}

Bytes SongOfSilence(int seconds) {
    S98Builder song;
    song.Waits(static_cast<std::size_t>(seconds) * 100);
    song.End();
    return song.bytes();
}

bool IsRewritableWrite(std::int32_t deviceType, int port, int reg) {
    const bool ssgOrRhythm = (reg >= 0x08 && reg <= 0x0A) || reg == 0x11;
    const bool totalLevel = reg >= 0x40 && reg <= 0x4E && (reg & 3) != 3;
    return deviceType >= 2 && deviceType <= 4 && (ssgOrRhythm ? port == 0 : totalLevel);
}

std::string Printf(const char* format, ...) {
    char buffer[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

std::vector<std::string> RecordingSink::Utf8Rows() const {
    std::vector<std::string> utf8;
    for (const auto& row : rows) {
        utf8.push_back(ToUtf8(row));
    }
    return utf8;
}

std::u16string PathOf(const std::filesystem::path& path) {
#if defined(_WIN32)
    return path.u16string();
#else
    return FromUtf8(path.string());
#endif
}

std::u16string RunSingleJob(const std::u16string& path, const VolumeSettings& settings,
                            LogSink& log) {
    ConvertBatch batch({path});
    return batch.RunJob(0, settings, log).message;
}

JobRun RunJob(const std::filesystem::path& input, const VolumeSettings& settings,
              const std::filesystem::path& output) {
    const Bytes before = ReadFileBytes(input);
    const std::u16string path = PathOf(input);
    RecordingSink sink;
    JobRun run;
    run.error = ToUtf8(RunSingleJob(path, settings, sink));
    run.rows = sink.Utf8Rows();
    if (std::filesystem::is_regular_file(output)) {
        run.output = ReadFileBytes(output);
    }
    run.inputUnchanged = ReadFileBytes(input) == before;
    return run;
}

JobRun RunJob(const TempDir& dir, const Bytes& image, const VolumeSettings& settings) {
    std::filesystem::remove(dir / "in_new.s98");
    WriteFileBytes(dir / "in.s98", image);
    return RunJob(dir / "in.s98", settings, dir / "in_new.s98");
}

}  // namespace morla::test
