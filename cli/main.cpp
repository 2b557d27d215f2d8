// morla: the convert job for batch work from a terminal, on any OS.
//
//   morla [OPTION]... FILE...
//
// One job per FILE, in order, with the settings the window would make from
// the same ticked boxes and typed fields. Rows go to standard output in UTF-8,
// exactly as the window's list would show them.
#include <cstdio>
#include <string>
#include <vector>

#include "convert_job.h"
#include "options.h"
#include "text.h"

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

class StandardOutputSink : public morla::LogSink {
  public:
    void Append(std::u16string_view line) override {
        const std::string text = ToUtf8(line);
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fputc('\n', stdout);
    }
};

void PrintUsage(std::FILE* stream) {
    std::string text =
        "usage: morla [OPTION]... FILE...\n"
        "Writes each S98 FILE with changed volumes to <name>_new.s98 beside it;\n"
        "the input is never changed. At least one option must be given.\n\n";
    for (const char letter : {'f', 's', 'r', 'F', 'S', 'R', 'v', 'p', '2'}) {
        text += "  " + ToUtf8(morla::FindOption(letter)->caption) + "\n";  // the window's rows
    }
    text +=
        "  -h, --help : show this help\n"
        "  --version : show the version\n\n"
        "n is decimal, or hexadecimal after $, x or 0x (-F$7F); text that is not a\n"
        "number counts as 0. A negative volume down value raises the volume.\n"
        "Options may be grouped (-vp) and the last of a repeated option wins;\n"
        "-- ends the options.\n\n"
        "Exit status: 0 when every file was converted, 1 when a file failed,\n"
        "2 for a usage error.\n";
    std::fputs(text.c_str(), stream);
}

int UsageError(const std::string& message) {
    std::fprintf(stderr, "morla: %s\n", message.c_str());
    std::fputs("Try 'morla --help' for more information.\n", stderr);
    return kExitUsage;
}

int Run(const std::vector<std::u16string>& arguments) {
    morla::VolumeSettings settings;
    bool anyOption = false;
    std::vector<std::u16string> files;
    bool optionsEnded = false;

    for (const std::u16string& argument : arguments) {
        if (optionsEnded || argument.size() < 2 || argument[0] != u'-') {
            files.push_back(argument);
            continue;
        }
        if (argument == u"--") {
            optionsEnded = true;
        } else if (argument == u"-h" || argument == u"--help") {
            PrintUsage(stdout);
            return kExitOk;
        } else if (argument == u"--version") {
            std::puts("morla " MORLA_VERSION " (morla_GUI 20110226b)");
            return kExitOk;
        } else {
            // -v, -p and -2 may be grouped; a value option takes the rest of
            // its argument as its number field's text.
            for (std::size_t i = 1; i < argument.size(); ++i) {
                const char16_t letter = argument[i];
                const morla::OptionDescription* option =
                    letter < 0x80 ? morla::FindOption(static_cast<char>(letter)) : nullptr;
                if (option == nullptr) {
                    return UsageError("unknown option '" + ToUtf8(argument) + "'");
                }
                anyOption = true;
                if (option->takesValue) {
                    morla::TickOption(settings, option->option,
                                      std::u16string_view(argument).substr(i + 1));
                    break;
                }
                morla::TickOption(settings, option->option, {});
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

    StandardOutputSink sink;
    bool allConverted = true;
    for (const std::u16string& file : files) {
        allConverted = morla::ConvertFileWithReport(file, settings, sink) && allConverted;
    }
    return allConverted ? kExitOk : kExitJobFailed;
}

}  // namespace

#if defined(_WIN32)
int main() {
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
    std::vector<std::u16string> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.push_back(FromUtf8(argv[i]));
    }
    return Run(arguments);
}
#endif
