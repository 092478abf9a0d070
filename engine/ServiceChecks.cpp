// The service checks: rows 13 to 18, whether this computer reaches the Kelvora services.
#include <algorithm>

#include "engine/CheckEngine.h"
#include "engine/FindingsText.h"
#include "service/Endpoints.h"
#include "service/ServiceHostProbe.h"

namespace lumidex {
namespace {

constexpr int kFetchProgressRange = 100;
constexpr int kChannelServerSample = 8;
constexpr int kTrackerSample = 6;

enum ItemId { kHostsFile = 13, kWebsite, kInformation, kListService, kChannels, kTrackers };

}  // namespace

void CheckEngine::RunServicePhase(ServiceProbes& probes) {
    if (StopIfRequested()) {
        return;
    }
    const int hostsRow = FindItemRow(kHostsFile);
    SetCurrentItem(hostsRow);
    EnsureItemVisible(hostsRow);
    SetStatusText("域名映射...");
    SetProgressRange(kFetchProgressRange);
    if (!probes.FetchChannelList(endpoints::kChannelListUrl)) {
        AddFinding("请求频道列表文件时发生错误");
    }
    probes.ParseChannelList();
    if (StopIfRequested()) {
        return;
    }
    probes.OpenUdpSocket(0);
    AddFinding("开始KLV主要域名检测");
    SetProgressRange(
        std::min(probes.ServerCount(ServerGroup::ChannelServers), kChannelServerSample) +
        std::min(probes.ServerCount(ServerGroup::Trackers), kTrackerSample) +
        probes.HostCount(HostGroup::Website) + probes.HostCount(HostGroup::Information) +
        probes.HostCount(HostGroup::List) + 1);

    ++m_counters.checkedCount;
    std::string wrongMapping;
    std::string productMapping;
    if (probes.CheckHostsFile(wrongMapping, productMapping)) {
        SetVerdict(hostsRow, "正常", CheckStatus::Ok);
    } else {
        if (!productMapping.empty()) {
            SetVerdict(hostsRow, productMapping, CheckStatus::Warning);
            TheFindingsText().Append(productMapping);
            ++m_counters.warningCount;
        }
        if (!wrongMapping.empty()) {
            m_counters.reportable = 1;
            SetVerdict(hostsRow, wrongMapping, CheckStatus::Error);
            TheFindingsText().Append(wrongMapping);
            ++m_counters.errorCount;
        }
        if (productMapping.empty() && wrongMapping.empty()) {
            SetVerdict(hostsRow, "找不到hosts文件或打开失败", CheckStatus::Error);
        }
    }
    SetProgressPos(++m_counters.serviceProgress);

    struct HostItem {
        const char* name;
        HostGroup group;
        int mode;
    };
    for (const HostItem& item : {HostItem{"网站服务", HostGroup::Website, 1},
                                 HostItem{"资讯服务", HostGroup::Information, 1},
                                 HostItem{"列表服务", HostGroup::List, 0}}) {
        if (Running() == 0) {
            return;
        }
        ++m_counters.checkedCount;
        probes.ProbeServiceHosts(*this, item.name, item.group, item.mode);
    }

    struct ServerItem {
        int id;
        const char* statusText;
        const char* finding;
        ServerGroup group;
        int sampleSize;
    };
    for (const ServerItem& item : {ServerItem{kChannels, "频道服务...", "检测频道服务器",
                                              ServerGroup::ChannelServers, kChannelServerSample},
                                   ServerItem{kTrackers, "目录服务...", "tracker(目录)频道服务",
                                              ServerGroup::Trackers, kTrackerSample}}) {
        if (Running() == 0) {
            return;
        }
        const int row = BeginItem(item.id, item.statusText);
        AddFinding(item.finding);
        const int answered = probes.ProbeUdpServers(*this, item.group, item.sampleSize);
        if (answered > 0) {
            SetItemStatus(row, CheckStatus::Ok);
        } else {
            SetItemStatus(row, CheckStatus::Error);
            ++m_counters.errorCount;
        }
        SetItemText(row, 1, service::NormalShareText(answered * 100 / item.sampleSize));
    }
}

}  // namespace lumidex
