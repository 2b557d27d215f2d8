// The morla executable end to end: arguments in, rows, exit status and files
// out.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "cli_support.h"
#include "decode/decoder.h"

namespace morla::test {
namespace {

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
    // The rows stay the window's; the reason goes to standard error.
    EXPECT_EQ(run.err,
              "morla: bad.s98: an S98 version this tool does not read (only 0, 1 and 3)\n"
              "morla: missing.s98: No such file or directory\n");
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
        {{"-f", "5"}, " FM=5"},  // the value as the next argument
        {{"-f", "-5"}, " FM=-5"},
        {{"-vf", "$10"}, " FM=16"},
        {{"-f", " 6"}, " FM=6"},    // leading spaces, as in the window's fields
        {{"-f5", "-f7"}, " FM=7"},  // the last wins
        {{"-F127"}, " FM=-20"},     // brings TL 20 to 0
        {{"-F$7F", "-f9"}, " FM=-20"},
        {{"-vF127"}, " FM=-20"},  // grouped
        {{"-S15", "-R63"}, " SSG=-3 RHYTHM=-23"},
        {{"-F0", "-S0", "-R0"}, " FM=107 SSG=12 RHYTHM=40"},  // the other ends of the ranges
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

// Files and options come in any order, as GNU tools take them, with or
// without POSIXLY_CORRECT: the FILEs keep their own order and give the rows
// and outputs they give after the options. After --, a name like an option
// is a FILE; a lone - is a FILE anywhere.
TEST(Cli, FilesAndOptionsComeInAnyOrder) {
    TempDir dir;
    WriteFileBytes(dir / "a.s98", Song());
    WriteFileBytes(dir / "b.s98", Stream({}, {{0xB0, 7}, {0x40, 5}, {0x08, 15}}).bytes());
    WriteFileBytes(dir / "-v.s98", Song());
    WriteFileBytes(dir / "-", Stream({}, {{0xB0, 7}, {0x40, 9}, {0x08, 3}}).bytes());
    const auto outputOf = [](const std::string& file) {
        return file.substr(0, file.rfind('.')) + "_new.s98";  // "-" gives "-_new.s98"
    };
    // The outputs of every file, converted in one run with the options first.
    const std::vector<std::string> all = {"a.s98", "b.s98", "-v.s98", "-"};
    std::vector<std::string> arguments = {"-f3", "-s2", "--"};
    arguments.insert(arguments.end(), all.begin(), all.end());
    ASSERT_EQ(Morla(dir, arguments).status, 0);
    std::map<std::string, Bytes> outputs;
    for (const std::string& file : all) {
        outputs[file] = ReadFileBytes(dir / outputOf(file));
        std::filesystem::remove(dir / outputOf(file));
    }
    const struct {
        std::vector<std::string> arguments;
        std::vector<std::string> files;  // in the order of their rows
    } cases[] = {
        {{"a.s98", "b.s98", "-f3", "-s2"}, {"a.s98", "b.s98"}},
        {{"b.s98", "-f3", "a.s98", "-s2"}, {"b.s98", "a.s98"}},
        {{"a.s98", "-s", "2", "b.s98", "-f", "3"}, {"a.s98", "b.s98"}},
        {{"-s2", "a.s98", "-f3", "--", "-v.s98", "b.s98"}, {"a.s98", "-v.s98", "b.s98"}},
        {{"-f3", "-", "-s2", "a.s98"}, {"-", "a.s98"}},
    };
    for (const char* environment : {"true", "export POSIXLY_CORRECT=1"}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(c.arguments.front() + " " + c.arguments.back() + ", " + environment);
            const CliRun run = Morla(dir, c.arguments, ".out", environment);
            EXPECT_EQ(run.status, 0);
            EXPECT_EQ(run.err, "");
            std::vector<std::string> rows;
            std::vector<std::string> entries = all;
            for (const std::string& file : c.files) {
                rows.insert(
                    rows.end(),
                    {file, "output file:" + outputOf(file) + "  volume down: FM=3 SSG=2", "-> ok"});
                EXPECT_TRUE(ReadFileBytes(dir / outputOf(file)) == outputs[file]) << file;
                entries.push_back(outputOf(file));
            }
            EXPECT_EQ(run.rows, rows);
            std::sort(entries.begin(), entries.end());
            EXPECT_EQ(FolderEntries(dir.path()), entries);
            for (const std::string& file : c.files) {
                std::filesystem::remove(dir / outputOf(file));
            }
        }
    }
}

TEST(Cli, UsageErrorsWriteNothing) {
    TempDir dir;
    WriteFileBytes(dir / "x.s98", Song());
    const struct {
        std::vector<std::string> arguments;
        std::string errStart;
    } cases[] = {
        {{"-x", "x.s98"}, "morla: unknown option '-x'"},
        {{"-vx", "x.s98"}, "morla: unknown option '-vx'"},
        {{"-j0", "-f3", "x.s98"}, "morla: option -j: '0' is out of range (1-8)\n"},
        {{"-f3", "--jobs", "9", "x.s98"}, "morla: option --jobs: '9' is out of range (1-8)\n"},
        {{"-f3", "-q", "-v", "x.s98"}, "morla: -q leaves out the rows -v asks for"},
        {{"-f3", "--json", "-v", "x.s98"}, "morla: --json has no detail rows"},
        {{"-vé", "x.s98"}, "morla: unknown option '-vé'\n"},  // the argument whole
        {{"--foo", "-f3", "x.s98"}, "morla: unknown option '--foo'\n"},
        {{"-f3", "--album=yes", "x.s98"}, "morla: option --album takes no value\n"},
        {{"-f3", "x.s98", "--output-dir"}, "morla: option --output-dir needs a value\n"},
        {{"-f3"}, "morla: no FILE given"},
        {{"-f3abc", "x.s98"}, "morla: option -f: '3abc' is not a number\n"},
        {{"-fabc", "x.s98"}, "morla: option -f: 'abc' is not a number\n"},
        {{"-f99999999999", "x.s98"}, "morla: option -f: '99999999999' is not a number\n"},
        {{"-F$100000000", "x.s98"}, "morla: option -F: '$100000000' is not a number\n"},
        {{"-s", "3 ", "x.s98"}, "morla: option -s: '3 ' is not a number\n"},
        {{"-vr", "", "x.s98"}, "morla: option -r: '' is not a number\n"},
        {{"x.s98", "-f"}, "morla: option -f needs a value\n"},
        // A target the job would refuse, as typed, before any file.
        {{"-F128", "x.s98"}, "morla: option -F: '128' is out of range (0-127)\n"},
        {{"-F", "-1", "x.s98"}, "morla: option -F: '-1' is out of range (0-127)\n"},
        {{"-F$C8", "x.s98"}, "morla: option -F: '$C8' is out of range (0-127)\n"},
        {{"-S16", "x.s98"}, "morla: option -S: '16' is out of range (0-15)\n"},
        {{"-vR", "64", "missing.s98"}, "morla: option -R: '64' is out of range (0-63)\n"},
        {{"-R-1", "-f3", "x.s98"}, "morla: option -R: '-1' is out of range (0-63)\n"},
        {{"-F200", "-F120", "x.s98"}, "morla: option -F: '200' is out of range (0-127)\n"},
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

// No option to run (the window's nine, -g, -k, -m): the window's line, then what
// is missing in English; -a, -n and -o go with one and are none themselves.
TEST(Cli, NoOptionToRunIsRefusedBeforeAnyFile) {
    TempDir dir;
    WriteFileBytes(dir / "x.s98", Song());
    const std::string needed = "at least one of -f -s -r -F -S -R -v -p -2 -g -k -m -L is needed\n";
    const struct {
        std::vector<std::string> arguments;
        std::string line;
    } cases[] = {
        {{}, "no option given: " + needed},
        {{"x.s98"}, "no option given: " + needed},
        {{"-a", "x.s98"}, "no option to run given: -a, -n, -o, -q and -j go with one; " + needed},
        {{"--dry-run", "x.s98"},
         "no option to run given: -a, -n, -o, -q and -j go with one; " + needed},
        {{"-n", "x.s98"}, "no option to run given: -a, -n, -o, -q and -j go with one; " + needed},
        {{"-an", "-o", "nowhere"},
         "no option to run given: -a, -n, -o, -q and -j go with one; " + needed},
    };
    for (const auto& c : cases) {
        const CliRun run = Morla(dir, c.arguments);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "オプションは最低一つ以上選択してください\nmorla: " + c.line +
                               "Try 'morla --help' for more information.\n");
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
              "-p : show peak level only", "-2 : use 2nd peak level (TL!=0) for FM normalize",
              "-g DB, --gain DB", "-k, --keep-balance", "-a, --album", "-n, --dry-run",
              "-o DIR, --output-dir DIR"}) {
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

// --album on files named directly: one album, its ALBUM and ALBUM PEAK rows
// first, with or without -v or -p; then every file as without it, normalized
// from the album's peaks.
TEST(Cli, AlbumNormalizesEveryFileFromTheLoudest) {
    TempDir dir;
    WriteFileBytes(dir / "song.s98", Song());  // FM 20, SSG 12, rhythm 40
    WriteFileBytes(dir / "loud.s98", Stream({}, {{0xB0, 7}, {0x40, 5}, {0x08, 15}}).bytes());
    const CliRun run = Morla(dir, {"--album", "-F127", "-S15", "song.s98", "loud.s98"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.rows,
              (std::vector<std::string>{
                  "ALBUM: files given directly", "ALBUM PEAK: FM=5(2nd=5) SSG=15 RHYTHM=40",
                  "song.s98", "output file:song_new.s98  volume down: FM=-5 SSG=0", "-> ok",
                  "loud.s98", "output file:loud_new.s98  volume down: FM=-5 SSG=0", "-> ok"}));

    const CliRun peaks = Morla(dir, {"-ap", "song.s98", "missing.s98"});
    EXPECT_EQ(peaks.status, 1);
    EXPECT_EQ(peaks.rows,
              (std::vector<std::string>{"ALBUM: files given directly",
                                        "ALBUM PEAK: FM=20(2nd=20) SSG=12 RHYTHM=40", "song.s98",
                                        "PEAK: FM=20(2nd=20) SSG=12 RHYTHM=40", "-> ok",
                                        "missing.s98", "-> input file open error."}));
}

TEST(Cli, OutputFolderTakesEveryOutput) {
    TempDir dir;
    std::filesystem::create_directory(dir / "in");
    std::filesystem::create_directory(dir / "out");
    WriteFileBytes(dir / "in" / "song.s98", Song());
    for (const std::vector<std::string>& option : {std::vector<std::string>{"-o", "out"},
                                                   {"-oout"},
                                                   {"--output-dir", "out"},
                                                   {"--output-dir=out"}}) {
        std::filesystem::remove(dir / "out" / "song_new.s98");
        std::vector<std::string> arguments = option;
        arguments.insert(arguments.end(), {"-f3", "in/song.s98"});
        const CliRun run = Morla(dir, arguments);
        EXPECT_EQ(run.status, 0) << option.front();
        EXPECT_EQ(run.rows[1], "output file:song_new.s98  volume down: FM=3");
        EXPECT_EQ(FolderEntries(dir / "out"), std::vector<std::string>{"song_new.s98"});
        EXPECT_EQ(FolderEntries(dir / "in"), std::vector<std::string>{"song.s98"});
    }
    std::filesystem::create_symlink("nowhere", dir / "dangling");
    for (const auto& [folder, what] : {std::pair{"nowhere", "does not exist"},
                                       {"dangling", "does not exist"},
                                       {"in/song.s98", "is not a folder"}}) {
        const CliRun run = Morla(dir, {"-f3", "-o", folder, "in/song.s98"});
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.err, std::string("morla: output folder '") + folder + "' " + what +
                               "\nTry 'morla --help' for more information.\n");
        EXPECT_EQ(run.out, "");
    }
    EXPECT_EQ(FolderEntries(dir / "in"), std::vector<std::string>{"song.s98"});
    EXPECT_EQ(
        Morla(dir, {"-f3", "in/song.s98", "-o"}).err.rfind("morla: option -o needs a value", 0),
        0u);
}

// The rows are the product of -p: a run that cannot write them fails, and
// says why on standard error.
TEST(Cli, RowsThatCannotBeWrittenFailTheRun) {
    TempDir dir;
    WriteFileBytes(dir / "x.s98", Song());
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"-p", "x.s98"}, {"--help"}, {"--version"}}) {
        const CliRun run = Morla(dir, arguments, "/dev/full");
        EXPECT_EQ(run.status, 1) << arguments.front();
        EXPECT_EQ(run.err, "morla: write error: No space left on device\n");
    }
}

