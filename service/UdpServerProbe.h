// Probes a random sample of a server list over UDP, each chosen server with one retry, and
// counts the servers that answered.
#pragma once

#include <chrono>
#include <functional>
#include <vector>

#include "engine/CheckProbes.h"
#include "engine/ProbeCapture.h"
#include "engine/ProbeReporter.h"
#include "engine/ProbeTasks.h"
#include "service/ServerList.h"
#include "service/UdpProbeSocket.h"

namespace lumidex {

// The sampling's random numbers. The product seeds the C run-time generator with the time at
// every call and draws with rand; tests script the draws.
class SampleRandom {
public:
    virtual ~SampleRandom() = default;
    virtual void Seed() = 0;
    virtual int Next() = 0;
};

class CRuntimeRandom final : public SampleRandom {
public:
    void Seed() override;
    int Next() override;
};

// min(sampleSize, listSize) distinct positions, drawn uniformly after one Seed.
std::vector<bool> ChooseSample(std::size_t listSize, int sampleSize, SampleRandom& random);

// How one attempt at a server ended. A reply that is malformed, of another type or from
// another address counts as silence for the row, but says more than silence about the path.
enum class UdpAttempt {
    Answered,
    Silent,    // no reply within the wait, or the request could not be sent
    OddReply,  // a datagram came, but not the server's probe reply
};

// One attempt at one server: how it ended, and what it wrote (its findings line and probe).
struct UdpAttemptRecord {
    UdpAttempt result = UdpAttempt::Silent;
    ProbeCapture capture;
};
// A server's attempts on a socket of its own, made as the walk makes them (the second only
// after a failed first, and none once stopPressed says the stop button was pressed, where the
// walk would stop), each recorded for the walk to replay; listed are the servers of its list,
// whose probe replies are late answers rather than odd ones.
std::vector<UdpAttemptRecord> RunServerAttempts(UdpProbeSocket& socket, const ServerRecord& server,
                                                const std::vector<ServerRecord>& listed,
                                                const std::function<bool()>& stopPressed = {});

// The next attempt at entry index; a failed attempt counts itself in attempts and writes its
// findings line.
using UdpAttemptStep = std::function<UdpAttempt(std::size_t index, int& attempts)>;
// One server's attempts made ahead on a task (see ProbeTasks), by entry.
using ServerAttempts = ProbeFuture<std::vector<UdpAttemptRecord>>;

// Starts the attempts of every chosen entry on tasks, each server on a socket of its own
// (waiting receiveTimeout per reply), so that no other server's answer reaches it. Entries not
// chosen keep an empty future.
std::vector<ServerAttempts> StartServerAttempts(ProbeTasks& tasks,
                                                const std::vector<ServerRecord>& entries,
                                                const std::vector<bool>& chosen,
                                                std::chrono::milliseconds receiveTimeout,
                                                std::function<bool()> stopPressed = {});
// Takes the attempts in the walk's order, each replaying its findings line; attempts must
// outlive the step.
UdpAttemptStep ReplayAttempts(const std::vector<ServerAttempts>& attempts);

// The walk over a drawn sample in list order, with its progress steps, stop polls and the
// reportable flag; the attempts are made or replayed by attempt. The current row gets the
// group's problems: the sampled servers that stayed silent, and those that sent odd replies.
int WalkUdpServers(ServerGroup group, const std::vector<ServerRecord>& entries,
                   const std::vector<bool>& chosen, ProbeReporter& reporter,
                   const UdpAttemptStep& attempt);

// Chooses min(sampleSize, list size) distinct positions uniformly, probes them in list order
// and returns how many answered. Every failed attempt adds a findings line; every chosen
// server, once done, advances the service progress; the stop button is polled after every
// attempt and every passed-over server. A non-empty list without answers sets the reportable
// flag. An empty list returns 0 and touches nothing.
int ProbeUdpServers(ServerGroup group, UdpProbeSocket& socket, const ServerList& servers,
                    int sampleSize, ProbeReporter& reporter, SampleRandom& random);
// With the C run-time generator.
int ProbeUdpServers(ServerGroup group, UdpProbeSocket& socket, const ServerList& servers,
                    int sampleSize, ProbeReporter& reporter);

}  // namespace lumidex
