#include "report/ReportSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cctype>
#include <cerrno>

#include "platform/SystemError.h"

namespace lumidex::report {
namespace {

// Waits until fd is ready for events or timeoutMs passes; false on time-out or error.
bool WaitReady(int fd, short events, int timeoutMs) {
    pollfd entry{fd, events, 0};
    const int ready = platform::RetryAfterSignal([&] { return ::poll(&entry, 1, timeoutMs); });
    return ready == 1;
}

// A name that does not resolve must fail the connect. (Left as address 0 it would reach
// this machine itself on Linux, where connecting to 0.0.0.0 means the local host.)
bool Resolve(const std::string& host, in_addr& address) {
    if (!host.empty() && std::isdigit(static_cast<unsigned char>(host[0]))) {
        return ::inet_aton(host.c_str(), &address) != 0;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
        return false;
    }
    address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
    ::freeaddrinfo(found);
    return true;
}

}  // namespace

bool ReportSocket::Open() {
    if (m_fd) {
        return true;
    }
    // Non-blocking throughout: every wait is a poll with its own bound.
    m_fd.reset(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    return static_cast<bool>(m_fd);
}

bool ReportSocket::Connect(const std::string& host, std::uint16_t port, int timeoutMs) {
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    if (!m_fd || !Resolve(host, peer.sin_addr)) {
        return false;
    }
    if (::connect(m_fd.get(), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) {
        return true;
    }
    if (errno != EINPROGRESS && errno != EINTR) {
        return false;
    }
    if (!WaitReady(m_fd.get(), POLLOUT, timeoutMs)) {
        return false;
    }
    int error = 0;
    socklen_t length = sizeof error;
    return ::getsockopt(m_fd.get(), SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

bool ReportSocket::SendAll(std::string_view data, std::size_t pieceBytes, int timeoutMs) {
    while (!data.empty()) {
        const std::size_t piece = std::min(data.size(), pieceBytes);
        const ssize_t sent = platform::RetryAfterSignal(
            [&] { return ::send(m_fd.get(), data.data(), piece, MSG_NOSIGNAL); });
        if (sent > 0) {
            data.remove_prefix(static_cast<std::size_t>(sent));
            continue;
        }
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) &&
            WaitReady(m_fd.get(), POLLOUT, timeoutMs)) {
            continue;
        }
        return false;
    }
    return true;
}

ReportSocket::ReceiveResult ReportSocket::Receive(char* buffer, std::size_t capacity,
                                                  std::size_t& received, int timeoutMs) {
    received = 0;
    if (!WaitReady(m_fd.get(), POLLIN, timeoutMs)) {
        return ReceiveResult::TimedOut;
    }
    const ssize_t count =
        platform::RetryAfterSignal([&] { return ::recv(m_fd.get(), buffer, capacity, 0); });
    if (count == 0) {
        return ReceiveResult::Closed;
    }
    if (count < 0) {
        return ReceiveResult::Failed;
    }
    received = static_cast<std::size_t>(count);
    return ReceiveResult::Data;
}

}  // namespace lumidex::report
