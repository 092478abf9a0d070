// Every host, port and URL Lumidex talks to, in one place, so that the lab and anyone writing
// firewall rules can read them from the program itself (lumidex-console --endpoints).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lumidex::endpoints {

// The product's own domains; the hosts-file check looks for these as substrings.
inline constexpr char kPrimaryDomain[] = "kelvora.com";
inline constexpr char kSecondaryDomain[] = "kelvora.net";

inline constexpr char kChannelListHost[] = "channel.kelvora.com";
inline constexpr char kChannelListUrl[] = "http://channel.kelvora.com/channels.htm.xml";

// Comma-separated host groups, exactly as the service host lists split them.
inline constexpr char kWebsiteHosts[] = "www.kelvora.com,search.kelvora.com,club.kelvora.com";
inline constexpr char kListHosts[] =
    "list.kelvora.com,list1.kelvora.com,list2.kelvora.com,list3.kelvora.com,list.kelvora.net";
inline constexpr char kInformationHosts[] =
    "tvguide.kelvora.com,msg.kelvora.com,notice.kelvora.com,stat.kelvora.com,"
    "snapshot.kelvora.com";

// Ten large public sites that answer on port 80; reachability of the Internet at large.
inline constexpr char kPublicSites[] =
    "www.baidu.com,www.qq.com,www.sina.com.cn,www.163.com,www.sohu.com,"
    "www.taobao.com,www.microsoft.com,www.yahoo.com,www.wikipedia.org,www.apple.com";

inline constexpr char kReportHost[] = "report.kelvora.com";
inline constexpr std::uint16_t kReportPort = 8080;
inline constexpr char kReportUrl[] =
    "http://report.kelvora.com:8080/bbs?nm=%B4%ED%CE%F3%D5%EF%B6%CF%B1%A8%B8%E6";

inline constexpr char kHomePage[] = "http://www.kelvora.com/";
inline constexpr char kHelpPage[] = "http://www.kelvora.com/direction_of_use_khdzdgj.html";

inline constexpr char kDownloadHost[] = "download.kelvora.com";
inline constexpr char kPatchUrl[] = "http://download.kelvora.com/download/XP_SP2_tcpPatch.exe";

// Ports of the UDP-probed services; channel servers name theirs in the channel list.
inline constexpr std::uint16_t kTrackerPort = 8000;
inline constexpr std::uint16_t kDefaultChannelServerPort = 7201;

struct Endpoint {
    std::string role;      // what the host is for, e.g. "website", "public-site"
    std::string host;      // host name
    std::uint16_t port;    // 0 where the protocol has no port (ICMP)
    std::string protocol;  // "http", "tcp", "icmp", "udp"
};

// Every built-in endpoint, grouped by role, in the order the checks use them.
std::vector<Endpoint> AllEndpoints();

// A public STUN server the peer-reachability check asks for this computer's mapped address.
struct StunServer {
    std::string host;
    std::uint16_t port = 3478;
};

// All asked at once. They stand on different addresses, so the two first to answer give two
// mapped addresses to compare; the first has a second address and port and answers the NAT
// behaviour tests (OTHER-ADDRESS, CHANGE-REQUEST).
std::vector<StunServer> StunServers();

}  // namespace lumidex::endpoints
