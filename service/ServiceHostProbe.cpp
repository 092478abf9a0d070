#include "service/ServiceHostProbe.h"

#include "engine/DiagLog.h"
#include "engine/FindingsText.h"
#include "engine/ProbeReporter.h"
#include "engine/ProbeTasks.h"
#include "net/HttpGetClient.h"
#include "net/IcmpEcho.h"
#include "service/ServiceHostLists.h"

namespace lumidex {

bool TestTcpConnection(const std::string& host, ProbeTasks* cancel) {
    HttpGetClient client;
    const ProbeTasks::CancelHook hook(cancel, [&client] { client.Close(); });
    if (hook.Cancelled()) {
        return false;
    }
    const bool connected = client.Connect(host, 0);
    client.Close();
    return connected;
}

HostTests SystemHostTests() {
    return {[](const std::string& host) { return PingHost(host, kEchoRequestsPerHost) > 0; },
            [](const std::string& host) { return TestTcpConnection(host); }};
}

void ProbeServiceHosts(ProbeReporter& reporter, ServiceHostLists& lists,
                       const std::string& itemName, const std::vector<std::string>& hosts,
                       HostTestMode mode, const HostTests& tests) {
    const auto& test = mode == HostTestMode::Ping ? tests.ping : tests.connect;
    WalkServiceHosts(reporter, lists, itemName, hosts,
                     [&](std::size_t index) { return test(hosts[index]); });
}

void WalkServiceHosts(ProbeReporter& reporter, ServiceHostLists& lists, const std::string& itemName,
                      const std::vector<std::string>& hosts, const HostOutcome& outcome) {
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
    for (std::size_t i = 0; i < hosts.size(); ++i) {
        if (!outcome(i)) {
            AddFinding("连接失败:" + hosts[i]);
            ++failures;
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
}

}  // namespace lumidex
