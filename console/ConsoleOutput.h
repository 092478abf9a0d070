// What lumidex-console prints: rows as they land, the final table and notes, or one JSON
// object with the whole result.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "engine/CheckListModel.h"
#include "engine/Diagnosis.h"
#include "engine/P2pVerdict.h"
#include "engine/PathQuality.h"
#include "engine/ProblemExplanations.h"
#include "engine/QueuedDiagWindow.h"
#include "platform/ClientProcess.h"
#include "startup/PrefixDiscovery.h"

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
    // Beside the rows: each row's problems and probes, by row index.
    std::vector<RowDiagnosis> diagnosis;
    std::string startedAt;  // ISO 8601, UTC
    long long durationMs = 0;
    std::string version;
    // NetworkManager's verdict, where the desktop gave one.
    std::optional<std::string> desktopConnectivity;
    // The Wine prefix the run read, and the client's process as the run saw it; absent where
    // they are not known (the client: a run stopped before the software rows).
    std::optional<PrefixChoice> winePrefix;
    std::optional<platform::ClientProcess> client;
    // Whether peers can reach this computer; absent when the run stopped before it was known.
    std::optional<P2pResult> p2p;
    // The path measurements; absent when the run stopped before they ended.
    std::optional<PathResult> path;
};

// The JSON's layout version. Fields are only ever added under one version; a field renamed,
// removed or given another meaning makes a new one.
inline constexpr int kResultSchemaVersion = 1;

// Every row's problems, in row order (with the slow-probe ones), then the P2P block's and the
// path block's.
std::vector<Problem> AllProblems(const RunResult& result);
// Every row's problems with the row's item id, in row order.
std::vector<RunProblem> AllRunProblems(const RunResult& result);
// What explains what among them.
RunExplanation ExplainResult(const RunResult& result);
// "建议", then "主要原因" with the next step of each primary cause and how many problems it
// explains, then "其他问题" with the next step of the others nothing explains; empty when
// there is no problem. The explained problems are in the JSON only.
std::string FormatAdviceBlock(const RunResult& result);
// When a run began, as the JSON carries it.
std::string Iso8601Utc(std::chrono::system_clock::time_point when);

// The lines that name the prefix read and how it was found, printed before the rows.
std::string FormatPrefixText(const PrefixChoice& prefix);
nlohmann::json PrefixToJson(const PrefixChoice& prefix);
nlohmann::json ClientToJson(const platform::ClientProcess& client);
// The block "P2P连通性": verdict, NAT, port mapping, double and carrier-grade NAT, IPv6.
std::string FormatP2pText(const P2pResult& p2p);
nlohmann::json P2pToJson(const P2pResult& p2p);
// The block "线路质量": the bursts' loss and jitter, one line per trace that found a break.
std::string FormatPathText(const PathResult& path);
nlohmann::json PathToJson(const PathResult& path);

// One row as a line: caption, verdict and detail.
std::string FormatRowLine(const CheckRow& row);
// The rows, then the notes, for a person reading a terminal (CR LF become LF).
std::string FormatResultText(const RunResult& result, const std::string& notes);
// Every text in it is well-formed UTF-8: what came from outside and is not gets U+FFFD.
nlohmann::json ResultToJson(const RunResult& result);
// ResultToJson as --json prints it (indented, without its final line feed). Never throws: a
// byte that is still no UTF-8 becomes U+FFFD here too, so the result is always printed.
std::string FormatResultJson(const RunResult& result);
// Any JSON value as the console prints it, the same way.
std::string FormatJson(const nlohmann::json& value);
nlohmann::json EndpointsToJson();
std::string FormatEndpointsText();

}  // namespace lumidex
