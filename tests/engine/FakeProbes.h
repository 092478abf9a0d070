// Probes with scripted answers, and a harness that runs the engine with them against a
// QueuedDiagWindow and collects what a run leaves: rows, counters, findings and log lines.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ScriptedEngine.h"
#include "engine/CheckEngine.h"
#include "engine/DiagLog.h"
#include "engine/Diagnosis.h"
#include "engine/FindingsText.h"
#include "engine/QueuedDiagWindow.h"
#include "platform/TextCodec.h"
#include "support/DiagnosisText.h"
#include "support/Files.h"
#include "support/TempDir.h"

namespace lumidex::testing {

// One outcome of a row in a phase's table: how the fake is set up, and the row, detail, icon
// and counters that follow; each table adds what else it checks.
template <class Fake>
struct RowOutcome {
    const char* name;
    std::function<void(Fake&)> setUp;
    int id;
    std::string detail;
    CheckStatus status;
    int errors;
    int warnings;
};

struct FakeNetwork : NetworkProbes {
    std::string localIp = "192.0.2.10";
    std::string gateway = "192.0.2.1";
    std::string selfIp;
    int gatewayReplies = 3;
    int dnsReplies = 2;
    std::string dnsText = "192.0.2.53,192.0.2.54";
    std::vector<std::string> silentDns;
    bool offline = false;
    int proxySet = 0;
    int proxyReachable = 0;
    std::string proxyText;
    int connectionState = 2;
    std::string dialling;
    int internetPercent = 100;
    std::vector<std::string> unreachedSites;
    std::function<void(int id)> during;  // runs inside the probes of rows 3 and 7
    // The waiting probes (rows 2, 3, 7) write a log and a findings line each and answer last
    // to first when they run side by side.
    bool chatty = false;
    // Every probe records one probe named for what it asked (a host, the DNS text, "sites").

    void SelectAdapter() override {}
    std::string LocalIp() override { return localIp; }
    std::string DefaultGateway() override { return gateway; }
    std::string GetSelfIP() override { return selfIp; }
    int PingHost(const std::string& host, int) override {
        Chatter("ping " + host, 20);
        Record(ProbeKind::Icmp, host, gatewayReplies > 0);
        return gatewayReplies;
    }
    int PingDnsServers() override {
        if (during) {
            during(3);
        }
        Chatter("dns", 10);
        if (!dnsText.empty()) {
            Record(ProbeKind::Icmp, dnsText, dnsReplies > 0);
        }
        return dnsReplies;
    }
    static void Record(ProbeKind kind, const std::string& target, bool answered) {
        RecordProbe({kind, target, answered ? ProbeOutcome::Ok : ProbeOutcome::Timeout,
                     answered ? std::optional<double>(1) : std::nullopt, "echo"});
    }
    void Chatter(const std::string& line, int waitMs) const {
        if (chatty) {
            std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
            Log(line);
            AddFinding(line);
        }
    }
    std::string DnsServerText() override { return dnsText; }
    std::vector<std::string> SilentDnsServers() override { return silentDns; }
    bool IsIEOffline() override { return offline; }
    void CheckIEProxy(int& set, int& reachable) override {
        set = proxySet;
        reachable = proxyReachable;
        if (proxySet != 0 && !proxyText.empty()) {
            Record(ProbeKind::Tcp, proxyText, proxyReachable != 0);
        }
    }
    std::string ProxyText() override { return proxySet != 0 ? proxyText : std::string(); }
    int GetLocalConnectionState() override { return connectionState; }
    std::string DiallingConnection() override { return dialling; }
    int CheckInternetConnection() override {
        if (during) {
            during(7);
        }
        Chatter("sites", 0);
        Record(ProbeKind::Tcp, "sites", internetPercent > 0);
        return internetPercent;
    }
    std::vector<std::string> UnreachedSites() override { return unreachedSites; }
};

struct FakeSoftware : SoftwareProbes {
    std::string osName = "Debian GNU/Linux 12 (bookworm)";
    std::string wmpVersion = "10.0.0.3802";
    std::string wmpPath = "C:\\Program Files\\Windows Media Player\\wmplayer.exe";
    // extension -> registered command; the player's own when it contains wmpPath.
    std::map<std::string, std::string> programs = {{".asf", wmpPath + " /play"},
                                                   {".asx", wmpPath + " /play"}};
    bool xpSp2 = false;
    int patchSteps = 0;
    std::function<void(int id)> during;  // runs inside the probes of rows 9 and 11
    std::string prefix;                  // the prefix the rows name; "" unknown
    std::vector<Problem> clientProblems;

