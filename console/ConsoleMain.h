// The console front end as a function, so that the desktop program can fall back on it when
// no display can be opened.
#pragma once

#include <string>

namespace lumidex {

// Parses argv (lumidex-console's options), runs and returns the exit status. The usage,
// version and error texts name the program as it was started: "lumidex" when the desktop
// program is the console front end, so that its --help and --version (and the manual page
// made from them) are its own.
int RunConsole(int argc, char** argv, const std::string& program = "lumidex-console");

}  // namespace lumidex
