// Fuzz entry point of the console's outputs (tests/fuzz/CorpusMain.cpp replays its corpus): a
// whole run result whose every text is bytes from the input, as a hostile portal, hosts file,
// channel list or registry could make them, printed as JSON and as text. The input is read as
// a stream: a byte picks each choice, a length byte and that many bytes make each text; past
// its end every choice is 0 and every text empty. Returns 0; aborts when the JSON cannot hold
// a text, does not parse back, or changes a text that was well-formed UTF-8. A few hundred
// inputs a second under the sanitizers: each is a whole result, printed twice and parsed.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "console/ConsoleOutput.h"
#include "platform/TextCodec.h"

namespace {

[[noreturn]] void Broken(const char* what) {
    std::fprintf(stderr, "FuzzResultOutput: %s\n", what);
    std::abort();
}

class Input {
public:
    explicit Input(std::string_view bytes) : m_bytes(bytes) {}

    unsigned Byte() {
        if (m_bytes.empty()) {
            return 0;
        }
        const auto byte = static_cast<unsigned char>(m_bytes.front());
        m_bytes.remove_prefix(1);
        return byte;
    }
    std::string Text() {
        const std::size_t size = std::min<std::size_t>(Byte(), m_bytes.size());
        std::string text(m_bytes.substr(0, size));
        m_bytes.remove_prefix(size);
        return text;
    }

private:
    std::string_view m_bytes;
};

lumidex::Problem ProblemFrom(Input& in) {
    using namespace lumidex;
    const auto catalog = ProblemCatalog();
    Problem problem;
    problem.code = catalog[in.Byte() % catalog.size()].code;
    problem.severity = static_cast<Severity>(in.Byte() % 3);
    for (unsigned n = in.Byte() % 3; n > 0; --n) {
        problem.targets.push_back(in.Text());
    }
    problem.detail = in.Text();
    return problem;
}

lumidex::ProbeRecord ProbeFrom(Input& in) {
    using namespace lumidex;
    ProbeRecord probe;
    probe.kind = static_cast<ProbeKind>(in.Byte() % 5);
    probe.outcome = static_cast<ProbeOutcome>(in.Byte() % 6);
    if (const unsigned rtt = in.Byte(); rtt % 2 == 1) {
        probe.rttMs = rtt * 16.5;
    }
    probe.target = in.Text();
    probe.step = in.Text();
    return probe;
}

lumidex::BurstStats BurstFrom(Input& in) {
    lumidex::BurstStats stats;
    stats.target = in.Text();
    stats.sent = static_cast<int>(in.Byte());
    stats.received = static_cast<int>(in.Byte());
    stats.lossPct = in.Byte() * 0.5;
    if (const unsigned rtt = in.Byte(); rtt % 2 == 1) {
        stats.rttMedianMs = rtt * 3.25;
        stats.rttP95Ms = rtt * 4.5;
        stats.jitterMs = in.Byte() * 0.75;
    }
    return stats;
}

// The path block: its targets are names from the rows, its addresses from routers.
lumidex::PathResult PathFrom(Input& in) {
    using namespace lumidex;
    PathResult path;
    if (in.Byte() % 2 == 1) {
        path.gateway = BurstFrom(in);
    }
    for (unsigned n = in.Byte() % 4; n > 0; --n) {
        path.udp.push_back(BurstFrom(in));
    }
    for (unsigned n = in.Byte() % 3; n > 0; --n) {
        TraceResult trace;
        trace.trace.target = in.Text();
        trace.trace.reached = in.Byte() % 2 == 1;
        for (unsigned hops = in.Byte() % 5; hops > 0; --hops) {
            TraceHop hop;
            hop.ttl = static_cast<int>(in.Byte());
            if (in.Byte() % 2 == 1) {
                hop.address = in.Text();
            }
            hop.sent = static_cast<int>(in.Byte() % 4);
            hop.received = static_cast<int>(in.Byte() % 4);
            trace.trace.hops.push_back(std::move(hop));
        }
        if (in.Byte() % 2 == 1) {
            trace.breaksAt = BreakPoint{static_cast<int>(in.Byte()), in.Text(),
                                        static_cast<BreakWhere>(in.Byte() % 3)};
        }
        path.traces.push_back(std::move(trace));
    }
    for (unsigned n = in.Byte() % 3; n > 0; --n) {
        path.problems.push_back(ProblemFrom(in));
    }
    return path;
}

bool IsWellFormed(const std::string& text) {
    return lumidex::platform::ValidUtf8(text) == text;
}

}  // namespace

