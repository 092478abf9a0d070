#include "tools/kelvora-lab/Simulator.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tools/kelvora-lab/ChannelListXml.h"
#include "tools/kelvora-lab/HostileAnswers.h"
#include "tools/kelvora-lab/HttpResponses.h"
#include "tools/kelvora-lab/KlvLabel.h"
#include "tools/kelvora-lab/LabLimits.h"
#include "tools/kelvora-lab/ProbeAnswers.h"

namespace lumidex::lab {
namespace {

constexpr std::size_t kReadChunk = 4096;
constexpr int kListenBacklog = 64;
constexpr int kDatagramsPerWake = 64;
constexpr std::size_t kEndlessRefillsPerWake = 256;

std::string Errno(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

std::string PeerText(const sockaddr_in& peer) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(peer.sin_port));
}

bool MakeAddress(const std::string& address, std::uint16_t port, sockaddr_in& out) {
    out = {};
    out.sin_family = AF_INET;
    out.sin_port = htons(port);
    return inet_pton(AF_INET, address.c_str(), &out.sin_addr) == 1;
}

const char* KindName(ServiceKind kind) {
    switch (kind) {
        case ServiceKind::ChannelList:
            return "channel-list";
        case ServiceKind::Download:
            return "download";
        case ServiceKind::Report:
            return "report";
        case ServiceKind::Tcp:
            return "tcp";
        case ServiceKind::ChannelServer:
            return "channel-server";
        case ServiceKind::Tracker:
            return "tracker";
    }
    return "?";
}

std::vector<ServerRecord> Records(const std::vector<UdpServer>& servers) {
    std::vector<ServerRecord> records;
    for (const UdpServer& server : servers) {
        ServerRecord record;
        if (ParseRecordAddress(server.address, server.recordPort, record)) {
            records.push_back(record);
        }
    }
    return records;
}

// How long a held connection stays: what its answer asked for, else the lab's bound.
std::chrono::steady_clock::duration HoldTime(std::chrono::steady_clock::duration holdFor) {
    return holdFor > holdFor.zero() ? holdFor : std::chrono::steady_clock::duration(kHoldTimeout);
}

// The first line of a request, for log lines about it.
std::string FirstLine(const std::string& bytes) {
    return EscapeWire(bytes.substr(0, std::min(bytes.find("\r\n"), std::size_t{200})));
}

}  // namespace

Simulator::Simulator(LabConfig config, EventLog& log)
    : m_config(std::move(config)),
      m_log(log),
      m_channelListXml(
          BuildChannelListXml(Records(m_config.channelServers), Records(m_config.trackers))) {
    int fds[2];
    if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
        m_stopRead.reset(fds[0]);
        m_stopWrite.reset(fds[1]);
    }
}

bool Simulator::BindService(Service& service, bool udp, std::string& error) {
    sockaddr_in address{};
    if (!MakeAddress(service.address, service.port, address)) {
        error = service.name + ": bad address";
        return false;
    }
    const int type = (udp ? SOCK_DGRAM : SOCK_STREAM) | SOCK_NONBLOCK | SOCK_CLOEXEC;
    platform::UniqueFd fd(::socket(AF_INET, type, 0));
    if (!fd) {
        error = service.name + ": " + Errno("socket");
        return false;
    }
    const int on = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        error = service.name + ": " + Errno("bind");
        return false;
    }
    if (!udp && ::listen(fd.get(), kListenBacklog) != 0) {
        error = service.name + ": " + Errno("listen");
        return false;
    }
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    if (::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&bound), &length) != 0) {
        error = service.name + ": " + Errno("getsockname");
        return false;
    }
    service.port = ntohs(bound.sin_port);
    service.name = std::string(KindName(service.kind)) + " " + service.address + ":" +
                   std::to_string(service.port);
    service.fd = std::move(fd);
    return true;
}

Simulator::Service& Simulator::AddService(ServiceKind kind, std::size_t index,
                                          const std::string& address, std::uint16_t port) {
    m_services.push_back({kind, index, address, port,
                          std::string(KindName(kind)) + " " + address + ":" + std::to_string(port),
                          platform::UniqueFd()});
    return m_services.back();
}

