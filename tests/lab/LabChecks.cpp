// Checks of the lab itself, run inside the client namespace of a running lab (scripts/lab
// --run SCENARIO -- lab_checks). Every check reads what the scenario intends from the lab's
// notes ($LAB_DIR/lab.json) and asserts that the network really behaves so, so one binary
// covers the healthy scenario and every fault.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <thread>

#include "LabClient.h"
#include "LabFixture.h"
#include "LabelDecoder.h"
#include "support/RunProcess.h"

namespace lumidex::labtest {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;

std::string HttpGet(const std::string& path, const std::string& host) {
    return "GET " + path + " HTTP/1.1\r\nAccept: */*\r\nHost: " + host +
           "\r\nConnection: close\r\n\r\n";
}

std::string Body(const std::string& response) {
    const auto end = response.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : response.substr(end + 4);
}

std::string Dechunk(const std::string& body) {
    std::string out;
    std::size_t pos = 0;
    while (pos < body.size()) {
        const auto end = body.find("\r\n", pos);
        if (end == std::string::npos) {
            return {};
        }
        const std::size_t size = std::stoul(body.substr(pos, end - pos), nullptr, 16);
        if (size == 0) {
            break;
        }
        out += body.substr(end + 2, size);
        pos = end + 2 + size + 2;
    }
    return out;
}

// --- the network: names, pings, routes ---------------------------------------------------

TEST_F(LabTest, NamesResolveAsTheScenarioSays) {
    const bool dnsWorks = lab().Setting("DNS_SERVICE") == "on" &&
                          lab().Setting("DNS_CONFIGURED") == "yes" && lab().Routed();
    const std::string hostsFile = ReadText("/etc/hosts");
    // A portal's resolver answers every name with the portal; a hijacking one answers the
    // names it does not know with its own address.
    const std::string portal = lab().Notes().contains("portal")
                                   ? lab().Notes()["portal"]["address"].get<std::string>()
                                   : std::string();
    const std::string unknown =
        !portal.empty() ? portal : lab().Notes().value("dnsUnknown", std::string());
    std::set<std::string> checked;
    std::string viaDns;
    for (const Json& host : lab().Notes()["hosts"]) {
        const std::string name = host["host"];
        if (!checked.insert(name).second) {
            continue;
        }
        const auto addresses = Resolve(name);
        if (hostsFile.find(" " + name) != std::string::npos) {
            continue;  // mapped by the hosts file; checked below
        }
        if (!dnsWorks) {
            EXPECT_TRUE(addresses.empty()) << name;
            if (checked.size() >= 2) {
                break;  // every look-up waits for the resolver's time-out; two make the point
            }
            continue;
        }
        ASSERT_EQ(addresses.size(), 1u) << name;
        EXPECT_EQ(addresses[0], portal.empty() ? host["address"].get<std::string>() : portal)
            << name;
        viaDns = name;
    }
    if (!dnsWorks) {
        return;
    }
    // The answers came from the lab DNS, and nothing else is known there. Behind a search
    // domain with a wildcard, a relative name that does not exist is answered under that
    // domain; the absolute one stays unknown.
    const std::vector<std::string> unknownAnswer =
        unknown.empty() ? std::vector<std::string>{} : std::vector<std::string>{unknown};
    const Json wildcard = lab().Notes().value("searchWildcard", Json());
    const std::vector<std::string> relativeAnswer =
        wildcard.is_object() ? std::vector<std::string>{wildcard["address"]} : unknownAnswer;
    EXPECT_EQ(Resolve("www.example.com"), relativeAnswer);
    EXPECT_EQ(Resolve("nosuch.invalid"), relativeAnswer);
    EXPECT_EQ(Resolve("nosuch.invalid."), unknownAnswer);
    const std::string dnsLog = ReadText(lab().Notes()["dnsLog"].get<std::string>());
    EXPECT_NE(dnsLog.find("query[A] " + viaDns), std::string::npos) << viaDns;
    EXPECT_EQ(dnsLog.find("www.example.com is NXDOMAIN") != std::string::npos, unknown.empty());
    EXPECT_EQ(dnsLog.find("forwarded"), std::string::npos);
}

TEST_F(LabTest, HostsFileHoldsOnlyWhatTheScenarioAdds) {
    const std::string hostsFile = ReadText("/etc/hosts");
    EXPECT_NE(hostsFile.find("localhost"), std::string::npos);
    EXPECT_NE(hostsFile.find(lab().Notes()["client"].get<std::string>()), std::string::npos);
    const std::string extra = lab().Setting("HOSTS_EXTRA");
    if (extra.empty()) {
        for (const Json& host : lab().Notes()["hosts"]) {
            EXPECT_EQ(hostsFile.find(host["host"].get<std::string>()), std::string::npos)
                << host["host"];
        }
        return;
    }
    // "127.0.0.1 @channel-list;203.0.113.99 @website": each named host resolves to its mapping.
    std::stringstream lines(extra);
    std::string line;
    while (std::getline(lines, line, ';')) {
        const std::string address = line.substr(0, line.find(' '));
        const std::string role = line.substr(line.find('@') + 1);
        const auto hosts = lab().Hosts(role);
        ASSERT_FALSE(hosts.empty()) << role;
        const auto resolved = Resolve(hosts[0]["host"]);
        ASSERT_FALSE(resolved.empty()) << hosts[0]["host"];
        EXPECT_EQ(resolved[0], address) << hosts[0]["host"];
    }
}

TEST_F(LabTest, GatewayAndDnsServersAnswerPingsAsTheScenarioSays) {
    const std::string gateway = lab().Notes()["gateway"];
    const bool linkUp = lab().Setting("LINK") != "down";
    EXPECT_EQ(Ping(gateway, 2, kSilence) > 0, lab().Setting("GATEWAY_PING") != "off" && linkUp)
        << gateway;
    // A slow gateway answers, but only after its delay.
    if (lab().Setting("GATEWAY_PING") == "slow" && linkUp) {
        const auto sent = std::chrono::steady_clock::now();
        ASSERT_EQ(Ping(gateway, 1, kGuard), 1) << gateway;
        EXPECT_GE(std::chrono::steady_clock::now() - sent,
                  std::chrono::milliseconds(lab().Notes()["slowGatewayMs"].get<int>()));
    }
    const bool dnsReachable = lab().Routed();
    for (const Json& server : lab().Notes()["dns"]) {
        const bool expected = dnsReachable && lab().Setting("DNS_PING") == "on";
        EXPECT_EQ(Ping(server, 2, kSilence) > 0, expected) << server;
    }
}

TEST_F(LabTest, ClientConfigurationMatchesTheScenario) {
    const std::string routes = ReadText("/proc/net/route");
    // A default route is a line whose destination (second column) is 00000000.
    bool hasDefault = false;
    std::istringstream lines(routes);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream columns(line);
        std::string interface, destination;
        columns >> interface >> destination;
        hasDefault = hasDefault || destination == "00000000";
    }
    EXPECT_EQ(hasDefault, lab().Routed()) << routes;
    const std::string resolv = ReadText("/etc/resolv.conf");
    const bool hasServers = resolv.find("nameserver ") != std::string::npos;
    EXPECT_EQ(hasServers, lab().Setting("DNS_CONFIGURED") == "yes") << resolv;
    for (const Json& server : lab().Notes()["dns"]) {
        EXPECT_EQ(resolv.find("nameserver " + server.get<std::string>()) != std::string::npos,
                  hasServers);
    }
    const Json wildcard = lab().Notes().value("searchWildcard", Json());
    EXPECT_EQ(resolv.find("search ") != std::string::npos, wildcard.is_object()) << resolv;
    if (wildcard.is_object()) {
        EXPECT_NE(resolv.find("search " + wildcard["domain"].get<std::string>() + "\n"),
                  std::string::npos)
            << resolv;
    }
}

