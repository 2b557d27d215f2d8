// Makes morla's bash completion from its template and the option table, at
// build time:
//
//   morla_bash_completion TEMPLATE OUTPUT
//
// The template's @OPTION_WORDS@ becomes the options as the command line
// takes them ("-f ... --version"), @LETTER_VALUES@ the case patterns of the
// letters that take a value, @LONG_VALUES@ the tests of the long options
// that take one; each value is "number" (a number or a gain: nothing to
// complete) or "folder".
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>

#include "api/morla.h"

namespace {

using morla::FrontEnds;
using morla::kOptions;
using morla::OptionDescription;
using morla::ValueKind;

std::string_view CompletedAs(ValueKind value) {
    return value == ValueKind::Folder ? "folder" : "number";
}

std::string OptionWords() {
    std::string words;
    for (const OptionDescription& option : kOptions) {
        if (!option.ShownIn(FrontEnds::CommandLine)) {
            continue;
        }
        if (option.letter != 0) {
            words.append(words.empty() ? "" : " ").append("-").push_back(option.letter);
        }
        if (!option.longName.empty()) {
            words.append(words.empty() ? "" : " ").append("--").append(option.longName);
        }
    }
    return words;
}

// "                        [fsrFSRg]) kind=number ;;" and the like, a line
// for each kind of value that some letter takes.
std::string LetterValues() {
    std::string lines;
    for (const ValueKind kind : {ValueKind::Number, ValueKind::Folder}) {
        std::string letters;
        for (const OptionDescription& option : kOptions) {
            if (option.ShownIn(FrontEnds::CommandLine) && option.letter != 0 &&
                option.takesValue() && CompletedAs(option.value) == CompletedAs(kind)) {
                letters += option.letter;
            }
        }
        if (!letters.empty()) {
            lines.append(lines.empty() ? "" : "\n")
                .append("                        [")
                .append(letters)
                .append("]) kind=")
                .append(CompletedAs(kind))
                .append(" ;;");
        }
    }
    return lines;
}

// "    [[ --gain == "$1"* ]] && echo number && return" for each long option
// that takes a value.
std::string LongValues() {
    std::string lines;
    for (const OptionDescription& option : kOptions) {
        if (option.ShownIn(FrontEnds::CommandLine) && !option.longName.empty() &&
            option.takesValue()) {
            lines.append("    [[ --")
                .append(option.longName)
                .append(" == \"$1\"* ]] && echo ")
                .append(CompletedAs(option.value))
                .append(" && return\n");
        }
    }
    return lines + "    return 0";
}

// Replaces the one `placeholder` in `text`; false when it is not there once.
bool Fill(std::string& text, std::string_view placeholder, const std::string& value) {
    const std::size_t at = text.find(placeholder);
    if (at == std::string::npos || text.find(placeholder, at + 1) != std::string::npos) {
        std::cerr << "morla_bash_completion: the template needs " << placeholder
                  << " exactly once\n";
        return false;
    }
    text.replace(at, placeholder.size(), value);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: morla_bash_completion TEMPLATE OUTPUT\n";
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::stringstream read;
    read << in.rdbuf();
    if (!in) {
        std::cerr << "morla_bash_completion: cannot read " << argv[1] << "\n";
        return 1;
    }
    std::string text = read.str();
    if (!Fill(text, "@OPTION_WORDS@", OptionWords()) ||
        !Fill(text, "@LETTER_VALUES@", LetterValues()) ||
        !Fill(text, "@LONG_VALUES@", LongValues())) {
        return 1;
    }
    std::ofstream out(argv[2], std::ios::binary);
    out << text;
    out.close();
    if (!out) {
        std::cerr << "morla_bash_completion: cannot write " << argv[2] << "\n";
        std::remove(argv[2]);
        return 1;
    }
    return 0;
}
