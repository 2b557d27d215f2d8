// The main window through its handles and messages: initial state, layout,
// the settings read from the controls, dropped files and folders, the album
// box, the file dialogs, the title during a batch, the exception box, and the
// loudness measurement with the rhythm sounds it hears.
#include "main_window.h"
// after windows.h
#include <commctrl.h>
#include <gtest/gtest.h>
#include <objbase.h>

#include <array>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <filesystem>
#include <functional>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "drop_files.h"
#include "job/options.h"
#include "test_support.h"

namespace morla::test {
namespace {

using Rows = std::vector<std::wstring>;
using Place = std::array<long, 4>;  // left, top, width, height

constexpr wchar_t kTitle[] = L"morla_GUI 20110226b";
constexpr wchar_t kInstruction[] =
    L"*.s98をドロップするとファイル名の後ろに \"_new.s98\"を追加したファイル名で出力します";

struct PanelControl {
    const char* name;
    HWND TMORLA_MAIN::*handle;
    Place place;  // relative to the panel, at 96 DPI
    const wchar_t* text;
};

// In tab order.
#define CONTROL(name) #name, &TMORLA_MAIN::name
const PanelControl kPanelControls[] = {
    {CONTROL(C_fn), {8, 8, 289, 17}, L"-&fn : OPNA/OPN/OPN2 FM volume down value (n=value)"},
    {CONTROL(C_rn), {8, 40, 281, 17}, L"-&rn : OPNA RHYTHM volume down value (n=value)"},
    {CONTROL(E_fn), {328, 8, 33, 16}, L"0"},
    {CONTROL(E_rn), {328, 40, 33, 16}, L"0"},
    {CONTROL(C_Fn2), {8, 56, 313, 17}, L"-Fn : normaliz&e OPNA/OPN/OPN2 FM volume value (n=value)"},
    {CONTROL(C_Rn2), {8, 88, 289, 17}, L"-Rn : normalize OPNA RH&YTHM volume value (n=value)"},
    {CONTROL(C_v), {8, 104, 289, 17}, L"-&v : show detail convert log"},
    {CONTROL(C_p), {8, 120, 289, 17}, L"-&p : show peak level only"},
    {CONTROL(C_2), {8, 136, 289, 17}, L"-&2 : use 2nd peak level (TL!=0) for FM normalize"},
    {CONTROL(E_Fn2), {328, 56, 33, 16}, L"0"},
    {CONTROL(E_Rn2), {328, 88, 33, 16}, L"0"},
    {CONTROL(C_sn), {8, 24, 289, 17}, L"-&sn : OPNA/OPN SSG volume down value (n=value)"},
    {CONTROL(E_sn), {328, 24, 33, 16}, L"0"},
    {CONTROL(C_Sn2), {8, 72, 289, 17}, L"-Sn : normali&ze OPNA/OPN SSG volume value (n=value)"},
    {CONTROL(E_Sn2), {328, 72, 33, 16}, L"0"},
    {CONTROL(C_g), {8, 152, 313, 17}, L"-&g : gain of FM, SSG, RHYTHM and PSG in dB (n=value)"},
    {CONTROL(E_g), {328, 152, 33, 16}, L"0"},
    {CONTROL(C_k), {8, 168, 453, 17}, L"-&k : normalize keeping the balance of FM, SSG and RHYTHM"},
    {CONTROL(C_m), {8, 184, 289, 17}, L"-&m : measure loudness as heard (EBU R128)"},
    {CONTROL(C_L), {8, 200, 313, 17}, L"-&L : normalize loudness as heard to n LUFS (EBU R128)"},
    {CONTROL(E_L), {328, 200, 33, 16}, L"0"},
    {CONTROL(C_a),
     {8, 216, 453, 17},
     L"-&a : normalize as albums (each folder, and the dropped files together)"},
    {CONTROL(C_n), {8, 232, 453, 17}, L"-&n : dry run: every step but the write, nothing written"},
    {CONTROL(C_o), {8, 251, 200, 17}, L"-&o : write the outputs into the folder"},
    {CONTROL(E_o), {212, 251, 158, 16}, L""},
    {CONTROL(B_Browse), {376, 248, 85, 23}, L"参照(&B)..."},
    {CONTROL(B_Files), {376, 8, 85, 23}, L"ファイル(&I)..."},
    {CONTROL(B_Folder), {376, 37, 85, 23}, L"フォルダ(&D)..."},
};
#undef CONTROL

bool IsBox(const PanelControl& control) {
    return control.name[0] == 'C';
}

struct ValueOption {
    HWND TMORLA_MAIN::*box;
    HWND TMORLA_MAIN::*field;
    Options& (Options::*set)(std::int32_t);
};
const ValueOption kValueOptions[] = {
    {&TMORLA_MAIN::C_fn, &TMORLA_MAIN::E_fn, &Options::Fm},
    {&TMORLA_MAIN::C_sn, &TMORLA_MAIN::E_sn, &Options::Ssg},
    {&TMORLA_MAIN::C_rn, &TMORLA_MAIN::E_rn, &Options::Rhythm},
    {&TMORLA_MAIN::C_Fn2, &TMORLA_MAIN::E_Fn2, &Options::FmTarget},
    {&TMORLA_MAIN::C_Sn2, &TMORLA_MAIN::E_Sn2, &Options::SsgTarget},
    {&TMORLA_MAIN::C_Rn2, &TMORLA_MAIN::E_Rn2, &Options::RhythmTarget},
};

struct FlagOption {
    HWND TMORLA_MAIN::*box;
    Options& (Options::*set)();
};
const FlagOption kFlagOptions[] = {
    {&TMORLA_MAIN::C_v, &Options::Detail},     {&TMORLA_MAIN::C_p, &Options::PeakOnly},
    {&TMORLA_MAIN::C_2, &Options::SecondPeak}, {&TMORLA_MAIN::C_k, &Options::KeepBalance},
    {&TMORLA_MAIN::C_m, &Options::Measure},
};

std::string Describe(const VolumeSettings& s) {
    const auto value = [](const auto& option) {
        return option ? std::to_string(*option) : std::string("-");
    };
    return "down " + value(s.fmDown) + "/" + value(s.ssgDown) + "/" + value(s.rhythmDown) +
           ", target " + value(s.fmTarget) + "/" + value(s.ssgTarget) + "/" +
           value(s.rhythmTarget) +
           Printf(", v%d p%d 2nd%d, ", s.showDetail, s.peakOnly, s.useSecondPeak) + "gain " +
           value(s.gainMicroDb) + Printf(", k%d m%d", s.keepBalance, s.measure) + ", loudness " +
           value(s.loudnessMicroLufs) + ", ceiling " + std::to_string(s.truePeakCeilingMicroDb);
}

std::wstring WindowText(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

std::wstring ClassName(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

Rows ListRows(HWND list) {
    Rows rows;
    const auto count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        std::wstring row(static_cast<std::size_t>(SendMessageW(list, LB_GETTEXTLEN, i, 0)) + 1,
                         L'\0');
        row.resize(static_cast<std::size_t>(
            SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(row.data()))));
        rows.push_back(row);
    }
    return rows;
}

Rows Tail(const Rows& rows, std::size_t count) {
    return count > rows.size() ? rows : Rows(rows.end() - static_cast<long>(count), rows.end());
}

// Whether a list shows its last row whole.
bool LastRowIsShown(HWND list) {
    const auto count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    RECT row{}, client{};
    SendMessageW(list, LB_GETITEMRECT, static_cast<WPARAM>(count - 1),
                 reinterpret_cast<LPARAM>(&row));
    GetClientRect(list, &client);
    return row.top >= 0 && row.bottom <= client.bottom;
}

// Where `control` lies in the client area of `parent`.
Place PlaceIn(HWND control, HWND parent) {
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&r), 2);
    return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

std::vector<HWND> Children(HWND parent) {
    std::vector<HWND> children;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        children.push_back(child);
    }
    return children;
}

// What a dialog showed. The shell's file dialog is known by its file-name box
// (edt1 in Wine's), and its file types are in cmb1.
struct DialogSeen {
    bool shown = false, fileDialog = false, multiSelect = false;
    HWND owner = nullptr;
    HICON icon = nullptr;                 // a message box's
    std::wstring caption, text;           // text: a message box's
    std::vector<std::wstring> fileTypes;  // the chosen one marked with '*'
};
using MessageBoxSeen = DialogSeen;
constexpr int kFileNameBox = 0x480, kFileTypeBox = 0x470, kMessageBoxIcon = 0x440;

DialogSeen Note(HWND dialog) {
    DialogSeen seen;
    seen.shown = true;
    seen.fileDialog = GetDlgItem(dialog, kFileNameBox) != nullptr;
    seen.owner = GetWindow(dialog, GW_OWNER);
    seen.caption = WindowText(dialog);
    seen.text = WindowText(GetDlgItem(dialog, 0xFFFF));
    seen.icon =
        reinterpret_cast<HICON>(SendDlgItemMessageW(dialog, kMessageBoxIcon, STM_GETICON, 0, 0));
    HWND types = GetDlgItem(dialog, kFileTypeBox);
    for (LRESULT i = 0; seen.fileDialog && i < SendMessageW(types, CB_GETCOUNT, 0, 0); ++i) {
        wchar_t type[64] = {};
        SendMessageW(types, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(type));
        seen.fileTypes.push_back((SendMessageW(types, CB_GETCURSEL, 0, 0) == i ? L"*" : L"") +
                                 std::wstring(type));
    }
    HWND view = FindWindowExW(
        FindWindowExW(FindWindowExW(dialog, nullptr, L"ExplorerBrowserControl", nullptr), nullptr,
                      L"SHELLDLL_DefView", nullptr),
        nullptr, L"SysListView32", nullptr);
    seen.multiSelect = view && !(GetWindowLongW(view, GWL_STYLE) & LVS_SINGLESEL);
    return seen;
}

