// The decoders of the command stream: one list, best first. The jobs' walks
// (level_write_walk.h) run on the decoder in use: the first in the list that
// this processor runs, unless one was chosen. Every decoder gives the same
// rows, bytes and faults; they differ in speed only.
//
// The one header about decoders that front ends, tests, benchmarks and the
// fuzz target include.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace morla {

struct Decoder {
    const char* name;         // as MORLA_DECODER takes it and `morla --version` prints it
    const char* description;  // what it is and what it needs
    bool (*runs)();           // whether this processor (and system) runs it
};

// Every decoder, in order of preference.
std::span<const Decoder> Decoders();

// The decoder named `name`, or null.
const Decoder* FindDecoder(std::string_view name);

// Their names, best first, as "avx512 or scalar", for messages.
std::string DecoderNames();

// The decoder the walks use.
const Decoder& ActiveDecoder();

// Makes the walks use `decoder` from now on; false (and nothing changed)
// when this processor cannot run it.
bool UseDecoder(const Decoder& decoder);

}  // namespace morla
