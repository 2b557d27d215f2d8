#include "job/worker_pool.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <thread>

#include "base/messages.h"

namespace morla {
namespace {

// A job's rows, kept until they are handed on, and how the job ended.
struct Slot : LogSink {
    void Append(std::u16string_view line) override { job.rows.emplace_back(line); }
    FinishedJob job;
    std::exception_ptr error;  // what the job threw, for the calling thread
    bool finished = false;
};

}  // namespace

// Jobs start in input order, on a fixed pool of `workers` threads that each
// take the next job. A job that may overlap starts while fewer than `workers`
// jobs run and none of them runs alone; a job that runs alone starts when no
// job runs, and no job starts while it runs. The calling thread hands the
// jobs on in input order as they finish; a job starts only among the next
// 2 x `workers` to be handed on, so a long job holds back few finished ones,
// and few have run past a stop.
bool RunOnPool(std::size_t first, std::size_t end, std::size_t workers,
               const std::vector<bool>& alone, const PoolJob& job,
               const FinishedJobHandler& handle) {
    if (workers <= 1) {
        for (std::size_t index = first; index < end; ++index) {
            Slot slot;
            slot.job.index = index;
            slot.job.result = job(index, slot);
            if (!handle(slot.job)) {
                return false;
            }
        }
        return true;
    }
    // A job starts only among the next 2 x `workers` to be handed on, so as
    // many slots, used in turn, hold every job between its start and its
    // handing on, however long the batch.
    std::vector<Slot> slots(std::min(end - first, 2 * workers));
    const auto slotOf = [&](std::size_t index) -> Slot& {
        return slots[(index - first) % slots.size()];
    };
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t next = first;  // the job to hand on next
    std::size_t started = first;
    std::size_t busy = 0;  // of `workers`; a job that runs alone takes them all
    bool stopping = false;
    const auto cost = [&](std::size_t index) { return alone[index] ? workers : 1; };
    const auto mayStart = [&] {
        return started < std::min(end, next + 2 * workers) && busy + cost(started) <= workers;
    };
    const auto work = [&] {
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [&] { return stopping || started == end || mayStart(); });
            if (stopping || started == end) {
                return;
            }
            const std::size_t index = started++;
            busy += cost(index);
            lock.unlock();
            Slot& slot = slotOf(index);
            slot.job.index = index;
            try {
                slot.job.result = job(index, slot);
            } catch (...) {
                slot.error = std::current_exception();
            }
            lock.lock();
            slot.finished = true;
            busy -= cost(index);
            changed.notify_all();
        }
    };
    std::vector<std::thread> pool;
    // On every way out the workers stop taking jobs and end, the running
    // jobs with them, before the slots go.
    struct EndPool {
        std::vector<std::thread>& pool;
        std::mutex& mutex;
        std::condition_variable& changed;
        bool& stopping;
        ~EndPool() {
            {
                const std::lock_guard hold(mutex);
                stopping = true;
            }
            changed.notify_all();
            for (std::thread& thread : pool) {
                thread.join();
            }
        }
    } endPool{pool, mutex, changed, stopping};
    for (std::size_t i = 0; i < std::min(workers, end - first); ++i) {
        pool.emplace_back(work);
    }
    for (std::size_t index = first; index < end; ++index) {
        Slot& slot = slotOf(index);
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return slot.finished; });
        }
        if (slot.error) {
            std::rethrow_exception(slot.error);
        }
        const bool goOn = handle(slot.job);
        if (!goOn) {
            return false;
        }
        {
            const std::lock_guard hold(mutex);
            slot.job = {};  // free for the job `slots.size()` on
            slot.finished = false;
            next = index + 1;  // the window of jobs that may start moves on
        }
        changed.notify_all();
    }
    return true;
}

void SharedFolderFlushes::Deferred(const PendingFolderFlush& pending) {
    const std::lock_guard hold(mutex_);
    std::uint64_t& last = deferred_[pending.folder];
    last = std::max(last, pending.renamed);
}

void SharedFolderFlushes::Settle(FinishedJob& job) {
    if (!job.result.pendingFlush) {
        return;
    }
    const PendingFolderFlush pending = *job.result.pendingFlush;
    job.result.pendingFlush.reset();
    Flush& flush = done_[pending.folder];
    if (flush.covered < pending.renamed) {
        // Covers every rename done by now, this job's and those of the jobs
        // that finished meanwhile into the same folder.
        flush.covered = RenamesSoFar();
        FileFailure failure;
        flush.failure.reset();
        if (!FlushFolderToDisk(pending, failure)) {
            flush.failure = failure;
        }
    }
    if (flush.failure) {
        // The rename stands, but the job cannot promise it is on disk.
        job.result.message = kOutputWriteError;
        job.result.failure = *flush.failure;
        if (!job.rows.empty()) {
            job.rows.back() = u"-> " + job.result.message;
        }
    }
}

void SharedFolderFlushes::FlushTheRest() {
    const std::lock_guard hold(mutex_);
    for (const auto& [folder, last] : deferred_) {
        if (done_[folder].covered < last) {
            FileFailure ignored;
            FlushFolderToDisk(PendingFolderFlush{folder, last, nullptr}, ignored);
        }
    }
    deferred_.clear();
}

}  // namespace morla
