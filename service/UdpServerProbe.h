// Probes a random sample of a server list over UDP, each chosen server with one retry, and
// counts the servers that answered.
#pragma once

#include "engine/ProbeReporter.h"
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

// Chooses min(sampleSize, list size) distinct positions uniformly, probes them in list order
// and returns how many answered. Every failed attempt adds a findings line; every chosen
// server, once done, advances the service progress; the stop button is polled after every
// attempt and every passed-over server. A non-empty list without answers sets the reportable
// flag. An empty list returns 0 and touches nothing.
int ProbeUdpServers(UdpProbeSocket& socket, const ServerList& servers, int sampleSize,
                    ProbeReporter& reporter, SampleRandom& random);
// With the C run-time generator.
int ProbeUdpServers(UdpProbeSocket& socket, const ServerList& servers, int sampleSize,
                    ProbeReporter& reporter);

}  // namespace lumidex
