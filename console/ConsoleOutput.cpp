#include "console/ConsoleOutput.h"

#include <cstdio>
#include <ctime>

#include "engine/Endpoints.h"
#include "platform/TextCodec.h"
#include "startup/ClientChecks.h"

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

// Row texts keep the bytes the checks put there (a hosts file's names among them); the JSON
// holds UTF-8 only, with those bytes read as the log shows them.
nlohmann::json Text(const std::string& text) {
    return platform::Utf8WithGbkToUtf8(text);
}

nlohmann::json Texts(const std::vector<std::string>& texts) {
    auto list = nlohmann::json::array();
    for (const std::string& text : texts) {
        list.push_back(Text(text));
    }
    return list;
}

RowDiagnosis DiagnosisOf(const RunResult& result, std::size_t row) {
    return row < result.diagnosis.size() ? result.diagnosis[row] : RowDiagnosis{};
}

// The rows' item ids start at 1; the blocks beside the rows stand on none.
nlohmann::json RowOf(int row) {
    return row >= 1 ? nlohmann::json(row) : nlohmann::json(nullptr);
}

nlohmann::json DiagnosisToJson(const RunExplanation& explanation) {
    auto primary = nlohmann::json::array();
    for (const PrimaryCause& cause : explanation.primary) {
        primary.push_back({{"code", InfoOf(cause.problem.code).name},
                           {"row", RowOf(cause.row)},
                           {"targets", Texts(cause.problem.targets)}});
    }
    return {{"primary", std::move(primary)}, {"explained", explanation.explained}};
}

nlohmann::json ProblemToJson(const Problem& problem) {
    const ProblemInfo& info = InfoOf(problem.code);
    nlohmann::json entry = {{"code", info.name},
                            {"severity", SeverityName(problem.severity)},
                            {"targets", Texts(problem.targets)},
                            {"advice", info.advice}};
    if (!problem.detail.empty()) {
        entry["detail"] = Text(problem.detail);
    }
    return entry;
}

nlohmann::json ProbeToJson(const ProbeRecord& probe) {
    nlohmann::json entry = {{"kind", ProbeKindName(probe.kind)},
                            {"target", Text(probe.target)},
                            {"step", Text(probe.step)},
                            {"outcome", ProbeOutcomeName(probe.outcome)}};
    entry["rtt_ms"] = probe.rttMs ? nlohmann::json(*probe.rttMs) : nlohmann::json(nullptr);
    return entry;
}

}  // namespace

std::vector<Problem> AllProblems(const RunResult& result) {
    std::vector<Problem> problems;
    const auto& rows = result.rows->Rows();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        for (Problem& problem : RowProblems(rows[i].id, DiagnosisOf(result, i))) {
            problems.push_back(std::move(problem));
        }
    }
    if (result.p2p) {
        problems.insert(problems.end(), result.p2p->problems.begin(), result.p2p->problems.end());
    }
    if (result.path) {
        problems.insert(problems.end(), result.path->problems.begin(), result.path->problems.end());
    }
    return problems;
}

std::vector<RunProblem> AllRunProblems(const RunResult& result) {
    std::vector<RunProblem> problems;
    const auto& rows = result.rows->Rows();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        for (Problem& problem : RowProblems(rows[i].id, DiagnosisOf(result, i))) {
            problems.push_back({rows[i].id, std::move(problem)});
        }
    }
    if (result.p2p) {
        for (const Problem& problem : result.p2p->problems) {
            problems.push_back({kP2pBlockItem, problem});
        }
    }
    if (result.path) {
        for (const Problem& problem : result.path->problems) {
            problems.push_back({kPathBlockItem, problem});
        }
    }
    return problems;
}

RunExplanation ExplainResult(const RunResult& result) {
    return ExplainRun(AllRunProblems(result));
}

std::string FormatAdviceBlock(const RunResult& result) {
    const RunExplanation explanation = ExplainResult(result);
    if (explanation.problems.empty()) {
        return {};
    }
    std::string block = "建议\n";
    if (!explanation.primary.empty()) {
        block += "主要原因\n";
        for (const PrimaryAdvice& advice : PrimaryAdviceLines(explanation)) {
            block += "- " + advice.line + "\n";
            if (advice.explains > 0) {
                block += "  另有" + std::to_string(advice.explains) + "个问题由此引起\n";
            }
        }
    }
    std::vector<Problem> others;
    for (const RunProblem& other : explanation.others) {
        others.push_back(other.problem);
    }
    if (!others.empty()) {
        block += "其他问题\n";
        for (const std::string& line : AdviceLines(others)) {
            block += "- " + line + "\n";
        }
    }
    return block;
}

