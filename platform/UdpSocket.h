// An IPv4 datagram socket owned by one object: created, bound, given a receive time-out, used
// for sendto/recvfrom, closed with its owner. Failures come back as values, never thrown.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "platform/SystemError.h"
#include "platform/UniqueFd.h"

namespace lumidex::platform {

struct Ipv4Endpoint {
    std::array<std::uint8_t, 4> address{};  // a.b.c.d, network order; all zero = any
    std::uint16_t port = 0;                 // host order

    friend bool operator==(const Ipv4Endpoint&, const Ipv4Endpoint&) = default;
};

struct Datagram {
    // The datagram's whole length, which may exceed the buffer it was read into.
    std::size_t size = 0;
    Ipv4Endpoint sender;
};

class UdpSocket {
public:
    UdpSocket() = default;
    UdpSocket(UdpSocket&& other) noexcept
        : m_fd(std::move(other.m_fd)), m_shutDown(other.m_shutDown.load()) {}
    UdpSocket& operator=(UdpSocket&& other) noexcept {
        m_fd = std::move(other.m_fd);
        m_shutDown = other.m_shutDown.load();
        return *this;
    }

    // A fresh socket bound to local; any socket held before is closed first.
    std::optional<SystemError> Open(const Ipv4Endpoint& local);
    void Close() { m_fd.reset(); }
    bool IsOpen() const { return static_cast<bool>(m_fd); }
    // Ends, from another thread, a receive waiting on this socket, and makes every later send
    // and receive fail; the descriptor stays held until Close, so the waiting call never
    // meets a number closed under it. Not while another thread opens or closes the socket.
    void Shutdown();

    std::optional<Ipv4Endpoint> LocalEndpoint() const;
    std::optional<SystemError> SetReceiveTimeout(std::chrono::milliseconds timeout);

    // Bytes handed to the network, or the error.
    std::optional<SystemError> SendTo(std::span<const std::uint8_t> bytes, const Ipv4Endpoint& to,
                                      std::size_t* sent = nullptr);
    // Waits for one datagram (up to the receive time-out) and copies what fits into buffer.
    // Nothing on time-out or error.
    std::optional<Datagram> ReceiveFrom(std::span<std::uint8_t> buffer);

private:
    UniqueFd m_fd;
    std::atomic<bool> m_shutDown{false};
};

}  // namespace lumidex::platform
