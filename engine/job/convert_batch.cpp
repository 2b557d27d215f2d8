#include "job/convert_batch.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <thread>
#include <tuple>

#include "base/messages.h"
#include "base/text.h"

namespace morla {
namespace {

// Whether a file system could take the two output names for one file: the
// same length and, where both have ASCII, the same letters in any case.
// Other characters are taken to match anything, as a case-insensitive file
// system may fold them.
bool MayNameOneFile(std::u16string_view a, std::u16string_view b) {
    const auto fold = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char16_t x, char16_t y) {
               return x >= 0x80 || y >= 0x80 || fold(x) == fold(y);
           });
}

// A job's rows, kept until they are handed on, and how the job ended.
struct Slot : LogSink {
    void Append(std::u16string_view line) override { job.rows.emplace_back(line); }
    FinishedJob job;
    std::exception_ptr error;  // what the job threw, for the calling thread
    std::thread thread;
    bool finished = false;
};

}  // namespace

ConvertBatch::ConvertBatch(std::vector<std::u16string> paths, std::u16string outputFolder)
    : paths_(std::move(paths)), outputFolder_(std::move(outputFolder)) {
    inputs_.reserve(paths_.size());
    for (const std::u16string& path : paths_) {
        inputs_.push_back({IdentifyFile(path)});
    }
}

JobResult ConvertBatch::RunJob(std::size_t index, const VolumeSettings& settings, LogSink& log) {
    // However the job ends (an exception included), its input counts as read.
    struct MarkRead {
        ConvertBatch& batch;
        std::size_t index;
        ~MarkRead() {
            const std::lock_guard hold(batch.state_);
            batch.inputs_[index].read = true;
        }
    } markRead{*this, index};
    return ConvertJob(paths_[index], settings, log, *this);
}

JobResult ConvertBatch::Convert(std::size_t index, const VolumeSettings& settings, LogSink& log) {
    log.Append(FileNamePart(paths_[index]));
    JobResult result = RunJob(index, settings, log);
    log.Append(result.message.empty() ? std::u16string(u"-> ok") : u"-> " + result.message);
    return result;
}

void ConvertBatch::ConvertAll(const VolumeSettings& settings, std::size_t workers,
                              const FinishedJobHandler& handle) {
    const auto convert = [&](std::size_t index, LogSink& log) {
        return Convert(index, settings, log);
    };
    Schedule(workers, JobsThatRunAlone(settings), convert, handle);
}

PeakLevels ConvertBatch::MeasureAlbum(const VolumeSettings& settings, std::size_t workers) {
    VolumeSettings measure = settings;
    measure.peakOnly = true;  // up to the analysis walk, nothing written
    const auto measureOne = [&](std::size_t index, LogSink& log) {
        return ConvertJob(paths_[index], measure, log, *this);
    };
    PeakLevels album;
    const auto takeLoudest = [&](const FinishedJob& job) {
        if (job.result.peaks) {
            TakeLoudest(album, *job.result.peaks);
        }
        return true;
    };
    Schedule(workers, std::vector<bool>(size()), measureOne, takeLoudest);
    return album;
}

// Two jobs that overlap must not be able to tell: neither may read, replace or
// decide about a file the other writes. A job may overlap others when
//   - its input existed when the batch started (a missing input might be
//     another job's output, through any name or link);
//   - its output, if it exists when the run begins, is no input of the batch
//     and no other job's output (by identity), so its check at the write step
//     passes whatever the other jobs have read or written;
//   - no other job's output may name the same file (same folder, a name a
//     case-insensitive file system could fold to the same).
// A peak-only run writes nothing, so every job may overlap.
std::vector<bool> ConvertBatch::JobsThatRunAlone(const VolumeSettings& settings) const {
    std::vector<bool> alone(size(), false);
    if (settings.peakOnly) {
        return alone;
    }
    struct Output {
        FileIdentity folder;
        std::u16string name;
        std::size_t index;
    };
    std::vector<Output> outputs;
    std::vector<std::optional<FileIdentity>> existing(size());  // outputs there already
    for (std::size_t index = 0; index < size(); ++index) {
        const std::u16string path = OutputOf(paths_[index]);
        const std::u16string_view name = FileNamePart(path);
        // The folder part ends in a separator (or is empty): "." names the folder.
        const std::optional<FileIdentity> folder =
            IdentifyFile(path.substr(0, path.size() - name.size()) + u".");
        existing[index] = IdentifyFile(path);
        alone[index] = !inputs_[index].identity || !folder;
        if (folder) {
            outputs.push_back({*folder, std::u16string(name), index});
        }
    }
    // An existing output that is an input, or that another job's output
    // reaches too.
    for (std::size_t index = 0; index < size(); ++index) {
        if (!existing[index]) {
            continue;
        }
        const auto sameFile = [&](const auto& identity) { return identity == existing[index]; };
        if (std::count_if(existing.begin(), existing.end(), sameFile) > 1 ||
            std::any_of(inputs_.begin(), inputs_.end(),
                        [&](const Input& input) { return sameFile(input.identity); })) {
            alone[index] = true;
        }
    }
    // Only outputs in one folder with names of one length can collide.
    const auto group = [](const Output& output) {
        return std::tuple(output.folder.volume, output.folder.file, output.name.size());
    };
    std::sort(outputs.begin(), outputs.end(),
              [&](const Output& a, const Output& b) { return group(a) < group(b); });
    for (auto first = outputs.begin(); first != outputs.end();) {
        const auto last = std::find_if(first, outputs.end(),
                                       [&](const Output& o) { return group(o) != group(*first); });
        for (auto a = first; a != last; ++a) {
            for (auto b = a + 1; b != last; ++b) {
                if (MayNameOneFile(a->name, b->name)) {
                    alone[a->index] = alone[b->index] = true;
                }
            }
        }
        first = last;
    }
    return alone;
}

