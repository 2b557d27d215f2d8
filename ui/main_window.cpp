#include "main_window.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "api/morla.h"
#include "process/process.h"

TMORLA_MAIN* MORLA_MAIN = nullptr;

namespace {

constexpr wchar_t kWindowClass[] = L"TMORLA_MAIN";
constexpr wchar_t kPanelClass[] = L"TMORLA_PANEL";
// Sent to the window to convert the paths the program was started with.
constexpr UINT kConvertStartPaths = WM_APP + 1;

// Sizes at 96 DPI.
constexpr int kClientWidth = 469;
constexpr int kClientHeight = 458;
constexpr int kPanelHeight = 273;
constexpr int kFontHeight = 11;  // Tahoma 8 pt
constexpr DWORD kWindowStyle =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_THICKFRAME | WS_CLIPCHILDREN;

std::wstring Wide(std::u16string_view text) {
    return std::wstring(text.begin(), text.end());
}

enum class Kind { CheckBox, Edit, Button };

// The controls inside the panel, in tab order: the nine options' boxes and
// fields where the original window had them, the gain and the balance-keeping
// normalize below them, the loudness measurement (a box without a field, as
// -p), the loudness normalize with its field (LUFS), then the album, dry-run
// and output-folder boxes, which go with any of them, the output folder's
// field and "Browse...", and the two buttons at the right.
// What the boxes are comes from the engine's option table (morla::kOptions):
// each option the window shows has its box here, with a field when it takes
// a value, and its caption from the table. Only their places are the
// window's own, with each box's mnemonic (Alt and the key ticks it): the
// first of its caption's characters that is the key, no two boxes or buttons
// alike in any case. The buttons' captions, with their mnemonics, are the
// language's. Each control keeps its state in the settings file under its
// name.
struct ControlLayout {
    HWND TMORLA_MAIN::*member;
    const wchar_t* name;
    Kind kind;
    int left, top, width, height;
    char option;           // the option letter: the check box's caption, the field's box; 0: none
    wchar_t mnemonic = 0;  // a box's
    std::wstring_view WindowTexts::*caption = {};  // a button's
};
#define CONTROL(name) &TMORLA_MAIN::name, L## #name
constexpr std::array<ControlLayout, 28> kPanelControls = {{
    {CONTROL(C_fn), Kind::CheckBox, 8, 8, 289, 17, 'f', L'f'},
    {CONTROL(C_rn), Kind::CheckBox, 8, 40, 281, 17, 'r', L'r'},
    {CONTROL(E_fn), Kind::Edit, 328, 8, 33, 16, 'f'},
    {CONTROL(E_rn), Kind::Edit, 328, 40, 33, 16, 'r'},
    {CONTROL(C_Fn2), Kind::CheckBox, 8, 56, 313, 17, 'F', L'e'},
    {CONTROL(C_Rn2), Kind::CheckBox, 8, 88, 289, 17, 'R', L'Y'},
    {CONTROL(C_v), Kind::CheckBox, 8, 104, 289, 17, 'v', L'v'},
    {CONTROL(C_p), Kind::CheckBox, 8, 120, 289, 17, 'p', L'p'},
    {CONTROL(C_2), Kind::CheckBox, 8, 136, 289, 17, '2', L'2'},
    {CONTROL(E_Fn2), Kind::Edit, 328, 56, 33, 16, 'F'},
    {CONTROL(E_Rn2), Kind::Edit, 328, 88, 33, 16, 'R'},
    {CONTROL(C_sn), Kind::CheckBox, 8, 24, 289, 17, 's', L's'},
    {CONTROL(E_sn), Kind::Edit, 328, 24, 33, 16, 's'},
    {CONTROL(C_Sn2), Kind::CheckBox, 8, 72, 289, 17, 'S', L'z'},
    {CONTROL(E_Sn2), Kind::Edit, 328, 72, 33, 16, 'S'},
    {CONTROL(C_g), Kind::CheckBox, 8, 152, 313, 17, 'g', L'g'},
    {CONTROL(E_g), Kind::Edit, 328, 152, 33, 16, 'g'},
    {CONTROL(C_k), Kind::CheckBox, 8, 168, 453, 17, 'k', L'k'},
    {CONTROL(C_m), Kind::CheckBox, 8, 184, 289, 17, 'm', L'm'},
    {CONTROL(C_L), Kind::CheckBox, 8, 200, 313, 17, 'L', L'L'},
    {CONTROL(E_L), Kind::Edit, 328, 200, 33, 16, 'L'},
    {CONTROL(C_a), Kind::CheckBox, 8, 216, 453, 17, 'a', L'a'},
    {CONTROL(C_n), Kind::CheckBox, 8, 232, 453, 17, 'n', L'n'},
    {CONTROL(C_o), Kind::CheckBox, 8, 251, 200, 17, 'o', L'o'},
    {CONTROL(E_o), Kind::Edit, 212, 251, 158, 16, 'o'},
    {CONTROL(B_Browse), Kind::Button, 376, 248, 85, 23, 0, 0, &WindowTexts::browseButton},
    {CONTROL(B_Files), Kind::Button, 376, 8, 85, 23, 0, 0, &WindowTexts::filesButton},
    {CONTROL(B_Folder), Kind::Button, 376, 37, 85, 23, 0, 0, &WindowTexts::folderButton},
}};
#undef CONTROL

constexpr wchar_t Folded(wchar_t key) {
    return key >= L'A' && key <= L'Z' ? static_cast<wchar_t>(key - L'A' + L'a') : key;
}

// True when every box has a mnemonic its caption holds, and no two boxes, nor
// a box and a button (F&iles, Fol&der, &Browse in every language), share one
// in any case.
constexpr bool MnemonicsAreDistinct() {
    constexpr std::wstring_view buttonKeys = L"idb";
    for (std::size_t i = 0; i < kPanelControls.size(); ++i) {
        const ControlLayout& control = kPanelControls[i];
        if (control.kind != Kind::CheckBox) {
            continue;
        }
        const morla::OptionDescription* option = nullptr;
        for (const morla::OptionDescription& row : morla::kOptions) {
            option = row.letter == control.option ? &row : option;
        }
        if (option == nullptr ||
            option->caption.find(static_cast<char16_t>(control.mnemonic)) ==
                std::u16string_view::npos ||
            buttonKeys.find(Folded(control.mnemonic)) != std::wstring_view::npos) {
            return false;
        }
        for (std::size_t j = 0; j < i; ++j) {
            if (kPanelControls[j].kind == Kind::CheckBox &&
                Folded(kPanelControls[j].mnemonic) == Folded(control.mnemonic)) {
                return false;
            }
        }
    }
    return true;
}
static_assert(MnemonicsAreDistinct(), "each box needs a mnemonic of its own in its caption");

// A box's caption with its mnemonic marked.
std::wstring CaptionWithMnemonic(std::u16string_view caption, wchar_t mnemonic) {
    std::wstring text(caption.begin(), caption.end());
    text.insert(text.find(mnemonic), 1, L'&');
    return text;
}

// True when the controls above are those of the table: for each option the
// window shows, one check box and, exactly when it takes a value, one field;
// no control for any other option.
constexpr bool ControlsMatchOptions() {
    for (const morla::OptionDescription& option : morla::kOptions) {
        int boxes = 0;
        int fields = 0;
        for (const ControlLayout& control : kPanelControls) {
            if (control.option != 0 && control.option == option.letter) {
                ++(control.kind == Kind::CheckBox ? boxes : fields);
            }
        }
        const bool shown = option.ShownIn(morla::FrontEnds::Window);
        if (boxes != (shown ? 1 : 0) || fields != (shown && option.takesValue() ? 1 : 0)) {
            return false;
        }
    }
    for (const ControlLayout& control : kPanelControls) {
        bool known = control.option == 0;
        for (const morla::OptionDescription& option : morla::kOptions) {
            known |= option.letter == control.option;
        }
        if (!known) {
            return false;
        }
    }
    return true;
}
static_assert(ControlsMatchOptions(),
              "each option the window shows needs its box (and field) in kPanelControls");

// The check box and, for options with a value, the field of an option.
struct OptionControls {
    HWND TMORLA_MAIN::*box = nullptr;
    HWND TMORLA_MAIN::*field = nullptr;
};
OptionControls ControlsOf(char option) {
    OptionControls controls;
    for (const ControlLayout& control : kPanelControls) {
        if (control.option == option) {
            (control.kind == Kind::CheckBox ? controls.box : controls.field) = control.member;
        }
    }
    return controls;
}

bool IsTicked(HWND box) {
    return SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

std::u16string TextOf(HWND control) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return std::u16string(text.begin(), text.end());
}

// How many whole rows a list box shows (at least one).
LRESULT RowsShown(HWND list) {
    const LRESULT rowHeight = SendMessageW(list, LB_GETITEMHEIGHT, 0, 0);
    RECT client{};
    GetClientRect(list, &client);
    return rowHeight > 0 ? std::max<LRESULT>(1, client.bottom / rowHeight) : 1;
}

// Releases a drop handle on every path out of the drop handling.
class DropHandle {
  public:
    explicit DropHandle(HDROP drop) : drop_(drop) {}
    ~DropHandle() { DragFinish(drop_); }
    DropHandle(const DropHandle&) = delete;
    DropHandle& operator=(const DropHandle&) = delete;
    HDROP get() const { return drop_; }

