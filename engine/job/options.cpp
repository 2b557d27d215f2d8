#include "job/options.h"

#include "job/number_field.h"

namespace morla {

const OptionDescription* FindOption(char letter) {
    for (const OptionDescription& description : kOptions) {
        if (description.letter == letter) {
            return &description;
        }
    }
    return nullptr;
}

namespace {

// The range of a normalize target, for its message; the job's own check
// (ValidateSettings) decides what lies outside it.
std::u16string_view TargetRange(Option option) {
    switch (option) {
        case Option::FmTarget:
            return u"0-127";
        case Option::SsgTarget:
            return u"0-15";
        case Option::RhythmTarget:
            return u"0-63";
        default:
            return u"";
    }
}

}  // namespace

std::u16string ValueMistake(const OptionDescription& option, std::u16string_view text) {
    if (!option.takesValue) {
        return {};
    }
    std::u16string quoted = u"'";
    quoted += text;
    quoted += u"'";
    if (option.decibels) {
        // The gain's own syntax, strictly: no hexadecimal, no exponent.
        return ParseDecibels(text) ? std::u16string() : quoted + u" is not a gain in dB";
    }
    if (!ParseNumber(text)) {
        return quoted + u" is not a number";
    }
    VolumeSettings alone;
    TickOption(alone, option.option, text);
    if (!ValidateSettings(alone).empty()) {
        return quoted + u" is out of range (" + std::u16string(TargetRange(option.option)) + u")";
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
        case Option::Gain:
            settings.gainMicroDb = ParseDecibelsField(fieldText);
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
    }
}

std::u16string SettingsConflict(const VolumeSettings& settings) {
    const bool downGiven = settings.fmDown.has_value() || settings.ssgDown.has_value() ||
                           settings.rhythmDown.has_value();
    if (settings.gainMicroDb.has_value() && downGiven) {
        return u"-g sets the FM, SSG and RHYTHM amounts: it goes with none of -f, -s and -r";
    }
    if (settings.keepBalance && (settings.gainMicroDb.has_value() || downGiven)) {
        return u"-k works out one gain from the targets: it goes with none of -g, -f, -s and -r";
    }
    if (settings.keepBalance && !(settings.fmTarget.has_value() || settings.ssgTarget.has_value() ||
                                  settings.rhythmTarget.has_value())) {
        return u"-k needs a normalize target: -F, -S or -R";
    }
    return {};
}

}  // namespace morla
