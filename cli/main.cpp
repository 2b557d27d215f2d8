// morla: the convert job for batch work from a terminal, on any OS.
//
//   morla [OPTION]... FILE...
//
// One job per FILE (a folder stands for the S98 files in it), with the
// settings the window would make from the same ticked boxes and typed fields;
// two files at a time on a machine with two cores or more, with the results
// of running them in order. Rows go to standard output in UTF-8, a file at a
// time in the order the batch runs them, exactly as the window's list would
// show them.
#include <getopt.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

#include "api/morla.h"
#include "json_report.h"
#include "process/process.h"
#include "progress_line.h"

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// after windows.h
#include <shellapi.h>
#endif

namespace {

using morla::FromUtf8;
using morla::ToUtf8;

constexpr int kExitOk = 0;
constexpr int kExitJobFailed = 1;
constexpr int kExitUsage = 2;

// The most files converted at a time (-j, MORLA_JOBS): as many temporary
// files as the file layer removes on an interruption.
constexpr std::size_t kMostJobs = morla::kMostJobs;

// Standard output, checked: the rows may be the only product of a run (-p),
// so losing them is a failure, not a detail.
class StandardOutput {
  public:
    void Write(std::string_view text) {
        if (!failed_ && std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) {
            Fail();
        }
    }
    // Pushes what is buffered out; false once anything could not be written.
    bool Flush() {
        if (!failed_ && (std::fflush(stdout) != 0 || std::ferror(stdout))) {
            Fail();
        }
        return !failed_;
    }
    // "morla: write error: <reason>" on standard error.
    int Report() const {
        std::fprintf(stderr, "morla: write error: %s\n", std::strerror(error_));
        return kExitJobFailed;
    }

