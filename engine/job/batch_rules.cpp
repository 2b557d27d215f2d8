// The batch's rules about outputs: earlier outputs among the inputs
// (leftovers), which jobs may overlap, and the refusals at a job's write step
// (see ConvertBatch).
#include <algorithm>
#include <map>
#include <tuple>

#include "base/messages.h"
#include "base/text.h"
#include "job/convert_batch.h"

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

}  // namespace

// A file whose name is the output name of another file of the batch, in the
// same folder, is that file's earlier output. Folders are compared by
// identity (any spelling), names as the system compares them. Every entry
// that reaches such a file is skipped, whether a folder brought it or it was
// named directly, once or more: none of them is an input whose job could make
// the other file's job refuse its output.
void ConvertBatch::FindLeftovers() {
    if (options_.measureOnly) {
        return;
    }
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
    if (settings.measure && options_.albums) {
        // An album's loudness is reported after its last song, once every
        // song of it has been measured.
        for (std::size_t index = 0; index < size(); ++index) {
            alone[index] = ClosesAlbum(index);
        }
    }
    if (WritesNothing(settings)) {
        return alone;  // nothing is written
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
        const std::u16string path = OutputOfEntry(index);
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

std::u16string ConvertBatch::OutputOf(const std::u16string& inputPath) const {
    const std::u16string beside = OutputPathFor(inputPath);
    return options_.outputFolder.empty()
               ? beside
               : PathInFolder(options_.outputFolder, FileNamePart(beside));
}

std::u16string ConvertBatch::OutputOfEntry(std::size_t index) const {
    const Entry& entry = entries_[index];
    const std::u16string_view subfolder = FolderPart(entry.below);
    if (options_.outputFolder.empty() || subfolder.empty()) {
        return OutputOf(entry.path);
    }
    return PathInFolder(PathInFolder(options_.outputFolder, subfolder),
                        FileNamePart(OutputPathFor(entry.path)));
}

std::u16string ConvertBatch::MakeOutputFolder(const std::u16string& outputPath,
                                              FileFailure& failure) {
    if (options_.outputFolder.empty()) {
        return {};  // beside the input, whose folder is there
    }
    const std::u16string_view folder = FolderPart(outputPath);
    return folder.empty() || MakeFolders(std::u16string(folder), failure) ? std::u16string()
                                                                          : kOutputOpenError;
}

void ConvertBatch::MakeOutputFolders() {
    if (options_.outputFolder.empty() || options_.dryRun) {
        return;
    }
    std::vector<std::u16string> made;
    for (std::size_t index = 0; index < size(); ++index) {
        if (entries_[index].kind != EntryKind::File || FolderPart(entries_[index].below).empty()) {
            continue;
        }
        const std::u16string folder(FolderPart(OutputOfEntry(index)));
        if (std::find(made.begin(), made.end(), folder) == made.end()) {
            FileFailure ignored;  // the job that needs it tries again and says why
            MakeFolders(folder, ignored);
            made.push_back(folder);
        }
    }
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
