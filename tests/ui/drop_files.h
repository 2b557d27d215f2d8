// Dropped files without the shell: the drop handle the shell would hand to
// the window with WM_DROPFILES, built in memory.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// after windows.h
#include <shellapi.h>

#include <string>
#include <vector>

namespace morla::test {

// DROPFILES followed by the wide paths, each NUL-terminated, and one more
// NUL. The window releases it with DragFinish.
HDROP MakeDrop(const std::vector<std::wstring>& paths);

}  // namespace morla::test
