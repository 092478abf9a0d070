// The basic network checks: rows 1 to 7, from the computer's own address outwards to the
// Internet.
#include <memory>
#include <tuple>
#include <utility>

#include "engine/CheckEngine.h"
#include "engine/DiagLog.h"
#include "engine/FindingsText.h"
#include "engine/Interception.h"
#include "engine/ProbeTasks.h"

namespace lumidex {
namespace {

constexpr int kNetworkProgressRange = 8;

enum ItemId { kLocalIp = 1, kGateway, kDnsServers, kIeOffline, kIeProxy, kConnection, kInternet };

// The rows whose probes wait on the network (gateway and DNS echoes, the Internet sites),
// started side by side once the adapter is chosen; the rows take the answers in their order.
// Null in the one-at-a-time walk, where each row asks at its place.
struct NetworkAhead {
    explicit NetworkAhead(NetworkProbes& probes) : gateway(probes.DefaultGateway()) {
        if (!gateway.empty()) {
            gatewayReplies = tasks.Start<int>(
                [&probes, this] { return probes.PingHost(gateway, kEchoRequestsPerHost); });
        }
        dns = tasks.Start<std::pair<int, std::string>>([&probes] {
            const int replies = probes.PingDnsServersSideBySide();
            return std::pair(replies, probes.DnsServerText());
        });
        internet = tasks.Start<int>([&probes] { return probes.CheckInternetConnection(); });
        resolver =
            tasks.Start<ResolverFinding>([&probes] { return probes.CheckResolverAnswers(); });
        portal = tasks.Start<std::optional<PortalFinding>>(
            [&probes] { return probes.FindCaptivePortal(); });
    }

    const std::string gateway;
    ProbeTasks tasks;
    ProbeFuture<int> gatewayReplies;
    ProbeFuture<std::pair<int, std::string>> dns;
    ProbeFuture<int> internet;
    ProbeFuture<ResolverFinding> resolver;
    ProbeFuture<std::optional<PortalFinding>> portal;
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

void CheckLocalIp(CheckEngine& engine, NetworkProbes& probes, NetworkAhead*) {
    const int row = engine.BeginItem(kLocalIp, "本地IP...");
    probes.SelectAdapter();
    if (const std::string localIp = probes.LocalIp(); !localIp.empty()) {
        engine.SetVerdict(row, localIp, CheckStatus::Ok);
        Log("本地IP:" + localIp);
    } else if (const std::string selfIp = probes.GetSelfIP(); !selfIp.empty()) {
        engine.SetVerdict(row, selfIp, CheckStatus::Ok);
        Log("CTqGlobalMothed::GetSelfIP()本地IP:" + selfIp);
    } else {
        engine.SetVerdict(row, "获取本地IP失败", CheckStatus::Error);
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
        return;
    }
    const int replies = ahead != nullptr ? ahead->gatewayReplies.get().Replayed()
                                         : probes.PingHost(gateway, kEchoRequestsPerHost);
    if (replies > 0) {
        engine.SetVerdict(row, Bracketed("连接正常", gateway), CheckStatus::Ok);
        return;
    }
    engine.SetVerdict(row, Bracketed("连接超时", gateway), CheckStatus::Warning);
    ++engine.Counters().warningCount;
}

void CheckDnsServers(CheckEngine& engine, NetworkProbes& probes, NetworkAhead* ahead) {
    const int row = engine.BeginItem(kDnsServers, "DNS能否ping通...");
    int dnsReplies = 0;
    std::string dnsText;
    if (ahead != nullptr) {
        std::tie(dnsReplies, dnsText) = ahead->dns.get().Replayed();
    } else {
        dnsReplies = probes.PingDnsServers();
        dnsText = probes.DnsServerText();
    }
    if (!dnsText.empty()) {
        CheckResolverAnswers(engine, probes, ahead);
    }
    if (dnsReplies > 0) {
        engine.SetVerdict(row, Bracketed("连接正常", dnsText), CheckStatus::Ok);
        return;
    }
    const bool noServer = dnsText.empty();
    engine.ReportProblem(row, noServer ? "获取DNS服务器失败" : Bracketed("连接超时", dnsText),
                         noServer ? CheckStatus::Error : CheckStatus::Warning);
}

void CheckIeOffline(CheckEngine& engine, NetworkProbes& probes, NetworkAhead*) {
    const int row = engine.BeginItem(kIeOffline, "IE脱机设置...");
    if (probes.IsIEOffline()) {
        engine.ReportProblem(row, "IE处于脱机状态", CheckStatus::Warning);
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
    }
}

void CheckConnection(CheckEngine& engine, NetworkProbes& probes, NetworkAhead*) {
    const int row = engine.BeginItem(kConnection, "本地连接...");
    switch (probes.GetLocalConnectionState()) {
        case 1:
            engine.SetVerdict(row, "拨号连接成功", CheckStatus::Ok);
            break;
        case 2:
            engine.SetVerdict(row, "连接成功", CheckStatus::Ok);
            break;
        case -1:
            engine.ReportProblem(row, "本地连接中断", CheckStatus::Error);
            break;
        default:
            break;
    }
}

void CheckInternet(CheckEngine& engine, NetworkProbes& probes, NetworkAhead* ahead) {
    const int row = engine.BeginItem(kInternet, "Internet连接...");
    const int share =
        ahead != nullptr ? ahead->internet.get().Replayed() : probes.CheckInternetConnection();
    if (share > 0) {
        engine.SetVerdict(row, "连接成功", CheckStatus::Ok);
        CheckInterception(engine, probes, ahead);
    } else {
        engine.ReportProblem(row, "Internet连接中断", CheckStatus::Error);
    }
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
