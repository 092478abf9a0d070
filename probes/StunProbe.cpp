#include "probes/StunProbe.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <thread>

#include "net/StunMessage.h"
#include "platform/HostLookup.h"
#include "platform/RouteSource.h"
#include "platform/UniqueFd.h"

namespace lumidex {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A server's name and what it resolved to.
struct Resolved {
    std::string name;  // "host:port"
    std::optional<platform::Ipv4Endpoint> address;
};

// The look-up threads and the waiting run share it, so a thread outliving the wait still
// finds it.
struct Lookups {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::optional<std::uint32_t>> addresses;
    std::size_t done = 0;
};

platform::Ipv4Endpoint Endpoint(std::uint32_t networkOrder, std::uint16_t port) {
    platform::Ipv4Endpoint endpoint;
    std::memcpy(endpoint.address.data(), &networkOrder, 4);
    endpoint.port = port;
    return endpoint;
}

std::string Dotted(const platform::Ipv4Endpoint& endpoint) {
    std::uint32_t value = 0;
    std::memcpy(&value, endpoint.address.data(), 4);
    return platform::DottedAddress(value);
}

std::string Text(const platform::Ipv4Endpoint& endpoint) {
    return Dotted(endpoint) + ":" + std::to_string(endpoint.port);
}

std::optional<platform::Ipv4Endpoint> ToEndpoint(const stun::StunAddress& address) {
    in_addr raw{};
    if (address.ipv6 || ::inet_pton(AF_INET, address.address.c_str(), &raw) != 1) {
        return std::nullopt;
    }
    return Endpoint(raw.s_addr, address.port);
}

TransportAddress ToTransport(const stun::StunAddress& address) {
    return {address.address, address.port};
}

std::string ServerName(const endpoints::StunServer& server) {
    return server.host + ":" + std::to_string(server.port);
}

// Every name on a thread of its own, all waited for together; a look-up still under way at
// the bound is left to finish on its thread, and its server is not asked.
std::vector<Resolved> ResolveAll(const std::vector<endpoints::StunServer>& servers,
                                 Clock::time_point until, const std::atomic<bool>& cancelled) {
    auto state = std::make_shared<Lookups>();
    state->addresses.resize(servers.size());
    std::size_t started = 0;
    for (std::size_t i = 0; i < servers.size(); ++i) {
        try {
            std::thread([state, i, host = servers[i].host] {
                const std::uint32_t address = platform::LookupHostIPv4(host);
                const std::lock_guard lock(state->mutex);
                if (address != 0) {
                    state->addresses[i] = address;
                }
                ++state->done;
                state->changed.notify_all();
            }).detach();
            ++started;
        } catch (const std::system_error&) {
            // A thread that cannot start leaves its server unresolved.
        }
    }
    std::vector<Resolved> resolved;
    std::unique_lock lock(state->mutex);
    // Cancel cannot reach this wait; short slices let it be seen soon enough.
    while (state->done < started && !cancelled && Clock::now() < until) {
        state->changed.wait_until(lock, std::min(until, Clock::now() + milliseconds{20}));
    }
    for (std::size_t i = 0; i < servers.size(); ++i) {
        Resolved entry{ServerName(servers[i]), std::nullopt};
        if (state->addresses[i]) {
            entry.address = Endpoint(*state->addresses[i], servers[i].port);
        }
        resolved.push_back(std::move(entry));
    }
    return resolved;
}

enum class Step { Binding, OtherAddress, OtherAddressAndPort, ChangeIpAndPort, ChangePort };

const char* StepName(Step step) {
    switch (step) {
        case Step::Binding:
            return "binding";
        case Step::OtherAddress:
        case Step::OtherAddressAndPort:
            return "other_address";
        case Step::ChangeIpAndPort:
            return "change_ip_port";
        case Step::ChangePort:
            return "change_port";
    }
    return "binding";
}

struct Test {
    Step step = Step::Binding;
    std::size_t server = 0;  // index into the resolved servers, for pacing
    std::string target;
    platform::Ipv4Endpoint to;
    stun::ChangeRequest change;
    stun::TransactionId id{};
    std::vector<std::uint8_t> request;
    Clock::time_point start;     // its first send
    Clock::time_point deadline;  // given up then
    bool waitedFully = false;    // its deadline was its own, not the run's end
    std::size_t sends = 0;
    int strays = 0;
    bool done = false;
    bool abandoned = false;
    ProbeOutcome outcome = ProbeOutcome::Timeout;
    std::optional<double> rttMs;
};

// The tests of one run on one socket: sends, retransmissions, the answers' matching and what
// they mean for the observations.
class Exchange {
public:
    Exchange(platform::UdpSocket& socket, std::vector<Resolved> servers, Clock::time_point end,
             const std::atomic<bool>& cancelled, StunObservations& seen)
        : m_socket(socket),
          m_servers(std::move(servers)),
          m_end(end),
          m_cancelled(cancelled),
          m_seen(seen),
          m_nextStart(m_servers.size(), Clock::now()) {}

