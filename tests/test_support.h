// Shared pieces of the engine tests: an S98 byte builder, a temporary folder,
// whole-file helpers, a recording LogSink and one-call job runners.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/log_sink.h"
#include "base/text.h"
#include "job/convert_batch.h"

namespace morla::test {

using Bytes = std::vector<std::uint8_t>;

// Header fields the tests change.
inline constexpr std::size_t kVersionAt = 0x03;
inline constexpr std::size_t kTagOffsetAt = 0x10;
inline constexpr std::size_t kDataOffsetAt = 0x14;
inline constexpr std::size_t kDeviceCountAt = 0x1C;

// Stores a 32-bit little-endian value.
void Put32(Bytes& bytes, std::size_t offset, std::uint32_t value);

// Builds an S98 image: "S98" and the version character, one device entry per
// given type (none: device count 0, the single default OPNA) and the command
// stream right after the device table. Appends return the offset of what they
// appended; the offsets of register writes are also kept in `writes()`.
class S98Builder {
  public:
    explicit S98Builder(std::vector<std::int32_t> deviceTypes = {}, char version = '3');

    std::size_t Write(int device, int port, int reg, int data);
    std::size_t Waits(std::size_t count) { return Raw(Bytes(count, 0xFF)); }
    std::size_t End() { return Raw({0xFD}); }
    std::size_t Raw(const Bytes& bytes);
    std::size_t Tag();  // points the tag offset here and appends a "[S98]" tag
    void Set32(std::size_t offset, std::uint32_t value) { Put32(bytes_, offset, value); }

    std::size_t dataOffset() const { return dataOffset_; }
    const std::vector<std::size_t>& writes() const { return writes_; }
    const Bytes& bytes() const { return bytes_; }

  private:
    Bytes bytes_;
    std::size_t dataOffset_;
    std::vector<std::size_t> writes_;
};

// A register write, of device 0 port 0 unless given.
struct W {
    int reg, data, port = 0, device = 0;
};
// A builder holding the given writes and no end command: the walk then runs
// to the end of the file.
S98Builder Stream(std::vector<std::int32_t> deviceTypes, const std::vector<W>& writes);

// Whether a job may change the data byte of a register write: level registers
// of OPN, OPN2 and OPNA devices only.
bool IsRewritableWrite(std::int32_t deviceType, int port, int reg);

// A fresh folder under the system's temporary folder, removed with its
// contents at the end of the test. Names are UTF-8.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(std::string_view name) const;

  private:
    std::filesystem::path path_;
};

// A path as the front ends hand it to the engine: UTF-16 on Windows, the
// bytes of the name (any, as POSIX allows) on POSIX.
std::u16string PathOf(const std::filesystem::path& path);

void WriteFileBytes(const std::filesystem::path& path, const Bytes& bytes);
Bytes ReadFileBytes(const std::filesystem::path& path);  // empty when not a file
std::vector<std::string> FolderEntries(const std::filesystem::path& folder);  // sorted, UTF-8

// printf into a std::string, for expected report lines.
std::string Printf(const char* format, ...) MORLA_PRINTF(1, 2);

class RecordingSink : public LogSink {
  public:
    void Append(std::u16string_view line) override { rows.emplace_back(line); }
    std::vector<std::string> Utf8Rows() const;  // readable in failure messages
    std::vector<std::u16string> rows;
};

// The window's boxes and number fields, one call per ticked box.
struct Options {
    VolumeSettings s;
    Options& Fm(std::int32_t v) { return s.fmDown = v, *this; }
    Options& Ssg(std::int32_t v) { return s.ssgDown = v, *this; }
    Options& Rhythm(std::int32_t v) { return s.rhythmDown = v, *this; }
    Options& FmTarget(std::int32_t v) { return s.fmTarget = v, *this; }
    Options& SsgTarget(std::int32_t v) { return s.ssgTarget = v, *this; }
    Options& RhythmTarget(std::int32_t v) { return s.rhythmTarget = v, *this; }
    Options& Detail() { return s.showDetail = true, *this; }
    Options& PeakOnly() { return s.peakOnly = true, *this; }
    Options& SecondPeak() { return s.useSecondPeak = true, *this; }
    Options& Gain(std::int64_t microDb) { return s.gainMicroDb = microDb, *this; }
    Options& KeepBalance() { return s.keepBalance = true, *this; }
    Options& Measure() { return s.measure = true, *this; }
    Options& Loudness(std::int64_t microLufs) { return s.loudnessMicroLufs = microLufs, *this; }
    operator const VolumeSettings&() const { return s; }
};

// Songs to be heard (-m) on the single default OPNA, at the default sync
// tick of 10 ms, lasting `seconds`:
// FM channel 1 under algorithm 7 holding a tone of about 440 Hz, its one
// carrier (operator 4) at total level `tl`, the fastest attack;
Bytes SongOfFmTone(int tl, int seconds = 5);
// the rhythm's bass drum at full level, keyed every half second;
Bytes SongOfDrums(int seconds = 5);
// nothing keyed, only waits.
Bytes SongOfSilence(int seconds = 5);

struct JobRun {
    std::string error;              // the result text, empty on success
    std::vector<std::string> rows;  // the lines the job appended
    std::optional<Bytes> output;    // the output file, when there is one after the job
    bool inputUnchanged = true;
};

// One job on its own: a batch of one file. Returns the empty text on
// success, else the job's message.
std::u16string RunSingleJob(const std::u16string& path, const VolumeSettings& settings,
                            LogSink& log);

// Runs RunSingleJob on `input` and reads `output` afterwards.
JobRun RunJob(const std::filesystem::path& input, const VolumeSettings& settings,
              const std::filesystem::path& output);
// Writes `image` as in.s98 into `dir`, removes any in_new.s98 of an earlier
// run and runs the job; the output is in_new.s98.
JobRun RunJob(const TempDir& dir, const Bytes& image, const VolumeSettings& settings);

}  // namespace morla::test
