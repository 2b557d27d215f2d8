// The system's standard dialogs for choosing what to convert, as the shell's
// common item dialog (IFileOpenDialog) offers them. They are COM objects: the
// calling thread must have entered a single-threaded apartment
// (CoInitializeEx with COINIT_APARTMENTTHREADED).
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>
#include <vector>

enum class DialogChoice {
    Files,   // several files at once; "S98 files (*.s98)" shown first, or all files
    Folder,  // one folder
};

// Shows the dialog modal to `owner` and returns the file-system paths chosen,
// in the dialog's order; none when the user cancels. Throws
// std::runtime_error when the dialog cannot be made or shown.
std::vector<std::u16string> ChooseWithDialog(HWND owner, DialogChoice choice);
