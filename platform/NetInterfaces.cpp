#include "platform/NetInterfaces.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace lumidex::platform {
namespace {

struct IfAddrsFree {
    void operator()(ifaddrs* list) const { ::freeifaddrs(list); }
};
struct NameIndexFree {
    void operator()(struct if_nameindex* list) const { ::if_freenameindex(list); }
};

NetInterface* Find(std::vector<NetInterface>& interfaces, const char* name) {
    auto it = std::find_if(interfaces.begin(), interfaces.end(),
                           [&](const NetInterface& entry) { return entry.name == name; });
    return it == interfaces.end() ? nullptr : &*it;
}

}  // namespace

std::vector<NetInterface> ListNetInterfaces() {
    std::vector<NetInterface> interfaces;
    // if_nameindex lists interfaces without any address too, which getifaddrs may not.
    const std::unique_ptr<struct if_nameindex, NameIndexFree> names(::if_nameindex());
    if (names) {
        for (const struct if_nameindex* entry = names.get(); entry->if_index != 0; ++entry) {
            interfaces.push_back({entry->if_name, entry->if_index, 0, {}});
        }
    }
    ifaddrs* raw = nullptr;
    if (::getifaddrs(&raw) == 0) {
        const std::unique_ptr<ifaddrs, IfAddrsFree> list(raw);
        for (const ifaddrs* entry = list.get(); entry != nullptr; entry = entry->ifa_next) {
            if (entry->ifa_name == nullptr) {
                continue;
            }
            NetInterface* known = Find(interfaces, entry->ifa_name);
            if (known == nullptr) {
                continue;
            }
            known->flags = entry->ifa_flags;
            if (entry->ifa_addr != nullptr && entry->ifa_addr->sa_family == AF_INET) {
                sockaddr_in address{};
                std::memcpy(&address, entry->ifa_addr, sizeof address);
                known->ipv4.push_back(address.sin_addr.s_addr);
            }
        }
    }
    std::stable_sort(
        interfaces.begin(), interfaces.end(),
        [](const NetInterface& a, const NetInterface& b) { return a.index < b.index; });
    return interfaces;
}

}  // namespace lumidex::platform