// Runs `action` on this thread while a helper thread answers each dialog it
// shows, as a user would: a message box with OK; the file dialog with
// `typed` in its file-name box and Open, or Cancel when nothing is typed (or
// when it is still open 5 s after Open, so that no test hangs).
std::vector<DialogSeen> AnswerDialogsDuring(const std::function<void()>& action,
                                            const std::wstring& typed = {}) {
    const DWORD thread = GetCurrentThreadId();
    std::atomic<bool> finished{false};
    std::vector<DialogSeen> seen;
    std::thread answerer([&] {
        HWND answered = nullptr;
        for (ULONGLONG answeredAt = 0; !finished; Sleep(10)) {
            HWND dialog = nullptr;
            EnumThreadWindows(
                thread,
                [](HWND window, LPARAM found) -> BOOL {
                    if (ClassName(window) != L"#32770" || !IsWindowVisible(window)) {
                        return TRUE;
                    }
                    *reinterpret_cast<HWND*>(found) = window;
                    return FALSE;
                },
                reinterpret_cast<LPARAM>(&dialog));
            if (!dialog || (dialog == answered && GetTickCount64() - answeredAt < 5000)) {
                continue;
            }
            HWND name = GetDlgItem(dialog, kFileNameBox);
            int button = dialog == answered || (name && typed.empty()) ? IDCANCEL : IDOK;
            if (dialog != answered) {
                seen.push_back(Note(dialog));
                SetWindowTextW(name, typed.c_str());
            }
            PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(dialog, button)));
            answered = dialog;
            answeredAt = GetTickCount64();
        }
    });
    action();
    finished = true;
    answerer.join();
    return seen;
}

// The first dialog that `action` showed, closed with OK.
MessageBoxSeen CloseMessageBoxDuring(const std::function<void()>& action) {
    const std::vector<DialogSeen> seen = AnswerDialogsDuring(action);
    return seen.empty() ? DialogSeen{} : seen.front();
}

// A file with one carrier TL write of channel 1 (algorithm 7): its FM peak
// is `level`.
Bytes SmallSong(int level = 0x10) {
    S98Builder song;
    song.Write(0, 0, 0xB0, 7);
    song.Write(0, 0, 0x4C, level);
    song.End();
    return song.bytes();
}

// The rows of a file converted with -f2.
Rows ConvertedWithFm2(const std::wstring& name) {
    return {name,
            L"output file:" + name.substr(0, name.size() - 4) + L"_new.s98  volume down: FM=2",
            L"-> ok"};
}

// The summary row of a batch in Japanese.
std::wstring Summary(int ok, int skipped = 0, int failed = 0) {
    return std::to_wstring(ok + skipped + failed) + L" ファイル: 成功 " + std::to_wstring(ok) +
           L"、スキップ " + std::to_wstring(skipped) + L"、失敗 " + std::to_wstring(failed);
}

Rows Joined(std::initializer_list<Rows> parts) {
    Rows rows;
    for (const Rows& part : parts) {
        rows.insert(rows.end(), part.begin(), part.end());
    }
    return rows;
}

// Before any test: a window can be made at all. When it cannot (no display,
// or a Wine session started without one), one failure says why instead of
// every test failing alike.
class WindowCanBeMade : public ::testing::Environment {
  public:
    void SetUp() override {
        // The apartment the application enters at start-up, for the file dialogs.
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE), S_OK);
        try {
            TMORLA_MAIN probe;
        } catch (const std::exception& error) {
            const char* display = std::getenv("DISPLAY");
            FAIL() << error.what() << "; DISPLAY is "
                   << (display != nullptr ? "'" + std::string(display) + "'" : "not set")
                   << ". Under Wine a window needs a display when the prefix's wineserver "
                      "starts; one that was started without a display must end first "
                      "(wineserver -k).";
        }
    }
};
[[maybe_unused]] ::testing::Environment* const kWindowCanBeMade =
    ::testing::AddGlobalTestEnvironment(new WindowCanBeMade);

class MainWindowTest : public ::testing::Test {
  protected:
    explicit MainWindowTest(const WindowStart& start = {Language::Japanese, {}}) : window(start) {
        MORLA_MAIN = &window;
    }
    ~MainWindowTest() override { MORLA_MAIN = nullptr; }

    HWND Handle() const { return window.Handle(); }
    Rows CurrentRows() const { return ListRows(window.LIST); }
    void Tick(HWND box, bool ticked = true) {
        SendMessageW(box, BM_SETCHECK, ticked ? BST_CHECKED : BST_UNCHECKED, 0);
    }
    void UntickAll() {
        for (const PanelControl& control : kPanelControls) {
            if (IsBox(control)) {
                Tick(window.*control.handle, false);
            }
        }
    }
    void Type(HWND field, const std::wstring& text) { SetWindowTextW(field, text.c_str()); }
    // Sends the dropped-files message as the shell does; a message box that
    // the window shows meanwhile is closed and reported.
    MessageBoxSeen Drop(const std::vector<std::wstring>& paths) {
        return CloseMessageBoxDuring([&] {
            SendMessageW(Handle(), WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop(paths)), 0);
        });
    }
    // Clicks `button` of the shown window; the dialogs it opens are answered
    // as AnswerDialogsDuring does, with `typed` for the file dialog.
    std::vector<DialogSeen> Click(HWND button, const std::wstring& typed = {}) {
        ShowWindow(Handle(), SW_SHOWNOACTIVATE);
        return AnswerDialogsDuring([&] { SendMessageW(button, BM_CLICK, 0, 0); }, typed);
    }

    // In Japanese, the texts of the original window, unless a test names
    // another language.
    TMORLA_MAIN window;
};

TEST_F(MainWindowTest, StartsHiddenWithTitleInstructionRowAndFreshControls) {
    EXPECT_FALSE(IsWindowVisible(Handle()));
    EXPECT_EQ(WindowText(Handle()), kTitle);
    const auto style = GetWindowLongW(Handle(), GWL_STYLE);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_TRUE(style & WS_THICKFRAME);
    EXPECT_TRUE(GetWindowLongW(Handle(), GWL_EXSTYLE) & WS_EX_ACCEPTFILES);

    EXPECT_EQ(CurrentRows(), Rows{kInstruction});
    EXPECT_EQ(ClassName(window.LIST), L"ListBox");
    EXPECT_FALSE(GetWindowLongW(window.LIST, GWL_STYLE) & LBS_SORT);

    for (const PanelControl& control : kPanelControls) {
        SCOPED_TRACE(control.name);
        HWND handle = window.*control.handle;
        EXPECT_EQ(WindowText(handle), control.text);
        const auto controlStyle = GetWindowLongW(handle, GWL_STYLE);
        if (IsBox(control)) {
            EXPECT_EQ(ClassName(handle), L"Button");
            EXPECT_EQ(controlStyle & BS_TYPEMASK, BS_AUTOCHECKBOX);
            EXPECT_EQ(SendMessageW(handle, BM_GETCHECK, 0, 0), BST_UNCHECKED);
        } else if (control.name[0] == 'B') {
            EXPECT_EQ(ClassName(handle), L"Button");
            EXPECT_EQ(controlStyle & BS_TYPEMASK, BS_PUSHBUTTON);
            EXPECT_TRUE(IsWindowEnabled(handle));
        } else {
            EXPECT_EQ(ClassName(handle), L"Edit");
            EXPECT_FALSE(controlStyle & ES_NUMBER);  // any text may be typed
        }
        LOGFONTW font = {};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(handle, WM_GETFONT, 0, 0)), sizeof font,
                   &font);
        EXPECT_STREQ(font.lfFaceName, L"Tahoma");
        EXPECT_EQ(font.lfHeight, -11);
    }
}

TEST_F(MainWindowTest, LaysOutPanelOverListAtDesignSizeInTabOrder) {
    RECT client;
    GetClientRect(Handle(), &client);
    EXPECT_EQ(client.right, 469);
    EXPECT_EQ(client.bottom, 458);
    EXPECT_EQ(PlaceIn(window.Panel, Handle()), (Place{0, 0, 469, 273}));
    EXPECT_EQ(PlaceIn(window.LIST, Handle()), (Place{0, 273, 469, 185}));

    RECT frame;
    GetWindowRect(Handle(), &frame);
    EXPECT_NEAR((frame.left + frame.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 1);
    EXPECT_NEAR((frame.top + frame.bottom) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 1);

    EXPECT_EQ(Children(Handle()), (std::vector<HWND>{window.LIST, window.Panel}));
    std::vector<HWND> tabOrder;
    for (const PanelControl& control : kPanelControls) {
        tabOrder.push_back(window.*control.handle);
        EXPECT_EQ(PlaceIn(window.*control.handle, window.Panel), control.place) << control.name;
    }
    EXPECT_EQ(Children(window.Panel), tabOrder);
}

TEST_F(MainWindowTest, ResizingGivesAddedWidthToBothAndAddedHeightToList) {
    RECT frame;
    GetWindowRect(Handle(), &frame);
    SetWindowPos(Handle(), nullptr, 0, 0, frame.right - frame.left + 100,
                 frame.bottom - frame.top + 60, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    RECT client;
    GetClientRect(Handle(), &client);
    ASSERT_EQ(client.right, 569);
    ASSERT_EQ(client.bottom, 518);
    EXPECT_EQ(PlaceIn(window.Panel, Handle()), (Place{0, 0, 569, 273}));
    EXPECT_EQ(PlaceIn(window.LIST, Handle()), (Place{0, 273, 569, 245}));
    for (const PanelControl& control : kPanelControls) {
        EXPECT_EQ(PlaceIn(window.*control.handle, window.Panel), control.place) << control.name;
    }
}

TEST_F(MainWindowTest, AppendedRowsStayInOrderUnselectedAndScrolledOut) {
    std::vector<std::wstring> expected{kInstruction};
    for (int i = 0; i < 40; ++i) {
        expected.push_back(std::to_wstring(40 - i));
        window.Log().Append(std::u16string(expected.back().begin(), expected.back().end()));
    }
    EXPECT_EQ(CurrentRows(), expected);
    EXPECT_EQ(SendMessageW(window.LIST, LB_GETCURSEL, 0, 0), LB_ERR);
    EXPECT_EQ(SendMessageW(window.LIST, LB_GETTOPINDEX, 0, 0), 0);
}

// The width of `row` in the list's font, in pixels.
int TextWidth(HWND list, const std::wstring& row) {
    HDC dc = GetDC(list);
    const HGDIOBJ before =
        SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(list, WM_GETFONT, 0, 0)));
    SIZE size{};
    GetTextExtentPoint32W(dc, row.c_str(), static_cast<int>(row.size()), &size);
    SelectObject(dc, before);
    ReleaseDC(list, dc);
    return size.cx;
}

// A song whose detail log has `count` rows: a carrier TL write each.
Bytes SongWithDetailRows(int count) {
    S98Builder song;
    song.Write(0, 0, 0xB0, 7);
    for (int i = 0; i < count; ++i) {
        song.Write(0, 0, 0x40 + 4 * (i % 3), 20 + i % 50);
    }
    song.End();
    return song.bytes();
}