    void Run() {
        const auto port = m_socket.LocalEndpoint().value_or(platform::Ipv4Endpoint{}).port;
        m_port = port;
        for (std::size_t i = 0; i < m_servers.size(); ++i) {
            if (m_servers[i].address) {
                if (!m_seen.local) {
                    NoteLocal(*m_servers[i].address);
                }
                Add(Step::Binding, i, *m_servers[i].address, {}, m_servers[i].name);
            }
        }
        std::array<std::uint8_t, stun::kMaxAnswerBytes> buffer{};
        bool finished = false;
        while (!m_cancelled && !(finished = Finished())) {
            const Clock::time_point now = Clock::now();
            if (now >= m_end) {
                break;
            }
            SendDue(now);
            ExpireDue(now);
            StartMappingTestsOnceFiltered();
            const Clock::time_point next = NextEvent();
            const auto wait = std::chrono::ceil<milliseconds>(next - Clock::now());
            m_socket.SetReceiveTimeout(std::max(wait, milliseconds{1}));
            const auto datagram = m_socket.ReceiveFrom(buffer);
            if (!datagram) {
                continue;
            }
            const std::size_t kept = std::min(datagram->size, buffer.size());
            Handle(std::span<const std::uint8_t>(buffer.data(), kept), datagram->size,
                   datagram->sender);
            StartMappingTestsOnceFiltered();
        }
        for (Test& test : m_tests) {
            if (!test.done) {
                // Bindings no longer needed once the run has what it came for were not given
                // their time: no record says they went unanswered.
                test.abandoned = finished;
                Conclude(test, false);
            }
        }
    }

    std::vector<ProbeRecord> Records() const {
        std::vector<ProbeRecord> records;
        for (const Test& test : m_tests) {
            if (test.abandoned) {
                continue;
            }
            records.push_back(
                {ProbeKind::Stun, test.target, test.outcome, test.rttMs, StepName(test.step)});
        }
        return records;
    }

private:
    void NoteLocal(const platform::Ipv4Endpoint& server) {
        if (const auto source = platform::RouteSource(server)) {
            m_seen.local = TransportAddress{Dotted(*source), m_port};
        }
    }

    void Add(Step step, std::size_t server, const platform::Ipv4Endpoint& to,
             stun::ChangeRequest change, std::string target) {
        Test test;
        test.step = step;
        test.server = server;
        test.target = std::move(target);
        test.to = to;
        test.change = change;
        test.id = stun::NewTransactionId();
        test.request = stun::BindingRequest(test.id, change);
        const Clock::time_point start = std::max(Clock::now(), m_nextStart[server]);
        m_nextStart[server] = start + kStunPacing;
        test.start = start;
        test.deadline = std::min(start + kStunAnswerWait, m_end);
        test.waitedFully = start + kStunAnswerWait <= m_end;
        m_tests.push_back(std::move(test));
    }

