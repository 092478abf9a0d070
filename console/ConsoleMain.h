// The console front end as a function, so that the desktop program can fall back on it when
// no display can be opened.
#pragma once

namespace lumidex {

// Parses argv (lumidex-console's options), runs and returns the exit status.
int RunConsole(int argc, char** argv);

}  // namespace lumidex
