// morla --json: one JSON object per entry of the batch, a line each (JSON
// Lines), in place of the rows. The layout is documented in
// docs/command-line.md ("JSON output") under its schema number.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "api/morla.h"

// The number of the objects' layout: raised when a field goes or changes its
// meaning (a new field does not raise it).
inline constexpr int kJsonSchema = 1;

// The object of entry `index` of `batch` (without its line end): what was
// asked of it, how it ended (`result`) and the rows it would have shown.
std::string JsonLineOf(const morla::ConvertBatch& batch, std::size_t index,
                       const morla::VolumeSettings& settings, const morla::BatchOptions& options,
                       const morla::JobResult& result, const std::vector<std::u16string>& rows);