std::string Iso8601Utc(std::chrono::system_clock::time_point when) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string FormatPrefixText(const PrefixChoice& prefix) {
    std::string out = "Wine prefix: " + platform::ValidUtf8(prefix.path) + " (found by " +
                      std::string(PrefixSourceName(prefix.foundBy)) + ")\n";
    if (!prefix.ClientFound()) {
        out += "  it does not hold the Kelvora client\n";
    }
    for (const std::string& other : prefix.others) {
        out += "  the client is also in " + platform::ValidUtf8(other) + "\n";
    }
    for (const SkippedPlace& skipped : prefix.skipped) {
        out += "  passed over " + platform::ValidUtf8(skipped.path) + ": " +
               platform::ValidUtf8(skipped.reason) + "\n";
    }
    return out;
}

nlohmann::json PrefixToJson(const PrefixChoice& prefix) {
    auto others = nlohmann::json::array();
    for (const std::string& other : prefix.others) {
        others.push_back(platform::ValidUtf8(other));
    }
    auto skipped = nlohmann::json::array();
    for (const SkippedPlace& place : prefix.skipped) {
        skipped.push_back({{"path", platform::ValidUtf8(place.path)},
                           {"reason", platform::ValidUtf8(place.reason)}});
    }
    return {{"path", platform::ValidUtf8(prefix.path)},
            {"found_by", PrefixSourceName(prefix.foundBy)},
            {"others", std::move(others)},
            {"skipped", std::move(skipped)}};
}

nlohmann::json ClientToJson(const platform::ClientProcess& client) {
    return {{"running", client.running},
            {"pid", client.pid ? nlohmann::json(*client.pid) : nlohmann::json(nullptr)},
            {"udp_ports", client.ports.udp},
            {"tcp_ports", client.ports.tcp}};
}

std::string FormatP2pText(const P2pResult& p2p) {
    std::string out = "P2P连通性\n";
    out += "- 结论: " + std::string(P2pVerdictWord(p2p.verdict)) + " (" +
           std::string(P2pVerdictName(p2p.verdict)) + ")\n";
    out += "- NAT映射: " + std::string(NatMappingName(p2p.mapping)) +
           ", 过滤: " + std::string(NatFilteringName(p2p.filtering)) + "\n";
    out += "- 外网地址: " +
           (p2p.mappedAddress ? platform::ValidUtf8(ToString(*p2p.mappedAddress)) : "无") + "\n";
    for (const PortMappingAnswer& answer : p2p.portMapping) {
        out += "- 端口映射 " + std::string(PortMappingProtocolName(answer.protocol)) + ": " +
               (answer.available ? "可用" : "不可用");
        if (!answer.externalAddress.empty()) {
            out += ", 外网地址 " + platform::ValidUtf8(answer.externalAddress);
        }
        if (!answer.detail.empty()) {
            out += " (" + platform::ValidUtf8(answer.detail) + ")";
        }
        out += "\n";
    }
    if (p2p.doubleNat) {
        out += "- 双重NAT\n";
    }
    if (p2p.carrierGradeNat) {
        out += "- 运营商级NAT\n";
    }
    out +=
        "- IPv6: " + (p2p.ipv6.globalAddress.empty() ? "无公网地址"
                                                     : platform::ValidUtf8(p2p.ipv6.globalAddress));
    if (p2p.ipv6.udpAnswered) {
        out += *p2p.ipv6.udpAnswered ? ", UDP可用" : ", UDP不通";
    }
    return out + "\n";
}