  private:
    void Fail() {
        failed_ = true;
        error_ = errno != 0 ? errno : EIO;
    }
    bool failed_ = false;
    int error_ = 0;
};

StandardOutput output;

// The letters of the options with `role`, in the table's order, each after
// `before`: " -f -s -r ..." for the options that run a job (a run needs one).
std::string LettersOf(morla::OptionRole role, std::string_view before) {
    std::string letters;
    for (const morla::OptionDescription& option : morla::kOptions) {
        if (option.role == role && option.letter != 0) {
            letters += before;
            letters += '-';
            letters += option.letter;
        }
    }
    return letters;
}

// How the help names an option: "-g DB, --gain DB", "-k, --keep-balance",
// "--version".
std::string NamesOf(const morla::OptionDescription& option) {
    std::string names;
    const auto name = [&](std::string_view prefix, std::string_view text) {
        names.append(names.empty() ? "" : ", ").append(prefix).append(text);
        if (!option.valueName.empty()) {
            names.append(" ").append(option.valueName);
        }
    };
    if (option.letter != 0) {
        name("-", std::string_view(&option.letter, 1));
    }
    if (!option.longName.empty()) {
        name("--", option.longName);
    }
    return names;
}

class StandardOutputSink : public morla::LogSink {
  public:
    void Append(std::u16string_view line) override {
        std::string text = ToUtf8(line);
        text += '\n';
        output.Write(text);
    }
};

// Keeps a job's rows, for its JSON object.
class RowsSink : public morla::LogSink {
  public:
    void Append(std::u16string_view line) override { rows.emplace_back(line); }
    std::vector<std::u16string> rows;
};

void PrintUsage() {
    std::string text =
        "usage: morla [OPTION]... FILE...\n"
        "Writes each S98 FILE with changed volumes to <name>_new.s98 beside it;\n"
        "the input is never changed. At least one of the options -fn to -L must\n"
        "be given.\n\n";
    // A row per option: its help after its names, or else the window's caption.
    for (const morla::OptionDescription& option : morla::kOptions) {
        if (option.ShownIn(morla::FrontEnds::CommandLine)) {
            text += "  " +
                    (option.help.empty() ? ToUtf8(option.caption)
                                         : NamesOf(option) + " : " + ToUtf8(option.help)) +
                    "\n";
        }
    }
    text +=
        "\n"
        "n is attached (-f3) or the next argument (-f 3): decimal, or hexadecimal\n"
        "after $, x or 0x (-F$7F), with an optional sign. Text that is not such a\n"
        "number, or a normalize target out of its range, is an error (the window\n"
        "refuses it in a ticked field too). A negative volume down value\n"
        "raises the volume. -g goes with none of -f, -s and -r, -k with none of\n"
        "-g, -f, -s and -r. Options may be grouped (-vp), and options and FILEs\n"
        "may come in any order; the last of a repeated option wins, and every\n"
        "argument after -- is a FILE.\n\n"
        "A FILE may be a folder: its .s98 files, then each sub-folder, in natural\n"
        "order (track 2 before track 10, Disc 1 before disc 2); hidden names and\n"
        "links to folders are left out; the rows name its files by their paths\n"
        "below it (Disc 1/track 2.s98). A file X_new.s98 beside X.s98 of the\n"
        "same run is X.s98's earlier output: it is skipped and replaced, so a\n"
        "rerun gives the same files (with -p or -m, which write nothing, it is\n"
        "measured like any file).\n\n"
        "With --album the files given directly are one album, and each folder and\n"
        "each sub-folder another; the normalize amounts of -F, -S and -R (-2 for\n"
        "FM) come from the loudest levels of the album, so its tracks keep their\n"
        "balance. A file's PEAK row shows its own levels.\n\n"
        "With -L LUFS each FILE is heard and measured as with -m, then written with\n"
        "one gain for every part (as -g moves them) that brings it nearest to LUFS on\n"
        "the parts' steps; a gain that would take its true peak past --max-peak\n"
        "(-1 dBTP unless given) is lowered to fit. Levels cannot go past their\n"
        "loudest value and some parts do not move (SSG envelope, DAC): the row\n"
        "loudness: says how far the song got and why. With --album each album is\n"
        "measured first, as one, and all its files get its one gain.\n\n"
        "With -m each FILE is played through emulated chips (ymfm) from its start\n"
        "to its end command, once, and measured by EBU R128 (libebur128): its\n"
        "integrated loudness, loudness range, true and sample peak, the length\n"
        "heard and which rhythm sounds; nothing is written. With --album each\n"
        "album's loudness follows its last file, measured over its files as one.\n"
        "The OPNA's rhythm sounds come from --rhythm-rom FILE, else from a\n"
        "ym2608_adpcm_rom.bin beside morla or in ~/.config/morla, else from a\n"
        "stand-in made by morla. A song is measured for at most an hour.\n\n"
        "A file whose output would replace a later FILE, or an output written\n"
        "earlier in the same run, fails and writes nothing. Outputs are flushed to\n"
        "disk before they replace anything; an interrupted run leaves no\n"
        "temporary file. A failed file's reason goes to standard error.\n\n"
        "Four files are converted at a time on a machine with two or more cores,\n"
        "as many as it has cores with -m (one at a time with -v); the rows, files\n"
        "and exit status are those of one at a time. -j n, or else MORLA_JOBS=n in\n"
        "the environment, converts n at a time (1 to 8; 1 turns the overlap off).\n"
        "On a terminal a long run shows its progress on standard error.\n\n"
        "With --json each file's report is one JSON object on a line of its own\n"
        "(schema 1: input, name, status, message, output, peaks, amounts,\n"
        "gain_db, clamped, loudness, loudness_after, rows), the exit status as\n"
        "without.\n\n"
        "The stream is decoded with AVX-512 when the processor has it, else one\n"
        "command at a time (--version names the decoder); MORLA_DECODER=avx512 or\n"
        "scalar chooses one. Every decoder gives the same rows and files.\n\n"
        "Exit status: 0 when every file was converted, 1 when a file failed or\n"
        "the rows could not be written, 2 for a usage error, 128+n after signal n.\n";
    output.Write(text);
}

int UsageError(const std::string& message) {
    std::fprintf(stderr, "morla: %s\n", message.c_str());
    std::fputs("Try 'morla --help' for more information.\n", stderr);
    return kExitUsage;
}

// How many files to convert at a time: `setting` (MORLA_JOBS) when it is
// set, else four when the machine has two cores or more. None when `setting`
// is no such count.
std::optional<std::size_t> JobsAtOnce(const char* setting, bool measure) {
    if (setting == nullptr || *setting == '\0') {
        // Measuring is the emulators' work, on every core. Converting waits
        // on the disk as much as on a core: while some jobs wait for their
        // files' flushes, others read and rewrite, and the file system
        // commits the flushes that meet in one journal write.
        const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
        return measure      ? std::min(cores, kMostJobs)
               : cores == 1 ? 1
                            : std::min<std::size_t>(2 * cores, 4);
    }
    const std::size_t jobs = static_cast<unsigned char>(setting[0]) - std::size_t{'0'};
    if (setting[1] != '\0' || jobs < 1 || jobs > kMostJobs) {
        return std::nullopt;
    }
    return jobs;
}

// Makes the walks use the decoder `setting` (MORLA_DECODER) names, when it
// is set. False when it names none, or one this processor cannot run.
bool ChooseDecoder(const char* setting) {
    if (setting == nullptr || *setting == '\0') {
        return true;
    }
    const morla::Decoder* decoder = morla::FindDecoder(setting);
    return decoder != nullptr && morla::UseDecoder(*decoder);
}

int Finish(int status) {
    return output.Flush() ? status : output.Report();
}

// The arguments in the form getopt_long reads them: the program's name, the
// arguments in UTF-8, then a null pointer.
class CommandLine {
  public:
#if defined(_WIN32)
    // From the UTF-16 arguments after the program's name.
    explicit CommandLine(std::vector<std::u16string> arguments) : wide_(std::move(arguments)) {
        utf8_.emplace_back("morla");
        for (const std::u16string& argument : wide_) {
            utf8_.push_back(ToUtf8(argument));
        }
        for (std::string& argument : utf8_) {  // all in place: their texts move no more
            argv_.push_back(argument.data());
        }
        argv_.push_back(nullptr);
    }
#else
    CommandLine(int argc, char** argv) : argv_(argv, argv + argc + 1) {}
#endif