  private:
    HDROP drop_;
};

// A failed system call as an exception: what failed and the system's error
// code, so that a window that cannot be made says why.
std::runtime_error SystemFailure(const char* what) {
    const DWORD error = GetLastError();
    return std::runtime_error(std::string(what) + " (system error " + std::to_string(error) + ")");
}

// The panel hands its buttons' clicks to the main window, which acts on them.
LRESULT CALLBACK PanelProc(HWND panel, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND) {
        return SendMessageW(GetParent(panel), message, wParam, lParam);
    }
    return DefWindowProcW(panel, message, wParam, lParam);
}

void RegisterClasses(HINSTANCE instance, WNDPROC windowProc) {
    static bool registered = false;
    if (registered) {
        return;
    }
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, L"MAINICON");
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kWindowClass;
    if (!RegisterClassExW(&windowClass)) {
        throw SystemFailure("the main window class could not be registered");
    }
    // A borderless container for the option controls and the buttons.
    WNDCLASSEXW panelClass{};
    panelClass.cbSize = sizeof panelClass;
    panelClass.lpfnWndProc = PanelProc;
    panelClass.hInstance = instance;
    panelClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    panelClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    panelClass.lpszClassName = kPanelClass;
    if (!RegisterClassExW(&panelClass)) {
        throw SystemFailure("the panel class could not be registered");
    }
    registered = true;
}

