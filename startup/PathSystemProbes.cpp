#include "startup/PathSystemProbes.h"

#include <arpa/inet.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <future>
#include <optional>
#include <system_error>

#include "engine/PathQuality.h"
#include "platform/AdaptersInfo.h"
#include "platform/BoundedLookup.h"
#include "platform/Ipv4Block.h"
#include "platform/ThreadGroup.h"
#include "probes/EchoBurst.h"
#include "probes/PathTrace.h"
#include "service/UdpBurst.h"

namespace lumidex {
namespace {

// The look-ups of the names to trace, side by side: a resolver that hangs costs the run this
// much, not the resolver's own time-out.
constexpr std::chrono::milliseconds kTraceLookupBound{1000};

bool IsDotted(const std::string& text) {
    return platform::ParseIpv4(text).has_value();
}

// "a.b.c.d:port", as the server rows name a server.
std::optional<ServerRecord> ParseServer(const std::string& text) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos) {
        return std::nullopt;
    }
    in_addr parsed{};
    const std::string dotted = text.substr(0, colon);
    if (::inet_pton(AF_INET, dotted.c_str(), &parsed) != 1) {
        return std::nullopt;
    }
    std::uint16_t port = 0;
    const char* first = text.data() + colon + 1;
    const char* last = text.data() + text.size();
    const auto [end, error] = std::from_chars(first, last, port);
    if (error != std::errc() || end != last || port == 0) {
        return std::nullopt;
    }
    ServerRecord server;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&parsed.s_addr);
    std::copy(bytes, bytes + 4, server.address.bytes.begin());
    server.port = port;
    return server;
}

std::string HostOfServer(const std::string& server) {
    return server.substr(0, server.rfind(':'));
}

void Append(std::vector<ProbeRecord>& to, std::vector<ProbeRecord> records) {
    to.insert(to.end(), std::make_move_iterator(records.begin()),
              std::make_move_iterator(records.end()));
}

class SystemPathProbes final : public PathProbes {
public:
    ~SystemPathProbes() override { Abandon(); }

    void StartGatewayBurst() override {
        Abandon();  // a run stopped before it collected
        m_echo = std::make_unique<EchoBurst>();
        m_udp = std::make_unique<UdpBurst>();
        m_tracer = std::make_unique<PathTracer>();
        m_abandoned = false;
        m_observations = {};
        m_reference.clear();
        m_threads.Start([this] {
            m_observations.gatewayAddress = platform::FirstRoutedAdapter().gateway;
            if (!m_observations.gatewayAddress.empty()) {
                m_observations.gateway = m_echo->Run(m_observations.gatewayAddress);
            }
        });
    }

    void StartUdpBursts(std::vector<std::string> servers) override {
        if (!m_udp) {
            return;
        }
        std::vector<ServerRecord> records;
        for (const std::string& server : servers) {
            if (const auto record = ParseServer(server)) {
                records.push_back(*record);
                if (m_reference.empty()) {
                    m_reference = HostOfServer(server);
                }
            }
        }
        if (records.empty()) {
            return;
        }
        m_threads.Start(
            [this, records = std::move(records)] { m_observations.udp = m_udp->Run(records); });
    }

