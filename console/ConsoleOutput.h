// What lumidex-console prints: rows as they land, the final table and notes, or one JSON
// object with the whole result.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "engine/CheckListModel.h"
#include "engine/QueuedDiagWindow.h"

namespace lumidex {

struct RunResult {
    const CheckListModel* rows = nullptr;
    int total = 0;
    int checked = 0;
    int warnings = 0;
    int errors = 0;
    bool reportable = false;
    bool submitEnabled = false;
    std::string findings;
    std::string summary;
    std::string logPath;
};

// One row as a line: caption, verdict and detail.
std::string FormatRowLine(const CheckRow& row);
// The rows, then the notes, for a person reading a terminal (CR LF become LF).
std::string FormatResultText(const RunResult& result, const std::string& notes);
nlohmann::json ResultToJson(const RunResult& result);
nlohmann::json EndpointsToJson();
std::string FormatEndpointsText();

}  // namespace lumidex
