#include "job/number_field.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "base/text.h"

namespace morla {
namespace {

TEST(NumberField, TextToSigned32) {
    const std::pair<std::int32_t, std::vector<std::u16string_view>> cases[] = {
        {42, {u"42", u"   42", u"+42", u"0042"}},
        {-42, {u"-42", u" -42"}},
        {INT32_MAX, {u"2147483647", u"$7FFFFFFF"}},
        {INT32_MIN, {u"-2147483648", u"$80000000", u"-$80000000"}},
        {16, {u"$10", u"x10", u"X10", u"0x10", u"0X10", u"  $10", u"+$10"}},
        {127, {u"$7F", u"$7f", u"0x7f"}},
        {255, {u"$0000000FF"}},
        {-1, {u"$FFFFFFFF", u"-1", u"-$1"}},
        {-16, {u"-$10", u"-0x10", u"-x10"}},
        {1, {u"-$FFFFFFFF"}},
        {0, {u"", u"0", u"-0", u"-", u"+", u"$", u"0x", u"x"}},
        {0, {u"\t42", u"42 ", u"4 2", u"- 42", u"--1", u"+-1", u"$10 "}},
        {0, {u"$G", u"$-1", u"0x$10", u"00x10", u"abc", u"12abc", u"1.5", u"\uFF11\uFF12"}},
        {0, {u"2147483648", u"-2147483649", u"99999999999999999999", u"$100000000"}}};
    for (const auto& [value, texts] : cases) {
        for (const std::u16string_view text : texts) {
            EXPECT_EQ(ParseNumberField(text), value) << '"' << ToUtf8(text) << '"';
        }
    }
}

}  // namespace
}  // namespace morla
