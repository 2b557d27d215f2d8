// morla: the convert job for batch work from a terminal, on any OS.
//
//   morla [OPTION]... FILE...
//
// One job per FILE, with the settings the window would make from the same
// ticked boxes and typed fields; two FILEs at a time on a machine with two
// cores or more, with the results of running them in order. Rows go to
// standard output in UTF-8, a file at a time in the order of the FILEs,
// exactly as the window's list would show them.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/text.h"
#include "decode/decoder.h"
#include "job/convert_batch.h"
#include "job/number_field.h"
#include "job/options.h"
#include "passes/peak_analysis.h"
#include "platform/file_io.h"

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

// The most files converted at a time: as many temporary files as the file
// layer removes on an interruption.
constexpr std::size_t kMostJobs = 8;

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

class StandardOutputSink : public morla::LogSink {
  public:
    void Append(std::u16string_view line) override {
        std::string text = ToUtf8(line);
        text += '\n';
        output.Write(text);
    }
};

void PrintUsage() {
    std::string text =
        "usage: morla [OPTION]... FILE...\n"
        "Writes each S98 FILE with changed volumes to <name>_new.s98 beside it;\n"
        "the input is never changed. At least one option must be given.\n\n";
    for (const char letter : {'f', 's', 'r', 'F', 'S', 'R', 'v', 'p', '2'}) {
        text += "  " + ToUtf8(morla::FindOption(letter)->caption) + "\n";  // the window's rows
    }
    text +=
        "  -a, --album : normalize the FILEs as one album: one gain for all, from\n"
        "                the loudest FILE (first row: ALBUM PEAK: ...)\n"
        "  -o DIR, --output-dir DIR : write the outputs into the folder DIR\n"
        "  -h, --help : show this help\n"
        "  --version : show the version\n\n"
        "n is attached (-f3) or the next argument (-f 3): decimal, or hexadecimal\n"
        "after $, x or 0x (-F$7F), with an optional sign. Text that is not such a\n"
        "number is an error here (the window's fields count it as 0). A negative\n"
        "volume down value raises the volume. Options may be grouped (-vp) and the\n"
        "last of a repeated option wins; -- ends the options.\n\n"
        "With --album every FILE is measured first; the normalize amounts of -F,\n"
        "-S and -R (-2 for FM) then come from the loudest levels of all FILEs, so\n"
        "the tracks keep their balance. A file's PEAK row shows its own levels.\n\n"
        "A file whose output would replace a later FILE, or an output written\n"
        "earlier in the same run, fails and writes nothing. Outputs are flushed to\n"
        "disk before they replace anything; an interrupted run leaves no\n"
        "temporary file. A failed file's system reason goes to standard error.\n\n"
        "Two FILEs are converted at a time on a machine with two or more cores\n"
        "(one at a time with -v); the rows, files and exit status are those of one\n"
        "at a time. MORLA_JOBS=n in the environment converts n at a time (1 to 8;\n"
        "MORLA_JOBS=1 turns the overlap off).\n\n"
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
// set, else two when the machine has two cores or more. None when `setting`
// is no such count.
std::optional<std::size_t> JobsAtOnce(const char* setting) {
    if (setting == nullptr || *setting == '\0') {
        return std::thread::hardware_concurrency() >= 2 ? 2 : 1;
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

int Run(const std::vector<std::u16string>& arguments) {
    if (const char* decoderSetting = std::getenv("MORLA_DECODER"); !ChooseDecoder(decoderSetting)) {
        return UsageError("MORLA_DECODER must be " + morla::DecoderNames() +
                          " and run on this processor, not '" + decoderSetting + "'");
    }
    morla::VolumeSettings settings;
    bool anyOption = false;  // one of the window's nine
    bool album = false;
    std::optional<std::u16string> outputFolder;
    std::vector<std::u16string> files;
    bool optionsEnded = false;

    for (std::size_t next = 0; next < arguments.size();) {
        const std::u16string& argument = arguments[next++];
        // The value of an option: `attached` when there is one, else the next
        // argument.
        const auto valueOf = [&](std::u16string_view attached,
                                 const std::string& name) -> std::optional<std::u16string> {
            if (!attached.empty()) {
                return std::u16string(attached);
            }
            if (next == arguments.size()) {
                UsageError("option " + name + " needs a value");
                return std::nullopt;
            }
            return arguments[next++];
        };
        if (optionsEnded || argument.size() < 2 || argument[0] != u'-') {
            files.push_back(argument);
            continue;
        }
        if (argument == u"--") {
            optionsEnded = true;
        } else if (argument == u"-h" || argument == u"--help") {
            PrintUsage();
            return Finish(kExitOk);
        } else if (argument == u"--version") {
            output.Write("morla " MORLA_VERSION
                         " (morla_GUI 20110226b)\n"
                         "decoder: ");
            output.Write(morla::ActiveDecoder().name);
            output.Write("\n");
            return Finish(kExitOk);
        } else if (argument == u"--album") {
            album = true;
        } else if (argument == u"--output-dir") {
            outputFolder = valueOf(u"", "--output-dir");
            if (!outputFolder) {
                return kExitUsage;
            }
        } else if (argument.starts_with(u"--output-dir=")) {
            outputFolder = argument.substr(13);
        } else if (argument.starts_with(u"--")) {
            return UsageError("unknown option '" + ToUtf8(argument) + "'");
        } else {
            // Flags may be grouped; a value option takes the rest of its
            // argument as its value, or the next argument when nothing is left.
            for (std::size_t i = 1; i < argument.size(); ++i) {
                const char16_t letter = argument[i];
                const std::u16string_view rest = std::u16string_view(argument).substr(i + 1);
                if (letter == u'a') {
                    album = true;
                    continue;
                }
                if (letter == u'o') {
                    outputFolder = valueOf(rest, "-o");
                    if (!outputFolder) {
                        return kExitUsage;
                    }
                    break;
                }
                const morla::OptionDescription* option =
                    letter < 0x80 ? morla::FindOption(static_cast<char>(letter)) : nullptr;
                if (option == nullptr) {
                    return UsageError("unknown option '" + ToUtf8(argument) + "'");
                }
                anyOption = true;
                if (!option->takesValue) {
                    morla::TickOption(settings, option->option, {});
                    continue;
                }
                const std::string name = std::string("-") + option->letter;
                const std::optional<std::u16string> value = valueOf(rest, name);
                if (!value) {
                    return kExitUsage;
                }
                if (!morla::ParseNumber(*value)) {
                    return UsageError("option " + name + ": '" + ToUtf8(*value) +
                                      "' is not a number");
                }
                morla::TickOption(settings, option->option, *value);
                break;
            }
        }
    }

    if (!anyOption) {
        std::fprintf(stderr, "%s\n", ToUtf8(morla::kNoOptionText).c_str());
        return kExitUsage;
    }
    if (files.empty()) {
        return UsageError("no FILE given");
    }
    if (outputFolder && !morla::IsFolder(*outputFolder)) {
        return UsageError("output folder '" + ToUtf8(*outputFolder) + "' is not a folder");
    }
    const char* jobsSetting = std::getenv("MORLA_JOBS");
    const std::optional<std::size_t> jobs = JobsAtOnce(jobsSetting);
    if (!jobs) {
        return UsageError("MORLA_JOBS must be a number from 1 to " + std::to_string(kMostJobs) +
                          ", not '" + jobsSetting + "'");
    }

    morla::RemoveTemporaryFilesOnInterrupt();
    // Rows go out a file at a time (flushed below), not a write per row: a
    // terminal, a console or NUL would otherwise take a system call for each.
    std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
    StandardOutputSink sink;
    morla::ConvertBatch batch(files, outputFolder.value_or(std::u16string()));
    if (album) {
        // One gain for the whole album, from its loudest file.
        settings.normalizePeaks = batch.MeasureAlbum(settings, *jobs);
        sink.Append(u"ALBUM " + morla::FormatPeakLine(*settings.normalizePeaks));
    }
    bool allConverted = true;
    // After a file's rows: out before the next file's, and its reason on
    // standard error. False once standard output fails: no further file starts.
    const auto finished = [&](const morla::JobResult& result) {
        if (!output.Flush()) {
            return false;
        }
        if (!result.message.empty()) {
            allConverted = false;
            if (!result.failure.reason.empty()) {
                std::fprintf(stderr, "morla: %s: %s\n", ToUtf8(result.failure.path).c_str(),
                             ToUtf8(result.failure.reason).c_str());
            }
        }
        return true;
    };
    // Files converted at once hold their rows until it is their turn; detail
    // rows can run into millions for one file, so with -v they go straight
    // out, one file at a time.
    if (*jobs == 1 || settings.showDetail) {
        for (std::size_t index = 0; index < batch.size(); ++index) {
            if (!finished(batch.Convert(index, settings, sink))) {
                break;
            }
        }
    } else {
        batch.ConvertAll(settings, *jobs, [&](const morla::FinishedJob& job) {
            for (const std::u16string& row : job.rows) {
                sink.Append(row);
            }
            return finished(job.result);
        });
    }
    return Finish(allConverted ? kExitOk : kExitJobFailed);
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
    return Run(arguments);
}
#else
int main(int argc, char** argv) {
    // Before any file is opened: a closed standard output must not hand its
    // number to an output file, which would then receive the rows.
    morla::OpenClosedStandardDescriptors();
    std::vector<std::u16string> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.push_back(FromUtf8(argv[i]));
    }
    return Run(arguments);
}
#endif
