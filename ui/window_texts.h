// The window's own texts, one table per language: the instruction row, the
// refusal box, the buttons and the batch's summary row. The option boxes'
// captions and the rows of the jobs are the engine's, the same in every
// language. A third language is one table more (window_texts.cpp) and its
// name in Language.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

enum class Language { English, Japanese };

struct WindowTexts {
    std::wstring_view name;            // as the switch and the settings file name it: "en"
    std::wstring_view instructionRow;  // the report list's first row
    std::wstring_view refusalCaption;  // the caption of the box that refuses a batch
    std::wstring_view noOption;        // its text when no option box is ticked
    // The buttons, each with its mnemonic marked by '&'.
    std::wstring_view filesButton, folderButton, browseButton;
    // The summary row after a batch, of one entry and of several, with
    // {files}, {ok}, {skipped} and {failed} standing for the counts.
    std::wstring_view summaryOfOne, summaryOfMany;
};

// The texts of `language`.
const WindowTexts& TextsOf(Language language);

// The language named `name` ("en", "ja"; any case), if it is one.
std::optional<Language> LanguageNamed(std::wstring_view name);

// The window's language for a user whose interface language is `language`
// (a LANGID, as GetUserDefaultUILanguage gives it): Japanese for Japanese,
// English for every other.
Language LanguageForUser(LANGID language);

// How a batch's entries went.
struct BatchCounts {
    std::size_t ok = 0, skipped = 0, failed = 0;
    std::size_t files() const { return ok + skipped + failed; }
};

// The summary row of a batch: "18 files: 16 ok, 1 skipped, 1 failed".
std::wstring SummaryRow(const WindowTexts& texts, const BatchCounts& counts);
