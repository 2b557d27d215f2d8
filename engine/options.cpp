#include "options.h"

#include "number_field.h"

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
    switch (option) {
        case Option::Detail:
            settings.showDetail = true;
            break;
        case Option::PeakOnly:
            settings.peakOnly = true;
            break;
        case Option::SecondPeak:
            settings.useSecondPeak = true;
            break;
        case Option::FmDown:
            settings.fmDownGiven = true;
            settings.fmDown = ParseNumberField(fieldText);
            break;
        case Option::SsgDown:
            settings.ssgDownGiven = true;
            settings.ssgDown = ParseNumberField(fieldText);
            break;
        case Option::RhythmDown:
            settings.rhythmDownGiven = true;
            settings.rhythmDown = ParseNumberField(fieldText);
            break;
        case Option::FmTarget:
            settings.fmTargetGiven = true;
            settings.fmTarget = ParseNumberField(fieldText);
            break;
        case Option::SsgTarget:
            settings.ssgTargetGiven = true;
            settings.ssgTarget = ParseNumberField(fieldText);
            break;
        case Option::RhythmTarget:
            settings.rhythmTargetGiven = true;
            settings.rhythmTarget = ParseNumberField(fieldText);
            break;
    }
}

}  // namespace morla
