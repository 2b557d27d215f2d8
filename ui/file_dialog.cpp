#include "file_dialog.h"
// after windows.h
#include <shobjidl.h>

#include <cstdio>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>

namespace {

// Holds one reference to a COM object and releases it on every path out.
template <class Interface>
class ComRef {
  public:
    ComRef() = default;
    ~ComRef() {
        if (object_ != nullptr) {
            object_->Release();
        }
    }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;

    Interface* operator->() const { return object_; }
    Interface** Receive() { return &object_; }  // for an out parameter, while empty

  private:
    Interface* object_ = nullptr;
};

// A string the shell allocated with the task allocator.
class ShellString {
  public:
    ShellString() = default;
    ~ShellString() { CoTaskMemFree(text_); }
    ShellString(const ShellString&) = delete;
    ShellString& operator=(const ShellString&) = delete;

    const wchar_t* get() const { return text_; }
    PWSTR* Receive() { return &text_; }

  private:
    PWSTR text_ = nullptr;
};

// A failed COM call as an exception: what failed and its result code.
void Check(HRESULT result, const char* what) {
    if (FAILED(result)) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(result));
        throw std::runtime_error(std::string(what) + " (error " + code + ")");
    }
}

}  // namespace

std::vector<std::u16string> ChooseWithDialog(HWND owner, DialogChoice choice) {
    ComRef<IFileOpenDialog> dialog;
    Check(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                           IID_PPV_ARGS(dialog.Receive())),
          "the file dialog could not be made");

    FILEOPENDIALOGOPTIONS options = 0;
    Check(dialog->GetOptions(&options), "the file dialog's options could not be read");
    // Only paths the file layer can open; what is chosen must exist.
    options |= FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST | FOS_FILEMUSTEXIST;
    if (choice == DialogChoice::Files) {
        options |= FOS_ALLOWMULTISELECT;
        static constexpr COMDLG_FILTERSPEC kTypes[] = {
            {L"S98 files (*.s98)", L"*.s98"},
            {L"All files (*.*)", L"*.*"},
        };
        Check(dialog->SetFileTypes(static_cast<UINT>(std::size(kTypes)), kTypes),
              "the file dialog's file types could not be set");
        Check(dialog->SetFileTypeIndex(1), "the file dialog's file type could not be chosen");
    } else {
        options |= FOS_PICKFOLDERS;
    }
    Check(dialog->SetOptions(options), "the file dialog's options could not be set");

    const HRESULT shown = dialog->Show(owner);
    if (shown == HRESULT_FROM_WIN32(ERROR_CANCELLED)) {
        return {};
    }
    Check(shown, "the file dialog could not be shown");

    ComRef<IShellItemArray> items;
    Check(dialog->GetResults(items.Receive()), "the file dialog's choice could not be read");
    DWORD count = 0;
    Check(items->GetCount(&count), "the file dialog's choice could not be read");
    std::vector<std::u16string> paths;
    for (DWORD index = 0; index < count; ++index) {
        ComRef<IShellItem> item;
        Check(items->GetItemAt(index, item.Receive()), "a chosen item could not be read");
        ShellString path;
        Check(item->GetDisplayName(SIGDN_FILESYSPATH, path.Receive()),
              "a chosen item has no path in the file system");
        const std::wstring_view text(path.get());
        paths.emplace_back(text.begin(), text.end());
    }
    return paths;
}