    void SendDue(Clock::time_point now) {
        for (Test& test : m_tests) {
            while (!test.done && test.sends < std::size(kStunRetransmitAt) &&
                   test.start + kStunRetransmitAt[test.sends] <= now) {
                // A failed send is as good as a lost datagram: the test runs out.
                m_socket.SendTo(test.request, test.to);
                ++test.sends;
            }
        }
    }

    void ExpireDue(Clock::time_point now) {
        for (Test& test : m_tests) {
            if (!test.done && test.deadline <= now) {
                Conclude(test, test.waitedFully);
            }
        }
    }

    Clock::time_point NextEvent() const {
        Clock::time_point next = m_end;
        for (const Test& test : m_tests) {
            if (test.done) {
                continue;
            }
            next = std::min(next, test.deadline);
            if (test.sends < std::size(kStunRetransmitAt)) {
                next = std::min(next, test.start + kStunRetransmitAt[test.sends]);
            }
        }
        return next;
    }

    // Two mapped addresses are in and the behaviour tests, if a server offered them, are
    // over; or nothing is left to wait for.
    bool Finished() const {
        const bool allDone =
            std::all_of(m_tests.begin(), m_tests.end(), [](const Test& t) { return t.done; });
        if (allDone && !m_deferredMapping) {
            return true;
        }
        if (!m_seen.mapped1 || !m_seen.mapped2 || !m_behaviourServer || m_deferredMapping) {
            return false;
        }
        return std::all_of(m_tests.begin(), m_tests.end(),
                           [](const Test& t) { return t.done || t.step == Step::Binding; });
    }

    // A test that ran out: unanswered. A filtering test cut short by the run's end says
    // nothing: a late answer is no proof of a filter.
    void Conclude(Test& test, bool waitedFully) {
        test.done = true;
        if (test.step == Step::ChangeIpAndPort && waitedFully) {
            m_seen.changeIpAndPortAnswered = false;
        }
        if (test.step == Step::ChangePort && waitedFully) {
            m_seen.changePortAnswered = false;
        }
    }

    Test* FindTest(const stun::TransactionId& id) {
        for (Test& test : m_tests) {
            if (test.id == id) {
                return &test;
            }
        }
        return nullptr;
    }

    void Handle(std::span<const std::uint8_t> bytes, std::size_t size,
                const platform::Ipv4Endpoint& from) {
        const stun::AnswerResult parsed = stun::ParseBindingAnswer(bytes, size);
        Test* test = parsed.error == stun::AnswerError::None ? FindTest(parsed.answer.id) : nullptr;
        if (test == nullptr) {
            Stray(from);
            return;
        }
        if (test->done) {
            return;  // the answer to a retransmission
        }
        test->done = true;
        test->rttMs = std::chrono::duration<double, std::milli>(Clock::now() - test->start).count();
        const stun::BindingAnswer& answer = parsed.answer;
        if (!answer.success) {
            test->outcome = ProbeOutcome::Refused;
            return;
        }
        if (test->step == Step::ChangeIpAndPort || test->step == Step::ChangePort) {
            Filtering(*test, from);
            return;
        }
        if (!answer.mapped) {
            ++m_seen.malformedAnswers;
            test->outcome = ProbeOutcome::Malformed;
            return;
        }
        test->outcome = ProbeOutcome::Ok;
        if (test->step == Step::OtherAddress) {
            m_seen.mappedOtherAddress = ToTransport(*answer.mapped);
            return;
        }
        if (test->step == Step::OtherAddressAndPort) {
            m_seen.mappedOtherAddressAndPort = ToTransport(*answer.mapped);
            return;
        }
        Mapped(*test, answer);
    }

    // The answer must come from where the request asked it to: a server that ignores
    // CHANGE-REQUEST answers from its primary address, which proves no filter open.
    void Filtering(Test& test, const platform::Ipv4Endpoint& from) {
        const bool otherIp = from.address != test.to.address;
        const bool otherPort = from.port != test.to.port;
        const bool asked = test.change.changeIp ? otherIp && otherPort : !otherIp && otherPort;
        if (!asked) {
            test.outcome = ProbeOutcome::Error;
            return;
        }
        test.outcome = ProbeOutcome::Ok;
        if (test.step == Step::ChangeIpAndPort) {
            m_seen.changeIpAndPortAnswered = true;
        } else {
            m_seen.changePortAnswered = true;
        }
    }

