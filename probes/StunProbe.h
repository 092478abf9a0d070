// What STUN servers see of this computer: the address and port a NAT maps one UDP socket to,
// for two servers on different addresses, and the NAT behaviour tests (mapping and filtering)
// against a server with a second address and port. Every test goes out from one fresh socket,
// so the mapped addresses compare; what the answers mean is the verdict's business.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <vector>

#include "engine/Diagnosis.h"
#include "engine/Endpoints.h"
#include "engine/P2pObservations.h"
#include "platform/UdpSocket.h"
#include "platform/UniqueFd.h"

namespace lumidex {

// The whole of one Run, look-ups included; the peer-reachability check has 2 s in all.
inline constexpr std::chrono::milliseconds kStunBudget{1500};
// The servers' names together: a resolver that answers at all does in well under this.
inline constexpr std::chrono::milliseconds kStunLookupBound{500};
// Each request goes out again at these times after its first send (RFC 5389 7.2.1 asks
// for more, over seconds; a run has under two).
inline constexpr std::chrono::milliseconds kStunRetransmitAt[] = {
    std::chrono::milliseconds{0}, std::chrono::milliseconds{250}, std::chrono::milliseconds{500}};
// A request unanswered this long after its first send has no answer: the last copy has had
// as long as the first retransmission waited.
inline constexpr std::chrono::milliseconds kStunAnswerWait{750};
// RFC 5780 4.1: at most 10 new transactions a second to one server.
inline constexpr std::chrono::milliseconds kStunPacing{100};
// Datagrams that answer nothing, from the address one test went to, before that test gives
// up: a server flooding us ends its own test, not the others'.
inline constexpr int kMaxStrayPerTest = 16;
// Such datagrams from addresses no test went to, before the run ends with what it has.
inline constexpr int kMaxStrayPerRun = 64;

class StunProbe {
public:
    // Resolves the servers and runs every test; returns within budget.
    StunObservations Run(const std::vector<endpoints::StunServer>& servers,
                         std::chrono::milliseconds budget = kStunBudget);
    // One Binding over IPv6 to the first server with an IPv6 address: none when none has one.
    std::optional<bool> AnswersOverIpv6(const std::vector<endpoints::StunServer>& servers,
                                        std::chrono::milliseconds budget = kStunBudget);
    // From another thread: a Run under way returns at once with what it has, and later ones
    // return at once too.
    void Cancel();
    bool Cancelled() const { return m_cancelled; }
    // One record per test made, since the last call.
    std::vector<ProbeRecord> TakeProbes();

private:
    void Record(ProbeRecord record);

    std::atomic<bool> m_cancelled{false};
    std::mutex m_mutex;  // the socket's opening and closing against Cancel, and the records
    platform::UdpSocket m_socket;
    platform::UniqueFd m_socket6;
    std::vector<ProbeRecord> m_probes;
};

// A global (2000::/3) IPv6 address of an interface that is up; empty when none has one.
std::string GlobalIpv6Address();

}  // namespace lumidex
