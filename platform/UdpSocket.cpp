#include "platform/UdpSocket.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <cstring>

namespace lumidex::platform {
namespace {

sockaddr_in ToSockaddr(const Ipv4Endpoint& endpoint) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(endpoint.port);
    std::memcpy(&address.sin_addr.s_addr, endpoint.address.data(), 4);
    return address;
}

Ipv4Endpoint FromSockaddr(const sockaddr_in& address) {
    Ipv4Endpoint endpoint;
    std::memcpy(endpoint.address.data(), &address.sin_addr.s_addr, 4);
    endpoint.port = ntohs(address.sin_port);
    return endpoint;
}

}  // namespace

std::optional<SystemError> UdpSocket::Open(const Ipv4Endpoint& local) {
    m_shutDown = false;
    m_fd.reset(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!m_fd) {
        return SystemError::Last("socket");
    }
    const sockaddr_in address = ToSockaddr(local);
    if (::bind(m_fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const SystemError error = SystemError::Last("bind");
        m_fd.reset();
        return error;
    }
    return std::nullopt;
}

void UdpSocket::Shutdown() {
    m_shutDown = true;
    if (m_fd) {
        // On Linux this wakes a recvfrom waiting on a socket without a peer too (it returns
        // 0), although the call itself answers ENOTCONN there.
        ::shutdown(m_fd.get(), SHUT_RDWR);
    }
}

std::optional<Ipv4Endpoint> UdpSocket::LocalEndpoint() const {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (!m_fd || ::getsockname(m_fd.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return std::nullopt;
    }
    return FromSockaddr(address);
}

std::optional<SystemError> UdpSocket::SetReceiveTimeout(std::chrono::milliseconds timeout) {
    timeval value{};
    value.tv_sec = static_cast<time_t>(timeout.count() / 1000);
    value.tv_usec = static_cast<suseconds_t>(timeout.count() % 1000 * 1000);
    if (::setsockopt(m_fd.get(), SOL_SOCKET, SO_RCVTIMEO, &value, sizeof value) != 0) {
        return SystemError::Last("setsockopt SO_RCVTIMEO");
    }
    return std::nullopt;
}

std::optional<SystemError> UdpSocket::SendTo(std::span<const std::uint8_t> bytes,
                                             const Ipv4Endpoint& to, std::size_t* sent) {
    if (m_shutDown) {
        return SystemError{"sendto", EPIPE};
    }
    const sockaddr_in address = ToSockaddr(to);
    const ssize_t result = RetryAfterSignal([&] {
        return ::sendto(m_fd.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr*>(&address), sizeof address);
    });
    if (result < 0) {
        return SystemError::Last("sendto");
    }
    if (sent != nullptr) {
        *sent = static_cast<std::size_t>(result);
    }
    return std::nullopt;
}

std::optional<Datagram> UdpSocket::ReceiveFrom(std::span<std::uint8_t> buffer) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (m_shutDown) {
        return std::nullopt;
    }
    // MSG_TRUNC makes the result the datagram's real length, so the caller can tell a datagram
    // that did not fit.
    const ssize_t result = RetryAfterSignal([&] {
        return ::recvfrom(m_fd.get(), buffer.data(), buffer.size(), MSG_TRUNC,
                          reinterpret_cast<sockaddr*>(&address), &length);
    });
    // A shutdown from another thread ends the wait with 0 bytes: no datagram.
    if (result < 0 || m_shutDown) {
        return std::nullopt;
    }
    return Datagram{static_cast<std::size_t>(result), FromSockaddr(address)};
}

}  // namespace lumidex::platform
