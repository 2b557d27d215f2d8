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
               const std::vector<bool>& alone, const PoolJob& job, const FinishedJobHandler& handle,
               const PoolIdle& idle) {
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
            while (!changed.wait_for(lock, kPoolIdleEvery, [&] { return slot.finished; })) {
                if (idle) {
                    lock.unlock();
                    if (!idle()) {
                        return false;
                    }
                    lock.lock();
                }
            }
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

GroupCommit::GroupCommit(FinishedJobHandler handle, Bounds bounds)
    : handle_(std::move(handle)), bounds_(bounds) {}

void GroupCommit::Deferred(const PendingFolderFlush& pending) {
    const std::lock_guard hold(mutex_);
    std::uint64_t& last = deferred_[pending.folder];
    last = std::max(last, pending.renamed);
}

bool GroupCommit::Add(const FinishedJob& job) {
    if (stopped_) {
        return false;
    }
    waiting_.push_back(job);
    rowsWaiting_ += job.rows.size();
    if (job.result.pendingFlush) {
        ++renamesWaiting_[job.result.pendingFlush->folder];
        if (!oldest_) {
            oldest_ = Clock::now();
        }
    }
    if (!oldest_) {
        return HandOnUnflushed();  // nothing to flush: the rows go on at once
    }
    const bool full =
        rowsWaiting_ >= bounds_.rows ||
        std::any_of(renamesWaiting_.begin(), renamesWaiting_.end(),
                    [&](const auto& folder) { return folder.second >= bounds_.renames; });
    return full || Clock::now() - *oldest_ >= bounds_.wait ? Commit() : true;
}

bool GroupCommit::Tick() {
    if (stopped_) {
        return false;
    }
    return oldest_ && Clock::now() - *oldest_ >= bounds_.wait ? Commit() : true;
}

bool GroupCommit::Drain() {
    if (stopped_) {
        return false;
    }
    return oldest_ ? Commit() : HandOnUnflushed();
}

bool GroupCommit::HandOnUnflushed() {
    while (!waiting_.empty()) {
        FinishedJob job = std::move(waiting_.front());
        waiting_.pop_front();
        rowsWaiting_ -= job.rows.size();
        if (!handle_(job)) {
            stopped_ = true;
            return false;
        }
    }
    return true;
}

bool GroupCommit::Commit() {
    // One flush per folder, started after every waiting job's rename: it
    // covers them all (and any rename a worker has made since).
    std::map<std::u16string, PendingFolderFlush> folders;
    for (const FinishedJob& job : waiting_) {
        if (job.result.pendingFlush) {
            folders.insert_or_assign(job.result.pendingFlush->folder, *job.result.pendingFlush);
        }
    }
    std::map<std::u16string, std::optional<FileFailure>> failures;
    for (const auto& [folder, pending] : folders) {
        std::uint64_t& covered = covered_[folder];
        const std::uint64_t now = RenamesSoFar();
        FileFailure failure;
        if (FlushFolderToDisk(pending, failure)) {
            covered = std::max(covered, now);
            failures[folder] = std::nullopt;
        } else {
            failures[folder] = failure;
        }
    }
    for (FinishedJob& job : waiting_) {
        if (!job.result.pendingFlush) {
            continue;
        }
        const std::optional<FileFailure>& failure = failures[job.result.pendingFlush->folder];
        job.result.pendingFlush.reset();
        if (failure) {
            job.result.message = kOutputWriteError;
            job.result.failure = *failure;
            if (!job.rows.empty()) {
                job.rows.back() = u"-> " + job.result.message;
            }
        }
    }
    renamesWaiting_.clear();
    oldest_.reset();
    return HandOnUnflushed();
}

void GroupCommit::FlushTheRest() {
    const std::lock_guard hold(mutex_);
    for (const auto& [folder, last] : deferred_) {
        if (covered_[folder] < last) {
            FileFailure ignored;
            FlushFolderToDisk(PendingFolderFlush{folder, last, nullptr}, ignored);
        }
    }
    deferred_.clear();
}

}  // namespace morla
