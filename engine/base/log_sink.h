// Where a job reports: the rows of the window's list, or lines on a terminal.
#pragma once

#include <string_view>

namespace morla {

class LogSink {
  public:
    virtual ~LogSink() = default;
    // Appends one complete line as the new last row.
    virtual void Append(std::u16string_view line) = 0;
};

}  // namespace morla
