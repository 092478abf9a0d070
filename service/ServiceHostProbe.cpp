#include "service/ServiceHostProbe.h"

#include <cstdio>

#include "engine/CheckEngine.h"
#include "probes/IcmpEcho.h"
#include "service/HttpGetClient.h"
#include "service/ServiceHostLists.h"

namespace lumidex::service {

std::string NormalShareText(int percent) {
    char text[32];
    std::snprintf(text, sizeof text, "正常连接:%d%%", percent);
    return text;
}

bool TestTcpConnection(const std::string& host) {
    HttpGetClient client;
    const bool connected = client.Connect(host, 0);
    client.Close();
    return connected;
}

HostTests SystemHostTests() {
    return {[](const std::string& host) { return PingHost(host, kEchoRequestsPerHost) > 0; },
            TestTcpConnection};
}

void ProbeServiceHosts(CheckEngine& engine, ServiceHostLists& lists, const std::string& itemName,
                       const std::vector<std::string>& hosts, HostTestMode mode,
                       const HostTests& tests) {
    if (hosts.empty()) {
        return;
    }
    AddFinding(itemName + "检测");
    Log(itemName);
    const int row = engine.FindItemRowByName(itemName);
    engine.SetCurrentItem(row);
    engine.SetStatusText(itemName);

    ServiceHostLists::HostsLock lock(lists);
    const auto& test = mode == HostTestMode::Ping ? tests.ping : tests.connect;
    unsigned failures = 0;
    for (const std::string& host : hosts) {
        if (!test(host)) {
            AddFinding("连接失败:" + host);
            ++failures;
        }
        engine.SetProgressPos(++engine.Counters().serviceProgress);
        engine.EnsureItemVisible(row);
        if (engine.StopIfRequested()) {
            break;
        }
    }
    // Hosts left untested by a stop count as normal: the share is over the whole group.
    const unsigned failedShare = failures * 100 / static_cast<unsigned>(hosts.size());
    const int normalShare = 100 - static_cast<int>(failedShare);
    engine.SetItemText(row, 1, NormalShareText(normalShare));
    engine.SetItemStatus(row, normalShare > 0 ? CheckStatus::Ok : CheckStatus::Error);
    if (failures == hosts.size()) {
        engine.Counters().reportable = 1;
        ++engine.Counters().errorCount;
    }
}

}  // namespace lumidex::service
