// The configuration reader's log lines and lists, and the choice of the adapter to report,
// from fixture records.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/Diagnosis.h"
#include "engine/ProbeCapture.h"
#include "probes/NetworkConfig.h"
#include "probes/TqGlobalMothed.h"
#include "support/LogCapture.h"
#include "support/WithoutThreads.h"

namespace {

using lumidex::CTqGlobalMothed;
using lumidex::NetworkConfig;
using lumidex::NetworkConfigSource;
using lumidex::NetworkSeams;
using lumidex::platform::AdapterRecord;
using lumidex::platform::NetworkParams;
using lumidex::testing::LogCapture;
using Texts = std::vector<std::string>;
using Adapters = std::vector<AdapterRecord>;

AdapterRecord Adapter(Texts addresses, Texts gateways, std::uint32_t dhcp = 0, Texts servers = {}) {
    AdapterRecord record;
    record.currentAddress = addresses.empty() ? "" : addresses.front();
    record.addresses = std::move(addresses);
    record.gateways = std::move(gateways);
    record.dhcpEnabled = dhcp;
    record.dhcpServers = std::move(servers);
    return record;
}

// A source whose adapter list the test changes between fetches.
NetworkConfigSource Source(NetworkParams params, const Adapters* adapters) {
    return {[params] { return params; }, [adapters] { return *adapters; }};
}

NetworkSeams ProbesOf(NetworkConfigSource source) {
    NetworkSeams probes;
    probes.config = std::move(source);
    return probes;
}

TEST(NetworkConfig, LogsTheGlobalParametersWhenCreatedAndKeepsOnlyRealAddresses) {
    struct Row {
        NetworkParams params;
        Texts servers;
        Texts lines;
    } rows[] = {
        {{"pc1", "lan", {"10.0.0.1", "", "1.23", "10.0.0.2"}, 1},
         {"10.0.0.1", "10.0.0.2"},
         {"主机名:pc1", "域名:lan", "是否激活dns:Yes", "DNS服务器IP:", "10.0.0.1", "10.0.0.2"}},
        {{"", "", {""}, 7}, {}, {"主机名:", "域名:", "是否激活dns:Yes", "DNS服务器IP:"}},
        {{"h", "", {}, 0}, {}, {"主机名:h", "域名:", "是否激活dns:No", "DNS服务器IP:"}},
    };
    for (const Row& row : rows) {
        LogCapture log;
        const Adapters none;
        const NetworkConfig config(Source(row.params, &none));
        EXPECT_EQ(config.DnsServers(), row.servers);
        EXPECT_EQ(config.HostName(), row.params.hostName);
        EXPECT_EQ(config.DnsEnabled(), row.params.dnsEnabled);
        EXPECT_EQ(log.Lines(), row.lines);
    }
}

TEST(NetworkConfig, ReadsAndLogsAdaptersOneAtATime) {
    Adapters adapters = {
        Adapter({"10.0.0.5", "", "10.0.0.6"}, {"10.0.0.1", "1.1"}, 1, {"10.0.0.254"}),
        Adapter({}, {}, 9),
        Adapter({"0.0.0.0"}, {}),
    };
    LogCapture log;
    NetworkConfig config(Source({}, &adapters));
    log.Clear();

    ASSERT_TRUE(config.FirstAdapter());
    EXPECT_EQ(log.Lines(),
              (Texts{"网卡信息", "是否激活DHCP:Yes", "当前IP:10.0.0.5", "所有IP:", "10.0.0.5",
                     "10.0.0.6", "默认网关IP:", "10.0.0.1", "DHCP IP:", "10.0.0.254"}));
    log.Clear();
    // No current address: the previous adapter's text stays.
    EXPECT_TRUE(config.NextAdapter());
    EXPECT_EQ(log.Lines(), (Texts{"网卡信息", "是否激活DHCP:Yes", "当前IP:10.0.0.5",
                                  "所有IP:", "默认网关IP:", "DHCP IP:"}));
    EXPECT_FALSE(config.NextAdapter());
    EXPECT_EQ(config.AdapterAddresses(), Texts{"0.0.0.0"});
    EXPECT_EQ(config.AdapterCurrentAddress(), "0.0.0.0");
    EXPECT_EQ(config.AdapterDhcpEnabled(), 0u);
    log.Clear();
    EXPECT_FALSE(config.NextAdapter());
    EXPECT_TRUE(log.Lines().empty());

    // A fetch that finds nothing ends the walk over the old list too.
    ASSERT_TRUE(config.FirstAdapter());
    adapters.clear();
    EXPECT_FALSE(config.FirstAdapter());
    EXPECT_FALSE(config.NextAdapter());
}

struct Selection {
    std::string localIp;
    std::string gateway;
};

TEST(SelectAdapter, ChoosesTheFirstAdapterWithAUsableAddressAndGateway) {
    struct Row {
        const char* what;
        Adapters earlier;  // a run before, on another list
        Adapters now;
        Selection expected;
        int blocks;  // adapter blocks logged by the run
    } rows[] = {
        {"disconnected adapter skipped although it has a gateway",
         {},
         {Adapter({"0.0.0.0"}, {"10.0.0.1"}), Adapter({"10.1.0.5"}, {"10.1.0.1"})},
         {"10.1.0.5", "10.1.0.1"},
         2},
        {"adapter without gateway skipped",
         {},
         {Adapter({"10.0.0.5"}, {}), Adapter({"10.1.0.5"}, {"10.1.0.1"}),
          Adapter({"10.2.0.5"}, {"10.2.0.1"})},
         {"10.1.0.5", "10.1.0.1"},
         2},
        {"first usable address and gateway in list order",
         {},
         {Adapter({"0.0.0.0", "255.1.1.1", "10.0.0.7", "10.0.0.8"}, {"0.9.9.9", "10.0.0.1"})},
         {"10.0.0.7", "10.0.0.1"},
         1},
        {"nothing usable keeps the values of an earlier run",
         {Adapter({"10.9.0.5"}, {"10.9.0.1"})},
         {Adapter({"0.0.0.0"}, {"10.0.0.1"}), Adapter({"10.0.0.5"}, {})},
         {"10.9.0.5", "10.9.0.1"},
         2},
        {"a single unsuitable adapter is read once", {}, {Adapter({"10.0.0.5"}, {})}, {}, 1},
        {"no adapter at all",
         {Adapter({"10.9.0.5"}, {"10.9.0.1"})},
         {},
         {"10.9.0.5", "10.9.0.1"},
         0},
    };
    for (const Row& row : rows) {
        Adapters adapters = row.earlier;
        CTqGlobalMothed methods(ProbesOf(Source({}, &adapters)));
        if (!row.earlier.empty()) {
            methods.SelectAdapter();
        }
        adapters = row.now;
        LogCapture log;
        methods.SelectAdapter();
        EXPECT_EQ(methods.LocalIp(), row.expected.localIp) << row.what;
        EXPECT_EQ(methods.DefaultGateway(), row.expected.gateway) << row.what;
        const Texts lines = log.Lines();
        EXPECT_EQ(std::count(lines.begin(), lines.end(), "网卡信息"), row.blocks) << row.what;
    }
}

std::uint32_t Ip(const char* text) {
    return ::inet_addr(text);
}

TEST(GetSelfIP, AppendsEveryAddressOfTheHostNameAndReturnsTheFirstNonzero) {
    using Addresses = std::vector<std::uint32_t>;
    struct Row {
        std::optional<std::string> hostName;
        Addresses resolved;
        std::uint32_t result;
    } rows[] = {
        {"pc1", {Ip("10.0.0.5"), Ip("10.0.0.6")}, Ip("10.0.0.5")},
        {"pc1", {0, Ip("10.0.0.6")}, Ip("10.0.0.6")},
        {"pc1", {}, 0},
        {std::nullopt, {Ip("10.0.0.5")}, 0},
    };
    for (const Row& row : rows) {
        const Adapters none;
        NetworkSeams probes = ProbesOf(Source({}, &none));
        probes.hostName = [&] { return row.hostName; };
        std::string looked;
        probes.resolve = [&](std::string_view name) {
            looked = name;
            return row.resolved;
        };
        CTqGlobalMothed methods(std::move(probes));
        Addresses list = {Ip("1.1.1.1")};
        EXPECT_EQ(methods.GetSelfIP(list), row.result);
        Addresses expected = {Ip("1.1.1.1")};
        if (row.hostName) {
            EXPECT_EQ(looked, *row.hostName);
            expected.insert(expected.end(), row.resolved.begin(), row.resolved.end());
        }
        EXPECT_EQ(list, expected);
    }
}

// Three turns, the first `answered` of them answered in 5 ms, the others unanswered.
std::vector<lumidex::EchoTurn> Turns(int answered) {
    std::vector<lumidex::EchoTurn> turns(3, {lumidex::EchoFate::TimedOut, 0});
    for (int i = 0; i < answered; ++i) {
        turns[static_cast<std::size_t>(i)] = {lumidex::EchoFate::Answered, 5};
    }
    return turns;
}

// The records of a row as "target outcome rtt" texts.
Texts RecordTexts(const lumidex::RowDiagnosis& row) {
    Texts texts;
    for (const lumidex::ProbeRecord& probe : row.probes) {
        EXPECT_EQ(probe.kind, lumidex::ProbeKind::Icmp);
        EXPECT_EQ(probe.step, "echo");
        texts.push_back(probe.target + " " + std::string(ProbeOutcomeName(probe.outcome)) +
                        (probe.rttMs ? " " + std::to_string(static_cast<int>(*probe.rttMs)) : ""));
    }
    return texts;
}

TEST(PingDnsServers, PingsEachServerThreeTimesAndJoinsThemWithCommas) {
    struct Row {
        std::optional<Texts> servers;  // nullopt: the configured ones
        std::string text;
        int total;
        Texts silent;
    } rows[] = {
        {Texts{"10.0.0.1", "10.0.0.2"}, "10.0.0.1,10.0.0.2", 4, {}},
        {Texts{"10.0.0.2"}, "10.0.0.2", 1, {}},
        {Texts{}, "", 0, {}},
        {std::nullopt, "10.0.0.1,10.0.0.3", 3, {"10.0.0.3"}},
        {Texts{"10.0.0.3", "10.0.0.4"}, "10.0.0.3,10.0.0.4", 0, {"10.0.0.3", "10.0.0.4"}},
    };
    const Adapters none;
    NetworkSeams probes = ProbesOf(Source({"h", "", {"10.0.0.1", "10.0.0.3"}, 1}, &none));
    Texts pinged;
    probes.pingHost = [&](std::string_view host, unsigned count) {
        EXPECT_EQ(count, 3u);
        pinged.emplace_back(host);
        return Turns(host == "10.0.0.1" ? 3 : host == "10.0.0.2" ? 1 : 0);
    };
    CTqGlobalMothed methods(std::move(probes));
    for (const Row& row : rows) {
        pinged.clear();
        const int total = methods.PingDnsServers(row.servers ? &*row.servers : nullptr);
        EXPECT_EQ(total, row.total) << row.text;
        EXPECT_EQ(methods.DnsServerText(), row.text);
        EXPECT_EQ(methods.SilentDnsServers(), row.silent) << row.text;
        EXPECT_EQ(pinged, row.servers ? *row.servers : methods.Network().DnsServers());
    }
}

// Side by side, every server's ping is under way before any of them ends; the text, the
// total and the records are as one after another: recorded by the calling thread (the only
// one a capture or the walk's row reaches), in the list's order whatever order the pings end in.
TEST(PingDnsServers, SideBySidePingsEveryServerAtOnce) {
    const Adapters none;
    NetworkSeams probes =
        ProbesOf(Source({"h", "", {"10.0.0.1", "10.0.0.2", "10.0.0.3"}, 1}, &none));
    std::mutex mutex;
    std::condition_variable arrived;
    int started = 0;
    bool together = true;
    probes.pingHost = [&](std::string_view host, unsigned) {
        {
            std::unique_lock lock(mutex);
            ++started;
            arrived.notify_all();
            together = arrived.wait_for(lock, std::chrono::seconds(10), [&] {
                return started == 3;
            }) && together;
        }
        if (host == "10.0.0.1") {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));  // ends last
            return std::vector<lumidex::EchoTurn>{{lumidex::EchoFate::Answered, 12},
                                                  {lumidex::EchoFate::Unreachable, 0},
                                                  {lumidex::EchoFate::Failed, 0}};
        }
        return Turns(host == "10.0.0.2" ? 2 : 0);
    };
    CTqGlobalMothed methods(std::move(probes));
    lumidex::TheRunDiagnosis().Reset();  // no current row: what a ping thread records is lost
    lumidex::ProbeCapture capture;
    {
        lumidex::CaptureScope scope(capture);
        EXPECT_EQ(methods.PingDnsServers(nullptr, true), 3);
    }
    EXPECT_TRUE(together);
    EXPECT_EQ(methods.DnsServerText(), "10.0.0.1,10.0.0.2,10.0.0.3");
    EXPECT_EQ(methods.SilentDnsServers(), Texts{"10.0.0.3"});
    lumidex::TheRunDiagnosis().SetCurrentRow(2);
    capture.Replay();
    EXPECT_EQ(RecordTexts(lumidex::TheRunDiagnosis().Row(2)),
              (Texts{"10.0.0.1 ok 12", "10.0.0.1 unreachable", "10.0.0.1 error", "10.0.0.2 ok 5",
                     "10.0.0.2 ok 5", "10.0.0.2 timeout", "10.0.0.3 timeout", "10.0.0.3 timeout",
                     "10.0.0.3 timeout"}));
    lumidex::TheRunDiagnosis().Reset();
}

// With no thread to be had (a tight pids.max), the pings side by side are pinged one after
// another instead of ending the program.
TEST(PingDnsServers, SideBySideWithoutThreadsPingsInLine) {
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's own mappings do not fit under the address-space cap";
#endif
    const Adapters none;
    NetworkSeams probes = ProbesOf(Source({"h", "", {"10.0.0.1", "10.0.0.2"}, 1}, &none));
    probes.pingHost = [](std::string_view host, unsigned) {
        return Turns(host == "10.0.0.1" ? 3 : 1);
    };
    CTqGlobalMothed methods(std::move(probes));
    const int status = lumidex::testing::RunWithoutThreads([&] {
        const bool same = methods.PingDnsServers(nullptr, true) == 4 &&
                          methods.DnsServerText() == "10.0.0.1,10.0.0.2";
        return same ? 0 : 1;
    });
    if (status == lumidex::testing::kThreadsStillStart) {
        GTEST_SKIP() << "threads still start under the cap here";
    }
    EXPECT_EQ(status, 0) << "-1: the ping ended the program";
}

}  // namespace
