// The bash completion the build makes, held to the option table: it offers
// every option the command line takes, completes nothing after a number,
// folders after a folder, and FILEs after an option that takes no value.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli_support.h"
#include "job/options.h"

namespace morla::test {
namespace {

using Words = std::set<std::string>;

// What the completion offers for the last of `words` (the command line up
// to the cursor), in a bash that has read nothing but the completion file,
// started in `dir`.
Words Complete(const TempDir& dir, const std::vector<std::string>& words) {
    std::string command = "cd";
    AppendQuoted(command, dir.path().string());
    command += R"( && bash --norc --noprofile -c '
        source "$1" || exit 1
        shift
        COMP_WORDS=("$@")
        COMP_CWORD=$(($# - 1))
        COMP_LINE="$*"
        COMP_POINT=${#COMP_LINE}
        _morla morla "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
        printf "%s\n" "${COMPREPLY[@]}"' completion)";
    AppendQuoted(command, MORLA_COMPLETION);
    for (const std::string& word : words) {
        AppendQuoted(command, word);
    }
    command += " > .completions";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    std::istringstream lines(Slurp(dir / ".completions"));
    std::filesystem::remove(dir / ".completions");
    Words offered;
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty()) {
            offered.insert(line);
        }
    }
    return offered;
}

// A folder with a folder, an S98 file and another file in it.
class Completion : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directory(dir_ / "album");
        WriteFileBytes(dir_ / "Lotus.s98", Song());
        WriteFileBytes(dir_ / "notes.txt", {});
    }
    TempDir dir_;
    const Words files_ = {"Lotus.s98", "album"};
    const Words folders_ = {"album"};
};

TEST_F(Completion, OffersEveryOptionOfTheTable) {
    Words options, longOptions;
    for (const OptionDescription& option : kOptions) {
        if (!option.ShownIn(FrontEnds::CommandLine)) {
            continue;
        }
        if (option.letter != 0) {
            options.insert(std::string("-") + option.letter);
        }
        if (!option.longName.empty()) {
            longOptions.insert("--" + std::string(option.longName));
            options.insert("--" + std::string(option.longName));
        }
    }
    EXPECT_EQ(Complete(dir_, {"morla", "-"}), options);
    EXPECT_EQ(Complete(dir_, {"morla", "-f3", "--"}), longOptions);
    EXPECT_EQ(Complete(dir_, {"morla", "--gai"}), Words{"--gain"});
}

// After each option, as the table says what it takes: by its letter, alone or
// after grouped letters that take none, and by its long name, whole or
// shortened. A value attached to the option leaves the next word a FILE.
TEST_F(Completion, CompletesWhatEachOptionTakes) {
    const OptionDescription* flag = nullptr;  // a letter that takes no value
    for (const OptionDescription& option : kOptions) {
        if (option.letter != 0 && !option.takesValue()) {
            flag = &option;
            break;
        }
    }
    ASSERT_NE(flag, nullptr);
    for (const OptionDescription& option : kOptions) {
        if (!option.ShownIn(FrontEnds::CommandLine)) {
            continue;
        }
        const Words expected = !option.takesValue()                ? files_
                               : option.value == ValueKind::Folder ? folders_
                                                                   : Words{};
        if (option.letter != 0) {
            const std::string letter = std::string("-") + option.letter;
            EXPECT_EQ(Complete(dir_, {"morla", letter, ""}), expected) << letter;
            const std::string grouped = std::string("-") + flag->letter + option.letter;
            EXPECT_EQ(Complete(dir_, {"morla", grouped, ""}), expected) << grouped;
            if (option.takesValue()) {
                EXPECT_EQ(Complete(dir_, {"morla", letter + "7", ""}), files_) << letter;
            }
        }
        if (!option.longName.empty()) {
            const std::string name = "--" + std::string(option.longName);
            EXPECT_EQ(Complete(dir_, {"morla", name, ""}), expected) << name;
            const std::string shortened = name.substr(0, name.size() - 1);
            EXPECT_EQ(Complete(dir_, {"morla", shortened, ""}), expected) << shortened;
        }
    }
}

// After -- every word is a FILE, whatever it looks like.
TEST_F(Completion, AfterTheEndOfOptionsEveryWordIsAFile) {
    EXPECT_EQ(Complete(dir_, {"morla", "-f3", "--", "-o", ""}), files_);
    EXPECT_EQ(Complete(dir_, {"morla", "--", "-"}), Words{});
}

}  // namespace
}  // namespace morla::test
