#include "tools/kelvora-lab/HostileTools.h"

#include <arpa/inet.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <thread>
#include <vector>

#include "platform/UniqueFd.h"
#include "tools/kelvora-lab/HostileAnswers.h"
#include "tools/kelvora-lab/IcmpChecksum.h"

namespace lumidex::lab {
namespace {

using Clock = std::chrono::steady_clock;

std::atomic<bool> g_stop{false};

extern "C" void OnHostileToolStop(int) {
    g_stop = true;
}

void CatchStop() {
    struct sigaction action {};
    action.sa_handler = OnHostileToolStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

}  // namespace

int EchoFlood(int argc, char** argv) {
    in_addr target{};
    const long perSecond = argc == 4 ? std::atol(argv[3]) : 0;
    if (argc != 4 || inet_pton(AF_INET, argv[2], &target) != 1 || perSecond <= 0) {
        std::fprintf(stderr, "usage: kelvora-lab echo-flood TARGET PER_SECOND\n");
        return 2;
    }
    platform::UniqueFd raw(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW));
    if (!raw) {
        std::perror("kelvora-lab: raw socket");
        return 1;
    }
    CatchStop();
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr = target;
    constexpr int kSlicesPerSecond = 100;
    const long perSlice = std::max(1L, perSecond / kSlicesPerSecond);
    std::uint32_t n = 0;
    std::uint64_t sent = 0;
    auto next = Clock::now();
    while (!g_stop) {
        for (long i = 0; i < perSlice; ++i, ++n) {
            std::uint8_t packet[sizeof(iphdr) + 8 + 32] = {};
            auto* ip = reinterpret_cast<iphdr*>(packet);
            ip->version = 4;
            ip->ihl = 5;
            ip->ttl = 64;
            ip->protocol = IPPROTO_ICMP;
            ip->tot_len = htons(sizeof packet);
            const ServerRecord source = WideRecord(n, 0);
            std::memcpy(&ip->saddr, source.address, 4);
            ip->daddr = target.s_addr;
            std::uint8_t* icmp = packet + sizeof(iphdr);
            icmp[0] = 0;                                  // echo reply
            icmp[4] = static_cast<std::uint8_t>(n >> 8);  // every identifier in turn
            icmp[5] = static_cast<std::uint8_t>(n);
            icmp[6] = static_cast<std::uint8_t>(n >> 16);  // and the sequence numbers
            icmp[7] = static_cast<std::uint8_t>(n >> 24);
            std::memset(icmp + 8, 'f', 32);
            const std::uint16_t sum = IcmpChecksum({icmp, 8 + 32});
            icmp[2] = static_cast<std::uint8_t>(sum >> 8);
            icmp[3] = static_cast<std::uint8_t>(sum);
            if (::sendto(raw.get(), packet, sizeof packet, 0, reinterpret_cast<sockaddr*>(&to),
                         sizeof to) > 0) {
                ++sent;
            }
        }
        next += std::chrono::milliseconds(1000 / kSlicesPerSecond);
        std::this_thread::sleep_until(next);
    }
    std::printf("echo-flood: %llu echo replies sent\n", static_cast<unsigned long long>(sent));
    return 0;
}

int DnsDelay(int argc, char** argv) {
    const long delayMs = argc >= 5 ? std::atol(argv[2]) : -1;
    const long upstreamPort = argc >= 5 ? std::atol(argv[3]) : 0;
    if (argc < 5 || delayMs < 0 || upstreamPort <= 0 || upstreamPort > 65535) {
        std::fprintf(stderr, "usage: kelvora-lab dns-delay DELAY_MS UPSTREAM_PORT ADDRESS...\n");
        return 2;
    }
    std::vector<platform::UniqueFd> listeners;
    for (int i = 4; i < argc; ++i) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(53);
        if (inet_pton(AF_INET, argv[i], &address.sin_addr) != 1) {
            std::fprintf(stderr, "kelvora-lab: %s is no IPv4 address\n", argv[i]);
            return 2;
        }
        platform::UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (!fd || ::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            std::perror("kelvora-lab: dns-delay bind");
            return 1;
        }
        listeners.push_back(std::move(fd));
    }
    sockaddr_in upstream{};
    upstream.sin_family = AF_INET;
    upstream.sin_port = htons(static_cast<std::uint16_t>(upstreamPort));
    upstream.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    CatchStop();

    // One upstream socket per query in flight, so answers need no matching by identifier.
    struct Query {
        platform::UniqueFd upstream;
        int listener;
        sockaddr_in client;
        Clock::time_point due;
        std::vector<char> answer;
    };
    constexpr std::size_t kMaxInFlight = 1024;
    constexpr auto kGiveUp = std::chrono::seconds(30);
    std::deque<Query> queries;
    while (!g_stop) {
        std::vector<pollfd> fds;
        for (const auto& fd : listeners) {
            fds.push_back({fd.get(), POLLIN, 0});
        }
        for (const Query& query : queries) {
            fds.push_back(
                {query.upstream.get(), static_cast<short>(query.answer.empty() ? POLLIN : 0), 0});
        }
        int wait = 100;
        const auto now = Clock::now();
        for (const Query& query : queries) {
            if (!query.answer.empty()) {
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(query.due - now).count();
                wait = std::min<int>(wait, static_cast<int>(std::max<long long>(left, 0)));
            }
        }
        if (::poll(fds.data(), fds.size(), wait) < 0 && errno != EINTR) {
            std::perror("kelvora-lab: poll");
            return 1;
        }
        char buffer[4096];
        for (std::size_t i = 0; i < listeners.size(); ++i) {
            if ((fds[i].revents & POLLIN) == 0) {
                continue;
            }
            Query query;
            socklen_t length = sizeof query.client;
            const ssize_t n = ::recvfrom(listeners[i].get(), buffer, sizeof buffer, 0,
                                         reinterpret_cast<sockaddr*>(&query.client), &length);
            if (n <= 0 || queries.size() >= kMaxInFlight) {
                continue;
            }
            query.upstream.reset(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
            if (!query.upstream ||
                ::sendto(query.upstream.get(), buffer, static_cast<std::size_t>(n), 0,
                         reinterpret_cast<sockaddr*>(&upstream), sizeof upstream) != n) {
                continue;
            }
            query.listener = listeners[i].get();
            query.due = Clock::now() + std::chrono::milliseconds(delayMs);
            queries.push_back(std::move(query));
        }
        for (std::size_t i = 0; i < queries.size(); ++i) {
            if ((fds[listeners.size() + i].revents & POLLIN) == 0) {
                continue;
            }
            const ssize_t n = ::recv(queries[i].upstream.get(), buffer, sizeof buffer, 0);
            if (n > 0) {
                queries[i].answer.assign(buffer, buffer + n);
            }
        }
        const auto after = Clock::now();
        for (auto it = queries.begin(); it != queries.end();) {
            if (!it->answer.empty() && it->due <= after) {
                ::sendto(it->listener, it->answer.data(), it->answer.size(), 0,
                         reinterpret_cast<sockaddr*>(&it->client), sizeof it->client);
                it = queries.erase(it);
            } else if (after - it->due > kGiveUp) {
                it = queries.erase(it);
            } else {
                ++it;
            }
        }
    }
    return 0;
}

}  // namespace lumidex::lab
