#include "job/number_field.h"

namespace morla {
namespace {

int HexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9') {
        return c - u'0';
    }
    if (c >= u'a' && c <= u'f') {
        return c - u'a' + 10;
    }
    if (c >= u'A' && c <= u'F') {
        return c - u'A' + 10;
    }
    return -1;
}

}  // namespace

std::optional<std::int32_t> ParseNumber(std::u16string_view text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == u' ') {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) {
        negative = text[i] == u'-';
        ++i;
    }

    bool hexadecimal = false;
    if (i < text.size() && (text[i] == u'$' || text[i] == u'x' || text[i] == u'X')) {
        hexadecimal = true;
        i += 1;
    } else if (i + 1 < text.size() && text[i] == u'0' &&
               (text[i + 1] == u'x' || text[i + 1] == u'X')) {
        hexadecimal = true;
        i += 2;
    }
    if (i == text.size()) {
        return std::nullopt;  // no digits
    }

    const std::uint64_t limit = hexadecimal ? 0xFFFFFFFFu : (negative ? 0x80000000u : 0x7FFFFFFFu);
    const int base = hexadecimal ? 16 : 10;
    std::uint64_t value = 0;
    for (; i < text.size(); ++i) {
        const int digit = HexDigit(text[i]);
        if (digit < 0 || digit >= base) {
            return std::nullopt;
        }
        value = value * base + static_cast<std::uint64_t>(digit);
        if (value > limit) {
            return std::nullopt;
        }
    }
    // A 32-bit pattern; the sign negates it with wrap-around.
    std::uint32_t pattern = static_cast<std::uint32_t>(value);
    if (negative) {
        pattern = 0u - pattern;
    }
    return static_cast<std::int32_t>(pattern);
}

std::int32_t ParseNumberField(std::u16string_view text) {
    return ParseNumber(text).value_or(0);
}

std::optional<std::int64_t> ParseDecibels(std::u16string_view text) {
    constexpr std::int64_t kScale = 1000000;  // millionths of a dB
    constexpr std::int64_t kLargest = 100000 * kScale;
    std::size_t at = 0;
    bool negative = false;
    if (at < text.size() && (text[at] == u'-' || text[at] == u'+')) {
        negative = text[at++] == u'-';
    }
    const auto isDigit = [&](std::size_t i) {
        return i < text.size() && text[i] >= u'0' && text[i] <= u'9';
    };
    if (!isDigit(at)) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    for (; isDigit(at); ++at) {
        value = value * 10 + (text[at] - u'0');
        if (value > kLargest / kScale) {
            return std::nullopt;
        }
    }
    value *= kScale;
    if (at < text.size() && text[at] == u'.') {
        ++at;
        if (!isDigit(at)) {
            return std::nullopt;
        }
        std::int64_t place = kScale / 10;
        bool roundUp = false;
        for (std::size_t digits = 0; isDigit(at); ++at, ++digits) {
            if (digits < 6) {
                value += (text[at] - u'0') * place;
                place /= 10;
            } else if (digits == 6) {
                roundUp = text[at] >= u'5';
            }
        }
        value += roundUp ? 1 : 0;
    }
    if (at != text.size() || value > kLargest) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

std::int64_t ParseDecibelsField(std::u16string_view text) {
    const std::size_t first = text.find_first_not_of(u' ');
    return ParseDecibels(first == std::u16string_view::npos ? u"" : text.substr(first)).value_or(0);
}

}  // namespace morla
