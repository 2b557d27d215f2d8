#include "job/convert_batch.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <map>
#include <thread>
#include <tuple>

#include "base/messages.h"
#include "base/text.h"
#include "job/collection.h"

namespace morla {
namespace {

// Whether a file system could take the two output names for one file: the
// same length and, where both have ASCII, the same letters in any case.
// Other characters are taken to match anything, as a case-insensitive file
// system may fold them.
bool MayNameOneFile(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) {
               return x >= 0x80 || y >= 0x80 || AsciiLower(x) == AsciiLower(y);
           });
}

// The identity of the folder a path's file is in ("." names it, the folder
// part ending in a separator or being empty).
std::optional<FileIdentity> FolderIdentityOf(std::u16string_view path) {
    return IdentifyFile(std::u16string(FolderPart(path)) + u".");
}

// A job's rows, kept until they are handed on, and how the job ended.
struct Slot : LogSink {
    void Append(std::u16string_view line) override { job.rows.emplace_back(line); }
    FinishedJob job;
    std::exception_ptr error;  // what the job threw, for the calling thread
    bool finished = false;
};

}  // namespace

ConvertBatch::ConvertBatch(std::vector<std::u16string> paths, BatchOptions options)
    : options_(std::move(options)) {
    Expand(paths);
    FindLeftovers();
    inputs_.resize(entries_.size());
    for (std::size_t index = 0; index < entries_.size(); ++index) {
        if (entries_[index].kind == EntryKind::File) {
            inputs_[index].identity = IdentifyFile(entries_[index].path);
        }
    }
}

// The entries in the order they run: as given, folders expanded in place; in
// album mode album by album, the albums in the order they first appear.
void ConvertBatch::Expand(const std::vector<std::u16string>& paths) {
    std::optional<std::size_t> direct;  // the album of the files named directly
    const auto newAlbum = [&](std::u16string label) {
        albums_.push_back({std::move(label), 0, 0, std::nullopt});
        return albums_.size() - 1;
    };
    for (const std::u16string& path : paths) {
        if (!IsFolder(path)) {
            if (!direct) {
                direct = newAlbum({});
            }
            entries_.push_back({EntryKind::File, path, *direct});
            continue;
        }
        const std::vector<CollectedFolder> folders = CollectFolder(path);
        if (folders.empty()) {
            entries_.push_back({EntryKind::EmptyFolder, path, newAlbum(path)});
        }
        for (const CollectedFolder& folder : folders) {
            const std::size_t album = newAlbum(folder.path);
            for (const std::u16string& file : folder.files) {
                entries_.push_back({EntryKind::File, file, album});
            }
        }
    }
    if (!options_.albums) {
        return;
    }
    std::stable_sort(entries_.begin(), entries_.end(),
                     [](const Entry& a, const Entry& b) { return a.album < b.album; });
    for (std::size_t index = 0; index < entries_.size(); ++index) {
        Album& album = albums_[entries_[index].album];
        if (index == 0 || entries_[index - 1].album != entries_[index].album) {
            album.first = index;
        }
        album.end = index + 1;
    }
}

