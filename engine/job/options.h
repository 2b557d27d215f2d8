// Every option of morla, in one table: what both front ends offer (the
// window as check boxes with number fields, the command line as -f<n>, -v,
// --gain DB, ...), and what the command line alone answers (-h, --version).
// The front ends make every list of options from it: the command line its
// getopt tables, the option rows of --help and the bash completion, the
// window its boxes and fields; both check values and conflicts by it.
#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "format/chip_model.h"
#include "job/convert_job.h"
#include "job/settings.h"

namespace morla {

struct BatchOptions;

enum class Option {
    FmDown,        // -fn
    SsgDown,       // -sn
    RhythmDown,    // -rn
    FmTarget,      // -Fn
    SsgTarget,     // -Sn
    RhythmTarget,  // -Rn
    Detail,        // -v
    PeakOnly,      // -p
    SecondPeak,    // -2
    Gain,          // -g DB
    KeepBalance,   // -k
    Measure,       // -m
    Loudness,      // -L LUFS
    MaxPeak,       // --max-peak DB
    Albums,        // -a
    DryRun,        // -n
    OutputFolder,  // -o DIR
    Quiet,         // -q
    Jobs,          // -j N
    Json,          // --json
    RhythmRom,     // --rhythm-rom FILE
    Help,          // -h
    Version,       // --version
};

// What an option is to a run.
enum class OptionRole {
    Run,      // sets how each file is converted; a run needs at least one
    Batch,    // sets how the whole batch goes; needs a Run option beside it
    Program,  // answered in place of a run (the help, the version)
};

// The value an option takes.
enum class ValueKind {
    None,
    Number,    // by the number-field rule (ParseNumber), within the row's range if it has one
    Decibels,  // in dB or LUFS (ParseDecibels), within the row's range (whole dB) if it has one
    Folder,    // a folder that must exist when the run starts
    File,      // a file that must exist when the run starts
};

// The most jobs a front end runs at once.
inline constexpr std::int32_t kMostJobs = 8;

// The values a number may have, both ends included.
struct ValueRange {
    std::int32_t least;
    std::int32_t most;
};

// Which front ends offer an option.
enum class FrontEnds { Window = 1, CommandLine = 2, Both = 3 };

struct OptionDescription {
    Option option;
    char letter = 0;                 // the letter after '-'; 0: none
    std::string_view longName = {};  // after "--" (a string literal); empty: none
    OptionRole role = OptionRole::Run;
    ValueKind value = ValueKind::None;
    // of a Number or Decibels; none: any the rule reads
    std::optional<ValueRange> range = std::nullopt;
    std::string_view valueName = {};  // in the help after the option ("-g DB"); empty: none
    FrontEnds shownIn = FrontEnds::Both;
    // The window's check box, and the option's row in --help when `help` is
    // empty. The box is named as its caption begins ("-Fn").
    std::u16string_view caption = {};
    // The row in --help after "-g DB, --gain DB : ", its further lines
    // indented as they are to be shown.
    std::u16string_view help = {};
    // The letters of the options this one goes with none of, and why.
    std::string_view excludes = {};
    std::u16string_view excludesText = {};
    // Letters of which at least one must be given with this one, and why.
    std::string_view needsOneOf = {};
    std::u16string_view needsText = {};

