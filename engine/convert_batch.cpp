#include "convert_batch.h"

#include <algorithm>

#include "messages.h"
#include "text.h"

namespace morla {

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
        Input& input;
        ~MarkRead() { input.read = true; }
    } markRead{inputs_[index]};
    return ConvertJob(paths_[index], settings, log, *this);
}

JobResult ConvertBatch::Convert(std::size_t index, const VolumeSettings& settings, LogSink& log) {
    log.Append(FileNamePart(paths_[index]));
    JobResult result = RunJob(index, settings, log);
    log.Append(result.message.empty() ? std::u16string(u"-> ok") : u"-> " + result.message);
    return result;
}

PeakLevels ConvertBatch::MeasureAlbum(const VolumeSettings& settings) {
    class Discard : public LogSink {
        void Append(std::u16string_view) override {}
    } discard;
    VolumeSettings measure = settings;
    measure.peakOnly = true;  // up to the analysis walk, nothing written
    PeakLevels album;
    for (const std::u16string& path : paths_) {
        if (const JobResult result = ConvertJob(path, measure, discard, *this); result.peaks) {
            TakeLoudest(album, *result.peaks);
        }
    }
    return album;
}

std::u16string ConvertBatch::OutputOf(const std::u16string& inputPath) const {
    const std::u16string beside = OutputPathFor(inputPath);
    return outputFolder_.empty() ? beside : PathInFolder(outputFolder_, FileNamePart(beside));
}

std::u16string ConvertBatch::CheckOutput(const std::u16string& outputPath) {
    const std::optional<FileIdentity> output = IdentifyFile(outputPath);
    if (!output) {
        return {};  // a new file
    }
    const bool unreadInput = std::any_of(inputs_.begin(), inputs_.end(), [&](const Input& input) {
        return !input.read && input.identity == output;
    });
    if (unreadInput) {
        return kOutputIsInput;
    }
    if (std::find(written_.begin(), written_.end(), *output) != written_.end()) {
        return kOutputAlreadyWritten;
    }
    return {};
}

void ConvertBatch::OutputWritten(const FileIdentity& written) {
    written_.push_back(written);
}

}  // namespace morla