    std::string GetOsName() override { return osName; }
    std::string WmpVersion() override {
        if (during) {
            during(9);
        }
        return wmpVersion;
    }
    std::string WmpPath() override { return wmpPath; }
    bool IsAssociatedWith(const std::string& extension, const std::string& program) override {
        if (extension == ".asx" && during) {
            during(11);
        }
        return programs[extension].find(program) != std::string::npos;
    }
    std::string GetAssociatedProgram(const std::string& extension) override {
        return programs[extension];
    }
    bool HasXpSp2Row() override { return xpSp2; }
    std::string PrefixPath() override { return prefix; }
    std::vector<Problem> ClientProblems() override { return clientProblems; }
    void RunXpSp2PatchStep(ProbeReporter& reporter) override {
        ++patchSteps;
        reporter.SetItemStatus(reporter.FindItemRow(12), CheckStatus::Ok);
    }
};

// Runs one check with the given probes and keeps what it left behind.
class PhaseRun {
public:
    PhaseRun() {
        TheDiagLog().SetPath((m_dir.path() / "log.txt").string());
        TheDiagLog().SetLevel(1);
    }
    ~PhaseRun() {
        window.Close();
        TheDiagLog().SetPath({});
    }

    // Runs the engine to its end; false when it hung.
    bool Run(CheckProbes probes, bool xpSp2Row = false, bool oneAtATime = false) {
        window.RebuildRows(xpSp2Row);
        engine = std::make_unique<CheckEngine>(std::move(probes));
        engine->SetOneAtATime(oneAtATime);
        engine->Start(&window);
        return PumpUntilIdle(window, *engine);
    }

    const CheckRow& RowOf(int id) const { return *window.Model().Row(window.Model().FindById(id)); }
    RowDiagnosis DiagnosisOf(int id) const {
        return TheRunDiagnosis().Row(window.Model().FindById(id));
    }
    // The log's entries, text only, in UTF-8.
    std::vector<std::string> LogLines() const {
        const std::string text = platform::GbkToUtf8(ReadAll(m_dir.path() / "log.txt"));
        std::vector<std::string> lines;
        for (std::size_t at = 0; (at = text.find("\r\n20", at)) != std::string::npos;) {
            const std::size_t textStart = text.find(' ', text.find(' ', at + 2) + 1) + 3;
            const std::size_t next = text.find("\r\n20", textStart);
            lines.push_back(text.substr(textStart, next - textStart));
            at = textStart;
        }
        return lines;
    }
    RunCounters& Counters() { return engine->Counters(); }

    QueuedDiagWindow window;
    std::unique_ptr<CheckEngine> engine;

private:
    TempDir m_dir;
};

// The targets of a row's probes, in the order recorded.
inline std::vector<std::string> ProbeTargets(const RowDiagnosis& row) {
    std::vector<std::string> targets;
    for (const ProbeRecord& probe : row.probes) {
        targets.push_back(probe.target);
    }
    return targets;
}

// The outcome's row and the run's counters.
template <class Fake>
void ExpectOutcome(PhaseRun& run, const RowOutcome<Fake>& o, int checked, bool reportable) {
    const CheckRow& row = run.RowOf(o.id);
    EXPECT_EQ(row.detail, o.detail);
    EXPECT_EQ(row.status, o.status);
    EXPECT_EQ(run.Counters().checkedCount, checked);
    EXPECT_EQ(run.Counters().errorCount, o.errors);
    EXPECT_EQ(run.Counters().warningCount, o.warnings);
    EXPECT_EQ(run.Counters().reportable, reportable ? 1 : 0);
}

}  // namespace lumidex::testing

namespace lumidex::testing {

struct FakeService : ServiceProbes {
    bool fetched = true;
    bool hostsOk = true;
    std::string wrongMapping;
    std::string productMapping;
    std::map<HostGroup, int> hosts = {
        {HostGroup::Website, 3}, {HostGroup::Information, 5}, {HostGroup::List, 5}};
    std::map<ServerGroup, int> servers = {{ServerGroup::ChannelServers, 2},
                                          {ServerGroup::Trackers, 10}};
    std::map<ServerGroup, int> answered = {{ServerGroup::ChannelServers, 2},
                                           {ServerGroup::Trackers, 6}};
    std::optional<bool> listNamedServers;  // none: whether servers are known at all
    std::function<void(ProbeReporter&)> onWebsite;
    std::function<void()> onChannelServer;  // after each sampled channel server
    std::function<void()> onFetch;          // while the channel list is fetched
    // What each walk records on its row, as the real probes do.
    std::map<HostGroup, std::vector<ProbeRecord>> hostRecords;
    std::vector<Problem> hostsFileProblems;  // noted on the hosts-file row
    std::map<ServerGroup, std::vector<ProbeRecord>> serverRecords;
    int progressRangeSeen = 0;
    // The work started ahead takes this long to end; finished once it has.
    int finishDelayMs = 0;
    std::atomic<bool> finished{false};

