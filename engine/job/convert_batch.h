// The paths of one drop or one command line, converted as if one after
// another: files, and folders that stand for the S98 files in them.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/log_sink.h"
#include "job/convert_job.h"
#include "job/output_rules.h"
#include "job/settings.h"
#include "job/worker_pool.h"
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
// A path that is a folder stands for the S98 files in it and in its
// sub-folders (CollectFolder, collection.h), each run as if it had been
// named; a folder with none is an entry of its own that fails with "no .s98
// file in this folder.".
//
// A file whose name is the output name of another file of the batch in the
// same folder (X_new.s98 beside X.s98) is that file's earlier output, unless
// the jobs only measure (-p, -m: nothing is written, so such a file is
// measured like any other): it is skipped ("skipped: output of X.s98", a success), is no input for
// the rule above, and X's job replaces it. That holds for every entry that reaches it, found in a
// folder or named directly, once or more (`G G/X_new.s98` skips both). So running the same batch
// twice gives the same files and results.
//
// Outputs go beside their inputs, or into one folder given at the start: the
// files named directly into that folder itself, the files a named folder
// stands for into the same sub-folders below it as below the named folder
// (made when a job needs them, each flushed into its parent; a run that
// converts several at once makes them all before the first job).
//
// A file a named folder stands for is named in the rows by its path below
// that folder ("Disc 1/track 2.s98", with the system's separator); a file
// named directly by its name alone.
//
// Album mode normalizes the files of an album from the loudest levels of them
// all, so that the tracks of one soundtrack keep the balance between them.
// The files named directly are one album, the files of each folder (each
// sub-folder on its own) another; each album is measured, then converted,
// before the next, in the order the albums first appear. Its first entry's
// rows open with "ALBUM: " and the folder's path (or "files given
// directly") and its "ALBUM PEAK:" row.
//
// With -L every job measures its song as heard and brings it to the target
// by one gain; in album mode the album's songs are measured first, as one
// programme, and every song of it gets the album's gain ("ALBUM LOUDNESS:"
// and "ALBUM GAIN:" rows open the album), so that they keep their
// differences. Each song is rendered once for the measurement (and once more
// to measure the result when parts did not all move by the gain).
//
// With -m every job measures its song as heard and writes nothing; in album
// mode each album's first entry opens with its "ALBUM:" row only (and its
// "ALBUM PEAK:" row too with -p), and its last one closes with the album's
// loudness, measured over its songs as one programme ("ALBUM LOUDNESS:").
//
// A dry run takes every step of every job but writing: the batch's rules
// apply as if each output had been written, and nothing on disk changes.
//
// ConvertAll may run several jobs at once, but only jobs that cannot affect
// one another; every other job runs alone, after all jobs before it have
// ended. The rows, the files written and every result are those of running
// the jobs one after another.

struct BatchOptions {
    std::u16string outputFolder;  // empty: each output beside its input
    bool albums = false;          // normalize album by album
    bool dryRun = false;          // every step but the write
    // With -m: the user's image of the OPNA's rhythm ROM (rhythm_rom.h);
    // empty: the stand-in. The front ends check it can be read first: an
    // image that cannot be is not heard (the stand-in is).
    std::u16string rhythmRomPath = {};
    // The jobs write nothing whatever they find (-p, -m): no file of the
    // batch is skipped as an earlier output.
    bool measureOnly = false;
    // No per-write rows: a row counting each part's clamped writes instead
    // of the PEAK OVER rows (-q).
    bool quiet = false;
    // How many jobs a front end runs at once (-j); none: its own choice.
    std::optional<std::size_t> jobs = std::nullopt;
};

class ConvertBatch : private OutputRules {
  public:
    // What one entry of the batch is.
    enum class EntryKind {
        File,         // a file to convert
        Leftover,     // an earlier output of another file of the batch: skipped
        EmptyFolder,  // a folder given with no S98 file in it
    };

    // Expands the folders among `paths` and takes the identities of the
    // inputs that exist now.
    explicit ConvertBatch(std::vector<std::u16string> paths, BatchOptions options = {});

    // The entries, in the order they run (album by album in album mode).
    std::size_t size() const { return entries_.size(); }
    const std::u16string& path(std::size_t index) const { return entries_[index].path; }
    // How the rows name entry `index`: its path below the folder named that
    // found it, or the file's name.
    std::u16string_view shownName(std::size_t index) const;
    EntryKind kind(std::size_t index) const { return entries_[index].kind; }

    // Runs the job of input `index`; it appends only the job's own rows.
    // Jobs run in input order (or overlap as ConvertAll lets them): each
    // input counts as read once its job has run.
    JobResult RunJob(std::size_t index, const VolumeSettings& settings, LogSink& log);

    // Entry `index` as the front ends report it: in album mode the album's
    // rows when it opens one (measuring the album first); the file's name,
    // the job's rows, then "-> ok" or "-> " and the message. Entries run in
    // index order (or overlap as ConvertAll lets them).
    JobResult Convert(std::size_t index, const VolumeSettings& settings, LogSink& log);

