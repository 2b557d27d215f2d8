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
    // What each box sets: its flag, and for options with a field, the value.
    struct Target {
        Option option;
        bool VolumeSettings::*flag;
        std::int32_t VolumeSettings::*value;
    };
    static constexpr Target kTargets[] = {
        {Option::Detail, &VolumeSettings::showDetail, nullptr},
        {Option::PeakOnly, &VolumeSettings::peakOnly, nullptr},
        {Option::SecondPeak, &VolumeSettings::useSecondPeak, nullptr},
        {Option::FmDown, &VolumeSettings::fmDownGiven, &VolumeSettings::fmDown},
        {Option::SsgDown, &VolumeSettings::ssgDownGiven, &VolumeSettings::ssgDown},
        {Option::RhythmDown, &VolumeSettings::rhythmDownGiven, &VolumeSettings::rhythmDown},
        {Option::FmTarget, &VolumeSettings::fmTargetGiven, &VolumeSettings::fmTarget},
        {Option::SsgTarget, &VolumeSettings::ssgTargetGiven, &VolumeSettings::ssgTarget},
        {Option::RhythmTarget, &VolumeSettings::rhythmTargetGiven, &VolumeSettings::rhythmTarget},
    };
    if (option == Option::Gain) {
        settings.gainGiven = true;
        settings.gainMicroDb = ParseDecibelsField(fieldText);
        return;
    }
    if (option == Option::KeepBalance) {
        settings.keepBalance = true;
        return;
    }
    for (const Target& target : kTargets) {
        if (target.option == option) {
            settings.*target.flag = true;
            if (target.value != nullptr) {
                settings.*target.value = ParseNumberField(fieldText);
            }
        }
    }
}

std::u16string SettingsConflict(const VolumeSettings& settings) {
    const bool downGiven =
        settings.fmDownGiven || settings.ssgDownGiven || settings.rhythmDownGiven;
    if (settings.gainGiven && downGiven) {
        return u"-g sets the FM, SSG and RHYTHM amounts: it goes with none of -f, -s and -r";
    }
    if (settings.keepBalance && (settings.gainGiven || downGiven)) {
        return u"-k works out one gain from the targets: it goes with none of -g, -f, -s and -r";
    }
    if (settings.keepBalance &&
        !(settings.fmTargetGiven || settings.ssgTargetGiven || settings.rhythmTargetGiven)) {
        return u"-k needs a normalize target: -F, -S or -R";
    }
    return {};
}

}  // namespace morla