    void FinishRun() override {
        std::this_thread::sleep_for(std::chrono::milliseconds(finishDelayMs));
        finished = true;
    }

    bool FetchChannelList(const std::string&) override {
        if (onFetch) {
            onFetch();
        }
        return fetched;
    }
    void ParseChannelList() override {}
    bool ChannelListNamedServers() override {
        return listNamedServers.value_or(
            servers[ServerGroup::ChannelServers] + servers[ServerGroup::Trackers] > 0);
    }
    void OpenUdpSocket(std::uint16_t) override {}
    bool CheckHostsFile(std::string& wrong, std::string& product) override {
        wrong = wrongMapping;
        product = productMapping;
        for (const Problem& problem : hostsFileProblems) {
            NoteProblem(problem);
        }
        return hostsOk;
    }
    int HostCount(HostGroup group) override { return hosts[group]; }
    int ServerCount(ServerGroup group) override { return servers[group]; }
    void ProbeServiceHosts(ProbeReporter& reporter, const std::string& itemName, HostGroup group,
                           HostTestMode) override {
        if (group == HostGroup::Website && onWebsite) {
            onWebsite(reporter);
            if (reporter.StopIfRequested()) {
                return;
            }
        }
        const int row = reporter.FindItemRowByName(itemName);
        for (const ProbeRecord& record : hostRecords[group]) {
            TheRunDiagnosis().AddProbe(row, record);
        }
        reporter.SetItemText(row, 1, NormalShareText(100));
        reporter.SetItemStatus(row, CheckStatus::Ok);
        for (int i = 0; i < hosts[group]; ++i) {
            reporter.AdvanceProgress();
        }
    }
    // A stop seen during the walk returns the answers counted so far, as the real walk does.
    int ProbeUdpServers(ProbeReporter& reporter, ServerGroup group, int sampleSize) override {
        for (const ProbeRecord& record : serverRecords[group]) {
            RecordProbe(record);
        }
        for (int i = 0; i < std::min(servers[group], sampleSize); ++i) {
            reporter.AdvanceProgress();
            if (group == ServerGroup::ChannelServers && onChannelServer) {
                onChannelServer();
                if (reporter.StopIfRequested()) {
                    return std::min(i + 1, answered[group]);
                }
            }
        }
        return answered[group];
    }
};

}  // namespace lumidex::testing

namespace lumidex::testing {

// Scripted observations. Records its calls with the row the walk was on at each ("start@-1":
// before the first row); Collect can be made to wait until Abandon, like probes that hang.
// The calls a fake took, each with the diagnosis row current at the call.
class CallLog {
public:
    std::vector<std::string> Calls() {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }

protected:
    void Note(const char* call) {
        std::lock_guard lock(m_mutex);
        m_calls.push_back(std::string(call) + "@" + std::to_string(TheRunDiagnosis().CurrentRow()));
    }

    std::mutex m_mutex;

private:
    std::vector<std::string> m_calls;
};

// A fake's collect, which waits for Abandon when asked to, like probes that hang.
class CollectLog : public CallLog {
public:
    bool collectWaitsForAbandon = false;
    std::function<void()> onCollect;  // on the collecting thread, before any wait

protected:
    // Notes the call, runs onCollect, then waits as asked; the lock is held on return.
    std::unique_lock<std::mutex> CollectCalled() {
        Note("collect");
        if (onCollect) {
            onCollect();
        }
        std::unique_lock lock(m_mutex);
        m_abandonedSignal.wait(lock, [this] { return !collectWaitsForAbandon || m_abandoned; });
        return lock;
    }
    void AbandonCalled() {
        Note("abandon");
        std::lock_guard lock(m_mutex);
        m_abandoned = true;
        m_abandonedSignal.notify_all();
    }

private:
    std::condition_variable m_abandonedSignal;
    bool m_abandoned = false;
};

struct FakeP2p : P2pProbes, CollectLog {
    P2pObservations observations;

    void Start() override { Note("start"); }
    P2pObservations Collect() override {
        const auto lock = CollectCalled();
        return observations;
    }
    void Abandon() override { AbandonCalled(); }
};

struct FakePath : PathProbes, CollectLog {
    PathObservations observations;
    // What the engine handed over: the servers to burst, the targets to trace.
    std::vector<std::string> servers;
    std::vector<std::string> traceTargets;

    void StartGatewayBurst() override { Note("gateway"); }
    void StartUdpBursts(std::vector<std::string> given) override {
        Note("udp");
        std::lock_guard lock(m_mutex);
        servers = std::move(given);
    }
    PathObservations Collect(std::vector<std::string> targets) override {
        const auto lock = CollectCalled();
        traceTargets = std::move(targets);
        return observations;
    }
    void Abandon() override { AbandonCalled(); }
};

}  // namespace lumidex::testing
