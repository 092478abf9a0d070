#include "service/ServiceAhead.h"

namespace lumidex {
namespace {

// How often a wait for the channel list looks at the stop button.
constexpr std::chrono::milliseconds kStopWatchSlice{10};

std::size_t Index(HostGroup group) {
    return static_cast<std::size_t>(group);
}

std::size_t Index(ServerGroup group) {
    return static_cast<std::size_t>(group);
}

}  // namespace

ServiceAhead::ServiceAhead(ServiceHostLists& lists, ChannelListGet get, HostTests tests,
                           AheadPlan plan, std::chrono::milliseconds udpTimeout,
                           std::function<bool()> stopPressed)
    : m_lists(lists),
      m_get(get ? std::move(get) : HttpChannelListGet(&m_hostTasks)),
      m_tests(std::move(tests)),
      m_plan(std::move(plan)),
      m_udpTimeout(udpTimeout),
      m_stopPressed(std::move(stopPressed)) {
    // In the walk's order, so that the first rows' probes get the first slots.
    m_list = m_hostTasks.Start<ListResult>([this] { return FetchAndParse(); });
    {
        ServiceHostLists::HostsLock lock(m_lists);
        for (const HostGroup group :
             {HostGroup::Website, HostGroup::Information, HostGroup::List}) {
            m_hosts[Index(group)] = m_lists.Hosts(group);
        }
    }
    for (const HostGroup group : {HostGroup::Website, HostGroup::Information, HostGroup::List}) {
        const bool ping = m_plan.modes[Index(group)] == HostTestMode::Ping;
        for (const std::string& host : m_hosts[Index(group)]) {
            m_outcomes[Index(group)].push_back(m_hostTasks.Start<bool>([this, host, ping] {
                if (ping) {
                    return m_tests.ping ? m_tests.ping(host) : PingServiceHost(host);
                }
                return m_tests.connect ? m_tests.connect(host)
                                       : TestTcpConnection(host, &m_hostTasks);
            }));
        }
    }
}

ServiceAhead::~ServiceAhead() {
    Abandon();
}

void ServiceAhead::Abandon() {
    m_serverTasks.Cancel();
    m_hostTasks.Cancel();
}

ServiceAhead::ListResult ServiceAhead::FetchAndParse() {
    ListResult result;
    result.fetched = m_lists.FetchChannelList(m_plan.channelListUrl, m_get);
    {
        const CaptureScope scope(result.parse);
        m_lists.ParseChannelList();
    }
    // The samples are drawn in the walk's order, channel servers first, each after its own
    // seeding, as the walk draws them.
    for (const ServerGroup group : {ServerGroup::ChannelServers, ServerGroup::Trackers}) {
        const ServerList& servers =
            group == ServerGroup::Trackers ? m_lists.Trackers() : m_lists.ChannelServers();
        ServerPlan& plan = result.servers[Index(group)];
        if (servers.Empty()) {
            continue;
        }
        plan.entries = servers.Entries();
        CRuntimeRandom random;
        plan.chosen = ChooseSample(plan.entries.size(), m_plan.sampleSizes[Index(group)], random);
        if (m_stopPressed && m_stopPressed()) {
            m_serverTasks.Cancel();  // the walk will not get this far: send nothing
        }
        plan.attempts = StartServerAttempts(m_serverTasks, plan.entries, plan.chosen, m_udpTimeout,
                                            m_stopPressed);
    }
    return result;
}

std::optional<bool> ServiceAhead::TakeFetch(const std::string& url,
                                            const std::function<bool()>& stopPressed) {
    if (m_fetchTaken || url != m_plan.channelListUrl) {
        return std::nullopt;
    }
    m_fetchTaken = true;
    const std::function<bool()>& pressed = stopPressed ? stopPressed : m_stopPressed;
    if (pressed) {
        while (m_list.wait_for(kStopWatchSlice) != std::future_status::ready) {
            if (pressed()) {
                Abandon();
            }
        }
    }
    return m_list.get().Replayed().fetched;
}

bool ServiceAhead::TakeParse() {
    if (!m_fetchTaken || m_parseTaken) {
        return false;
    }
    m_parseTaken = true;
    m_list.get().value.parse.Replay();
    return true;
}

HostOutcome ServiceAhead::HostOutcomes(HostGroup group, HostTestMode mode,
                                       const std::vector<std::string>& hosts) {
    if (m_plan.modes[Index(group)] != mode || hosts != m_hosts[Index(group)]) {
        return {};
    }
    return [this, group](std::size_t index) {
        return m_outcomes[Index(group)][index].get().Replayed();
    };
}

std::optional<int> ServiceAhead::WalkServers(ProbeReporter& reporter, ServerGroup group,
                                             int sampleSize) {
    if (!m_parseTaken || m_plan.sampleSizes[Index(group)] != sampleSize) {
        return std::nullopt;
    }
    const ServerPlan& plan = m_list.get().value.servers[Index(group)];
    if (plan.entries.empty()) {
        return 0;
    }
    return WalkUdpServers(group, plan.entries, plan.chosen, reporter,
                          ReplayAttempts(plan.attempts));
}

}  // namespace lumidex
