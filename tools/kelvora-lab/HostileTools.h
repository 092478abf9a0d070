// Hostile players of the lab that are not servers of the simulator: a flood of ICMP echo
// replies from many hosts, and a DNS server that answers late.
#pragma once

namespace lumidex::lab {

// kelvora-lab echo-flood TARGET PER_SECOND: echo replies to TARGET from every address of the
// wide range in turn, with every identifier and sequence number in turn, until SIGTERM.
int EchoFlood(int argc, char** argv);

// kelvora-lab dns-delay DELAY_MS UPSTREAM_PORT ADDRESS...: answers DNS queries on port 53 of
// each ADDRESS with what the name server on 127.0.0.1:UPSTREAM_PORT answers, DELAY_MS after
// the query came in, until SIGTERM.
int DnsDelay(int argc, char** argv);

}  // namespace lumidex::lab