bool Simulator::Bind(std::string& error) {
    if (!m_stopRead) {
        error = "cannot create the stop pipe";
        return false;
    }
    const std::size_t total =
        3 + m_config.tcp.size() + m_config.channelServers.size() + m_config.trackers.size();
    if (total > kMaxServices) {
        error = "more than " + std::to_string(kMaxServices) + " services";
        return false;
    }
    m_services.reserve(total);
    if (!BindHttpServices(error) || !BindTcpServices(error) || !BindUdpServers(error) ||
        !BindOtherAddress(error)) {
        return false;
    }
    for (const Service& service : m_services) {
        m_log.Line(service.name, service.fd ? "listening" : "no listener");
    }
    return true;
}

// The channel list, download and report servers, those the configuration names.
bool Simulator::BindHttpServices(std::string& error) {
    if (m_config.channelList &&
        !BindService(AddService(ServiceKind::ChannelList, 0, m_config.channelList->address,
                                m_config.channelList->port),
                     false, error)) {
        return false;
    }
    if (m_config.download &&
        !BindService(AddService(ServiceKind::Download, 0, m_config.download->address,
                                m_config.download->port),
                     false, error)) {
        return false;
    }
    return !m_config.report ||
           BindService(
               AddService(ServiceKind::Report, 0, m_config.report->address, m_config.report->port),
               false, error);
}

bool Simulator::BindTcpServices(std::string& error) {
    for (std::size_t i = 0; i < m_config.tcp.size(); ++i) {
        const TcpService& tcp = m_config.tcp[i];
        Service& service = AddService(ServiceKind::Tcp, i, tcp.address, tcp.port);
        if (tcp.mode == TcpMode::Refuse || tcp.mode == TcpMode::Drop) {
            continue;  // refused by the kernel, or dropped by the lab's routes
        }
        if (!BindService(service, false, error)) {
            return false;
        }
    }
    return true;
}

bool Simulator::BindUdpServers(std::string& error) {
    const auto floods = [](const UdpServer& server) { return server.mode == UdpMode::Flood; };
    if (std::any_of(m_config.channelServers.begin(), m_config.channelServers.end(), floods) ||
        std::any_of(m_config.trackers.begin(), m_config.trackers.end(), floods)) {
        m_floodSocket.reset(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (!m_floodSocket) {
            error = Errno("flood socket");
            return false;
        }
    }
    for (std::size_t i = 0; i < m_config.channelServers.size(); ++i) {
        const UdpServer& server = m_config.channelServers[i];
        if (!BindService(
                AddService(ServiceKind::ChannelServer, i, server.address, server.listenPort), true,
                error)) {
            return false;
        }
    }
    for (std::size_t i = 0; i < m_config.trackers.size(); ++i) {
        const UdpServer& server = m_config.trackers[i];
        if (!BindService(AddService(ServiceKind::Tracker, i, server.address, server.listenPort),
                         true, error)) {
            return false;
        }
    }
    return true;
}

// The socket that sends the replies from the other address; not a service of its own.
bool Simulator::BindOtherAddress(std::string& error) {
    if (m_config.otherAddress.empty()) {
        return true;
    }
    Service other{ServiceKind::Tracker, 0, m_config.otherAddress, 0, "other-address",
                  platform::UniqueFd()};
    if (!BindService(other, true, error)) {
        return false;
    }
    m_otherSocket = std::move(other.fd);
    return true;
}

std::uint16_t Simulator::BoundPort(ServiceKind kind, std::size_t index) const {
    for (const Service& service : m_services) {
        if (service.kind == kind && service.index == index) {
            return service.port;
        }
    }
    return 0;
}

void Simulator::Stop() {
    const char byte = 's';
    [[maybe_unused]] const ssize_t written = ::write(m_stopWrite.get(), &byte, 1);
}

const UdpServer& Simulator::UdpConfig(const Service& service) const {
    return service.kind == ServiceKind::ChannelServer ? m_config.channelServers[service.index]
                                                      : m_config.trackers[service.index];
}

int Simulator::PollTimeoutMs() const {
    bool any = false;
    Clock::time_point next{};
    const auto consider = [&](Clock::time_point when) {
        if (!any || when < next) {
            next = when;
            any = true;
        }
    };
    for (const Connection& connection : m_connections) {
        consider(connection.deadline);
    }
    if (!m_pendingReplies.empty()) {
        consider(m_pendingReplies.front().due);
    }
    if (!any) {
        return -1;
    }
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(wait, 0, 60000));
}

