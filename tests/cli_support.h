// Running the built morla executable from the tests: arguments in, rows,
// exit status and files out.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace morla::test {

struct CliRun {
    int status = -1;  // the exit status; -1 when ended by a signal
    std::string out, err;
    std::vector<std::string> rows;  // standard output, one line each
};

// The morla executable under test: the one built beside the tests, or the
// one MORLA_UNDER_TEST names.
const char* MorlaProgram();

// Runs morla in `dir` with the arguments (file names relative to `dir`),
// after `setUp` in the same shell. Standard output goes to the file `out`
// and standard error to `err` (".out" and ".err" in `dir`, read back and
// removed); "&-" starts morla with that stream closed.
CliRun Morla(const TempDir& dir, const std::vector<std::string>& arguments,
             const std::string& out = ".out", const std::string& setUp = "true",
             const std::string& err = ".err");

// Appends a space and `argument` in single quotes for the shell.
void AppendQuoted(std::string& command, const std::string& argument);

std::string Slurp(const std::filesystem::path& path);

// One OPNA channel under algorithm 7 with a carrier at TL 20, an SSG volume
// of 12 and a rhythm total level of 40.
Bytes Song();

// A song of about `mebibytes` MiB: one carrier write, then waits.
Bytes BigSong(std::size_t mebibytes);

// Whether `folder` holds a temporary file of an output being written (or
// left behind).
bool HasTemporaryFile(const std::filesystem::path& folder);

}  // namespace morla::test
