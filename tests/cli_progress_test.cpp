// The progress line of a batch on a terminal: its text (counts, folder,
// times, the cut to the terminal's width), the line drawn and put away on a
// pseudo-terminal, and morla itself under one: the line on a slow batch,
// erased at the end, never beside a row, and nothing of it on a file or a
// pipe.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "cli_support.h"
#include "process/process.h"
#include "progress_line.h"

extern char** environ;

namespace morla::test {
namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

// ---- the text ---------------------------------------------------------------

TEST(ProgressText, SaysTheCountsTheFolderAndTheTimeElapsed) {
    // Before the first entry is done there is no pace to tell the time left by.
    const ProgressText start = FormatProgress(0, 990, u"Covers/Disc 1", 12'400ms, 200);
    EXPECT_EQ(start.text, "morla: 0/990 files, Covers/Disc 1, 0:12 elapsed");
    EXPECT_EQ(start.columns, static_cast<int>(start.text.size()));
    // With no folder, its part is left out.
    EXPECT_EQ(FormatProgress(0, 2, u"", 0ms, 200).text, "morla: 0/2 files, 0:00 elapsed");
}

TEST(ProgressText, EstimatesTheTimeLeftFromThePaceSoFarAndWritesHours) {
    // 120 entries in 12 s: the 870 left take 87 s.
    EXPECT_EQ(FormatProgress(120, 990, u"Covers/Disc 1", 12s, 200).text,
              "morla: 120/990 files, Covers/Disc 1, 0:12 elapsed, about 1:27 left");
    // 2.002 s left is said as 3 s: rounded up, so 0:00 means nothing left.
    EXPECT_EQ(FormatProgress(1, 3, u"A", 1001ms, 200).text,
              "morla: 1/3 files, A, 0:01 elapsed, about 0:03 left");
    // When all are done there is nothing left to estimate.
    EXPECT_EQ(FormatProgress(3, 3, u"A", 9s, 200).text, "morla: 3/3 files, A, 0:09 elapsed");
    // Minutes past ten, and hours.
    EXPECT_EQ(FormatProgress(1, 2, u"A", 605s, 200).text,
              "morla: 1/2 files, A, 10:05 elapsed, about 10:05 left");
    EXPECT_EQ(FormatProgress(1, 11, u"A", 3723s, 200).text,
              "morla: 1/11 files, A, 1:02:03 elapsed, about 10:20:30 left");
}

TEST(ProgressText, ShortensTheFolderFromItsBeginningToLeaveTheLastColumnFree) {
    // "morla: 1/2 files, " and ", 0:01 elapsed, about 0:01 left" take 49
    // columns; 60 columns leave 10 for the folder, of which "..." takes 3.
    const ProgressText cut = FormatProgress(1, 2, u"/music/Covers/Disc 1", 1s, 60);
    EXPECT_EQ(cut.text, "morla: 1/2 files, .../Disc 1, 0:01 elapsed, about 0:01 left");
    EXPECT_EQ(cut.columns, 59);
    // One column more and it fits whole, with the last column still free.
    const ProgressText whole = FormatProgress(1, 2, u"/music/Covers/Disc 1", 1s, 70);
    EXPECT_EQ(whole.text, "morla: 1/2 files, /music/Covers/Disc 1, 0:01 elapsed, about 0:01 left");
    EXPECT_EQ(whole.columns, 69);
    EXPECT_EQ(FormatProgress(1, 2, u"/music/Covers/Disc 1", 1s, 69).text,
              "morla: 1/2 files, ...ic/Covers/Disc 1, 0:01 elapsed, about 0:01 left");
}

TEST(ProgressText, OnANarrowTerminalDropsTheFolderThenCutsTheEnd) {
    // No room for "..." and a character of the folder.
    EXPECT_EQ(FormatProgress(1, 2, u"Covers", 1s, 53).text,
              "morla: 1/2 files, 0:01 elapsed, about 0:01 left");
    const ProgressText narrow = FormatProgress(1, 2, u"Covers", 1s, 30);
    EXPECT_EQ(narrow.text, "morla: 1/2 files, 0:01 elapse");
    EXPECT_EQ(narrow.columns, 29);
    EXPECT_EQ(FormatProgress(1, 2, u"Covers", 1s, 1).text, "");
    EXPECT_EQ(FormatProgress(1, 2, u"Covers", 1s, 0).columns, 0);
}

TEST(ProgressText, CountsWideCharactersTwiceAndNeverSplitsOne) {
    // 音楽/ディスク2: six wide characters, a slash and a digit, 14 columns.
    const std::u16string folder = u"音楽/ディスク2";
    const ProgressText whole = FormatProgress(1, 2, folder, 1s, 200);
    EXPECT_EQ(whole.text, "morla: 1/2 files, 音楽/ディスク2, 0:01 elapsed, about 0:01 left");
    EXPECT_EQ(whole.columns, 49 + 14);
    // Room for 9 columns: "..." and 6 more, where "ィスク2" would take 7; so
    // "スク2" (5), and the line is a column short of the room.
    const ProgressText cut = FormatProgress(1, 2, folder, 1s, 49 + 9 + 1);
    EXPECT_EQ(cut.text, "morla: 1/2 files, ...スク2, 0:01 elapsed, about 0:01 left");
    EXPECT_EQ(cut.columns, 49 + 8);
    // Halfwidth katakana take one column each; a character beyond the
    // basic plane (a surrogate pair) comes out as its four UTF-8 bytes.
    EXPECT_EQ(FormatProgress(0, 1, u"ｶﾞｸ", 0s, 200).columns, 30 + 2 + 3);
    const ProgressText note = FormatProgress(0, 1, u"\U0001F3B5", 0s, 200);
    EXPECT_EQ(note.text, "morla: 0/1 files, \xF0\x9F\x8E\xB5, 0:00 elapsed");
    EXPECT_EQ(note.columns, 30 + 2 + 2);
}

TEST(ProgressText, ShowsControlCharactersAndBrokenTextAsQuestionMarks) {
    // A line feed or a carriage return in a folder's name would break the
    // line; a lone surrogate (a byte of no UTF-8) has no character to show.
    std::u16string folder = u"a\nb\rc\x7F";
    folder += static_cast<char16_t>(0xDC80);
    folder += static_cast<char16_t>(0xD800);
    EXPECT_EQ(FormatProgress(0, 1, folder, 0s, 200).text,
              "morla: 0/1 files, a?b?c???, 0:00 elapsed");
}

// ---- the folder it names ----------------------------------------------------

TEST(ProgressFolder, NamesTheFolderFromTheNamedFoldersOwnNameOn) {
    const std::vector<std::u16string> named{u"/music/Covers"};
    EXPECT_EQ(ProgressFolder(named, u"/music/Covers/Disc 1/a.s98"), u"Covers/Disc 1");
    EXPECT_EQ(ProgressFolder(named, u"/music/Covers/a.s98"), u"Covers");
    // Named with a separator at its end, as a shell completes it.
    EXPECT_EQ(ProgressFolder({u"Covers/"}, u"Covers/Disc 1/a.s98"), u"Covers/Disc 1");
    EXPECT_EQ(ProgressFolder({u"./"}, u"./Disc 1/a.s98"), u"./Disc 1");
    // The innermost of the named folders the entry lies in.
    EXPECT_EQ(ProgressFolder({u"/m", u"/m/Covers"}, u"/m/Covers/D/a.s98"), u"Covers/D");
    EXPECT_EQ(ProgressFolder({u"/"}, u"/x/a.s98"), u"/x");
}

TEST(ProgressFolder, NamesAFileGivenDirectlyByItsFolderAsGiven) {
    EXPECT_EQ(ProgressFolder({u"/tmp/x/a.s98"}, u"/tmp/x/a.s98"), u"/tmp/x");
    EXPECT_EQ(ProgressFolder({u"songs//a.s98"}, u"songs//a.s98"), u"songs");
    EXPECT_EQ(ProgressFolder({u"a.s98"}, u"a.s98"), u".");
    // A named path that only begins like the entry's folder is not its folder.
    EXPECT_EQ(ProgressFolder({u"/m/Cov", u"/m/Covers/a.s98"}, u"/m/Covers/a.s98"), u"/m/Covers");
}

// ---- the line on a terminal -------------------------------------------------

// What a terminal shows after `bytes`, line by line, without the spaces at
// the lines' ends: enough of a terminal for ASCII text, carriage returns and
// line feeds (a pseudo-terminal sends "\n" as "\r\n").
Lines Screen(std::string_view bytes) {
    Lines lines(1);
    std::size_t column = 0;
    for (const char c : bytes) {
        if (c == '\r') {
            column = 0;
        } else if (c == '\n') {
            lines.emplace_back();
            column = 0;
        } else {
            std::string& line = lines.back();
            if (line.size() <= column) {
                line.resize(column + 1, ' ');
            }
            line[column++] = c;
        }
    }
    for (std::string& line : lines) {
        line.erase(line.find_last_not_of(' ') + 1);
    }
    return lines;
}

// A pseudo-terminal of `columns` columns: a stream onto it, and what it has
// received.
class Terminal {
  public:
    explicit Terminal(int columns) {
        winsize size{};
        size.ws_row = 24;
        size.ws_col = static_cast<unsigned short>(columns);
        int slave = -1;
        if (openpty(&master_, &slave, nullptr, nullptr, &size) != 0) {
            ADD_FAILURE() << "openpty: " << std::strerror(errno);
            return;
        }
        stream_ = fdopen(slave, "w");
    }
    ~Terminal() {
        if (stream_ != nullptr) {
            std::fclose(stream_);
        }
        if (master_ >= 0) {
            ::close(master_);
        }
    }
    std::FILE* stream() const { return stream_; }

    // Everything received so far: the bytes, and the screen they make.
    const std::string& Received() {
        pollfd ready{master_, POLLIN, 0};
        char buffer[4096];
        while (::poll(&ready, 1, 100) == 1) {
            const ssize_t got = ::read(master_, buffer, sizeof buffer);
            if (got <= 0) {
                break;
            }
            received_.append(buffer, static_cast<std::size_t>(got));
        }
        return received_;
    }
    Lines Shown() { return Screen(Received()); }

  private:
    int master_ = -1;
    std::FILE* stream_ = nullptr;
    std::string received_;
};

TEST(ProgressLineOnTerminal, TellsTerminalsFromFilesAndPipesAndReadsTheWidth) {
    Terminal terminal(57);
    ASSERT_NE(terminal.stream(), nullptr);
    EXPECT_TRUE(IsTerminal(terminal.stream()));
    EXPECT_EQ(TerminalColumns(terminal.stream()), 57);
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    std::FILE* pipe = fdopen(pipeEnds[1], "w");
    EXPECT_FALSE(IsTerminal(pipe));
    EXPECT_EQ(TerminalColumns(pipe), 80);
    std::fclose(pipe);
    ::close(pipeEnds[0]);
    TempDir dir;
    std::FILE* file = std::fopen((dir / "file").c_str(), "w");
    ASSERT_NE(file, nullptr);
    EXPECT_FALSE(IsTerminal(file));
    std::fclose(file);
}

TEST(ProgressLineOnTerminal, IsRedrawnInPlaceAndPutAwayAroundOtherText) {
    Terminal terminal(100);
    {
        ProgressLine line(terminal.stream(), 3, 0ms);
        line.Working(0, u"a much longer folder name");
        EXPECT_EQ(terminal.Shown(),
                  (Lines{"morla: 0/3 files, a much longer folder name, 0:00 elapsed"}));
        // A shorter text leaves nothing of the longer one.
        line.Working(1, u"B");
        const Lines shown = terminal.Shown();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_TRUE(shown[0].starts_with("morla: 1/3 files, B, 0:00 elapsed, about ")) << shown[0];
        EXPECT_TRUE(shown[0].ends_with(" left")) << shown[0];
        // A row written while the line is away has a line of its own.
        line.Hide();
        EXPECT_EQ(terminal.Shown(), (Lines{""}));
        std::fputs("B/b.s98\n-> ok\n", terminal.stream());
        std::fflush(terminal.stream());
        line.Working(2, u"C");
        EXPECT_EQ(terminal.Shown(), (Lines{"B/b.s98", "-> ok", ""}));
        line.Show();
        EXPECT_TRUE(terminal.Shown()[2].starts_with("morla: 2/3 files, C, "))
            << terminal.Received();
    }
    // Gone when the batch ends.
    EXPECT_EQ(terminal.Shown(), (Lines{"B/b.s98", "-> ok", ""}));
}

TEST(ProgressLineOnTerminal, KeepsTheElapsedTimeMovingWhileAnEntryRuns) {
    Terminal terminal(100);
    ProgressLine line(terminal.stream(), 3, 0ms);
    line.Working(0, u"A");
    EXPECT_EQ(terminal.Shown(), (Lines{"morla: 0/3 files, A, 0:00 elapsed"}));
    std::this_thread::sleep_for(1300ms);
    EXPECT_EQ(terminal.Shown(), (Lines{"morla: 0/3 files, A, 0:01 elapsed"}));
}

TEST(ProgressLineOnTerminal, WaitsForItsDelayAndStaysAwayOnceAllAreDone) {
    Terminal terminal(100);
    {
        ProgressLine line(terminal.stream(), 3, 10s);
        line.Working(1, u"A");
        line.Show();
        EXPECT_EQ(terminal.Received(), "");
    }
    EXPECT_EQ(terminal.Received(), "");
    ProgressLine line(terminal.stream(), 3, 0ms);
    line.Working(2, u"A");
    EXPECT_NE(terminal.Shown(), (Lines{""}));
    line.Working(3, u"");
    EXPECT_EQ(terminal.Shown(), (Lines{""}));
}

// ---- morla on a terminal ----------------------------------------------------

// Where morla's standard streams go besides the terminal.
enum class Elsewhere {
    None,        // both on the terminal
    OutputFile,  // standard output to a file
    ErrorFile,   // standard error to a file
    ErrorPipe,   // standard error to a pipe
};

struct TerminalRun {
    int status = -1;
    std::string terminal;  // what the terminal received
    std::string out, err;  // what went elsewhere
};

bool ShowsProgress(const std::string& terminal) {
    return terminal.find(" files, ") != std::string::npos &&
           terminal.find(" elapsed") != std::string::npos;
}

// Runs morla in `dir` on a new pseudo-terminal of 100 columns, with the
// arguments and settings `environment` added to the test's; with
// `interruptOnceShown`, Ctrl+C (SIGINT) as soon as the line shows.
TerminalRun MorlaOnTerminal(const TempDir& dir, const std::vector<std::string>& arguments,
                            Elsewhere elsewhere, const std::vector<std::string>& environment = {},
                            bool interruptOnceShown = false) {
    // All made before the fork: the child only opens, moves and runs.
    std::vector<std::string> words{MorlaProgram()};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> settings(environment);
    for (char** setting = environ; *setting != nullptr; ++setting) {
        settings.emplace_back(*setting);
    }
    std::vector<char*> envp;
    for (std::string& setting : settings) {
        envp.push_back(setting.data());
    }
    envp.push_back(nullptr);
    const std::string folder = dir.path().string();
    const std::string file = (dir / ".stream").string();
    int pipeEnds[2] = {-1, -1};
    if (elsewhere == Elsewhere::ErrorPipe && ::pipe(pipeEnds) != 0) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return {};
    }

    winsize size{};
    size.ws_row = 24;
    size.ws_col = 100;
    int master = -1;
    const pid_t child = forkpty(&master, nullptr, nullptr, &size);
    if (child == 0) {
        if (::chdir(folder.c_str()) != 0) {
            _exit(126);
        }
        if (elsewhere == Elsewhere::OutputFile || elsewhere == Elsewhere::ErrorFile) {
            const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int target = elsewhere == Elsewhere::OutputFile ? STDOUT_FILENO : STDERR_FILENO;
            if (fd < 0 || ::dup2(fd, target) < 0) {
                _exit(126);
            }
            ::close(fd);
        } else if (elsewhere == Elsewhere::ErrorPipe) {
            if (::dup2(pipeEnds[1], STDERR_FILENO) < 0) {
                _exit(126);
            }
            ::close(pipeEnds[0]);
            ::close(pipeEnds[1]);
        }
        ::execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    TerminalRun run;
    if (pipeEnds[1] >= 0) {
        ::close(pipeEnds[1]);
    }
    if (child < 0) {
        ADD_FAILURE() << "forkpty: " << std::strerror(errno);
        return run;
    }
    char buffer[4096];
    ssize_t got = 0;
    // The terminal answers EIO once morla, its last user, has ended. (What
    // the pipe gets is read after it: less than the pipe holds, or morla
    // would wait here.)
    while ((got = ::read(master, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)) {
        run.terminal.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
        if (interruptOnceShown && ShowsProgress(run.terminal)) {
            ::kill(child, SIGINT);
            interruptOnceShown = false;
        }
    }
    ::close(master);
    if (pipeEnds[0] >= 0) {
        while ((got = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0) {
            run.err.append(buffer, static_cast<std::size_t>(got));
        }
        ::close(pipeEnds[0]);
    }
    int raw = 0;
    ::waitpid(child, &raw, 0);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    if (elsewhere == Elsewhere::OutputFile || elsewhere == Elsewhere::ErrorFile) {
        (elsewhere == Elsewhere::OutputFile ? run.out : run.err) = Slurp(file);
        std::filesystem::remove(file);
    }
    return run;
}

// A batch that takes morla about two seconds, however many cores it runs
// on: four songs to be heard (-m) in a folder of a named folder, the second
// one long and the others short, so that rows come out both before the line
// is due and while it shows. Its rows and messages as a run without a
// terminal gives them.
class SlowBatch : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = std::make_unique<TempDir>();
        const std::filesystem::path disc = *dir_ / "Covers" / "Disc 1";
        std::filesystem::create_directories(disc);
        for (const int song : {1, 3, 4}) {
            WriteFileBytes(disc / Printf("track %d.s98", song), SongOfFmTone(20, 5));
        }
        // Long enough here; a faster machine gets a longer song.
        double seconds = 200;
        for (int attempt = 0; attempt < 3; ++attempt) {
            WriteFileBytes(disc / "track 2.s98", SongOfFmTone(20, static_cast<int>(seconds)));
            const auto start = std::chrono::steady_clock::now();
            plain_ = Morla(*dir_, kArguments);
            const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
            if (took.count() >= 1.6) {
                break;
            }
            seconds *= 2 / std::max(took.count(), 0.1);
        }
    }
    static void TearDownTestSuite() { dir_.reset(); }

    static inline const std::vector<std::string> kArguments{"-m", "Covers"};
    static inline std::unique_ptr<TempDir> dir_;
    static inline CliRun plain_;
};

TEST_F(SlowBatch, ShowsTheLineOnStandardErrorAndErasesItAtTheEnd) {
    ASSERT_EQ(plain_.status, 0) << plain_.err;
    ASSERT_EQ(plain_.rows.size(), 4 * 4u) << plain_.out;
    const TerminalRun run = MorlaOnTerminal(*dir_, kArguments, Elsewhere::OutputFile);
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(ShowsProgress(run.terminal)) << run.terminal;
    EXPECT_NE(run.terminal.find("morla: 1/4 files, Covers/Disc 1, 0:01 elapsed, about "),
              std::string::npos)
        << run.terminal;
    // Drawn and redrawn with carriage returns alone, and nothing left: no
    // line feed ever went to the terminal.
    EXPECT_EQ(run.terminal.find('\n'), std::string::npos);
    EXPECT_EQ(Screen(run.terminal), (Lines{""})) << run.terminal;
    // The rows are those of a run without a terminal, byte for byte.
    EXPECT_EQ(run.out, plain_.out);
}

// Ctrl+C while the line shows: it is erased before morla ends, so the
// shell's prompt starts on a clean line.
TEST_F(SlowBatch, AnInterruptedRunErasesTheLineFirst) {
    const TerminalRun run = MorlaOnTerminal(*dir_, kArguments, Elsewhere::OutputFile, {}, true);
    EXPECT_EQ(run.status, 128 + SIGINT);
    EXPECT_TRUE(ShowsProgress(run.terminal)) << run.terminal;
    EXPECT_EQ(Screen(run.terminal), (Lines{""})) << run.terminal;
}

TEST_F(SlowBatch, PutsEveryRowOnALineOfItsOwn) {
    // Files converted at once, and one at a time.
    for (const std::string jobs : {"MORLA_JOBS=2", "MORLA_JOBS=1"}) {
        const TerminalRun run = MorlaOnTerminal(*dir_, kArguments, Elsewhere::None, {jobs});
        EXPECT_EQ(run.status, 0) << jobs;
        EXPECT_TRUE(ShowsProgress(run.terminal)) << jobs << ": " << run.terminal;
        // The rows as a terminal shows them, and below them an empty line.
        Lines expected = plain_.rows;
        expected.emplace_back();
        EXPECT_EQ(Screen(run.terminal), expected) << jobs << ": " << run.terminal;
    }
}

TEST_F(SlowBatch, WritesNothingOfItToStandardErrorOnAFileOrAPipe) {
    for (const Elsewhere elsewhere : {Elsewhere::ErrorFile, Elsewhere::ErrorPipe}) {
        const bool file = elsewhere == Elsewhere::ErrorFile;
        const TerminalRun run = MorlaOnTerminal(*dir_, kArguments, elsewhere);
        EXPECT_EQ(run.status, 0) << file;
        EXPECT_EQ(run.err, plain_.err) << file;
        // The terminal shows the rows alone.
        EXPECT_FALSE(ShowsProgress(run.terminal)) << file << ": " << run.terminal;
        Lines expected = plain_.rows;
        expected.emplace_back();
        EXPECT_EQ(Screen(run.terminal), expected) << file;
    }
}

TEST_F(SlowBatch, LeavesATerminalToTheDetailRowsAlone) {
    // -v rows go out while their file is worked on: no line beside them on
    // the terminal they go to, and the line as usual when they go to a file.
    const std::vector<std::string> detail{"-v", "-m", "Covers"};
    const CliRun plain = Morla(*dir_, detail);
    ASSERT_EQ(plain.status, 0) << plain.err;
    const TerminalRun onTerminal = MorlaOnTerminal(*dir_, detail, Elsewhere::None);
    EXPECT_EQ(onTerminal.status, 0);
    EXPECT_FALSE(ShowsProgress(onTerminal.terminal)) << onTerminal.terminal;
    Lines expected = plain.rows;
    expected.emplace_back();
    EXPECT_EQ(Screen(onTerminal.terminal), expected);
    const TerminalRun toFile = MorlaOnTerminal(*dir_, detail, Elsewhere::OutputFile);
    EXPECT_TRUE(ShowsProgress(toFile.terminal)) << toFile.terminal;
    EXPECT_EQ(Screen(toFile.terminal), (Lines{""})) << toFile.terminal;
    EXPECT_EQ(toFile.out, plain.out);
}

TEST(CliProgress, AQuickBatchShowsNoLine) {
    TempDir dir;
    WriteFileBytes(dir / "a.s98", Song());
    const CliRun plain = Morla(dir, {"-p", "a.s98"});
    const TerminalRun run = MorlaOnTerminal(dir, {"-p", "a.s98"}, Elsewhere::None);
    EXPECT_EQ(run.status, 0);
    std::string expected;
    for (const std::string& row : plain.rows) {
        expected += row + "\r\n";
    }
    EXPECT_EQ(run.terminal, expected);
}

}  // namespace
}  // namespace morla::test
