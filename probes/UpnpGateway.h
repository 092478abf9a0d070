// The router's UPnP Internet gateway device, as one object: found by SSDP (or, for tests and
// the test mapping, at a known description URL), then asked through its WAN connection
// service. Owns what the UPnP library allocated for it.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace lumidex {

// How long SSDP discovery waits for answers. The library cannot wait less: its search names a
// wait in whole seconds (MX) and it raises anything shorter to one.
inline constexpr std::chrono::milliseconds kUpnpDiscoveryWait{1000};

struct UpnpFindOptions {
    // Non-empty: take the device at this description URL and send no SSDP search at all.
    std::string descriptionUrl;
    std::chrono::milliseconds discoveryWait = kUpnpDiscoveryWait;
};

enum class UpnpFound {
    NoAnswer,  // nothing answered the search (or the URL gave no description)
    NotIgd,    // a UPnP device answered, but none is an Internet gateway device
    Igd,       // an Internet gateway device; whether it is connected is its status
};

// The device to keep when several answer: the first whose description URL's host is the
// default gateway, else the first. descriptionUrls is not empty.
std::size_t PickGatewayDevice(const std::vector<std::string>& descriptionUrls,
                              const std::string& gateway);

// "UPnP error 501", or what a library failure means ("no HTTP answer", ...).
std::string DescribeUpnpResult(int code);

// An IPv4 address in dotted form as a router wrote it; empty when it is not one, so that a
// router's bytes reach no record or output raw.
std::string CheckedDottedAddress(const char* text);

class UpnpGateway {
public:
    UpnpGateway();
    ~UpnpGateway();
    UpnpGateway(const UpnpGateway&) = delete;
    UpnpGateway& operator=(const UpnpGateway&) = delete;

    // Blocks for the discovery wait, or for one description fetch with a URL. gateway:
    // dotted, the default gateway (may be empty).
    UpnpFound Find(const std::string& gateway, const UpnpFindOptions& options);
    // This computer's address as the device's connection chose it; empty before Find.
    const std::string& LanAddress() const { return m_lanAddress; }

    // Each returns the UPnP result (0: success), and fills its output only on success.
    int Status(std::string& status);            // "Connected", "Disconnected", ...
    int ExternalAddress(std::string& address);  // dotted; empty when it gave none or garbage
    struct UdpEntry {
        std::string client;  // dotted
        std::uint16_t port = 0;
    };
    int SpecificUdpEntry(std::uint16_t externalPort, UdpEntry& entry);
    int AddUdp(std::uint16_t externalPort, std::uint16_t internalPort, const std::string& client,
               int leaseSeconds, const std::string& description);
    int DeleteUdp(std::uint16_t externalPort);

private:
    struct Library;
    std::unique_ptr<Library> m_library;
    std::string m_lanAddress;
};

}  // namespace lumidex
