// The window's settings kept from one start to the next, in an INI file of
// the user's: %APPDATA%\morla_GUI\morla_GUI.ini, or morla_GUI.ini beside
// morla_GUI.exe when there is one there (a portable copy keeps its settings
// with it). The file is read at start and written whole when the window
// closes; a missing or damaged file, or a value in it that cannot be read,
// gives the default of that value and never an error.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

inline constexpr wchar_t kSettingsFileName[] = L"morla_GUI.ini";

// Where the settings are kept: beside the program when a settings file is
// there, else in the user's application-data folder (beside the program when
// the system names none).
std::wstring SettingsFilePath();

// The settings as read from a file.
class KeptSettings {
  public:
    // Reads the file at `path`; nothing when there is none.
    explicit KeptSettings(std::wstring path);

    const std::wstring& path() const { return path_; }
    // The value of `key` in `section`; none when the file has none.
    std::optional<std::wstring> Get(std::wstring_view section, std::wstring_view key) const;
    // The whole number of `key` in `section`; none when there is none or it is no number.
    std::optional<int> GetNumber(std::wstring_view section, std::wstring_view key) const;

  private:
    std::wstring path_;
};

// The settings to write: sections of keys with their values, written whole
// in place of the file there, so that a close that is cut short leaves the
// earlier file or the new one and never a mix.
class SettingsToKeep {
  public:
    void Set(std::wstring section, std::wstring key, std::wstring value);
    // Writes the settings to `path` (creating its folder when needed); false
    // when they could not be written, the file there being left as it was.
    bool WriteTo(const std::wstring& path) const;

  private:
    struct Value {
        std::wstring section, key, value;
    };
    std::vector<Value> values_;
};
