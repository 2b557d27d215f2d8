// The main window: the option check boxes with their number fields (the nine
// of the original window, then the gain in dB, the balance-keeping normalize
// and the loudness measurement), the album, dry-run and output-folder boxes
// and the buttons that open the system's file dialogs in a panel at the top,
// and the report list below, onto which files and folders are dropped. Its
// own texts are in the user's language (window_texts.h); what the user set
// is kept from one start to the next (kept_settings.h).
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "api/morla.h"
#include "file_dialog.h"
#include "kept_settings.h"
#include "window_texts.h"

// The application's title: the main window's caption and the caption of the
// exception box.
inline constexpr wchar_t kApplicationTitle[] = L"morla_GUI 20110226b";

// The caption while a batch runs: the application title, the entry being
// converted (from 1) and the number of entries, "morla_GUI 20110226b - 12/340".
std::wstring ProgressTitle(std::size_t entry, std::size_t count);

// How the window starts.
struct WindowStart {
    // The language of its texts; none: the user's interface language.
    std::optional<Language> language;
    // The file of the settings kept from one start to the next, read when
    // the window is made and written when it closes; empty: none kept.
    std::wstring settingsFile;
};

// Stands for the application's use of the system's visual styles (the
// manifest asks for common controls 6); it has no behaviour of its own.
struct TXPManifest {};

// Appends rows to the report list, and keeps the list's horizontal extent as
// wide as its widest row, so a long row can be scrolled into view.
class ListSink : public morla::LogSink {
  public:
    ListSink() = default;
    ~ListSink() override;
    ListSink(const ListSink&) = delete;
    ListSink& operator=(const ListSink&) = delete;

    void Attach(HWND list);
    void Append(std::u16string_view line) override;
    // After the list's font has changed: measures every row again. Call it
    // before the old font is deleted.
    void FontChanged();

  private:
    void Widen(const wchar_t* row, int length);

    HWND list_ = nullptr;
    HDC measure_ = nullptr;  // a memory DC holding the list's font
    HGDIOBJ initialFont_ = nullptr;
    int margin_ = 0;  // beside the text, in pixels
    int widest_ = 0;  // the horizontal extent set, in pixels
};

class TMORLA_MAIN {
  public:
    // Builds the window and its controls hidden, centred on the screen, with
    // the application title as caption, and registers it for dropped files.
    // With a settings file, its boxes, fields, place and size are those kept
    // there (the language too, unless `start` names one); what the file does
    // not have or cannot be read as is as at a first start.
    explicit TMORLA_MAIN(const WindowStart& start = {});
    ~TMORLA_MAIN();
    TMORLA_MAIN(const TMORLA_MAIN&) = delete;
    TMORLA_MAIN& operator=(const TMORLA_MAIN&) = delete;

    HWND Handle() const { return window_; }
    const WindowTexts& Texts() const { return *texts_; }

    // The message dispatch: the dropped-files message goes to HandleDropFiles,
    // the buttons' clicks to ChooseAndConvert and ChooseOutputFolder, closing
    // keeps the settings, every other message goes to the window's own
    // handling.
    LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

    // Hands the dropped paths, in the shell's order, to ConvertPaths.
    // Releases the drop handle.
    void HandleDropFiles(HDROP drop);
    // What "Files..." and "Folder..." do: refuse as ConvertPaths does, before
    // any dialog opens; else open the system's dialog and hand what was
    // chosen to ConvertPaths, as a drop of it. Nothing happens when the
    // dialog is cancelled.
    void ChooseAndConvert(DialogChoice choice);
    // What "Browse..." does: the system's folder dialog; the folder chosen
    // goes into the output folder's field and ticks its box.
    void ChooseOutputFolder();
    // The paths the program was started with (files dropped onto its icon,
    // "Send to", "Open with"): converted as a drop of them, once the window
    // processes its messages.
    void ConvertAtStart(std::vector<std::u16string> paths);
    // Refuses with a message box when no option box is ticked (the album box
    // alone runs nothing), when a ticked box's field holds text the command
    // line would refuse (the engine's ValueMistake after the box's name,
    // "-Fn: '12O' is not a number"; unticked boxes' fields are not looked
    // at), or when the ticked boxes cannot run together (the engine's
    // SettingsConflict text); nothing is converted then. Else converts
    // `paths` as one batch, album by album when the album box is
    // ticked, letting the window process its waiting messages before each
    // entry. A measurement hears the user's rhythm ROM image when there is
    // one (ym2608_adpcm_rom.bin beside morla_GUI.exe or in
    // %APPDATA%\morla_GUI\), else the stand-in. While the batch runs the
    // title shows its progress and the buttons are greyed. The list keeps
    // its newest row in view, unless the user has scrolled up from it, and
    // the batch ends with its summary row ("18 files: 16 ok, 1 skipped, 1
    // failed").
    void ConvertPaths(std::vector<std::u16string> paths);
    // The name row, the job's rows and the outcome row of entry `index` of
    // the batch (in album mode the album's rows first when it opens one). The
    // list does not redraw while the job runs; its rows are painted when the
    // window next processes its messages.
    morla::JobResult ProcessDroppedFile(morla::ConvertBatch& batch, std::size_t index);
    // Reads the boxes and, for ticked boxes, their fields, in the job's order.
    morla::VolumeSettings GatherSettings() const;

