#include "probes/PortMappingProbe.h"

#include <arpa/inet.h>
#include <natpmp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <utility>

#include "net/PcpMessage.h"
#include "platform/Deadline.h"
#include "platform/UniqueFd.h"

namespace lumidex {
namespace {

constexpr std::size_t kUpnp = 0;
constexpr std::size_t kNatPmp = 1;
constexpr std::size_t kPcp = 2;
constexpr std::size_t kProtocols = 3;
constexpr PortMappingProtocol kProtocolOf[kProtocols] = {
    PortMappingProtocol::Upnp, PortMappingProtocol::NatPmp, PortMappingProtocol::Pcp};
constexpr ProbeKind kKindOf[kProtocols] = {ProbeKind::Upnp, ProbeKind::NatPmp, ProbeKind::Pcp};

// NAT-PMP's first retransmission is due after 250 ms (RFC 6886 3.1); waking that often lets
// the library send it. PCP's own schedule starts at 3 s (RFC 6887 8.1.1), far past the bound,
// so it gets one resend of its own halfway.
constexpr int kNatPmpWakeMs = 250;
constexpr std::chrono::milliseconds kPcpResendAfter{500};
// The NAT-PMP and PCP waits end this much before the run's bound, so that what they saw is
// handed over before the run stops waiting for it.
constexpr std::chrono::milliseconds kHandOverMargin{30};
// A PCP answer is at most kPcpMaxMessageBytes; one byte more tells a longer datagram apart.
constexpr std::size_t kPcpReceiveBytes = kPcpMaxMessageBytes + 1;

struct Outcome {
    PortMappingAnswer answer;
    std::vector<ProbeRecord> records;
    std::vector<ClientPortMapping> clientPorts;
};

PortMappingAnswer NotAnswered(PortMappingProtocol protocol, std::string detail) {
    PortMappingAnswer answer;
    answer.protocol = protocol;
    answer.detail = std::move(detail);
    return answer;
}

ProbeRecord Record(ProbeKind kind, std::string target, ProbeOutcome outcome,
                   std::optional<double> rttMs = std::nullopt) {
    return {kind, std::move(target), outcome, rttMs, "answer"};
}

std::string Dotted(in_addr address) {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

}  // namespace

// What the threads of one run share with it. A thread that ends after Run returned finds the
// run closed and drops what it found.
struct PortMappingProbe::Shared {
    std::mutex mutex;
    std::condition_variable changed;
    std::array<std::optional<Outcome>, kProtocols> outcomes;
    bool upnpFoundDevice = false;
    bool closed = false;
    std::atomic<bool> cancelled{false};
    // Readable once cancelled or closed: the NAT-PMP and PCP waits poll it beside their socket.
    platform::UniqueFd wake{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};

