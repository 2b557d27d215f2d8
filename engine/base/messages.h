// Every result text a job can return. The texts are fixed; callers show them
// behind "-> ".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace morla {

// The ranges in these three texts are those of the levels in the chip model
// (kTotalLevelMax, kSsgVolumeMax, kRhythmLevelMax), written out as the fixed
// text shows them.
inline constexpr char16_t kFmTargetRangeError[] = u"FM normalize volume must be 0-127.";
inline constexpr char16_t kSsgTargetRangeError[] = u"SSG normalize volume must be 0-15.";
inline constexpr char16_t kRhythmTargetRangeError[] = u"RHYTHM normalize volume must be 0-63.";
inline constexpr char16_t kLoudnessTargetRangeError[] = u"loudness target must be -70 to 0 LUFS.";
inline constexpr char16_t kTruePeakCeilingRangeError[] =
    u"true-peak ceiling must be -30 to 0 dBTP.";
inline constexpr char16_t kInputOpenError[] = u"input file open error.";
// "imemory", with its leading 'i', is the text users and scripts know: it stays as
// written.
inline constexpr char16_t kMemoryAllocationError[] = u"imemory allocation error.";
inline constexpr char16_t kInputReadError[] = u"input file read error.";
inline constexpr char16_t kVersionError[] = u"S98 version error.";
inline constexpr char16_t kOutputOpenError[] = u"output file open error.";
inline constexpr char16_t kOutputWriteError[] = u"output file write error.";
// A batch never writes over one of its own inputs that it has yet to read, nor
// over an output it has already written.
inline constexpr char16_t kOutputIsInput[] = u"output file is also an input.";
inline constexpr char16_t kOutputAlreadyWritten[] = u"output file already written.";
// A folder of a batch that holds no S98 file.
inline constexpr char16_t kNoFileInFolder[] = u"no .s98 file in this folder.";
// The result row of an earlier output skipped by its batch, before the name
// of the input it came from; a success.
inline constexpr char16_t kSkippedOutputOf[] = u"skipped: output of ";
// The result row of a job of a dry run that would have written its output.
inline constexpr char16_t kDryRunOk[] = u"ok (dry run: nothing written)";

std::u16string DataOffsetErrorMessage(std::int32_t dataOffset);
std::u16string TagOffsetErrorMessage(std::int32_t tagOffset);
std::u16string UnexpectedEofMessage(std::size_t offset);
std::u16string CorruptedDataMessage(std::size_t offset, std::uint8_t command, std::uint8_t reg,
                                    std::uint8_t data);

}  // namespace morla
