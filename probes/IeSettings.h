// The Internet Explorer settings that break a streaming client without touching its servers:
// offline mode and a configured but dead proxy. Read from the user's registry (the Wine
// prefix's HKEY_CURRENT_USER); every missing key or value reads as the harmless answer.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace lumidex {

inline constexpr char kInternetSettingsKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

// Tries a TCP connection to the proxy text as the user entered it ("host", "host:port").
using ProxyConnector = std::function<bool(const std::string& proxyText)>;

// The real connector: HttpGetClient::Connect with the whole text and port 0. Records the
// connect's probe, the text as its target.
bool ConnectToProxy(const std::string& proxyText);

// True when "GlobalUserOffline" reads nonzero.
bool IsIEOffline();

// proxySet = 1 when "ProxyEnable" reads nonzero, else 0 (proxyReachable then 0 too). With a
// proxy set and a non-empty "ProxyServer", proxyReachable = 1 when connect succeeds, else 0;
// with an empty text it is left as the caller set it. A per-protocol text
// ("http=a:80;ftp=b:21") goes to connect unchanged, and so does not connect. Returns the
// proxy text read: empty when no proxy is set or its text is empty.
std::string CheckIEProxy(std::int32_t& proxySet, std::int32_t& proxyReachable,
                         const ProxyConnector& connect = ConnectToProxy);

}  // namespace lumidex
