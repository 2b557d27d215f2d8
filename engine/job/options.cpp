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
    for (const Target& target : kTargets) {
        if (target.option == option) {
            settings.*target.flag = true;
            if (target.value != nullptr) {
                settings.*target.value = ParseNumberField(fieldText);
            }
        }
    }
}

}  // namespace morla
