#include "startup/SystemProbes.h"

#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>

#include "engine/Endpoints.h"
#include "engine/ProbeReporter.h"
#include "net/HttpGetClient.h"
#include "platform/ConnectionStandIns.h"
#include "platform/DesktopConnectivity.h"
#include "platform/HostLookup.h"
#include "platform/NetInterfaces.h"
#include "platform/TextCodec.h"
#include "probes/ConnectionState.h"
#include "probes/DefaultValue.h"
#include "probes/FileAssociation.h"
#include "probes/PortalProbe.h"
#include "probes/ResolverProbe.h"
#include "probes/SystemInventory.h"
#include "probes/TqGlobalMothed.h"
#include "probes/XpSp2Patch.h"
#include "service/HostsFileCheck.h"
#include "service/ServiceAhead.h"
#include "service/ServiceHostLists.h"
#include "service/ServiceHostProbe.h"
#include "service/UdpServerProbe.h"
#include "startup/ClientChecks.h"
#include "startup/P2pSystemProbes.h"
#include "startup/PathSystemProbes.h"

namespace lumidex {
namespace {

class SystemNetworkProbes final : public NetworkProbes {
public:
    void SelectAdapter() override { m_methods.SelectAdapter(); }
    std::string LocalIp() override { return m_methods.LocalIp(); }
    std::string DefaultGateway() override { return m_methods.DefaultGateway(); }
    std::string GetSelfIP() override {
        std::vector<std::uint32_t> addresses;  // asked for, never used again
        const std::uint32_t address = m_methods.GetSelfIP(addresses);
        return address == 0 ? std::string() : platform::DottedAddress(address);
    }
    int PingHost(const std::string& host, int count) override {
        return m_methods.PingHost(host, static_cast<unsigned>(count));
    }
    int PingDnsServers() override { return m_methods.PingDnsServers(); }
    int PingDnsServersSideBySide() override { return m_methods.PingDnsServers(nullptr, true); }
    std::string DnsServerText() override { return m_methods.DnsServerText(); }
    std::vector<std::string> SilentDnsServers() override { return m_methods.SilentDnsServers(); }
    bool IsIEOffline() override { return m_methods.IsIEOffline(); }
    void CheckIEProxy(int& proxySet, int& reachable) override {
        m_methods.CheckIEProxy(proxySet, reachable, m_proxyText);
    }
    std::string ProxyText() override { return m_proxyText; }
    int GetLocalConnectionState() override { return m_methods.GetLocalConnectionState(); }
    std::string DiallingConnection() override { return lumidex::DiallingConnection(); }
    int CheckInternetConnection() override {
        return static_cast<int>(m_methods.CheckInternetConnection());
    }
    std::vector<std::string> UnreachedSites() override { return m_methods.UnreachedSites(); }
    std::optional<PortalFinding> FindCaptivePortal() override {
        return lumidex::FindCaptivePortal(PortalProbeSites());
    }
    std::optional<platform::DesktopConnectivity> ReadDesktopConnectivity() override {
        return platform::ReadDesktopConnectivity();
    }
    ResolverFinding CheckResolverAnswers() override {
        return lumidex::CheckResolverAnswers(NonexistentName(), ProductHostNames());
    }

private:
    CTqGlobalMothed m_methods;
    std::string m_proxyText;
};

class SystemSoftwareProbes final : public SoftwareProbes {
public:
    explicit SystemSoftwareProbes(SystemProbeSettings settings)
        : m_settings(std::move(settings)), m_xpSp2(lumidex::HasXpSp2Row()) {}

    std::string GetOsName() override {
        m_resolver = std::make_unique<OsNameResolver>();
        return m_resolver->GetOsName();
    }
    std::string WmpVersion() override {
        m_resolver->ReadSoftwareVersions();
        return m_resolver->Wmp().versionText;
    }
    std::string WmpPath() override {
        std::string path;
        ReadDefaultValue(platform::RootKey::LocalMachine,
                         std::string(kAppPathsKey) + "\\wmplayer.exe", path);
        return path;
    }
    bool IsAssociatedWith(const std::string& extension, const std::string& program) override {
        return m_associations.IsAssociatedWith(extension, program);
    }
    std::string GetAssociatedProgram(const std::string& extension) override {
        return m_associations.GetAssociatedProgram(extension);
    }
    bool HasXpSp2Row() override { return m_xpSp2; }
    std::string PrefixPath() override { return platform::ValidUtf8(m_settings.prefix.path); }
    std::vector<Problem> ClientProblems() override {
        std::vector<Problem> problems = PrefixProblems(m_settings.prefix);
        const platform::ClientProcess client = ProbeClient(m_settings.prefix);
        for (Problem& problem : lumidex::ClientProblems(m_settings.prefix, client)) {
            problems.push_back(std::move(problem));
        }
        std::lock_guard lock(m_clientMutex);
        m_client = client;
        return problems;
    }
    // Read by the front end's thread after the run.
    std::optional<platform::ClientProcess> LastClient() {
        std::lock_guard lock(m_clientMutex);
        return m_client;
    }
    void RunXpSp2PatchStep(ProbeReporter& reporter) override {
        PatchHelper(reporter).RunXpSp2PatchCheck();
    }