bool Simulator::Run() {
    m_log.Line("lab", "ready");
    for (;;) {
        std::vector<pollfd> fds;
        std::vector<Service*> serviceOf;
        std::vector<Connection*> connectionOf;
        fds.push_back({m_stopRead.get(), POLLIN, 0});
        serviceOf.push_back(nullptr);
        connectionOf.push_back(nullptr);
        for (Service& service : m_services) {
            if (service.fd) {
                fds.push_back({service.fd.get(), POLLIN, 0});
                serviceOf.push_back(&service);
                connectionOf.push_back(nullptr);
            }
        }
        for (Connection& connection : m_connections) {
            const short events = connection.phase == Phase::Writing ? POLLOUT : POLLIN;
            fds.push_back({connection.fd.get(), events, 0});
            serviceOf.push_back(nullptr);
            connectionOf.push_back(&connection);
        }
        const int ready = ::poll(fds.data(), fds.size(), PollTimeoutMs());
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            m_log.Line("lab", Errno("poll"));
            return false;
        }
        if (fds[0].revents != 0) {
            m_log.Line("lab", "stopping");
            return true;
        }
        for (std::size_t i = 1; i < fds.size(); ++i) {
            if (fds[i].revents == 0) {
                continue;
            }
            if (Service* service = serviceOf[i]) {
                const auto index = static_cast<std::size_t>(service - m_services.data());
                if (service->kind == ServiceKind::ChannelServer ||
                    service->kind == ServiceKind::Tracker) {
                    ServeDatagrams(index);
                } else {
                    AcceptAll(index);
                }
                continue;
            }
            Connection& connection = *connectionOf[i];
            if (connection.done) {
                continue;
            }
            if (connection.phase == Phase::Writing) {
                WriteConnection(connection);
            } else {
                ReadConnection(connection);
            }
        }
        const auto now = Clock::now();
        for (Connection& connection : m_connections) {
            if (!connection.done && connection.deadline <= now) {
                OnDeadline(connection);
            }
        }
        SendDue();
        m_connections.remove_if([](const Connection& connection) { return connection.done; });
    }
}

void Simulator::AcceptAll(std::size_t serviceIndex) {
    Service& service = m_services[serviceIndex];
    for (;;) {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        platform::UniqueFd fd(::accept4(service.fd.get(), reinterpret_cast<sockaddr*>(&peer),
                                        &length, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!fd) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                m_log.Line(service.name, Errno("accept"));
            }
            return;
        }
        const std::string from = PeerText(peer);
        if (service.kind == ServiceKind::Tcp &&
            m_config.tcp[service.index].mode == TcpMode::Accept) {
            m_log.Line(service.name, "accept from " + from + "; closed");
            continue;  // fd closes here: accept and close is the whole service
        }
        if (m_connections.size() >= kMaxConnections) {
            m_log.Line(service.name, "accept from " + from + "; too many connections, closed");
            continue;
        }
        m_log.Line(service.name, "accept from " + from);
        const std::size_t maxBody =
            service.kind == ServiceKind::Report ? kMaxReportBytes : kMaxPlainBodyBytes;
        Connection& connection =
            m_connections.emplace_back(std::move(fd), serviceIndex, from, maxBody);
        connection.deadline = Clock::now() + kIdleTimeout;
    }
}

