#include "console/ConsoleOutput.h"

#include "engine/Endpoints.h"

namespace lumidex {
namespace {

std::string WithoutCarriageReturns(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c != '\r') {
            out += c;
        }
    }
    return out;
}

}  // namespace

std::string FormatRowLine(const CheckRow& row) {
    if (row.IsSeparator()) {
        return row.caption;
    }
    std::string line = row.caption + "  [" + std::string(CheckStatusName(*row.status)) + "]";
    if (!row.detail.empty()) {
        line += "  " + WithoutCarriageReturns(row.detail);
    }
    return line;
}

std::string FormatResultText(const RunResult& result, const std::string& notes) {
    std::string out;
    for (const CheckRow& row : result.rows->Rows()) {
        out += FormatRowLine(row) + "\n";
    }
    out += WithoutCarriageReturns(notes);
    out += "\n";
    if (!result.logPath.empty()) {
        out += "\nlog: " + result.logPath + "\n";
    }
    return out;
}

nlohmann::json ResultToJson(const RunResult& result) {
    auto rows = nlohmann::json::array();
    for (const CheckRow& row : result.rows->Rows()) {
        nlohmann::json entry = {{"id", row.id}, {"name", row.caption}, {"detail", row.detail}};
        entry["status"] = row.IsSeparator() ? nlohmann::json(nullptr)
                                            : nlohmann::json(CheckStatusName(*row.status));
        rows.push_back(std::move(entry));
    }
    return {
        {"rows", std::move(rows)},
        {"total", result.total},
        {"checked", result.checked},
        {"warnings", result.warnings},
        {"errors", result.errors},
        {"reportable", result.reportable},
        {"submit_enabled", result.submitEnabled},
        {"findings", result.findings},
        {"summary", result.summary},
        {"log_path", result.logPath},
    };
}

nlohmann::json EndpointsToJson() {
    auto list = nlohmann::json::array();
    for (const auto& endpoint : endpoints::AllEndpoints()) {
        list.push_back({{"role", endpoint.role},
                        {"host", endpoint.host},
                        {"port", endpoint.port},
                        {"protocol", endpoint.protocol}});
    }
    return {{"endpoints", std::move(list)}};
}

std::string FormatEndpointsText() {
    std::string out;
    for (const auto& endpoint : endpoints::AllEndpoints()) {
        out += endpoint.role + "\t" + endpoint.host + "\t" + std::to_string(endpoint.port) + "\t" +
               endpoint.protocol + "\n";
    }
    return out;
}

}  // namespace lumidex
