// The service checks: rows 13 to 18, whether this computer reaches the Kelvora services.
#include <algorithm>
#include <cstdio>

#include "engine/CheckEngine.h"
#include "engine/DiagLog.h"
#include "engine/Diagnosis.h"
#include "engine/Endpoints.h"
#include "engine/FindingsText.h"
#include "engine/InterceptionFindings.h"

namespace lumidex {
namespace {

constexpr int kFetchProgressRange = 100;

enum ItemId { kHostsFile = 13, kWebsite, kInformation, kListService, kChannels, kTrackers };

void FetchChannelList(CheckEngine& engine, ServiceProbes& probes) {
    engine.SetProgressRange(kFetchProgressRange);
    // The walk shows the hosts-file row while the list is fetched, but the list is the list
    // service's own: its probes and problems belong to that row.
    const DiagnosisRowScope listRow(engine.FindItemRow(kListService));
    const bool fetched = probes.FetchChannelList(endpoints::kChannelListUrl);
    if (!fetched) {
        AddFinding("请求频道列表文件时发生错误");
    }
    probes.ParseChannelList();
    // A portal's login page arrives with status 200 and names no server, even on a later run
    // that still knows the servers of earlier lists.
    if (!fetched || !probes.ChannelListNamedServers()) {
        NoteChannelListFailure(engine);
    }
}

// One step per sampled server and per host, and one for the hosts file.
int ServiceProgressRange(ServiceProbes& probes) {
    return std::min(probes.ServerCount(ServerGroup::ChannelServers), kChannelServerSample) +
           std::min(probes.ServerCount(ServerGroup::Trackers), kTrackerSample) +
           probes.HostCount(HostGroup::Website) + probes.HostCount(HostGroup::Information) +
           probes.HostCount(HostGroup::List) + 1;
}

void CheckHostsFile(CheckEngine& engine, ServiceProbes& probes, int row) {
    RunCounters& counters = engine.Counters();
    ++counters.checkedCount;
    std::string wrongMapping;
    std::string productMapping;
    if (probes.CheckHostsFile(wrongMapping, productMapping)) {
        engine.SetVerdict(row, "正常", CheckStatus::Ok);
    } else {
        if (!productMapping.empty()) {
            engine.SetVerdict(row, productMapping, CheckStatus::Warning);
            TheFindingsText().Append(productMapping);
            ++counters.warningCount;
        }
        if (!wrongMapping.empty()) {
            counters.reportable = 1;
            engine.SetVerdict(row, wrongMapping, CheckStatus::Error);
            TheFindingsText().Append(wrongMapping);
            ++counters.errorCount;
        }
        if (productMapping.empty() && wrongMapping.empty()) {
            engine.SetVerdict(row, "找不到hosts文件或打开失败", CheckStatus::Error);
        }
    }
    engine.AdvanceProgress();
}

// False when the run was stopped before every group was probed.
bool ProbeHostGroups(CheckEngine& engine, ServiceProbes& probes) {
    struct HostItem {
        const char* name;
        HostGroup group;
        HostTestMode mode;
    };
    for (const HostItem& item :
         {HostItem{"网站服务", HostGroup::Website, HostTestMode::TcpConnection},
          HostItem{"资讯服务", HostGroup::Information, HostTestMode::TcpConnection},
          HostItem{"列表服务", HostGroup::List, HostTestMode::Ping}}) {
        if (engine.Running() == 0) {
            return false;
        }
        ++engine.Counters().checkedCount;
        probes.ProbeServiceHosts(engine, item.name, item.group, item.mode);
    }
    return true;
}

void ProbeServerGroups(CheckEngine& engine, ServiceProbes& probes) {
    struct ServerItem {
        int id;
        const char* statusText;
        const char* finding;
        ServerGroup group;
        int sampleSize;
        ProblemCode noneListed;
    };
    for (const ServerItem& item :
         {ServerItem{kChannels, "频道服务...", "检测频道服务器", ServerGroup::ChannelServers,
                     kChannelServerSample, ProblemCode::NoChannelServersListed},
          ServerItem{kTrackers, "目录服务...", "tracker(目录)频道服务", ServerGroup::Trackers,
                     kTrackerSample, ProblemCode::NoTrackersListed}}) {
        if (engine.Running() == 0) {
            return;
        }
        const int row = engine.BeginItem(item.id, item.statusText);
        AddFinding(item.finding);
        if (probes.ServerCount(item.group) == 0) {
            TheRunDiagnosis().AddProblem(row, MakeProblem(item.noneListed));
        }
        const int answered = probes.ProbeUdpServers(engine, item.group, item.sampleSize);
        if (answered > 0) {
            engine.NoteUdpServerAnswered();
            engine.SetItemStatus(row, CheckStatus::Ok);
        } else {
            engine.SetItemStatus(row, CheckStatus::Error);
            ++engine.Counters().errorCount;
        }
        engine.SetItemText(row, 1, NormalShareText(answered * 100 / item.sampleSize));
    }
}

}  // namespace

std::string NormalShareText(int percent) {
    char text[32];
    std::snprintf(text, sizeof text, "正常连接:%d%%", percent);
    return text;
}

void CheckEngine::RunServicePhase(ServiceProbes& probes) {
    if (StopIfRequested()) {
        return;
    }
    const int hostsRow = FindItemRow(kHostsFile);
    SetCurrentItem(hostsRow);
    EnsureItemVisible(hostsRow);
    SetStatusText("域名映射...");
    FetchChannelList(*this, probes);
    if (StopIfRequested()) {
        return;
    }
    probes.OpenUdpSocket(0);
    AddFinding("开始KLV主要域名检测");
    SetProgressRange(ServiceProgressRange(probes));
    CheckHostsFile(*this, probes, hostsRow);
    if (ProbeHostGroups(*this, probes)) {
        ProbeServerGroups(*this, probes);
    }
}

}  // namespace lumidex
