// How far a batch has got, on one terminal line that is redrawn in place:
//
//   morla: 120/990 files, Covers/Disc 1, 0:12 elapsed, about 1:27 left
//
// Drawn with a carriage return and erased with spaces, so it works on any
// terminal and any Windows console without escape sequences; never written
// to a file or a pipe, so what scripts read is the same with or without it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// The line's text in UTF-8, and how many terminal columns it takes.
struct ProgressText {
    std::string text;
    int columns = 0;
};

// What the line says when `done` of `total` entries are done, the folder of
// the entry being worked on is `folder` (left out when empty) and the batch
// has run for `elapsed`: the done and total counts, the folder, the time
// elapsed and, once an entry is done, an estimate of the time left from the
// pace so far. Times read m:ss, or h:mm:ss from an hour on.
//
// The text fits in `columns` - 1 columns, so the terminal never wraps it: a
// folder too long loses its beginning ("...rs/Disc 1"), and a terminal too
// narrow even then cuts the line's end. A character is never split, and East
// Asian wide characters count two columns. Control characters and text that
// was no valid Unicode (lone surrogates) show as '?'.
ProgressText FormatProgress(std::size_t done, std::size_t total, std::u16string_view folder,
                            std::chrono::milliseconds elapsed, int columns);

// The folder the line names for the entry at `path` of a batch made from the
// paths `named`: below a named folder, the part from that folder's own name
// on ("Covers/Disc 1" for Covers/Disc 1/a.s98 when /music/Covers was named);
// else the entry's folder as given, "." for a bare file name.
std::u16string ProgressFolder(const std::vector<std::u16string>& named, std::u16string_view path);

// The progress line of one batch on `stream` (standard error). It shows only
// when `stream` is a terminal, once the batch has run for `delay`; from then
// on it is redrawn about four times a second from a thread of its own, so the
// elapsed time moves while a long file runs. Every call may come from the
// main thread while that thread draws: both take one lock.
class ProgressLine {
  public:
    ProgressLine(std::FILE* stream, std::size_t total,
                 std::chrono::milliseconds delay = std::chrono::seconds(1));
    // Erases the line and stops its thread.
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // `done` entries are done; the next is in `folder`. Once all are done
    // the line stays away.
    void Working(std::size_t done, std::u16string_view folder);

    // Around anything else written to the terminal (a finished entry's rows
    // on standard output, a reason on standard error): Hide erases the line
    // and keeps it away until Show draws it again, so nothing else ever
    // shares its line.
    void Hide();
    void Show();

  private:
    void Refresh();  // with mutex_ held
    void Erase();    // with mutex_ held
    void Put(const std::string& bytes);
    void Run();

    std::FILE* stream_;
    const std::size_t total_;
    const std::chrono::milliseconds delay_;
    const std::chrono::steady_clock::time_point start_;
    const bool onTerminal_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::size_t done_ = 0;
    std::u16string folder_;
    bool hidden_ = false;
    bool stopping_ = false;
    std::string drawn_;     // the text on the terminal now; empty when none
    int drawnColumns_ = 0;  // its width
    std::thread thread_;    // only on a terminal
};