void Simulator::ServeDatagrams(std::size_t serviceIndex) {
    Service& service = m_services[serviceIndex];
    for (int count = 0; count < kDatagramsPerWake; ++count) {
        std::uint8_t buffer[kMaxDatagramBytes];
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        const ssize_t n = ::recvfrom(service.fd.get(), buffer, sizeof buffer, MSG_TRUNC,
                                     reinterpret_cast<sockaddr*>(&peer), &length);
        if (n < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                m_log.Line(service.name, Errno("recvfrom"));
            }
            return;
        }
        const std::size_t size = std::min(static_cast<std::size_t>(n), sizeof buffer);
        const std::span<const std::uint8_t> datagram(buffer, size);
        std::string line = "request from " + PeerText(peer) + " " + std::to_string(n) + " bytes " +
                           HexBytes(datagram);
        ProbeRequest request;
        std::string reason;
        if (static_cast<std::size_t>(n) > sizeof buffer) {
            m_log.Line(service.name, line + "; invalid: oversized; no reply");
            continue;
        }
        if (!ParseProbeRequest(datagram, request, reason)) {
            m_log.Line(service.name, line + "; invalid: " + reason + "; no reply");
            continue;
        }
        sockaddr_in own{};
        MakeAddress(service.address, service.port, own);
        if (std::memcmp(request.address, &own.sin_addr, 4) != 0 || request.port != service.port) {
            m_log.Line(service.name, line + "; invalid: names another server; no reply");
            continue;
        }
        AnswerProbe(serviceIndex, peer, request, std::move(line));
    }
}

