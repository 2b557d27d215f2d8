// The option table and the checks the command line and the window share: of
// an option's value, and of the options given together.
#include "job/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/text.h"
#include "job/convert_batch.h"

namespace morla {
namespace {

const OptionDescription& Described(char letter) {
    const OptionDescription* option = FindOption(letter);
    EXPECT_NE(option, nullptr) << letter;
    return *option;
}

// The refusal of `text`: the text quoted as typed, then the reason.
std::string Refused(std::u16string_view text, const std::string& reason) {
    std::string refusal = "'";
    refusal.append(ToUtf8(text));
    refusal.append("' ");
    refusal.append(reason);
    return refusal;
}

std::string Mistake(char letter, std::u16string_view text) {
    return ToUtf8(ValueMistake(Described(letter), text));
}

// Any number the number rule reads is a value of a down amount; text it does
// not read is refused, quoted as typed.
TEST(OptionValue, NumbersAreTakenAndEverythingElseRefusedAsTyped) {
    const std::vector<std::u16string_view> numbers = {
        u"0",   u"42",   u"  42", u"+3",          u"-5",        u"$7F",
        u"x1F", u"0X10", u"-$10", u"-2147483648", u"$FFFFFFFF", u"0000000000000000042"};
    const std::vector<std::u16string_view> notNumbers = {
        u"12O", u"", u" ", u"3 ", u"\t3", u"-", u"$", u"0x", u"1.5", u"2147483648", u"$100000000"};
    for (const char letter : {'f', 's', 'r'}) {
        for (const std::u16string_view text : numbers) {
            EXPECT_EQ(Mistake(letter, text), "") << letter << " '" << ToUtf8(text) << "'";
        }
        for (const std::u16string_view text : notNumbers) {
            EXPECT_EQ(Mistake(letter, text), Refused(text, "is not a number")) << letter;
        }
    }
    EXPECT_EQ(Mistake('F', u"12O"), "'12O' is not a number");
    EXPECT_EQ(Mistake('R', u""), "'' is not a number");
}

// A normalize target is taken exactly within its part's range, whatever its
// spelling; outside it, the range is named.
TEST(OptionValue, TargetsAreTakenWithinTheirRangesOnly) {
    const struct {
        char letter;
        int largest;
        std::string range;
    } targets[] = {{'F', 127, "0-127"}, {'S', 15, "0-15"}, {'R', 63, "0-63"}};
    for (const auto& [letter, largest, range] : targets) {
        for (int value = -2; value <= largest + 2; ++value) {
            const std::string text = std::to_string(value);
            const bool inRange = value >= 0 && value <= largest;
            EXPECT_EQ(Mistake(letter, FromUtf8(text)),
                      inRange ? "" : Refused(FromUtf8(text), "is out of range (" + range + ")"))
                << letter;
        }
    }
    EXPECT_EQ(Mistake('F', u"$7F"), "");
    EXPECT_EQ(Mistake('F', u"$C8"), "'$C8' is out of range (0-127)");
    EXPECT_EQ(Mistake('S', u"$FFFFFFFF"), "'$FFFFFFFF' is out of range (0-15)");
    EXPECT_EQ(Mistake('R', u" 64"), "' 64' is out of range (0-63)");
}

// The gain takes decibels by their own, stricter syntax.
TEST(OptionValue, GainTakesDecibelsOnly) {
    for (const std::u16string_view text : {u"-6", u"+3", u"-4.5", u"0", u"100000", u"-0.1234567"}) {
        EXPECT_EQ(Mistake('g', text), "") << ToUtf8(text);
    }
    for (const std::u16string_view text :
         {u"1e3", u".5", u"5.", u" -6", u"-6 ", u"$10", u"", u"100000.000001", u"12O"}) {
        EXPECT_EQ(Mistake('g', text), Refused(text, "is not a gain in dB"));
    }
}

TEST(OptionValue, OptionsWithoutAValueHaveNoMistake) {
    for (const OptionDescription& option : kOptions) {
        if (!option.takesValue()) {
            EXPECT_EQ(ToUtf8(ValueMistake(option, u"12O")), "") << option.letter;
        }
    }
}

// A loudness target and its ceiling are decibels by the gain's rule, within
// their ranges (ends included, fractions counted), refused as typed.
TEST(OptionValue, LoudnessAndItsCeilingTakeDecibelsWithinTheirRanges) {
    for (const std::u16string_view text : {u"-23", u"-14.5", u"0", u"-70", u"+0", u"-0.000001"}) {
        EXPECT_EQ(Mistake('L', text), "") << ToUtf8(text);
    }
    EXPECT_EQ(Mistake('L', u"-80"), "'-80' is out of range (-70 to 0)");
    EXPECT_EQ(Mistake('L', u"-70.5"), "'-70.5' is out of range (-70 to 0)");
    EXPECT_EQ(Mistake('L', u"0.1"), "'0.1' is out of range (-70 to 0)");
    EXPECT_EQ(Mistake('L', u"-1e1"), "'-1e1' is not a loudness in LUFS");
    EXPECT_EQ(Mistake('L', u""), "'' is not a loudness in LUFS");
    const OptionDescription& ceiling = DescriptionOf(Option::MaxPeak);
    EXPECT_EQ(ToUtf8(ValueMistake(ceiling, u"-1.5")), "");
    EXPECT_EQ(ToUtf8(ValueMistake(ceiling, u"0.5")), "'0.5' is out of range (-30 to 0)");
    EXPECT_EQ(ToUtf8(ValueMistake(ceiling, u"-31")), "'-31' is out of range (-30 to 0)");
    EXPECT_EQ(ToUtf8(ValueMistake(ceiling, u"x")), "'x' is not a level in dB");
}

// The ranges the command line and the window refuse by are exactly those the
// job itself refuses a target outside of, for every ranged row.
TEST(OptionTable, RangesAreTheJobsOwn) {
    int ranged = 0;
    for (const OptionDescription& option : kOptions) {
        if (!option.range || option.role == OptionRole::Batch) {
            continue;  // -j: how many files at once, no setting of a job
        }
        ++ranged;
        const auto refusedByJob = [&](std::int32_t value) {
            VolumeSettings settings;
            TickOption(settings, option.option, FromUtf8(std::to_string(value)));
            return !ValidateSettings(settings).empty();
        };
        EXPECT_FALSE(refusedByJob(option.range->least)) << option.letter;
        EXPECT_FALSE(refusedByJob(option.range->most)) << option.letter;
        EXPECT_TRUE(refusedByJob(option.range->least - 1)) << option.letter;
        EXPECT_TRUE(refusedByJob(option.range->most + 1)) << option.letter;
    }
    EXPECT_EQ(ranged, 5);  // -F, -S, -R, -L, --max-peak
}

// Every option of the command line is found by its letter, and its row by
// its option.
TEST(OptionTable, RowsAreFoundByLetterAndByOption) {
    for (const char letter : std::string_view("fsrFSRvp2gkanoh")) {
        const OptionDescription* option = FindOption(letter);
        ASSERT_NE(option, nullptr) << letter;
        EXPECT_EQ(&DescriptionOf(option->option), option) << letter;
    }
    EXPECT_EQ(FindOption('x'), nullptr);
    EXPECT_EQ(FindOption(0), nullptr);  // --version has no letter
    EXPECT_EQ(DescriptionOf(Option::Version).longName, "version");
}

OptionSet Given(std::string_view letters) {
    OptionSet given;
    for (const char letter : letters) {
        given.Add(Described(letter).option);
    }
    return given;
}

std::string Conflict(std::string_view letters) {
    return ToUtf8(SettingsConflict(Given(letters)));
}

// Which options cannot go together, and which reason wins when several do.
TEST(OptionConflicts, ReasonsAndTheirPrecedence) {
    const std::string gain =
        "-g sets the FM, SSG and RHYTHM amounts: it goes with none of -f, -s and -r";
    const std::string keep =
        "-k works out one gain from the targets: it goes with none of -g, -f, -s and -r";
    const std::string target = "-k needs a normalize target: -F, -S or -R";
    for (const std::string_view fine : {"", "fsrFSRvp2", "gFSRvp2ano", "kF", "kS", "kRvp2an"}) {
        EXPECT_EQ(Conflict(fine), "") << fine;
    }
    for (const std::string_view letters : {"gf", "gs", "gr", "gfsr", "gfk", "grkF"}) {
        EXPECT_EQ(Conflict(letters), gain) << letters;  // -g's reason comes first
    }
    for (const std::string_view letters : {"kg", "kgF", "kfS", "ksR", "kr"}) {
        EXPECT_EQ(Conflict(letters), keep) << letters;  // before the missing target
    }
    for (const std::string_view letters : {"k", "kvp2", "ka"}) {
        EXPECT_EQ(Conflict(letters), target) << letters;
    }
}

// -L works out its own gain: it goes with no other amount, no peak-only or
// measure-only run; --max-peak is -L's ceiling and needs it.
TEST(OptionConflicts, LoudnessGoesWithNoOtherAmount) {
    const std::string loudness =
        "-L works out one gain from the loudness: it goes with none of "
        "-f, -s, -r, -F, -S, -R, -g, -k, -p and -m";
    for (const std::string_view fine : {"L", "Lv", "La", "Lan", "L2"}) {
        EXPECT_EQ(Conflict(fine), "") << fine;
    }
    for (const std::string_view letters : {"Lf", "Ls", "Lr", "LF", "LS", "LR", "Lg", "Lp", "Lm"}) {
        EXPECT_EQ(Conflict(letters), loudness) << letters;
    }
    EXPECT_NE(Conflict("Lk"), "");  // -k's own reason comes first
    OptionSet ceilingAlone;
    ceilingAlone.Add(Option::MaxPeak);
    EXPECT_EQ(ToUtf8(SettingsConflict(ceilingAlone)),
              "--max-peak is the ceiling of -L: it needs -L");
    ceilingAlone.Add(Option::Loudness);
    EXPECT_EQ(ToUtf8(SettingsConflict(ceilingAlone)), "");
}

// Only the options that run a job count as one; those of the batch go with one.
TEST(OptionConflicts, RunOptionsAreTold) {
    EXPECT_FALSE(Given("").AnyRunOption());
    EXPECT_FALSE(Given("ano").AnyRunOption());
    for (const char letter : std::string_view("fsrFSRvp2gk")) {
        EXPECT_TRUE(Given(std::string(1, letter) + "a").AnyRunOption()) << letter;
    }
}

// The options of the batch set its options, and nothing else does.
TEST(OptionTicks, BatchOptionsSetTheBatch) {
    BatchOptions options;
    for (const OptionDescription& option : kOptions) {
        if (option.role != OptionRole::Batch) {
            TickBatchOption(options, option.option, u"out");
        }
    }
    EXPECT_FALSE(options.albums);
    EXPECT_FALSE(options.dryRun);
    EXPECT_EQ(options.outputFolder, u"");
    TickBatchOption(options, Option::Albums, u"");
    EXPECT_TRUE(options.albums);
    EXPECT_FALSE(options.dryRun);
    TickBatchOption(options, Option::DryRun, u"");
    EXPECT_TRUE(options.dryRun);
    TickBatchOption(options, Option::OutputFolder, u"out dir");
    EXPECT_EQ(options.outputFolder, u"out dir");
}

}  // namespace
}  // namespace morla
