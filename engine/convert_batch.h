// The files of one drop or one command line, converted one after another.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "convert_job.h"
#include "file_io.h"
#include "log_sink.h"
#include "peak_analysis.h"

namespace morla {

// A batch knows, from its start, which files its inputs are, and which files
// it has written since, so that no job destroys the input of a later job or
// the output of an earlier one. A job's output is refused at its write step,
// before anything is written, when it is
//   - a file that was an input of the batch when the batch started and has
//     not been read yet (the job's own input included): "output file is also
//     an input.";
//   - a file the batch has already written: "output file already written.".
// Files are compared by identity, so any spelling of a path, a hard link or a
// symbolic link reaches the same file.
//
// Outputs go beside their inputs, or all into one folder given at the start.
//
// Album mode measures every file first and normalizes every file from the
// loudest levels of them all, so that the tracks of one soundtrack keep the
// balance between them.
class ConvertBatch : private OutputRules {
  public:
    // Takes the identities of the inputs that exist now. With an output
    // folder, every output is written into it under the name its job gives.
    explicit ConvertBatch(std::vector<std::u16string> paths, std::u16string outputFolder = {});

    std::size_t size() const { return paths_.size(); }
    const std::u16string& path(std::size_t index) const { return paths_[index]; }

    // Runs the job of input `index`; it appends only the job's own rows.
    // Jobs run in order: each input counts as read once its job has run.
    JobResult RunJob(std::size_t index, const VolumeSettings& settings, LogSink& log);

    // The job of input `index` as the front ends report it: the file's name,
    // the job's rows, then "-> ok" or "-> " and the message.
    JobResult Convert(std::size_t index, const VolumeSettings& settings, LogSink& log);

    // Album mode, before any job: measures every input (target range check,
    // read, header check, analysis walk) without a row or a write, and
    // returns the loudest levels over the files measured whole. A file that
    // fails here does not count; its job reports the failure later.
    PeakLevels MeasureAlbum(const VolumeSettings& settings);

  private:
    std::u16string OutputOf(const std::u16string& inputPath) const override;
    std::u16string CheckOutput(const std::u16string& outputPath) override;
    void OutputWritten(const FileIdentity& written) override;

    struct Input {
        std::optional<FileIdentity> identity;  // none when it did not exist at the start
        bool read = false;
    };
    std::vector<std::u16string> paths_;
    std::u16string outputFolder_;  // empty: beside each input
    std::vector<Input> inputs_;
    std::vector<FileIdentity> written_;
};

}  // namespace morla
