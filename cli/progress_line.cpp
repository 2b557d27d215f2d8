#include "progress_line.h"

#include <algorithm>
#include <cstdint>

#include "api/morla.h"
#include "process/process.h"

namespace {

using std::chrono::milliseconds;

// Often enough that the seconds move evenly, seldom enough to cost nothing.
constexpr milliseconds kRefreshPeriod(250);

// One character of the line as the terminal shows it.
struct Glyph {
    char32_t code;
    int columns;
};
using Glyphs = std::vector<Glyph>;

// The East Asian wide and fullwidth characters, which take two columns of a
// terminal: Hangul, the CJK ideographs, kana, fullwidth forms and the like,
// and the emoji blocks. (Halfwidth katakana, U+FF61 to U+FF9F, take one.)
bool IsWide(char32_t c) {
    return (c >= 0x1100 && c <= 0x115F) || c == 0x2329 || c == 0x232A ||
           (c >= 0x2E80 && c <= 0xA4CF && c != 0x303F) || (c >= 0xAC00 && c <= 0xD7A3) ||
           (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE10 && c <= 0xFE19) ||
           (c >= 0xFE30 && c <= 0xFE6F) || (c >= 0xFF00 && c <= 0xFF60) ||
           (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
           (c >= 0x1F900 && c <= 0x1F9FF) || (c >= 0x20000 && c <= 0x2FFFD) ||
           (c >= 0x30000 && c <= 0x3FFFD);
}

// The characters of `text`. A lone surrogate (a POSIX name's byte that was
// no UTF-8) and a control character, which would move the cursor or break
// the line, show as '?'.
Glyphs GlyphsOf(std::u16string_view text) {
    Glyphs glyphs;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = U'?';
        }
        if (c < 0x20 || (c >= 0x7F && c < 0xA0)) {
            c = U'?';
        }
        glyphs.push_back({c, IsWide(c) ? 2 : 1});
    }
    return glyphs;
}

Glyphs GlyphsOf(std::string_view ascii) {
    Glyphs glyphs;
    for (const char c : ascii) {
        glyphs.push_back({static_cast<char32_t>(c), 1});
    }
    return glyphs;
}

int ColumnsOf(const Glyphs& glyphs) {
    int columns = 0;
    for (const Glyph& glyph : glyphs) {
        columns += glyph.columns;
    }
    return columns;
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// "0:12", "12:05", "1:02:03".
std::string Clock(std::int64_t seconds) {
    char text[32];
    const std::int64_t hours = seconds / 3600;
    const int minutes = static_cast<int>(seconds / 60 % 60);
    const int rest = static_cast<int>(seconds % 60);
    if (hours > 0) {
        std::snprintf(text, sizeof text, "%lld:%02d:%02d", static_cast<long long>(hours), minutes,
                      rest);
    } else {
        std::snprintf(text, sizeof text, "%d:%02d", minutes, rest);
    }
    return text;
}

// Whether `path` ends in a separator of the system.
bool EndsInSeparator(std::u16string_view path) {
    return !path.empty() && morla::FileNamePart(path).empty();
}

// `path` without the separators at its end (but "/" stays "/").
std::u16string_view WithoutEndSeparators(std::u16string_view path) {
    while (path.size() > 1 && EndsInSeparator(path)) {
        path.remove_suffix(1);
    }
    return path;
}

}  // namespace

ProgressText FormatProgress(std::size_t done, std::size_t total, std::u16string_view folder,
                            milliseconds elapsed, int columns) {
    const std::int64_t elapsedMs = std::max<std::int64_t>(elapsed.count(), 0);
    std::string counts = "morla: ";
    counts.append(std::to_string(done)).append("/").append(std::to_string(total)).append(" files");
    const Glyphs head = GlyphsOf(counts);
    std::string times = ", ";
    times.append(Clock(elapsedMs / 1000)).append(" elapsed");
    if (done > 0 && done < total) {
        // The pace so far, for the entries still to do; rounded up, so that
        // it says 0:00 only when nothing is left.
        const std::int64_t leftMs =
            elapsedMs * static_cast<std::int64_t>(total - done) / static_cast<std::int64_t>(done);
        times.append(", about ").append(Clock((leftMs + 999) / 1000)).append(" left");
    }
    const Glyphs tail = GlyphsOf(times);
    Glyphs named = GlyphsOf(folder);
    const Glyphs comma = GlyphsOf(std::string_view(", "));

    // Never the last column: a terminal that wraps there would put the
    // cursor on a line of its own.
    const int room = std::max(columns - 1, 0);
    int folderRoom = room - ColumnsOf(head) - ColumnsOf(comma) - ColumnsOf(tail);
    const Glyphs ellipsis = GlyphsOf(std::string_view("..."));
    if (ColumnsOf(named) > folderRoom) {
        // The end of a folder tells more than its beginning.
        if (folderRoom >= ColumnsOf(ellipsis) + 1) {
            folderRoom -= ColumnsOf(ellipsis);
            auto first = named.end();
            int kept = 0;
            while (first != named.begin() && kept + (first - 1)->columns <= folderRoom) {
                --first;
                kept += first->columns;
            }
            Glyphs shortened = ellipsis;
            shortened.insert(shortened.end(), first, named.end());
            named = std::move(shortened);
        } else {
            named.clear();
        }
    }

    Glyphs line = head;
    if (!named.empty()) {
        line.insert(line.end(), comma.begin(), comma.end());
        line.insert(line.end(), named.begin(), named.end());
    }
    line.insert(line.end(), tail.begin(), tail.end());
    ProgressText fitted;
    for (const Glyph& glyph : line) {
        if (fitted.columns + glyph.columns > room) {
            break;
        }
        AppendUtf8(fitted.text, glyph.code);
        fitted.columns += glyph.columns;
    }
    return fitted;
}