// One job of thousands of rows: every row arrives, in order, none selected,
// the list not scrolled; a row wider than the list can be scrolled into view.
TEST_F(MainWindowTest, ThousandsOfRowsOfOneJobAllArriveAndLongRowsScroll) {
    TempDir dir;
    const std::wstring longName = std::wstring(120, L'w') + L".s98";
    WriteFileBytes(dir.path() / longName, SongWithDetailRows(5000));
    Tick(window.C_v);
    Tick(window.C_fn);
    Type(window.E_fn, L"2");
    ShowWindow(Handle(), SW_SHOWNOACTIVATE);
    EXPECT_FALSE(Drop({(dir.path() / longName).wstring()}).shown);

    const Rows rows = CurrentRows();
    // name, PEAK, 5000 detail rows, summary, outcome; the batch's summary
    ASSERT_EQ(rows.size(), 1u + 5004u + 1u);
    EXPECT_EQ(rows[1], longName);
    EXPECT_EQ(rows[3].substr(9), L"FM#1 SL=0 AL=7 TL= 20 ->  22");
    EXPECT_EQ(Tail(rows, 2), (Rows{L"-> ok", Summary(1)}));
    EXPECT_EQ(SendMessageW(window.LIST, LB_GETCURSEL, 0, 0), LB_ERR);
    EXPECT_TRUE(LastRowIsShown(window.LIST));

    EXPECT_TRUE(GetWindowLongW(window.LIST, GWL_STYLE) & WS_HSCROLL);
    int widest = 0;
    for (const std::wstring& row : rows) {
        widest = std::max(widest, TextWidth(window.LIST, row));
    }
    const auto extent = SendMessageW(window.LIST, LB_GETHORIZONTALEXTENT, 0, 0);
    RECT list;
    GetClientRect(window.LIST, &list);
    ASSERT_GT(widest, list.right);  // the summary row, with the long name
    EXPECT_GE(extent, widest);
    EXPECT_LE(extent, widest + 40);
    SCROLLINFO bar{};
    bar.cbSize = sizeof bar;
    bar.fMask = SIF_RANGE | SIF_PAGE;
    ASSERT_TRUE(GetScrollInfo(window.LIST, SB_HORZ, &bar));
    EXPECT_GT(bar.nMax + 1, static_cast<int>(bar.nPage));  // there is somewhere to scroll

    // The list repaints once the window processes its messages.
    ProcessMessages();
    EXPECT_FALSE(GetUpdateRect(window.LIST, nullptr, FALSE));
}

TEST_F(MainWindowTest, EachBoxFeedsOnlyItsOwnSettingFromItsOwnField) {
    for (std::size_t i = 0; i < std::size(kValueOptions); ++i) {
        Type(window.*kValueOptions[i].field, std::to_wstring(11 + i));
    }
    EXPECT_EQ(Describe(window.GatherSettings()), Describe(VolumeSettings{}));

    for (std::size_t i = 0; i < std::size(kValueOptions); ++i) {
        UntickAll();
        Tick(window.*kValueOptions[i].box);
        Options expected;
        (expected.*kValueOptions[i].set)(static_cast<std::int32_t>(11 + i));
        EXPECT_EQ(Describe(window.GatherSettings()), Describe(expected)) << "value option " << i;
    }
    for (std::size_t i = 0; i < std::size(kFlagOptions); ++i) {
        UntickAll();
        Tick(window.*kFlagOptions[i].box);
        Options expected;
        (expected.*kFlagOptions[i].set)();
        EXPECT_EQ(Describe(window.GatherSettings()), Describe(expected)) << "flag option " << i;
    }
}

TEST_F(MainWindowTest, TickedFieldsAreReadByTheNumberRule) {
    const wchar_t* texts[] = {L"$10", L"-5", L"abc", L"", L"x1F", L"0000000000000000000000000042"};
    for (std::size_t i = 0; i < std::size(kValueOptions); ++i) {
        Tick(window.*kValueOptions[i].box);
        Type(window.*kValueOptions[i].field, texts[i]);
    }
    Tick(window.C_g);
    Type(window.E_g, L"-4.5");  // decibels, not the number rule
    Tick(window.C_L);
    Type(window.E_L, L"-23.5");  // LUFS, by the same rule
    for (const FlagOption& flag : kFlagOptions) {
        Tick(window.*flag.box);
    }
    Options expected;
    expected.Fm(16).Ssg(-5).Rhythm(0).FmTarget(0).SsgTarget(31).RhythmTarget(42).Gain(-4500000);
    expected.Loudness(-23500000);
    expected.Detail().PeakOnly().SecondPeak().KeepBalance().Measure();
    EXPECT_EQ(Describe(window.GatherSettings()), Describe(expected));
}

TEST_F(MainWindowTest, DropRunsEveryPathInOrderAndFailuresDoNotStopTheBatch) {
    TempDir dir;
    WriteFileBytes(dir / "one.s98", SmallSong());
    WriteFileBytes(dir / "bad.s98", S98Builder({}, '2').bytes());
    std::filesystem::create_directory(dir / "sub");
    WriteFileBytes(dir / "曲.s98", SmallSong());
    Tick(window.C_fn);
    Type(window.E_fn, L"2");

    const MessageBoxSeen box = Drop({(dir / "one.s98").wstring(), (dir / "bad.s98").wstring(),
                                     (dir / "sub").wstring(), dir.path().wstring() + L"/曲.s98"});
    EXPECT_FALSE(box.shown) << "unexpected message box: " << box.text;
    EXPECT_EQ(CurrentRows(), (Rows{
                                 kInstruction,
                                 L"one.s98",
                                 L"output file:one_new.s98  volume down: FM=2",
                                 L"-> ok",
                                 L"bad.s98",
                                 L"-> S98 version error.",
                                 (dir / "sub").wstring(),
                                 L"-> no .s98 file in this folder.",
                                 L"曲.s98",
                                 L"output file:曲_new.s98  volume down: FM=2",
                                 L"-> ok",
                                 Summary(2, 0, 2),
                             }));
    EXPECT_EQ(SendMessageW(window.LIST, LB_GETCURSEL, 0, 0), LB_ERR);
    EXPECT_EQ(FolderEntries(dir.path()),
              (std::vector<std::string>{"bad.s98", "one.s98", "one_new.s98", "sub", "曲.s98",
                                        "曲_new.s98"}));
    EXPECT_EQ(ReadFileBytes(dir / "one_new.s98").size(), SmallSong().size());

    // The next drop reads the fields anew and appends below the first batch.
    Type(window.E_fn, L"3");
    Drop({(dir / "one.s98").wstring()});
    const Rows rows = CurrentRows();
    EXPECT_EQ(rows.size(), 16u);
    EXPECT_EQ(Tail(rows, 4), (Rows{L"one.s98", L"output file:one_new.s98  volume down: FM=3",
                                   L"-> ok", Summary(1)}));
}

// All paths of one drop are one batch: one file dropped twice, and a file
// dropped with its earlier output.
TEST_F(MainWindowTest, DropNeverWritesOverItsOwnOutputs) {
    TempDir dir;
    WriteFileBytes(dir / "song.s98", SmallSong());
    const std::wstring song = (dir / "song.s98").wstring();
    Tick(window.C_fn);
    Type(window.E_fn, L"2");
    Drop({song, song});
    EXPECT_EQ(Tail(CurrentRows(), 7),
              Joined({ConvertedWithFm2(L"song.s98"),
                      {L"song.s98", L"output file:song_new.s98  volume down: FM=2",
                       L"-> output file already written.", Summary(1, 0, 1)}}));

    // A new drop is a new batch: the earlier output is replaced, and skipped as an input.
    Drop({song, (dir / "song_new.s98").wstring()});
    EXPECT_EQ(Tail(CurrentRows(), 6),
              Joined({ConvertedWithFm2(L"song.s98"),
                      {L"song_new.s98", L"-> skipped: output of song.s98", Summary(1, 1)}}));
    EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"song.s98", "song_new.s98"}));
}

TEST_F(MainWindowTest, DropWithOnlyPeakBoxTickedReportsWithoutWriting) {
    TempDir dir;
    WriteFileBytes(dir / "one.s98", SmallSong());
    Tick(window.C_p);
    EXPECT_FALSE(Drop({(dir / "one.s98").wstring()}).shown);
    const Rows rows = CurrentRows();
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[1], L"one.s98");
    EXPECT_EQ(rows[2].rfind(L"PEAK:", 0), 0u) << "a PEAK line";
    EXPECT_EQ(rows[3], L"-> ok");
    EXPECT_EQ(rows[4], Summary(1));
    EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"one.s98"});
}

TEST_F(MainWindowTest, DropWithNothingTickedIsRefusedWithAMessageBox) {
    TempDir dir;
    WriteFileBytes(dir / "one.s98", SmallSong());
    for (const ValueOption& option : kValueOptions) {
        Type(window.*option.field, L"5");  // fields alone do not count
    }
    const MessageBoxSeen box = Drop({(dir / "one.s98").wstring(), (dir / "one.s98").wstring()});
    ASSERT_TRUE(box.shown);
    EXPECT_EQ(box.owner, Handle());
    EXPECT_EQ(box.caption, L"エラー");
    EXPECT_EQ(box.icon, LoadIconW(nullptr, IDI_ERROR));
    EXPECT_EQ(box.text, L"オプションは最低一つ以上選択してください");
    EXPECT_EQ(CurrentRows(), Rows{kInstruction});
    EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"one.s98"});
}

TEST_F(MainWindowTest, LongDroppedPathIsFetchedWhole) {
    TempDir dir;
    // Removed from the inside out at the end: a folder walk does not reach
    // below MAX_PATH, while single removals do.
    struct DeepFolders {
        std::vector<std::filesystem::path> chain;
        ~DeepFolders() {
            std::error_code ignored;
            std::filesystem::remove(chain.back() / L"long.s98", ignored);
            std::filesystem::remove(chain.back() / L"long_new.s98", ignored);
            for (auto folder = chain.rbegin(); folder != chain.rend(); ++folder) {
                std::filesystem::remove(*folder, ignored);
            }
        }
    } deep{{dir.path() / std::wstring(50, L'a')}};
    for (wchar_t letter = L'b'; letter < L'g'; ++letter) {
        deep.chain.push_back(deep.chain.back() / std::wstring(50, letter));
    }
    std::filesystem::create_directories(deep.chain.back());
    const std::filesystem::path input = deep.chain.back() / L"long.s98";
    ASSERT_GT(input.wstring().size(), 300u);
    WriteFileBytes(input, SmallSong());
    Tick(window.C_fn);
    Type(window.E_fn, L"2");

    EXPECT_FALSE(Drop({input.wstring()}).shown);
    EXPECT_EQ(
        Tail(CurrentRows(), 4),
        (Rows{L"long.s98", L"output file:long_new.s98  volume down: FM=2", L"-> ok", Summary(1)}));
    EXPECT_EQ(ReadFileBytes(deep.chain.back() / L"long_new.s98").size(), SmallSong().size());
}