    constexpr bool takesValue() const { return value != ValueKind::None; }
    constexpr bool ShownIn(FrontEnds frontEnd) const {
        return (static_cast<int>(shownIn) & static_cast<int>(frontEnd)) != 0;
    }
};

// In the order of the command line's help: the nine options of the original
// window, the gain and the balance-keeping normalize, then the options of the
// batch and of the program.
//
// Adding an option is one row here (with its name in Option, in the same
// place) and its behaviour: for a Run option, what it sets in TickOption (and
// what the job does with that), for a Batch option in TickBatchOption. The
// getopt tables, the help's option rows, the bash completion and the checks
// of values and conflicts follow from the row; an option the window shows
// also needs its place among the window's controls (ui/main_window.cpp),
// which the window's build asks for.
inline constexpr std::array kOptions = {
    OptionDescription{
        .option = Option::FmDown,
        .letter = 'f',
        .value = ValueKind::Number,
        .caption = u"-fn : OPNA/OPN/OPN2 FM volume down value (n=value)",
    },
    OptionDescription{
        .option = Option::SsgDown,
        .letter = 's',
        .value = ValueKind::Number,
        .caption = u"-sn : OPNA/OPN SSG volume down value (n=value)",
    },
    OptionDescription{
        .option = Option::RhythmDown,
        .letter = 'r',
        .value = ValueKind::Number,
        .caption = u"-rn : OPNA RHYTHM volume down value (n=value)",
    },
    OptionDescription{
        .option = Option::FmTarget,
        .letter = 'F',
        .value = ValueKind::Number,
        .range = ValueRange{0, kTotalLevelMax},
        .caption = u"-Fn : normalize OPNA/OPN/OPN2 FM volume value (n=value)",
    },
    OptionDescription{
        .option = Option::SsgTarget,
        .letter = 'S',
        .value = ValueKind::Number,
        .range = ValueRange{0, kSsgVolumeMax},
        .caption = u"-Sn : normalize OPNA/OPN SSG volume value (n=value)",
    },
    OptionDescription{
        .option = Option::RhythmTarget,
        .letter = 'R',
        .value = ValueKind::Number,
        .range = ValueRange{0, kRhythmLevelMax},
        .caption = u"-Rn : normalize OPNA RHYTHM volume value (n=value)",
    },
    OptionDescription{
        .option = Option::Detail,
        .letter = 'v',
        .caption = u"-v : show detail convert log",
    },
    OptionDescription{
        .option = Option::PeakOnly,
        .letter = 'p',
        .caption = u"-p : show peak level only",
    },
    OptionDescription{
        .option = Option::SecondPeak,
        .letter = '2',
        .caption = u"-2 : use 2nd peak level (TL!=0) for FM normalize",
    },
    OptionDescription{
        .option = Option::Gain,
        .letter = 'g',
        .longName = "gain",
        .value = ValueKind::Decibels,
        .valueName = "DB",
        .caption = u"-g : gain of FM, SSG, RHYTHM and PSG in dB (n=value)",
        .help = u"one gain in dB (-6, +3, -4.5) for FM, SSG, RHYTHM,\n"
                u"                     PSG and ADPCM: FM and rhythm move 0.75 dB a step,\n"
                u"                     the SSG and a YM2149 3 dB, so theirs is the nearest\n"
                u"                     step; an AY-3-8910 by its own levels, ADPCM in\n"
                u"                     proportion. Rows gain: and not moved: say what moved",
        .excludes = "fsr",
        .excludesText =
            u"-g sets the FM, SSG and RHYTHM amounts: it goes with none of -f, -s and -r",
    },
    OptionDescription{
        .option = Option::KeepBalance,
        .letter = 'k',
        .longName = "keep-balance",
        .caption = u"-k : normalize keeping the balance of FM, SSG and RHYTHM",
        .help = u"with -F, -S or -R: the largest cut the targets ask\n"
                u"                     for, as one gain in dB for every part",
        .excludes = "gfsr",
        .excludesText =
            u"-k works out one gain from the targets: it goes with none of -g, -f, -s and -r",
        .needsOneOf = "FSR",
        .needsText = u"-k needs a normalize target: -F, -S or -R",
    },
    OptionDescription{
        .option = Option::Measure,
        .letter = 'm',
        .longName = "measure",
        .caption = u"-m : measure loudness as heard (EBU R128)",
        .help = u"the loudness as heard: each song rendered and measured\n"
                u"                  (EBU R128: LUFS, loudness range, sample and true\n"
                u"                  peak; with -a each album's too); nothing written",
        .excludes = "fsrFSRgk",
        .excludesText = u"-m only measures: it goes with none of -f, -s, -r, -F, -S, -R, -g "
                        u"and -k",
    },
    OptionDescription{
        .option = Option::Loudness,
        .letter = 'L',
        .longName = "loudness",
        .value = ValueKind::Decibels,
        .range = ValueRange{kLoudnessLeast, kLoudnessMost},
        .valueName = "LUFS",
        .caption = u"-L : normalize loudness as heard to n LUFS (EBU R128)",
        .help = u"bring each song (with -a each album) to\n"
                u"                             LUFS as heard (-23, -18, -14.5): each song\n"
                u"                             rendered and measured once, then one gain for\n"
                u"                             every part as -g moves them, chosen on the\n"
                u"                             parts' steps, never past the true-peak ceiling\n"
                u"                             (--max-peak). Row loudness: says before -> after,\n"
                u"                             the gain, the true peak and why a song falls\n"
                u"                             short (writes clamped, parts not moved)",
        .excludes = "fsrFSRgkpm",
        .excludesText = u"-L works out one gain from the loudness: it goes with none of -f, -s, "
                        u"-r, -F, -S, -R, -g, -k, -p and -m",
    },
    OptionDescription{
        .option = Option::MaxPeak,
        .longName = "max-peak",
        .value = ValueKind::Decibels,
        .range = ValueRange{kCeilingLeast, kCeilingMost},
        .valueName = "DB",
        .shownIn = FrontEnds::CommandLine,
        .help = u"with -L: the true-peak ceiling in dBTP (default\n"
                u"                  -1): a gain that would take a song's true peak\n"
                u"                  past it is lowered to fit",
        .needsOneOf = "L",
        .needsText = u"--max-peak is the ceiling of -L: it needs -L",
    },
    OptionDescription{
        .option = Option::Albums,
        .letter = 'a',
        .longName = "album",
        .role = OptionRole::Batch,
        .caption = u"-a : normalize as albums (each folder, and the dropped files together)",
        .help = u"normalize album by album: one gain for each album, from\n"
                u"                its loudest file (rows ALBUM: ... and ALBUM PEAK: ...)",
    },
    OptionDescription{
        .option = Option::DryRun,
        .letter = 'n',
        .longName = "dry-run",
        .role = OptionRole::Batch,
        .caption = u"-n : dry run: every step but the write, nothing written",
        .help = u"every step but the write: the same rows and exit\n"
                u"                  status, nothing written",
    },
    OptionDescription{
        .option = Option::OutputFolder,
        .letter = 'o',
        .longName = "output-dir",
        .role = OptionRole::Batch,
        .value = ValueKind::Folder,
        .valueName = "DIR",
        .caption = u"-o : write the outputs into the folder",
        .help = u"write the outputs into the folder DIR (the\n"
                u"                           files of a folder into the same sub-folders\n"
                u"                           below DIR)",
    },
    OptionDescription{
        .option = Option::Quiet,
        .letter = 'q',
        .longName = "quiet",
        .role = OptionRole::Batch,
        .shownIn = FrontEnds::CommandLine,
        .help = u"no PEAK OVER rows: one row per file counts the\n"
                u"                writes each part held at its loudest value\n"
                u"                (clamped: FM 812 writes)",
        .excludes = "v",
        .excludesText = u"-q leaves out the rows -v asks for: it goes with no -v",
    },
    OptionDescription{
        .option = Option::Jobs,
        .letter = 'j',
        .longName = "jobs",
        .role = OptionRole::Batch,
        .value = ValueKind::Number,
        .range = ValueRange{1, kMostJobs},
        .valueName = "N",
        .shownIn = FrontEnds::CommandLine,
        .help = u"convert N files at once, 1 to 8 (instead of\n"
                u"                   MORLA_JOBS; default 4, with -m and -L every core)",
    },
    OptionDescription{
        .option = Option::Json,
        .longName = "json",
        .role = OptionRole::Batch,
        .shownIn = FrontEnds::CommandLine,
        .help = u"one JSON object per file on standard output\n"
                u"           (JSON Lines) instead of the rows",
        .excludes = "v",
        .excludesText = u"--json has no detail rows: it goes with no -v",
    },
    OptionDescription{
        .option = Option::RhythmRom,
        .longName = "rhythm-rom",
        .role = OptionRole::Batch,
        .value = ValueKind::File,
        .valueName = "FILE",
        .shownIn = FrontEnds::CommandLine,
        .help = u"with -m or -L: the OPNA's rhythm sounds from\n"
                u"                      FILE, an 8 KiB image of the chip's ROM\n"
                u"                      (otherwise ym2608_adpcm_rom.bin beside morla\n"
                u"                      or in the configuration folder, else a stand-in)",
    },
    OptionDescription{
        .option = Option::Help,
        .letter = 'h',
        .longName = "help",
        .role = OptionRole::Program,
        .shownIn = FrontEnds::CommandLine,
        .help = u"show this help",
    },
    OptionDescription{
        .option = Option::Version,
        .longName = "version",
        .role = OptionRole::Program,
        .shownIn = FrontEnds::CommandLine,
        .help = u"show the version",
    },
};

// What the build holds every row to: row i describes Option i; each row has
// a letter or a long name, no two the same; a letter is a digit or an ASCII
// letter (getopt gives ':', '?' and '-' meanings of their own); a long name
// ends in a null (getopt reads it as a C string); a row the window shows has
// a letter (its controls are found by it); the letters a row excludes or
// needs are rows'; only a number or a decibel value has a range; a row has the text of each
// front end that shows it.
constexpr bool WellFormed(const decltype(kOptions)& options) {
    const auto rowOf = [&](char letter) {
        for (std::size_t i = 0; i < options.size(); ++i) {
            if (letter != 0 && options[i].letter == letter) {
                return i;
            }
        }
        return options.size();
    };
    for (std::size_t i = 0; i < options.size(); ++i) {
        const OptionDescription& row = options[i];
        if (static_cast<std::size_t>(row.option) != i ||
            (row.letter == 0 && row.longName.empty()) ||
            (row.letter == 0 && row.ShownIn(FrontEnds::Window)) ||
            (row.letter != 0 && !((row.letter >= '0' && row.letter <= '9') ||
                                  (row.letter >= 'A' && row.letter <= 'Z') ||
                                  (row.letter >= 'a' && row.letter <= 'z'))) ||
            (row.letter != 0 && rowOf(row.letter) != i) ||
            (!row.longName.empty() && row.longName.data()[row.longName.size()] != '\0') ||
            (row.range && row.value != ValueKind::Number && row.value != ValueKind::Decibels) ||
            (row.ShownIn(FrontEnds::Window) && row.caption.empty()) ||
            (row.ShownIn(FrontEnds::CommandLine) && row.caption.empty() && row.help.empty())) {
            return false;
        }
        for (std::size_t j = 0; j < i; ++j) {
            if (!row.longName.empty() && options[j].longName == row.longName) {
                return false;
            }
        }
        for (const std::string_view letters : {row.excludes, row.needsOneOf}) {
            for (const char letter : letters) {
                if (rowOf(letter) == options.size()) {
                    return false;
                }
            }
        }
    }
    return true;
}
static_assert(WellFormed(kOptions), "a row of kOptions breaks the table's rules");

// The option whose letter is `letter`, or nullptr.
const OptionDescription* FindOption(char letter);
// The row of `option`.
inline const OptionDescription& DescriptionOf(Option option) {
    return kOptions[static_cast<std::size_t>(option)];
}

// A set of options, as ticked in the window or given on the command line.
class OptionSet {
  public:
    void Add(Option option) { options_.set(static_cast<std::size_t>(option)); }
    bool Has(Option option) const { return options_.test(static_cast<std::size_t>(option)); }
    // True when one of them runs a job (OptionRole::Run).
    bool AnyRunOption() const;