    void Mapped(const Test& test, const stun::BindingAnswer& answer) {
        if (!m_seen.mapped1) {
            m_seen.mapped1 = ToTransport(*answer.mapped);
            m_firstServer = test.to;
            NoteLocal(test.to);
        } else if (!m_seen.mapped2 && m_firstServer && m_firstServer->address != test.to.address) {
            m_seen.mapped2 = ToTransport(*answer.mapped);
        }
        if (m_behaviourServer || !answer.other) {
            return;
        }
        const auto other = ToEndpoint(*answer.other);
        if (!other || other->address == test.to.address || other->port == test.to.port) {
            return;  // no second address and port to test with
        }
        // Adding tests moves them: nothing of test is read after the first.
        const std::size_t server = test.server;
        const platform::Ipv4Endpoint primary = test.to;
        m_behaviourServer = server;
        m_seen.otherAddress = ToTransport(*answer.other);
        Add(Step::ChangeIpAndPort, server, primary, {true, true}, Text(primary));
        Add(Step::ChangePort, server, primary, {false, true}, Text(primary));
        m_deferredMapping = DeferredMapping{server, *other, primary.port};
    }

    // A NAT that filters by address and port lets an answer in from wherever this socket has
    // sent to: once the mapping tests have reached the server's other address and port, the
    // filtering tests would see every filter open. So those wait for the filtering tests'
    // end, answered or not.
    void StartMappingTestsOnceFiltered() {
        if (!m_deferredMapping) {
            return;
        }
        for (const Test& test : m_tests) {
            if (!test.done &&
                (test.step == Step::ChangeIpAndPort || test.step == Step::ChangePort)) {
                return;
            }
        }
        const DeferredMapping deferred = *m_deferredMapping;
        m_deferredMapping.reset();
        const platform::Ipv4Endpoint otherAddress{deferred.other.address, deferred.primaryPort};
        Add(Step::OtherAddress, deferred.server, otherAddress, {}, Text(otherAddress));
        Add(Step::OtherAddressAndPort, deferred.server, deferred.other, {}, Text(deferred.other));
    }

    void Stray(const platform::Ipv4Endpoint& from) {
        ++m_seen.malformedAnswers;
        bool known = false;
        for (Test& test : m_tests) {
            if (test.to != from) {
                continue;
            }
            known = true;
            if (!test.done && ++test.strays >= kMaxStrayPerTest) {
                test.outcome = ProbeOutcome::Malformed;
                Conclude(test, false);
            }
        }
        if (!known && ++m_strays >= kMaxStrayPerRun) {
            m_end = Clock::now();
        }
    }