    bool Stopping() const { return cancelled.load(); }
    void Stop() {
        cancelled = true;
        // Under the lock, so that a waiter between its check and its sleep cannot miss it.
        { std::lock_guard lock(mutex); }
        const std::uint64_t one = 1;
        if (wake) {
            (void)::write(wake.get(), &one, sizeof one);
        }
        changed.notify_all();
    }
    void Finish(std::size_t protocol, Outcome outcome) {
        std::lock_guard lock(mutex);
        if (!closed) {
            outcomes[protocol] = std::move(outcome);
        }
        changed.notify_all();
    }
    void FoundUpnpDevice() {
        std::lock_guard lock(mutex);
        upnpFoundDevice = true;
        changed.notify_all();
    }
    bool AllDone() const {
        for (const auto& outcome : outcomes) {
            if (!outcome) {
                return false;
            }
        }
        return true;
    }
};

namespace {

// Waits for fd to become readable, or the run to stop, or the deadline. True: readable.
bool WaitReadable(int fd, int wakeFd, int waitMs) {
    pollfd waits[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    const int ready = ::poll(waits, 2, waitMs);
    return ready > 0 && waits[1].revents == 0 && (waits[0].revents & (POLLIN | POLLERR)) != 0;
}

std::string GatewayTarget(const std::string& gateway) {
    return gateway + ":" + std::to_string(kPcpServerPort);
}

// What a UPnP record names: the device's URL where it was given, else the gateway it was
// searched for.
std::string UpnpTarget(const std::string& gateway, const UpnpFindOptions& options) {
    if (!options.descriptionUrl.empty()) {
        return options.descriptionUrl;
    }
    return gateway.empty() ? std::string("ssdp") : gateway;
}

enum class Peeked { Nothing, Whole, Garbage, Refused };

// libnatpmp reads a fixed 12 bytes whatever arrived, so a short or foreign datagram would be
// read partly from its stale buffer. Looked at first, such a datagram is dropped here.
// RFC 6886 3.2 and 3.5: version 0, opcode 128, a 16-bit result, the epoch, and with result 0
// the public address.
Peeked PeekNatPmpAnswer(int fd) {
    std::uint8_t bytes[16];
    const ssize_t got = ::recv(fd, bytes, sizeof bytes, MSG_PEEK | MSG_DONTWAIT);
    if (got < 0) {
        return errno == ECONNREFUSED ? Peeked::Refused : Peeked::Nothing;
    }
    const bool whole = got >= 8 && bytes[0] == 0 && bytes[1] == 128 &&
                       (got >= 12 || bytes[2] != 0 || bytes[3] != 0);
    if (whole) {
        return Peeked::Whole;
    }
    (void)::recv(fd, bytes, sizeof bytes, MSG_DONTWAIT);
    return Peeked::Garbage;
}

// RFC 6886 3.2: the public address request, through libnatpmp, but waited for with our own
// deadline instead of its schedule of nine tries over two minutes.
Outcome AskNatPmp(in_addr gateway, const std::string& target, const std::atomic<bool>& stopping,
                  int wakeFd, std::chrono::milliseconds bound) {
    Outcome outcome;
    outcome.answer = NotAnswered(PortMappingProtocol::NatPmp, "no answer");
    natpmp_t natpmp{};
    if (initnatpmp(&natpmp, 1, gateway.s_addr) < 0) {
        outcome.answer.detail = "socket error";
        outcome.records.push_back(Record(ProbeKind::NatPmp, target, ProbeOutcome::Error));
        return outcome;
    }
    struct Closer {
        natpmp_t* natpmp;
        ~Closer() { closenatpmp(natpmp); }
    } closer{&natpmp};
    const auto start = std::chrono::steady_clock::now();
    if (sendpublicaddressrequest(&natpmp) < 0) {
        outcome.answer.detail = "send error";
        outcome.records.push_back(Record(ProbeKind::NatPmp, target, ProbeOutcome::Error));
        return outcome;
    }
    const platform::Deadline deadline(static_cast<int>(bound.count()));
    bool garbled = false;
    while (!deadline.Passed() && !stopping) {
        const bool readable = WaitReadable(natpmp.s, wakeFd, deadline.WaitMs(kNatPmpWakeMs));
        if (stopping) {
            break;
        }
        const Peeked peeked = readable ? PeekNatPmpAnswer(natpmp.s) : Peeked::Nothing;
        if (peeked == Peeked::Refused) {
            outcome.answer.detail = "port closed";
            outcome.records.push_back(Record(ProbeKind::NatPmp, target, ProbeOutcome::Refused));
            return outcome;
        }
        if (peeked == Peeked::Garbage) {
            garbled = true;
            continue;
        }
        // Reads what came, or resends when the library's next try is due.
        natpmpresp_t response{};
        const int result = readnatpmpresponseorretry(&natpmp, &response);
        if (result == NATPMP_TRYAGAIN || result == NATPMP_ERR_WRONGPACKETSOURCE) {
            continue;
        }
        const double rtt = MillisecondsSince(start);
        if (result == 0) {
            outcome.answer.answered = true;
            outcome.answer.available = true;
            outcome.answer.externalAddress = Dotted(response.pnu.publicaddress.addr);
            outcome.answer.detail = "result 0";
            outcome.records.push_back(Record(ProbeKind::NatPmp, target, ProbeOutcome::Ok, rtt));
            return outcome;
        }
        if (response.resultcode != 0) {
            // RFC 6886 3.5: the router answered and refused (3: no external address yet).
            outcome.answer.answered = true;
            outcome.answer.detail = "result " + std::to_string(response.resultcode);
            outcome.records.push_back(
                Record(ProbeKind::NatPmp, target, ProbeOutcome::Refused, rtt));
            return outcome;
        }
        // The library's name for a refused receive (ECONNREFUSED).
        if (result == NATPMP_ERR_NOGATEWAYSUPPORT ||
            (result == NATPMP_ERR_RECVFROM && errno == ECONNREFUSED)) {
            outcome.answer.detail = "port closed";
            outcome.records.push_back(Record(ProbeKind::NatPmp, target, ProbeOutcome::Refused));
            return outcome;
        }
        if (result == NATPMP_ERR_UNSUPPORTEDVERSION || result == NATPMP_ERR_UNSUPPORTEDOPCODE) {
            // Another version or opcode in the header: not the answer; one may still come.
            garbled = true;
            continue;
        }
        outcome.answer.detail = "receive error";
        outcome.records.push_back(Record(ProbeKind::NatPmp, target, ProbeOutcome::Error));
        return outcome;
    }
    if (stopping) {
        outcome.answer.detail = "stopped";
        return outcome;
    }
    if (garbled) {
        outcome.answer.detail = "invalid answer";
    }
    outcome.records.push_back(Record(ProbeKind::NatPmp, target,
                                     garbled ? ProbeOutcome::Malformed : ProbeOutcome::Timeout));
    return outcome;
}

// RFC 6887 14.1: ANNOUNCE from a socket of its own.
Outcome AskPcp(in_addr gateway, const std::string& target, const std::atomic<bool>& stopping,
               int wakeFd, std::chrono::milliseconds bound) {
    Outcome outcome;
    outcome.answer = NotAnswered(PortMappingProtocol::Pcp, "no answer");
    auto fail = [&](const char* detail) {
        outcome.answer.detail = detail;
        outcome.records.push_back(Record(ProbeKind::Pcp, target, ProbeOutcome::Error));
        return outcome;
    };
    platform::UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_addr = gateway;
    server.sin_port = htons(kPcpServerPort);
    sockaddr_in local{};
    socklen_t localSize = sizeof local;
    // Connected, so that only the gateway's answers arrive and the route names our address.
    if (!fd ||
        ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&server), sizeof server) != 0 ||
        ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&local), &localSize) != 0) {
        return fail("socket error");
    }
    std::array<std::uint8_t, 4> client{};
    std::memcpy(client.data(), &local.sin_addr, 4);
    const PcpAnnounceRequest request = BuildPcpAnnounce(client);
    const auto start = std::chrono::steady_clock::now();
    if (::send(fd.get(), request.data(), request.size(), 0) < 0) {
        return fail("send error");
    }
    bool resent = false;
    bool garbled = false;
    const platform::Deadline deadline(static_cast<int>(bound.count()));
    std::array<std::uint8_t, kPcpReceiveBytes> buffer{};
    while (!deadline.Passed() && !stopping) {
        if (!resent && std::chrono::steady_clock::now() - start >= kPcpResendAfter) {
            resent = true;
            (void)::send(fd.get(), request.data(), request.size(), 0);
        }
        const int waitMs = resent ? deadline.WaitMs(0)
                                  : deadline.WaitMs(static_cast<int>(kPcpResendAfter.count()) -
                                                    static_cast<int>(MillisecondsSince(start)));
        if (!WaitReadable(fd.get(), wakeFd, waitMs)) {
            continue;
        }
        const ssize_t got = ::recv(fd.get(), buffer.data(), buffer.size(), 0);
        if (got < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
                continue;
            }
            if (errno == ECONNREFUSED) {
                outcome.answer.detail = "port closed";
                outcome.records.push_back(Record(ProbeKind::Pcp, target, ProbeOutcome::Refused));
                return outcome;
            }
            return fail("receive error");
        }
        const PcpAnswer parsed =
            ParsePcpAnswer(std::span<const std::uint8_t>(buffer.data(), std::size_t(got)));
        const double rtt = MillisecondsSince(start);
        if (parsed.error == PcpAnswerError::OldVersion) {
            // RFC 6887 9: a router that speaks NAT-PMP only answers in its version 0.
            outcome.answer.answered = true;
            outcome.answer.detail = "NAT-PMP only";
            outcome.records.push_back(Record(ProbeKind::Pcp, target, ProbeOutcome::Refused, rtt));
            return outcome;
        }
        if (parsed.error != PcpAnswerError::None) {
            garbled = true;
            continue;
        }
        // ANNOUNCE carries no external address (only MAP and PEER do), so it stays empty.
        outcome.answer.answered = true;
        outcome.answer.available = parsed.resultCode == kPcpSuccess;
        outcome.answer.addressMismatch = parsed.resultCode == kPcpAddressMismatch;
        outcome.answer.detail = "result " + std::to_string(parsed.resultCode);
        outcome.records.push_back(
            Record(ProbeKind::Pcp, target,
                   outcome.answer.available ? ProbeOutcome::Ok : ProbeOutcome::Refused, rtt));
        return outcome;
    }
    if (stopping) {
        outcome.answer.detail = "stopped";
        return outcome;
    }
    if (garbled) {
        outcome.answer.detail = "invalid answer";
    }
    outcome.records.push_back(
        Record(ProbeKind::Pcp, target, garbled ? ProbeOutcome::Malformed : ProbeOutcome::Timeout));
    return outcome;
}