  private:
    std::bitset<kOptions.size()> options_;
};

// Why these options cannot run together, as the command line reports it and
// the window's refusal box shows it; empty when they can. Each option's
// `excludes`, then its `needsOneOf`, in the table's order: -g with -f, -s or
// -r; -k with -g, -f, -s or -r, or without a normalize target. (That a
// Batch option needs a Run option is the front ends' own refusal: the
// command line shows kNoOptionText for it, the window the same text in the
// user's language.)
std::u16string SettingsConflict(const OptionSet& options);

// What is wrong with `folder` as the output folder, as both front ends refuse
// it before any file: "output folder 'X' does not exist", "output folder 'X'
// is not a folder"; empty when it is a folder.
std::u16string OutputFolderMistake(const std::u16string& folder);

// The refusal when no option is chosen ("please select at least one option").
inline constexpr std::u16string_view kNoOptionText = u"オプションは最低一つ以上選択してください";

// What the command line finds wrong with `text` as the value of `option`,
// the text quoted as typed: "'12O' is not a number" (the strict number rule,
// ParseNumber), "'128' is out of range (0-127)" (a number outside the row's
// range, such as a normalize target the job would refuse for every file),
// "'1e3' is not a gain in dB" (ParseDecibels, for the gain; "is not a
// loudness in LUFS" for -L, "is not a level in dB" for --max-peak), "'-80'
// is out of range (-70 to 0)" (a value in dB outside the row's range of
// whole dB). Empty when the text is such a value, for a folder (looked for
// when the run starts), and for an option that takes none. The window
// refuses a ticked box's field by the same rule.
std::u16string ValueMistake(const OptionDescription& option, std::u16string_view text);

// Sets what ticking the Run option's box does, with the number field's text
// for options that take a value (read by the number-field rule, or for the
// gain, the loudness target and its ceiling by the decibel field's). Other
// options set nothing here.
void TickOption(VolumeSettings& settings, Option option, std::u16string_view fieldText);

// Sets what giving the Batch option does, with its value's text. Other
// options set nothing here.
void TickBatchOption(BatchOptions& options, Option option, std::u16string_view valueText);

}  // namespace morla