    int count() const {
        return static_cast<int>(argv_.size()) - 1;
    }
    char* const* argv() const {
        return argv_.data();
    }

    // The text of argument `index` from byte `offset` on.
    std::u16string Text(int index, std::size_t offset = 0) const {
        const char* argument = argv_[index];
#if defined(_WIN32)
        // The argument as Windows gave it, when the bytes before `offset`
        // are ASCII (a unit each): a name with an unpaired surrogate has no
        // UTF-8 to come back from.
        const std::string& utf8 = utf8_[index];
        if (index > 0 && utf8.data() == argument &&
            std::all_of(utf8.begin(), utf8.begin() + static_cast<std::ptrdiff_t>(offset),
                        [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
            return wide_[static_cast<std::size_t>(index) - 1].substr(offset);
        }
#endif
        return FromUtf8(argument + offset);
    }

  private:
#if defined(_WIN32)
    std::vector<std::u16string> wide_;
    std::vector<std::string> utf8_;
#endif
    std::vector<char*> argv_;
};

// What the arguments ask for: a batch, the help, the version, or nothing but
// a usage error.
struct Batch {
    morla::OptionSet given;
    morla::VolumeSettings settings;  // from the options that run a job
    morla::BatchOptions options;     // from the options of the batch
    std::vector<std::u16string> files;
};
struct ShowHelp {};
struct ShowVersion {};
struct UsageMistake {
    std::string message;
};
using Request = std::variant<Batch, ShowHelp, ShowVersion, UsageMistake>;

// getopt_long's answers that are no letter.
constexpr int kFileCode = 1;           // a FILE, in its place among the options
constexpr int kLongOnlyCodes = 0x100;  // + the Option of a row with no letter (--version)

// What getopt_long answers for an option: its letter, or for a long option
// without one a code of its own.
int CodeOf(const morla::OptionDescription& option) {
    return option.letter != 0 ? option.letter : kLongOnlyCodes + static_cast<int>(option.option);
}

// The row getopt_long's answer `code` stands for, or nullptr.
const morla::OptionDescription* OptionOf(int code) {
    for (const morla::OptionDescription& option : morla::kOptions) {
        if (option.ShownIn(morla::FrontEnds::CommandLine) && CodeOf(option) == code) {
            return &option;
        }
    }
    return nullptr;
}

// The short options for getopt_long: the table's letters, a ':' after those
// that take a value. The leading '-' makes every FILE come back in its
// place, so files and options mix in any order whatever POSIXLY_CORRECT
// says; the ':' after it makes a missing value come back as ':', told apart
// from an unknown letter ('?').
std::string ShortOptions() {
    std::string letters = "-:";
    for (const morla::OptionDescription& option : morla::kOptions) {
        if (option.ShownIn(morla::FrontEnds::CommandLine) && option.letter != 0) {
            letters += option.letter;
            if (option.takesValue()) {
                letters += ':';
            }
        }
    }
    return letters;
}

// The long options for getopt_long: the table's long names (string
// literals, so their texts end in a null), answering as CodeOf says.
std::vector<option> LongOptions() {
    std::vector<option> options;
    for (const morla::OptionDescription& row : morla::kOptions) {
        if (row.ShownIn(morla::FrontEnds::CommandLine) && !row.longName.empty()) {
            options.push_back({row.longName.data(),
                               row.takesValue() ? required_argument : no_argument, nullptr,
                               CodeOf(row)});
        }
    }
    options.push_back({nullptr, 0, nullptr, 0});
    return options;
}

// "--output-dir" for a long option, "-f" for a letter.
std::string OptionName(int code, bool isLong) {
    const morla::OptionDescription* option = OptionOf(code);
    if (isLong && option != nullptr && !option->longName.empty()) {
        return "--" + std::string(option->longName);
    }
    return std::string("-") + static_cast<char>(code);
}

Request ParseArguments(const CommandLine& line) {
    const std::string letters = ShortOptions();
    const std::vector<option> longOptions = LongOptions();
    Batch batch;
    opterr = 0;  // our own messages only: mingw-w64 prints its own unless opterr is 0
    optind = 0;  // a scan from the first argument, whatever came before
    for (;;) {
        // The argument this call reads. FILEs come back in their place and
        // grouped letters one a call, so it is always the one at optind (0
        // starting a scan at 1).
        const int at = std::max(optind, 1);
        const int code =
            getopt_long(line.count(), line.argv(), letters.c_str(), longOptions.data(), nullptr);
        if (code == -1) {
            break;
        }
        const std::string argument = line.argv()[at];
        const bool isLong = argument.starts_with("--");
        // An option's value, or a FILE, is in the last argument read: the end
        // of it (-f3, --output-dir=DIR) or all of it.
        const auto value = [&] {
            const int index = optind - 1;
            return line.Text(index, static_cast<std::size_t>(optarg - line.argv()[index]));
        };
        const UsageMistake unknown{"unknown option '" + argument + "'"};
        switch (code) {
            case kFileCode:
                batch.files.push_back(value());
                continue;
            case ':':
                // A ':' among the letters, which mingw-w64 answers as if it
                // were an option.
                if (optopt == ':') {
                    return unknown;
                }
                return UsageMistake{"option " + OptionName(optopt, isLong) + " needs a value"};
            case '?':
                if (isLong && optopt != 0) {
                    return UsageMistake{"option " + OptionName(optopt, isLong) + " takes no value"};
                }
                return unknown;
            default:
                break;
        }
        const morla::OptionDescription* option = OptionOf(code);
        if (option == nullptr) {
            return unknown;
        }
        if (option->role == morla::OptionRole::Program) {
            return option->option == morla::Option::Version ? Request(ShowVersion{})
                                                            : Request(ShowHelp{});
        }
        std::u16string text;
        if (option->takesValue()) {
            text = value();
            // A value the job could not use, or would refuse for every file,
            // is refused here, before any file.
            if (const std::u16string mistake = morla::ValueMistake(*option, text);
                !mistake.empty()) {
                return UsageMistake{"option " + OptionName(code, isLong) + ": " + ToUtf8(mistake)};
            }
        }
        batch.given.Add(option->option);
        if (option->role == morla::OptionRole::Run) {
            morla::TickOption(batch.settings, option->option, text);
        } else {
            morla::TickBatchOption(batch.options, option->option, text);
        }
    }
    // After --, every argument left is a FILE.
    for (int index = optind; index < line.count(); ++index) {
        batch.files.push_back(line.Text(index));
    }
    return batch;
}

void PrintVersion() {
    output.Write("morla " MORLA_VERSION
                 " (morla_GUI 20110226b)\n"
                 "decoder: ");
    output.Write(morla::ActiveDecoder().name);
    output.Write("\n");
}

// Converts the FILEs, `jobs` at a time, their rows to standard output.
int ConvertFiles(const Batch& request, const morla::BatchOptions& options, std::size_t jobs) {
    morla::RemoveTemporaryFilesOnInterrupt();
    // Rows go out a file at a time (flushed below), not a write per row: a
    // terminal, a console or NUL would otherwise take a system call for each.
    std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
    StandardOutputSink sink;
    const morla::VolumeSettings& settings = request.settings;
    // The batch expands the folders, skips earlier outputs and, in album
    // mode, measures each album and opens it with its rows.
    morla::ConvertBatch batch(request.files, options);
    bool allConverted = true;
    // On a terminal, how far the batch has got: put away while rows and
    // reasons go out, so that none shares its line.
    ProgressLine progress(stderr, batch.size());
    const auto working = [&](std::size_t next) {
        progress.Working(next, next < batch.size() ? ProgressFolder(request.files, batch.path(next))
                                                   : std::u16string());
    };
    working(0);
    // After a file's rows: out before the next file's, and its reason on
    // standard error. False once standard output fails: no further file starts.
    const auto finished = [&](const morla::JobResult& result) {
        if (!output.Flush()) {
            return false;
        }
        if (!result.message.empty()) {
            allConverted = false;
            // The system's reason, or what is wrong with the file's header.
            if (!result.failure.reason.empty()) {
                std::fprintf(stderr, "morla: %s: %s\n", ToUtf8(result.failure.path).c_str(),
                             ToUtf8(result.failure.reason).c_str());
            }
        }
        return true;
    };
    // With --json a file's rows become its JSON object.
    const bool json = request.given.Has(morla::Option::Json);
    const auto report = [&](std::size_t index, const morla::JobResult& result,
                            const std::vector<std::u16string>& rows) {
        if (json) {
            output.Write(JsonLineOf(batch, index, settings, options, result, rows) + "\n");
            return;
        }
        for (const std::u16string& row : rows) {
            sink.Append(row);
        }
    };
    // Files converted at once hold their rows until it is their turn; detail
    // rows can run into millions for one file, so with -v they go straight
    // out, one file at a time.
    if (jobs == 1 || settings.showDetail) {
        // -v rows reach a terminal while their job runs: no line beside them.
        const bool lineBesideRows = !settings.showDetail || !morla::IsTerminal(stdout);
        if (!lineBesideRows) {
            progress.Hide();
        }
        for (std::size_t index = 0; index < batch.size(); ++index) {
            morla::JobResult result;
            if (json) {
                RowsSink rows;
                result = batch.Convert(index, settings, rows);
                progress.Hide();
                report(index, result, rows.rows);
            } else {
                result = batch.Convert(index, settings, sink);
                progress.Hide();
            }
            const bool goOn = finished(result);
            working(index + 1);
            if (lineBesideRows) {
                progress.Show();
            }
            if (!goOn) {
                break;
            }
        }
    } else {
        batch.ConvertAll(settings, jobs, [&](const morla::FinishedJob& job) {
            progress.Hide();
            report(job.index, job.result, job.rows);
            const bool goOn = finished(job.result);
            working(job.index + 1);
            progress.Show();
            return goOn;
        });
    }
    progress.Hide();  // for good: a write error may follow
    return Finish(allConverted ? kExitOk : kExitJobFailed);
}

// The refusal when no option to run is given: the window's line, and what is
// missing in English. The options of the batch (-a, -n, -o) only change how
// a run goes.
int NoOptionError(const Batch& batch) {
    std::fprintf(stderr, "%s\n", ToUtf8(morla::kNoOptionText).c_str());
    const std::string needed =
        "at least one of" + LettersOf(morla::OptionRole::Run, " ") + " is needed";
    bool batchOptionGiven = false;
    for (const morla::OptionDescription& option : morla::kOptions) {
        batchOptionGiven |=
            option.role == morla::OptionRole::Batch && batch.given.Has(option.option);
    }
    if (batchOptionGiven) {
        // "-a, -n and -o"
        std::string batchLetters = LettersOf(morla::OptionRole::Batch, ", ").substr(2);
        if (const std::size_t last = batchLetters.rfind(", "); last != std::string::npos) {
            batchLetters.replace(last, 2, " and ");
        }
        return UsageError("no option to run given: " + batchLetters + " go with one; " + needed);
    }
    return UsageError("no option given: " + needed);
}

// With -m or -L, the image of the OPNA's rhythm ROM the user gives: --rhythm-rom
// FILE, which must be one, or else a ym2608_adpcm_rom.bin beside morla or in
// its configuration folder (one that is no such image is passed over, with
// a warning). The empty text, or the usage mistake.
std::string FindRhythmRom(const Batch& batch, morla::BatchOptions& options) {
    morla::RhythmRom rom;
    if (batch.given.Has(morla::Option::RhythmRom)) {
        const std::u16string why = morla::ReadRhythmRom(options.rhythmRomPath, rom);
        return why.empty() ? std::string()
                           : "--rhythm-rom: '" + ToUtf8(options.rhythmRomPath) + "' " +
                                 ToUtf8(why) + ": no image of the rhythm ROM";
    }
    if (!batch.settings.measure && !batch.settings.loudnessMicroLufs) {
        return {};  // nothing is heard
    }
    for (const std::u16string& folder : morla::UserFileFolders("morla")) {
        const std::u16string path = folder + u"/" + std::u16string(morla::kRhythmRomFileName);
        if (!morla::IdentifyFile(path)) {
            continue;
        }
        if (const std::u16string why = morla::ReadRhythmRom(path, rom); !why.empty()) {
            std::fprintf(stderr, "morla: %s %s: not taken as the rhythm ROM\n",
                         ToUtf8(path).c_str(), ToUtf8(why).c_str());
            continue;
        }
        options.rhythmRomPath = path;
        return {};
    }
    return {};
}

// The batch, once it has what it needs: an option, options that go
// together, a FILE, the output folder and a count of files at a time.
int RunBatch(const Batch& batch) {
    if (!batch.given.AnyRunOption()) {
        return NoOptionError(batch);
    }
    if (const std::u16string conflict = morla::SettingsConflict(batch.given); !conflict.empty()) {
        return UsageError(ToUtf8(conflict));
    }
    if (batch.files.empty()) {
        return UsageError("no FILE given");
    }
    if (batch.given.Has(morla::Option::OutputFolder)) {
        if (const std::u16string mistake = morla::OutputFolderMistake(batch.options.outputFolder);
            !mistake.empty()) {
            return UsageError(ToUtf8(mistake));
        }
    }
    morla::BatchOptions options = batch.options;
    // Jobs that write nothing have no earlier output to skip.
    options.measureOnly = morla::WritesNothing(batch.settings);
    if (const std::string mistake = FindRhythmRom(batch, options); !mistake.empty()) {
        return UsageError(mistake);
    }
    // -j wins over MORLA_JOBS, which is then not looked at.
    const char* jobsSetting = options.jobs ? nullptr : std::getenv("MORLA_JOBS");
    // -L renders each song as -m does
    const std::optional<std::size_t> jobs =
        options.jobs ? options.jobs
                     : JobsAtOnce(jobsSetting, batch.settings.measure ||
                                                   batch.settings.loudnessMicroLufs.has_value());
    if (!jobs) {
        return UsageError("MORLA_JOBS must be a number from 1 to " + std::to_string(kMostJobs) +
                          ", not '" + jobsSetting + "'");
    }
    return ConvertFiles(batch, options, *jobs);
}

int Run(const CommandLine& line) {
    if (const char* decoderSetting = std::getenv("MORLA_DECODER"); !ChooseDecoder(decoderSetting)) {
        return UsageError("MORLA_DECODER must be " + morla::DecoderNames() +
                          " and run on this processor, not '" + decoderSetting + "'");
    }
    Request request = ParseArguments(line);
    if (std::holds_alternative<ShowHelp>(request)) {
        PrintUsage();
        return Finish(kExitOk);
    }
    if (std::holds_alternative<ShowVersion>(request)) {
        PrintVersion();
        return Finish(kExitOk);
    }
    if (const UsageMistake* mistake = std::get_if<UsageMistake>(&request)) {
        return UsageError(mistake->message);
    }
    return RunBatch(std::get<Batch>(request));
}

}  // namespace

#if defined(_WIN32)
int main() {
    morla::OpenClosedStandardDescriptors();
    // UTF-16 arguments, whatever the console's code page; UTF-8 output.
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::u16string> arguments;
    for (int i = 1; i < count; ++i) {
        arguments.emplace_back(wide[i], wide[i] + wcslen(wide[i]));
    }
    LocalFree(wide);
    SetConsoleOutputCP(CP_UTF8);
    return Run(CommandLine(std::move(arguments)));
}
#else
int main(int argc, char** argv) {
    // Before any file is opened: a closed standard output must not hand its
    // number to an output file, which would then receive the rows.
    morla::OpenClosedStandardDescriptors();
    return Run(CommandLine(argc, argv));
}
#endif