std::u16string ProgressFolder(const std::vector<std::u16string>& named, std::u16string_view path) {
    std::u16string_view folder = WithoutEndSeparators(morla::FolderPart(path));
    if (folder.empty()) {
        return u".";
    }
    // The longest named folder the entry lies below.
    std::u16string_view below;
    for (const std::u16string& name : named) {
        if (name.size() > below.size() && name.size() < path.size() && path.starts_with(name) &&
            (EndsInSeparator(name) || EndsInSeparator(path.substr(0, name.size() + 1)))) {
            below = name;
        }
    }
    // (The root has no name of its own: below it the folder stays whole.)
    const std::u16string_view trimmed = WithoutEndSeparators(below);
    if (!morla::FileNamePart(trimmed).empty()) {
        folder.remove_prefix(trimmed.size() - morla::FileNamePart(trimmed).size());
    }
    return std::u16string(folder);
}

ProgressLine::ProgressLine(std::FILE* stream, std::size_t total, milliseconds delay)
    : stream_(stream),
      total_(total),
      delay_(delay),
      start_(std::chrono::steady_clock::now()),
      onTerminal_(morla::IsTerminal(stream)) {
    if (onTerminal_) {
        thread_ = std::thread([this] { Run(); });
    }
}

ProgressLine::~ProgressLine() {
    if (!onTerminal_) {
        return;
    }
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
        Erase();
    }
    wake_.notify_all();
    thread_.join();
}

void ProgressLine::Working(std::size_t done, std::u16string_view folder) {
    if (!onTerminal_) {
        return;
    }
    const std::lock_guard lock(mutex_);
    done_ = done;
    folder_ = folder;
    Refresh();
}

void ProgressLine::Hide() {
    if (!onTerminal_) {
        return;
    }
    const std::lock_guard lock(mutex_);
    hidden_ = true;
    Erase();
}

void ProgressLine::Show() {
    if (!onTerminal_) {
        return;
    }
    const std::lock_guard lock(mutex_);
    hidden_ = false;
    Refresh();
}

void ProgressLine::Refresh() {
    const auto elapsed =
        std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start_);
    if (hidden_ || stopping_ || done_ >= total_ || elapsed < delay_) {
        Erase();
        return;
    }
    const ProgressText line =
        FormatProgress(done_, total_, folder_, elapsed, morla::TerminalColumns(stream_));
    if (line.text == drawn_) {
        return;
    }
    std::string bytes = "\r";
    bytes += line.text;
    if (line.columns < drawnColumns_) {
        // Spaces over the end of the longer text before, and the text again
        // so that the cursor rests after it.
        bytes.append(static_cast<std::size_t>(drawnColumns_ - line.columns), ' ');
        bytes += '\r';
        bytes += line.text;
    }
    Put(bytes);
    drawn_ = line.text;
    morla::LineToEraseOnInterrupt(stream_, std::max(drawnColumns_, line.columns));
    drawnColumns_ = line.columns;
}

void ProgressLine::Erase() {
    if (drawnColumns_ == 0) {
        return;
    }
    std::string bytes = "\r";
    bytes.append(static_cast<std::size_t>(drawnColumns_), ' ');
    bytes += '\r';
    morla::LineToEraseOnInterrupt(stream_, 0);
    Put(bytes);
    drawn_.clear();
    drawnColumns_ = 0;
}

void ProgressLine::Put(const std::string& bytes) {
    // Standard error is unbuffered; the flush is for a stream that is not.
    std::fwrite(bytes.data(), 1, bytes.size(), stream_);
    std::fflush(stream_);
}

void ProgressLine::Run() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        Refresh();
        wake_.wait_for(lock, kRefreshPeriod, [this] { return stopping_; });
    }
}