// Answers one valid probe request as the server's mode says, and logs what was done.
void Simulator::AnswerProbe(std::size_t serviceIndex, const sockaddr_in& peer,
                            const ProbeRequest& request, std::string line) {
    const Service& service = m_services[serviceIndex];
    const UdpServer& config = UdpConfig(service);
    line += std::string("; mode ") + ModeName(config.mode);
    std::vector<std::uint8_t> reply;
    int socket = service.fd.get();
    switch (config.mode) {
        case UdpMode::Silent:
            m_log.Line(service.name, line + "; no reply");
            return;
        case UdpMode::Ok:
            reply = BuildProbeReply(request, ReplyKind::Valid);
            break;
        case UdpMode::Malformed:
            reply = BuildProbeReply(request, ReplyKind::Malformed);
            break;
        case UdpMode::WrongType:
            reply = BuildProbeReply(request, ReplyKind::WrongType);
            break;
        case UdpMode::OtherAddress:
            reply = BuildProbeReply(request, ReplyKind::Valid);
            socket = m_otherSocket.get();
            if (socket < 0) {
                m_log.Line(service.name, line + "; no other address configured; no reply");
                return;
            }
            break;
        case UdpMode::Flood:
            SendFlood(serviceIndex, peer, request);
            reply = BuildProbeReply(request, ReplyKind::Valid);
            line += "; " + std::to_string(kFloodReplies) + " replies from other addresses first";
            break;
        case UdpMode::Late:
            if (m_pendingReplies.size() >= kMaxPendingReplies) {
                m_log.Line(service.name, line + "; too many late replies waiting; no reply");
                return;
            }
            m_pendingReplies.push_back({Clock::now() + std::chrono::milliseconds(m_config.lateMs),
                                        serviceIndex, peer,
                                        BuildProbeReply(request, ReplyKind::Valid)});
            m_log.Line(service.name,
                       line + "; reply in " + std::to_string(m_config.lateMs) + " ms");
            return;
    }
    const ssize_t sent = ::sendto(socket, reply.data(), reply.size(), 0,
                                  reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
    m_log.Line(service.name,
               line + (sent == static_cast<ssize_t>(reply.size()) ? "; replied " + HexBytes(reply)
                                                                  : "; " + Errno("sendto")));
}

// Valid replies to the request from kFloodReplies addresses of the wide range, each set as
// the source with IP_PKTINFO (the range is local to this namespace). Replies the peer's
// buffers cannot take are lost, as on a real network.
void Simulator::SendFlood(std::size_t serviceIndex, const sockaddr_in& peer,
                          const ProbeRequest& request) {
    std::vector<std::uint8_t> reply = BuildProbeReply(request, ReplyKind::Valid);
    std::size_t sent = 0;
    for (std::size_t i = 0; i < kFloodReplies; ++i) {
        const ServerRecord source = WideRecord(static_cast<std::uint32_t>(7 + i * 131), 0);
        in_pktinfo info{};
        std::memcpy(&info.ipi_spec_dst, source.address, 4);
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
        iovec data{reply.data(), reply.size()};
        msghdr message{};
        message.msg_name = const_cast<sockaddr_in*>(&peer);
        message.msg_namelen = sizeof peer;
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = IPPROTO_IP;
        header->cmsg_type = IP_PKTINFO;
        header->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        std::memcpy(CMSG_DATA(header), &info, sizeof info);
        sent += ::sendmsg(m_floodSocket.get(), &message, 0) > 0 ? 1 : 0;
    }
    m_log.Line(m_services[serviceIndex].name, "flood to " + PeerText(peer) + ": " +
                                                  std::to_string(sent) + " of " +
                                                  std::to_string(kFloodReplies) + " sent");
}

void Simulator::SendDue() {
    const auto now = Clock::now();
    while (!m_pendingReplies.empty() && m_pendingReplies.front().due <= now) {
        const PendingReply& reply = m_pendingReplies.front();
        const Service& service = m_services[reply.service];
        const ssize_t sent =
            ::sendto(service.fd.get(), reply.bytes.data(), reply.bytes.size(), 0,
                     reinterpret_cast<const sockaddr*>(&reply.peer), sizeof reply.peer);
        m_log.Line(service.name,
                   "late reply to " + PeerText(reply.peer) +
                       (sent > 0 ? " sent " + HexBytes(reply.bytes) : ": " + Errno("sendto")));
        m_pendingReplies.pop_front();
    }
}

void Simulator::ReadConnection(Connection& connection) {
    const Service& service = m_services[connection.service];
    char buffer[kReadChunk];
    const ssize_t n = ::recv(connection.fd.get(), buffer, sizeof buffer, 0);
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
            return;
        }
        if (service.kind == ServiceKind::Report) {
            StoreReport(connection);
        }
        Close(connection, Errno("recv"));
        return;
    }
    if (n == 0) {
        if (service.kind == ServiceKind::Report &&
            (connection.storedPath.empty() ||
             connection.received.size() != connection.storedBytes)) {
            if (connection.phase == Phase::Reading && !connection.received.empty()) {
                m_log.Line(service.name, "request from " + connection.peer + " incomplete");
            }
            StoreReport(connection);
        }
        Close(connection, "closed by peer");
        return;
    }
    const std::string_view bytes(buffer, static_cast<std::size_t>(n));
    if (service.kind == ServiceKind::Report) {
        const std::size_t room = kMaxReportBytes - connection.received.size();
        if (bytes.size() > room && !connection.truncated) {
            connection.truncated = true;
            m_log.Line(service.name, "more than " + std::to_string(kMaxReportBytes) +
                                         " bytes from " + connection.peer +
                                         "; the rest is dropped");
        }
        connection.received.append(bytes.substr(0, std::min(room, bytes.size())));
    }
    switch (connection.phase) {
        case Phase::Reading:
            connection.pending.append(bytes);
            connection.deadline = Clock::now() + kIdleTimeout;
            ParsePending(connection);
            return;
        case Phase::Writing:
            // A pipelined request arriving while an answer is still going out waits its turn.
            if (connection.pending.size() + bytes.size() >
                kMaxRequestHeadBytes + kMaxPlainBodyBytes) {
                Close(connection, "too many pipelined bytes");
                return;
            }
            connection.pending.append(bytes);
            return;
        case Phase::Grace:
        case Phase::Dripping:
        case Phase::Holding:
        case Phase::Lingering:
            return;  // report bytes are kept above; anything else is not looked at
    }
}

