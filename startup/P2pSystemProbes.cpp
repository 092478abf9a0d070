#include "startup/P2pSystemProbes.h"

#include <chrono>

#include "engine/Endpoints.h"
#include "platform/AdaptersInfo.h"
#include "platform/BoundedLookup.h"
#include "platform/Ipv4Block.h"
#include "platform/ThreadGroup.h"
#include "probes/HopProbe.h"
#include "probes/PortMappingProbe.h"
#include "probes/StunProbe.h"
#include "startup/ClientChecks.h"

namespace lumidex {
namespace {

// The hop probe's look-up of its target, within the P2P bound of 2 s with the hop's own wait.
constexpr std::chrono::milliseconds kHopLookupBound{1000};

// A public address for the hop probe to aim past the gateway at: the first STUN server's.
std::string HopTarget(const std::vector<endpoints::StunServer>& servers) {
    if (servers.empty()) {
        return {};
    }
    if (platform::ParseIpv4(servers.front().host)) {
        return servers.front().host;
    }
    // The STUN probe looks the same name up at the same moment; a resolver that hangs must
    // not hold the hop's thread past the P2P bound.
    return platform::DottedAnswerBy(platform::StartDottedLookup(servers.front().host),
                                    std::chrono::steady_clock::now() + kHopLookupBound);
}

void Append(std::vector<ProbeRecord>& to, std::vector<ProbeRecord> records) {
    to.insert(to.end(), std::make_move_iterator(records.begin()),
              std::make_move_iterator(records.end()));
}

class SystemP2pProbes final : public P2pProbes {
public:
    explicit SystemP2pProbes(PrefixChoice prefix) : m_prefix(std::move(prefix)) {}
    ~SystemP2pProbes() override { Abandon(); }

    void Start() override {
        Abandon();  // a run stopped before it collected
        m_stun = std::make_unique<StunProbe>();
        m_stunIpv6 = std::make_unique<StunProbe>();
        m_portMapping = std::make_unique<PortMappingProbe>();
        m_observations = {};
        const std::vector<endpoints::StunServer> servers = endpoints::StunServers();
        m_threads.Start(
            [this, servers] { m_observations.stun = m_stun->Run(servers, kStunBudget); });
        m_threads.Start([this, servers] {
            m_observations.ipv6.globalAddress = GlobalIpv6Address();
            m_observations.ipv6.udpAnswered = m_stunIpv6->AnswersOverIpv6(servers, kStunBudget);
        });
        m_threads.Start([this] {
            const platform::AdapterRoute route = platform::FirstRoutedAdapter();
            m_observations.localAddress = route.localAddress;
            const platform::ClientProcess client = ProbeClient(m_prefix);
            m_portMappingAnswers =
                m_portMapping->Run(route.gateway, client.ports.udp, m_observations.clientPorts);
        });
        m_threads.Start([this, servers] {
            m_observations.hopPastGateway = HopPastGateway(HopTarget(servers));
        });
    }

    P2pObservations Collect() override {
        m_threads.Join();
        P2pObservations observations = m_observations;
        observations.portMapping = m_portMappingAnswers;
        if (m_stun) {
            Append(observations.probes, m_stun->TakeProbes());
            Append(observations.probes, m_stunIpv6->TakeProbes());
            Append(observations.probes, m_portMapping->TakeProbes());
        }
        return observations;
    }

    void Abandon() override {
        // Cancelled before the join: a Collect waiting on another thread then ends at once.
        if (m_stun) {
            m_stun->Cancel();
            m_stunIpv6->Cancel();
            m_portMapping->Cancel();
        }
        m_threads.Join();
    }

private:
    PrefixChoice m_prefix;
    std::unique_ptr<StunProbe> m_stun;
    std::unique_ptr<StunProbe> m_stunIpv6;
    std::unique_ptr<PortMappingProbe> m_portMapping;
    P2pObservations m_observations;
    std::vector<PortMappingAnswer> m_portMappingAnswers;
    // Each thread writes a part of its own; they are read only once joined.
    platform::ThreadGroup m_threads;
};

}  // namespace

std::unique_ptr<P2pProbes> MakeSystemP2pProbes(PrefixChoice prefix) {
    return std::make_unique<SystemP2pProbes>(std::move(prefix));
}

}  // namespace lumidex