    // Lives as long as the probes, so that the answer of a patch program started by one run
    // still reaches its row.
    XpSp2PatchHelper& PatchHelper(ProbeReporter& reporter) {
        std::call_once(m_patchOnce, [&] {
            m_patch = std::make_unique<XpSp2PatchHelper>(reporter);
            m_patch->SetInstallDirectory(m_settings.installDirectory);
            m_patch->SetWindow(m_settings.window);
            m_patch->SetConnectedQuery(
                [] { return platform::InternetConnectedState(platform::ListNetInterfaces()); });
        });
        return *m_patch;
    }
    XpSp2PatchHelper* ExistingPatchHelper() { return m_patch.get(); }

private:
    SystemProbeSettings m_settings;
    const bool m_xpSp2;
    std::unique_ptr<OsNameResolver> m_resolver;
    FileAssociation m_associations;
    std::mutex m_clientMutex;
    std::optional<platform::ClientProcess> m_client;
    std::once_flag m_patchOnce;
    std::unique_ptr<XpSp2PatchHelper> m_patch;
};

class SystemServiceProbes final : public ServiceProbes {
public:
    bool FetchChannelList(const std::string& url) override {
        if (m_ahead) {
            if (const std::optional<bool> fetched = m_ahead->TakeFetch(url, m_stopPressed)) {
                return *fetched;
            }
        }
        return m_lists.FetchChannelList(url, HttpChannelListGet());
    }
    void ParseChannelList() override {
        if (!m_ahead || !m_ahead->TakeParse()) {
            m_lists.ParseChannelList();
        }
    }
    bool ChannelListNamedServers() override { return m_lists.LastListNamedServers(); }
    void OpenUdpSocket(std::uint16_t port) override { m_lists.ProbeSocket().Open(port); }
    bool CheckHostsFile(std::string& wrongMapping, std::string& productMapping) override {
        return lumidex::CheckHostsFile(kHostsFilePath, wrongMapping, productMapping) != 0;
    }
    int HostCount(HostGroup group) override {
        return static_cast<int>(m_lists.Hosts(group).size());
    }
    int ServerCount(ServerGroup group) override { return static_cast<int>(Servers(group).Size()); }
    void ProbeServiceHosts(ProbeReporter& reporter, const std::string& itemName, HostGroup group,
                           HostTestMode mode) override {
        const std::vector<std::string>& hosts = m_lists.Hosts(group);
        if (m_ahead) {
            if (const HostOutcome outcome = m_ahead->HostOutcomes(group, mode, hosts)) {
                WalkServiceHosts(reporter, m_lists, itemName, group, hosts, outcome);
                return;
            }
        }
        lumidex::ProbeServiceHosts(reporter, m_lists, itemName, group, hosts, mode, m_tests);
    }
    int ProbeUdpServers(ProbeReporter& reporter, ServerGroup group, int sampleSize) override {
        if (m_ahead) {
            if (const std::optional<int> answered =
                    m_ahead->WalkServers(reporter, group, sampleSize)) {
                return *answered;
            }
        }
        return lumidex::ProbeUdpServers(group, m_lists.ProbeSocket(), Servers(group), sampleSize,
                                        reporter);
    }
    void StartAhead() override {
        // Empty get and tests: the download and the connection tests started ahead end at
        // once when the run is abandoned.
        m_ahead = std::make_unique<ServiceAhead>(
            m_lists, ChannelListGet{}, HostTests{},
            AheadPlan{
                endpoints::kChannelListUrl,
                {HostTestMode::TcpConnection, HostTestMode::TcpConnection, HostTestMode::Ping},
                {kChannelServerSample, kTrackerSample}},
            kProbeReceiveTimeout, m_stopPressed);
    }
    void FinishRun() override { m_ahead.reset(); }
    void WatchStop(std::function<bool()> stopPressed) override {
        m_stopPressed = std::move(stopPressed);
    }

private:
    std::function<bool()> m_stopPressed;

    ServerList& Servers(ServerGroup group) {
        return group == ServerGroup::Trackers ? m_lists.Trackers() : m_lists.ChannelServers();
    }

    ServiceHostLists m_lists;
    HostTests m_tests = SystemHostTests();
    std::unique_ptr<ServiceAhead> m_ahead;
};

}  // namespace

CheckProbes MakeSystemProbes(const SystemProbeSettings& settings) {
    CheckProbes probes;
    probes.network = std::make_unique<SystemNetworkProbes>();
    probes.software = std::make_unique<SystemSoftwareProbes>(settings);
    probes.service = std::make_unique<SystemServiceProbes>();
    probes.p2p = MakeSystemP2pProbes(settings.prefix);
    probes.path = MakeSystemPathProbes();
    return probes;
}

bool DeliverPatchAnswers(platform::CopyDataReceiver& answers, CheckProbes& probes) {
    bool changed = false;
    answers.Process([&](std::uint32_t dwData, std::string_view text) {
        if (XpSp2PatchHelper* patch = PatchHelperOf(probes)) {
            changed = patch->OnCopyData(dwData, text) || changed;
        }
    });
    return changed;
}

bool OneAtATimeFromEnvironment() {
    const char* value = std::getenv(kOneAtATimeVariable);
    return value != nullptr && std::string_view(value) == "1";
}

std::optional<platform::ClientProcess> LastClientOf(CheckProbes& probes) {
    auto* software = dynamic_cast<SystemSoftwareProbes*>(probes.software.get());
    return software != nullptr ? software->LastClient() : std::nullopt;
}

XpSp2PatchHelper* PatchHelperOf(CheckProbes& probes) {
    auto* software = dynamic_cast<SystemSoftwareProbes*>(probes.software.get());
    return software != nullptr ? software->ExistingPatchHelper() : nullptr;
}

}  // namespace lumidex