void Simulator::ParsePending(Connection& connection) {
    while (connection.phase == Phase::Reading && !connection.pending.empty()) {
        std::size_t consumed = 0;
        const auto result = connection.parser.Feed(connection.pending, consumed);
        connection.rawRequest.append(connection.pending, 0, consumed);
        connection.pending.erase(0, consumed);
        if (result == HttpRequestParser::Result::NeedMore) {
            return;
        }
        const Service& service = m_services[connection.service];
        if (result == HttpRequestParser::Result::Malformed) {
            m_log.Line(service.name, "malformed request from " + connection.peer + ": " +
                                         connection.parser.Error() + ": " +
                                         EscapeWire(connection.rawRequest.substr(0, 512)));
            if (service.kind == ServiceKind::Report) {
                StoreReport(connection);
            }
            StartAnswer(connection, AnswerBadRequest());
            return;
        }
        OnRequest(connection);
    }
}

void Simulator::OnRequest(Connection& connection) {
    const Service& service = m_services[connection.service];
    const HttpRequest& request = connection.parser.Request();
    if (service.kind == ServiceKind::Report) {
        m_log.Line(service.name, "request from " + connection.peer + ": " +
                                     FirstLine(connection.rawRequest) + " (" +
                                     std::to_string(request.body.size()) + " body bytes)");
        connection.phase = Phase::Grace;
        connection.deadline = Clock::now() + kReportGrace;
        return;
    }
    m_log.Line(service.name,
               "request from " + connection.peer + ": " + EscapeWire(connection.rawRequest));
    if (service.kind == ServiceKind::Tcp) {
        StartAnswer(connection, AnswerInterceptedTcp(request, m_config.tcp[service.index].mode));
        return;
    }
    StartAnswer(connection, service.kind == ServiceKind::ChannelList
                                ? AnswerChannelListRequest(request)
                                : AnswerDownload(request, m_config.download->mode));
}

HttpAnswer Simulator::AnswerChannelListRequest(const HttpRequest& request) {
    const ChannelListMode mode = m_config.channelList->mode;
    if (!IsHostile(mode)) {
        return AnswerChannelList(request, mode, m_channelListXml);
    }
    const std::size_t number = m_listRequests++;
    if (mode == ChannelListMode::Fresh) {
        return AnswerHostileChannelList(request, mode,
                                        HostileChannelList(mode, m_channelListXml, number));
    }
    if (m_hostileList.empty()) {
        m_hostileList = HostileChannelList(mode, m_channelListXml, 0);
    }
    return AnswerHostileChannelList(request, mode, m_hostileList);
}

void Simulator::StartAnswer(Connection& connection, HttpAnswer answer) {
    const Service& service = m_services[connection.service];
    connection.holdFor = answer.holdFor;
    if (answer.bytes.empty() && answer.hold) {
        m_log.Line(service.name, "holding " + connection.peer + " without an answer");
        connection.phase = Phase::Holding;
        connection.deadline = Clock::now() + HoldTime(connection.holdFor);
        return;
    }
    m_log.Line(
        service.name,
        "answer to " + connection.peer + ": " + FirstLine(answer.bytes) + " (" +
            std::to_string(answer.bytes.size()) + " bytes" +
            (answer.drip.empty() ? std::string()
                                 : ", then " + std::to_string(answer.drip.size()) + " dripped") +
            ")");
    connection.out = std::move(answer.bytes);
    connection.outPos = 0;
    connection.drip = std::move(answer.drip);
    connection.dripPos = 0;
    connection.endless = std::move(answer.endless);
    connection.endlessSent = 0;
    connection.closeAfterWrite = answer.closeAfter;
    connection.holdAfterWrite = answer.hold;
    connection.phase = Phase::Writing;
    connection.deadline = Clock::now() + kIdleTimeout;
    WriteConnection(connection);
}

void Simulator::WriteConnection(Connection& connection) {
    // An endless answer gives the other connections their turn now and then.
    for (std::size_t refills = 0;;) {
        if (connection.outPos == connection.out.size()) {
            if (connection.endless.empty() || connection.endlessSent >= kEndlessCapBytes) {
                break;
            }
            if (++refills > kEndlessRefillsPerWake) {
                return;  // poll tells when there is room again
            }
            connection.out = connection.endless;
            connection.outPos = 0;
            connection.endlessSent += connection.endless.size();
        }
        const ssize_t n = ::send(connection.fd.get(), connection.out.data() + connection.outPos,
                                 connection.out.size() - connection.outPos, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
                return;  // poll tells when there is room again
            }
            Close(connection, Errno("send"));
            return;
        }
        connection.outPos += static_cast<std::size_t>(n);
        connection.deadline = Clock::now() + kIdleTimeout;
    }
    AfterWrite(connection);
}

