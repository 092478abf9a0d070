// Time of the echo probe as every caller runs it: PingHost with 3 requests against one host.
// The floor with answers is 3 x (round trip + pause); a silent host costs 3 x the wait.
//
//   bench_ping [address] [runs] [raw|dgram]   (defaults: 127.0.0.1, 5, whichever opens)
//
// Only ever give it loopback or an address of the lab's own namespaces.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "engine/CheckProbes.h"
#include "net/IcmpEcho.h"

namespace {

using lumidex::platform::IcmpSocketKind;
using lumidex::platform::IcmpSocketPolicy;

const char* KindName(IcmpSocketKind kind) {
    switch (kind) {
        case IcmpSocketKind::Raw:
            return "raw";
        case IcmpSocketKind::Datagram:
            return "datagram";
        case IcmpSocketKind::None:
            break;
    }
    return "none";
}

}  // namespace

int main(int argc, char** argv) {
    const std::string host = argc > 1 ? argv[1] : "127.0.0.1";
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const std::string_view mode = argc > 3 ? argv[3] : "";
    const IcmpSocketPolicy policy = mode == "raw"     ? IcmpSocketPolicy::RawOnly
                                    : mode == "dgram" ? IcmpSocketPolicy::DatagramOnly
                                                      : IcmpSocketPolicy::Any;
    const IcmpSocketKind kind = lumidex::platform::OpenIcmpSocket(policy).kind;
    std::printf("PingHost(%s, %u) over a %s socket, %d runs\n", host.c_str(),
                static_cast<unsigned>(lumidex::kEchoRequestsPerHost), KindName(kind), runs);
    std::printf("floor with answers: 3 x (round trip + %d ms) = %d ms + 3 round trips\n",
                lumidex::kEchoPauseMs, 3 * lumidex::kEchoPauseMs);
    double total = 0;
    double best = 1e9;
    double worst = 0;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const int replies =
            lumidex::PingHost(host, static_cast<unsigned>(lumidex::kEchoRequestsPerHost), {policy});
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        std::printf("run %d: %d replies in %.1f ms\n", i + 1, replies, ms);
        total += ms;
        best = std::min(best, ms);
        worst = std::max(worst, ms);
    }
    std::printf("mean %.1f ms, best %.1f ms, worst %.1f ms\n", total / runs, best, worst);
    return kind == IcmpSocketKind::None ? 1 : 0;
}