    PathObservations Collect(std::vector<std::string> traceTargets) override {
        if (!m_tracer) {
            m_threads.Join();
            return {};
        }
        // The rows' failed hosts are traced while the bursts still run, beside one server the
        // bursts go to (it answered the rows): a trace of silent hosts that stops at the router
        // right before that server stopped at the service's own door, which no trace of silent
        // hosts alone can tell from a provider's router that forwards nothing.
        std::vector<std::string> addresses = Resolve(traceTargets);
        if (!addresses.empty() && !m_reference.empty() &&
            std::find(addresses.begin(), addresses.end(), m_reference) == addresses.end()) {
            if (addresses.size() >= kMaxTracedTargets) {
                addresses.pop_back();
            }
            addresses.push_back(m_reference);
        }
        std::future<std::vector<PathTrace>> rowTraces = StartTraces(addresses);
        m_threads.Join();
        PathObservations observations = m_observations;
        // Then the servers whose burst lost: their loss is measured, so their path is worth a
        // trace even where the rows saw answers.
        std::vector<std::string> lossy;
        for (const BurstSamples& samples : observations.udp) {
            const BurstStats stats = SummarizeBurst(samples);
            const std::string host = HostOfServer(stats.target);
            if (Measured(stats) && stats.lossPct >= kLossWarningPct &&
                addresses.size() + lossy.size() < kMaxTracedTargets &&
                std::find(addresses.begin(), addresses.end(), host) == addresses.end() &&
                std::find(lossy.begin(), lossy.end(), host) == lossy.end()) {
                lossy.push_back(host);
            }
        }
        std::future<std::vector<PathTrace>> lossyTraces = StartTraces(lossy);
        for (std::future<std::vector<PathTrace>>* traces : {&rowTraces, &lossyTraces}) {
            if (traces->valid()) {
                for (PathTrace& trace : traces->get()) {
                    observations.traces.push_back(std::move(trace));
                }
            }
        }
        Append(observations.probes, m_echo->TakeProbes());
        Append(observations.probes, m_udp->TakeProbes());
        Append(observations.probes, m_tracer->TakeProbes());
        return observations;
    }

    void Abandon() override {
        m_abandoned = true;
        if (m_echo) {
            m_echo->Cancel();
            m_udp->Cancel();
            m_tracer->Cancel();
        }
        m_threads.Join();
    }

private:
    // The traces of addresses, on a thread of their own (on this one when none can be had);
    // invalid when there is nothing to trace.
    std::future<std::vector<PathTrace>> StartTraces(const std::vector<std::string>& addresses) {
        if (addresses.empty() || m_abandoned) {
            return {};
        }
        try {
            return std::async(std::launch::async,
                              [this, addresses] { return m_tracer->Run(addresses); });
        } catch (const std::system_error&) {
            std::promise<std::vector<PathTrace>> traced;
            traced.set_value(m_tracer->Run(addresses));
            return traced.get_future();
        }
    }

    // The targets' addresses, each once, at most kMaxTracedTargets; a name that does not
    // resolve within the bound is left out.
    std::vector<std::string> Resolve(const std::vector<std::string>& targets) {
        std::vector<std::future<std::string>> lookups;
        for (const std::string& target : targets) {
            lookups.push_back(IsDotted(target) ? std::future<std::string>()
                                               : platform::StartDottedLookup(target));
        }
        const auto deadline = std::chrono::steady_clock::now() + kTraceLookupBound;
        std::vector<std::string> addresses;
        for (std::size_t i = 0; i < targets.size(); ++i) {
            std::string address = IsDotted(targets[i]) ? targets[i]
                                                       : platform::DottedAnswerBy(
                                                             std::move(lookups[i]), deadline,
                                                             [this] { return m_abandoned.load(); });
            if (!address.empty() && addresses.size() < kMaxTracedTargets &&
                std::find(addresses.begin(), addresses.end(), address) == addresses.end()) {
                addresses.push_back(std::move(address));
            }
        }
        return addresses;
    }

    std::unique_ptr<EchoBurst> m_echo;
    std::unique_ptr<UdpBurst> m_udp;
    std::unique_ptr<PathTracer> m_tracer;
    std::atomic<bool> m_abandoned{false};
    PathObservations m_observations;
    std::string m_reference;  // the first burst's server, dotted
    // Each thread writes a part of its own; they are read only once joined.
    platform::ThreadGroup m_threads;
};

}  // namespace

std::unique_ptr<PathProbes> MakeSystemPathProbes() {
    return std::make_unique<SystemPathProbes>();
}

}  // namespace lumidex
