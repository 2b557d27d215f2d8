#include "base/text.h"

#include <cstdio>

namespace morla {
namespace {

void AssignAscii(std::u16string& out, const char* text, std::size_t length) {
    out.resize(length);
    for (std::size_t i = 0; i < length; ++i) {
        out[i] = static_cast<unsigned char>(text[i]);
    }
}

void FormatInto(std::u16string& out, const char* format, std::va_list args) {
    // Report lines are short; a longer result is formatted a second time.
    char buffer[256];
    std::va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(buffer, sizeof buffer, format, args);
    if (length < 0) {
        out.clear();
    } else if (static_cast<std::size_t>(length) < sizeof buffer) {
        AssignAscii(out, buffer, static_cast<std::size_t>(length));
    } else {
        std::string wide(static_cast<std::size_t>(length) + 1, '\0');
        std::vsnprintf(wide.data(), wide.size(), format, again);
        AssignAscii(out, wide.data(), static_cast<std::size_t>(length));
    }
    va_end(again);
}

}  // namespace

std::u16string& FormatLine(std::u16string& out, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    FormatInto(out, format, args);
    va_end(args);
    return out;
}

std::u16string FormatText(const char* format, ...) {
    std::u16string out;
    std::va_list args;
    va_start(args, format);
    FormatInto(out, format, args);
    va_end(args);
    return out;
}

std::u16string FromUtf8(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    const auto byteAt = [&](std::size_t i) { return static_cast<unsigned char>(utf8[i]); };
    std::size_t i = 0;
    while (i < utf8.size()) {
        const unsigned char lead = byteAt(i);
        int length = 0;
        char32_t code = 0;
        char32_t minimum = 0;
        if (lead < 0x80) {
            out.push_back(lead);
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2, code = lead & 0x1F, minimum = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3, code = lead & 0x0F, minimum = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4, code = lead & 0x07, minimum = 0x10000;
        }
        bool valid = length != 0 && i + length <= utf8.size();
        for (int k = 1; valid && k < length; ++k) {
            const unsigned char next = byteAt(i + k);
            valid = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3F);
        }
        valid = valid && code >= minimum && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
        if (!valid) {
            // keep the byte: a lone low surrogate stands for it
            out.push_back(static_cast<char16_t>(0xDC00 + lead));
            ++i;
            continue;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
        i += static_cast<std::size_t>(length);
    }
    return out;
}

std::string ToUtf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        char32_t code = utf16[i];
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
            ++i;
        } else if (code >= 0xDC80 && code <= 0xDCFF) {
            out.push_back(static_cast<char>(code - 0xDC00));  // a byte kept by FromUtf8
            continue;
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            code = 0xFFFD;
        }
        if (code < 0x80) {
            out.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (code >> 6)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (code >> 12)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (code >> 18)));
            out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
    return out;
}

std::u16string_view FileNamePart(std::u16string_view path) {
#if defined(_WIN32)
    constexpr std::u16string_view kSeparators = u"\\/:";  // and a drive's colon
#else
    constexpr std::u16string_view kSeparators = u"/";  // '\' and ':' are name characters
#endif
    const std::size_t separator = path.find_last_of(kSeparators);
    return separator == std::u16string_view::npos ? path : path.substr(separator + 1);
}

std::u16string NameKey(std::u16string_view name) {
    std::u16string key(name);
#if defined(_WIN32)
    for (char16_t& c : key) {
        c = AsciiLower(c);
    }
#endif
    return key;
}

}  // namespace morla
