// The path measurements of a run: what the rows found silent or lossy decides what is traced,
// the servers that answered the server walk get the bursts.
#include <algorithm>
#include <set>

#include "engine/CheckEngine.h"
#include "engine/Diagnosis.h"
#include "engine/Endpoints.h"
#include "engine/PathQuality.h"

namespace lumidex {
namespace {

enum ItemId {
    kInternetItem = 7,
    kHostsFile = 13,
    kWebsite,
    kInformation,
    kListService,
    kChannels,
    kTrackers
};

// A record's target as a host to trace: a URL's or a "host:port"'s host.
std::string HostOf(std::string target) {
    if (const auto scheme = target.find("://"); scheme != std::string::npos) {
        target.erase(0, scheme + 3);
    }
    if (const auto path = target.find('/'); path != std::string::npos) {
        target.resize(path);
    }
    if (const auto port = target.rfind(':'); port != std::string::npos) {
        target.resize(port);
    }
    return target;
}

void AddOnce(std::vector<std::string>& to, std::string value) {
    if (!value.empty() && std::find(to.begin(), to.end(), value) == to.end()) {
        to.push_back(std::move(value));
    }
}

bool Reaches(const ProbeRecord& probe) {
    return probe.kind == ProbeKind::Icmp || probe.kind == ProbeKind::Tcp ||
           probe.kind == ProbeKind::Http;
}

RowDiagnosis RowOf(CheckEngine& engine, int id) {
    const int row = engine.FindItemRow(id);
    return row < 0 ? RowDiagnosis{} : TheRunDiagnosis().Row(row);
}

// The names the hosts file or the resolver sends to an address of their own: a trace of one
// shows the way to that address, not to the service, and its problem is the hosts row's.
std::set<std::string> NamesSentElsewhere(CheckEngine& engine) {
    std::set<std::string> names;
    for (const Problem& problem : RowOf(engine, kHostsFile).problems) {
        if (problem.code == ProblemCode::HostsMapsWrongAddress ||
            problem.code == ProblemCode::HostsMapsProductDomain ||
            problem.code == ProblemCode::ProductNamesHijacked) {
            names.insert(problem.targets.begin(), problem.targets.end());
        }
    }
    return names;
}

}  // namespace

std::vector<std::string> CheckEngine::AnsweredUdpServers() {
    std::vector<std::string> servers;
    for (const int id : {kTrackers, kChannels}) {
        for (const ProbeRecord& probe : RowOf(*this, id).probes) {
            if (probe.kind == ProbeKind::Udp && probe.outcome == ProbeOutcome::Ok &&
                servers.size() < kMaxPathBurstServers) {
                AddOnce(servers, probe.target);
            }
        }
        // Channel servers only stand in for trackers when none answered.
        if (!servers.empty()) {
            break;
        }
    }
    return servers;
}

std::vector<std::string> CheckEngine::PathTraceTargets() {
    // A host that failed a connection or lost an echo: silent, or lossy enough to trace. The
    // rows take turns, so that the traces a run can afford see every kind of host: one that
    // still answers an echo (a channel list that holds its answer) shows where the service's
    // network begins.
    const std::set<std::string> elsewhere = NamesSentElsewhere(*this);
    std::vector<std::vector<std::string>> failing;
    for (const int id : {kWebsite, kInformation, kListService}) {
        std::vector<std::string> hosts;
        for (const ProbeRecord& probe : RowOf(*this, id).probes) {
            if (Reaches(probe) && probe.outcome != ProbeOutcome::Ok &&
                elsewhere.count(HostOf(probe.target)) == 0) {
                AddOnce(hosts, HostOf(probe.target));
            }
        }
        failing.push_back(std::move(hosts));
    }
    std::size_t turns = 0;
    for (const std::vector<std::string>& hosts : failing) {
        turns = std::max(turns, hosts.size());
    }
    std::vector<std::string> targets;
    for (std::size_t turn = 0; turn < turns; ++turn) {
        for (const std::vector<std::string>& hosts : failing) {
            if (turn < hosts.size()) {
                AddOnce(targets, hosts[turn]);
            }
        }
    }
    // A public site only when none was reached: one unreached among several is the site's.
    const RowDiagnosis internet = RowOf(*this, kInternetItem);
    const bool anySite =
        std::any_of(internet.probes.begin(), internet.probes.end(), [](const ProbeRecord& probe) {
            return Reaches(probe) && probe.outcome == ProbeOutcome::Ok;
        });
    if (!anySite) {
        for (const ProbeRecord& probe : internet.probes) {
            if (Reaches(probe)) {
                AddOnce(targets, HostOf(probe.target));
                break;
            }
        }
    }
    return targets;
}

void CheckEngine::StartPathBursts(PathProbes& probes, bool gatewayStarted) {
    if (m_running != 1) {
        return;
    }
    if (!gatewayStarted) {
        probes.StartGatewayBurst();
    }
    probes.StartUdpBursts(AnsweredUdpServers());
    m_pathBurstsStarted = true;
}

void CheckEngine::RunPathProbes(PathProbes& probes) {
    if (m_running != 1 || !m_pathBurstsStarted) {
        probes.Abandon();
        return;
    }
    PathObservations observations;
    if (CollectUnlessStopped(
            [&, targets = PathTraceTargets()] { observations = probes.Collect(targets); },
            [&] { probes.Abandon(); })) {
        TheRunDiagnosis().SetPath(DecidePath(observations));
    }
}

}  // namespace lumidex
