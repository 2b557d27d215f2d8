#include "window_texts.h"

#include <array>
#include <cwctype>

namespace {

// Japanese: the instruction row and the refusal as the original window has
// them; the buttons marked the way Japanese Windows marks mnemonics.
constexpr WindowTexts kJapanese = {
    .name = L"ja",
    .instructionRow =
        L"*.s98をドロップするとファイル名の後ろに \"_new.s98\"を追加したファイル名で出力します",
    .refusalCaption = L"エラー",
    .noOption = L"オプションは最低一つ以上選択してください",
    .filesButton = L"ファイル(&I)...",
    .folderButton = L"フォルダ(&D)...",
    .browseButton = L"参照(&B)...",
    .summaryOfOne = L"{files} ファイル: 成功 {ok}、スキップ {skipped}、失敗 {failed}",
    .summaryOfMany = L"{files} ファイル: 成功 {ok}、スキップ {skipped}、失敗 {failed}",
};

constexpr WindowTexts kEnglish = {
    .name = L"en",
    .instructionRow =
        L"Drop *.s98 files here: each is written under its own name with "
        L"\"_new.s98\" added",
    .refusalCaption = L"Error",
    .noOption = L"Please select at least one option",
    .filesButton = L"F&iles...",
    .folderButton = L"Fol&der...",
    .browseButton = L"&Browse...",
    .summaryOfOne = L"{files} file: {ok} ok, {skipped} skipped, {failed} failed",
    .summaryOfMany = L"{files} files: {ok} ok, {skipped} skipped, {failed} failed",
};

// In the order of Language.
constexpr std::array<const WindowTexts*, 2> kTables = {&kEnglish, &kJapanese};

bool SameIgnoringCase(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::towlower(a[i]) != std::towlower(b[i])) {
            return false;
        }
    }
    return true;
}

void Replace(std::wstring& text, std::wstring_view field, std::size_t value) {
    const std::size_t at = text.find(field);
    if (at != std::wstring::npos) {
        text.replace(at, field.size(), std::to_wstring(value));
    }
}

}  // namespace

const WindowTexts& TextsOf(Language language) {
    return *kTables[static_cast<std::size_t>(language)];
}

std::optional<Language> LanguageNamed(std::wstring_view name) {
    for (std::size_t i = 0; i < kTables.size(); ++i) {
        if (SameIgnoringCase(name, kTables[i]->name)) {
            return static_cast<Language>(i);
        }
    }
    return std::nullopt;
}

Language LanguageForUser(LANGID language) {
    return PRIMARYLANGID(language) == LANG_JAPANESE ? Language::Japanese : Language::English;
}

std::wstring SummaryRow(const WindowTexts& texts, const BatchCounts& counts) {
    std::wstring row(counts.files() == 1 ? texts.summaryOfOne : texts.summaryOfMany);
    Replace(row, L"{files}", counts.files());
    Replace(row, L"{ok}", counts.ok);
    Replace(row, L"{skipped}", counts.skipped);
    Replace(row, L"{failed}", counts.failed);
    return row;
}
