// The basic network checks: rows 1 to 7, from the computer's own address outwards to the
// Internet.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/CheckEngine.h"
#include "engine/DiagLog.h"
#include "engine/Diagnosis.h"
#include "engine/FindingsText.h"
#include "engine/InterceptionFindings.h"
#include "engine/ProbeTasks.h"

namespace lumidex {
namespace {

constexpr int kNetworkProgressRange = 8;

enum ItemId { kLocalIp = 1, kGateway, kDnsServers, kIeOffline, kIeProxy, kConnection, kInternet };

struct DnsEchoes {
    int replies = 0;
    std::string serverText;
    std::vector<std::string> silent;
};

struct SiteConnects {
    int share = 0;
    std::vector<std::string> unreached;
};

// The rows whose probes wait on the network (gateway and DNS echoes, the Internet sites),
// started side by side once the adapter is chosen; the rows take the answers in their order.
// Null in the one-at-a-time walk, where each row asks at its place.
struct NetworkAhead {
    explicit NetworkAhead(NetworkProbes& probes) : gateway(probes.DefaultGateway()) {
        if (!gateway.empty()) {
            gatewayReplies = tasks.Start<int>(
                [&probes, this] { return probes.PingHost(gateway, kEchoRequestsPerHost); });
        }
        dns = tasks.Start<DnsEchoes>([&probes] {
            const int replies = probes.PingDnsServersSideBySide();
            return DnsEchoes{replies, probes.DnsServerText(), probes.SilentDnsServers()};
        });
        internet = tasks.Start<SiteConnects>([&probes] {
            const int share = probes.CheckInternetConnection();
            return SiteConnects{share, probes.UnreachedSites()};
        });
        resolver =
            tasks.Start<ResolverFinding>([&probes] { return probes.CheckResolverAnswers(); });
        portal = tasks.Start<std::optional<PortalFinding>>(
            [&probes] { return probes.FindCaptivePortal(); });
        desktop = tasks.Start<std::optional<platform::DesktopConnectivity>>(
            [&probes] { return probes.ReadDesktopConnectivity(); });
    }

