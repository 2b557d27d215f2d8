// Jobs run on a fixed pool of threads and handed on in input order, and the
// group commit of their outputs' folder flushes.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
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
// Called on the calling thread each time it has waited kPoolIdleEvery for
// the next job to finish; false stops the run.
using PoolIdle = std::function<bool()>;
inline constexpr std::chrono::milliseconds kPoolIdleEvery{10};

// Runs `job` on entries [first, end), up to `workers` at a time, and hands
// each finished job to `handle` on the calling thread, in input order. A job
// marked in `alone` runs with no other job beside it. A job starts only among
// the next 2 x `workers` to be handed on. When `handle` returns false no
// further job starts and the running ones end, unreported; RunOnPool then
// returns false. What a job throws is thrown again on the calling thread.
// While the calling thread waits for a job, `idle` (if any) is called every
// kPoolIdleEvery.
bool RunOnPool(std::size_t first, std::size_t end, std::size_t workers,
               const std::vector<bool>& alone, const PoolJob& job, const FinishedJobHandler& handle,
               const PoolIdle& idle = {});

// Group commit, as databases do for their logs, for the jobs of one run that
// leave their folder flushes to the batch (OutputRules::DefersFolderFlush): a
// finished job waits here, in input order, with its rows and its output's
// name (never its image), while the workers go on; one flush of a folder
// then covers every rename into it done by then. The waiting jobs are handed
// on, in order, once the flushes that cover them have finished: when the
// renames waiting on one folder reach `renames`, when the waiting rows reach
// `rows`, when the oldest waiting output has waited `wait`, and at the end.
// A job whose covering flush failed is handed on as a write error (its
// rename stands, it is not known to be on disk), and so is every other job
// that flush covered. Jobs with nothing to flush wait only behind those
// before them.
class GroupCommit {
  public:
    struct Bounds {
        std::size_t renames = 64;
        std::size_t rows = std::size_t{1} << 16;
        std::chrono::milliseconds wait{50};
    };
    GroupCommit(FinishedJobHandler handle, Bounds bounds);
    explicit GroupCommit(FinishedJobHandler handle) : GroupCommit(std::move(handle), Bounds{}) {}

    // A job's output renamed into place, its folder not yet flushed. Called
    // from the workers, as the job ends.
    void Deferred(const PendingFolderFlush& pending);
    // On the calling thread, each finished job in input order. False once
    // the handler has stopped the run.
    bool Add(const FinishedJob& job);
    // On the calling thread while it waits for the next job: commits when
    // the oldest waiting output has waited long enough. False once stopped.
    bool Tick();
    // Flushes and hands on every job that waits. False once stopped.
    bool Drain();
    // However the run ends (a stop, an exception): the outputs of jobs never
    // handed on are flushed too, where their folders can be opened (their
    // jobs are not reported, so nothing is promised about them).
    void FlushTheRest();

  private:
    using Clock = std::chrono::steady_clock;
    // Flushes the folders the waiting jobs renamed into, then hands them on.
    bool Commit();
    // Hands on the jobs at the front that wait for no flush.
    bool HandOnUnflushed();

    FinishedJobHandler handle_;
    Bounds bounds_;
    std::deque<FinishedJob> waiting_;
    std::map<std::u16string, std::size_t> renamesWaiting_;  // by folder
    std::size_t rowsWaiting_ = 0;
    std::optional<Clock::time_point> oldest_;  // of the outputs waiting
    bool stopped_ = false;
    // The renames each folder's flushes have covered, on the calling thread.
    std::map<std::u16string, std::uint64_t> covered_;
    std::mutex mutex_;  // guards deferred_
    // The folders whose flush jobs left to the batch, with their last rename.
    std::map<std::u16string, std::uint64_t> deferred_;
};

}  // namespace morla