TEST(ExceptionBoxTextTest, AddsAFullStopAfterCharactersAboveIt) {
    EXPECT_EQ(ExceptionBoxText(L"abc"), L"abc.");
    EXPECT_EQ(ExceptionBoxText(L"x1"), L"x1.");
    EXPECT_EQ(ExceptionBoxText(L"a/"), L"a/.");
    EXPECT_EQ(ExceptionBoxText(L"エラー"), L"エラー.");
    for (const wchar_t* unchanged : {L"abc.", L"abc!", L"abc)", L"abc ", L"abc-", L""}) {
        EXPECT_EQ(ExceptionBoxText(unchanged), unchanged);
    }
}

TEST_F(MainWindowTest, ExceptionBoxIsOwnedByTheWindowAndCarriesTheTitle) {
    const MessageBoxSeen box = CloseMessageBoxDuring([] { ShowExceptionBox(L"boom"); });
    ASSERT_TRUE(box.shown);
    EXPECT_EQ(box.owner, Handle());
    EXPECT_EQ(box.caption, kTitle);
    EXPECT_EQ(box.text, L"boom.");
}

// ---- Folders, albums and progress in the title ----

TEST_F(MainWindowTest, DroppedFolderStandsForItsS98FilesInNaturalOrderSubFoldersAfter) {
    TempDir dir;
    std::filesystem::create_directories(dir / "songs/disc 2");
    std::filesystem::create_directory(dir / "none");
    for (const char* name :
         {"songs/Track 10.s98", "songs/track 2.s98", "songs/Track 1.s98", "songs/disc 2/a.s98"}) {
        WriteFileBytes(dir / name, SmallSong());
    }
    WriteFileBytes(dir / "songs/notes.txt", {});
    WriteFileBytes(dir / "none/notes.txt", {});
    Tick(window.C_fn);
    Type(window.E_fn, L"2");

    const std::wstring none = (dir / "none").wstring();
    EXPECT_FALSE(Drop({(dir / "songs").wstring(), none}).shown);
    // A file of a sub-folder is named by its path below the folder dropped.
    EXPECT_EQ(CurrentRows(),
              Joined({{kInstruction},
                      ConvertedWithFm2(L"Track 1.s98"),
                      ConvertedWithFm2(L"track 2.s98"),
                      ConvertedWithFm2(L"Track 10.s98"),
                      {L"disc 2\\a.s98", L"output file:a_new.s98  volume down: FM=2", L"-> ok"},
                      {none, L"-> no .s98 file in this folder.", Summary(4, 0, 1)}}));
    EXPECT_EQ(ReadFileBytes(dir / "songs/disc 2/a_new.s98").size(), SmallSong().size());
}

// With the album box each dropped folder is an album: one gain for its files,
// from its loudest.
TEST_F(MainWindowTest, AlbumBoxNormalizesEachDroppedFolderAsOneAlbum) {
    TempDir dir;
    std::filesystem::create_directory(dir / "A");
    std::filesystem::create_directory(dir / "B");
    WriteFileBytes(dir / "A/loud.s98", SmallSong(16));
    WriteFileBytes(dir / "A/quiet.s98", SmallSong(48));
    WriteFileBytes(dir / "B/one.s98", SmallSong(32));
    const std::wstring a = (dir / "A").wstring(), b = (dir / "B").wstring();
    Tick(window.C_a);
    Tick(window.C_Fn2);
    Type(window.E_Fn2, L"120");  // 7 steps below TL 0
    EXPECT_FALSE(Drop({a, b}).shown);
    EXPECT_EQ(CurrentRows(),
              (Rows{kInstruction, L"ALBUM: " + a, L"ALBUM PEAK: FM=16(2nd=16)", L"loud.s98",
                    L"output file:loud_new.s98  volume down: FM=-9", L"-> ok", L"quiet.s98",
                    L"output file:quiet_new.s98  volume down: FM=-9", L"-> ok", L"ALBUM: " + b,
                    L"ALBUM PEAK: FM=32(2nd=32)", L"one.s98",
                    L"output file:one_new.s98  volume down: FM=-25", L"-> ok", Summary(3)}));
}

// Notes the title and whether a button is enabled each time a row reaches the
// list, from inside the batch; throws at the row `failAt`, as a job that
// ends the batch early would.
struct RowWatch {
    RowWatch(TMORLA_MAIN& window, std::wstring failAt = {}) : window(window), failAt(failAt) {
        SetWindowSubclass(window.LIST, &Notify, 1, reinterpret_cast<DWORD_PTR>(this));
    }
    ~RowWatch() { RemoveWindowSubclass(window.LIST, &Notify, 1); }
    static LRESULT CALLBACK Notify(HWND list, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                   DWORD_PTR self) {
        auto& watch = *reinterpret_cast<RowWatch*>(self);
        if (message == LB_ADDSTRING) {
            watch.titles.push_back(WindowText(watch.window.Handle()));
            watch.buttonsEnabled +=
                IsWindowEnabled(watch.window.B_Files) + IsWindowEnabled(watch.window.B_Folder);
            if (reinterpret_cast<const wchar_t*>(lParam) == watch.failAt) {
                throw std::runtime_error("no room for the row");
            }
        }
        return DefSubclassProc(list, message, wParam, lParam);
    }

    TMORLA_MAIN& window;
    std::wstring failAt;
    Rows titles;
    int buttonsEnabled = 0;
};

TEST_F(MainWindowTest, TitleCountsTheEntriesOfABatchAndComesBackWhenItEnds) {
    TempDir dir;
    std::filesystem::create_directories(dir / "songs");
    std::filesystem::create_directories(dir / "none");
    WriteFileBytes(dir / "songs/1.s98", SmallSong());
    WriteFileBytes(dir / "songs/2.s98", SmallSong());
    Tick(window.C_p);
    const std::vector<std::wstring> paths{(dir / "songs").wstring(), (dir / "none").wstring()};
    const std::wstring at1 = kTitle + std::wstring(L" - 1/3"),
                       at2 = kTitle + std::wstring(L" - 2/3"),
                       at3 = kTitle + std::wstring(L" - 3/3");
    {
        RowWatch watch(window);
        Drop(paths);  // each file: name, PEAK and outcome; the folder: name and outcome
        // and the summary row, once the title is back
        EXPECT_EQ(watch.titles, (Rows{at1, at1, at1, at2, at2, at2, at3, at3, at3}));
        EXPECT_EQ(watch.buttonsEnabled, 0);
    }
    EXPECT_EQ(WindowText(Handle()), kTitle);
    EXPECT_TRUE(IsWindowEnabled(window.B_Files) && IsWindowEnabled(window.B_Folder));

    // A batch that ends early, with the exception box, gives them back too.
    RowWatch watch(window, L"2.s98");
    EXPECT_EQ(Drop(paths).text, L"no room for the row.");
    EXPECT_EQ(watch.titles, (Rows{at1, at1, at1, at2}));
    EXPECT_EQ(WindowText(Handle()), kTitle);
    EXPECT_TRUE(IsWindowEnabled(window.B_Files) && IsWindowEnabled(window.B_Folder));
}

// ---- The buttons and the shell's file dialogs, driven as a user would ----

// Each button opens its dialog, owned by the window; what is chosen is
// converted as a drop of it, and nothing when the dialog is cancelled.
TEST_F(MainWindowTest, ButtonsConvertWhatIsChosenInTheShellsDialogs) {
    TempDir dir;
    std::filesystem::create_directory(dir / "songs");
    for (const char* name : {"b.s98", "a.s98", "songs/10.s98", "songs/9.s98"}) {
        WriteFileBytes(dir / name, SmallSong());
    }
    Tick(window.C_fn);
    Type(window.E_fn, L"2");
    const std::vector<DialogSeen> files =
        Click(window.B_Files,
              L"\"" + (dir / "b.s98").wstring() + L"\" \"" + (dir / "a.s98").wstring() + L"\"");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].owner, Handle());
    EXPECT_EQ(files[0].caption, L"Open");
    EXPECT_EQ(files[0].fileTypes, (Rows{L"*S98 files (*.s98)", L"All files (*.*)"}));
    EXPECT_TRUE(files[0].multiSelect);

    const std::vector<DialogSeen> folder = Click(window.B_Folder, (dir / "songs").wstring());
    ASSERT_EQ(folder.size(), 1u);
    EXPECT_EQ(folder[0].caption, L"Select Folder");  // Wine's, with FOS_PICKFOLDERS
    EXPECT_FALSE(folder[0].multiSelect);

    EXPECT_TRUE(Click(window.B_Files)[0].fileDialog);  // cancelled
    EXPECT_EQ(CurrentRows(), Joined({{kInstruction},
                                     ConvertedWithFm2(L"b.s98"),
                                     ConvertedWithFm2(L"a.s98"),
                                     {Summary(2)},
                                     ConvertedWithFm2(L"9.s98"),
                                     ConvertedWithFm2(L"10.s98"),
                                     {Summary(2)}}));
}

// The album box alone is no option to run: a drop is refused, and so is each
// button, before its dialog opens (choosing files that will not be used
// would be wasted work).
TEST_F(MainWindowTest, AlbumBoxAloneIsRefusedByDropsAndButtonsBeforeAnyDialog) {
    TempDir dir;
    WriteFileBytes(dir / "one.s98", SmallSong());
    Tick(window.C_a);
    EXPECT_EQ(Drop({(dir / "one.s98").wstring()}).text,
              L"オプションは最低一つ以上選択してください");
    for (HWND button : {window.B_Files, window.B_Folder}) {
        const std::vector<DialogSeen> seen = Click(button, (dir / "one.s98").wstring());
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_FALSE(seen[0].fileDialog);
        EXPECT_EQ(seen[0].text, L"オプションは最低一つ以上選択してください");
    }
    EXPECT_EQ(CurrentRows(), Rows{kInstruction});
}

// ---- The gain and the balance-keeping normalize ----

// A song with every part of an OPNA: a carrier TL write of channel 1
// (algorithm 7), an SSG volume and the rhythm total level.
Bytes SongWithEveryPart() {
    S98Builder song;
    song.Write(0, 0, 0xB0, 7);
    song.Write(0, 0, 0x4C, 0x10);
    song.Write(0, 0, 0x08, 12);
    song.Write(0, 0, 0x11, 40);
    song.End();
    return song.bytes();
}

