#include "service/ServiceHostProbe.h"

#include <arpa/inet.h>

#include <algorithm>
#include <chrono>
#include <optional>

#include "engine/DiagLog.h"
#include "engine/EchoRecords.h"
#include "engine/FindingsText.h"
#include "engine/ProbeReporter.h"
#include "engine/ProbeTasks.h"
#include "net/HttpGetClient.h"
#include "net/IcmpEcho.h"
#include "platform/HostLookup.h"
#include "service/ServiceHostLists.h"

namespace lumidex {
namespace {

// The name's first IPv4 address, in network order; 0 when it does not resolve. The failed
// look-up is a probe record; the walk makes the row's problem of all of them.
std::uint32_t LookUp(const std::string& name) {
    const auto started = std::chrono::steady_clock::now();
    const std::uint32_t address = platform::LookupHostIPv4(name);
    if (address == 0) {
        RecordProbe({ProbeKind::Dns, name, ProbeOutcome::Error, std::nullopt, "lookup"});
        return 0;
    }
    RecordProbe({ProbeKind::Dns, name, ProbeOutcome::Ok, MillisecondsSince(started), "lookup"});
    return address;
}

ProblemCode UnreachableCode(HostGroup group) {
    switch (group) {
        case HostGroup::Website:
            return ProblemCode::WebHostsUnreachable;
        case HostGroup::Information:
            return ProblemCode::InformationHostsUnreachable;
        case HostGroup::List:
            break;
    }
    return ProblemCode::ListHostsUnreachable;
}

// The names whose look-up failed among the row's probes, each once, in the order tried.
std::vector<std::string> UnresolvedNames(const RowDiagnosis& row) {
    std::vector<std::string> names;
    for (const ProbeRecord& probe : row.probes) {
        if (probe.kind == ProbeKind::Dns && probe.outcome != ProbeOutcome::Ok &&
            std::find(names.begin(), names.end(), probe.target) == names.end()) {
            names.push_back(probe.target);
        }
    }
    return names;
}

}  // namespace

bool TestTcpConnection(const std::string& host, ProbeTasks* cancel) {
    HttpGetClient client;
    const ProbeTasks::CancelHook hook(cancel, [&client] { client.Cancel(); });
    if (hook.Cancelled()) {
        return false;
    }
    // The look-up the client would make, made here so that it is timed apart from the
    // connect; a name that does not resolve was never connected to either.
    const HostAndPort target = HttpGetClient::SplitHostPort(host, 0);
    std::string address = target.name;
    if (!HttpGetClient::IsDottedName(target.name)) {
        const std::uint32_t found = LookUp(target.name);
        if (found == 0 || hook.Cancelled()) {
            return false;
        }
        address = platform::DottedAddress(found);
    }
    const auto started = std::chrono::steady_clock::now();
    const bool connected = client.Connect(address, target.port);
    const ProbeOutcome outcome = ConnectOutcome(client.LastConnectResult());
    RecordProbe({ProbeKind::Tcp, host, outcome,
                 connected ? std::optional<double>(MillisecondsSince(started)) : std::nullopt,
                 "connect"});
    client.Close();
    return connected;
}

bool PingServiceHost(const std::string& host) {
    std::string address = host;
    in_addr dotted{};
    if (::inet_pton(AF_INET, host.c_str(), &dotted) != 1) {
        const std::uint32_t found = LookUp(host);
        if (found == 0) {
            return false;
        }
        address = platform::DottedAddress(found);
    }
    const std::vector<EchoTurn> turns = PingHostTurns(address, kEchoRequestsPerHost);
    RecordEchoes(host, turns);
    return AnsweredTurns(turns) > 0;
}

HostTests SystemHostTests() {
    return {[](const std::string& host) { return PingServiceHost(host); },
            [](const std::string& host) { return TestTcpConnection(host); }};
}

void ProbeServiceHosts(ProbeReporter& reporter, ServiceHostLists& lists,
                       const std::string& itemName, HostGroup group,
                       const std::vector<std::string>& hosts, HostTestMode mode,
                       const HostTests& tests) {
    const auto& test = mode == HostTestMode::Ping ? tests.ping : tests.connect;
    WalkServiceHosts(reporter, lists, itemName, group, hosts,
                     [&](std::size_t index) { return test(hosts[index]); });
}

void WalkServiceHosts(ProbeReporter& reporter, ServiceHostLists& lists, const std::string& itemName,
                      HostGroup group, const std::vector<std::string>& hosts,
                      const HostOutcome& outcome) {
    if (hosts.empty()) {
        return;
    }
    AddFinding(itemName + "检测");
    Log(itemName);
    const int row = reporter.FindItemRowByName(itemName);
    reporter.SetCurrentItem(row);
    reporter.SetStatusText(itemName);

    ServiceHostLists::HostsLock lock(lists);
    unsigned failures = 0;
    std::vector<std::string> failed;
    for (std::size_t i = 0; i < hosts.size(); ++i) {
        if (!outcome(i)) {
            AddFinding("连接失败:" + hosts[i]);
            ++failures;
            failed.push_back(hosts[i]);
        }
        reporter.AdvanceProgress();
        reporter.EnsureItemVisible(row);
        if (reporter.StopIfRequested()) {
            break;
        }
    }
    // Hosts left untested by a stop count as normal: the share is over the whole group.
    const unsigned failedShare = failures * 100 / static_cast<unsigned>(hosts.size());
    const int normalShare = 100 - static_cast<int>(failedShare);
    reporter.SetItemText(row, 1, NormalShareText(normalShare));
    reporter.SetItemStatus(row, normalShare > 0 ? CheckStatus::Ok : CheckStatus::Error);
    if (failures == hosts.size()) {
        reporter.CountReportableError();
    }
    if (!failed.empty()) {
        // Some hosts answered: the row stays Ok, the failing ones are a warning; so are the
        // names among them that did not resolve, one problem naming all of them (joined to the
        // channel list's on the list row).
        const bool rowPasses = failures < hosts.size();
        const ProblemCode code = UnreachableCode(group);
        NoteProblem(MakeProblemAs(rowPasses ? Severity::Warning : InfoOf(code).severity, code,
                                  std::move(failed)));
        RunDiagnosis& diagnosis = TheRunDiagnosis();
        const int diagnosisRow = diagnosis.CurrentRow();
        std::vector<std::string> unresolved = UnresolvedNames(diagnosis.Row(diagnosisRow));
        if (!unresolved.empty()) {
            diagnosis.JoinProblem(
                diagnosisRow,
                MakeProblemAs(
                    rowPasses ? Severity::Warning : InfoOf(ProblemCode::DnsNotResolving).severity,
                    ProblemCode::DnsNotResolving, std::move(unresolved)));
        }
    }
}

}  // namespace lumidex