// Holds a list's redrawing off while it lives; then the list is redrawn
// whole, when the window next paints.
class ListRedrawPaused {
  public:
    explicit ListRedrawPaused(HWND list) : list_(list) {
        SendMessageW(list_, WM_SETREDRAW, FALSE, 0);
    }
    ~ListRedrawPaused() {
        SendMessageW(list_, WM_SETREDRAW, TRUE, 0);
        RedrawWindow(list_, nullptr, nullptr, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE);
    }
    ListRedrawPaused(const ListRedrawPaused&) = delete;
    ListRedrawPaused& operator=(const ListRedrawPaused&) = delete;

  private:
    HWND list_;
};

// While a batch runs: the title shows the entry being converted, and the
// buttons are greyed, so that no dialog holds a batch up halfway. Both are
// given back as they were when the batch ends, however it ends (a batch
// dropped during another gives the other's progress back).
class BatchInProgress {
  public:
    BatchInProgress(HWND window, std::vector<HWND> buttons)
        : window_(window), buttons_(std::move(buttons)), title_(Wide(TextOf(window))) {
        for (HWND button : buttons_) {
            enabled_.push_back(EnableWindow(button, FALSE) == 0);
        }
    }
    ~BatchInProgress() {
        SetWindowTextW(window_, title_.c_str());
        for (std::size_t i = 0; i < buttons_.size(); ++i) {
            EnableWindow(buttons_[i], enabled_[i]);
        }
    }
    BatchInProgress(const BatchInProgress&) = delete;
    BatchInProgress& operator=(const BatchInProgress&) = delete;

    void ShowEntry(std::size_t index, std::size_t count) const {
        SetWindowTextW(window_, ProgressTitle(index + 1, count).c_str());
    }

  private:
    HWND window_;
    std::vector<HWND> buttons_;
    std::vector<bool> enabled_;  // as each button was before the batch
    std::wstring title_;         // the title before the batch
};

// The user's image of the OPNA's rhythm ROM (ym2608_adpcm_rom.bin, 8 KiB),
// which the loudness measurement hears in place of the stand-in: the first
// such file that reads as an image, beside morla_GUI.exe, then in
// %APPDATA%\morla_GUI\. A file of that name that is no image (another size,
// unreadable) is passed over; the "heard:" row of a song that keys the rhythm
// says which sounds were heard ("rhythm: ROM image" or "rhythm: stand-in").
// Looked for at each batch, so an image put in place is heard from the next
// drop on. Empty: none, the stand-in.
std::u16string FindRhythmRom() {
    for (const std::u16string& folder : morla::UserFileFolders("morla_GUI")) {
        const std::u16string path = folder + u"\\" + std::u16string(morla::kRhythmRomFileName);
        morla::RhythmRom rom;
        if (morla::ReadRhythmRom(path, rom).empty()) {
            return path;
        }
    }
    return {};
}