    const std::string gateway;
    ProbeTasks tasks;
    ProbeFuture<int> gatewayReplies;
    ProbeFuture<DnsEchoes> dns;
    ProbeFuture<SiteConnects> internet;
    ProbeFuture<ResolverFinding> resolver;
    ProbeFuture<std::optional<PortalFinding>> portal;
    ProbeFuture<std::optional<platform::DesktopConnectivity>> desktop;
};

// Beside the DNS row, when a server is configured: does the resolver answer a name that
// cannot exist?
void CheckResolverAnswers(CheckEngine& engine, NetworkProbes& probes, NetworkAhead* ahead) {
    NoteResolverFinding(engine, ahead != nullptr ? ahead->resolver.get().Replayed()
                                                 : probes.CheckResolverAnswers());
}

// Beside the Internet row, when sites took connections: is it a portal that took them?
void CheckInterception(CheckEngine& engine, NetworkProbes& probes, NetworkAhead* ahead) {
    NotePortalFinding(
        engine, ahead != nullptr ? ahead->portal.get().Replayed() : probes.FindCaptivePortal());
}

std::string Bracketed(std::string_view head, const std::string& what) {
    return std::string(head) + "(" + what + ")";
}

// What explains the verdict of the row being checked (the walk's current row).
void Explain(ProblemCode code, std::vector<std::string> targets = {}, std::string detail = {}) {
    NoteProblem(MakeProblem(code, std::move(targets), std::move(detail)));
}

// The same, milder than the catalogue says: the row's verdict stands without it.
void ExplainAs(Severity severity, ProblemCode code, std::vector<std::string> targets) {
    NoteProblem(MakeProblemAs(severity, code, std::move(targets)));
}

void CheckLocalIp(CheckEngine& engine, NetworkProbes& probes, NetworkAhead*) {
    const int row = engine.BeginItem(kLocalIp, "本地IP...");
    probes.SelectAdapter();
    if (const std::string localIp = probes.LocalIp(); !localIp.empty()) {
        engine.SetVerdict(row, localIp, CheckStatus::Ok);
        Log("本地IP:" + localIp);
    } else if (const std::string selfIp = probes.GetSelfIP(); !selfIp.empty()) {
        engine.SetVerdict(row, selfIp, CheckStatus::Ok);
        Log("CTqGlobalMothed::GetSelfIP()本地IP:" + selfIp);
        Explain(ProblemCode::LocalAddressFromHostName, {selfIp});
    } else {
        engine.SetVerdict(row, "获取本地IP失败", CheckStatus::Error);
        Explain(ProblemCode::NoLocalAddress);
    }
}

void CheckGateway(CheckEngine& engine, NetworkProbes& probes, NetworkAhead* ahead) {
    const int row = engine.BeginItem(kGateway, "默认网关...");
    const std::string gateway = ahead != nullptr ? ahead->gateway : probes.DefaultGateway();
    if (gateway.empty()) {
        const std::string detail = "获取默认网关失败";
        engine.SetVerdict(row, detail, CheckStatus::Error);
        ++engine.Counters().errorCount;
        AddFinding(detail);
        Log(detail);
        Explain(ProblemCode::GatewayNotConfigured);
        return;
    }
    const int replies = ahead != nullptr ? ahead->gatewayReplies.get().Replayed()
                                         : probes.PingHost(gateway, kEchoRequestsPerHost);
    if (replies > 0) {
        engine.SetVerdict(row, Bracketed("连接正常", gateway), CheckStatus::Ok);
        if (replies < kEchoRequestsPerHost) {
            Explain(ProblemCode::GatewayPacketLoss, {gateway},
                    std::to_string(replies) + "/" + std::to_string(kEchoRequestsPerHost));
        }
        return;
    }
    engine.SetVerdict(row, Bracketed("连接超时", gateway), CheckStatus::Warning);
    ++engine.Counters().warningCount;
    Explain(ProblemCode::GatewayUnreachable, {gateway});
}

void CheckDnsServers(CheckEngine& engine, NetworkProbes& probes, NetworkAhead* ahead) {
    const int row = engine.BeginItem(kDnsServers, "DNS能否ping通...");
    DnsEchoes dns;
    if (ahead != nullptr) {
        dns = ahead->dns.get().Replayed();
    } else {
        dns.replies = probes.PingDnsServers();
        dns.serverText = probes.DnsServerText();
        dns.silent = probes.SilentDnsServers();
    }
    if (!dns.serverText.empty()) {
        CheckResolverAnswers(engine, probes, ahead);
    }
    // One problem per silent server, only informative while another server answers.
    const Severity silentSeverity = dns.replies > 0 ? Severity::Info : Severity::Warning;
    for (const std::string& server : dns.silent) {
        ExplainAs(silentSeverity, ProblemCode::DnsServerUnreachable, {server});
    }
    if (dns.replies > 0) {
        engine.SetVerdict(row, Bracketed("连接正常", dns.serverText), CheckStatus::Ok);
        return;
    }
    const bool noServer = dns.serverText.empty();
    engine.ReportProblem(row,
                         noServer ? "获取DNS服务器失败" : Bracketed("连接超时", dns.serverText),
                         noServer ? CheckStatus::Error : CheckStatus::Warning);
    if (noServer) {
        Explain(ProblemCode::DnsNotConfigured);
    }
}

void CheckIeOffline(CheckEngine& engine, NetworkProbes& probes, NetworkAhead*) {
    const int row = engine.BeginItem(kIeOffline, "IE脱机设置...");
    if (probes.IsIEOffline()) {
        engine.ReportProblem(row, "IE处于脱机状态", CheckStatus::Warning);
        Explain(ProblemCode::BrowserOffline);
    } else {
        engine.SetVerdict(row, "IE未处于脱机状态", CheckStatus::Ok);
    }
}

void CheckIeProxy(CheckEngine& engine, NetworkProbes& probes, NetworkAhead*) {
    const int row = engine.BeginItem(kIeProxy, "IE代理服务器...");
    int proxySet = 0;
    int proxyReachable = 0;
    probes.CheckIEProxy(proxySet, proxyReachable);
    if (proxySet == 0) {
        engine.SetVerdict(row, "未设置IE代理服务器", CheckStatus::Ok);
    } else if (proxyReachable != 0) {
        engine.SetVerdict(row, "IE代理服务器已设置且能连接", CheckStatus::Ok);
    } else {
        engine.ReportProblem(row, "IE代理服务器无法连接", CheckStatus::Error);
        // An enabled proxy without a server text is never tried, and so never connects.
        if (const std::string proxy = probes.ProxyText(); proxy.empty()) {
            Explain(ProblemCode::ProxyEmpty);
        } else {
            Explain(ProblemCode::ProxyUnreachable, {proxy});
        }
    }
}

void CheckConnection(CheckEngine& engine, NetworkProbes& probes, NetworkAhead*) {
    const int row = engine.BeginItem(kConnection, "本地连接...");
    const int state = probes.GetLocalConnectionState();
    switch (state) {
        case 1:
            engine.SetVerdict(row, "拨号连接成功", CheckStatus::Ok);
            break;
        case 2:
            engine.SetVerdict(row, "连接成功", CheckStatus::Ok);
            break;
        case -1:
            engine.ReportProblem(row, "本地连接中断", CheckStatus::Error);
            Explain(ProblemCode::LinkDown);
            break;
        default:
            break;
    }
    // A dial-up connection still dialling is not used: the computer goes out through another
    // link when there is one, and then that is only worth knowing.
    if (const std::string dialling = probes.DiallingConnection(); !dialling.empty()) {
        ExplainAs(state == -1 ? Severity::Warning : Severity::Info, ProblemCode::DialupNotConnected,
                  {dialling});
    }
}

// Beside the Internet row, whatever it found: the desktop's own verdict, a second opinion that
// explains a failing row (or contradicts a passing one) but never changes it.
void NoteDesktopVerdict(NetworkProbes& probes, NetworkAhead* ahead) {
    using platform::DesktopConnectivity;
    const std::optional<DesktopConnectivity> state =
        ahead != nullptr ? ahead->desktop.get().Replayed() : probes.ReadDesktopConnectivity();
    if (!state) {
        return;
    }
    TheRunDiagnosis().SetDesktopConnectivity(platform::DesktopConnectivityName(*state));
    switch (*state) {
        case DesktopConnectivity::Portal:
            Explain(ProblemCode::DesktopReportsPortal);
            break;
        case DesktopConnectivity::Limited:
            Explain(ProblemCode::DesktopReportsLimited);
            break;
        case DesktopConnectivity::None:
            Explain(ProblemCode::DesktopReportsNoConnection);
            break;
        case DesktopConnectivity::Unknown:
        case DesktopConnectivity::Full:
            break;
    }
}

void CheckInternet(CheckEngine& engine, NetworkProbes& probes, NetworkAhead* ahead) {
    const int row = engine.BeginItem(kInternet, "Internet连接...");
    SiteConnects sites;
    if (ahead != nullptr) {
        sites = ahead->internet.get().Replayed();
    } else {
        sites.share = probes.CheckInternetConnection();
        sites.unreached = probes.UnreachedSites();
    }
    if (sites.share <= 0) {
        engine.ReportProblem(row, "Internet连接中断", CheckStatus::Error);
        Explain(ProblemCode::InternetUnreachable);
    } else {
        engine.SetVerdict(row, "连接成功", CheckStatus::Ok);
        if (!sites.unreached.empty()) {
            Explain(ProblemCode::InternetPartial, std::move(sites.unreached));
        }
        CheckInterception(engine, probes, ahead);
    }
    NoteDesktopVerdict(probes, ahead);
}

}  // namespace

// One row after the other, each followed by its step of the progress bar.
void CheckEngine::RunNetworkChecks(NetworkProbes& probes) {
    SetProgressRange(kNetworkProgressRange);
    using Item = void (*)(CheckEngine&, NetworkProbes&, NetworkAhead*);
    constexpr Item kItems[] = {CheckLocalIp, CheckGateway,    CheckDnsServers, CheckIeOffline,
                               CheckIeProxy, CheckConnection, CheckInternet};
    std::unique_ptr<NetworkAhead> ahead;
    int position = 0;
    for (const Item item : kItems) {
        item(*this, probes, ahead.get());
        SetProgressPos(++position);
        // The gateway is known once the adapter is chosen.
        if (item == CheckLocalIp && !OneAtATime()) {
            ahead = std::make_unique<NetworkAhead>(probes);
        }
    }
}

}  // namespace lumidex