// The rows stay the window's; the reason the system gave is added on
// standard error, naming the file it concerns.
TEST(Cli, FailedWriteGivesTheSystemsReason) {
    TempDir dir;
    const std::string stem(251, 'n');  // the output's name is 259 bytes: too long
    WriteFileBytes(dir / (stem + ".s98"), Song());
    const CliRun run = Morla(dir, {"-f3", stem + ".s98"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.rows, (std::vector<std::string>{
                            stem + ".s98", "output file:" + stem + "_new.s98  volume down: FM=3",
                            "-> output file open error."}));
    EXPECT_EQ(run.err, "morla: " + stem + "_new.s98: File name too long\n");
}

// A write cut short by the file-size limit: the temporary file goes, the run
// ends with 128 + SIGXFSZ.
TEST(Cli, FileSizeLimitDuringAWriteLeavesNothingBehind) {
    TempDir dir;
    WriteFileBytes(dir / "big.s98", BigSong(4));
    const CliRun run = Morla(dir, {"-f3", "big.s98"}, ".out", "ulimit -f 2048");
    EXPECT_EQ(run.status, 128 + SIGXFSZ);
    EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"big.s98"});
}

// Interrupted while writing its output: the temporary file is removed, the
// rows of the files already done are out, and the exit status is 128 + the
// signal. The signal is sent once the big file's temporary file is seen.
TEST(Cli, InterruptionDuringAWriteLeavesNothingBehind) {
    TempDir dir;
    WriteFileBytes(dir / "small.s98", Song());
    WriteFileBytes(dir / "big.s98", BigSong(64));
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        bool caught = false;
        for (int attempt = 0; attempt < 5 && !caught; ++attempt) {
            std::filesystem::remove(dir / "small_new.s98");
            std::filesystem::remove(dir / "big_new.s98");
            const pid_t child = ::fork();
            if (child == 0) {
                if (::chdir(dir.path().c_str()) != 0 || !std::freopen(".out", "w", stdout)) {
                    ::_exit(99);
                }
                ::execl(MorlaProgram(), MorlaProgram(), "-f3", "small.s98", "big.s98", nullptr);
                ::_exit(98);
            }
            const auto start = std::chrono::steady_clock::now();
            // Files run two at a time: the big file's temporary file may come
            // before the small file's rows are out, so wait for the rows too.
            const auto smallRowsOut = [&] { return Slurp(dir / ".out").ends_with("-> ok\n"); };
            while (!(std::filesystem::exists(dir / "small_new.s98") && smallRowsOut() &&
                     HasTemporaryFile(dir.path())) &&
                   std::chrono::steady_clock::now() - start < std::chrono::seconds(20)) {
                if (::waitpid(child, nullptr, WNOHANG) == child) {
                    break;  // finished before it could be caught: try again
                }
            }
            caught = ::kill(child, signal) == 0;
            int status = 0;
            ::waitpid(child, &status, 0);
            if (!caught) {
                continue;
            }
            EXPECT_TRUE(WIFEXITED(status));
            EXPECT_EQ(WEXITSTATUS(status), 128 + signal);
            EXPECT_EQ(Slurp(dir / ".out"),
                      "small.s98\noutput file:small_new.s98  volume down: FM=3\n-> ok\n");
            std::filesystem::remove(dir / ".out");
            EXPECT_EQ(FolderEntries(dir.path()),
                      (std::vector<std::string>{"big.s98", "small.s98", "small_new.s98"}));
        }
        EXPECT_TRUE(caught) << "the write was never caught in progress";
    }
}

