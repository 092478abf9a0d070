// The router's port-mapping protocols against loopback stand-ins only: NAT-PMP and PCP on
// 127.0.53.x port 5351 (a distinct address per case; a case is skipped when its address
// cannot be bound), UPnP as a scripted HTTP/SOAP device reached by its description URL, so
// that no SSDP search is ever sent.
#include "probes/PortMappingProbe.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/PcpMessage.h"
#include "platform/UniqueFd.h"
#include "probes/PortMappingTrial.h"
#include "support/LoopbackServer.h"

namespace lumidex {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

// Answers datagrams on address:5351 with what the script returns for each request.
class GatewayResponder {
public:
    using Script = std::function<std::vector<Bytes>(const Bytes& request)>;

    GatewayResponder(const std::string& address, Script script) : m_script(std::move(script)) {
        m_fd = platform::UniqueFd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(kPcpServerPort);
        ::inet_pton(AF_INET, address.c_str(), &local.sin_addr);
        if (!m_fd || ::bind(m_fd.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            m_fd.reset();
            return;
        }
        m_thread = std::thread([this] { Serve(); });
    }
    ~GatewayResponder() {
        m_stop = true;
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }
    bool Bound() const { return static_cast<bool>(m_fd); }
    std::vector<Bytes> Requests() {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }

private:
    void Serve() {
        while (!m_stop) {
            pollfd waiting{m_fd.get(), POLLIN, 0};
            if (::poll(&waiting, 1, 20) <= 0) {
                continue;
            }
            std::uint8_t buffer[2048];
            sockaddr_in from{};
            socklen_t size = sizeof from;
            const ssize_t got = ::recvfrom(m_fd.get(), buffer, sizeof buffer, 0,
                                           reinterpret_cast<sockaddr*>(&from), &size);
            if (got < 0) {
                continue;
            }
            const Bytes request(buffer, buffer + got);
            {
                std::lock_guard lock(m_mutex);
                m_requests.push_back(request);
            }
            for (const Bytes& reply : m_script(request)) {
                ::sendto(m_fd.get(), reply.data(), reply.size(), 0,
                         reinterpret_cast<sockaddr*>(&from), size);
            }
        }
    }

    Script m_script;
    platform::UniqueFd m_fd;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::vector<Bytes> m_requests;
    std::thread m_thread;
};

// RFC 6886 3.2: version 0, opcode 128, result, epoch, public address.
Bytes NatPmpAnswer(std::uint8_t result, std::array<std::uint8_t, 4> address = {}) {
    return {0, 128, 0, result, 0, 0, 0, 7, address[0], address[1], address[2], address[3]};
}

Bytes PcpAnswerBytes(std::uint8_t result) {
    Bytes bytes(kPcpHeaderBytes, 0);
    bytes[0] = kPcpVersion;
    bytes[1] = 0x80;
    bytes[3] = result;
    return bytes;
}

struct Expected {
    bool answered;
    bool available;
    std::string externalAddress;
    std::string detail;
    bool addressMismatch = false;
};

void ExpectAnswer(const PortMappingAnswer& got, const Expected& expected, const std::string& name) {
    EXPECT_EQ(got.answered, expected.answered) << name;
    EXPECT_EQ(got.available, expected.available) << name;
    EXPECT_EQ(got.externalAddress, expected.externalAddress) << name;
    EXPECT_EQ(got.detail, expected.detail) << name;
    EXPECT_EQ(got.addressMismatch, expected.addressMismatch) << name;
}

PortMappingOptions GatewayOnly(std::chrono::milliseconds bound) {
    PortMappingOptions options;
    options.askUpnp = false;
    options.bound = bound;
    return options;
}

TEST(PortMappingProbeTest, NatPmpAndPcpAnswersSideBySide) {
    const std::vector<Bytes> none;
    const struct {
        std::string name;
        std::vector<Bytes> natPmp;  // replies to a version 0 request
        std::vector<Bytes> pcp;     // replies to a version 2 request
        Expected natPmpAnswer;
        Expected pcpAnswer;
        bool responder = true;
    } cases[] = {
        {"both map",
         {NatPmpAnswer(0, {203, 0, 113, 7})},
         {PcpAnswerBytes(kPcpSuccess)},
         {true, true, "203.0.113.7", "result 0"},
         {true, true, "", "result 0"}},
        {"both refuse",
         {NatPmpAnswer(3)},
         {PcpAnswerBytes(kPcpAddressMismatch)},
         {true, false, "", "result 3"},
         {true, false, "", "result 12", true}},
        {"NAT-PMP only",
         {NatPmpAnswer(0, {100, 64, 0, 9})},
         {{0, 128, 0, kPcpUnsuppVersion, 0, 0, 0, 7}},
         {true, true, "100.64.0.9", "result 0"},
         {true, false, "", "NAT-PMP only"}},
        {"noise before the answer",
         {{0xDE, 0xAD}, NatPmpAnswer(0, {198, 51, 100, 1})},
         {{0xDE, 0xAD}, PcpAnswerBytes(0x00)},
         {true, true, "198.51.100.1", "result 0"},
         {true, true, "", "result 0"}},
        {"only noise",
         {{1, 2, 3}},
         {{2, 0x80, 0, 0}},
         {false, false, "", "invalid answer"},
         {false, false, "", "invalid answer"}},
        {"silent", none, none, {false, false, "", "no answer"}, {false, false, "", "no answer"}},
        {"nobody listens",
         none,
         none,
         {false, false, "", "port closed"},
         {false, false, "", "port closed"},
         false},
    };
    int host = 10;
    for (const auto& c : cases) {
        const std::string gateway = "127.0.53." + std::to_string(host++);
        std::optional<GatewayResponder> responder;
        if (c.responder) {
            responder.emplace(gateway, [&c](const Bytes& request) {
                return !request.empty() && request[0] == 0 ? c.natPmp : c.pcp;
            });
            if (!responder->Bound()) {
                GTEST_SKIP() << "cannot bind " << gateway << ":5351";
            }
        }
        PortMappingProbe probe(GatewayOnly(400ms));
        std::vector<ClientPortMapping> clientPorts;
        const std::vector<PortMappingAnswer> answers = probe.Run(gateway, {4000}, clientPorts);
        ASSERT_EQ(answers.size(), 3u) << c.name;
        EXPECT_EQ(answers[0].protocol, PortMappingProtocol::Upnp);
        EXPECT_EQ(answers[0].detail, "not asked");
        EXPECT_EQ(answers[1].protocol, PortMappingProtocol::NatPmp);
        ExpectAnswer(answers[1], c.natPmpAnswer, c.name + ", NAT-PMP");
        EXPECT_EQ(answers[2].protocol, PortMappingProtocol::Pcp);
        ExpectAnswer(answers[2], c.pcpAnswer, c.name + ", PCP");
        EXPECT_TRUE(clientPorts.empty()) << c.name;
        const std::vector<ProbeRecord> records = probe.TakeProbes();
        ASSERT_EQ(records.size(), 2u) << c.name;
        for (const ProbeRecord& record : records) {
            EXPECT_EQ(record.target, gateway + ":5351") << c.name;
            EXPECT_EQ(record.rttMs.has_value(),
                      record.outcome == ProbeOutcome::Ok ||
                          (c.responder && record.outcome == ProbeOutcome::Refused))
                << c.name;
        }
        if (!responder) {
            continue;
        }
        // What the router was asked: the public address, and ANNOUNCE naming our address.
        for (const Bytes& request : responder->Requests()) {
            if (request[0] == 0) {
                EXPECT_EQ(request, (Bytes{0, 0})) << c.name;
                continue;
            }
            ASSERT_EQ(request.size(), kPcpHeaderBytes) << c.name;
            EXPECT_EQ(Bytes(request.begin(), request.begin() + 4), (Bytes{2, 0, 0, 0}));
            EXPECT_EQ(Bytes(request.begin() + 16, request.begin() + 21),
                      (Bytes{0, 0, 0xFF, 0xFF, 127}))
                << c.name;
        }
    }
}

TEST(PortMappingProbeTest, CancelEndsARunAndTheRunsAfterIt) {
    const std::string gateway = "127.0.53.40";
    GatewayResponder silent(gateway, [](const Bytes&) { return std::vector<Bytes>{}; });
    if (!silent.Bound()) {
        GTEST_SKIP() << "cannot bind " << gateway << ":5351";
    }
    PortMappingProbe probe(GatewayOnly(20s));
    std::thread stopper([&probe] {
        std::this_thread::sleep_for(100ms);
        probe.Cancel();
    });
    std::vector<ClientPortMapping> clientPorts;
    for (int run = 0; run < 2; ++run) {
        const std::vector<PortMappingAnswer> answers = probe.Run(gateway, {}, clientPorts);
        ASSERT_EQ(answers.size(), 3u);
        EXPECT_EQ(answers[1].detail, "stopped") << run;
        EXPECT_EQ(answers[2].detail, "stopped") << run;
    }
    stopper.join();
}

// A UPnP gateway device on loopback: its description, and SOAP answers from a script of
// action (and request body) to answer.
class SoapGateway {
public:
    struct Answer {
        int upnpError = 0;      // non-zero: a SOAP fault with this UPnP error code
        std::string arguments;  // the response's out arguments, as XML elements
    };
    using Script = std::function<Answer(const std::string& action, const std::string& body)>;