    // Runs Convert on every input, up to `workers` jobs at a time, and hands
    // each finished job to `handle` on the calling thread, in input order.
    // With more than one worker the jobs leave their folder flushes to the
    // batch's group commit (GroupCommit, worker_pool.h): a finished job waits
    // there with its rows while the workers go on, and is handed on once a
    // flush that started after its rename has finished (at most 50 ms, 64
    // renames into a folder or 64Ki rows later). A job starts only among the
    // next 2 x `workers` not yet taken by the group commit (see RunOnPool).
    // When `handle` returns false no further job starts; the running ones
    // end, unreported, and their outputs are flushed.
    void ConvertAll(const VolumeSettings& settings, std::size_t workers,
                    const FinishedJobHandler& handle);

  private:
    struct Entry {
        EntryKind kind = EntryKind::File;
        std::u16string path;     // the file, or the folder as given
        std::size_t album = 0;   // in album mode, its album
        std::size_t source = 0;  // a leftover: the entry whose output it is
        // Found in a named folder: its path below that folder (its folder
        // part is the sub-folder its output goes to below an output folder).
        std::u16string below = {};
    };
    // The rules of one entry's job: the batch's, with the entry's output
    // path (in its sub-folder of the output folder).
    class EntryRules;
    struct Album {
        std::u16string label;             // the folder's path; empty for the files named directly
        std::size_t first = 0, end = 0;   // its entries
        std::optional<PeakLevels> peaks;  // once measured
        // With -m, the meters of its songs measured so far.
        std::vector<std::shared_ptr<const LoudnessMeter>> meters;
        // With -L, once measured: its loudness over its songs, and its gain.
        LoudnessFigures loudness;
        std::optional<LoudnessGain> loudnessGain;
    };

    void Expand(const std::vector<std::u16string>& paths);
    void FindLeftovers();

    // Measures the files of album `album` (target range check, read, header
    // check, analysis walk) without a row or a write, up to `workers` files at
    // a time, and keeps the loudest levels over the files measured whole. A
    // file that fails here does not count; its job reports the failure later.
    // With -L each file is rendered and metered too: its song is kept for
    // its job, and the album's loudness over them gives the album's gain.
    void MeasureAlbum(std::size_t album, const VolumeSettings& settings, std::size_t workers);
    // The album's rows, when entry `index` opens an album (with its PEAK row
    // when `peaks`, its loudness and gain rows with a loudness `target`).
    void AppendAlbumRows(std::size_t index, bool peaks, const std::optional<std::int64_t>& target,
                         LogSink& log) const;
    bool OpensAlbum(std::size_t index) const;
    bool ClosesAlbum(std::size_t index) const;

    std::u16string OutputOf(const std::u16string& inputPath) const override;
    // Entry `index`'s output path.
    std::u16string OutputOfEntry(std::size_t index) const;
    // Makes the sub-folders of the output folder that the entries' outputs
    // go into (a run that converts several at once, before the first job).
    void MakeOutputFolders();
    std::u16string CheckOutput(const std::u16string& outputPath) override;
    std::u16string MakeOutputFolder(const std::u16string& outputPath,
                                    FileFailure& failure) override;
    void OutputWritten(const FileStamp& written) override;
    bool DryRun() const override { return options_.dryRun; }
    bool DefersFolderFlush() const override { return defersFlush_; }
    void OutputPlanned(const std::u16string& outputPath) override;

    // For each input, whether its job must run alone (see ConvertAll).
    std::vector<bool> JobsThatRunAlone(const VolumeSettings& settings) const;

    struct Input {
        std::optional<FileIdentity> identity;  // none when it did not exist at the start
        bool read = false;
    };
    BatchOptions options_;
    std::optional<RhythmRom> rhythmRom_;  // the user's, read at the start
    std::vector<Entry> entries_;
    std::vector<Album> albums_;
    std::vector<Input> inputs_;  // by entry; a leftover or a folder is no input
    // By entry, with -L in album mode: the song as the album's pre-pass
    // measured it, until its job takes it.
    std::vector<std::shared_ptr<const SongLoudness>> songs_;
    std::vector<FileStamp> written_;
    struct PlannedOutput {
        std::optional<FileIdentity> folder;
        std::u16string path;  // of the folder, when it cannot be identified
        std::u16string name;  // as the system compares names
    };
    static PlannedOutput PlanOf(const std::u16string& outputPath);
    bool PlannedAlready(const std::u16string& outputPath) const;
    std::vector<PlannedOutput> planned_;  // a dry run's outputs
    // While ConvertAll runs jobs at once: folder flushes are shared.
    bool defersFlush_ = false;
    std::mutex state_;  // guards the inputs' read marks, written_ and planned_
};

}  // namespace morla
