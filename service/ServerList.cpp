#include "service/ServerList.h"

namespace lumidex {

std::optional<std::uint16_t> ServerList::Find(const Ipv4Address& address) const {
    const auto found = m_ports.find(address.LittleEndianValue());
    if (found == m_ports.end()) {
        return std::nullopt;
    }
    return found->second;
}

bool ServerList::InsertIfAbsent(const Ipv4Address& address, std::uint16_t port) {
    return m_ports.emplace(address.LittleEndianValue(), port).second;
}

std::vector<ServerRecord> ServerList::Entries() const {
    std::vector<ServerRecord> entries;
    entries.reserve(m_ports.size());
    for (const auto& [key, port] : m_ports) {
        entries.push_back({Ipv4Address::FromLittleEndianValue(key), port});
    }
    return entries;
}

}  // namespace lumidex
