// The engine's only contact with the operating system: reading a whole file
// and replacing a file with new contents. Paths are UTF-16.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "s98_image.h"

namespace morla {

enum class ReadStatus {
    Ok,
    OpenError,        // missing, unreadable, or not a regular file
    AllocationError,  // the buffer could not be had
    ReadError,        // short read, or a file of 2 GiB or more
};

// Reads the whole file into `image`, allocated at exactly the file's length.
ReadStatus ReadWholeFile(const std::u16string& path, S98Image& image);

enum class WriteStatus {
    Ok,
    OpenError,   // the temporary file could not be created, or not renamed over the target
    WriteError,  // a failed or short write, or a failed close
};

// Writes `size` bytes to a temporary file beside `path`, then renames it over
// `path` in one step, so an existing file is replaced whole or not at all. On
// failure nothing is left behind.
WriteStatus ReplaceFileContents(const std::u16string& path, const std::uint8_t* bytes,
                                std::size_t size);

}  // namespace morla