ClientPortMapping AskClientPort(UpnpGateway& igd, std::uint16_t port) {
    ClientPortMapping mapping;
    mapping.port = port;
    UpnpGateway::UdpEntry entry;
    const int result = igd.SpecificUdpEntry(port, entry);
    if (result != 0) {
        // 714 NoSuchEntryInArray: no mapping of that port at all.
        mapping.detail = DescribeUpnpResult(result);
        return mapping;
    }
    const std::string where =
        (entry.client.empty() ? "?" : entry.client) + ":" + std::to_string(entry.port);
    mapping.mapped =
        !igd.LanAddress().empty() && entry.client == igd.LanAddress() && entry.port == port;
    mapping.detail = (mapping.mapped ? "mapped to " : "mapped elsewhere: ") + where;
    return mapping;
}

// UPnP IGD: the search (or the given URL), then the device's status and external address,
// then the client's ports. Each step is a blocking library call; a stop is seen between them.
Outcome AskUpnp(const std::atomic<bool>& stopping, const std::function<void()>& foundDevice,
                const std::string& gateway, const std::vector<std::uint16_t>& clientUdpPorts,
                const UpnpFindOptions& options) {
    Outcome outcome;
    outcome.answer = NotAnswered(PortMappingProtocol::Upnp, "no answer");
    const std::string target = UpnpTarget(gateway, options);
    const auto start = std::chrono::steady_clock::now();
    UpnpGateway igd;
    const UpnpFound found = igd.Find(gateway, options);
    if (found == UpnpFound::NoAnswer) {
        outcome.records.push_back(Record(ProbeKind::Upnp, target, ProbeOutcome::Timeout));
        return outcome;
    }
    outcome.answer.answered = true;
    if (found == UpnpFound::NotIgd) {
        outcome.answer.detail = "no gateway device";
        outcome.records.push_back(
            Record(ProbeKind::Upnp, target, ProbeOutcome::Refused, MillisecondsSince(start)));
        return outcome;
    }
    foundDevice();
    if (stopping) {
        outcome.answer.detail = "stopped";
        return outcome;
    }
    std::string status;
    const int statusResult = igd.Status(status);
    const bool connected = statusResult == 0 && status == "Connected";
    std::string external;
    const int externalResult = stopping ? 0 : igd.ExternalAddress(external);
    outcome.answer.available = connected;
    outcome.answer.externalAddress = external;
    if (statusResult != 0) {
        outcome.answer.detail = DescribeUpnpResult(statusResult);
    } else if (!connected) {
        outcome.answer.detail = "not connected";
    } else if (externalResult != 0) {
        outcome.answer.detail = DescribeUpnpResult(externalResult);
    } else {
        outcome.answer.detail = "connected";
    }
    outcome.records.push_back(Record(ProbeKind::Upnp, target,
                                     connected ? ProbeOutcome::Ok : ProbeOutcome::Refused,
                                     MillisecondsSince(start)));
    for (std::size_t i = 0; i < clientUdpPorts.size() && i < kMaxClientPortsAsked; ++i) {
        if (stopping) {
            break;
        }
        outcome.clientPorts.push_back(AskClientPort(igd, clientUdpPorts[i]));
    }
    return outcome;
}

}  // namespace

