#include "probes/UpnpGateway.h"

#include <arpa/inet.h>
#include <miniupnpc/miniupnpc.h>
#include <miniupnpc/upnpcommands.h>

#include <charconv>
#include <cstring>

#include "net/UrlSplitter.h"

namespace lumidex {

struct UpnpGateway::Library {
    UPNPUrls urls{};
    IGDdatas data{};
    bool held = false;

    ~Library() {
        if (held) {
            FreeUPNPUrls(&urls);
        }
    }
    // Commands go nowhere before an IGD was found: the library would follow null URLs.
    bool Ready() const { return held && urls.controlURL != nullptr; }
    const char* Control() const { return urls.controlURL; }
    const char* Service() const { return data.first.servicetype; }
};

namespace {

struct DeviceList {
    UPNPDev* head = nullptr;
    ~DeviceList() { freeUPNPDevlist(head); }
};

// The SSDP search for the gateway device type alone: no minissdpd socket, any source port,
// IPv4, the usual TTL of 2. The library's general search asks for four types one after the
// other, each with the full wait, so a LAN without a device would cost four times as long. A
// device of a later version answers the search for version 1 as well.
UPNPDev* Discover(std::chrono::milliseconds wait) {
    int error = 0;
    return upnpDiscoverDevice("urn:schemas-upnp-org:device:InternetGatewayDevice:1",
                              static_cast<int>(wait.count()), nullptr, nullptr, UPNP_LOCAL_PORT_ANY,
                              0, 2, &error);
}

// What UPNP_GetValidIGD found. Whether the IGD is connected is asked of it afterwards, the
// same way for a discovered device and for one at a given URL.
UpnpFound FoundFromValidIgd(int result) {
#if MINIUPNPC_API_VERSION >= 18
    // 1 connected, 2 connected with a reserved WAN address, 3 not connected, 4 not an IGD.
    constexpr int kNotIgd = 4;
#else
    // 1 connected, 2 not connected, 3 not an IGD.
    constexpr int kNotIgd = 3;
#endif
    if (result <= 0) {
        return UpnpFound::NoAnswer;
    }
    return result >= kNotIgd ? UpnpFound::NotIgd : UpnpFound::Igd;
}

std::string PortText(std::uint16_t port) {
    return std::to_string(port);
}

}  // namespace

std::size_t PickGatewayDevice(const std::vector<std::string>& descriptionUrls,
                              const std::string& gateway) {
    for (std::size_t i = 0; i < descriptionUrls.size(); ++i) {
        SplitUrl split;
        if (!gateway.empty() && SplitUrlText(descriptionUrls[i], split) &&
            split.server == gateway) {
            return i;
        }
    }
    return 0;
}

std::string DescribeUpnpResult(int code) {
    switch (code) {
        case UPNPCOMMAND_SUCCESS:
            return "ok";
        case UPNPCOMMAND_INVALID_ARGS:
            return "invalid arguments";
        case UPNPCOMMAND_HTTP_ERROR:
            return "no HTTP answer";
        case UPNPCOMMAND_INVALID_RESPONSE:
            return "invalid answer";
        case UPNPCOMMAND_MEM_ALLOC_ERROR:
            return "out of memory";
        case UPNPCOMMAND_UNKNOWN_ERROR:
            return "unknown error";
        default:
            return "UPnP error " + std::to_string(code);
    }
}

std::string CheckedDottedAddress(const char* text) {
    in_addr parsed{};
    if (text == nullptr || ::inet_pton(AF_INET, text, &parsed) != 1) {
        return {};
    }
    char dotted[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &parsed, dotted, sizeof dotted);
    return dotted;
}

UpnpGateway::UpnpGateway() : m_library(std::make_unique<Library>()) {}
UpnpGateway::~UpnpGateway() = default;

UpnpFound UpnpGateway::Find(const std::string& gateway, const UpnpFindOptions& options) {
    char lan[INET6_ADDRSTRLEN] = {};
    Library& library = *m_library;
    if (!options.descriptionUrl.empty()) {
        if (UPNP_GetIGDFromUrl(options.descriptionUrl.c_str(), &library.urls, &library.data, lan,
                               sizeof lan) != 1) {
            return UpnpFound::NoAnswer;
        }
        library.held = true;
        m_lanAddress = CheckedDottedAddress(lan);
        return library.Service()[0] == '\0' ? UpnpFound::NotIgd : UpnpFound::Igd;
    }
    DeviceList devices{Discover(options.discoveryWait)};
    if (devices.head == nullptr) {
        return UpnpFound::NoAnswer;
    }
    std::vector<UPNPDev*> all;
    std::vector<std::string> urls;
    for (UPNPDev* device = devices.head; device != nullptr; device = device->pNext) {
        all.push_back(device);
        urls.emplace_back(device->descURL != nullptr ? device->descURL : "");
    }
    // Only the chosen device is offered, so that another IGD on the LAN (a repeater, a second
    // router behind this one) is not taken for the gateway; its list link is put back after.
    UPNPDev* chosen = all[PickGatewayDevice(urls, gateway)];
    UPNPDev* const next = chosen->pNext;
    chosen->pNext = nullptr;
#if MINIUPNPC_API_VERSION >= 18
    char wan[INET6_ADDRSTRLEN] = {};
    const int result =
        UPNP_GetValidIGD(chosen, &library.urls, &library.data, lan, sizeof lan, wan, sizeof wan);
#else
    const int result = UPNP_GetValidIGD(chosen, &library.urls, &library.data, lan, sizeof lan);
#endif
    chosen->pNext = next;
    library.held = result != 0;
    m_lanAddress = CheckedDottedAddress(lan);
    // A device answered the search even when its description could not be read.
    const UpnpFound found = FoundFromValidIgd(result);
    return found == UpnpFound::NoAnswer ? UpnpFound::NotIgd : found;
}

int UpnpGateway::Status(std::string& status) {
    if (!m_library->Ready()) {
        return UPNPCOMMAND_INVALID_ARGS;
    }
    // The library copies at most 64 bytes into each of these.
    char text[64] = {};
    char lastError[64] = {};
    unsigned int uptime = 0;
    const int result =
        UPNP_GetStatusInfo(m_library->Control(), m_library->Service(), text, &uptime, lastError);
    if (result == UPNPCOMMAND_SUCCESS) {
        text[sizeof text - 1] = '\0';
        status = text;
    }
    return result;
}

int UpnpGateway::ExternalAddress(std::string& address) {
    if (!m_library->Ready()) {
        return UPNPCOMMAND_INVALID_ARGS;
    }
    // At least 16 bytes, the library says; room for an IPv6 text costs nothing.
    char text[INET6_ADDRSTRLEN + 1] = {};
    const int result = UPNP_GetExternalIPAddress(m_library->Control(), m_library->Service(), text);
    if (result == UPNPCOMMAND_SUCCESS) {
        text[sizeof text - 1] = '\0';
        address = CheckedDottedAddress(text);
    }
    return result;
}

int UpnpGateway::SpecificUdpEntry(std::uint16_t externalPort, UdpEntry& entry) {
    if (!m_library->Ready()) {
        return UPNPCOMMAND_INVALID_ARGS;
    }
    // The library's sizes for these outputs: 16, 6, 80, 4 and 16 bytes.
    char client[16] = {};
    char port[6] = {};
    char description[80] = {};
    char enabled[4] = {};
    char lease[16] = {};
    const int result = UPNP_GetSpecificPortMappingEntry(
        m_library->Control(), m_library->Service(), PortText(externalPort).c_str(), "UDP", nullptr,
        client, port, description, enabled, lease);
    if (result != UPNPCOMMAND_SUCCESS) {
        return result;
    }
    client[sizeof client - 1] = '\0';
    port[sizeof port - 1] = '\0';
    entry.client = CheckedDottedAddress(client);
    std::uint16_t value = 0;
    const char* end = port + std::strlen(port);
    const auto parsed = std::from_chars(port, end, value);
    entry.port = parsed.ec == std::errc() && parsed.ptr == end ? value : 0;
    return result;
}

int UpnpGateway::AddUdp(std::uint16_t externalPort, std::uint16_t internalPort,
                        const std::string& client, int leaseSeconds,
                        const std::string& description) {
    if (!m_library->Ready()) {
        return UPNPCOMMAND_INVALID_ARGS;
    }
    return UPNP_AddPortMapping(m_library->Control(), m_library->Service(),
                               PortText(externalPort).c_str(), PortText(internalPort).c_str(),
                               client.c_str(), description.c_str(), "UDP", nullptr,
                               std::to_string(leaseSeconds).c_str());
}

int UpnpGateway::DeleteUdp(std::uint16_t externalPort) {
    if (!m_library->Ready()) {
        return UPNPCOMMAND_INVALID_ARGS;
    }
    return UPNP_DeletePortMapping(m_library->Control(), m_library->Service(),
                                  PortText(externalPort).c_str(), "UDP", nullptr);
}

}  // namespace lumidex
