// The files of one drop or one command line, converted as if one after
// another.
#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/log_sink.h"
#include "job/convert_job.h"
#include "passes/peak_analysis.h"
#include "platform/file_io.h"

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
// symbolic link reaches the same file. A written file is known by its stamp
// as it stood after its rename: when another process has since replaced it,
// the file now there is not the batch's, even where it got the old one's
// identity number.
//
// Outputs go beside their inputs, or all into one folder given at the start.
//
// Album mode measures every file first and normalizes every file from the
// loudest levels of them all, so that the tracks of one soundtrack keep the
// balance between them.
//
// ConvertAll may run several jobs at once, but only jobs that cannot affect
// one another; every other job runs alone, after all jobs before it have
// ended. The rows, the files written and every result are those of running
// the jobs one after another.

// A job that has ended: the rows Convert appended, and how it ended.
struct FinishedJob {
    std::size_t index = 0;
    std::vector<std::u16string> rows;
    JobResult result;
};

class ConvertBatch : private OutputRules {
  public:
    // Takes the identities of the inputs that exist now. With an output
    // folder, every output is written into it under the name its job gives.
    explicit ConvertBatch(std::vector<std::u16string> paths, std::u16string outputFolder = {});

    std::size_t size() const { return paths_.size(); }
    const std::u16string& path(std::size_t index) const { return paths_[index]; }

    // Runs the job of input `index`; it appends only the job's own rows.
    // Jobs run in input order (or overlap as ConvertAll lets them): each
    // input counts as read once its job has run.
    JobResult RunJob(std::size_t index, const VolumeSettings& settings, LogSink& log);

    // The job of input `index` as the front ends report it: the file's name,
    // the job's rows, then "-> ok" or "-> " and the message.
    JobResult Convert(std::size_t index, const VolumeSettings& settings, LogSink& log);

    // Handed each finished job in input order; false stops the batch.
    using FinishedJobHandler = std::function<bool(const FinishedJob&)>;

    // Runs Convert on every input, up to `workers` jobs at a time, and hands
    // each finished job to `handle` on the calling thread, in input order.
    // A job starts only among the next 2 x `workers` to be handed on. When
    // `handle` returns false no further job starts; the running ones end,
    // unreported.
    void ConvertAll(const VolumeSettings& settings, std::size_t workers,
                    const FinishedJobHandler& handle);

    // Album mode, before any job: measures every input (target range check,
    // read, header check, analysis walk) without a row or a write, and
    // returns the loudest levels over the files measured whole, up to
    // `workers` files at a time. A file that fails here does not count; its
    // job reports the failure later.
    PeakLevels MeasureAlbum(const VolumeSettings& settings, std::size_t workers = 1);

  private:
    std::u16string OutputOf(const std::u16string& inputPath) const override;
    std::u16string CheckOutput(const std::u16string& outputPath) override;
    void OutputWritten(const FileStamp& written) override;

    // For each input, whether its job must run alone (see ConvertAll).
    std::vector<bool> JobsThatRunAlone(const VolumeSettings& settings) const;
    using Job = std::function<JobResult(std::size_t index, LogSink& log)>;
    // Runs `job` on every input as ConvertAll describes.
    void Schedule(std::size_t workers, const std::vector<bool>& alone, const Job& job,
                  const FinishedJobHandler& handle);

    struct Input {
        std::optional<FileIdentity> identity;  // none when it did not exist at the start
        bool read = false;
    };
    std::vector<std::u16string> paths_;
    std::u16string outputFolder_;  // empty: beside each input
    std::vector<Input> inputs_;
    std::vector<FileStamp> written_;
    std::mutex state_;  // guards the inputs' read marks and written_
};

// One job on its own: a batch of one file. Returns the empty text on
// success, else the job's message.
std::u16string ConvertJob(const std::u16string& path, VolumeSettings settings, LogSink& log);

}  // namespace morla