PortMappingProbe::PortMappingProbe(PortMappingOptions options) : m_options(std::move(options)) {}

PortMappingProbe::~PortMappingProbe() {
    Cancel();
    JoinThreads();
}

void PortMappingProbe::JoinThreads() {
    for (std::thread& thread : m_threads) {
        if (thread.joinable()) {
            thread.join();
        }
    }
    m_threads.clear();
}

void PortMappingProbe::Cancel() {
    std::lock_guard lock(m_mutex);
    m_cancelled = true;
    if (m_shared) {
        m_shared->Stop();
    }
}

std::vector<ProbeRecord> PortMappingProbe::TakeProbes() {
    std::lock_guard lock(m_mutex);
    return std::exchange(m_probes, {});
}

std::vector<PortMappingAnswer> PortMappingProbe::Run(
    const std::string& gateway, const std::vector<std::uint16_t>& clientUdpPorts,
    std::vector<ClientPortMapping>& clientPorts) {
    clientPorts.clear();
    // The last run's stragglers first: their library calls end by their own time-outs.
    JoinThreads();
    auto shared = std::make_shared<Shared>();
    {
        std::lock_guard lock(m_mutex);
        m_shared = shared;
        if (m_cancelled) {
            shared->Stop();
        }
    }
    in_addr gatewayAddress{};
    const bool haveGateway = ::inet_pton(AF_INET, gateway.c_str(), &gatewayAddress) == 1;
    const std::string target = GatewayTarget(gateway);
    const int wakeFd = shared->wake.get();
    const auto start = std::chrono::steady_clock::now();
    const auto bound = m_options.bound;
    const auto waitBound = std::max(bound - kHandOverMargin, std::chrono::milliseconds(1));
    auto skip = [&](std::size_t protocol, const char* detail) {
        shared->Finish(protocol, Outcome{NotAnswered(kProtocolOf[protocol], detail), {}, {}});
    };
    // Without a default route there is no router to ask, and the search's multicast could
    // only fail (the library says so on stderr).
    const bool upnpHasRouter = haveGateway || !m_options.upnp.descriptionUrl.empty();
    if (m_options.askUpnp && upnpHasRouter && !shared->Stopping()) {
        m_threads.emplace_back([shared, gateway, clientUdpPorts, options = m_options.upnp] {
            shared->Finish(kUpnp, AskUpnp(
                                      shared->cancelled, [&shared] { shared->FoundUpnpDevice(); },
                                      gateway, clientUdpPorts, options));
        });
    } else {
        skip(kUpnp, !m_options.askUpnp ? "not asked" : upnpHasRouter ? "stopped" : "no gateway");
    }
    if (haveGateway && !shared->Stopping()) {
        m_threads.emplace_back([shared, gatewayAddress, target, wakeFd, waitBound] {
            shared->Finish(kNatPmp,
                           AskNatPmp(gatewayAddress, target, shared->cancelled, wakeFd, waitBound));
        });
        m_threads.emplace_back([shared, gatewayAddress, target, wakeFd, waitBound] {
            shared->Finish(kPcp,
                           AskPcp(gatewayAddress, target, shared->cancelled, wakeFd, waitBound));
        });
    } else {
        skip(kNatPmp, haveGateway ? "stopped" : "no gateway");
        skip(kPcp, haveGateway ? "stopped" : "no gateway");
    }

    std::unique_lock lock(shared->mutex);
    auto over = [&] { return shared->AllDone() || shared->Stopping(); };
    shared->changed.wait_until(lock, start + bound, over);
    // UPnP's search ends at its own wait, whatever answered: it is waited for to that end, and
    // a device it found is heard out a little longer.
    const auto searchEnd =
        start + std::max(bound, m_options.upnp.discoveryWait + kUpnpDiscoveryLate);
    shared->changed.wait_until(lock, searchEnd, [&] { return over() || shared->upnpFoundDevice; });
    if (!over() && shared->upnpFoundDevice) {
        shared->changed.wait_until(lock, searchEnd + m_options.upnpGrace, over);
    }
    shared->closed = true;
    const bool stopped = shared->Stopping();
    std::vector<PortMappingAnswer> answers;
    std::vector<ProbeRecord> records;
    for (std::size_t protocol = 0; protocol < kProtocols; ++protocol) {
        std::optional<Outcome>& outcome = shared->outcomes[protocol];
        if (!outcome) {
            answers.push_back(
                NotAnswered(kProtocolOf[protocol], stopped ? "stopped" : "no answer"));
            if (!stopped) {
                records.push_back(
                    Record(kKindOf[protocol],
                           protocol == kUpnp ? UpnpTarget(gateway, m_options.upnp) : target,
                           ProbeOutcome::Timeout));
            }
            continue;
        }
        answers.push_back(outcome->answer);
        records.insert(records.end(), outcome->records.begin(), outcome->records.end());
        if (protocol == kUpnp) {
            clientPorts = outcome->clientPorts;
        }
    }
    lock.unlock();
    // Wakes the NAT-PMP and PCP waits, should either still run; UPnP ends with its call.
    shared->Stop();
    std::lock_guard own(m_mutex);
    m_probes.insert(m_probes.end(), records.begin(), records.end());
    return answers;
}

}  // namespace lumidex
