// morla on folders and whole collections, end to end through the executable:
// folders stand for their S98 files, reruns skip earlier outputs, albums go
// folder by folder, dry runs write nothing, and header faults say why.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "cli_support.h"

namespace morla::test {
namespace {

namespace fs = std::filesystem;

// A song whose loudest FM carrier has TL `tl` and whose SSG volume is `ssg`.
Bytes Levels(int tl, int ssg) {
    return Stream({}, {{0xB0, 7}, {0x40, tl}, {0x08, ssg}}).bytes();
}

// Everything under `root`, by path relative to it: a file's bytes, a link's
// target, or "<folder>". Links are not followed.
using Tree = std::map<std::string, std::string>;
Tree TreeOf(const fs::path& root) {
    Tree tree;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
        const std::string name = fs::relative(entry.path(), root).string();
        if (entry.is_symlink()) {
            tree[name] = "-> " + fs::read_symlink(entry.path()).string();
        } else if (entry.is_directory()) {
            tree[name] = "<folder>";
        } else {
            tree[name] = Slurp(entry.path());
        }
    }
    return tree;
}

// The rows one converted file gives with -f3.
// The rows of a file converted with -f3, named `shown` (its path below the
// folder named, or its name).
std::vector<std::string> RowsOf(const std::string& shown) {
    const std::string name = shown.substr(shown.rfind('/') + 1);
    const std::string stem = name.substr(0, name.rfind('.'));
    return {shown, "output file:" + stem + "_new.s98  volume down: FM=3", "-> ok"};
}

// What a folder stands for: its .s98 files in natural order (numbers by
// value, letters in any case), then each sub-folder the same way. Hidden
// names, "._" files, other files, links to folders and folders with no S98
// file give nothing; a link to a file is a file.
TEST(CliCollection, FolderStandsForItsFilesInNaturalOrder) {
    TempDir dir;
    fs::create_directories(dir / "album" / "Disc 1" / "Bonus");
    fs::create_directories(dir / "album" / "disc 2");
    fs::create_directories(dir / "album" / "disc 10");
    fs::create_directories(dir / "album" / ".cache");
    fs::create_directories(dir / "album" / "empty");
    fs::create_directories(dir / "elsewhere");
    for (const char* name : {"track 10.s98", "track 2.s98", "Track 1.S98", ".hidden.s98",
                             "._track 3.s98", "Disc 1/d1.s98", "Disc 1/Bonus/bonus.s98",
                             "disc 2/d2.s98", "disc 10/d10.s98", ".cache/cached.s98"}) {
        WriteFileBytes(dir / "album" / name, Song());
    }
    WriteFileBytes(dir / "album" / "notes.txt", {'n'});
    WriteFileBytes(dir / "loose.s98", Song());
    WriteFileBytes(dir / "elsewhere" / "far.s98", Song());
    fs::create_symlink("../loose.s98", dir / "album" / "link.s98");
    fs::create_symlink("../elsewhere", dir / "album" / "linked folder");
    const Tree before = TreeOf(dir.path());

    const CliRun run = Morla(dir, {"-f3", "album"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    std::vector<std::string> rows;
    // Named by their paths below the folder given.
    const std::vector<std::string> order = {"link.s98",      "Track 1.S98",
                                            "track 2.s98",   "track 10.s98",
                                            "Disc 1/d1.s98", "Disc 1/Bonus/bonus.s98",
                                            "disc 2/d2.s98", "disc 10/d10.s98"};
    for (const std::string& name : order) {
        const std::vector<std::string> own = RowsOf(name);
        rows.insert(rows.end(), own.begin(), own.end());
    }
    EXPECT_EQ(run.rows, rows);
    // The old tree and one output per file run, beside the path it was found
    // under (the link's output beside the link).
    Bytes converted = Song();
    converted[converted.size() - 8] = 23;  // the carrier's TL, 20 + 3
    Tree expected = before;
    for (const char* output :
         {"link_new.s98", "Track 1_new.s98", "track 2_new.s98", "track 10_new.s98",
          "Disc 1/d1_new.s98", "Disc 1/Bonus/bonus_new.s98", "disc 2/d2_new.s98",
          "disc 10/d10_new.s98"}) {
        expected["album/" + std::string(output)] = std::string(converted.begin(), converted.end());
    }
    EXPECT_EQ(TreeOf(dir.path()), expected);
}

// A folder with no S98 file of its own or below (hidden ones do not count) is
// an entry of its own: its row and a failure, and the batch goes on.
TEST(CliCollection, FolderWithNoS98FileFails) {
    TempDir dir;
    fs::create_directories(dir / "notes" / ".hidden");
    fs::create_directories(dir / "blank");
    WriteFileBytes(dir / "notes" / "readme.txt", {'r'});
    WriteFileBytes(dir / "notes" / ".hidden" / "x.s98", Song());
    WriteFileBytes(dir / "notes" / "._y.s98", Song());
    WriteFileBytes(dir / "x.s98", Song());
    const CliRun run = Morla(dir, {"-f3", "notes", "x.s98", "blank/"});
    EXPECT_EQ(run.status, 1);
    std::vector<std::string> rows = {"notes", "-> no .s98 file in this folder."};
    const std::vector<std::string> own = RowsOf("x.s98");
    rows.insert(rows.end(), own.begin(), own.end());
    rows.insert(rows.end(), {"blank/", "-> no .s98 file in this folder."});
    EXPECT_EQ(run.rows, rows);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(FolderEntries(dir / "notes"),
              (std::vector<std::string>{"._y.s98", ".hidden", "readme.txt"}));
    EXPECT_EQ(FolderEntries(dir / "blank"), std::vector<std::string>{});
}

// The .s98 files of `folder` under `dir` as a shell's glob gives them, with
// `folder` before each ("" for `dir` itself).
std::vector<std::string> Glob(const TempDir& dir, const std::string& folder) {
    std::vector<std::string> files;
    for (const std::string& name : FolderEntries(folder.empty() ? dir.path() : dir / folder)) {
        if (name.ends_with(".s98")) {
            files.push_back(folder.empty() ? name : folder + "/" + name);
        }
    }
    return files;
}

// The same command run again, after its outputs are there, skips them and
// replaces them: the same tree, exit 0, and from the second run on the same
// rows. Each case gives its arguments from the folder as it stands.
TEST(CliCollection, RerunsGiveTheSameFiles) {
    const struct {
        const char* name;
        std::function<std::vector<std::string>(const TempDir&)> arguments;
        std::vector<std::string> outputs;  // written by the first run
    } cases[] = {
        {"*.s98", [](const TempDir& dir) { return Glob(dir, ""); }, {"a_new.s98", "b_new.s98"}},
        {"*.s98 reversed",
         [](const TempDir& dir) {
             std::vector<std::string> files = Glob(dir, "");
             std::reverse(files.begin(), files.end());
             return files;
         },
         {"a_new.s98", "b_new.s98"}},
        {"one/*.s98 two/*.s98",
         [](const TempDir& dir) {
             std::vector<std::string> files = Glob(dir, "one");
             const std::vector<std::string> two = Glob(dir, "two");
             files.insert(files.end(), two.begin(), two.end());
             return files;
         },
         {"one/a_new.s98", "two/a_new.s98"}},
        {"one two",
         [](const TempDir&) {
             return std::vector<std::string>{"one", "two"};
         },
         {"one/a_new.s98", "two/a_new.s98"}},
        {".",
         [](const TempDir&) { return std::vector<std::string>{"."}; },
         {"a_new.s98", "b_new.s98", "one/a_new.s98", "two/a_new.s98"}},
        {"-o out *.s98",
         [](const TempDir& dir) {
             std::vector<std::string> files = Glob(dir, "");
             files.insert(files.begin(), {"-o", "out"});
             return files;
         },
         {"out/a_new.s98", "out/b_new.s98"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        fs::create_directories(dir / "one");
        fs::create_directories(dir / "two");
        fs::create_directories(dir / "out");
        WriteFileBytes(dir / "a.s98", Levels(20, 12));
        WriteFileBytes(dir / "b.s98", Levels(5, 15));
        WriteFileBytes(dir / "one" / "a.s98", Levels(30, 9));
        WriteFileBytes(dir / "two" / "a.s98", Levels(40, 3));
        std::vector<Tree> trees;
        std::vector<CliRun> runs;
        for (int round = 0; round < 3; ++round) {
            std::vector<std::string> arguments = {"-F120", "-S13"};
            const std::vector<std::string> files = c.arguments(dir);
            arguments.insert(arguments.end(), files.begin(), files.end());
            runs.push_back(Morla(dir, arguments));
            EXPECT_EQ(runs.back().status, 0) << round;
            EXPECT_EQ(runs.back().err, "") << round;
            trees.push_back(TreeOf(dir.path()));
        }
        for (const std::string& output : c.outputs) {
            EXPECT_EQ(trees[0].count(output), 1u) << output;
        }
        EXPECT_EQ(trees[0].size(), 7 + c.outputs.size());  // nothing else written
        EXPECT_EQ(trees[1], trees[0]);
        EXPECT_EQ(trees[2], trees[0]);
        EXPECT_EQ(runs[2].out, runs[1].out);
        const auto skipped = [](const CliRun& run) {
            return std::count_if(run.rows.begin(), run.rows.end(), [](const std::string& row) {
                return row.starts_with("-> skipped: output of ");
            });
        };
        EXPECT_EQ(skipped(runs[0]), 0);
        // Outputs beside their inputs are found again; those in out/ are not
        // among the FILEs.
        const bool beside = c.outputs[0].rfind("out/", 0) != 0;
        EXPECT_EQ(skipped(runs[1]), beside ? static_cast<std::ptrdiff_t>(c.outputs.size()) : 0);
    }
}

// An earlier output named before its input is skipped with the name of the
// file it comes from, and then replaced.
TEST(CliCollection, SkippedOutputNamesItsInput) {
    TempDir dir;
    WriteFileBytes(dir / "song.s98", Song());
    WriteFileBytes(dir / "song_new.s98", Song());
    const CliRun run = Morla(dir, {"-f3", "song_new.s98", "song.s98"});
    EXPECT_EQ(run.status, 0);
    std::vector<std::string> rows = {"song_new.s98", "-> skipped: output of song.s98"};
    const std::vector<std::string> own = RowsOf("song.s98");
    rows.insert(rows.end(), own.begin(), own.end());
    EXPECT_EQ(run.rows, rows);
    EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"song.s98", "song_new.s98"}));
    EXPECT_NE(ReadFileBytes(dir / "song_new.s98"), Song());  // replaced by song.s98's output
}

// `morla -f3 G G/a_new.s98`, as a shell's glob over G gives it after an
// earlier run: a_new.s98 is a.s98's earlier output however it is named,
// skipped wherever it comes (found in G, named directly, named twice, before
// or after G), with or without --album, one file at a time or several. The
// run succeeds, writes no a_new_new.s98, and a_new.s98 becomes what a run of
// a.s98 alone makes.
TEST(CliCollection, EarlierOutputNamedBesideItsFolderIsSkipped) {
    TempDir alone;
    WriteFileBytes(alone / "a.s98", Levels(20, 12));
    ASSERT_EQ(Morla(alone, {"-f3", "a.s98"}).status, 0);
    const Bytes expected = ReadFileBytes(alone / "a_new.s98");
    ASSERT_FALSE(expected.empty());

    const std::vector<std::string> skipped = {"a_new.s98", "-> skipped: output of a.s98"};
    const std::vector<std::string> albumG = {"ALBUM: G", "ALBUM PEAK: FM=20(2nd=20) SSG=12"};
    // Only a skipped file: nothing measured.
    const std::vector<std::string> albumDirect = {"ALBUM: files given directly", "ALBUM PEAK:"};
    const auto rows = [](std::vector<std::vector<std::string>> parts) {
        std::vector<std::string> all;
        for (const auto& part : parts) {
            all.insert(all.end(), part.begin(), part.end());
        }
        return all;
    };
    const std::vector<std::string> folder = rows({RowsOf("a.s98"), skipped});
    const struct {
        std::vector<std::string> files;
        std::vector<std::string> rows, albumRows;
    } cases[] = {
        {{"G", "G/a_new.s98"},
         rows({folder, skipped}),
         rows({albumG, folder, albumDirect, skipped})},
        {{"G/a_new.s98", "G"},
         rows({skipped, folder}),
         rows({albumDirect, skipped, albumG, folder})},
        {{"G", "G/a_new.s98", "G/a_new.s98"},
         rows({folder, skipped, skipped}),
         rows({albumG, folder, albumDirect, skipped, skipped})},
        {{"G/a_new.s98", "G", "G/a_new.s98"},
         rows({skipped, folder, skipped}),
         rows({albumDirect, skipped, skipped, albumG, folder})},
    };
    for (const bool album : {false, true}) {
        for (const char* jobs : {"1", "4"}) {
            for (const auto& c : cases) {
                SCOPED_TRACE(Printf("--album %d, MORLA_JOBS=%s, ", album, jobs) +
                             testing::PrintToString(c.files));
                TempDir dir;
                fs::create_directory(dir / "G");
                WriteFileBytes(dir / "G" / "a.s98", Levels(20, 12));
                WriteFileBytes(dir / "G" / "a_new.s98", Levels(50, 3));  // an earlier output
                std::vector<std::string> arguments = {"-f3"};
                if (album) {
                    arguments.push_back("--album");
                }
                arguments.insert(arguments.end(), c.files.begin(), c.files.end());
                const CliRun run =
                    Morla(dir, arguments, ".out", std::string("export MORLA_JOBS=") + jobs);
                EXPECT_EQ(run.status, 0);
                EXPECT_EQ(run.err, "");
                EXPECT_EQ(run.rows, album ? c.albumRows : c.rows);
                EXPECT_EQ(FolderEntries(dir / "G"),
                          (std::vector<std::string>{"a.s98", "a_new.s98"}));
                EXPECT_EQ(ReadFileBytes(dir / "G" / "a_new.s98"), expected);
            }
        }
    }
}

// With --album the files named directly are one album, each folder and each
// sub-folder another, in the order they first appear; each is normalized
// from its own loudest file, whatever the number of files at a time. A file
// that fails inside an album does not count, and fails in its turn.
TEST(CliCollection, AlbumsGoFolderByFolder) {
    const auto setUp = [](const TempDir& dir) {
        fs::create_directories(dir / "quiet");
        fs::create_directories(dir / "loud" / "extra");
        WriteFileBytes(dir / "quiet" / "q1.s98", Levels(30, 9));
        WriteFileBytes(dir / "quiet" / "q2.s98", Levels(40, 7));
        WriteFileBytes(dir / "quiet" / "broken.s98", {'h', 'i', '\n'});
        WriteFileBytes(dir / "loud" / "l1.s98", Levels(5, 15));
        WriteFileBytes(dir / "loud" / "extra" / "e1.s98", Levels(10, 12));
        WriteFileBytes(dir / "x.s98", Levels(20, 11));
        WriteFileBytes(dir / "y.s98", Levels(25, 10));
    };
    const std::vector<std::string> expected = {
        "ALBUM: quiet",
        "ALBUM PEAK: FM=30(2nd=30) SSG=9",
        "broken.s98",
        "-> data offset error. 00000000",
        "q1.s98",
        "output file:q1_new.s98  volume down: FM=-30 SSG=-4",
        "-> ok",
        "q2.s98",
        "output file:q2_new.s98  volume down: FM=-30 SSG=-4",
        "-> ok",
        "ALBUM: files given directly",
        "ALBUM PEAK: FM=20(2nd=20) SSG=11",
        "x.s98",
        "output file:x_new.s98  volume down: FM=-20 SSG=-2",
        "-> ok",
        "y.s98",
        "output file:y_new.s98  volume down: FM=-20 SSG=-2",
        "-> ok",
        "ALBUM: loud",
        "ALBUM PEAK: FM=5(2nd=5) SSG=15",
        "l1.s98",
        "output file:l1_new.s98  volume down: FM=-5 SSG=2",
        "-> ok",
        "ALBUM: loud/extra",
        "ALBUM PEAK: FM=10(2nd=10) SSG=12",
        "extra/e1.s98",
        "output file:e1_new.s98  volume down: FM=-10 SSG=-1",
        "-> ok",
    };
    std::vector<Tree> trees;
    for (const char* jobs : {"1", "2"}) {
        SCOPED_TRACE(jobs);
        TempDir dir;
        setUp(dir);
        const CliRun run =
            Morla(dir, {"--album", "-F127", "-S13", "quiet", "x.s98", "loud", "y.s98"}, ".out",
                  std::string("export MORLA_JOBS=") + jobs);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.rows, expected);
        EXPECT_EQ(run.err,
                  "morla: quiet/broken.s98: not an S98 file (it does not begin with \"S98\")\n");
        trees.push_back(TreeOf(dir.path()));
    }
    EXPECT_EQ(trees[0].size(), 16u);  // 3 folders, 7 inputs, 6 outputs
    EXPECT_EQ(trees[1], trees[0]);
}

// A header fault gives the window's row and, on standard error, what is
// wrong with the file.
TEST(CliCollection, HeaderFaultsSayWhatIsWrong) {
    Bytes cut = Song();
    cut.resize(20);
    Bytes oldVersion = Song();
    oldVersion[kVersionAt] = '2';
    const struct {
        const char* name;
        Bytes bytes;
        std::string row;
        std::string reason;
    } cases[] = {
        {"text",
         {'h', 'e', 'l', 'l', 'o', '\n'},
         "-> S98 version error.",
         "not an S98 file (it does not begin with \"S98\")"},
        {"empty",
         {},
         "-> data offset error. 00000000",
         "not an S98 file (it does not begin with \"S98\")"},
        {"version 2", oldVersion, "-> S98 version error.",
         "an S98 version this tool does not read (only 0, 1 and 3)"},
        {"cut in its header", cut, "-> data offset error. 00000000",
         "the file ends inside its header"},
    };
    TempDir dir;
    WriteFileBytes(dir / "good.s98", Song());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFileBytes(dir / "x.s98", c.bytes);
        const CliRun run = Morla(dir, {"-f3", "x.s98", "good.s98"});
        EXPECT_EQ(run.status, 1);
        std::vector<std::string> rows = {"x.s98", c.row};
        const std::vector<std::string> own = RowsOf("good.s98");
        rows.insert(rows.end(), own.begin(), own.end());
        EXPECT_EQ(run.rows, rows);
        EXPECT_EQ(run.err, "morla: x.s98: " + c.reason + "\n");
        EXPECT_EQ(FolderEntries(dir.path()),
                  (std::vector<std::string>{"good.s98", "good_new.s98", "x.s98"}));
        fs::remove(dir / "good_new.s98");
    }
}

