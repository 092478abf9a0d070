// ShellExecuteA: starts a program, or hands a URL or document to the desktop's opener
// (xdg-open). A Windows program path is mapped through the Wine prefix first.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/WindowHandle.h"

namespace lumidex::platform {

// Show modes. A Linux process has no window to show or hide, so they only travel along.
inline constexpr int kSwHide = 0;
inline constexpr int kSwShowNormal = 1;
inline constexpr int kSwShow = 5;

// Results at or below this are errors, as ShellExecuteA reports them.
inline constexpr intptr_t kShellExecuteErrorMax = 32;
inline constexpr intptr_t kShellExecuteStarted = 42;
inline constexpr intptr_t kSeOutOfResources = 0;
inline constexpr intptr_t kSeFileNotFound = 2;    // ERROR_FILE_NOT_FOUND
inline constexpr intptr_t kSePathNotFound = 3;    // ERROR_PATH_NOT_FOUND
inline constexpr intptr_t kSeAccessDenied = 5;    // SE_ERR_ACCESSDENIED
inline constexpr intptr_t kSeBadFormat = 11;      // ERROR_BAD_FORMAT
inline constexpr intptr_t kSeNoAssociation = 31;  // SE_ERR_NOASSOC

// Above kShellExecuteErrorMax when the process started; the process is not waited for (a
// background thread reaps it). verb and directory may be null; parameters are split into
// arguments as SplitParameters does.
intptr_t ShellExecuteA(WindowHandle window, const char* verb, std::string_view file,
                       std::string_view parameters, const char* directory, int showMode);

// Blanks separate arguments; a double-quoted stretch belongs to one argument (without its
// quotes), so "a b" c gives two arguments.
std::vector<std::string> SplitParameters(std::string_view parameters);

// "http://...", "https://...", "mailto:...": things only the desktop's opener can open.
bool IsUrl(std::string_view file);

}  // namespace lumidex::platform