// Files converted two at a time give what one at a time gives: the same
// bytes on standard output and standard error, exit status and files.
TEST(Cli, FilesAtATimeChangeNothingButTheTime) {
    std::vector<std::string> arguments = {"-v", "-f3", "-S13"};
    for (int i = 15; i >= 0; --i) {
        arguments.push_back(Printf("t%02d.s98", i));
    }
    const auto setUp = [&](const TempDir& dir) {
        for (int i = 0; i < 16; ++i) {
            S98Builder b = Stream({}, {{0xB0, 7}, {0x40, 20 + i}, {0x08, 12}});
            b.Waits((i % 5) * 200000);
            WriteFileBytes(dir / Printf("t%02d.s98", i), b.bytes());
        }
        WriteFileBytes(dir / "t03_new.s98", Song());  // the output of t03.s98, a later input
        WriteFileBytes(dir / "bad.s98", {'S', '9', '8', '2'});
        WriteFileBytes(dir / (std::string(251, 'n') + ".s98"), Song());
    };
    arguments.insert(arguments.end(), {"missing.s98", "t03_new.s98", "./t07.s98", "bad.s98",
                                       std::string(251, 'n') + ".s98", "t00_new.s98"});
    std::vector<std::pair<CliRun, std::vector<Bytes>>> runs;
    for (const char* jobs : {"1", "2", ""}) {
        TempDir dir;
        setUp(dir);
        const CliRun run = Morla(dir, arguments, ".out", std::string("export MORLA_JOBS=") + jobs);
        std::vector<Bytes> files;
        for (const std::string& name : FolderEntries(dir.path())) {
            files.push_back(ReadFileBytes(dir / name));
        }
        runs.push_back({run, files});
    }
    EXPECT_EQ(runs[0].first.status, 1);
    // t03_new.s98 and t00_new.s98 are outputs of t03.s98 and t00.s98: skipped.
    EXPECT_EQ(std::count(runs[0].first.rows.begin(), runs[0].first.rows.end(), "-> ok"), 16);
    EXPECT_EQ(std::count_if(runs[0].first.rows.begin(), runs[0].first.rows.end(),
                            [](const std::string& row) { return row.starts_with("-> skipped"); }),
              2);
    for (const auto& [run, files] : runs) {
        EXPECT_EQ(run.status, runs[0].first.status);
        EXPECT_EQ(run.out, runs[0].first.out);
        EXPECT_EQ(run.err, runs[0].first.err);
        EXPECT_TRUE(files == runs[0].second);
    }
}

