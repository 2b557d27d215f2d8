// The batch's entries and albums, and each entry run and reported in turn
// (see ConvertBatch).
#include "job/convert_batch.h"

#include <algorithm>

#include "base/messages.h"
#include "base/text.h"
#include "job/collection.h"
#include "job/report_rows.h"
#include "job/rhythm_rom.h"

namespace morla {
ConvertBatch::ConvertBatch(std::vector<std::u16string> paths, BatchOptions options)
    : options_(std::move(options)) {
    if (!options_.rhythmRomPath.empty()) {
        RhythmRom rom;
        if (ReadRhythmRom(options_.rhythmRomPath, rom).empty()) {
            rhythmRom_ = rom;
        }
    }
    Expand(paths);
    FindLeftovers();
    inputs_.resize(entries_.size());
    songs_.resize(entries_.size());
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
        albums_.push_back({std::move(label), 0, 0, std::nullopt, {}, {}, std::nullopt});
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
                // The path below the named folder, without the separators
                // between the two.
                std::u16string below = file.substr(path.size());
                while (!below.empty() && FileNamePart(below.substr(0, 1)).empty()) {
                    below.erase(0, 1);
                }
                entries_.push_back({EntryKind::File, file, album, 0, std::move(below)});
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

std::u16string_view ConvertBatch::shownName(std::size_t index) const {
    const Entry& entry = entries_[index];
    return entry.below.empty() ? FileNamePart(entry.path) : std::u16string_view(entry.below);
}

// The batch's rules, with one entry's output path (see OutputOfEntry).
class ConvertBatch::EntryRules : public OutputRules {
  public:
    EntryRules(ConvertBatch& batch, std::size_t index) : batch_(batch), index_(index) {}
    std::u16string OutputOf(const std::u16string& /*inputPath*/) const override {
        return batch_.OutputOfEntry(index_);
    }
    std::u16string CheckOutput(const std::u16string& outputPath) override {
        return batch_.CheckOutput(outputPath);
    }
    std::u16string MakeOutputFolder(const std::u16string& outputPath,
                                    FileFailure& failure) override {
        return batch_.MakeOutputFolder(outputPath, failure);
    }
    void OutputWritten(const FileStamp& written) override { batch_.OutputWritten(written); }
    bool DryRun() const override { return batch_.DryRun(); }
    void OutputPlanned(const std::u16string& outputPath) override {
        batch_.OutputPlanned(outputPath);
    }
    bool DefersFolderFlush() const override { return batch_.DefersFolderFlush(); }

  private:
    ConvertBatch& batch_;
    std::size_t index_;
};

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
    std::optional<PeakLevels> albumPeaks;
    std::optional<LoudnessGain> albumGain;
    std::shared_ptr<const SongLoudness> measured;
    if (options_.albums) {
        const std::lock_guard hold(state_);
        const Album& album = albums_[entries_[index].album];
        albumPeaks = album.peaks;
        albumGain = album.loudnessGain;
        measured = std::move(songs_[index]);  // its job's, once
    }
    VolumeSettings own = settings;
    own.quiet = own.quiet || options_.quiet;
    EntryRules rules(*this, index);
    return ConvertJob(entries_[index].path, own, log, rules, albumPeaks,
                      rhythmRom_ ? &*rhythmRom_ : nullptr, std::move(measured), albumGain);
}

bool ConvertBatch::OpensAlbum(std::size_t index) const {
    return options_.albums && entries_[index].kind != EntryKind::EmptyFolder &&
           albums_[entries_[index].album].first == index;
}

bool ConvertBatch::ClosesAlbum(std::size_t index) const {
    return options_.albums && entries_[index].kind != EntryKind::EmptyFolder &&
           albums_[entries_[index].album].end == index + 1;
}

namespace {

// The album's peaks are measured first unless the jobs only measure
// loudness (-m without -p).
bool NeedsAlbumPeaks(const VolumeSettings& settings) {
    return !settings.measure || settings.peakOnly;
}

}  // namespace

void ConvertBatch::AppendAlbumRows(std::size_t index, bool peaks,
                                   const std::optional<std::int64_t>& target, LogSink& log) const {
    const Album& album = albums_[entries_[index].album];
    log.Append(u"ALBUM: " + (album.label.empty() ? u"files given directly" : album.label));
    if (peaks) {
        log.Append(u"ALBUM " + FormatPeakLine(album.peaks.value_or(PeakLevels{})));
    }
    if (album.loudnessGain && target) {
        if (album.loudnessGain->measurable) {
            log.Append(u"ALBUM " + FormatLoudnessLine(album.loudness));
        }
        log.Append(FormatAlbumGainLine(album.loudness, *target, *album.loudnessGain));
    }
}

JobResult ConvertBatch::Convert(std::size_t index, const VolumeSettings& settings, LogSink& log) {
    if (OpensAlbum(index)) {
        const bool peaks = NeedsAlbumPeaks(settings);
        bool measured = false;
        {
            const std::lock_guard hold(state_);
            measured = albums_[entries_[index].album].peaks.has_value();
        }
        if (peaks && !measured) {
            MeasureAlbum(entries_[index].album, settings, 1);
        }
        AppendAlbumRows(index, peaks, settings.loudnessMicroLufs, log);
    }
    const Entry& entry = entries_[index];
    JobResult result;
    switch (entry.kind) {
        case EntryKind::EmptyFolder:
            log.Append(entry.path);
            result.message = kNoFileInFolder;
            log.Append(u"-> " + result.message);
            break;
        case EntryKind::Leftover:
            log.Append(shownName(index));
            log.Append(u"-> " + (kSkippedOutputOf +
                                 std::u16string(FileNamePart(entries_[entry.source].path))));
            break;
        case EntryKind::File:
            log.Append(shownName(index));
            result = RunJob(index, settings, log);
            if (result.message.empty() && options_.dryRun && !WritesNothing(settings)) {
                log.Append(std::u16string(u"-> ") + kDryRunOk);
            } else {
                log.Append(result.message.empty() ? std::u16string(u"-> ok")
                                                  : u"-> " + result.message);
            }
            break;
    }
    if (settings.measure && options_.albums && entry.kind != EntryKind::EmptyFolder) {
        // The album's loudness after its last entry, which runs once every
        // other job of the album has ended (JobsThatRunAlone).
        std::vector<const LoudnessMeter*> meters;
        const std::lock_guard hold(state_);
        Album& album = albums_[entry.album];
        if (result.loudness) {
            album.meters.push_back(result.loudness);
        }
        if (ClosesAlbum(index)) {
            for (const auto& meter : album.meters) {
                meters.push_back(meter.get());
            }
            log.Append(meters.empty()
                           ? std::u16string(u"ALBUM LOUDNESS: no song measured")
                           : u"ALBUM " + FormatLoudnessLine(LoudnessMeter::Combined(meters)));
            album.meters.clear();
        }
    }
    return result;
}

void ConvertBatch::ConvertAll(const VolumeSettings& settings, std::size_t workers,
                              const FinishedJobHandler& handle) {
    // Jobs run at once leave their folder flushes to the group commit, which
    // hands each job on, in input order, once a flush that started after its
    // rename has finished.
    GroupCommit group(handle);
    struct FlushTheRest {
        ConvertBatch& batch;
        GroupCommit& group;
        ~FlushTheRest() {
            batch.defersFlush_ = false;
            group.FlushTheRest();
        }
    } flushTheRest{*this, group};
    const auto convert = [&](std::size_t index, LogSink& log) {
        JobResult result = Convert(index, settings, log);
        if (result.pendingFlush) {
            group.Deferred(*result.pendingFlush);
        }
        return result;
    };
    const auto waits = [&](const FinishedJob& finished) { return group.Add(finished); };
    const auto idle = [&] { return group.Tick(); };
    defersFlush_ = workers > 1;
    if (!WritesNothing(settings)) {
        MakeOutputFolders();  // so that the rules below can identify them
    }
    const std::vector<bool> alone = JobsThatRunAlone(settings);
    if (!options_.albums) {
        if (RunOnPool(0, size(), workers, alone, convert, waits, idle)) {
            group.Drain();
        }
        return;
    }
    // Album by album: each measured, then converted, before the next.
    for (std::size_t first = 0; first < size();) {
        const std::size_t album = entries_[first].album;
        const std::size_t end =
            entries_[first].kind == EntryKind::EmptyFolder ? first + 1 : albums_[album].end;
        if (OpensAlbum(first) && NeedsAlbumPeaks(settings)) {
            MeasureAlbum(album, settings, workers);
        }
        if (!RunOnPool(first, end, workers, alone, convert, waits, idle) || !group.Drain()) {
            return;
        }
        first = end;
    }
}

void ConvertBatch::MeasureAlbum(std::size_t album, const VolumeSettings& settings,
                                std::size_t workers) {
    const bool loudness = settings.loudnessMicroLufs.has_value();
    VolumeSettings measure = settings;
    // Up to the analysis walk, nothing written: the peaks only, with -L the
    // sound too.
    measure.peakOnly = !loudness;
    measure.measure = loudness;
    measure.showDetail = false;
    const auto measureOne = [&](std::size_t index, LogSink& log) {
        if (entries_[index].kind != EntryKind::File) {
            return JobResult{};  // a leftover is not measured
        }
        return ConvertJob(entries_[index].path, measure, log, *this, std::nullopt,
                          rhythmRom_ ? &*rhythmRom_ : nullptr);
    };
    PeakLevels loudest;
    std::vector<std::shared_ptr<const SongLoudness>> songs;
    const auto takeLoudest = [&](const FinishedJob& job) {
        if (job.result.peaks) {
            TakeLoudest(loudest, *job.result.peaks);
        }
        if (job.result.song) {
            songs.push_back(job.result.song);
            const std::lock_guard hold(state_);
            songs_[job.index] = job.result.song;
        }
        return true;
    };
    RunOnPool(albums_[album].first, albums_[album].end, workers, std::vector<bool>(size()),
              measureOne, takeLoudest);
    const std::lock_guard hold(state_);
    Album& measured = albums_[album];
    measured.peaks = loudest;
    if (loudness) {
        std::vector<const LoudnessMeter*> meters;
        for (const auto& song : songs) {
            meters.push_back(song->meter.get());
        }
        measured.loudness = LoudnessMeter::Combined(meters);
        measured.loudnessGain = ChooseLoudnessGain(measured.loudness, *settings.loudnessMicroLufs,
                                                   settings.truePeakCeilingMicroDb, loudest);
    }
}

}  // namespace morla