nlohmann::json P2pToJson(const P2pResult& p2p) {
    const auto textOrNull = [](const std::string& text) {
        return text.empty() ? nlohmann::json(nullptr) : Text(text);
    };
    auto portMapping = nlohmann::json::array();
    for (const PortMappingAnswer& answer : p2p.portMapping) {
        portMapping.push_back({{"protocol", PortMappingProtocolName(answer.protocol)},
                               {"available", answer.available},
                               {"external_address", textOrNull(answer.externalAddress)},
                               {"detail", Text(answer.detail)}});
    }
    auto problems = nlohmann::json::array();
    for (const Problem& problem : p2p.problems) {
        problems.push_back(ProblemToJson(problem));
    }
    auto probes = nlohmann::json::array();
    for (const ProbeRecord& probe : p2p.probes) {
        probes.push_back(ProbeToJson(probe));
    }
    return {
        {"verdict", P2pVerdictName(p2p.verdict)},
        {"udp", p2p.udp},
        {"mapped_address",
         p2p.mappedAddress ? Text(ToString(*p2p.mappedAddress)) : nlohmann::json(nullptr)},
        {"mapping", NatMappingName(p2p.mapping)},
        {"filtering", NatFilteringName(p2p.filtering)},
        {"port_mapping", std::move(portMapping)},
        {"double_nat", p2p.doubleNat},
        {"carrier_grade_nat", p2p.carrierGradeNat},
        {"ipv6",
         {{"address", textOrNull(p2p.ipv6.globalAddress)},
          {"udp", p2p.ipv6.udpAnswered ? nlohmann::json(*p2p.ipv6.udpAnswered)
                                       : nlohmann::json(nullptr)}}},
        {"problems", std::move(problems)},
        {"probes", std::move(probes)},
    };
}

namespace {

nlohmann::json OptionalMs(const std::optional<double>& ms) {
    return ms ? nlohmann::json(*ms) : nlohmann::json(nullptr);
}

nlohmann::json BurstToJson(const BurstStats& stats) {
    return {{"sent", stats.sent},
            {"received", stats.received},
            {"loss_pct", stats.lossPct},
            {"rtt_ms_median", OptionalMs(stats.rttMedianMs)},
            {"jitter_ms", OptionalMs(stats.jitterMs)}};
}

std::string Figure(const char* format, double value) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string BurstLine(const BurstStats& stats) {
    std::string line = "发送" + std::to_string(stats.sent) + ", 收到" +
                       std::to_string(stats.received) + ", 丢包" + Figure("%.0f%%", stats.lossPct);
    if (stats.rttMedianMs) {
        line += ", 延迟中位" + Figure("%.1fms", *stats.rttMedianMs);
    }
    if (stats.rttP95Ms) {
        line += ", P95 " + Figure("%.1fms", *stats.rttP95Ms);
    }
    if (stats.jitterMs) {
        line += ", 抖动" + Figure("%.1fms", *stats.jitterMs);
    }
    return line;
}

std::string_view BreakWhereWord(BreakWhere where) {
    switch (where) {
        case BreakWhere::Local:
            return "本地网络";
        case BreakWhere::Provider:
            return "运营商";
        case BreakWhere::Service:
            return "服务端";
    }
    return "运营商";
}

}  // namespace

std::string FormatPathText(const PathResult& path) {
    std::string out = "线路质量\n";
    if (path.gateway && Measured(*path.gateway)) {
        out += "- 网关 " + platform::ValidUtf8(path.gateway->target) + ": " +
               BurstLine(*path.gateway) + "\n";
    }
    for (const BurstStats& stats : path.udp) {
        if (Measured(stats)) {
            out += "- UDP " + platform::ValidUtf8(stats.target) + ": " + BurstLine(stats) + "\n";
        }
    }
    for (const TraceResult& traced : path.traces) {
        if (!traced.breaksAt) {
            continue;
        }
        const BreakPoint& at = *traced.breaksAt;
        out += "- 到 " + platform::ValidUtf8(traced.trace.target) + " 的线路断在第" +
               std::to_string(at.ttl) + "跳 " +
               (at.address.empty() ? std::string("?") : platform::ValidUtf8(at.address)) + " (" +
               std::string(BreakWhereWord(at.where)) + ")\n";
    }
    return out;
}

