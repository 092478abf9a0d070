// A run of lumidex-console in this lab, as the lab tests read it: output, exit status, parsed
// JSON, the diagnostic log and what the simulator saw.
#pragma once

#include <chrono>
#include <string>

#include "LabFixture.h"

namespace lumidex::labtest {

struct ConsoleRun {
    int exitStatus = -1;
    std::chrono::steady_clock::duration took{};
    std::string output;
    Json result;  // discarded (not an object) when the output is not JSON
    // The validator's messages when the output is not a valid --json result; empty otherwise,
    // and for a run without --json.
    std::string schemaErrors;
    std::string log;  // the diagnostic log, in UTF-8
    // The simulator's log up to the end of the run (the lab's own checks may follow it).
    std::string simLog;
};

// One run of the console with ARGS in this lab. Every run starts the log afresh, so the log as
// the run leaves it is that run's own.
ConsoleRun RunConsole(const std::string& args);

// The run of "--json" every suite of a lab reads (made once per lab_checks process).
const ConsoleRun& RunConsoleOnce();
// The one-at-a-time walk of the same lab the suites compare with it (made once too, after it).
const ConsoleRun& RunOneAtATimeOnce();

}  // namespace lumidex::labtest
