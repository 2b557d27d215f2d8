// What the platform sources of the file layer share. Not for the rest of the
// engine: include file_io.h.
#pragma once

#include <string>

#include "file_io.h"

namespace morla::file_io {

// True once for each fault injected at `step`, then false again.
bool TakeInjectedFault(FileStep step);

// A fresh name for a temporary file: ".morla-" six letters or digits ".tmp".
// The name says what a leftover is; creation must still be exclusive.
std::string TemporaryName();

}  // namespace morla::file_io
