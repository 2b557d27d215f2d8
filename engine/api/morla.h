// The engine as the front ends see it: the one header the command line and
// the window include. Everything a front end names comes through here; the
// folders below stay the engine's own business.
#pragma once

#include "base/log_sink.h"      // LogSink: where a job's rows go
#include "base/text.h"          // ToUtf8, FromUtf8
#include "decode/decoder.h"     // the decoder list, MORLA_DECODER and --version
#include "job/convert_batch.h"  // ConvertBatch, BatchOptions: a drop or a command line
#include "job/convert_job.h"    // VolumeSettings, JobResult
#include "job/options.h"        // the option table, TickOption, the checks of values and conflicts
#include "job/rhythm_rom.h"     // the user's rhythm ROM image: its name, ReadRhythmRom
#include "platform/file_io.h"   // IsFolder, IdentifyFile: the check of an output folder