// Jobs start in input order. A job that may overlap starts while fewer than
// `workers` jobs run and none of them runs alone; a job that runs alone
// starts when no job runs, and no job starts while it runs. The calling
// thread hands the jobs on in input order as they finish; a job starts only
// among the next 2 x `workers` to be handed on, so a long job holds back few
// finished ones, and few have run past a stop.
void ConvertBatch::Schedule(std::size_t workers, const std::vector<bool>& alone, const Job& job,
                            const FinishedJobHandler& handle) {
    if (workers <= 1) {
        for (std::size_t index = 0; index < size(); ++index) {
            Slot slot;
            slot.job.index = index;
            slot.job.result = job(index, slot);
            if (!handle(slot.job)) {
                return;
            }
        }
        return;
    }
    std::vector<Slot> slots(size());
    std::mutex mutex;
    std::condition_variable ended;
    std::size_t next = 0;  // the job to hand on next
    std::size_t started = 0;
    std::size_t busy = 0;  // of `workers`; a job that runs alone takes them all
    const auto cost = [&](std::size_t index) { return alone[index] ? workers : 1; };
    // On every way out, the running jobs end before their slots go; the lock
    // below is released first.
    struct JoinAll {
        std::vector<Slot>& slots;
        ~JoinAll() {
            for (Slot& slot : slots) {
                if (slot.thread.joinable()) {
                    slot.thread.join();
                }
            }
        }
    } joinAll{slots};

    const auto run = [&](std::size_t index) {
        Slot& slot = slots[index];
        try {
            slot.job.result = job(index, slot);
        } catch (...) {
            slot.error = std::current_exception();
        }
        const std::lock_guard hold(mutex);
        slot.finished = true;
        busy -= cost(index);
        ended.notify_all();
    };
    const auto startWhatMay = [&] {
        for (; started < std::min(size(), next + 2 * workers) && busy + cost(started) <= workers;
             ++started) {
            slots[started].job.index = started;
            slots[started].thread = std::thread(run, started);
            busy += cost(started);
        }
    };
    std::unique_lock lock(mutex);
    for (; next < size(); ++next) {
        Slot& slot = slots[next];
        ended.wait(lock, [&] {
            startWhatMay();
            return slot.finished;
        });
        lock.unlock();
        slot.thread.join();
        if (slot.error) {
            std::rethrow_exception(slot.error);
        }
        const bool goOn = handle(slot.job);
        slot.job.rows = {};
        lock.lock();
        if (!goOn) {
            return;
        }
    }
}

std::u16string ConvertJob(const std::u16string& path, VolumeSettings settings, LogSink& log) {
    ConvertBatch batch({path});
    return batch.RunJob(0, settings, log).message;
}

std::u16string ConvertBatch::OutputOf(const std::u16string& inputPath) const {
    const std::u16string beside = OutputPathFor(inputPath);
    return outputFolder_.empty() ? beside : PathInFolder(outputFolder_, FileNamePart(beside));
}

std::u16string ConvertBatch::CheckOutput(const std::u16string& outputPath) {
    const std::optional<FileStamp> output = StampFile(outputPath);
    if (!output) {
        return {};  // a new file
    }
    const std::lock_guard hold(state_);
    const bool unreadInput = std::any_of(inputs_.begin(), inputs_.end(), [&](const Input& input) {
        return !input.read && input.identity == output->identity;
    });
    if (unreadInput) {
        return kOutputIsInput;
    }
    // By stamp: a file another process put there since, under a number
    // freed by one of ours, is not ours.
    if (std::find(written_.begin(), written_.end(), *output) != written_.end()) {
        return kOutputAlreadyWritten;
    }
    return {};
}

void ConvertBatch::OutputWritten(const FileStamp& written) {
    const std::lock_guard hold(state_);
    written_.push_back(written);
}

}  // namespace morla
