// The nine options of a job, as both front ends offer them: the window as
// check boxes with number fields, the command line as -f<n>, -v, ...
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "job/convert_job.h"

namespace morla {

enum class Option {
    Detail,        // -v
    PeakOnly,      // -p
    SecondPeak,    // -2
    FmDown,        // -fn
    SsgDown,       // -sn
    RhythmDown,    // -rn
    FmTarget,      // -Fn
    SsgTarget,     // -Sn
    RhythmTarget,  // -Rn
    Gain,          // -g DB
    KeepBalance,   // -k
};

struct OptionDescription {
    Option option;
    char letter;  // the letter after '-'
    bool takesValue;
    std::u16string_view caption;
    bool decibels = false;  // its value is a gain in dB (ParseDecibels), not a number
};

// In the order in which a job takes its settings from the window: the nine of
// the original window, then the gain in dB and the balance-keeping normalize.
inline constexpr std::array<OptionDescription, 11> kOptions = {{
    {Option::Detail, 'v', false, u"-v : show detail convert log"},
    {Option::PeakOnly, 'p', false, u"-p : show peak level only"},
    {Option::SecondPeak, '2', false, u"-2 : use 2nd peak level (TL!=0) for FM normalize"},
    {Option::FmDown, 'f', true, u"-fn : OPNA/OPN/OPN2 FM volume down value (n=value)"},
    {Option::SsgDown, 's', true, u"-sn : OPNA/OPN SSG volume down value (n=value)"},
    {Option::RhythmDown, 'r', true, u"-rn : OPNA RHYTHM volume down value (n=value)"},
    {Option::FmTarget, 'F', true, u"-Fn : normalize OPNA/OPN/OPN2 FM volume value (n=value)"},
    {Option::SsgTarget, 'S', true, u"-Sn : normalize OPNA/OPN SSG volume value (n=value)"},
    {Option::RhythmTarget, 'R', true, u"-Rn : normalize OPNA RHYTHM volume value (n=value)"},
    {Option::Gain, 'g', true, u"-g : gain of FM, SSG, RHYTHM and PSG in dB (n=value)", true},
    {Option::KeepBalance, 'k', false, u"-k : normalize keeping the balance of FM, SSG and RHYTHM"},
}};

// Why these settings cannot run together, as the command line reports it
// and the window's refusal box shows it; empty when they can: -g with -f, -s
// or -r; -k with -g, -f, -s or -r, or without a normalize target.
std::u16string SettingsConflict(const VolumeSettings& settings);

// The refusal when no option is chosen ("please select at least one option").
inline constexpr std::u16string_view kNoOptionText = u"オプションは最低一つ以上選択してください";

// The option whose letter is `letter`, or nullptr.
const OptionDescription* FindOption(char letter);

// What the command line finds wrong with `text` as the value of `option`,
// the text quoted as typed: "'12O' is not a number" (the strict number rule,
// ParseNumber), "'128' is out of range (0-127)" (a normalize target the job
// would refuse for every file), "'1e3' is not a gain in dB" (ParseDecibels,
// for the gain). Empty when the text is such a value, and for an option that
// takes none. The window refuses a ticked box's field by the same rule.
std::u16string ValueMistake(const OptionDescription& option, std::u16string_view text);

// Sets what ticking the option's box does, with the number field's text for
// options that take a value (read by the number-field rule, or for the gain
// by the decibel field's).
void TickOption(VolumeSettings& settings, Option option, std::u16string_view fieldText);

}  // namespace morla
