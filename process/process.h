// What a program does for its process as a whole, before and around the
// engine's work: the command line calls the first two from main. Not the
// engine's: these set up signal handlers and standard descriptors, which
// belong to a program, not to a library's other callers. The test fault hook
// is here too, for the tests of the file layer's failure paths.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "platform/file_io.h"  // FileStep

namespace morla {

// From now on the process removes its temporary files when it is interrupted
// (SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ; Ctrl+C and console close on
// Windows) and exits with 128 + the signal number. Once the interruption has
// come no thread creates another. It replaces the process's handlers of
// those signals (a signal the process ignores stays ignored).
void RemoveTemporaryFilesOnInterrupt();

// Opens the null device on each of the standard descriptors 0, 1 and 2 that
// is closed, so that no file opened later takes its number and receives what
// is meant for standard output or error. The null device is opened for the
// other direction, so writing a row to a closed standard output still fails.
// First thing in main, before any file is opened. (On Windows a file's handle
// never becomes a standard handle: nothing to do.)
void OpenClosedStandardDescriptors();

// The folders where a program looks for files the user gives it once for
// every run (the OPNA's rhythm ROM image), in order: the program's own folder,
// then the user's configuration folder for `program` ($XDG_CONFIG_HOME or
// ~/.config on POSIX systems, %APPDATA% on Windows, with `program` below it).
// Folders that cannot be found are left out.
std::vector<std::u16string> UserFileFolders(const char* program);

// A line of `columns` columns is drawn on the terminal of `stream` (0: none
// now): an interruption (RemoveTemporaryFilesOnInterrupt) erases it before
// the process ends, so that the shell's prompt does not follow it. POSIX;
// on Windows the console keeps what is on it.
void LineToEraseOnInterrupt(std::FILE* stream, int columns);

// Whether `stream` is a terminal a person watches (a console on Windows),
// not a file, a pipe or the null device.
bool IsTerminal(std::FILE* stream);

// How many columns wide the terminal of `stream` is; 80 when that cannot be
// told (no terminal, or one that does not say).
int TerminalColumns(std::FILE* stream);

// Makes the next OutputFile (or folder flush, FlushFolderToDisk) fail at
// `step` as if the system had reported an input/output error there, or at
// OpenFolder as if the folder could be written but not read. For tests of the
// failure paths.
void InjectFileFault(FileStep step);

}  // namespace morla
