// Where a job's output goes: its name beside the input, and the rules a batch
// puts on it (refusals at the write step, dry runs, shared folder flushes).
#pragma once

#include <string>
#include <string_view>

#include "platform/file_io.h"

namespace morla {

// The output name: the input path with the extension of its file-name part
// replaced by "_new.s98" (a name with no '.' after its first character gets
// the suffix appended). A '.' in a folder name is never cut.
std::u16string OutputPathFor(std::u16string_view inputPath);

// Where a job's output goes, and what its batch decides about it (see
// ConvertBatch).
class OutputRules {
  public:
    virtual ~OutputRules() = default;
    // The output's path for the input at `inputPath`.
    virtual std::u16string OutputOf(const std::u16string& inputPath) const = 0;
    // At the write step, before anything is written: the empty text when the
    // job may write `outputPath`, else the job's message.
    virtual std::u16string CheckOutput(const std::u16string& outputPath) = 0;
    // Before the output is made (not in a dry run): makes the folder it goes
    // into when the batch's rules put it where there may be none yet. The
    // empty text when it is there, else the job's message, with the
    // system's reason in `failure`.
    virtual std::u16string MakeOutputFolder(const std::u16string& /*outputPath*/,
                                            FileFailure& /*failure*/) {
        return {};
    }
    // The job has written its output, now the file `written`.
    virtual void OutputWritten(const FileStamp& written) = 0;
    // A dry run: the job takes every step but the write, and reports here
    // the output it would have written.
    virtual bool DryRun() const { return false; }
    virtual void OutputPlanned(const std::u16string& /*outputPath*/) {}
    // Whether the job leaves its output's folder flush to the batch
    // (JobResult::pendingFlush), which then flushes before it reports the job.
    virtual bool DefersFolderFlush() const { return false; }
};

}  // namespace morla