    explicit SoapGateway(Script script, bool igd = true) : m_script(std::move(script)), m_igd(igd) {
        m_listener = testing::LoopbackListener(8, m_port);
        m_thread = std::thread([this] { Serve(); });
    }
    ~SoapGateway() {
        m_stop = true;
        m_thread.join();
    }
    UpnpFindOptions Find() const {
        return {"http://127.0.0.1:" + std::to_string(m_port) + "/rootDesc.xml", {}};
    }
    // The actions asked, in order, and the body of each.
    std::vector<std::pair<std::string, std::string>> Calls() {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }

private:
    static constexpr char kService[] = "urn:schemas-upnp-org:service:WANIPConnection:1";

    std::string Description() const {
        const std::string service =
            m_igd ? std::string("<service><serviceType>") + kService +
                        "</serviceType><serviceId>urn:upnp-org:serviceId:WANIPConn1</serviceId>"
                        "<controlURL>/ctl</controlURL><eventSubURL>/evt</eventSubURL>"
                        "<SCPDURL>/ip.xml</SCPDURL></service>"
                  : "";
        return "<?xml version=\"1.0\"?><root xmlns=\"urn:schemas-upnp-org:device-1-0\">"
               "<specVersion><major>1</major><minor>0</minor></specVersion><device>"
               "<deviceType>urn:schemas-upnp-org:device:InternetGatewayDevice:1</deviceType>"
               "<deviceList><device><deviceType>urn:schemas-upnp-org:device:WANDevice:1"
               "</deviceType><deviceList><device><deviceType>"
               "urn:schemas-upnp-org:device:WANConnectionDevice:1</deviceType><serviceList>" +
               service +
               "</serviceList></device></deviceList></device></deviceList></device></root>";
    }

