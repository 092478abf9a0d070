#include "platform/NetInterfaces.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>

namespace lumidex::platform {

std::vector<NetInterface> ReadNetInterfaces() {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return {};
    }
    // getifaddrs gives one entry per address (and one per link): fold them by name.
    std::vector<std::pair<unsigned, NetInterface>> found;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_name == nullptr) {
            continue;
        }
        auto it = std::find_if(found.begin(), found.end(), [&](const auto& item) {
            return item.second.name == entry->ifa_name;
        });
        if (it == found.end()) {
            found.push_back({::if_nametoindex(entry->ifa_name), {entry->ifa_name, 0, false}});
            it = found.end() - 1;
        }
        it->second.flags |= entry->ifa_flags;
        if (entry->ifa_addr != nullptr && entry->ifa_addr->sa_family == AF_INET) {
            it->second.hasIPv4 = true;
        }
    }
    ::freeifaddrs(list);
    std::stable_sort(found.begin(), found.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<NetInterface> out;
    out.reserve(found.size());
    for (auto& item : found) {
        out.push_back(std::move(item.second));
    }
    return out;
}

}  // namespace lumidex::platform