TEST(Cli, FilesAtATimeComeFromTheEnvironment) {
    TempDir dir;
    WriteFileBytes(dir / "x.s98", Song());
    for (const char* jobs : {"0", "9", "12", "two"}) {
        const CliRun run =
            Morla(dir, {"-f3", "x.s98"}, ".out", std::string("export MORLA_JOBS=") + jobs);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(
            run.err.rfind(
                std::string("morla: MORLA_JOBS must be a number from 1 to 8, not '") + jobs + "'\n",
                0),
            0u);
    }
    EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"x.s98"});
    EXPECT_NE(Morla(dir, {"--help"}).out.find("MORLA_JOBS=n"), std::string::npos);
    // Standard output lost: the run stops with the reason, whatever overlaps.
    const CliRun full =
        Morla(dir, {"-f3", "x.s98", "x.s98", "x.s98"}, "/dev/full", "export MORLA_JOBS=2");
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(full.err, "morla: write error: No space left on device\n");
}

// MORLA_DECODER picks the decoder --version names; every decoder this
// processor runs gives the same rows, files and status; a name that is no
// decoder, or one the processor cannot run, is a usage error.
TEST(Cli, DecoderComesFromTheEnvironment) {
    const std::vector<std::string> arguments = {"-v", "-f-3", "-s2", "-r1", "a.s98", "b.s98"};
    std::vector<std::pair<CliRun, std::vector<Bytes>>> runs;
    for (const Decoder& decoder : Decoders()) {
        const std::string name = decoder.name;
        TempDir dir;
        WriteFileBytes(dir / "a.s98", Song());
        S98Builder b = Stream({}, {{0xB0, 7}, {0x40, 1}, {0x08, 15}, {0x11, 62}});
        b.Waits(300);
        WriteFileBytes(dir / "b.s98", b.bytes());
        const CliRun version = Morla(dir, {"--version"}, ".out", "export MORLA_DECODER=" + name);
        if (!decoder.runs()) {
            EXPECT_EQ(version.status, 2) << name;
            continue;
        }
        EXPECT_NE(version.out.find("decoder: " + name + "\n"), std::string::npos) << name;
        const CliRun run = Morla(dir, arguments, ".out", "export MORLA_DECODER=" + name);
        std::vector<Bytes> files;
        for (const std::string& file : FolderEntries(dir.path())) {
            files.push_back(ReadFileBytes(dir / file));
        }
        runs.push_back({run, files});
    }
    ASSERT_FALSE(runs.empty());
    EXPECT_EQ(runs[0].first.status, 0);
    EXPECT_EQ(runs[0].second.size(), 4u);
    for (const auto& [run, files] : runs) {
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, runs[0].first.out);
        EXPECT_TRUE(files == runs[0].second);
    }
    TempDir dir;
    const CliRun wrong = Morla(dir, {"--version"}, ".out", "export MORLA_DECODER=sse9");
    EXPECT_EQ(wrong.status, 2);
    EXPECT_EQ(wrong.err.rfind("morla: MORLA_DECODER must be " + DecoderNames(), 0), 0u);
    EXPECT_NE(Morla(dir, {"--help"}).out.find("MORLA_DECODER="), std::string::npos);
}

}  // namespace
}  // namespace morla::test