int FuzzResultOutput(const uint8_t* data, size_t size) {
    using namespace lumidex;
    Input in(std::string_view(reinterpret_cast<const char*>(data), size));
    CheckListModel model;
    model.Rebuild(in.Byte() % 2 == 1);
    RunResult result;
    result.rows = &model;
    for (int row = 0; row < model.RowCount(); ++row) {
        model.SetStatus(row, static_cast<CheckStatus>(in.Byte() % 4));
        if (in.Byte() % 4 == 0) {
            model.SetText(row, 0, in.Text());
        }
        model.SetText(row, 1, in.Text());
        RowDiagnosis diagnosis;
        for (unsigned n = in.Byte() % 4; n > 0; --n) {
            diagnosis.problems.push_back(ProblemFrom(in));
        }
        for (unsigned n = in.Byte() % 4; n > 0; --n) {
            diagnosis.probes.push_back(ProbeFrom(in));
        }
        result.diagnosis.push_back(std::move(diagnosis));
    }
    result.total = static_cast<int>(in.Byte());
    result.checked = static_cast<int>(in.Byte());
    result.warnings = static_cast<int>(in.Byte());
    result.errors = static_cast<int>(in.Byte());
    result.reportable = in.Byte() % 2 == 1;
    result.submitEnabled = in.Byte() % 2 == 1;
    result.findings = in.Text();
    result.summary = in.Text();
    result.logPath = in.Text();
    result.version = in.Text();
    result.startedAt = in.Text();
    if (in.Byte() % 2 == 1) {
        result.desktopConnectivity = in.Text();
    }
    const std::string notes = in.Text();
    // The router's and the STUN servers' texts are outside bytes too.
    if (in.Byte() % 2 == 1) {
        P2pResult p2p;
        p2p.verdict = static_cast<P2pVerdict>(in.Byte() % 5);
        p2p.mapping = static_cast<NatMapping>(in.Byte() % 6);
        p2p.filtering = static_cast<NatFiltering>(in.Byte() % 4);
        if (in.Byte() % 2 == 1) {
            p2p.mappedAddress = TransportAddress{in.Text(), static_cast<std::uint16_t>(in.Byte())};
        }
        for (unsigned n = in.Byte() % 4; n > 0; --n) {
            PortMappingAnswer answer;
            answer.protocol = static_cast<PortMappingProtocol>(in.Byte() % 3);
            answer.available = in.Byte() % 2 == 1;
            answer.externalAddress = in.Text();
            answer.detail = in.Text();
            p2p.portMapping.push_back(std::move(answer));
        }
        p2p.ipv6.globalAddress = in.Text();
        for (unsigned n = in.Byte() % 3; n > 0; --n) {
            p2p.problems.push_back(ProblemFrom(in));
        }
        for (unsigned n = in.Byte() % 3; n > 0; --n) {
            ProbeRecord probe = ProbeFrom(in);
            probe.kind = static_cast<ProbeKind>(in.Byte() % 9);
            p2p.probes.push_back(std::move(probe));
        }
        result.p2p = std::move(p2p);
    }
    if (in.Byte() % 2 == 1) {
        result.path = PathFrom(in);
    }

    // The object itself holds UTF-8 only: printed without the writer's own replacement too,
    // and then exactly as the console prints it.
    const nlohmann::json object = ResultToJson(result);
    std::string strict;
    try {
        strict = object.dump(2);
    } catch (const nlohmann::json::exception&) {
        Broken("a text the JSON cannot hold");
    }
    const std::string printed = FormatJson(object);
    if (printed != strict) {
        Broken("the printed JSON is not the object's");
    }
    const nlohmann::json parsed = nlohmann::json::parse(printed, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object()) {
        Broken("the JSON does not parse back");
    }
    if (parsed["rows"].size() != model.Rows().size()) {
        Broken("a row is missing from the JSON");
    }
    if (parsed.contains("p2p") != result.p2p.has_value()) {
        Broken("the P2P block is missing from the JSON");
    }
    if (parsed.contains("path") != result.path.has_value()) {
        Broken("the path block is missing from the JSON");
    }
    for (std::size_t i = 0; i < model.Rows().size(); ++i) {
        const std::string& detail = model.Rows()[i].detail;
        if (IsWellFormed(detail) && parsed["rows"][i]["detail"] != detail) {
            Broken("a well-formed detail changed in the JSON");
        }
    }
    if (IsWellFormed(result.findings) && parsed["findings"] != result.findings) {
        Broken("well-formed findings changed in the JSON");
    }
    (void)FormatResultText(result, notes);
    return 0;
}