    platform::UdpSocket& m_socket;
    std::vector<Resolved> m_servers;
    Clock::time_point m_end;
    const std::atomic<bool>& m_cancelled;
    StunObservations& m_seen;
    std::vector<Clock::time_point> m_nextStart;  // by server: pacing
    std::vector<Test> m_tests;
    std::uint16_t m_port = 0;
    std::optional<platform::Ipv4Endpoint> m_firstServer;
    std::optional<std::size_t> m_behaviourServer;
    struct DeferredMapping {
        std::size_t server = 0;
        platform::Ipv4Endpoint other;
        std::uint16_t primaryPort = 0;
    };
    std::optional<DeferredMapping> m_deferredMapping;
    int m_strays = 0;
};

// The server's first IPv6 address, looked up as the IPv4 ones are not: getaddrinfo for
// AF_INET6 only. A name without one (most public servers have one) gives none.
std::optional<sockaddr_in6> Ipv6AddressOf(const endpoints::StunServer& server) {
    in_addr ipv4{};
    if (server.host.empty() || ::inet_pton(AF_INET, server.host.c_str(), &ipv4) == 1) {
        return std::nullopt;  // an IPv4 address has no IPv6 one to look up
    }
    addrinfo hints{};
    hints.ai_family = AF_INET6;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* raw = nullptr;
    if (::getaddrinfo(server.host.c_str(), nullptr, &hints, &raw) != 0 || raw == nullptr) {
        return std::nullopt;
    }
    std::optional<sockaddr_in6> found;
    if (raw->ai_family == AF_INET6 && raw->ai_addrlen >= sizeof(sockaddr_in6)) {
        sockaddr_in6 address{};
        std::memcpy(&address, raw->ai_addr, sizeof address);
        address.sin6_port = htons(server.port);
        found = address;
    }
    ::freeaddrinfo(raw);
    return found;
}

// A look-up of Ipv6AddressOf on a thread of its own, shared with the waiting caller.
struct Ipv6Lookup {
    std::mutex mutex;
    std::condition_variable changed;
    std::optional<sockaddr_in6> address;
    bool done = false;
};

// Ipv6AddressOf within until, as the IPv4 look-ups are bounded.
std::optional<sockaddr_in6> Ipv6AddressWithin(const endpoints::StunServer& server,
                                              Clock::time_point until,
                                              const std::atomic<bool>& cancelled) {
    auto state = std::make_shared<Ipv6Lookup>();
    try {
        std::thread([state, server] {
            const auto address = Ipv6AddressOf(server);
            const std::lock_guard lock(state->mutex);
            state->address = address;
            state->done = true;
            state->changed.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        return std::nullopt;
    }
    std::unique_lock lock(state->mutex);
    while (!state->done && !cancelled && Clock::now() < until) {
        state->changed.wait_until(lock, std::min(until, Clock::now() + milliseconds{20}));
    }
    return state->done ? state->address : std::nullopt;
}

}  // namespace

std::string GlobalIpv6Address() {
    ifaddrs* raw = nullptr;
    if (::getifaddrs(&raw) != 0) {
        return {};
    }
    std::string found;
    for (const ifaddrs* entry = raw; entry != nullptr && found.empty(); entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET6 ||
            (entry->ifa_flags & IFF_UP) == 0 || (entry->ifa_flags & IFF_LOOPBACK) != 0) {
            continue;
        }
        sockaddr_in6 address{};
        std::memcpy(&address, entry->ifa_addr, sizeof address);
        // 2000::/3: the global unicast range; link-local, unique-local and the rest cannot be
        // reached from the Internet.
        if ((address.sin6_addr.s6_addr[0] & 0xE0) != 0x20) {
            continue;
        }
        char text[INET6_ADDRSTRLEN] = {};
        if (::inet_ntop(AF_INET6, &address.sin6_addr, text, sizeof text) != nullptr) {
            found = text;
        }
    }
    ::freeifaddrs(raw);
    return found;
}

StunObservations StunProbe::Run(const std::vector<endpoints::StunServer>& servers,
                                milliseconds budget) {
    const Clock::time_point start = Clock::now();
    const Clock::time_point end = start + budget;
    StunObservations seen;
    for (const auto& server : servers) {
        seen.servers.push_back(ServerName(server));
    }
    std::vector<Resolved> resolved =
        ResolveAll(servers, std::min(end, start + kStunLookupBound), m_cancelled);
    for (const Resolved& server : resolved) {
        if (!server.address) {
            Record({ProbeKind::Stun, server.name, ProbeOutcome::Error, std::nullopt, "lookup"});
        }
    }
    {
        const std::lock_guard lock(m_mutex);
        if (m_cancelled || m_socket.Open({}).has_value()) {
            return seen;
        }
    }
    Exchange exchange(m_socket, std::move(resolved), end, m_cancelled, seen);
    exchange.Run();
    for (ProbeRecord& record : exchange.Records()) {
        Record(std::move(record));
    }
    const std::lock_guard lock(m_mutex);
    m_socket.Close();
    return seen;
}

// RFC 5389 over IPv6 needs nothing of the behaviour tests: one Binding, retransmitted, and any
// well-formed answer with our id says UDP over IPv6 gets through.
std::optional<bool> StunProbe::AnswersOverIpv6(const std::vector<endpoints::StunServer>& servers,
                                               milliseconds budget) {
    const Clock::time_point start = Clock::now();
    const Clock::time_point end = start + budget;
    std::optional<sockaddr_in6> to;
    std::string target;
    for (const auto& server : servers) {
        if (m_cancelled || Clock::now() >= end) {
            break;
        }
        if ((to =
                 Ipv6AddressWithin(server, std::min(end, start + kStunLookupBound), m_cancelled))) {
            target = ServerName(server);
            break;
        }
    }
    if (!to) {
        return std::nullopt;
    }
    {
        const std::lock_guard lock(m_mutex);
        if (m_cancelled) {
            return std::nullopt;
        }
        m_socket6.reset(::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        if (!m_socket6) {
            return false;
        }
    }
    const stun::TransactionId id = stun::NewTransactionId();
    const auto request = stun::BindingRequest(id);
    const Clock::time_point first = Clock::now();
    std::size_t sends = 0;
    ProbeOutcome outcome = ProbeOutcome::Timeout;
    std::optional<double> rtt;
    std::array<std::uint8_t, stun::kMaxAnswerBytes> buffer{};
    const Clock::time_point deadline = std::min(end, first + kStunAnswerWait);
    for (int datagrams = 0; !m_cancelled && datagrams < kMaxStrayPerTest;) {
        const Clock::time_point now = Clock::now();
        if (now >= deadline) {
            break;
        }
        while (sends < std::size(kStunRetransmitAt) && first + kStunRetransmitAt[sends] <= now) {
            ::sendto(m_socket6.get(), request.data(), request.size(), MSG_NOSIGNAL,
                     reinterpret_cast<const sockaddr*>(&*to), sizeof *to);
            ++sends;
        }
        Clock::time_point next = deadline;
        if (sends < std::size(kStunRetransmitAt)) {
            next = std::min(next, first + kStunRetransmitAt[sends]);
        }
        pollfd wait{m_socket6.get(), POLLIN, 0};
        const auto ms = std::chrono::ceil<milliseconds>(next - now).count();
        if (::poll(&wait, 1, static_cast<int>(std::max<long long>(ms, 1))) <= 0 ||
            (wait.revents & POLLIN) == 0) {
            continue;
        }
        const ssize_t got =
            ::recv(m_socket6.get(), buffer.data(), buffer.size(), MSG_TRUNC | MSG_DONTWAIT);
        if (got <= 0) {
            continue;
        }
        ++datagrams;
        const auto kept = std::min(static_cast<std::size_t>(got), buffer.size());
        const auto parsed =
            stun::ParseBindingAnswer({buffer.data(), kept}, static_cast<std::size_t>(got));
        if (parsed.error == stun::AnswerError::None && parsed.answer.id == id) {
            outcome = parsed.answer.success ? ProbeOutcome::Ok : ProbeOutcome::Refused;
            rtt = std::chrono::duration<double, std::milli>(Clock::now() - first).count();
            break;
        }
        outcome = ProbeOutcome::Malformed;
    }
    {
        const std::lock_guard lock(m_mutex);
        m_socket6.reset();
    }
    Record({ProbeKind::Stun, target, outcome, rtt, "binding_ipv6"});
    return outcome == ProbeOutcome::Ok;
}

void StunProbe::Cancel() {
    const std::lock_guard lock(m_mutex);
    m_cancelled = true;
    if (m_socket.IsOpen()) {
        m_socket.Shutdown();
    }
    if (m_socket6) {
        ::shutdown(m_socket6.get(), SHUT_RDWR);
    }
}

std::vector<ProbeRecord> StunProbe::TakeProbes() {
    const std::lock_guard lock(m_mutex);
    return std::exchange(m_probes, {});
}

void StunProbe::Record(ProbeRecord record) {
    const std::lock_guard lock(m_mutex);
    m_probes.push_back(std::move(record));
}

}  // namespace lumidex
