// Jobs run on a fixed pool of threads and handed on in input order, and the
// folder flushes the jobs that ran at once share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/log_sink.h"
#include "job/convert_job.h"
#include "platform/file_io.h"

namespace morla {

// A job that has ended: the rows it appended, and how it ended.
struct FinishedJob {
    std::size_t index = 0;
    std::vector<std::u16string> rows;
    JobResult result;
};

// Handed each finished job in input order; false stops the run.
using FinishedJobHandler = std::function<bool(const FinishedJob&)>;
// The job of entry `index`, appending its rows to `log`.
using PoolJob = std::function<JobResult(std::size_t index, LogSink& log)>;

// Runs `job` on entries [first, end), up to `workers` at a time, and hands
// each finished job to `handle` on the calling thread, in input order. A job
// marked in `alone` runs with no other job beside it. A job starts only among
// the next 2 x `workers` to be handed on. When `handle` returns false no
// further job starts and the running ones end, unreported; RunOnPool then
// returns false. What a job throws is thrown again on the calling thread.
bool RunOnPool(std::size_t first, std::size_t end, std::size_t workers,
               const std::vector<bool>& alone, const PoolJob& job,
               const FinishedJobHandler& handle);

// The folder flushes of one run whose jobs leave them to the batch
// (OutputRules::DefersFolderFlush): one flush covers every rename into its
// folder done by then, so jobs that finish together into one folder share it.
class SharedFolderFlushes {
  public:
    // A job's output renamed into place, its folder not yet flushed. Called
    // from the workers.
    void Deferred(const PendingFolderFlush& pending);
    // On the calling thread, before the job is handed on: flushes the folder
    // of its output unless a flush since its rename has covered it, and turns
    // the job into a write error when the flush that covers it failed.
    void Settle(FinishedJob& job);
    // However the run ends (a stop, an exception): the outputs of jobs never
    // handed on are flushed too, where their folders can be opened (their
    // jobs are not reported, so nothing is promised about them).
    void FlushTheRest();

  private:
    struct Flush {
        std::uint64_t covered = 0;  // renames up to this number
        std::optional<FileFailure> failure;
    };
    std::map<std::u16string, Flush> done_;  // by folder, on the calling thread
    std::mutex mutex_;                      // guards deferred_
    // The folders whose flush jobs left to the batch, with their last rename.
    std::map<std::u16string, std::uint64_t> deferred_;
};

}  // namespace morla