// -6 dB is 8 total-level steps of 0.75 dB and 2 SSG steps of 3 dB.
TEST_F(MainWindowTest, GainBoxLowersEveryPartByItsDecibelsAndShowsTheGainRow) {
    TempDir dir;
    WriteFileBytes(dir / "song.s98", SongWithEveryPart());
    Tick(window.C_g);
    Type(window.E_g, L"-6");
    const MessageBoxSeen box = Drop({(dir / "song.s98").wstring()});
    EXPECT_FALSE(box.shown) << "unexpected message box: " << box.text;
    EXPECT_EQ(CurrentRows(),
              (Rows{kInstruction, L"song.s98",
                    L"output file:song_new.s98  volume down: FM=8 SSG=2 RHYTHM=8",
                    L"gain: FM=-6.00dB SSG=-6.00dB RHYTHM=-6.00dB", L"-> ok", Summary(1)}));
    EXPECT_EQ(ReadFileBytes(dir / "song_new.s98").size(), SongWithEveryPart().size());
}

// A carrier at TL 16 is about -24.8 LUFS: -18.5 asks for 6.3 dB, whose
// nearest FM step is +6.00 dB (8 steps up); the loudness row follows the
// gain row.
TEST_F(MainWindowTest, LoudnessBoxBringsTheSongToItsFieldsLufs) {
    TempDir dir;
    WriteFileBytes(dir / "song.s98", SongOfFmTone(16, 2));
    Tick(window.C_L);
    Type(window.E_L, L"-18.5");
    const MessageBoxSeen box = Drop({(dir / "song.s98").wstring()});
    EXPECT_FALSE(box.shown) << "unexpected message box: " << box.text;
    const Rows rows = CurrentRows();
    ASSERT_EQ(rows.size(), 7u) << testing::PrintToString(rows);
    EXPECT_EQ(rows, (Rows{kInstruction, L"song.s98",
                          L"output file:song_new.s98  volume down: FM=-8 SSG=-2 RHYTHM=-8",
                          L"gain: FM=+6.00dB", rows[4], L"-> ok", Summary(1)}));
    EXPECT_EQ(rows[4].rfind(L"loudness: -24.", 0), 0u) << rows[4];
    EXPECT_NE(rows[4].find(L" LUFS (gain +6.00dB), true peak "), std::wstring::npos) << rows[4];
    EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"song.s98", "song_new.s98"}));
}

// The FM target 120 is 9 steps above the FM peak (TL 16): 6.75 dB louder,
// which every part takes, the SSG to its nearest step.
TEST_F(MainWindowTest, BalanceBoxWithATargetMovesEveryPartByTheTargetsGain) {
    TempDir dir;
    WriteFileBytes(dir / "song.s98", SongWithEveryPart());
    Tick(window.C_k);
    Tick(window.C_Fn2);
    Type(window.E_Fn2, L"120");
    const MessageBoxSeen box = Drop({(dir / "song.s98").wstring()});
    EXPECT_FALSE(box.shown) << "unexpected message box: " << box.text;
    EXPECT_EQ(CurrentRows(),
              (Rows{kInstruction, L"song.s98",
                    L"output file:song_new.s98  volume down: FM=-9 SSG=-2 RHYTHM=-9",
                    L"gain: FM=+6.75dB SSG=+6.00dB RHYTHM=+6.75dB", L"-> ok", Summary(1)}));
}

// Boxes that cannot run together refuse the whole drop with the engine's
// reason, in the box of the no-option refusal, and the buttons refuse before
// their dialogs open. The balance box alone counts as an option: it is
// refused for want of a target, not for want of an option.
TEST_F(MainWindowTest, ConflictingBoxesRefuseTheWholeDropWithTheEnginesReason) {
    TempDir dir;
    WriteFileBytes(dir / "one.s98", SmallSong());
    const std::wstring one = (dir / "one.s98").wstring();
    const struct {
        std::vector<HWND TMORLA_MAIN::*> boxes;
        std::string_view letters;  // the options of the ticked boxes
    } cases[] = {
        {{&TMORLA_MAIN::C_g, &TMORLA_MAIN::C_fn}, "gf"},
        {{&TMORLA_MAIN::C_k}, "k"},
        {{&TMORLA_MAIN::C_m, &TMORLA_MAIN::C_fn}, "mf"},
        {{&TMORLA_MAIN::C_m, &TMORLA_MAIN::C_Rn2, &TMORLA_MAIN::C_p}, "mRp"},
        {{&TMORLA_MAIN::C_m, &TMORLA_MAIN::C_g}, "mg"},
        {{&TMORLA_MAIN::C_L, &TMORLA_MAIN::C_fn}, "Lf"},
        {{&TMORLA_MAIN::C_L, &TMORLA_MAIN::C_m}, "Lm"},
    };
    Type(window.E_fn, L"2");
    for (const auto& [boxes, letters] : cases) {
        OptionSet ticked;
        for (const char letter : letters) {
            ticked.Add(FindOption(letter)->option);
        }
        const std::u16string reason = SettingsConflict(ticked);
        SCOPED_TRACE(ToUtf8(reason));
        ASSERT_FALSE(reason.empty());
        if (letters.front() == 'm') {  // measuring goes with no level box
            EXPECT_EQ(reason.rfind(u"-m only measures: it goes with none of -f, ", 0), 0u);
        }
        if (letters.front() == 'L') {  // nor does the loudness normalize
            EXPECT_EQ(reason.rfind(u"-L works out one gain from the loudness: ", 0), 0u);
        }
        UntickAll();
        for (HWND TMORLA_MAIN::*box : boxes) {
            Tick(window.*box);
        }
        const MessageBoxSeen box = Drop({one, one});
        ASSERT_TRUE(box.shown);
        EXPECT_EQ(box.owner, Handle());
        EXPECT_EQ(box.caption, L"エラー");
        EXPECT_EQ(box.icon, LoadIconW(nullptr, IDI_ERROR));
        EXPECT_EQ(box.text, std::wstring(reason.begin(), reason.end()));

        const std::vector<DialogSeen> seen = Click(window.B_Files, one);
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_FALSE(seen[0].fileDialog);
        EXPECT_EQ(seen[0].text, box.text);
    }
    EXPECT_EQ(CurrentRows(), Rows{kInstruction});
    EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"one.s98"});
}

// A ticked box's field holding text that the command line refuses refuses
// the whole drop, and each button before its dialog opens, in the box of the
// no-option refusal, naming the box and the text; nothing is converted. An
// unticked box's field is not looked at, and a valid field still converts.
TEST_F(MainWindowTest, TickedFieldsTheCommandLineRefusesRefuseDropsAndButtons) {
    TempDir dir;
    WriteFileBytes(dir / "one.s98", SmallSong());
    const std::wstring one = (dir / "one.s98").wstring();
    const struct {
        HWND TMORLA_MAIN::*box;
        HWND TMORLA_MAIN::*field;
        const wchar_t* text;
        const wchar_t* refusal;
    } cases[] = {
        {&TMORLA_MAIN::C_Fn2, &TMORLA_MAIN::E_Fn2, L"12O", L"-Fn: '12O' is not a number"},
        {&TMORLA_MAIN::C_fn, &TMORLA_MAIN::E_fn, L"", L"-fn: '' is not a number"},
        {&TMORLA_MAIN::C_sn, &TMORLA_MAIN::E_sn, L"3 ", L"-sn: '3 ' is not a number"},
        {&TMORLA_MAIN::C_Fn2, &TMORLA_MAIN::E_Fn2, L"128", L"-Fn: '128' is out of range (0-127)"},
        {&TMORLA_MAIN::C_Sn2, &TMORLA_MAIN::E_Sn2, L"16", L"-Sn: '16' is out of range (0-15)"},
        {&TMORLA_MAIN::C_Rn2, &TMORLA_MAIN::E_Rn2, L"64", L"-Rn: '64' is out of range (0-63)"},
        {&TMORLA_MAIN::C_Rn2, &TMORLA_MAIN::E_Rn2, L"-$1", L"-Rn: '-$1' is out of range (0-63)"},
        {&TMORLA_MAIN::C_g, &TMORLA_MAIN::E_g, L"1e3", L"-g: '1e3' is not a gain in dB"},
        {&TMORLA_MAIN::C_g, &TMORLA_MAIN::E_g, L"$10", L"-g: '$10' is not a gain in dB"},
        {&TMORLA_MAIN::C_L, &TMORLA_MAIN::E_L, L"-80", L"-L: '-80' is out of range (-70 to 0)"},
        {&TMORLA_MAIN::C_L, &TMORLA_MAIN::E_L, L"x", L"-L: 'x' is not a loudness in LUFS"},
    };
    for (const auto& [box, field, text, refusal] : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(refusal)));
        UntickAll();
        Tick(window.C_p);  // a valid option beside it does not let the drop through
        Tick(window.*box);
        Type(window.*field, text);
        const MessageBoxSeen dropped = Drop({one});
        ASSERT_TRUE(dropped.shown);
        EXPECT_EQ(dropped.owner, Handle());
        EXPECT_EQ(dropped.caption, L"エラー");
        EXPECT_EQ(dropped.icon, LoadIconW(nullptr, IDI_ERROR));
        EXPECT_EQ(dropped.text, refusal);
        for (HWND button : {window.B_Files, window.B_Folder}) {
            const std::vector<DialogSeen> seen = Click(button, one);
            ASSERT_EQ(seen.size(), 1u);
            EXPECT_FALSE(seen[0].fileDialog);
            EXPECT_EQ(seen[0].text, refusal);
        }
        Type(window.*field, L"0");
    }
    EXPECT_EQ(CurrentRows(), Rows{kInstruction});
    EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"one.s98"});

    // The other fields hold junk, but only the -fn box is ticked.
    for (const auto& [box, field, text, refusal] : cases) {
        Type(window.*field, text);
    }
    UntickAll();
    Tick(window.C_fn);
    Type(window.E_fn, L" 2");
    const MessageBoxSeen box = Drop({one});
    EXPECT_FALSE(box.shown) << "unexpected message box: " << box.text;
    EXPECT_EQ(CurrentRows(), Joined({{kInstruction}, ConvertedWithFm2(L"one.s98"), {Summary(1)}}));
    EXPECT_EQ(ReadFileBytes(dir / "one_new.s98").size(), SmallSong().size());
}

// ---- The loudness measurement ----

// The integrated loudness of a "LOUDNESS: ..." row; NaN when it has none.
double Lufs(const std::wstring& row) {
    double lufs = 0;
    return swscanf(row.c_str(), L"LOUDNESS: %lf LUFS  RANGE=", &lufs) == 1
               ? lufs
               : std::numeric_limits<double>::quiet_NaN();
}