bool quitRequested = false;

}  // namespace

std::wstring ProgressTitle(std::size_t entry, std::size_t count) {
    return std::wstring(kApplicationTitle) + L" - " + std::to_wstring(entry) + L"/" +
           std::to_wstring(count);
}

ListSink::~ListSink() {
    if (measure_ != nullptr) {
        SelectObject(measure_, initialFont_);
        DeleteDC(measure_);
    }
}

void ListSink::Attach(HWND list) {
    list_ = list;
    measure_ = CreateCompatibleDC(nullptr);
    if (measure_ == nullptr) {
        throw SystemFailure("the report list's rows cannot be measured");
    }
    initialFont_ = GetCurrentObject(measure_, OBJ_FONT);
}

void ListSink::Append(std::u16string_view line) {
    const std::wstring row = Wide(line);
    SendMessageW(list_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(row.c_str()));
    Widen(row.c_str(), static_cast<int>(row.size()));
}

void ListSink::FontChanged() {
    const auto font = reinterpret_cast<HGDIOBJ>(SendMessageW(list_, WM_GETFONT, 0, 0));
    SelectObject(measure_, font != nullptr ? font : initialFont_);
    TEXTMETRICW metrics{};
    GetTextMetricsW(measure_, &metrics);
    margin_ = 2 * metrics.tmAveCharWidth;
    widest_ = 0;
    SendMessageW(list_, LB_SETHORIZONTALEXTENT, 0, 0);
    std::wstring row;
    const auto count = SendMessageW(list_, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        row.resize(static_cast<std::size_t>(SendMessageW(list_, LB_GETTEXTLEN, i, 0)) + 1);
        const auto length =
            SendMessageW(list_, LB_GETTEXT, i, reinterpret_cast<LPARAM>(row.data()));
        Widen(row.c_str(), static_cast<int>(length));
    }
}

void ListSink::Widen(const wchar_t* row, int length) {
    SIZE size{};
    GetTextExtentPoint32W(measure_, row, length, &size);
    if (size.cx + margin_ > widest_) {
        widest_ = size.cx + margin_;
        SendMessageW(list_, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(widest_), 0);
    }
}

