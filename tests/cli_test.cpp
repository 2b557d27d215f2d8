// The morla executable end to end: arguments in, rows, exit status and files
// out.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "test_support.h"

namespace morla::test {
namespace {

struct CliRun {
    int status = -1;
    std::string out, err;
    std::vector<std::string> rows;  // standard output, one line each
};

// Appends a space and `argument` in single quotes for the shell.
void AppendQuoted(std::string& command, const std::string& argument) {
    command += " '";
    for (char c : argument) {
        if (c == '\'') {
            command += "'\\''";
        } else {
            command += c;
        }
    }
    command += '\'';
}

std::string Slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs morla in `dir` with the arguments (file names relative to `dir`).
CliRun Morla(const TempDir& dir, const std::vector<std::string>& arguments) {
    std::string command = "cd";
    AppendQuoted(command, dir.path().string());
    command += " &&";
    AppendQuoted(command, MORLA_CLI);
    for (const std::string& argument : arguments) {
        AppendQuoted(command, argument);
    }
    command += " >.out 2>.err </dev/null";
    CliRun run;
    const int raw = std::system(command.c_str());
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = Slurp(dir / ".out");
    run.err = Slurp(dir / ".err");
    std::filesystem::remove(dir / ".out");
    std::filesystem::remove(dir / ".err");
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
        run.rows.push_back(line);
    }
    return run;
}

// One OPNA channel under algorithm 7 with a carrier at TL 20, an SSG volume
// of 12 and a rhythm total level of 40.
Bytes Song() {
    S98Builder b = Stream({}, {{0xB0, 7}, {0x40, 20}, {0x08, 12}, {0x11, 40}});
    b.End();
    return b.bytes();
}

TEST(Cli, BatchGoesOnPastAFailingFile) {
    TempDir dir;
    WriteFileBytes(dir / "one.s98", Song());
    WriteFileBytes(dir / "bad.s98", {'S', '9', '8', '2'});
    WriteFileBytes(dir / "two.s98", Song());
    const CliRun run = Morla(dir, {"-f3", "-v", "one.s98", "bad.s98", "missing.s98", "two.s98"});
    EXPECT_EQ(run.status, 1);
    const std::vector<std::string> rowsOfOne = {
        "PEAK: FM=20(2nd=20) SSG=12 RHYTHM=40", Printf("%08x FM#1 SL=0 AL=7 TL= 20 ->  23", 0x23),
        "output file:%s_new.s98  volume down: FM=3", "-> ok"};
    std::vector<std::string> expected = {"one.s98"};
    for (const std::string& row : rowsOfOne) {
        expected.push_back(Printf(row.c_str(), "one"));
    }
    expected.insert(expected.end(), {"bad.s98", "-> S98 version error.", "missing.s98",
                                     "-> input file open error.", "two.s98"});
    for (const std::string& row : rowsOfOne) {
        expected.push_back(Printf(row.c_str(), "two"));
    }
    EXPECT_EQ(run.rows, expected);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(
        FolderEntries(dir.path()),
        (std::vector<std::string>{"bad.s98", "one.s98", "one_new.s98", "two.s98", "two_new.s98"}));
    EXPECT_EQ(ReadFileBytes(dir / "one.s98"), Song());
}

TEST(Cli, ExitsZeroWhenEveryFileSucceeds) {
    TempDir dir;
    WriteFileBytes(dir / "one.s98", Song());
    const CliRun run = Morla(dir, {"-p", "one.s98"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.rows, (std::vector<std::string>{"one.s98", "PEAK: FM=20(2nd=20) SSG=12 RHYTHM=40",
                                                  "-> ok"}));
    EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"one.s98"});
}

