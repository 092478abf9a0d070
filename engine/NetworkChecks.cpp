// The basic network checks: rows 1 to 7, from the computer's own address outwards to the
// Internet.
#include "engine/CheckEngine.h"

namespace lumidex {
namespace {

constexpr int kNetworkProgressRange = 8;

enum ItemId { kLocalIp = 1, kGateway, kDnsServers, kIeOffline, kIeProxy, kConnection, kInternet };

std::string Bracketed(std::string_view head, const std::string& what) {
    return std::string(head) + "(" + what + ")";
}

}  // namespace

void CheckEngine::RunNetworkChecks(NetworkProbes& probes) {
    SetProgressRange(kNetworkProgressRange);
    RunCounters& counters = m_counters;

    int row = BeginItem(kLocalIp, "本地IP...");
    probes.SelectAdapter();
    if (const std::string localIp = probes.LocalIp(); !localIp.empty()) {
        SetVerdict(row, localIp, CheckStatus::Ok);
        Log("本地IP:" + localIp);
    } else if (const std::string selfIp = probes.GetSelfIP(); !selfIp.empty()) {
        SetVerdict(row, selfIp, CheckStatus::Ok);
        Log("CTqGlobalMothed::GetSelfIP()本地IP:" + selfIp);
    } else {
        SetVerdict(row, "获取本地IP失败", CheckStatus::Error);
    }
    SetProgressPos(1);

    row = BeginItem(kGateway, "默认网关...");
    if (const std::string gateway = probes.DefaultGateway(); gateway.empty()) {
        const std::string detail = "获取默认网关失败";
        SetVerdict(row, detail, CheckStatus::Error);
        ++counters.errorCount;
        AddFinding(detail);
        Log(detail);
    } else if (probes.PingHost(gateway, kEchoRequestsPerHost) > 0) {
        SetVerdict(row, Bracketed("连接正常", gateway), CheckStatus::Ok);
    } else {
        SetVerdict(row, Bracketed("连接超时", gateway), CheckStatus::Warning);
        ++counters.warningCount;
    }
    SetProgressPos(2);

    row = BeginItem(kDnsServers, "DNS能否ping通...");
    const int dnsReplies = probes.PingDnsServers();
    const std::string dnsText = probes.DnsServerText();
    if (dnsReplies > 0) {
        SetVerdict(row, Bracketed("连接正常", dnsText), CheckStatus::Ok);
    } else {
        const bool noServer = dnsText.empty();
        ReportProblem(row, noServer ? "获取DNS服务器失败" : Bracketed("连接超时", dnsText),
                      noServer ? CheckStatus::Error : CheckStatus::Warning);
    }
    SetProgressPos(3);

    row = BeginItem(kIeOffline, "IE脱机设置...");
    if (probes.IsIEOffline()) {
        ReportProblem(row, "IE处于脱机状态", CheckStatus::Warning);
    } else {
        SetVerdict(row, "IE未处于脱机状态", CheckStatus::Ok);
    }
    SetProgressPos(4);

    row = BeginItem(kIeProxy, "IE代理服务器...");
    int proxySet = 0;
    int proxyReachable = 0;
    probes.CheckIEProxy(proxySet, proxyReachable);
    if (proxySet == 0) {
        SetVerdict(row, "未设置IE代理服务器", CheckStatus::Ok);
    } else if (proxyReachable != 0) {
        SetVerdict(row, "IE代理服务器已设置且能连接", CheckStatus::Ok);
    } else {
        ReportProblem(row, "IE代理服务器无法连接", CheckStatus::Error);
    }
    SetProgressPos(5);

    row = BeginItem(kConnection, "本地连接...");
    switch (probes.GetLocalConnectionState()) {
        case 1:
            SetVerdict(row, "拨号连接成功", CheckStatus::Ok);
            break;
        case 2:
            SetVerdict(row, "连接成功", CheckStatus::Ok);
            break;
        case -1:
            ReportProblem(row, "本地连接中断", CheckStatus::Error);
            break;
        default:
            break;
    }
    SetProgressPos(6);

    row = BeginItem(kInternet, "Internet连接...");
    if (probes.CheckInternetConnection() > 0) {
        SetVerdict(row, "连接成功", CheckStatus::Ok);
    } else {
        ReportProblem(row, "Internet连接中断", CheckStatus::Error);
    }
    SetProgressPos(7);
}

}  // namespace lumidex
