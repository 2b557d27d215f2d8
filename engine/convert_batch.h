// The files of one drop or one command line, converted one after another.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "convert_job.h"
#include "file_io.h"
#include "log_sink.h"

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
class ConvertBatch : private OutputRules {
  public:
    // Takes the identities of the inputs that exist now.
    explicit ConvertBatch(std::vector<std::u16string> paths);

    std::size_t size() const { return paths_.size(); }
    const std::u16string& path(std::size_t index) const { return paths_[index]; }

    // Runs the job of input `index`; it appends only the job's own rows.
    // Jobs run in order: each input counts as read once its job has run.
    JobResult RunJob(std::size_t index, const VolumeSettings& settings, LogSink& log);

    // The job of input `index` as the front ends report it: the file's name,
    // the job's rows, then "-> ok" or "-> " and the message.
    JobResult Convert(std::size_t index, const VolumeSettings& settings, LogSink& log);

  private:
    std::u16string CheckOutput(const std::u16string& outputPath) override;
    void OutputWritten(const FileIdentity& written) override;

    struct Input {
        std::optional<FileIdentity> identity;  // none when it did not exist at the start
        bool read = false;
    };
    std::vector<std::u16string> paths_;
    std::vector<Input> inputs_;
    std::vector<FileIdentity> written_;
};

}  // namespace morla
