// The check of an option's value that the command line and the window share.
#include "job/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/text.h"

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
        if (!option.takesValue) {
            EXPECT_EQ(ToUtf8(ValueMistake(option, u"12O")), "") << option.letter;
        }
    }
}

}  // namespace
}  // namespace morla