void Simulator::AfterWrite(Connection& connection) {
    const Service& service = m_services[connection.service];
    connection.out.clear();
    connection.outPos = 0;
    if (connection.dripPos < connection.drip.size()) {
        connection.phase = Phase::Dripping;
        connection.deadline = Clock::now() + kDripEvery;
        return;
    }
    if (connection.holdAfterWrite) {
        m_log.Line(service.name, "answer sent; holding " + connection.peer + " open");
        connection.phase = Phase::Holding;
        connection.deadline = Clock::now() + HoldTime(connection.holdFor);
        return;
    }
    if (connection.closeAfterWrite) {
        // Shut the write side and read until the peer closes: closing with unread bytes would
        // reset the connection and could destroy the answer before the client reads it.
        ::shutdown(connection.fd.get(), SHUT_WR);
        connection.phase = Phase::Lingering;
        connection.deadline = Clock::now() + kLingerTimeout;
        return;
    }
    connection.parser = HttpRequestParser(kMaxPlainBodyBytes);
    connection.rawRequest.clear();
    connection.phase = Phase::Reading;
    connection.deadline = Clock::now() + kIdleTimeout;
    ParsePending(connection);
}

void Simulator::OnDeadline(Connection& connection) {
    const Service& service = m_services[connection.service];
    switch (connection.phase) {
        case Phase::Grace:
            StoreReport(connection);
            StartAnswer(connection, AnswerReport(m_config.report->mode));
            return;
        case Phase::Dripping:
            connection.out = connection.drip.substr(connection.dripPos++, 1);
            connection.phase = Phase::Writing;
            connection.deadline = Clock::now() + kIdleTimeout;
            WriteConnection(connection);
            return;
        case Phase::Reading:
            if (service.kind == ServiceKind::Report && !connection.received.empty()) {
                StoreReport(connection);
            }
            Close(connection, "idle; closed");
            return;
        case Phase::Writing:
            Close(connection, "peer does not read; closed");
            return;
        case Phase::Holding:
            Close(connection, "held long enough; closed");
            return;
        case Phase::Lingering:
            Close(connection, "peer did not close; closed");
            return;
    }
}

void Simulator::Close(Connection& connection, const std::string& why) {
    m_log.Line(m_services[connection.service].name, connection.peer + " " + why);
    connection.fd.reset();
    connection.done = true;
}

void Simulator::StoreReport(Connection& connection) {
    const Service& service = m_services[connection.service];
    if (connection.storedPath.empty()) {
        char name[32];
        std::snprintf(name, sizeof name, "/report-%04d.req", ++m_reportCount);
        connection.storedPath = m_config.report->dir + name;
    }
    // Written beside and renamed into place, so a reader never sees half a request.
    const std::string temporary = connection.storedPath + ".part";
    platform::UniqueFd fd(
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    bool ok = static_cast<bool>(fd);
    for (std::size_t pos = 0; ok && pos < connection.received.size();) {
        const ssize_t n =
            ::write(fd.get(), connection.received.data() + pos, connection.received.size() - pos);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        ok = n > 0;
        pos += ok ? static_cast<std::size_t>(n) : 0;
    }
    fd.reset();
    if (!ok || ::rename(temporary.c_str(), connection.storedPath.c_str()) != 0) {
        m_log.Line(service.name,
                   "cannot store " + connection.storedPath + ": " + std::strerror(errno));
        ::unlink(temporary.c_str());
        return;
    }
    connection.storedBytes = connection.received.size();
    m_log.Line(service.name, "stored " + connection.storedPath + " (" +
                                 std::to_string(connection.storedBytes) +
                                 " bytes): " + FirstLine(connection.received));
}

}  // namespace lumidex::lab
