#include "engine/Endpoints.h"

#include <string_view>

namespace lumidex::endpoints {
namespace {

void AppendGroup(std::vector<Endpoint>& out, std::string_view list, const char* role,
                 std::uint16_t port, const char* protocol) {
    while (!list.empty()) {
        const auto comma = list.find(',');
        const auto host = list.substr(0, comma);
        if (!host.empty()) {
            out.push_back({role, std::string(host), port, protocol});
        }
        if (comma == std::string_view::npos) {
            break;
        }
        list.remove_prefix(comma + 1);
    }
}

}  // namespace

std::vector<Endpoint> AllEndpoints() {
    std::vector<Endpoint> out;
    out.push_back({"channel-list", kChannelListHost, 80, "http"});
    AppendGroup(out, kWebsiteHosts, "website", 80, "tcp");
    AppendGroup(out, kInformationHosts, "information", 80, "tcp");
    AppendGroup(out, kListHosts, "list", 0, "icmp");
    AppendGroup(out, kPublicSites, "public-site", 80, "tcp");
    out.push_back({"report", kReportHost, kReportPort, "http"});
    out.push_back({"download", kDownloadHost, 80, "http"});
    out.push_back({"home-page", "www.kelvora.com", 80, "http"});
    out.push_back({"help-page", "www.kelvora.com", 80, "http"});
    for (const StunServer& server : StunServers()) {
        out.push_back({"stun", server.host, server.port, "udp"});
    }
    return out;
}

std::vector<StunServer> StunServers() {
    return {
        {"stun.stunprotocol.org", 3478}, {"stun.l.google.com", 19302},
        {"stun.cloudflare.com", 3478},   {"stun.nextcloud.com", 443},
        {"stun.sipgate.net", 3478},
    };
}

}  // namespace lumidex::endpoints