// The measure box renders each dropped song and shows its loudness as heard
// and its length, and writes nothing; with the album box each album's
// loudness follows its last file (silence is below the meter's gate, so an
// album of a tone and a silent song is as loud as the tone).
TEST_F(MainWindowTest, MeasureBoxShowsEachSongsLoudnessAndWritesNothing) {
    TempDir dir;
    std::filesystem::create_directory(dir / "album");
    WriteFileBytes(dir / "album/tone.s98", SongOfFmTone(0));
    WriteFileBytes(dir / "album/silent.s98", SongOfSilence(2));
    const std::wstring album = (dir / "album").wstring();
    Tick(window.C_m);
    const MessageBoxSeen box = Drop({album});
    EXPECT_FALSE(box.shown) << "unexpected message box: " << box.text;
    const Rows rows = CurrentRows();
    ASSERT_EQ(rows.size(), 10u) << testing::PrintToString(rows);
    EXPECT_EQ(rows, (Rows{kInstruction, L"silent.s98", L"LOUDNESS: silent", L"heard: 0:02.0",
                          L"-> ok", L"tone.s98", rows[6], L"heard: 0:05.0", L"-> ok", Summary(2)}));
    // One carrier at TL 0 as a real OPNA plays it: about -12.8 LUFS.
    EXPECT_NEAR(Lufs(rows[6]), -12.8, 1.0) << rows[6];
    EXPECT_EQ(FolderEntries(dir / "album"), (std::vector<std::string>{"silent.s98", "tone.s98"}));

    Tick(window.C_a);
    EXPECT_FALSE(Drop({album}).shown);
    EXPECT_EQ(
        Tail(CurrentRows(), 11),
        (Rows{L"ALBUM: " + album, L"silent.s98", L"LOUDNESS: silent", L"heard: 0:02.0", L"-> ok",
              L"tone.s98", rows[6], L"heard: 0:05.0", L"-> ok", L"ALBUM " + rows[6], Summary(2)}));
    EXPECT_EQ(FolderEntries(dir / "album"), (std::vector<std::string>{"silent.s98", "tone.s98"}));
}

// The folder of the running program (here the test program).
std::filesystem::path ProgramFolder() {
    std::wstring self(32768, L'\0');
    self.resize(GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
    return std::filesystem::path(self).parent_path();
}

// %APPDATA% pointing at a folder of the test's own while it lives, as it was
// afterwards.
class TestAppData {
  public:
    TestAppData() {
        wchar_t saved[32768] = {};
        const DWORD length = GetEnvironmentVariableW(L"APPDATA", saved, 32768);
        if (length > 0 && length < 32768) {
            saved_ = saved;
        }
        SetEnvironmentVariableW(L"APPDATA", folder_.path().wstring().c_str());
    }
    ~TestAppData() { SetEnvironmentVariableW(L"APPDATA", saved_ ? saved_->c_str() : nullptr); }
    TestAppData(const TestAppData&) = delete;
    TestAppData& operator=(const TestAppData&) = delete;
    const std::filesystem::path& path() const { return folder_.path(); }
    std::filesystem::path operator/(std::string_view name) const { return folder_ / name; }

  private:
    const TempDir folder_;
    std::optional<std::wstring> saved_;
};

// The OPNA's rhythm ROM image the user has: ym2608_adpcm_rom.bin beside the
// program (here the test program) or in %APPDATA%\morla_GUI, the first that
// is an 8 KiB image; else the stand-in. %APPDATA% is the test's own folder.
class RhythmRomTest : public MainWindowTest {
  protected:
    RhythmRomTest() {
        std::filesystem::create_directory(appData_ / "morla_GUI");
        std::filesystem::remove(besideProgram);  // left by a test that was ended
        WriteFileBytes(dir_ / "drums.s98", SongOfDrums(2));
        Tick(window.C_m);
    }
    ~RhythmRomTest() override {
        std::error_code ignored;
        std::filesystem::remove(besideProgram, ignored);
    }

    // An image of `size` bytes of noise.
    static Bytes RomOfNoise(std::size_t size) {
        std::mt19937 random(20260112u);
        Bytes rom(size);
        for (std::uint8_t& byte : rom) {
            byte = static_cast<std::uint8_t>(random());
        }
        return rom;
    }
    // The LOUDNESS and heard rows of a song that keys the rhythm, dropped.
    Rows Heard() {
        const MessageBoxSeen box = Drop({(dir_ / "drums.s98").wstring()});
        EXPECT_FALSE(box.shown) << "unexpected message box: " << box.text;
        const Rows rows = Tail(CurrentRows(), 5);
        EXPECT_EQ(rows.front(), L"drums.s98");
        EXPECT_EQ(rows[3], L"-> ok");
        EXPECT_EQ(rows.back(), Summary(1));
        return {rows[1], rows[2]};
    }

    const std::filesystem::path besideProgram = ProgramFolder() / "ym2608_adpcm_rom.bin";
    const TestAppData appData_;
    const std::filesystem::path inAppData = appData_ / "morla_GUI/ym2608_adpcm_rom.bin";

  private:
    const TempDir dir_;
};

TEST_F(RhythmRomTest, ImageBesideTheProgramOrInAppDataIsHeardElseTheStandIn) {
    const Rows standIn = Heard();
    EXPECT_EQ(standIn[1], L"heard: 0:02.0, rhythm: stand-in");
    EXPECT_TRUE(std::isfinite(Lufs(standIn[0]))) << standIn[0];

    WriteFileBytes(besideProgram, RomOfNoise(8192));
    const Rows image = Heard();
    EXPECT_EQ(image[1], L"heard: 0:02.0, rhythm: ROM image");
    EXPECT_NE(Lufs(image[0]), Lufs(standIn[0])) << "the image's sounds were heard";

    // A file of that name that is no image is passed over.
    WriteFileBytes(besideProgram, RomOfNoise(8191));
    EXPECT_EQ(Heard(), standIn);
    WriteFileBytes(inAppData, RomOfNoise(8192));
    EXPECT_EQ(Heard(), image);
    std::filesystem::remove(besideProgram);
    EXPECT_EQ(Heard(), image);
    WriteFileBytes(inAppData, {});
    EXPECT_EQ(Heard(), standIn);
}

// ---- The user's language ----

TEST(WindowTextsTest, JapaneseUsersGetTheOriginalTextsEveryoneElseEnglish) {
    EXPECT_EQ(LanguageForUser(MAKELANGID(LANG_JAPANESE, SUBLANG_JAPANESE_JAPAN)),
              Language::Japanese);
    for (const LANGID other :
         {MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
          MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_UK), MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN),
          MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED)}) {
        EXPECT_EQ(LanguageForUser(other), Language::English) << other;
    }
    EXPECT_EQ(LanguageNamed(L"ja"), Language::Japanese);
    EXPECT_EQ(LanguageNamed(L"EN"), Language::English);
    EXPECT_EQ(LanguageNamed(L"de"), std::nullopt);
    EXPECT_EQ(LanguageNamed(L""), std::nullopt);
    // The command line's refusal and the Japanese window's are one text.
    EXPECT_EQ(std::u16string(TextsOf(Language::Japanese).noOption.begin(),
                             TextsOf(Language::Japanese).noOption.end()),
              kNoOptionText);

    const WindowTexts& english = TextsOf(Language::English);
    EXPECT_EQ(SummaryRow(english, {16, 1, 1}), L"18 files: 16 ok, 1 skipped, 1 failed");
    EXPECT_EQ(SummaryRow(english, {0, 0, 1}), L"1 file: 0 ok, 0 skipped, 1 failed");
    EXPECT_EQ(SummaryRow(TextsOf(Language::Japanese), {2, 0, 1}), Summary(2, 0, 1));
}

class EnglishWindowTest : public MainWindowTest {
  protected:
    EnglishWindowTest() : MainWindowTest({Language::English, {}}) {}
};

// The same window in English: the instruction row and the refusal, the
// buttons; the boxes' captions are the same in every language.
TEST_F(EnglishWindowTest, ShowsEnglishTextsOfTheSameMeaning) {
    EXPECT_EQ(CurrentRows(), Rows{L"Drop *.s98 files here: each is written under its own name "
                                  L"with \"_new.s98\" added"});
    for (const PanelControl& control : kPanelControls) {
        if (IsBox(control)) {
            EXPECT_EQ(WindowText(window.*control.handle), control.text) << control.name;
        }
    }
    EXPECT_EQ(WindowText(window.B_Files), L"F&iles...");
    EXPECT_EQ(WindowText(window.B_Folder), L"Fol&der...");
    EXPECT_EQ(WindowText(window.B_Browse), L"&Browse...");

    TempDir dir;
    WriteFileBytes(dir / "one.s98", SmallSong());
    const MessageBoxSeen box = Drop({(dir / "one.s98").wstring()});
    ASSERT_TRUE(box.shown);
    EXPECT_EQ(box.caption, L"Error");
    EXPECT_EQ(box.text, L"Please select at least one option");
    EXPECT_EQ(CurrentRows().size(), 1u);
}

// Alt and a key ticks the box whose caption marks it; no two controls share
// a key in any language; every control is a tab stop, the list first.
TEST_F(MainWindowTest, EveryBoxAndButtonHasItsOwnMnemonicAndIsATabStop) {
    for (const Language language : {Language::Japanese, Language::English}) {
        TMORLA_MAIN other({language, {}});
        std::wstring keys;
        for (const PanelControl& control : kPanelControls) {
            const std::wstring text = WindowText(other.*control.handle);
            EXPECT_TRUE(GetWindowLongW(other.*control.handle, GWL_STYLE) & WS_TABSTOP)
                << control.name;
            if (control.name[0] == 'E') {
                continue;
            }
            const std::size_t mark = text.find(L'&');
            ASSERT_NE(mark, std::wstring::npos) << control.name;
            ASSERT_LT(mark + 1, text.size());
            EXPECT_EQ(text.find(L'&', mark + 1), std::wstring::npos) << control.name;
            const wchar_t key = static_cast<wchar_t>(std::towlower(text[mark + 1]));
            EXPECT_EQ(keys.find(key), std::wstring::npos) << control.name << " shares its key";
            keys += key;
        }
        EXPECT_TRUE(GetWindowLongW(other.LIST, GWL_STYLE) & WS_TABSTOP);
        EXPECT_EQ(GetWindow(other.Handle(), GW_CHILD), other.LIST);
    }

    ShowWindow(Handle(), SW_SHOW);
    SetFocus(window.LIST);
    PostMessageW(window.LIST, WM_SYSCHAR, L'g', 1 << 29);  // Alt+G
    ProcessMessages();
    EXPECT_EQ(SendMessageW(window.C_g, BM_GETCHECK, 0, 0), BST_CHECKED);
    PostMessageW(window.LIST, WM_SYSCHAR, L'Y', 1 << 29);  // Alt+Shift+Y: -Rn, "RH&YTHM"
    ProcessMessages();
    EXPECT_EQ(SendMessageW(window.C_Rn2, BM_GETCHECK, 0, 0), BST_CHECKED);
    ShowWindow(Handle(), SW_HIDE);
}