TMORLA_MAIN::TMORLA_MAIN(const WindowStart& start)
    : texts_(&TextsOf(start.language.value_or(LanguageForUser(GetUserDefaultUILanguage())))),
      settingsFile_(start.settingsFile) {
    const KeptSettings kept(settingsFile_);
    languageSetting_ = kept.Get(L"Window", L"Language");
    if (!start.language && languageSetting_) {
        if (const std::optional<Language> language = LanguageNamed(*languageSetting_)) {
            texts_ = &TextsOf(*language);
        }
    }
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    RegisterClasses(instance, &TMORLA_MAIN::WindowProc);
    window_ = CreateWindowExW(WS_EX_CONTROLPARENT, kWindowClass, L"", kWindowStyle, CW_USEDEFAULT,
                              CW_USEDEFAULT, kClientWidth, kClientHeight, nullptr, nullptr,
                              instance, this);
    if (window_ == nullptr) {
        throw SystemFailure("the main window could not be created");
    }
    CreateControls();
    ApplyDpi(GetDpiForWindow(window_));

    // Client size at this DPI, centred on the screen.
    RECT frame{0, 0, MulDiv(kClientWidth, dpi_, 96), MulDiv(kClientHeight, dpi_, 96)};
    AdjustWindowRectExForDpi(&frame, kWindowStyle, FALSE, WS_EX_CONTROLPARENT, dpi_);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    SetWindowPos(window_, nullptr, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                 (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    Restore(kept);

    SetWindowTextW(window_, kApplicationTitle);
    DragAcceptFiles(window_, TRUE);
}

TMORLA_MAIN::~TMORLA_MAIN() {
    if (window_ != nullptr) {
        DestroyWindow(window_);
    }
    if (font_ != nullptr) {
        DeleteObject(font_);
    }
}

void TMORLA_MAIN::CreateControls() {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    // Tab order follows creation: the list first, then the panel.
    LIST = CreateWindowExW(WS_EX_CLIENTEDGE, L"LISTBOX", L"",
                           WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | WS_HSCROLL |
                               LBS_NOTIFY | LBS_NOINTEGRALHEIGHT,
                           0, 0, 0, 0, window_, nullptr, instance, nullptr);
    Panel = CreateWindowExW(WS_EX_CONTROLPARENT, kPanelClass, L"",
                            WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0, 0, 0, window_, nullptr,
                            instance, nullptr);
    if (LIST == nullptr || Panel == nullptr) {
        throw SystemFailure("the main window's controls could not be created");
    }
    for (const ControlLayout& control : kPanelControls) {
        HWND handle = nullptr;
        if (control.kind == Kind::Edit) {
            // A number starts at "0", as the original window's fields do; a
            // folder empty, for none is chosen yet.
            const bool folder =
                morla::FindOption(control.option)->value == morla::ValueKind::Folder;
            handle = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", folder ? L"" : L"0",
                                     WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, 0, 0, 0,
                                     0, Panel, nullptr, instance, nullptr);
        } else {
            const std::wstring caption =
                control.kind == Kind::CheckBox
                    ? CaptionWithMnemonic(morla::FindOption(control.option)->caption,
                                          control.mnemonic)
                    : std::wstring(texts_->*control.caption);
            const DWORD style = control.kind == Kind::CheckBox ? BS_AUTOCHECKBOX : BS_PUSHBUTTON;
            handle = CreateWindowExW(0, L"BUTTON", caption.c_str(),
                                     WS_CHILD | WS_VISIBLE | WS_TABSTOP | style, 0, 0, 0, 0, Panel,
                                     nullptr, instance, nullptr);
        }
        if (handle == nullptr) {
            throw SystemFailure("an option control could not be created");
        }
        this->*control.member = handle;
    }
    log_.Attach(LIST);
    log_.Append(std::u16string(texts_->instructionRow.begin(), texts_->instructionRow.end()));
}

void TMORLA_MAIN::ApplyDpi(UINT dpi) {
    dpi_ = dpi == 0 ? USER_DEFAULT_SCREEN_DPI : dpi;
    const HFONT font = CreateFontW(-MulDiv(kFontHeight, dpi_, 96), 0, 0, 0, FW_NORMAL, FALSE, FALSE,
                                   FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                   DEFAULT_QUALITY, DEFAULT_PITCH, L"Tahoma");
    for (HWND control : {window_, LIST, Panel}) {
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
    for (const ControlLayout& control : kPanelControls) {
        HWND handle = this->*control.member;
        SendMessageW(handle, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
        SetWindowPos(handle, nullptr, MulDiv(control.left, dpi_, 96), MulDiv(control.top, dpi_, 96),
                     MulDiv(control.width, dpi_, 96), MulDiv(control.height, dpi_, 96),
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    log_.FontChanged();
    if (font_ != nullptr) {
        DeleteObject(font_);
    }
    font_ = font;
    LayOut();
}

void TMORLA_MAIN::LayOut() {
    if (LIST == nullptr || Panel == nullptr) {
        return;
    }
    RECT client;
    GetClientRect(window_, &client);
    const int panelHeight = MulDiv(kPanelHeight, dpi_, 96);
    SetWindowPos(Panel, nullptr, 0, 0, client.right, panelHeight, SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowPos(LIST, nullptr, 0, panelHeight, client.right,
                 client.bottom > panelHeight ? client.bottom - panelHeight : 0,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT CALLBACK TMORLA_MAIN::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        auto* self = static_cast<TMORLA_MAIN*>(create->lpCreateParams);
        self->window_ = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<TMORLA_MAIN*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    // No exception crosses into the system: it is shown, and the loop goes on.
    try {
        return self->Dispatch(message, wParam, lParam);
    } catch (const std::exception& error) {
        ShowExceptionBox(Wide(morla::FromUtf8(error.what())));
    } catch (...) {
        ShowExceptionBox(L"");
    }
    return 0;
}

LRESULT TMORLA_MAIN::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_DROPFILES:
            HandleDropFiles(reinterpret_cast<HDROP>(wParam));
            return 0;
        case WM_COMMAND: {
            // A click, or Enter or Space on a focused button: the button is
            // known by its handle.
            const auto control = reinterpret_cast<HWND>(lParam);
            if (HIWORD(wParam) == BN_CLICKED && (control == B_Files || control == B_Folder)) {
                ChooseAndConvert(control == B_Files ? DialogChoice::Files : DialogChoice::Folder);
                return 0;
            }
            if (HIWORD(wParam) == BN_CLICKED && control == B_Browse) {
                ChooseOutputFolder();
                return 0;
            }
            return DefWindowProcW(window_, message, wParam, lParam);
        }
        case WM_SIZE:
            LayOut();
            return 0;
        case WM_DPICHANGED: {
            ApplyDpi(HIWORD(wParam));
            const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
            SetWindowPos(window_, nullptr, suggested->left, suggested->top,
                         suggested->right - suggested->left, suggested->bottom - suggested->top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
            return 0;
        }
        case kConvertStartPaths:
            ConvertPaths(std::exchange(startPaths_, {}));
            return 0;
        case WM_CLOSE:
            // Ends the application once the current message is handled; a
            // batch that is running finishes first.
            KeepSettings();
            PostQuitMessage(0);
            return 0;
        case WM_ENDSESSION:
            // The user signs out or the system shuts down: no WM_CLOSE comes.
            if (wParam) {
                KeepSettings();
            }
            return 0;
        case WM_NCDESTROY:
            SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
            window_ = nullptr;
            return 0;
        default:
            return DefWindowProcW(window_, message, wParam, lParam);
    }
}

morla::OptionSet TMORLA_MAIN::TickedOptions() const {
    morla::OptionSet ticked;
    for (const morla::OptionDescription& option : morla::kOptions) {
        if (option.ShownIn(morla::FrontEnds::Window) &&
            IsTicked(this->*ControlsOf(option.letter).box)) {
            ticked.Add(option.option);
        }
    }
    return ticked;
}

std::u16string TMORLA_MAIN::Refusal() const {
    const morla::OptionSet ticked = TickedOptions();
    if (!ticked.AnyRunOption()) {  // the album box alone runs nothing
        return std::u16string(texts_->noOption.begin(), texts_->noOption.end());
    }
    // A ticked box's field by the command line's rule: text that it would
    // refuse is not read as 0 here either. The box is named as its caption
    // begins ("-Fn: '12O' is not a number").
    for (const morla::OptionDescription& option : morla::kOptions) {
        const OptionControls controls = ControlsOf(option.letter);
        if (controls.field == nullptr || !ticked.Has(option.option)) {
            continue;
        }
        const std::u16string mistake = morla::ValueMistake(option, TextOf(this->*controls.field));
        if (!mistake.empty()) {
            const std::u16string_view caption = option.caption;
            return std::u16string(caption.substr(0, caption.find(u" : "))) + u": " + mistake;
        }
    }
    if (const std::u16string conflict = morla::SettingsConflict(ticked); !conflict.empty()) {
        return conflict;
    }
    if (ticked.Has(morla::Option::OutputFolder)) {
        return morla::OutputFolderMistake(TextOf(E_o));
    }
    return {};
}

bool TMORLA_MAIN::RefusedToRun() {
    const std::u16string refusal = Refusal();
    if (refusal.empty()) {
        return false;
    }
    MessageBoxW(window_, Wide(refusal).c_str(), std::wstring(texts_->refusalCaption).c_str(),
                MB_ICONERROR);
    return true;
}

void TMORLA_MAIN::HandleDropFiles(HDROP drop) {
    const DropHandle handle(drop);
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    std::vector<std::u16string> paths;
    for (UINT index = 0; index < count; ++index) {
        // Asked for its length first, so a path longer than MAX_PATH arrives whole.
        std::wstring path(DragQueryFileW(drop, index, nullptr, 0) + 1, L'\0');
        path.resize(DragQueryFileW(drop, index, path.data(), static_cast<UINT>(path.size())));
        paths.emplace_back(path.begin(), path.end());
    }
    ConvertPaths(std::move(paths));
}

void TMORLA_MAIN::ChooseAndConvert(DialogChoice choice) {
    // Refused before the dialog opens: choosing files that will not be used
    // would be wasted work.
    if (RefusedToRun()) {
        return;
    }
    std::vector<std::u16string> paths = ChooseWithDialog(window_, choice);
    if (!paths.empty()) {
        ConvertPaths(std::move(paths));
    }
}

void TMORLA_MAIN::ConvertPaths(std::vector<std::u16string> paths) {
    if (RefusedToRun()) {
        return;
    }
    // All paths of one drop or one choice are one batch: no job writes over
    // another's input. Albums are decided here, for the whole batch.
    morla::BatchOptions options;
    options.rhythmRomPath = FindRhythmRom();
    // Jobs that write nothing have no earlier output to skip.
    options.measureOnly = morla::WritesNothing(GatherSettings());
    const morla::OptionSet ticked = TickedOptions();
    for (const morla::OptionDescription& option : morla::kOptions) {
        if (option.role == morla::OptionRole::Batch && ticked.Has(option.option)) {
            const OptionControls controls = ControlsOf(option.letter);
            morla::TickBatchOption(options, option.option,
                                   controls.field ? TextOf(this->*controls.field) : u"");
        }
    }
    morla::ConvertBatch batch(std::move(paths), options);
    const BatchInProgress progress(window_, {B_Files, B_Folder, B_Browse});
    BatchCounts counts;
    for (std::size_t index = 0; index < batch.size(); ++index) {
        ProcessMessages();
        progress.ShowEntry(index, batch.size());
        const morla::JobResult result = ProcessDroppedFile(batch, index);
        if (batch.kind(index) == morla::ConvertBatch::EntryKind::Leftover) {
            ++counts.skipped;
        } else {
            ++(result.message.empty() ? counts.ok : counts.failed);
        }
    }
    const ListRedrawPaused paused(LIST);
    const bool following = ShowsLastRow();
    const std::wstring summary = SummaryRow(*texts_, counts);
    log_.Append(std::u16string(summary.begin(), summary.end()));
    if (following) {
        ShowLastRow();
    }
}

morla::JobResult TMORLA_MAIN::ProcessDroppedFile(morla::ConvertBatch& batch, std::size_t index) {
    // Painting each row as it comes would cost far more than the job: the
    // list shows the job's rows when the window next processes its messages.
    // The newest rows come into view then, unless the user has scrolled up
    // from them to read.
    const bool following = ShowsLastRow();
    const ListRedrawPaused paused(LIST);
    morla::JobResult result = batch.Convert(index, GatherSettings(), log_);
    if (following) {
        ShowLastRow();
    }
    return result;
}

void TMORLA_MAIN::ChooseOutputFolder() {
    const std::vector<std::u16string> chosen = ChooseWithDialog(window_, DialogChoice::Folder);
    if (!chosen.empty()) {
        SetWindowTextW(E_o, Wide(chosen.front()).c_str());
        SendMessageW(C_o, BM_SETCHECK, BST_CHECKED, 0);
    }
}

void TMORLA_MAIN::ConvertAtStart(std::vector<std::u16string> paths) {
    if (paths.empty()) {
        return;
    }
    startPaths_ = std::move(paths);
    PostMessageW(window_, kConvertStartPaths, 0, 0);
}

bool TMORLA_MAIN::ShowsLastRow() const {
    return SendMessageW(LIST, LB_GETTOPINDEX, 0, 0) + RowsShown(LIST) >=
           SendMessageW(LIST, LB_GETCOUNT, 0, 0);
}

void TMORLA_MAIN::ShowLastRow() {
    const LRESULT top = SendMessageW(LIST, LB_GETCOUNT, 0, 0) - RowsShown(LIST);
    SendMessageW(LIST, LB_SETTOPINDEX, static_cast<WPARAM>(std::max<LRESULT>(0, top)), 0);
}

void TMORLA_MAIN::Restore(const KeptSettings& settings) {
    for (const ControlLayout& control : kPanelControls) {
        const std::optional<std::wstring> value = settings.Get(L"Options", control.name);
        if (!value) {
            continue;
        }
        if (control.kind == Kind::CheckBox) {
            SendMessageW(this->*control.member, BM_SETCHECK,
                         *value == L"1" ? BST_CHECKED : BST_UNCHECKED, 0);
        } else if (control.kind == Kind::Edit) {
            SetWindowTextW(this->*control.member, value->c_str());
        }
    }
    const std::optional<int> left = settings.GetNumber(L"Window", L"Left");
    const std::optional<int> top = settings.GetNumber(L"Window", L"Top");
    const std::optional<int> width = settings.GetNumber(L"Window", L"Width");
    const std::optional<int> height = settings.GetNumber(L"Window", L"Height");
    // A size no screen could show is no setting of the user's: the window
    // keeps its first place and size then. A place on a screen that is gone
    // (a second monitor unplugged) gives the size, centred where the window
    // first appears.
    constexpr int kLargest = 1 << 15;
    if (!left || !top || !width || !height || *width < 100 || *height < 100 || *width > kLargest ||
        *height > kLargest || std::abs(*left) > kLargest || std::abs(*top) > kLargest) {
        return;
    }
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    GetWindowPlacement(window_, &placement);
    RECT place{*left, *top, *left + *width, *top + *height};
    if (MonitorFromRect(&place, MONITOR_DEFAULTTONULL) == nullptr) {
        const RECT& first = placement.rcNormalPosition;
        place.left = (first.left + first.right - *width) / 2;
        place.top = (first.top + first.bottom - *height) / 2;
        place.right = place.left + *width;
        place.bottom = place.top + *height;
    }
    placement.flags = 0;
    placement.showCmd = SW_HIDE;
    placement.rcNormalPosition = place;
    SetWindowPlacement(window_, &placement);
}

bool TMORLA_MAIN::KeepSettings() const {
    if (settingsFile_.empty() || window_ == nullptr) {
        return false;
    }
    SettingsToKeep settings;
    if (languageSetting_) {
        settings.Set(L"Window", L"Language", *languageSetting_);
    }
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    if (GetWindowPlacement(window_, &placement)) {
        const RECT& place = placement.rcNormalPosition;
        settings.Set(L"Window", L"Left", std::to_wstring(place.left));
        settings.Set(L"Window", L"Top", std::to_wstring(place.top));
        settings.Set(L"Window", L"Width", std::to_wstring(place.right - place.left));
        settings.Set(L"Window", L"Height", std::to_wstring(place.bottom - place.top));
    }
    for (const ControlLayout& control : kPanelControls) {
        if (control.kind == Kind::CheckBox) {
            settings.Set(L"Options", control.name, IsTicked(this->*control.member) ? L"1" : L"0");
        } else if (control.kind == Kind::Edit) {
            settings.Set(L"Options", control.name, Wide(TextOf(this->*control.member)));
        }
    }
    return settings.WriteTo(settingsFile_);
}

morla::VolumeSettings TMORLA_MAIN::GatherSettings() const {
    morla::VolumeSettings settings;
    for (const morla::OptionDescription& option : morla::kOptions) {
        if (option.role != morla::OptionRole::Run || !option.ShownIn(morla::FrontEnds::Window)) {
            continue;
        }
        const OptionControls controls = ControlsOf(option.letter);
        if (IsTicked(this->*controls.box)) {
            morla::TickOption(settings, option.option,
                              controls.field ? TextOf(this->*controls.field) : std::u16string());
        }
    }
    return settings;
}

void ProcessMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            quitRequested = true;
            continue;
        }
        if (MORLA_MAIN == nullptr || !IsDialogMessageW(MORLA_MAIN->Handle(), &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

StartArguments ReadStartArguments(const wchar_t* commandLine) {
    StartArguments arguments;
    int count = 0;
    wchar_t** words = CommandLineToArgvW(commandLine, &count);
    if (words == nullptr) {
        return arguments;
    }
    constexpr std::wstring_view kLanguageSwitch = L"--language=";
    for (int i = 1; i < count; ++i) {  // after the program's own name
        const std::wstring_view word = words[i];
        if (word.starts_with(kLanguageSwitch)) {
            arguments.language = LanguageNamed(word.substr(kLanguageSwitch.size()));
            continue;
        }
        std::wstring full(GetFullPathNameW(words[i], 0, nullptr, nullptr) + 1, L'\0');
        full.resize(
            GetFullPathNameW(words[i], static_cast<DWORD>(full.size()), full.data(), nullptr));
        const std::wstring_view path = full.empty() ? word : std::wstring_view(full);
        arguments.paths.emplace_back(path.begin(), path.end());
    }
    LocalFree(words);
    return arguments;
}

int RunMessageLoop() {
    MSG message;
    while (!quitRequested && GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (MORLA_MAIN == nullptr || !IsDialogMessageW(MORLA_MAIN->Handle(), &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return 0;
}

std::wstring ExceptionBoxText(std::wstring message) {
    if (!message.empty() && message.back() > L'.') {
        message += L'.';
    }
    return message;
}

void ShowExceptionBox(const std::wstring& message) {
    MessageBoxW(MORLA_MAIN != nullptr ? MORLA_MAIN->Handle() : nullptr,
                ExceptionBoxText(message).c_str(), kApplicationTitle, MB_ICONERROR | MB_OK);
}