    std::string Respond(const std::string& head, const std::string& body) {
        if (head.starts_with("GET ")) {
            return testing::HttpAnswer("200 OK", Description());
        }
        const std::size_t hash = head.find('#');
        const std::size_t end = head.find('"', hash);
        const std::string action =
            hash == std::string::npos ? "" : head.substr(hash + 1, end - hash - 1);
        {
            std::lock_guard lock(m_mutex);
            m_calls.emplace_back(action, body);
        }
        const Answer answer = m_script(action, body);
        const std::string envelope =
            "<?xml version=\"1.0\"?><s:Envelope "
            "xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body>";
        if (answer.upnpError != 0) {
            return testing::HttpAnswer(
                "500 Internal Server Error",
                envelope +
                    "<s:Fault><faultcode>s:Client</faultcode><faultstring>UPnPError"
                    "</faultstring><detail><UPnPError xmlns=\"urn:schemas-upnp-org:control-1-0\">"
                    "<errorCode>" +
                    std::to_string(answer.upnpError) +
                    "</errorCode><errorDescription>x</errorDescription></UPnPError></detail>"
                    "</s:Fault></s:Body></s:Envelope>");
        }
        return testing::HttpAnswer(
            "200 OK", envelope + "<u:" + action + "Response xmlns:u=\"" + kService + "\">" +
                          answer.arguments + "</u:" + action + "Response></s:Body></s:Envelope>");
    }

