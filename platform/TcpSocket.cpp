#include "platform/TcpSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "platform/SystemError.h"

namespace lumidex::platform {
namespace {

using Clock = std::chrono::steady_clock;

void Signal(int wake) {
    const std::uint64_t one = 1;
    // The counter only grows; a failed write means it is already far from zero.
    [[maybe_unused]] const ssize_t written = ::write(wake, &one, sizeof one);
}

}  // namespace

const char* DescribeConnectResult(ConnectResult result) {
    switch (result) {
        case ConnectResult::Connected:
            return "connected";
        case ConnectResult::Refused:
            return "connection refused";
        case ConnectResult::TimedOut:
            return "connect timed out";
        case ConnectResult::Aborted:
            return "connect aborted";
        case ConnectResult::Unreachable:
            return "address unreachable";
        case ConnectResult::NotOpen:
            return "no socket";
    }
    return "unknown";
}

bool TcpSocket::Open() {
    std::lock_guard lock(m_mutex);
    if (m_cancelled) {
        return false;
    }
    if (m_fd) {
        return true;
    }
    // Non-blocking from the start: every wait goes through poll, where the wake-up can reach it.
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    UniqueFd wake(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!fd || !wake) {
        return false;
    }
    m_fd = std::move(fd);
    m_wake = std::move(wake);
    m_aborted = false;
    return true;
}

bool TcpSocket::IsOpen() const {
    std::lock_guard lock(m_mutex);
    return static_cast<bool>(m_fd);
}

void TcpSocket::SetReceiveTimeout(int timeoutMs) {
    m_receiveTimeoutMs = timeoutMs;
}

void TcpSocket::SetSendTimeout(int timeoutMs) {
    m_sendTimeoutMs = timeoutMs;
}

bool TcpSocket::Enter(int& fd, int& wake) {
    std::lock_guard lock(m_mutex);
    if (!m_fd) {
        return false;
    }
    ++m_busy;
    fd = m_fd.get();
    wake = m_wake.get();
    return true;
}

void TcpSocket::Leave() {
    std::lock_guard lock(m_mutex);
    if (--m_busy == 0) {
        m_idle.notify_all();
    }
}

void TcpSocket::Abort() {
    std::lock_guard lock(m_mutex);
    if (m_wake) {
        m_aborted = true;
        Signal(m_wake.get());
    }
}

bool TcpSocket::Close() {
    std::unique_lock lock(m_mutex);
    if (!m_fd) {
        return false;
    }
    m_aborted = true;
    Signal(m_wake.get());
    m_idle.wait(lock, [this] { return m_busy == 0; });
    ::shutdown(m_fd.get(), SHUT_RDWR);
    m_fd.reset();
    m_wake.reset();
    return true;
}

void TcpSocket::Cancel() {
    {
        // Under the lock that Open takes: an Open either ran before, and Close below ends
        // its socket, or runs after and fails.
        std::lock_guard lock(m_mutex);
        m_cancelled = true;
    }
    Close();
}

TcpSocket::WaitResult TcpSocket::WaitFor(int fd, int wake, short events, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int remaining = -1;
        if (timeoutMs > 0) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            remaining = left > 0 ? static_cast<int>(left) : 0;
        }
        pollfd fds[2] = {{fd, events, 0}, {wake, POLLIN, 0}};
        const int ready = ::poll(fds, 2, remaining);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0) {
            return WaitResult::Failed;
        }
        if (fds[1].revents != 0) {
            return WaitResult::Aborted;
        }
        if (fds[0].revents != 0) {
            return WaitResult::Ready;
        }
        if (remaining == 0) {
            return WaitResult::TimedOut;
        }
    }
}

ConnectResult TcpSocket::Connect(std::uint32_t address, std::uint16_t port, int timeoutMs) {
    int fd = -1;
    int wake = -1;
    if (!Enter(fd, wake)) {
        return m_cancelled ? ConnectResult::Aborted : ConnectResult::NotOpen;
    }
    const auto result = [&] {
        if (m_aborted) {
            return ConnectResult::Aborted;
        }
        if (address == INADDR_ANY) {
            return ConnectResult::Unreachable;
        }
        sockaddr_in peer{};
        peer.sin_family = AF_INET;
        peer.sin_port = htons(port);
        peer.sin_addr.s_addr = address;
        int error = 0;
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
            error = errno;
        }
        // A signal during a non-blocking connect leaves the attempt running, as EINPROGRESS.
        if (error == EINPROGRESS || error == EINTR) {
            switch (WaitFor(fd, wake, POLLOUT, timeoutMs)) {
                case WaitResult::Ready:
                    break;
                case WaitResult::TimedOut:
                    return ConnectResult::TimedOut;
                case WaitResult::Aborted:
                    return ConnectResult::Aborted;
                case WaitResult::Failed:
                    return ConnectResult::Unreachable;
            }
            socklen_t size = sizeof error;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
                error = errno;
            }
        }
        switch (error) {
            case 0:
                return ConnectResult::Connected;
            case ECONNREFUSED:
                return ConnectResult::Refused;
            case ETIMEDOUT:
                return ConnectResult::TimedOut;
            default:
                return ConnectResult::Unreachable;
        }
    }();
    Leave();
    return result;
}

bool TcpSocket::SendAll(std::string_view data, std::size_t maxPiece) {
    int fd = -1;
    int wake = -1;
    if (!Enter(fd, wake)) {
        return false;
    }
    bool ok = maxPiece > 0;
    while (ok && !data.empty()) {
        if (m_aborted) {
            ok = false;
            break;
        }
        const std::size_t piece = data.size() < maxPiece ? data.size() : maxPiece;
        const ssize_t sent =
            RetryAfterSignal([&] { return ::send(fd, data.data(), piece, MSG_NOSIGNAL); });
        if (sent > 0) {
            data.remove_prefix(static_cast<std::size_t>(sent));
            continue;
        }
        ok = sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) &&
             WaitFor(fd, wake, POLLOUT, m_sendTimeoutMs) == WaitResult::Ready;
    }
    Leave();
    return ok;
}

ssize_t TcpSocket::Receive(void* buffer, std::size_t size) {
    std::size_t received = 0;
    switch (Receive(buffer, size, received)) {
        case ReceiveResult::Data:
            return static_cast<ssize_t>(received);
        case ReceiveResult::Closed:
            return 0;
        case ReceiveResult::TimedOut:
        case ReceiveResult::Aborted:
        case ReceiveResult::Failed:
            break;
    }
    return -1;
}

ReceiveResult TcpSocket::Receive(void* buffer, std::size_t size, std::size_t& received) {
    received = 0;
    int fd = -1;
    int wake = -1;
    if (!Enter(fd, wake)) {
        return ReceiveResult::Failed;
    }
    ReceiveResult result = ReceiveResult::Aborted;
    while (!m_aborted) {
        const ssize_t got = RetryAfterSignal([&] { return ::recv(fd, buffer, size, 0); });
        if (got > 0) {
            received = static_cast<std::size_t>(got);
            result = ReceiveResult::Data;
            break;
        }
        if (got == 0) {
            result = ReceiveResult::Closed;
            break;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            result = ReceiveResult::Failed;
            break;
        }
        const WaitResult waited = WaitFor(fd, wake, POLLIN, m_receiveTimeoutMs);
        if (waited == WaitResult::Ready) {
            continue;
        }
        result = waited == WaitResult::TimedOut  ? ReceiveResult::TimedOut
                 : waited == WaitResult::Aborted ? ReceiveResult::Aborted
                                                 : ReceiveResult::Failed;
        break;
    }
    Leave();
    return result;
}

}  // namespace lumidex::platform