TEST_F(LabTest, ClientHasNoWayOutOfTheLab) {
    // Only loopback, the lab's own link and the lab's dial-up tun device (whose far end is a
    // lab process or nothing), and every route over these: nothing the client sends can reach
    // this machine's network.
    std::istringstream devices(ReadText("/proc/net/dev"));
    std::string line;
    std::getline(devices, line);
    std::getline(devices, line);
    while (std::getline(devices, line)) {
        const auto start = line.find_first_not_of(' ');
        const std::string name = line.substr(start, line.find(':') - start);
        EXPECT_TRUE(name == "lo" || name == "lab0" || name == "ppp0") << name;
    }
    std::istringstream routes(ReadText("/proc/net/route"));
    std::getline(routes, line);
    while (std::getline(routes, line)) {
        EXPECT_TRUE(line.rfind("lab0\t", 0) == 0 || line.rfind("ppp0\t", 0) == 0) << line;
    }
}

// --- the hosts of the far side ------------------------------------------------------------

TEST_F(LabTest, TcpHostsAcceptRefuseOrDropAsConfigured) {
    if (!lab().Routed()) {
        const Json& any = lab().Notes()["tcp"][0];
        EXPECT_EQ(TcpConnect(any["address"], any["port"], kSilence), ConnectResult::Unreachable);
        return;
    }
    std::vector<std::thread> threads;
    std::vector<std::string> failures(lab().Notes()["tcp"].size());
    for (std::size_t i = 0; i < failures.size(); ++i) {
        // In parallel: a dropped host costs the whole silence period.
        threads.emplace_back([&, i] {
            const Json& host = lab().Notes()["tcp"][i];
            // Past a cut every host is as silent as a dropped one.
            const std::string mode =
                lab().Cut() ? std::string("drop") : host["mode"].get<std::string>();
            const bool answers = mode == "portal" || mode == "portal-gbk" || mode == "redirect-www";
            const ConnectResult expected = mode == "accept" || answers ? ConnectResult::Connected
                                           : mode == "refuse"          ? ConnectResult::Refused
                                                                       : ConnectResult::TimedOut;
            platform::UniqueFd fd;
            // Over a lossy link a lost SYN is sent again a second later, and again.
            const auto wait = lab().Lossy() ? std::chrono::milliseconds(kGuard)
                                            : std::chrono::milliseconds(kSilence);
            const ConnectResult got = TcpConnect(host["address"], host["port"], wait, &fd);
            if (got != expected) {
                failures[i] = host.dump() + ": " + ToString(got);
            } else if (answers) {
                // A portal sends every page to its login host (the GBK one every page but a
                // home page, with raw bytes); a redirecting site to its other name.
                const bool portal = mode != "redirect-www";
                const std::string head =
                    portal ? "HTTP/1.1 302 Found\r\n" : "HTTP/1.1 301 Moved Permanently\r\n";
                const std::string location =
                    mode == "portal-gbk" ? "\r\nLocation: http://login.portal.lab/login?url=http://"
                                           "www.example.com/x&msg=\xB5\xC7\xC2\xBC\r\n"
                    : portal             ? "\r\nLocation: http://login.portal.lab/login?url=http://"
                                           "www.example.com/\r\n"
                                         : "\r\nLocation: http://example.com/\r\n";
                const std::string path = mode == "portal-gbk" ? "/x" : "/";
                const std::string answer = SendAll(fd.get(), HttpGet(path, "www.example.com"))
                                               ? ReadUntilClose(fd.get(), kGuard).bytes
                                               : std::string();
                if (answer.rfind(head, 0) != 0 || answer.find(location) == std::string::npos) {
                    failures[i] = host.dump() + ": " + answer;
                }
            } else if (got == ConnectResult::Connected &&
                       // A lost last handshake ACK leaves the host to accept only once its
                       // SYN-ACK, resent 1, 3 and 7 s later, is answered.
                       !ReadUntilClose(fd.get(), lab().Lossy() ? 3 * kGuard : kGuard).closed) {
                failures[i] = host.dump() + ": accepted but not closed";
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (const std::string& failure : failures) {
        EXPECT_TRUE(failure.empty()) << failure;
    }
}

TEST_F(LabTest, ListHostsAnswerPingsUnlessDropped) {
    if (lab().Lossy()) {
        GTEST_SKIP() << "a lossy link makes single pings a matter of chance";
    }
    if (!lab().Routed() || lab().Cut()) {
        GTEST_SKIP() << "no route to the list hosts in this scenario";
    }
    for (const Json& host : lab().Hosts("list")) {
        EXPECT_EQ(Ping(host["address"], 1, host["mode"] == "answer" ? kGuard : kSilence) > 0,
                  host["mode"] == "answer")
            << host.dump();
    }
}

TEST_F(LabTest, ChannelListIsServedAsConfigured) {
    if (!lab().Notes().contains("channelList") || !lab().Routed() || lab().Cut()) {
        GTEST_SKIP() << "no channel list reachable in this scenario";
    }
    const Json& service = lab().Notes()["channelList"];
    const std::string mode = service["mode"];
    const std::string host = lab().Hosts("channel-list").at(0)["host"];
    const auto wait = mode == "never-answer" || mode == "drip" ? std::chrono::milliseconds(kSilence)
                                                               : std::chrono::milliseconds(kGuard);
    const auto answer =
        Exchange(service["address"], service["port"], HttpGet("/channels.htm.xml", host), wait);
    ASSERT_TRUE(answer.has_value()) << "no connection to " << service.dump();
    const std::string& bytes = answer->bytes;
    if (mode == "never-answer") {
        EXPECT_TRUE(bytes.empty());
        EXPECT_FALSE(answer->closed);
        return;
    }
    if (mode == "drip") {
        // The head at once, announcing the whole list; the body a byte every few seconds.
        EXPECT_EQ(bytes.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << bytes;
        EXPECT_NE(bytes.find("\r\nContent-Length: "), std::string::npos) << bytes;
        EXPECT_LT(Body(bytes).size(), 2u) << bytes;
        EXPECT_FALSE(answer->closed);
        return;
    }
    EXPECT_TRUE(answer->closed);
    if (mode == "404") {
        EXPECT_EQ(bytes.rfind("HTTP/1.1 404 ", 0), 0u) << bytes;
        return;
    }
    if (mode == "garbage") {
        EXPECT_FALSE(bytes.empty());
        EXPECT_NE(bytes.rfind("HTTP/", 0), 0u) << bytes;
        return;
    }
    ASSERT_EQ(bytes.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << bytes;
    std::string xml = Body(bytes);
    if (mode == "chunked") {
        EXPECT_NE(bytes.find("Transfer-Encoding: chunked\r\n"), std::string::npos);
        xml = Dechunk(xml);
    }
    if (mode == "until-close") {
        EXPECT_EQ(bytes.substr(0, bytes.find("\r\n\r\n")).find("Content-Length"),
                  std::string::npos);
    }
    if (mode == "malformed") {
        EXPECT_EQ(xml.find("</Channels>"), std::string::npos);
        return;
    }
    // The labels name exactly the lab's channel servers (first record) and trackers.
    std::set<std::pair<std::string, int>> servers, trackers, expectedServers, expectedTrackers;
    for (const std::string& label : LabelsIn(xml)) {
        const auto records = DecodeLabel(label);
        ASSERT_FALSE(records.empty()) << label;
        servers.insert({records[0].address, int{records[0].port}});
        for (std::size_t i = 1; i < records.size(); ++i) {
            trackers.insert({records[i].address, int{records[i].port}});
        }
    }
    for (const Json& server : lab().Notes()["channelServers"]) {
        expectedServers.insert({server["address"].get<std::string>(), server["port"].get<int>()});
    }
    for (const Json& tracker : lab().Notes()["trackers"]) {
        expectedTrackers.insert(
            {tracker["address"].get<std::string>(), tracker["port"].get<int>()});
    }
    EXPECT_EQ(servers, expectedServers);
    EXPECT_EQ(trackers, expectedTrackers);
}

// What a prober sees from one server in its mode.
std::string CheckProbe(const Json& server, std::uint16_t port) {
    const std::string address = server["address"];
    const std::string mode = server["mode"];
    const auto request = ProbeRequest(address, port);
    if (mode == "late") {
        // Nothing within the prober's 2000 ms, then a valid reply from the server.
        if (!UdpExchange(address, port, request, 1500ms).empty()) {
            return "late server replied early";
        }
        const auto replies = UdpExchange(address, port, request, kGuard);
        return !replies.empty() && replies[0].from == address && IsValidProbeReply(replies[0].bytes)
                   ? ""
                   : "late server never replied validly";
    }
    const auto replies = UdpExchange(
        address, port, request, mode == "silent" ? kSilence : std::chrono::milliseconds(kGuard));
    if (mode == "silent") {
        return replies.empty() ? "" : "silent server replied";
    }
    if (replies.size() != 1) {
        return std::to_string(replies.size()) + " replies";
    }
    const Datagram& reply = replies[0];
    if (mode == "ok") {
        return reply.from == address && IsValidProbeReply(reply.bytes)
                   ? ""
                   : "no valid reply from the server";
    }
    if (mode == "other-address") {
        return reply.from != address && IsValidProbeReply(reply.bytes)
                   ? ""
                   : "reply not from another address";
    }
    // malformed and wrong-type: from the server, but not acceptable.
    return reply.from == address && !IsValidProbeReply(reply.bytes) ? ""
                                                                    : "reply acceptable after all";
}

TEST_F(LabTest, UdpProbeRespondersBehaveAsConfigured) {
    if (!lab().Routed() || lab().Cut()) {
        GTEST_SKIP() << "no route to the servers in this scenario";
    }
    if (lab().Lossy()) {
        GTEST_SKIP() << "a lossy link makes single exchanges a matter of chance";
    }
    // A router that lets no UDP past: every server is silent, whatever its mode.
    const bool blocked = lab().Setting("NAT") == "udp-blocked";
    std::vector<std::pair<Json, std::uint16_t>> targets;
    for (const Json& server : lab().Notes()["channelServers"]) {
        const int port = server["port"];
        targets.emplace_back(server, port == 0 ? 7201 : port);  // record port 0: default 7201
    }
    for (const Json& tracker : lab().Notes()["trackers"]) {
        targets.emplace_back(tracker, 8000);  // trackers answer on 8000 whatever their record says
    }
    std::vector<std::string> failures(targets.size());
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < targets.size(); ++i) {
        threads.emplace_back([&, i] {
            Json server = targets[i].first;
            if (blocked) {
                server["mode"] = "silent";
            }
            const std::string why = CheckProbe(server, targets[i].second);
            if (!why.empty()) {
                failures[i] = targets[i].first.dump() + ": " + why;
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (const std::string& failure : failures) {
        EXPECT_TRUE(failure.empty()) << failure;
    }
}

TEST_F(LabTest, ReportServerStoresAPostByteForByte) {
    if (!lab().Routed() || lab().Cut()) {
        GTEST_SKIP() << "no route to the report server in this scenario";
    }
    const Json host = lab().Hosts("report").at(0);
    const std::string mode = host["mode"];
    if (mode == "down") {
        EXPECT_EQ(TcpConnect(host["address"], host["port"], kGuard), ConnectResult::Refused);
        return;
    }
    const std::string body = "fg=lab&ti=%C4%E3&co=\r\nline two";
    const std::string request =
        "POST /bbs?nm=%B4%ED HTTP/1.1\r\nHost: " + host["host"].get<std::string>() +
        "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
        body + "\r\n";
    const bool holds = mode == "never-close" || mode == "hold-then-close";
    const auto answer =
        Exchange(host["address"], host["port"], request,
                 holds ? std::chrono::milliseconds(1500) : std::chrono::milliseconds(kGuard));
    ASSERT_TRUE(answer.has_value());
    if (mode == "ok" || holds) {
        EXPECT_NE(answer->bytes.find("200 OK"), std::string::npos) << answer->bytes;
    } else if (mode == "302") {
        EXPECT_NE(answer->bytes.find("302 "), std::string::npos) << answer->bytes;
    } else {
        EXPECT_EQ(answer->bytes.find("200 OK"), std::string::npos) << answer->bytes;
        EXPECT_EQ(answer->bytes.find("302 "), std::string::npos) << answer->bytes;
    }
    EXPECT_EQ(answer->closed, !holds);

    // Stored byte for byte, the closing CR LF included.
    const std::filesystem::path dir = lab().Notes()["reportDir"].get<std::string>();
    bool found = false;
    for (int tries = 0; tries < 500 && !found; ++tries) {
        for (const auto& entry : std::filesystem::directory_iterator(dir)) {
            found =
                found || (entry.path().extension() == ".req" && ReadText(entry.path()) == request);
        }
        if (!found) {
            std::this_thread::sleep_for(10ms);
        }
    }
    EXPECT_TRUE(found) << "no stored copy of the request in " << dir;
}

TEST_F(LabTest, PatchDownloadAnswersAsConfigured) {
    if (!lab().Notes().contains("download") || !lab().Routed() || lab().Cut()) {
        GTEST_SKIP() << "no download host reachable in this scenario";
    }
    const Json& service = lab().Notes()["download"];
    const auto answer = Exchange(service["address"], service["port"],
                                 HttpGet("/download/XP_SP2_tcpPatch.exe", "download"), kGuard);
    ASSERT_TRUE(answer.has_value());
    if (service["mode"] == "404") {
        EXPECT_EQ(answer->bytes.rfind("HTTP/1.1 404 ", 0), 0u);
        return;
    }
    EXPECT_EQ(answer->bytes.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
    EXPECT_EQ(Body(answer->bytes).rfind("MZ", 0), 0u);
}

TEST_F(LabTest, WinePrefixCarriesTheInstallationAndInternetSettings) {
    const std::filesystem::path prefix = lab().Notes()["prefix"].get<std::string>();
    // A Bottles layout is found by the console itself, as from the desktop's menu.
    if (lab().Notes()["prefixLayout"] != "wineprefix") {
        EXPECT_EQ(std::getenv("WINEPREFIX"), nullptr);
    } else {
        ASSERT_EQ(std::getenv("WINEPREFIX"), prefix.string());
    }
    const std::string system = ReadText(prefix / "system.reg");
    EXPECT_EQ(system.rfind("WINE REGISTRY Version 2\n", 0), 0u);
    EXPECT_NE(
        system.find(
            "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\Kelvora_is1]"),
        std::string::npos);
    // InstallLocation is the lab's installation directory in Windows form through drive Z:.
    std::string install = lab().Notes()["installDir"];
    std::string windows = "Z:";
    for (const char c : install) {
        windows += c == '/' ? std::string("\\\\") : std::string(1, c);
    }
    EXPECT_NE(system.find("\"InstallLocation\"=\"" + windows + "\\\\\"\n"), std::string::npos)
        << system;
    EXPECT_TRUE(std::filesystem::is_directory(install + "/log"));
    EXPECT_TRUE(std::filesystem::equivalent(prefix / "dosdevices" / "z:", "/"));

    const std::string user = ReadText(prefix / "user.reg");
    EXPECT_NE(
        user.find("[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Internet Settings]"),
        std::string::npos);
    EXPECT_NE(user.find("\"GlobalUserOffline\"=dword:0000000" + lab().Setting("IE_OFFLINE") + "\n"),
              std::string::npos);
    const std::string proxy = lab().Setting("PROXY");
    EXPECT_NE(
        user.find(std::string("\"ProxyEnable\"=dword:0000000") + (proxy == "none" ? "0" : "1")),
        std::string::npos);
    if (proxy == "none") {
        EXPECT_EQ(user.find("ProxyServer"), std::string::npos);
        return;
    }
    if (proxy == "empty") {
        EXPECT_NE(user.find("\"ProxyServer\"=\"\"\n"), std::string::npos);
        return;
    }
    const std::string server = lab().Notes()["proxy"][proxy];
    EXPECT_NE(user.find("\"ProxyServer\"=\"" + server + "\"\n"), std::string::npos);
    const std::string address = server.substr(0, server.find(':'));
    const auto port = static_cast<std::uint16_t>(std::stoi(server.substr(server.find(':') + 1)));
    EXPECT_EQ(TcpConnect(address, port, kGuard),
              proxy == "reachable" ? ConnectResult::Connected : ConnectResult::Refused);
}

TEST_F(LabTest, WinePrefixCarriesTheMediaPlayerAndItsAssociations) {
    const std::filesystem::path prefix = lab().Notes()["prefix"].get<std::string>();
    const std::string system = ReadText(prefix / "system.reg");
    const std::string wmp = lab().Setting("WMP");
    const auto exe = prefix / "drive_c/Program Files/Windows Media Player/wmplayer.exe";
    EXPECT_EQ(std::filesystem::exists(exe), wmp != "none");
    EXPECT_EQ(system.find("App Paths\\\\wmplayer.exe]") != std::string::npos, wmp != "none");
    if (wmp != "none") {
        std::string utf16;  // the version text of the program's version resource
        for (const char c : wmp) {
            utf16 += c;
            utf16 += '\0';
        }
        EXPECT_NE(ReadText(exe).find(utf16), std::string::npos);
    }
    for (const std::string ext : {"asf", "asx"}) {
        const std::string mode = lab().Setting(ext == "asf" ? "ASF" : "ASX");
        const std::string key = "[Software\\\\Classes\\\\." + ext + "]";
        EXPECT_EQ(system.find(key) != std::string::npos, mode != "none") << ext;
        const std::string id =
            mode == "wmp" ? (ext == "asf" ? "WMP.AsfFile" : "WMP.AsxFile") : "OtherPlayer." + ext;
        EXPECT_EQ(system.find("@=\"" + id + "\"") != std::string::npos, mode != "none") << ext;
    }
}

// --- the client's system bus -------------------------------------------------------------

// Asked with dbus-send, not with Lumidex's own reader, so a fault in either shows on its own.
TEST_F(LabTest, SystemBusServesWhatTheScenarioSays) {
    const std::string mode = lab().Setting("NM_CONNECTIVITY");
    const std::string address = lab().Notes()["systemBus"];
    const char* inherited = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    ASSERT_NE(inherited, nullptr);
    // Every program in the lab reaches the lab's bus, or none: never this machine's own.
    ASSERT_EQ(inherited, address);
    const std::string socket = address.substr(address.find('=') + 1);
    if (mode == "no-bus") {
        EXPECT_FALSE(std::filesystem::exists(socket)) << socket;
        return;
    }
    const auto asked = testing::RunProcess(
        "/usr/bin/dbus-send",
        {"--system", "--print-reply", "--reply-timeout=300",
         "--dest=org.freedesktop.NetworkManager", "/org/freedesktop/NetworkManager",
         "org.freedesktop.DBus.Properties.Get", "string:org.freedesktop.NetworkManager",
         "string:Connectivity"},
        {}, std::chrono::seconds(10));
    const std::map<std::string, std::string> expected = {
        {"no-service", "org.freedesktop.DBus.Error.ServiceUnknown"},
        {"silent", "org.freedesktop.DBus.Error.NoReply"},
        {"unknown", "uint32 0"},
        {"none", "uint32 1"},
        {"portal", "uint32 2"},
        {"limited", "uint32 3"},
        {"full", "uint32 4"},
    };
    ASSERT_TRUE(expected.count(mode)) << mode;
    EXPECT_NE((asked.out + asked.err).find(expected.at(mode)), std::string::npos)
        << mode << ": " << asked.out << asked.err;
}

// --- the program in the lab ---------------------------------------------------------------

// The program itself in the lab: only where its results are known (lumidex_lab_suites).
using LabConsole = LabTest;

TEST_F(LabConsole, RunPrintsEveryRowAndWritesItsLogInTheLab) {
    const char* console = std::getenv("LUMIDEX_CONSOLE");
    ASSERT_NE(console, nullptr);
    const std::filesystem::path log =
        lab().Notes()["installDir"].get<std::string>() + "/log/Lumidex_log.txt";
    std::filesystem::remove(log);
    const std::string command = std::string("'") + console + "' --json";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        output.append(buffer, n);
    }
    const int status = ::pclose(pipe);
    // 0: no error found, 1: errors found; anything else is a usage error or a crash.
    ASSERT_TRUE(WIFEXITED(status)) << output;
    EXPECT_LE(WEXITSTATUS(status), 1) << output;
    const Json result = Json::parse(output, nullptr, false);
    ASSERT_TRUE(result.is_object()) << output;
    ASSERT_TRUE(result.contains("rows")) << output;
    EXPECT_EQ(result["rows"].size(), 19u) << output;
    // The installation directory came from the fixture's registry, through drive Z:.
    EXPECT_TRUE(std::filesystem::exists(log));
}

}  // namespace
}  // namespace lumidex::labtest