    void Serve() {
        while (!m_stop) {
            pollfd waiting{m_listener.get(), POLLIN, 0};
            if (::poll(&waiting, 1, 20) <= 0) {
                continue;
            }
            platform::UniqueFd client(::accept4(m_listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
            std::string request;
            char buffer[4096];
            std::size_t headEnd = std::string::npos;
            std::size_t length = 0;
            while (headEnd == std::string::npos || request.size() < headEnd + 4 + length) {
                pollfd readable{client.get(), POLLIN, 0};
                if (::poll(&readable, 1, 2000) <= 0) {
                    break;
                }
                const ssize_t got = ::recv(client.get(), buffer, sizeof buffer, 0);
                if (got <= 0) {
                    break;
                }
                request.append(buffer, std::size_t(got));
                if (headEnd == std::string::npos &&
                    (headEnd = request.find("\r\n\r\n")) != std::string::npos) {
                    const std::size_t at = request.find("Content-Length: ");
                    if (at != std::string::npos && at < headEnd) {
                        length = std::stoul(request.substr(at + 16));
                    }
                }
            }
            if (headEnd == std::string::npos) {
                continue;
            }
            const std::string reply =
                Respond(request.substr(0, headEnd), request.substr(headEnd + 4));
            ::send(client.get(), reply.data(), reply.size(), MSG_NOSIGNAL);
        }
    }

    Script m_script;
    bool m_igd;
    std::uint16_t m_port = 0;
    platform::UniqueFd m_listener;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::vector<std::pair<std::string, std::string>> m_calls;
    std::thread m_thread;
};

std::string Element(const std::string& name, const std::string& value) {
    return "<" + name + ">" + value + "</" + name + ">";
}

// The value of an element of a SOAP request body.
std::string Argument(const std::string& body, const std::string& name) {
    const std::size_t start = body.find("<" + name + ">");
    if (start == std::string::npos) {
        return {};
    }
    const std::size_t from = start + name.size() + 2;
    return body.substr(from, body.find('<', from) - from);
}

SoapGateway::Answer Entry(const std::string& client, const std::string& port) {
    return {0, Element("NewInternalPort", port) + Element("NewInternalClient", client) +
                   Element("NewEnabled", "1") + Element("NewPortMappingDescription", "d") +
                   Element("NewLeaseDuration", "0")};
}

TEST(PortMappingProbeTest, UpnpGatewayAndTheClientsPorts) {
    const struct {
        std::string name;
        bool igd;
        std::string status;
        std::string external;
        Expected upnp;
        std::vector<std::pair<bool, std::string>> ports;  // 4000, 4001, 4002
    } cases[] = {
        {"connected",
         true,
         "Connected",
         "198.51.100.9",
         {true, true, "198.51.100.9", "connected"},
         {{true, "mapped to 127.0.0.1:4000"},
          {false, "UPnP error 714"},
          {false, "mapped elsewhere: 192.168.1.77:4002"}}},
        {"disconnected, a garbled address",
         true,
         "Disconnected",
         "999.1.2.3",
         {true, false, "", "not connected"},
         {{true, "mapped to 127.0.0.1:4000"},
          {false, "UPnP error 714"},
          {false, "mapped elsewhere: 192.168.1.77:4002"}}},
        {"not a gateway device", false, "", "", {true, false, "", "no gateway device"}, {}},
    };
    for (const auto& c : cases) {
        SoapGateway gateway(
            [&c](const std::string& action, const std::string& body) -> SoapGateway::Answer {
                if (action == "GetStatusInfo") {
                    return {0, Element("NewConnectionStatus", c.status) +
                                   Element("NewLastConnectionError", "ERROR_NONE") +
                                   Element("NewUptime", "5")};
                }
                if (action == "GetExternalIPAddress") {
                    return {0, Element("NewExternalIPAddress", c.external)};
                }
                const std::string port = Argument(body, "NewExternalPort");
                if (action != "GetSpecificPortMappingEntry" || port == "4001") {
                    return {714, ""};
                }
                return Entry(port == "4000" ? "127.0.0.1" : "192.168.1.77", port);
            },
            c.igd);
        PortMappingOptions options;
        options.upnp = gateway.Find();
        PortMappingProbe probe(options);
        std::vector<ClientPortMapping> clientPorts;
        const auto answers = probe.Run("", {4000, 4001, 4002}, clientPorts);
        ASSERT_EQ(answers.size(), 3u);
        ExpectAnswer(answers[0], c.upnp, c.name);
        EXPECT_EQ(answers[1].detail, "no gateway") << c.name;
        ASSERT_EQ(clientPorts.size(), c.ports.size()) << c.name;
        for (std::size_t i = 0; i < clientPorts.size(); ++i) {
            EXPECT_EQ(clientPorts[i].port, 4000 + i) << c.name;
            EXPECT_EQ(clientPorts[i].mapped, c.ports[i].first) << c.name << " " << i;
            EXPECT_EQ(clientPorts[i].detail, c.ports[i].second) << c.name << " " << i;
        }
        for (const auto& [action, body] : gateway.Calls()) {
            EXPECT_TRUE(action.starts_with("Get")) << c.name << ": read-only, yet " << action;
        }
    }
    PortMappingOptions dead;
    dead.upnp.descriptionUrl = testing::DeadLoopbackUrl("/rootDesc.xml");
    PortMappingProbe probe(dead);
    std::vector<ClientPortMapping> clientPorts;
    ExpectAnswer(probe.Run("", {4000}, clientPorts)[0], {false, false, "", "no answer"}, "dead");
    EXPECT_TRUE(clientPorts.empty());
}

TEST(PortMappingProbeTest, TrialMappingAddsReadsBackAndDeletes) {
    constexpr std::uint16_t kPort = 50123;
    const struct {
        std::string name;
        int addError;
        std::string keptFor;  // the client GetSpecificPortMappingEntry reports
        int deleteError;
        bool allowed;
        std::string error;
        std::string deleteErrorText;
        std::vector<std::string> actions;  // after GetExternalIPAddress
    } cases[] = {
        {"allowed",
         0,
         "127.0.0.1",
         0,
         true,
         "",
         "",
         {"AddPortMapping", "GetSpecificPortMappingEntry", "DeletePortMapping"}},
        {"refused",
         606,
         "",
         0,
         false,
         "adding the mapping failed: UPnP error 606",
         "",
         {"AddPortMapping"}},
        {"kept for another computer",
         0,
         "10.0.0.9",
         0,
         false,
         "the router keeps the mapping for 10.0.0.9:50123 instead",
         "",
         {"AddPortMapping", "GetSpecificPortMappingEntry", "DeletePortMapping"}},
        {"delete fails",
         0,
         "127.0.0.1",
         714,
         true,
         "",
         "UPnP error 714",
         {"AddPortMapping", "GetSpecificPortMappingEntry", "DeletePortMapping"}},
    };
    for (const auto& c : cases) {
        SoapGateway gateway([&c](const std::string& action, const std::string&) {
            if (action == "GetExternalIPAddress") {
                return SoapGateway::Answer{0, Element("NewExternalIPAddress", "198.51.100.9")};
            }
            if (action == "AddPortMapping") {
                return SoapGateway::Answer{c.addError, ""};
            }
            if (action == "DeletePortMapping") {
                return SoapGateway::Answer{c.deleteError, ""};
            }
            return Entry(c.keptFor, std::to_string(kPort));
        });
        const PortMappingTrial trial = TryUpnpPortMapping("", kPort, gateway.Find());
        EXPECT_TRUE(trial.igdFound) << c.name;
        EXPECT_EQ(trial.allowed, c.allowed) << c.name;
        EXPECT_EQ(trial.error, c.error) << c.name;
        EXPECT_EQ(trial.deleteError, c.deleteErrorText) << c.name;
        EXPECT_EQ(trial.externalAddress, "198.51.100.9") << c.name;
        const auto calls = gateway.Calls();
        ASSERT_EQ(calls.size(), c.actions.size() + 1) << c.name;
        for (std::size_t i = 0; i < c.actions.size(); ++i) {
            EXPECT_EQ(calls[i + 1].first, c.actions[i]) << c.name;
        }
        const std::string& add = calls[1].second;
        EXPECT_EQ(Argument(add, "NewExternalPort"), "50123") << c.name;
        EXPECT_EQ(Argument(add, "NewInternalPort"), "50123") << c.name;
        EXPECT_EQ(Argument(add, "NewProtocol"), "UDP") << c.name;
        EXPECT_EQ(Argument(add, "NewInternalClient"), "127.0.0.1") << c.name;
        EXPECT_EQ(Argument(add, "NewLeaseDuration"), "60") << c.name;
    }
    const PortMappingTrial none =
        TryUpnpPortMapping("", kPort, {testing::DeadLoopbackUrl("/rootDesc.xml"), {}});
    EXPECT_FALSE(none.igdFound);
    EXPECT_EQ(none.error, "no UPnP gateway device answered");
}

TEST(PortMappingProbeTest, TheDeviceAtTheGatewayIsKept) {
    const std::vector<std::string> urls = {"http://192.168.1.5:5000/desc.xml",
                                           "http://192.168.1.1:1900/rootDesc.xml"};
    EXPECT_EQ(PickGatewayDevice(urls, "192.168.1.1"), 1u);
    EXPECT_EQ(PickGatewayDevice(urls, "10.0.0.1"), 0u);
    EXPECT_EQ(PickGatewayDevice(urls, ""), 0u);
    EXPECT_EQ(PickGatewayDevice({"garbage", "http://10.0.0.1/d"}, "10.0.0.1"), 1u);
}

}  // namespace
}  // namespace lumidex
