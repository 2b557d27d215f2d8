// UTF-16 text for report lines, paths and messages.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

// printf-style argument checks; MinGW's C99 printf is the GNU kind.
#if defined(__MINGW32__)
#define MORLA_PRINTF(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#elif defined(__GNUC__)
#define MORLA_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define MORLA_PRINTF(fmt, args)
#endif

namespace morla {

// Replaces `out` with a printf-style formatted line. Formats and their
// arguments are ASCII (numbers and fixed words); UTF-16 pieces such as file
// names are appended by the caller. The capacity of `out` is kept, so a work
// string reused for every report line does not allocate per line.
std::u16string& FormatLine(std::u16string& out, const char* format, ...) MORLA_PRINTF(2, 3);

// Same, returning a fresh text.
std::u16string FormatText(const char* format, ...) MORLA_PRINTF(1, 2);

// UTF-8 <-> UTF-16. Bytes that are not valid UTF-8 become the lone surrogates
// U+DC80-U+DCFF and turn back into the same bytes, so a POSIX file name that is
// not valid UTF-8 survives the round trip through the engine unchanged.
std::u16string FromUtf8(std::string_view utf8);
std::string ToUtf8(std::u16string_view utf16);

// The file-name part of a path: the text after its last separator (the
// whole path when it holds none). Separators are the system's: '\', '/' and
// a drive's ':' on Windows, only '/' on POSIX systems, where '\' and ':' are
// ordinary characters of a name.
std::u16string_view FileNamePart(std::u16string_view path);

// The folder part of a path: all before its file-name part, the separator
// included ("" for a bare name).
inline std::u16string_view FolderPart(std::u16string_view path) {
    return path.substr(0, path.size() - FileNamePart(path).size());
}

// A-Z as a-z, every other unit as it is.
inline char16_t AsciiLower(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

// A file name as the system compares names: ASCII letters in either case
// alike on Windows, every unit as it is elsewhere.
std::u16string NameKey(std::u16string_view name);

}  // namespace morla