// A dry run leaves every byte where it was and gives a real run's rows,
// failures and exit status; only a job that would write says so.
TEST(CliCollection, DryRunWritesNothingAndShowsTheRealRows) {
    const auto setUp = [](const TempDir& dir) {
        fs::create_directories(dir / "one");
        fs::create_directories(dir / "two");
        fs::create_directories(dir / "out");
        fs::create_directories(dir / "blank");
        WriteFileBytes(dir / "one" / "a.s98", Levels(30, 9));
        WriteFileBytes(dir / "one" / "a_new.s98", Song());  // an earlier output
        WriteFileBytes(dir / "one" / "bad.s98", {'n', 'o'});
        WriteFileBytes(dir / "one" / "x_new.s98", Song());
        WriteFileBytes(dir / "two" / "a.s98", Levels(10, 12));
        WriteFileBytes(dir / "x.s98", Song());
        WriteFileBytes(dir / "x", Song());  // the same output as x.s98
        fs::create_symlink("x.s98", dir / "link.s98");
    };
    const std::vector<std::vector<std::string>> cases = {
        {"-f3", "one", "two", "x.s98", "x", "blank", "missing.s98"},
        {"-v", "-F120", "-S13", "-a", "one", "x.s98", "two"},
        {"-p", "one", "x.s98"},
        {"-s2", "-o", "out", "one", "two"},                          // two a_new.s98 meet in out
        {"-r1", "-o", "one", "x.s98", "one/x_new.s98", "link.s98"},  // an output is an input
    };
    for (const std::vector<std::string>& arguments : cases) {
        SCOPED_TRACE(arguments[0] + " " + arguments[1]);
        TempDir dry, real;
        setUp(dry);
        setUp(real);
        const Tree before = TreeOf(dry.path());
        std::vector<std::string> dryArguments = arguments;
        dryArguments.insert(dryArguments.begin(), "--dry-run");
        const CliRun dryRun = Morla(dry, dryArguments);
        EXPECT_EQ(TreeOf(dry.path()), before);
        const CliRun realRun = Morla(real, arguments);
        const bool writes = arguments[0] != "-p";
        EXPECT_EQ(TreeOf(real.path()) != before, writes);
        EXPECT_EQ(dryRun.status, realRun.status);
        EXPECT_EQ(dryRun.err, realRun.err);
        std::vector<std::string> rows = realRun.rows;
        for (std::string& row : rows) {
            if (row == "-> ok" && writes) {
                row = "-> ok (dry run: nothing written)";
            }
        }
        EXPECT_EQ(dryRun.rows, rows);
        // -n is --dry-run.
        dryArguments[0] = "-n";
        EXPECT_EQ(Morla(dry, dryArguments).out, dryRun.out);
        EXPECT_EQ(TreeOf(dry.path()), before);
    }
}

}  // namespace
}  // namespace morla::test