    // Where the job's rows go: the report list.
    morla::LogSink& Log() { return log_; }

    // Writes the boxes, the fields and the window's place and size to the
    // settings file; false when there is none or it could not be written.
    bool KeepSettings() const;

    // Child controls, in declaration order.
    TXPManifest XPManifest;
    HWND LIST = nullptr;
    HWND Panel = nullptr;
    HWND C_fn = nullptr;
    HWND C_rn = nullptr;
    HWND E_fn = nullptr;
    HWND E_rn = nullptr;
    HWND C_Fn2 = nullptr;
    HWND C_Rn2 = nullptr;
    HWND C_v = nullptr;
    HWND C_p = nullptr;
    HWND C_2 = nullptr;
    HWND E_Fn2 = nullptr;
    HWND E_Rn2 = nullptr;
    HWND C_sn = nullptr;
    HWND E_sn = nullptr;
    HWND C_Sn2 = nullptr;
    HWND E_Sn2 = nullptr;
    HWND C_g = nullptr;       // a gain in dB for every part
    HWND E_g = nullptr;       // in dB, negative for quieter: "-6", "-4.5"
    HWND C_k = nullptr;       // the normalize targets as one gain, keeping the balance
    HWND C_m = nullptr;       // the loudness as heard, measured; nothing written
    HWND C_L = nullptr;       // the loudness as heard brought to a target by one gain
    HWND E_L = nullptr;       // in LUFS: "-23", "-18", "-14.5"
    HWND C_a = nullptr;       // album mode, for the whole batch
    HWND C_n = nullptr;       // dry run: every step but the write
    HWND C_o = nullptr;       // the outputs into one folder
    HWND E_o = nullptr;       // that folder's path
    HWND B_Browse = nullptr;  // "Browse...": the system's dialog for that folder
    HWND B_Files = nullptr;   // "Files...": the system's dialog for files
    HWND B_Folder = nullptr;  // "Folder...": the system's dialog for a folder

  private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void CreateControls();
    void ApplyDpi(UINT dpi);  // font and positions at the given DPI
    void LayOut();            // panel across the top, the list below
    // The boxes, fields, place and size kept in `settings`.
    void Restore(const KeptSettings& settings);
    // Whether the list shows its last row; brings it into view.
    bool ShowsLastRow() const;
    void ShowLastRow();
    // The options whose boxes are ticked.
    morla::OptionSet TickedOptions() const;
    // Why the ticked boxes cannot run, the first reason of those that
    // ConvertPaths gives; empty when they can.
    std::u16string Refusal() const;
    // Shows the refusal, if there is one; true then.
    bool RefusedToRun();

    HWND window_ = nullptr;
    const WindowTexts* texts_;
    std::wstring settingsFile_;
    std::optional<std::wstring> languageSetting_;  // as the settings file had it
    std::vector<std::u16string> startPaths_;       // until they are converted
    HFONT font_ = nullptr;
    UINT dpi_ = USER_DEFAULT_SCREEN_DPI;
    ListSink log_;
};

// The one main window, for the life of the application.
extern TMORLA_MAIN* MORLA_MAIN;

// Processes every waiting message of the thread, then returns. A request to
// quit met here is remembered, and ends the message loop afterwards.
void ProcessMessages();

// The text of the exception box: the message with a full stop added when its
// last character's code is above that of '.'.
std::wstring ExceptionBoxText(std::wstring message);
// Shows the exception box owned by the main window, if there is one.
void ShowExceptionBox(const std::wstring& message);

// What the program was started with: the paths to convert (files dropped
// onto its icon, "Send to", "Open with"), each made a full path as a drop
// gives it, and the switch --language=en or --language=ja, which sets the
// language of the window's texts (another value leaves the user's).
struct StartArguments {
    std::optional<Language> language;
    std::vector<std::u16string> paths;
};
StartArguments ReadStartArguments(const wchar_t* commandLine);

// Runs the message loop until the application is asked to quit.
int RunMessageLoop();
