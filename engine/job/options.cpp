#include "job/options.h"

#include "job/convert_batch.h"
#include "job/number_field.h"
#include "platform/file_io.h"

namespace morla {

const OptionDescription* FindOption(char letter) {
    if (letter == 0) {
        return nullptr;
    }
    for (const OptionDescription& description : kOptions) {
        if (description.letter == letter) {
            return &description;
        }
    }
    return nullptr;
}

bool OptionSet::AnyRunOption() const {
    for (const OptionDescription& description : kOptions) {
        if (description.role == OptionRole::Run && Has(description.option)) {
            return true;
        }
    }
    return false;
}

namespace {

// True when one of the options with the letters `letters` is in `options`.
bool AnyOf(const OptionSet& options, std::string_view letters) {
    for (const char letter : letters) {
        const OptionDescription* description = FindOption(letter);
        if (description != nullptr && options.Has(description->option)) {
            return true;
        }
    }
    return false;
}

// A value in dB or LUFS: the gain's own syntax, strictly (no hexadecimal,
// no exponent), within the row's range of whole units when it has one.
std::u16string DecibelsMistake(const OptionDescription& option, std::u16string_view text,
                               const std::u16string& quoted) {
    const std::optional<std::int64_t> value = ParseDecibels(text);
    if (!value) {
        return quoted + (option.option == Option::Gain ? u" is not a gain in dB"
                         : option.valueName == "LUFS"  ? u" is not a loudness in LUFS"
                                                       : u" is not a level in dB");
    }
    constexpr std::int64_t kMicro = 1'000'000;
    if (option.range &&
        (*value < option.range->least * kMicro || *value > option.range->most * kMicro)) {
        const std::string range =
            std::to_string(option.range->least) + " to " + std::to_string(option.range->most);
        return quoted + u" is out of range (" + std::u16string(range.begin(), range.end()) + u")";
    }
    return {};
}

}  // namespace

std::u16string SettingsConflict(const OptionSet& options) {
    for (const OptionDescription& description : kOptions) {
        if (!options.Has(description.option)) {
            continue;
        }
        if (AnyOf(options, description.excludes)) {
            return std::u16string(description.excludesText);
        }
        if (!description.needsOneOf.empty() && !AnyOf(options, description.needsOneOf)) {
            return std::u16string(description.needsText);
        }
    }
    return {};
}

std::u16string ValueMistake(const OptionDescription& option, std::u16string_view text) {
    const auto quoted = [&] {
        std::u16string quoted = u"'";
        quoted += text;
        quoted += u"'";
        return quoted;
    };
    switch (option.value) {
        case ValueKind::None:
        case ValueKind::Folder:
        case ValueKind::File:
            return {};
        case ValueKind::Decibels:
            return DecibelsMistake(option, text, quoted());
        case ValueKind::Number:
            break;
    }
    const std::optional<std::int32_t> number = ParseNumber(text);
    if (!number) {
        return quoted() + u" is not a number";
    }
    if (option.range && (*number < option.range->least || *number > option.range->most)) {
        const std::string range =
            std::to_string(option.range->least) + "-" + std::to_string(option.range->most);
        return quoted() + u" is out of range (" + std::u16string(range.begin(), range.end()) + u")";
    }
    return {};
}

void TickOption(VolumeSettings& settings, Option option, std::u16string_view fieldText) {
    // What each box sets: its flag, or for options with a field, the value.
    switch (option) {
        case Option::Detail:
            settings.showDetail = true;
            return;
        case Option::PeakOnly:
            settings.peakOnly = true;
            return;
        case Option::SecondPeak:
            settings.useSecondPeak = true;
            return;
        case Option::KeepBalance:
            settings.keepBalance = true;
            return;
        case Option::Measure:
            settings.measure = true;
            return;
        case Option::Gain:
            settings.gainMicroDb = ParseDecibelsField(fieldText);
            return;
        case Option::Loudness:
            settings.loudnessMicroLufs = ParseDecibelsField(fieldText);
            return;
        case Option::MaxPeak:
            settings.truePeakCeilingMicroDb = ParseDecibelsField(fieldText);
            return;
        case Option::FmDown:
            settings.fmDown = ParseNumberField(fieldText);
            return;
        case Option::SsgDown:
            settings.ssgDown = ParseNumberField(fieldText);
            return;
        case Option::RhythmDown:
            settings.rhythmDown = ParseNumberField(fieldText);
            return;
        case Option::FmTarget:
            settings.fmTarget = ParseNumberField(fieldText);
            return;
        case Option::SsgTarget:
            settings.ssgTarget = ParseNumberField(fieldText);
            return;
        case Option::RhythmTarget:
            settings.rhythmTarget = ParseNumberField(fieldText);
            return;
        default:
            // the batch's and the program's options set nothing in a job
            return;
    }
}

std::u16string OutputFolderMistake(const std::u16string& folder) {
    if (IsFolder(folder)) {
        return {};
    }
    return u"output folder '" + folder + u"'" +
           (IdentifyFile(folder) ? u" is not a folder" : u" does not exist");
}

void TickBatchOption(BatchOptions& options, Option option, std::u16string_view valueText) {
    switch (option) {
        case Option::Albums:
            options.albums = true;
            return;
        case Option::DryRun:
            options.dryRun = true;
            return;
        case Option::OutputFolder:
            options.outputFolder = valueText;
            return;
        case Option::RhythmRom:
            options.rhythmRomPath = valueText;
            return;
        case Option::Quiet:
            options.quiet = true;
            return;
        case Option::Jobs:
            options.jobs = static_cast<std::size_t>(ParseNumberField(valueText));
            return;
        default:
            return;
    }
}

}  // namespace morla