// ---- The newest rows in view, and each batch's summary ----

TEST_F(EnglishWindowTest, NewestRowsComeIntoViewUnlessScrolledUpAndEachBatchEndsWithASummary) {
    TempDir dir;
    std::filesystem::create_directory(dir / "songs");
    for (int i = 0; i < 300; ++i) {
        WriteFileBytes(dir / Printf("songs/%03d.s98", i), SmallSong());
    }
    Tick(window.C_fn);
    Type(window.E_fn, L"2");
    EXPECT_FALSE(Drop({(dir / "songs").wstring()}).shown);
    Rows rows = CurrentRows();
    ASSERT_EQ(rows.size(), 1u + 3 * 300 + 1);
    EXPECT_EQ(rows.back(), L"300 files: 300 ok, 0 skipped, 0 failed");
    EXPECT_TRUE(LastRowIsShown(window.LIST));
    EXPECT_EQ(SendMessageW(window.LIST, LB_GETCURSEL, 0, 0), LB_ERR);

    // Scrolled up to read: the next batch leaves the list where it is.
    SendMessageW(window.LIST, WM_VSCROLL, SB_TOP, 0);
    ASSERT_EQ(SendMessageW(window.LIST, LB_GETTOPINDEX, 0, 0), 0);
    WriteFileBytes(dir / "a.s98", SmallSong());
    WriteFileBytes(dir / "a_new.s98", SmallSong());
    EXPECT_FALSE(Drop({(dir / "a.s98").wstring(), (dir / "a_new.s98").wstring(),
                       (dir / "missing.s98").wstring()})
                     .shown);
    EXPECT_EQ(SendMessageW(window.LIST, LB_GETTOPINDEX, 0, 0), 0);
    rows = CurrentRows();
    EXPECT_EQ(rows.back(), L"3 files: 1 ok, 1 skipped, 1 failed");
    EXPECT_EQ(rows.size(), 902u + 3 + 2 + 2 + 1);

    // Back at the end, the list follows again; a rerun of the folder skips
    // the outputs of the first run.
    SendMessageW(window.LIST, WM_VSCROLL, SB_BOTTOM, 0);
    EXPECT_FALSE(Drop({(dir / "songs").wstring()}).shown);
    EXPECT_EQ(CurrentRows().back(), L"600 files: 300 ok, 300 skipped, 0 failed");
    EXPECT_TRUE(LastRowIsShown(window.LIST));
}

// ---- The output folder and the dry run ----

// The rows and files of the engine's batch with these options, as the
// command line runs it.
Rows BatchRows(const std::vector<std::filesystem::path>& paths, const VolumeSettings& settings,
               const BatchOptions& options) {
    std::vector<std::u16string> inputs;
    for (const std::filesystem::path& path : paths) {
        inputs.push_back(PathOf(path));
    }
    ConvertBatch batch(inputs, options);
    RecordingSink sink;
    for (std::size_t i = 0; i < batch.size(); ++i) {
        batch.Convert(i, settings, sink);
    }
    Rows rows;
    for (const std::u16string& row : sink.rows) {
        rows.emplace_back(row.begin(), row.end());
    }
    return rows;
}

TEST_F(MainWindowTest, OutputFolderAndDryRunBoxesGiveTheBatchsFilesAndRows) {
    TempDir dir;
    std::filesystem::create_directories(dir / "in/disc");
    std::filesystem::create_directory(dir / "out");
    WriteFileBytes(dir / "in/a.s98", SmallSong());
    WriteFileBytes(dir / "in/disc/b.s98", SmallSong(0x20));
    const std::vector<std::filesystem::path> inputs{dir / "in"};
    BatchOptions options;
    options.outputFolder = PathOf(dir / "out");
    const Rows expected = BatchRows(inputs, Options().Fm(2), options);
    // The sub-folder's file into the same sub-folder of the output folder.
    const Bytes a = ReadFileBytes(dir / "out/a_new.s98"),
                b = ReadFileBytes(dir / "out/disc/b_new.s98");
    ASSERT_FALSE(a.empty() || b.empty());
    std::filesystem::remove_all(dir / "out");
    std::filesystem::create_directory(dir / "out");

    Tick(window.C_fn);
    Type(window.E_fn, L"2");
    Tick(window.C_o);
    Type(window.E_o, (dir / "out").wstring());
    EXPECT_FALSE(Drop({(dir / "in").wstring()}).shown);
    EXPECT_EQ(CurrentRows(), Joined({{kInstruction}, expected, {Summary(2)}}));
    EXPECT_EQ(ReadFileBytes(dir / "out/a_new.s98"), a);
    EXPECT_EQ(ReadFileBytes(dir / "out/disc/b_new.s98"), b);
    EXPECT_EQ(FolderEntries(dir / "in"), (std::vector<std::string>{"a.s98", "disc"}));

    // A dry run: the same rows as the engine's, nothing written.
    std::filesystem::remove_all(dir / "out");
    std::filesystem::create_directory(dir / "out");
    options.dryRun = true;
    const Rows dryRows = BatchRows(inputs, Options().Fm(2), options);
    Tick(window.C_n);
    EXPECT_FALSE(Drop({(dir / "in").wstring()}).shown);
    EXPECT_EQ(Tail(CurrentRows(), dryRows.size() + 1), Joined({dryRows, {Summary(2)}}));
    EXPECT_TRUE(FolderEntries(dir / "out").empty());

    // An output folder that is not there, or is a file, refuses the drop
    // with the command line's words.
    const std::size_t before = CurrentRows().size();
    Type(window.E_o, (dir / "nowhere").wstring());
    EXPECT_EQ(Drop({(dir / "in").wstring()}).text,
              L"output folder '" + (dir / "nowhere").wstring() + L"' does not exist");
    Type(window.E_o, (dir / "in/a.s98").wstring());
    EXPECT_EQ(Drop({(dir / "in").wstring()}).text,
              L"output folder '" + (dir / "in/a.s98").wstring() + L"' is not a folder");
    EXPECT_EQ(CurrentRows().size(), before);
}

