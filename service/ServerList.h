// Trackers or channel servers learnt from channel lists: one port per IPv4 address, in the
// order of the address read as a little-endian integer (so 9.9.9.1 comes before 1.2.3.9).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "service/ServerRecord.h"

namespace lumidex {

class ServerList {
public:
    std::size_t Size() const { return m_ports.size(); }
    bool Empty() const { return m_ports.empty(); }
    std::optional<std::uint16_t> Find(const Ipv4Address& address) const;
    // Adds the address with this port unless it is already there; the first port stays.
    // True when it was added.
    bool InsertIfAbsent(const Ipv4Address& address, std::uint16_t port);
    void Clear() { m_ports.clear(); }
    // Every entry, in list order.
    std::vector<ServerRecord> Entries() const;

private:
    std::map<std::uint32_t, std::uint16_t> m_ports;  // little-endian address value -> port
};

}  // namespace lumidex
