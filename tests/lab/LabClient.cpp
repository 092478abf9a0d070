#include "LabClient.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tools/kelvora-lab/IcmpChecksum.h"

namespace lumidex::labtest {
namespace {

using Clock = std::chrono::steady_clock;

sockaddr_in MakeAddress(const std::string& address, std::uint16_t port) {
    sockaddr_in out{};
    out.sin_family = AF_INET;
    out.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &out.sin_addr);
    return out;
}

int RemainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

const char* ToString(ConnectResult result) {
    switch (result) {
        case ConnectResult::Connected:
            return "connected";
        case ConnectResult::Refused:
            return "refused";
        case ConnectResult::TimedOut:
            return "timed out";
        case ConnectResult::Unreachable:
            return "unreachable";
        case ConnectResult::Failed:
            return "failed";
    }
    return "?";
}

ConnectResult TcpConnect(const std::string& address, std::uint16_t port, milliseconds timeout,
                         platform::UniqueFd* fd) {
    platform::UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!socket) {
        return ConnectResult::Failed;
    }
    const sockaddr_in target = MakeAddress(address, port);
    int error = 0;
    if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
        if (errno != EINPROGRESS) {
            error = errno;
        } else {
            pollfd p{socket.get(), POLLOUT, 0};
            if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) {
                return ConnectResult::TimedOut;
            }
            socklen_t length = sizeof error;
            ::getsockopt(socket.get(), SOL_SOCKET, SO_ERROR, &error, &length);
        }
    }
    switch (error) {
        case 0:
            break;
        case ECONNREFUSED:
            return ConnectResult::Refused;
        case ENETUNREACH:
        case EHOSTUNREACH:
            return ConnectResult::Unreachable;
        default:
            return ConnectResult::Failed;
    }
    const int flags = ::fcntl(socket.get(), F_GETFL);
    ::fcntl(socket.get(), F_SETFL, flags & ~O_NONBLOCK);
    if (fd != nullptr) {
        *fd = std::move(socket);
    }
    return ConnectResult::Connected;
}

bool SendAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

Received ReadUntilClose(int fd, milliseconds timeout, std::size_t max) {
    Received received;
    const auto deadline = Clock::now() + timeout;
    char buffer[4096];
    while (received.bytes.size() < max) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, RemainingMs(deadline)) <= 0) {
            return received;
        }
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            received.closed = true;
            return received;
        }
        received.bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return received;
}

std::optional<Received> Exchange(const std::string& address, std::uint16_t port,
                                 const std::string& request, milliseconds timeout) {
    platform::UniqueFd fd;
    if (TcpConnect(address, port, timeout, &fd) != ConnectResult::Connected ||
        !SendAll(fd.get(), request)) {
        return std::nullopt;
    }
    return ReadUntilClose(fd.get(), timeout);
}

std::vector<Datagram> UdpExchange(const std::string& address, std::uint16_t port,
                                  const std::vector<std::uint8_t>& request, milliseconds timeout,
                                  std::size_t maxReplies) {
    std::vector<Datagram> replies;
    platform::UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd) {
        return replies;
    }
    const sockaddr_in target = MakeAddress(address, port);
    if (::sendto(fd.get(), request.data(), request.size(), 0,
                 reinterpret_cast<const sockaddr*>(&target), sizeof target) < 0) {
        return replies;
    }
    const auto deadline = Clock::now() + timeout;
    while (replies.size() < maxReplies) {
        pollfd p{fd.get(), POLLIN, 0};
        if (::poll(&p, 1, RemainingMs(deadline)) <= 0) {
            return replies;
        }
        std::uint8_t buffer[2048];
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const ssize_t n = ::recvfrom(fd.get(), buffer, sizeof buffer, 0,
                                     reinterpret_cast<sockaddr*>(&from), &length);
        if (n < 0) {
            continue;  // e.g. a port-unreachable error reported on the socket
        }
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
        replies.push_back(
            {text, ntohs(from.sin_port), std::vector<std::uint8_t>(buffer, buffer + n)});
    }
    return replies;
}

std::vector<std::uint8_t> ProbeRequest(const std::string& address, std::uint16_t port) {
    in_addr parsed{};
    inet_pton(AF_INET, address.c_str(), &parsed);
    std::uint8_t bytes[4];
    std::memcpy(bytes, &parsed.s_addr, 4);
    return {12,
            0,
            0x43,
            0,
            0,
            7,
            bytes[0],
            bytes[1],
            bytes[2],
            bytes[3],
            static_cast<std::uint8_t>(port & 0xFF),
            static_cast<std::uint8_t>(port >> 8)};
}

bool IsValidProbeReply(const std::vector<std::uint8_t>& bytes) {
    if (bytes.size() < 6) {
        return false;
    }
    const std::size_t length = bytes[0] | (bytes[1] << 8);
    const std::size_t n = bytes.size();
    const bool sizeOk = n == length || n == length + 4 || n == length + 6;
    return sizeOk && bytes[2] == 0x43 && bytes[5] == 8;
}

int Ping(const std::string& address, int count, milliseconds timeoutEach) {
    platform::UniqueFd fd(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP));
    if (!fd) {
        return 0;
    }
    const sockaddr_in target = MakeAddress(address, 0);
    const auto identifier = static_cast<std::uint16_t>(::getpid() & 0xFFFF);
    int replies = 0;
    for (int sequence = 1; sequence <= count; ++sequence) {
        std::uint8_t request[16] = {8,
                                    0,
                                    0,
                                    0,
                                    static_cast<std::uint8_t>(identifier >> 8),
                                    static_cast<std::uint8_t>(identifier & 0xFF),
                                    0,
                                    static_cast<std::uint8_t>(sequence),
                                    'l',
                                    'a',
                                    'b'};
        const std::uint16_t sum = lab::IcmpChecksum(request);
        request[2] = static_cast<std::uint8_t>(sum >> 8);
        request[3] = static_cast<std::uint8_t>(sum & 0xFF);
        if (::sendto(fd.get(), request, sizeof request, 0,
                     reinterpret_cast<const sockaddr*>(&target), sizeof target) < 0) {
            continue;
        }
        const auto deadline = Clock::now() + timeoutEach;
        for (;;) {
            pollfd p{fd.get(), POLLIN, 0};
            if (::poll(&p, 1, RemainingMs(deadline)) <= 0) {
                break;
            }
            std::uint8_t buffer[512];
            const ssize_t n = ::recv(fd.get(), buffer, sizeof buffer, 0);
            if (n < 28) {
                continue;
            }
            const std::size_t ipHeader = (buffer[0] & 0x0F) * 4u;
            if (static_cast<std::size_t>(n) < ipHeader + 8) {
                continue;
            }
            const std::uint8_t* icmp = buffer + ipHeader;
            const bool match = icmp[0] == 0 && icmp[4] == request[4] && icmp[5] == request[5] &&
                               icmp[7] == request[7] &&
                               std::memcmp(&buffer[12], &target.sin_addr, 4) == 0;
            if (match) {
                ++replies;
                break;
            }
        }
    }
    return replies;
}

std::vector<std::string> Resolve(const std::string& name) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    std::vector<std::string> addresses;
    if (::getaddrinfo(name.c_str(), nullptr, &hints, &list) != 0) {
        return addresses;
    }
    for (const addrinfo* entry = list; entry != nullptr; entry = entry->ai_next) {
        char text[INET_ADDRSTRLEN] = {};
        const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
        inet_ntop(AF_INET, &address->sin_addr, text, sizeof text);
        addresses.emplace_back(text);
    }
    ::freeaddrinfo(list);
    return addresses;
}

}  // namespace lumidex::labtest
