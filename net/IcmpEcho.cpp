#include "net/IcmpEcho.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

#include "net/IcmpReply.h"
#include "platform/HostLookup.h"
#include "platform/NetLimits.h"
#include "platform/SystemError.h"
#include "platform/TickCount.h"

namespace lumidex {
namespace {

constexpr std::uint8_t kTypeEchoRequest = 8;
constexpr std::size_t kChecksumOffset = 2;
constexpr std::size_t kPayloadOffset = 13;

std::atomic<std::uint32_t> g_sequence{1};

void PutU16Le(EchoRequest& out, std::size_t at, std::uint16_t value) {
    out[at] = static_cast<std::uint8_t>(value & 0xFF);
    out[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

enum class WaitOutcome {
    Answered,   // the reply looked for arrived
    Unmatched,  // the receive failed: the turn is over without an answer
    TimedOut,   // nothing that answers the request within the wait
    Failed,     // the wait itself failed
};

using Clock = std::chrono::steady_clock;

// The errors by which the system says that no route leads to the host (a send, or an ICMP
// error that a ping socket hands back as a receive error).
bool IsNoRoute(int error) {
    return error == ENETUNREACH || error == EHOSTUNREACH;
}

// Reads datagrams until the answer arrives or the deadline passes. Datagrams that are not the
// answer (on a raw socket: our own request looped back, other programs' pings, errors) are
// dropped and the wait goes on, so they cannot take the place of the answer.
WaitOutcome AwaitReply(int fd, const EchoExpectation& expected, Clock::time_point deadline,
                       int& receiveError) {
    while (true) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return WaitOutcome::TimedOut;
        }
        pollfd entry{fd, POLLIN, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0) {
            return WaitOutcome::Failed;
        }
        if (ready == 0) {
            return WaitOutcome::TimedOut;
        }
        std::uint8_t buffer[platform::kIcmpReplyBufferBytes];
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t got = platform::RetryAfterSignal([&] {
            return ::recvfrom(fd, buffer, sizeof buffer, MSG_DONTWAIT,
                              reinterpret_cast<sockaddr*>(&from), &fromLength);
        });
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            continue;
        }
        if (got < 0) {
            receiveError = errno;
            // A receive error would make the socket readable again at once: give up this turn
            // as an unanswered one rather than spin on it.
            return WaitOutcome::Unmatched;
        }
        const std::span<const std::uint8_t> datagram(buffer, static_cast<std::size_t>(got));
        if (CheckEchoReply(datagram, from.sin_addr.s_addr, expected) == IcmpReplyVerdict::Reply) {
            return WaitOutcome::Answered;
        }
    }
}

}  // namespace

EchoRequest BuildEchoRequest(std::uint16_t identifier, std::uint16_t sequence, std::uint32_t tick) {
    EchoRequest request{};
    request[0] = kTypeEchoRequest;
    request[1] = 0;
    PutU16Le(request, 4, identifier);
    PutU16Le(request, 6, sequence);
    request[8] = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        request[9 + i] = static_cast<std::uint8_t>(tick >> (8 * i));
    }
    for (std::size_t i = 0; i < kEchoPayloadBytes; ++i) {
        request[kPayloadOffset + i] = static_cast<std::uint8_t>(kEchoPayloadFirst + i);
    }
    PutU16Le(request, kChecksumOffset, InternetChecksum(request));
    return request;
}

std::uint16_t NextEchoSequence() {
    return static_cast<std::uint16_t>(g_sequence.fetch_add(1, std::memory_order_relaxed));
}

std::uint16_t InternetChecksum(std::span<const std::uint8_t> bytes) {
    std::uint32_t sum = 0;
    std::size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2) {
        sum += static_cast<std::uint32_t>(bytes[i] | (bytes[i + 1] << 8));
    }
    if (i < bytes.size()) {
        sum += bytes[i];
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    sum += sum >> 16;
    return static_cast<std::uint16_t>(~sum & 0xFFFF);
}

std::uint16_t ProcessEchoIdentifier() {
    return static_cast<std::uint16_t>(::getpid() & 0xFFFF);
}

std::vector<EchoTurn> PingHostTurns(std::string_view host, unsigned count,
                                    const PingOptions& options) {
    std::vector<EchoTurn> turns(count);
    const platform::IcmpSocket socket = platform::OpenIcmpSocket(options.socketPolicy);
    if (socket.kind == platform::IcmpSocketKind::None) {
        return turns;
    }
    const std::vector<std::uint32_t> addresses = platform::GetHostByName(host);
    if (addresses.empty()) {
        return turns;
    }
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_addr.s_addr = addresses.front();

    const bool raw = socket.kind == platform::IcmpSocketKind::Raw;
    const std::uint16_t identifier = raw ? ProcessEchoIdentifier() : socket.kernelIdentifier;
    // A late answer to an earlier request of this probe still counts, as it always did; an
    // answer to another probe's request (same host, same identifier) does not.
    std::vector<std::uint16_t> sent;
    sent.reserve(count);
    for (EchoTurn& turn : turns) {
        sent.push_back(NextEchoSequence());
        const EchoExpectation expected{raw, addresses.front(), identifier, sent};
        const EchoRequest request =
            BuildEchoRequest(identifier, sent.back(), platform::GetTickCount());
        const Clock::time_point sentAt = Clock::now();
        // A failed send is not reported: the wait that follows runs out. Only its reason is
        // kept, to tell a missing route from silence.
        const ssize_t sendResult = platform::RetryAfterSignal([&] {
            return ::sendto(socket.fd.get(), request.data(), request.size(), 0,
                            reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
        });
        const bool noRoute = sendResult < 0 && IsNoRoute(errno);
        int receiveError = 0;
        const WaitOutcome outcome =
            AwaitReply(socket.fd.get(), expected, sentAt + std::chrono::milliseconds(kEchoWaitMs),
                       receiveError);
        if (outcome == WaitOutcome::Failed) {
            break;
        }
        if (outcome == WaitOutcome::TimedOut) {
            turn.fate = noRoute ? EchoFate::Unreachable : EchoFate::TimedOut;
            continue;
        }
        if (outcome == WaitOutcome::Answered) {
            turn.fate = EchoFate::Answered;
            turn.rttMs = std::chrono::duration<double, std::milli>(Clock::now() - sentAt).count();
        } else {
            turn.fate = IsNoRoute(receiveError) ? EchoFate::Unreachable : EchoFate::Failed;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kEchoPauseMs));
    }
    return turns;
}

int AnsweredTurns(const std::vector<EchoTurn>& turns) {
    int answered = 0;
    for (const EchoTurn& turn : turns) {
        answered += turn.fate == EchoFate::Answered ? 1 : 0;
    }
    return answered;
}

int PingHost(std::string_view host, unsigned count, const PingOptions& options) {
    return AnsweredTurns(PingHostTurns(host, count, options));
}

}  // namespace lumidex