nlohmann::json PathToJson(const PathResult& path) {
    auto udp = nlohmann::json::array();
    for (const BurstStats& stats : path.udp) {
        nlohmann::json entry = BurstToJson(stats);
        entry["target"] = Text(stats.target);
        entry["rtt_ms_p95"] = OptionalMs(stats.rttP95Ms);
        udp.push_back(std::move(entry));
    }
    auto traces = nlohmann::json::array();
    for (const TraceResult& traced : path.traces) {
        auto hops = nlohmann::json::array();
        for (const TraceHop& hop : traced.trace.hops) {
            hops.push_back({{"ttl", hop.ttl},
                            {"address", hop.address ? Text(*hop.address) : nlohmann::json(nullptr)},
                            {"sent", hop.sent},
                            {"received", hop.received},
                            {"rtt_ms_median", OptionalMs(hop.rttMedianMs)}});
        }
        nlohmann::json breaksAt = nullptr;
        if (traced.breaksAt) {
            breaksAt = {{"ttl", traced.breaksAt->ttl},
                        {"address", Text(traced.breaksAt->address)},
                        {"where", BreakWhereName(traced.breaksAt->where)}};
        }
        traces.push_back({{"target", Text(traced.trace.target)},
                          {"reached", traced.trace.reached},
                          {"hops", std::move(hops)},
                          {"breaks_at", std::move(breaksAt)}});
    }
    auto problems = nlohmann::json::array();
    for (const Problem& problem : path.problems) {
        problems.push_back(ProblemToJson(problem));
    }
    auto probes = nlohmann::json::array();
    for (const ProbeRecord& probe : path.probes) {
        probes.push_back(ProbeToJson(probe));
    }
    return {
        {"gateway", path.gateway ? BurstToJson(*path.gateway) : nlohmann::json(nullptr)},
        {"udp", std::move(udp)},
        {"traces", std::move(traces)},
        {"problems", std::move(problems)},
        {"probes", std::move(probes)},
    };
}

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
    if (result.p2p) {
        out += "\n" + FormatP2pText(*result.p2p);
    }
    if (result.path) {
        out += "\n" + FormatPathText(*result.path);
    }
    if (const std::string advice = FormatAdviceBlock(result); !advice.empty()) {
        out += "\n" + advice;
    }
    if (!result.logPath.empty()) {
        out += "\nlog: " + result.logPath + "\n";
    }
    return out;
}

nlohmann::json ResultToJson(const RunResult& result) {
    const RunExplanation explanation = ExplainResult(result);
    // The explanation holds the rows' problems in the order they are walked here.
    std::size_t explained = 0;
    auto rows = nlohmann::json::array();
    const auto& model = result.rows->Rows();
    for (std::size_t i = 0; i < model.size(); ++i) {
        const CheckRow& row = model[i];
        nlohmann::json entry = {
            {"id", row.id}, {"name", Text(row.caption)}, {"detail", Text(row.detail)}};
        entry["status"] = row.IsSeparator() ? nlohmann::json(nullptr)
                                            : nlohmann::json(CheckStatusName(*row.status));
        const RowDiagnosis diagnosis = DiagnosisOf(result, i);
        auto problems = nlohmann::json::array();
        for (const Problem& problem : RowProblems(row.id, diagnosis)) {
            nlohmann::json entry = ProblemToJson(problem);
            if (explained < explanation.problems.size()) {
                if (const auto& cause = explanation.problems[explained].causedBy) {
                    entry["caused_by"] = InfoOf(*cause).name;
                }
            }
            ++explained;
            problems.push_back(std::move(entry));
        }
        auto probes = nlohmann::json::array();
        for (const ProbeRecord& probe : diagnosis.probes) {
            probes.push_back(ProbeToJson(probe));
        }
        entry["problems"] = std::move(problems);
        entry["probes"] = std::move(probes);
        rows.push_back(std::move(entry));
    }
    nlohmann::json out = {
        {"schema_version", kResultSchemaVersion},
        {"version", Text(result.version)},
        {"started_at", Text(result.startedAt)},
        {"duration_ms", result.durationMs},
        {"rows", std::move(rows)},
        {"total", result.total},
        {"checked", result.checked},
        {"warnings", result.warnings},
        {"errors", result.errors},
        {"reportable", result.reportable},
        {"submit_enabled", result.submitEnabled},
        {"findings", Text(result.findings)},
        {"summary", Text(result.summary)},
        {"log_path", Text(result.logPath)},
        {"diagnosis", DiagnosisToJson(explanation)},
    };
    if (result.desktopConnectivity) {
        out["desktop_connectivity"] = Text(*result.desktopConnectivity);
    }
    if (result.winePrefix) {
        out["wine_prefix"] = PrefixToJson(*result.winePrefix);
    }
    if (result.client) {
        out["client"] = ClientToJson(*result.client);
    }
    if (result.p2p) {
        nlohmann::json p2p = P2pToJson(*result.p2p);
        // The P2P problems follow the rows' in the explanation, in the same order.
        for (nlohmann::json& problem : p2p["problems"]) {
            if (explained < explanation.problems.size()) {
                if (const auto& cause = explanation.problems[explained].causedBy) {
                    problem["caused_by"] = InfoOf(*cause).name;
                }
            }
            ++explained;
        }
        out["p2p"] = std::move(p2p);
    }
    if (result.path) {
        out["path"] = PathToJson(*result.path);
    }
    return out;
}

std::string FormatResultJson(const RunResult& result) {
    return FormatJson(ResultToJson(result));
}

std::string FormatJson(const nlohmann::json& value) {
    return value.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
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