// A file whose name is the output name of another file of the batch, in the
// same folder, is that file's earlier output. Folders are compared by
// identity (any spelling), names as the system compares them. Every entry
// that reaches such a file is skipped, whether a folder brought it or it was
// named directly, once or more: none of them is an input whose job could make
// the other file's job refuse its output.
void ConvertBatch::FindLeftovers() {
    // The entries of each file, by folder and name.
    using Key = std::pair<std::tuple<std::uint64_t, std::uint64_t>, std::u16string>;
    const auto keyOf = [](const FileIdentity& folder, std::u16string_view path) {
        return Key(std::tuple(folder.volume, folder.file), NameKey(FileNamePart(path)));
    };
    std::map<Key, std::vector<std::size_t>> files;
    std::vector<std::optional<FileIdentity>> folders(entries_.size());
    for (std::size_t index = 0; index < entries_.size(); ++index) {
        if (entries_[index].kind != EntryKind::File) {
            continue;
        }
        folders[index] = FolderIdentityOf(entries_[index].path);
        if (folders[index]) {
            files[keyOf(*folders[index], entries_[index].path)].push_back(index);
        }
    }
    std::vector<std::optional<std::size_t>> leftoverOf(entries_.size());
    for (std::size_t index = 0; index < entries_.size(); ++index) {
        if (!folders[index]) {
            continue;
        }
        const auto found = files.find(keyOf(*folders[index], OutputPathFor(entries_[index].path)));
        if (found == files.end()) {
            continue;
        }
        for (const std::size_t output : found->second) {
            if (output != index) {
                leftoverOf[output] = index;
            }
        }
    }
    for (std::size_t index = 0; index < entries_.size(); ++index) {
        if (leftoverOf[index]) {
            entries_[index].kind = EntryKind::Leftover;
            entries_[index].source = *leftoverOf[index];
        }
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
    VolumeSettings jobSettings = settings;
    if (options_.albums) {
        const std::lock_guard hold(state_);
        jobSettings.normalizePeaks = albums_[entries_[index].album].peaks;
    }
    return ConvertJob(entries_[index].path, jobSettings, log, *this);
}

bool ConvertBatch::OpensAlbum(std::size_t index) const {
    return options_.albums && entries_[index].kind != EntryKind::EmptyFolder &&
           albums_[entries_[index].album].first == index;
}

void ConvertBatch::AppendAlbumRows(std::size_t index, LogSink& log) const {
    const Album& album = albums_[entries_[index].album];
    log.Append(u"ALBUM: " + (album.label.empty() ? u"files given directly" : album.label));
    log.Append(u"ALBUM " + FormatPeakLine(album.peaks.value_or(PeakLevels{})));
}

JobResult ConvertBatch::Convert(std::size_t index, const VolumeSettings& settings, LogSink& log) {
    if (OpensAlbum(index)) {
        bool measured = false;
        {
            const std::lock_guard hold(state_);
            measured = albums_[entries_[index].album].peaks.has_value();
        }
        if (!measured) {
            MeasureAlbum(entries_[index].album, settings, 1);
        }
        AppendAlbumRows(index, log);
    }
    const Entry& entry = entries_[index];
    JobResult result;
    switch (entry.kind) {
        case EntryKind::EmptyFolder:
            log.Append(entry.path);
            result.message = kNoFileInFolder;
            break;
        case EntryKind::Leftover:
            log.Append(FileNamePart(entry.path));
            log.Append(u"-> " + (kSkippedOutputOf +
                                 std::u16string(FileNamePart(entries_[entry.source].path))));
            return result;
        case EntryKind::File:
            log.Append(FileNamePart(entry.path));
            result = RunJob(index, settings, log);
            if (result.message.empty() && options_.dryRun && !settings.peakOnly) {
                log.Append(std::u16string(u"-> ") + kDryRunOk);
                return result;
            }
            break;
    }
    log.Append(result.message.empty() ? std::u16string(u"-> ok") : u"-> " + result.message);
    return result;
}

// The folder flushes of one ConvertAll: for each folder, the renames the
// last flush covered and whether it failed.
struct ConvertBatch::FolderFlushes {
    struct Flush {
        std::uint64_t covered = 0;  // renames up to this number
        std::optional<FileFailure> failure;
    };
    std::map<std::u16string, Flush> done;
};

void ConvertBatch::Settle(FinishedJob& job, FolderFlushes& flushes) {
    if (!job.result.pendingFlush) {
        return;
    }
    const PendingFolderFlush pending = *job.result.pendingFlush;
    job.result.pendingFlush.reset();
    FolderFlushes::Flush& flush = flushes.done[pending.folder];
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

void ConvertBatch::ConvertAll(const VolumeSettings& settings, std::size_t workers,
                              const FinishedJobHandler& handle) {
    const auto convert = [&](std::size_t index, LogSink& log) {
        JobResult result = Convert(index, settings, log);
        if (result.pendingFlush) {
            const std::lock_guard hold(state_);
            std::uint64_t& last = deferred_[result.pendingFlush->folder];
            last = std::max(last, result.pendingFlush->renamed);
        }
        return result;
    };
    // Folder flushes are shared only among jobs that run at once, and every
    // job is settled before it is handed on.
    FolderFlushes flushes;
    const auto settled = [&](const FinishedJob& finished) {
        if (!finished.result.pendingFlush) {
            return handle(finished);
        }
        FinishedJob job = finished;
        Settle(job, flushes);
        return handle(job);
    };
    // However the run ends (a stop, an exception), the outputs of jobs never
    // handed on are flushed too, where their folders can be opened (their
    // jobs are not reported, so nothing is promised about them).
    struct FlushTheRest {
        ConvertBatch& batch;
        FolderFlushes& flushes;
        ~FlushTheRest() {
            batch.defersFlush_ = false;
            for (const auto& [folder, last] : batch.deferred_) {
                if (flushes.done[folder].covered < last) {
                    FileFailure ignored;
                    FlushFolderToDisk(PendingFolderFlush{folder, last, nullptr}, ignored);
                }
            }
            batch.deferred_.clear();
        }
    } flushTheRest{*this, flushes};
    defersFlush_ = workers > 1;
    const std::vector<bool> alone = JobsThatRunAlone(settings);
    if (!options_.albums) {
        Schedule(0, size(), workers, alone, convert, settled);
        return;
    }
    // Album by album: each measured, then converted, before the next.
    for (std::size_t first = 0; first < size();) {
        const std::size_t album = entries_[first].album;
        const std::size_t end =
            entries_[first].kind == EntryKind::EmptyFolder ? first + 1 : albums_[album].end;
        if (OpensAlbum(first)) {
            MeasureAlbum(album, settings, workers);
        }
        if (!Schedule(first, end, workers, alone, convert, settled)) {
            return;
        }
        first = end;
    }
}

void ConvertBatch::MeasureAlbum(std::size_t album, const VolumeSettings& settings,
                                std::size_t workers) {
    VolumeSettings measure = settings;
    measure.peakOnly = true;  // up to the analysis walk, nothing written
    const auto measureOne = [&](std::size_t index, LogSink& log) {
        if (entries_[index].kind != EntryKind::File) {
            return JobResult{};  // a leftover is not measured
        }
        return ConvertJob(entries_[index].path, measure, log, *this);
    };
    PeakLevels loudest;
    const auto takeLoudest = [&](const FinishedJob& job) {
        if (job.result.peaks) {
            TakeLoudest(loudest, *job.result.peaks);
        }
        return true;
    };
    Schedule(albums_[album].first, albums_[album].end, workers, std::vector<bool>(size()),
             measureOne, takeLoudest);
    const std::lock_guard hold(state_);
    albums_[album].peaks = loudest;
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
        if (entries_[index].kind != EntryKind::File) {
            continue;  // writes nothing, reads nothing
        }
        const std::u16string path = OutputOf(entries_[index].path);
        const std::u16string_view name = FileNamePart(path);
        const std::optional<FileIdentity> folder = FolderIdentityOf(path);
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

// Jobs start in input order, on a fixed pool of `workers` threads that each
// take the next job. A job that may overlap starts while fewer than `workers`
// jobs run and none of them runs alone; a job that runs alone starts when no
// job runs, and no job starts while it runs. The calling thread hands the
// jobs on in input order as they finish; a job starts only among the next
// 2 x `workers` to be handed on, so a long job holds back few finished ones,
// and few have run past a stop.
bool ConvertBatch::Schedule(std::size_t first, std::size_t end, std::size_t workers,
                            const std::vector<bool>& alone, const Job& job,
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

std::u16string ConvertJob(const std::u16string& path, VolumeSettings settings, LogSink& log) {
    ConvertBatch batch({path});
    return batch.RunJob(0, settings, log).message;
}

std::u16string ConvertBatch::OutputOf(const std::u16string& inputPath) const {
    const std::u16string beside = OutputPathFor(inputPath);
    return options_.outputFolder.empty()
               ? beside
               : PathInFolder(options_.outputFolder, FileNamePart(beside));
}

std::u16string ConvertBatch::CheckOutput(const std::u16string& outputPath) {
    const std::lock_guard hold(state_);
    if (options_.dryRun && PlannedAlready(outputPath)) {
        return kOutputAlreadyWritten;
    }
    const std::optional<FileStamp> output = StampFile(outputPath);
    if (!output) {
        return {};  // a new file
    }
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

// A dry run's outputs are not on disk: they are known by the folder they
// would be in and their name, as the system compares names.
ConvertBatch::PlannedOutput ConvertBatch::PlanOf(const std::u16string& outputPath) {
    return {FolderIdentityOf(outputPath), std::u16string(FolderPart(outputPath)),
            NameKey(FileNamePart(outputPath))};
}

bool ConvertBatch::PlannedAlready(const std::u16string& outputPath) const {
    const PlannedOutput output = PlanOf(outputPath);
    return std::any_of(planned_.begin(), planned_.end(), [&](const PlannedOutput& planned) {
        const bool sameFolder = planned.folder && output.folder ? planned.folder == output.folder
                                                                : planned.path == output.path;
        return sameFolder && planned.name == output.name;
    });
}

void ConvertBatch::OutputPlanned(const std::u16string& outputPath) {
    PlannedOutput planned = PlanOf(outputPath);
    const std::lock_guard hold(state_);
    planned_.push_back(std::move(planned));
}

void ConvertBatch::OutputWritten(const FileStamp& written) {
    const std::lock_guard hold(state_);
    written_.push_back(written);
}

}  // namespace morla
