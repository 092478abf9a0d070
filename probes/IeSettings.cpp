#include "probes/IeSettings.h"

#include <chrono>
#include <cstring>

#include "engine/Diagnosis.h"
#include "net/HttpGetClient.h"
#include "platform/RegistryReader.h"
#include "probes/InternetProbe.h"

namespace lumidex {
namespace {

RegistryReader InternetSettings() {
    return RegistryReader(platform::RootKey::CurrentUser, kInternetSettingsKey);
}

// The first four data bytes, whatever kind the stored value is; 0 when it is missing.
std::uint32_t ReadNumber(const RegistryReader& reader, const char* name) {
    RegistryValue value;
    std::memset(value.data, 0, 4);
    value.kind = RegistryValue::kNumber;
    reader.Read("", name, value);
    std::uint32_t number = 0;
    std::memcpy(&number, value.data, sizeof number);
    return number;
}

// The value's bytes up to its first zero; empty when it is missing.
std::string ReadText(const RegistryReader& reader, const char* name) {
    RegistryValue value;
    value.data[0] = '\0';
    reader.Read("", name, value);
    return std::string(value.data, ::strnlen(value.data, sizeof value.data));
}

}  // namespace

bool ConnectToProxy(const std::string& proxyText) {
    HttpGetClient client;
    const auto start = std::chrono::steady_clock::now();
    const bool connected = client.Connect(proxyText, 0);
    RecordProbe(ConnectRecord(proxyText, client.LastConnectResult(), MillisecondsSince(start),
                              client.LastLookupFailed()));
    return connected;
}

bool IsIEOffline() {
    return ReadNumber(InternetSettings(), "GlobalUserOffline") != 0;
}

std::string CheckIEProxy(std::int32_t& proxySet, std::int32_t& proxyReachable,
                         const ProxyConnector& connect) {
    const RegistryReader reader = InternetSettings();
    if (ReadNumber(reader, "ProxyEnable") == 0) {
        proxySet = 0;
        proxyReachable = 0;
        return {};
    }
    proxySet = 1;
    std::string proxy = ReadText(reader, "ProxyServer");
    if (proxy.empty()) {
        return {};
    }
    proxyReachable = connect(proxy) ? 1 : 0;
    return proxy;
}

}  // namespace lumidex