// Each case gives the options and the summary line they lead to on Song().
TEST(Cli, OptionValuesFollowTheNumberFieldRule) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"-f5"}, " FM=5"},
        {{"-f-5"}, " FM=-5"},
        {{"-f$10"}, " FM=16"},
        {{"-f0x10", "-s-0X2"}, " FM=16 SSG=-2"},
        {{"-fabc"}, ""},            // not a number: 0
        {{"-f"}, ""},               // no text: 0
        {{"-f5", "-f7"}, " FM=7"},  // the last wins
        {{"-F127"}, " FM=-20"},     // brings TL 20 to 0
        {{"-F$7F", "-f9"}, " FM=-20"},
        {{"-vF127"}, " FM=-20"},  // grouped
        {{"-S15", "-R63"}, " SSG=-3 RHYTHM=-23"},
        {{"-r-2147483648"}, " RHYTHM=-2147483648"},
        {{"-2", "-F107"}, " FM=0"},
    };
    TempDir dir;
    for (const auto& [options, summary] : cases) {
        SCOPED_TRACE(options.front());
        WriteFileBytes(dir / "x.s98", Song());
        std::vector<std::string> arguments = options;
        arguments.push_back("x.s98");
        const CliRun run = Morla(dir, arguments);
        EXPECT_EQ(run.status, 0);
        ASSERT_GE(run.rows.size(), 3u);
        EXPECT_EQ(run.rows[run.rows.size() - 2], "output file:x_new.s98  volume down:" + summary);
    }
}

TEST(Cli, UsageErrorsWriteNothing) {
    TempDir dir;
    WriteFileBytes(dir / "x.s98", Song());
    const struct {
        std::vector<std::string> arguments;
        std::string errStart;
    } cases[] = {
        {{"x.s98"}, "オプションは最低一つ以上選択してください\n"},
        {{}, "オプションは最低一つ以上選択してください\n"},
        {{"-q", "x.s98"}, "morla: unknown option '-q'"},
        {{"-vq", "x.s98"}, "morla: unknown option '-vq'"},
        {{"-f3"}, "morla: no FILE given"},
        {{"-f3", "--", "-v"}, ""},  // after --, -v is a file
    };
    for (const auto& c : cases) {
        const CliRun run = Morla(dir, c.arguments);
        if (c.errStart.empty()) {
            EXPECT_EQ(run.status, 1);
            EXPECT_EQ(run.rows, (std::vector<std::string>{"-v", "-> input file open error."}));
            continue;
        }
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.rfind(c.errStart, 0), 0u) << run.err;
    }
    EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"x.s98"});
}

TEST(Cli, HelpListsEveryOptionAndVersionAnswers) {
    TempDir dir;
    for (const char* help : {"-h", "--help"}) {
        const CliRun run = Morla(dir, {help});
        EXPECT_EQ(run.status, 0);
        for (const char* caption :
             {"-fn : OPNA/OPN/OPN2 FM volume down value (n=value)",
              "-sn : OPNA/OPN SSG volume down value (n=value)",
              "-rn : OPNA RHYTHM volume down value (n=value)",
              "-Fn : normalize OPNA/OPN/OPN2 FM volume value (n=value)",
              "-Sn : normalize OPNA/OPN SSG volume value (n=value)",
              "-Rn : normalize OPNA RHYTHM volume value (n=value)", "-v : show detail convert log",
              "-p : show peak level only", "-2 : use 2nd peak level (TL!=0) for FM normalize"}) {
            EXPECT_NE(run.out.find(caption), std::string::npos) << caption;
        }
    }
    const CliRun version = Morla(dir, {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("morla ", 0), 0u);
}

TEST(Cli, NonAsciiNamesAndFoldersWork) {
    TempDir dir;
    std::filesystem::create_directory(dir / "曲.old");
    WriteFileBytes(dir / "曲.old" / "ジャンプ.s98", Song());
    const CliRun run = Morla(dir, {"-s2", "曲.old/ジャンプ.s98"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.rows,
              (std::vector<std::string>{
                  "ジャンプ.s98", "output file:ジャンプ_new.s98  volume down: SSG=2", "-> ok"}));
    const auto output = ReadFileBytes(dir / "曲.old" / "ジャンプ_new.s98");
    ASSERT_EQ(output.size(), Song().size());
    Bytes expected = Song();
    expected[expected.size() - 5] = 10;  // the SSG volume write's data byte
    EXPECT_EQ(output, expected);
}

}  // namespace
}  // namespace morla::test
