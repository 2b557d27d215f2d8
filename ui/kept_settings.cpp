#include "kept_settings.h"

#include <cwchar>
#include <cwctype>

#include "process/process.h"

namespace {

// What GetPrivateProfileStringW gives for a key the file does not have: a
// text no value has, since a value is read up to the end of its line.
constexpr wchar_t kAbsent[] = L"\n";

std::wstring Wide(const std::u16string& text) {
    return std::wstring(text.begin(), text.end());
}

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Removes a file on every way out unless it was let go.
class TemporaryFile {
  public:
    explicit TemporaryFile(std::wstring path) : path_(std::move(path)) {}
    ~TemporaryFile() {
        if (!path_.empty()) {
            DeleteFileW(path_.c_str());
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    void Release() { path_.clear(); }

  private:
    std::wstring path_;
};

// An empty file of UTF-16 text, so that the profile functions write every
// character of a value (a path in any script) as it is.
bool CreateUnicodeFile(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    const unsigned char byteOrderMark[] = {0xFF, 0xFE};
    DWORD written = 0;
    const bool ok = WriteFile(file, byteOrderMark, sizeof byteOrderMark, &written, nullptr) &&
                    written == sizeof byteOrderMark;
    return CloseHandle(file) && ok;
}

bool FlushToDisk(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    const bool ok = FlushFileBuffers(file);
    return CloseHandle(file) && ok;
}

}  // namespace

std::wstring SettingsFilePath() {
    const std::vector<std::u16string> folders = morla::UserFileFolders("morla_GUI");
    if (folders.empty()) {
        return kSettingsFileName;
    }
    const std::wstring portable = Wide(folders.front()) + L"\\" + kSettingsFileName;
    if (Exists(portable) || folders.size() == 1) {
        return portable;
    }
    return Wide(folders.back()) + L"\\" + kSettingsFileName;
}

KeptSettings::KeptSettings(std::wstring path) : path_(std::move(path)) {}

std::optional<std::wstring> KeptSettings::Get(std::wstring_view section,
                                              std::wstring_view key) const {
    if (path_.empty() || !Exists(path_)) {
        return std::nullopt;
    }
    std::wstring value(32768, L'\0');
    value.resize(GetPrivateProfileStringW(std::wstring(section).c_str(), std::wstring(key).c_str(),
                                          kAbsent, value.data(), static_cast<DWORD>(value.size()),
                                          path_.c_str()));
    if (value == kAbsent) {
        return std::nullopt;
    }
    return value;
}

std::optional<int> KeptSettings::GetNumber(std::wstring_view section, std::wstring_view key) const {
    const std::optional<std::wstring> text = Get(section, key);
    if (!text || text->empty() || text->size() > 9) {
        return std::nullopt;
    }
    std::size_t digits = (*text)[0] == L'-' ? 1 : 0;
    if (digits == text->size()) {
        return std::nullopt;
    }
    for (std::size_t i = digits; i < text->size(); ++i) {
        if (!std::iswdigit((*text)[i])) {
            return std::nullopt;
        }
    }
    return std::stoi(*text);
}

void SettingsToKeep::Set(std::wstring section, std::wstring key, std::wstring value) {
    values_.push_back({std::move(section), std::move(key), std::move(value)});
}

bool SettingsToKeep::WriteTo(const std::wstring& path) const {
    if (const std::size_t slash = path.find_last_of(L"\\/"); slash != std::wstring::npos) {
        CreateDirectoryW(path.substr(0, slash).c_str(), nullptr);  // there already, mostly
    }
    const std::wstring written = path + L".new";
    if (!CreateUnicodeFile(written)) {
        return false;
    }
    TemporaryFile temporary(written);
    for (const Value& value : values_) {
        // In quotes, which the reading takes off, so that spaces at either end stay.
        const std::wstring quoted = L"\"" + value.value + L"\"";
        if (!WritePrivateProfileStringW(value.section.c_str(), value.key.c_str(), quoted.c_str(),
                                        written.c_str())) {
            return false;
        }
    }
    // The profile functions may hold what they write; this writes it out.
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, written.c_str());
    if (!FlushToDisk(written) || !MoveFileExW(written.c_str(), path.c_str(),
                                              MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return false;
    }
    temporary.Release();
    return true;
}
