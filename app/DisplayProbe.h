// Whether the desktop window can be shown: the toolkit ends the process when it cannot open
// its display, so the program asks first and falls back on the console front end.
#pragma once

#include <string>

namespace lumidex {

// True when the display the window would use can be opened; otherwise why not, in words.
bool CanOpenDisplay(std::string& why);

}  // namespace lumidex