// "Browse..." puts the folder chosen in the field and ticks the box; it
// converts nothing.
TEST_F(MainWindowTest, BrowseChoosesTheOutputFolder) {
    TempDir dir;
    std::filesystem::create_directory(dir / "out");
    const std::vector<DialogSeen> seen = Click(window.B_Browse, (dir / "out").wstring());
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].owner, Handle());
    EXPECT_EQ(seen[0].caption, L"Select Folder");
    EXPECT_EQ(WindowText(window.E_o), (dir / "out").wstring());
    EXPECT_EQ(SendMessageW(window.C_o, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(CurrentRows(), Rows{kInstruction});

    Click(window.B_Browse);  // cancelled: the field stays
    EXPECT_EQ(WindowText(window.E_o), (dir / "out").wstring());
}

// ---- Settings kept from one start to the next ----

class KeptSettingsTest : public MainWindowTest {
  protected:
    // Each control's state: ticked or not, or its text.
    static Rows StateOf(const TMORLA_MAIN& shown) {
        Rows state;
        for (const PanelControl& control : kPanelControls) {
            HWND handle = shown.*control.handle;
            state.push_back(IsBox(control)
                                ? std::to_wstring(SendMessageW(handle, BM_GETCHECK, 0, 0))
                                : WindowText(handle));
        }
        return state;
    }
    static Place FrameOf(const TMORLA_MAIN& shown) {
        RECT frame;
        GetWindowRect(shown.Handle(), &frame);
        return {frame.left, frame.top, frame.right - frame.left, frame.bottom - frame.top};
    }

    const TestAppData appData;
    const std::wstring file = (appData / "morla_GUI.ini").wstring();
};

TEST_F(KeptSettingsTest, BoxesFieldsPlaceAndSizeSurviveARestart) {
    TMORLA_MAIN first({Language::Japanese, file});
    const Rows fresh = StateOf(first);
    SendMessageW(first.C_fn, BM_SETCHECK, BST_CHECKED, 0);
    SendMessageW(first.C_a, BM_SETCHECK, BST_CHECKED, 0);
    SendMessageW(first.C_o, BM_SETCHECK, BST_CHECKED, 0);
    SetWindowTextW(first.E_fn, L"5");
    SetWindowTextW(first.E_L, L"12O");  // kept as typed
    SetWindowTextW(first.E_o, L" D:\\曲 \"folder\" ");
    SetWindowPos(first.Handle(), nullptr, 40, 50, 700, 560, SWP_NOZORDER | SWP_NOACTIVATE);
    const Rows set = StateOf(first);
    ASSERT_NE(set, fresh);
    EXPECT_TRUE(first.KeepSettings());

    const TMORLA_MAIN second({Language::Japanese, file});
    EXPECT_EQ(StateOf(second), set);
    EXPECT_EQ(FrameOf(second), (Place{40, 50, 700, 560}));
    EXPECT_EQ(FolderEntries(appData.path()), std::vector<std::string>{"morla_GUI.ini"});

    // A place no screen shows (a monitor unplugged): the size, centred.
    const Place centred = FrameOf(window);
    SetWindowPos(first.Handle(), nullptr, -30000, 20000, 700, 560, SWP_NOZORDER | SWP_NOACTIVATE);
    EXPECT_TRUE(first.KeepSettings());
    const Place moved = FrameOf(TMORLA_MAIN({Language::Japanese, file}));
    EXPECT_EQ(moved[2], 700);
    EXPECT_EQ(moved[3], 560);
    EXPECT_NEAR(moved[0] + 350, centred[0] + centred[2] / 2, 1);
    EXPECT_NEAR(moved[1] + 280, centred[1] + centred[3] / 2, 1);

    // Unticked again, kept again.
    SendMessageW(first.C_fn, BM_SETCHECK, BST_UNCHECKED, 0);
    EXPECT_TRUE(first.KeepSettings());
    EXPECT_EQ(SendMessageW(TMORLA_MAIN({Language::Japanese, file}).C_fn, BM_GETCHECK, 0, 0),
              BST_UNCHECKED);
}

TEST_F(KeptSettingsTest, MissingOrDamagedFileGivesTheDefaults) {
    const Rows defaults = StateOf(window);
    const Place centred = FrameOf(window);
    std::mt19937 random(20261209u);
    Bytes noise(4096);
    for (std::uint8_t& byte : noise) {
        byte = static_cast<std::uint8_t>(random());
    }
    const std::string broken =
        "[Options]\r\nC_fn=banana\r\nE_fn\r\n[Window]\r\nLeft=99999999999\r\nTop=-\r\n"
        "Width=12\r\nHeight=x\r\nLanguage=klingon\r\n[Options";
    const std::vector<Bytes> files = {
        {},
        noise,
        Bytes(broken.begin(), broken.end()),
        {0xFF, 0xFE, '[', 0, 'O', 0},  // UTF-16 cut short
    };
    EXPECT_EQ(StateOf(TMORLA_MAIN({Language::Japanese, file})), defaults) << "no file";
    const Rows usersDefaults = StateOf(TMORLA_MAIN({std::nullopt, {}}));
    for (std::size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(i);
        WriteFileBytes(file, files[i]);
        const TMORLA_MAIN started({std::nullopt, file});
        EXPECT_EQ(StateOf(started), usersDefaults);
        EXPECT_EQ(FrameOf(started), centred);
        EXPECT_EQ(ListRows(started.LIST).size(), 1u);
    }
}

TEST_F(KeptSettingsTest, LanguageInTheFileUnlessTheSwitchNamesOne) {
    WriteFileBytes(file, Bytes{'[', 'W', 'i', 'n', 'd', 'o', 'w', ']', '\n', 'L', 'a',
                               'n', 'g', 'u', 'a', 'g', 'e', '=', 'e', 'n',  '\n'});
    TMORLA_MAIN kept({std::nullopt, file});
    EXPECT_EQ(ListRows(kept.LIST).front().rfind(L"Drop *.s98", 0), 0u);
    EXPECT_EQ(ListRows(TMORLA_MAIN({Language::Japanese, file}).LIST), Rows{kInstruction});
    EXPECT_TRUE(kept.KeepSettings());
    EXPECT_EQ(ListRows(TMORLA_MAIN({std::nullopt, file}).LIST).front().rfind(L"Drop *.s98", 0), 0u);
}

TEST_F(KeptSettingsTest, FileBesideTheProgramMakesItPortableElseAppData) {
    const std::filesystem::path beside = ProgramFolder() / "morla_GUI.ini";
    std::filesystem::remove(beside);
    const std::wstring inAppData = appData.path().wstring() + L"\\morla_GUI\\morla_GUI.ini";
    EXPECT_EQ(SettingsFilePath(), inAppData);
    // Its folder is made when the settings are first kept.
    TMORLA_MAIN first({Language::Japanese, SettingsFilePath()});
    SendMessageW(first.C_p, BM_SETCHECK, BST_CHECKED, 0);
    EXPECT_TRUE(first.KeepSettings());
    EXPECT_EQ(SendMessageW(TMORLA_MAIN({Language::Japanese, inAppData}).C_p, BM_GETCHECK, 0, 0),
              BST_CHECKED);

    WriteFileBytes(beside, {});
    EXPECT_EQ(std::filesystem::path(SettingsFilePath()), beside);
    std::filesystem::remove(beside);
}

TEST_F(KeptSettingsTest, FileThatCannotBeWrittenLeavesNothingBehind) {
    WriteFileBytes(appData / "plain", {});
    TMORLA_MAIN first({Language::Japanese, (appData / "plain/morla_GUI.ini").wstring()});
    EXPECT_FALSE(first.KeepSettings());
    EXPECT_EQ(FolderEntries(appData.path()), std::vector<std::string>{"plain"});
}

// ---- The program as the shell starts it ----

// morla_GUI.exe started with `arguments` in `folder`, its %APPDATA% the
// test's; ended by closing its window.
class StartedProgram {
  public:
    StartedProgram(const std::wstring& arguments, const std::filesystem::path& folder) {
        std::wstring program = MORLA_GUI_EXE;
        for (wchar_t& c : program) {
            c = c == L'/' ? L'\\' : c;
        }
        if (program.starts_with(L"\\")) {
            program = L"Z:" + program;  // where Wine shows the build's files
        }
        std::wstring line = L"\"" + program + L"\" " + arguments;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        started_ = CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                  folder.wstring().c_str(), &startup, &process_);
    }
    ~StartedProgram() {
        if (started_) {
            if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
                TerminateProcess(process_.hProcess, 1);
            }
            CloseHandle(process_.hThread);
            CloseHandle(process_.hProcess);
        }
    }
    StartedProgram(const StartedProgram&) = delete;
    StartedProgram& operator=(const StartedProgram&) = delete;

    bool started() const { return started_; }
    // Its list's rows once their last is `last`, or as they are after 60 s.
    Rows RowsEndingWith(std::wstring_view last) {
        Rows rows;
        for (int waited = 0; waited < 6000; ++waited, Sleep(10)) {
            if (HWND window = Window()) {
                rows = ListRows(FindWindowExW(window, nullptr, L"ListBox", nullptr));
                if (!rows.empty() && rows.back() == last) {
                    break;
                }
            }
        }
        return rows;
    }
    // Closes its window; its exit code, or -1 when it did not end.
    long Close() {
        PostMessageW(Window(), WM_CLOSE, 0, 0);
        if (WaitForSingleObject(process_.hProcess, 30000) != WAIT_OBJECT_0) {
            return -1;
        }
        DWORD code = 0;
        GetExitCodeProcess(process_.hProcess, &code);
        return static_cast<long>(code);
    }

    // The first message box it shows within 60 s, closed with OK.
    MessageBoxSeen Box() {
        for (int waited = 0; waited < 6000; ++waited, Sleep(10)) {
            if (HWND box = Window(L"#32770"); box != nullptr && IsWindowVisible(box)) {
                const MessageBoxSeen seen = Note(box);
                PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                             reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
                return seen;
            }
        }
        return {};
    }

  private:
    HWND Window(const wchar_t* windowClass = L"TMORLA_MAIN") const {
        struct Search {
            DWORD process;
            const wchar_t* windowClass;
            HWND found;
        } search{process_.dwProcessId, windowClass, nullptr};
        EnumWindows(
            [](HWND window, LPARAM found) -> BOOL {
                auto& search = *reinterpret_cast<Search*>(found);
                DWORD process = 0;
                GetWindowThreadProcessId(window, &process);
                if (process == search.process && ClassName(window) == search.windowClass) {
                    search.found = window;
                    return FALSE;
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&search));
        return search.found;
    }

    bool started_ = false;
    PROCESS_INFORMATION process_{};
};

// Files named on the command line (the icon drop, "Send to", "Open with")
// are converted as a drop of them with the kept settings; closing the window
// keeps the settings and ends the program with 0.
TEST_F(KeptSettingsTest, ProgramConvertsTheFilesItIsStartedWith) {
    TempDir dir;
    WriteFileBytes(dir / "a.s98", SmallSong());
    WriteFileBytes(dir / "b c.s98", SmallSong());
    std::filesystem::create_directory(appData / "morla_GUI");
    const std::wstring kept = appData.path().wstring() + L"\\morla_GUI\\morla_GUI.ini";
    WritePrivateProfileStringW(L"Options", L"C_fn", L"1", kept.c_str());
    WritePrivateProfileStringW(L"Options", L"E_fn", L"2", kept.c_str());
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, kept.c_str());

    StartedProgram program(L"--language=en a.s98 \"" + (dir / "b c.s98").wstring() + L"\"",
                           dir.path());
    ASSERT_TRUE(program.started());
    const std::wstring summary = L"2 files: 2 ok, 0 skipped, 0 failed";
    EXPECT_EQ(program.RowsEndingWith(summary),
              Joined({{L"Drop *.s98 files here: each is written under its own name with "
                       L"\"_new.s98\" added"},
                      ConvertedWithFm2(L"a.s98"),
                      ConvertedWithFm2(L"b c.s98"),
                      {summary}}));
    EXPECT_EQ(program.Close(), 0);
    EXPECT_EQ(FolderEntries(dir.path()),
              (std::vector<std::string>{"a.s98", "a_new.s98", "b c.s98", "b c_new.s98"}));
    wchar_t width[16] = {};
    GetPrivateProfileStringW(L"Window", L"Width", L"", width, 16, kept.c_str());
    EXPECT_GT(std::wcstol(width, nullptr, 10), 469) << "kept when the window closed";
    wchar_t ticked[16] = {};
    GetPrivateProfileStringW(L"Options", L"C_fn", L"", ticked, 16, kept.c_str());
    EXPECT_STREQ(ticked, L"1");
}

// Files given at start with no box ticked are refused with the drop's box;
// the switch sets the language.
TEST_F(KeptSettingsTest, ProgramRefusesFilesGivenAtStartAsADropDoes) {
    TempDir dir;
    WriteFileBytes(dir / "a.s98", SmallSong());
    StartedProgram program(L"--language=ja a.s98", dir.path());
    ASSERT_TRUE(program.started());
    const MessageBoxSeen box = program.Box();
    EXPECT_EQ(box.caption, L"エラー");
    EXPECT_EQ(box.text, L"オプションは最低一つ以上選択してください");
    EXPECT_EQ(program.RowsEndingWith(kInstruction), Rows{kInstruction});
    EXPECT_EQ(program.Close(), 0);
    EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"a.s98"});
}

// Without the switch or a setting the texts are those of the user's
// language. CTest runs this as an English user and, with
// MORLA_TEST_USER_LANGUAGE=ja, as a Japanese one.
class UsersLanguageTest : public MainWindowTest {
  protected:
    UsersLanguageTest() : MainWindowTest({std::nullopt, {}}) {}
};

TEST_F(UsersLanguageTest, WindowSpeaksTheLanguageOfTheUsersLocale) {
    const char* expected = std::getenv("MORLA_TEST_USER_LANGUAGE");
    const bool japanese = expected != nullptr && std::string(expected) == "ja";
    EXPECT_EQ(LanguageForUser(GetUserDefaultUILanguage()),
              japanese ? Language::Japanese : Language::English);
    EXPECT_EQ(CurrentRows(),
              Rows{japanese ? std::wstring(kInstruction)
                            : L"Drop *.s98 files here: each is written under its own name with "
                              L"\"_new.s98\" added"});
    TempDir dir;
    WriteFileBytes(dir / "a.s98", SmallSong());
    const MessageBoxSeen box = Drop({(dir / "a.s98").wstring()});
    EXPECT_EQ(box.caption, japanese ? L"エラー" : L"Error");
    EXPECT_EQ(box.text, japanese ? L"オプションは最低一つ以上選択してください"
                                 : L"Please select at least one option");
}
}  // namespace
}  // namespace morla::test
