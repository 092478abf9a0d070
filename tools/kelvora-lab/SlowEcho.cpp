#include "tools/kelvora-lab/SlowEcho.h"

#include <arpa/inet.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <iostream>
#include <vector>

#include "tools/kelvora-lab/IcmpChecksum.h"

namespace lumidex::lab {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint8_t kEchoReply = 0;
constexpr std::uint8_t kEchoRequest = 8;
constexpr std::size_t kIcmpHeaderBytes = 8;
// An echo request is at most an IPv4 datagram; anything longer is cut by recv and ignored.
constexpr std::size_t kMaxDatagram = 65535;

volatile sig_atomic_t g_stop = 0;

extern "C" void OnSlowEchoStop(int) {
    g_stop = 1;
}

struct Reply {
    Clock::time_point due;
    sockaddr_in to{};
    std::vector<std::uint8_t> icmp;
};

// Where the ICMP part of a received datagram (IPv4 header included, as a raw socket gives it)
// starts, or 0 when it is no echo request to gateway.
std::size_t EchoRequestStart(const std::vector<std::uint8_t>& packet, std::size_t size,
                             in_addr gateway) {
    if (size < 20 || (packet[0] >> 4) != 4) {
        return 0;
    }
    const std::size_t headerBytes = static_cast<std::size_t>(packet[0] & 0x0F) * 4;
    if (headerBytes < 20 || size < headerBytes + kIcmpHeaderBytes || packet[9] != IPPROTO_ICMP) {
        return 0;
    }
    in_addr destination{};
    std::copy(packet.begin() + 16, packet.begin() + 20,
              reinterpret_cast<std::uint8_t*>(&destination.s_addr));
    if (destination.s_addr != gateway.s_addr || packet[headerBytes] != kEchoRequest ||
        packet[headerBytes + 1] != 0) {
        return 0;
    }
    return headerBytes;
}

// RFC 792: the reply is the request with type 0 and a new checksum; identifier, sequence
// number and data stay.
void MakeReply(std::vector<std::uint8_t>& icmp) {
    icmp[0] = kEchoReply;
    icmp[2] = icmp[3] = 0;
    const std::uint16_t checksum = IcmpChecksum(icmp);
    icmp[2] = static_cast<std::uint8_t>(checksum >> 8);
    icmp[3] = static_cast<std::uint8_t>(checksum & 0xFF);
}

class Socket {
public:
    Socket() : m_fd(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP)) {}
    ~Socket() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd;
};

}  // namespace

int SlowEcho(const std::string& address, int delayMs) {
    in_addr gateway{};
    if (::inet_pton(AF_INET, address.c_str(), &gateway) != 1 || delayMs < 0) {
        std::cerr << "kelvora-lab: slow-echo needs an IPv4 address and a delay in ms\n";
        return 2;
    }
    Socket socket;
    if (socket.fd() < 0) {
        std::perror("kelvora-lab: raw ICMP socket");
        return 1;
    }
    // Only echo requests reach this socket; every other type is filtered by the kernel.
    icmp_filter filter{~(1U << kEchoRequest)};
    ::setsockopt(socket.fd(), SOL_RAW, ICMP_FILTER, &filter, sizeof filter);

    struct sigaction action {};
    action.sa_handler = OnSlowEchoStop;  // no SA_RESTART: poll returns on a stop
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    std::cout << "answering echo requests to " << address << " after " << delayMs << " ms"
              << std::endl;

    const auto delay = std::chrono::milliseconds(delayMs);
    std::deque<Reply> pending;  // due times in arrival order: every reply waits the same
    std::vector<std::uint8_t> buffer(kMaxDatagram);
    while (g_stop == 0) {
        int waitMs = 1000;
        if (!pending.empty()) {
            const auto left = pending.front().due - Clock::now();
            waitMs = static_cast<int>(
                std::max<long long>(0, std::chrono::ceil<std::chrono::milliseconds>(left).count()));
        }
        pollfd ready{socket.fd(), POLLIN, 0};
        const int polled = ::poll(&ready, 1, waitMs);
        if (polled < 0 && errno != EINTR) {
            std::perror("kelvora-lab: poll");
            return 1;
        }
        if (polled > 0) {
            sockaddr_in from{};
            socklen_t fromSize = sizeof from;
            const ssize_t got = ::recvfrom(socket.fd(), buffer.data(), buffer.size(), 0,
                                           reinterpret_cast<sockaddr*>(&from), &fromSize);
            const std::size_t size = got > 0 ? static_cast<std::size_t>(got) : 0;
            const std::size_t start = EchoRequestStart(buffer, size, gateway);
            if (start != 0) {
                // Built in its place in the queue: a reply vector made here and moved in is
                // what GCC 12 at -O3 misreads as freeing a pointer it never allocated.
                Reply& reply = pending.emplace_back();
                reply.due = Clock::now() + delay;
                reply.to = from;
                reply.icmp.assign(buffer.begin() + static_cast<std::ptrdiff_t>(start),
                                  buffer.begin() + static_cast<std::ptrdiff_t>(size));
                MakeReply(reply.icmp);
            }
        }
        while (!pending.empty() && pending.front().due <= Clock::now()) {
            const Reply& reply = pending.front();
            ::sendto(socket.fd(), reply.icmp.data(), reply.icmp.size(), 0,
                     reinterpret_cast<const sockaddr*>(&reply.to), sizeof reply.to);
            pending.pop_front();
        }
    }
    return 0;
}

}  // namespace lumidex::lab
