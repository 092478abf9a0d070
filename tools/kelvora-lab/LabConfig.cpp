#include "tools/kelvora-lab/LabConfig.h"

#include <arpa/inet.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <utility>

namespace lumidex::lab {
namespace {

using Json = nlohmann::json;

template <typename Mode>
struct NamedMode {
    const char* name;
    Mode mode;
};

constexpr NamedMode<ChannelListMode> kChannelListModes[] = {
    {"content-length", ChannelListMode::ContentLength},
    {"chunked", ChannelListMode::Chunked},
    {"until-close", ChannelListMode::UntilClose},
    {"held", ChannelListMode::Held},
    {"404", ChannelListMode::NotFound},
    {"garbage", ChannelListMode::Garbage},
    {"never-answer", ChannelListMode::NeverAnswer},
    {"malformed", ChannelListMode::Malformed},
    {"drip", ChannelListMode::Drip},
    {"drip-head", ChannelListMode::DripHead},
    {"endless-header", ChannelListMode::EndlessHeader},
    {"chunk-extension-bomb", ChannelListMode::ChunkExtensionBomb},
    {"chunk-zeros", ChannelListMode::ChunkZeros},
    {"length-and-chunked", ChannelListMode::LengthAndChunked},
    {"huge", ChannelListMode::Huge},
    {"million", ChannelListMode::Million},
    {"fresh", ChannelListMode::Fresh}};
constexpr NamedMode<DownloadMode> kDownloadModes[] = {
    {"ok", DownloadMode::Ok}, {"404", DownloadMode::NotFound}, {"drip", DownloadMode::Drip}};
constexpr NamedMode<ReportMode> kReportModes[] = {{"ok", ReportMode::Ok},
                                                  {"302", ReportMode::Found},
                                                  {"404", ReportMode::NotFound},
                                                  {"never-close", ReportMode::NeverClose},
                                                  {"hold-then-close", ReportMode::HoldThenClose},
                                                  {"drip", ReportMode::Drip}};
constexpr NamedMode<TcpMode> kTcpModes[] = {{"accept", TcpMode::Accept},
                                            {"refuse", TcpMode::Refuse},
                                            {"drop", TcpMode::Drop},
                                            {"portal", TcpMode::Portal},
                                            {"portal-gbk", TcpMode::PortalGbk},
                                            {"redirect-www", TcpMode::RedirectWww}};
constexpr NamedMode<UdpMode> kUdpModes[] = {{"ok", UdpMode::Ok},
                                            {"silent", UdpMode::Silent},
                                            {"malformed", UdpMode::Malformed},
                                            {"wrong-type", UdpMode::WrongType},
                                            {"other-address", UdpMode::OtherAddress},
                                            {"late", UdpMode::Late},
                                            {"flood", UdpMode::Flood}};

// Collects the first error with the path where it happened.
class Reader {
public:
    bool Failed() const { return !m_error.empty(); }
    const std::string& Error() const { return m_error; }

    void Fail(const std::string& path, const std::string& what) {
        if (m_error.empty()) {
            m_error = path + ": " + what;
        }
    }

    std::string String(const Json& object, const char* key, const std::string& path,
                       bool required = true) {
        const auto it = object.find(key);
        if (it == object.end()) {
            if (required) {
                Fail(path + "." + key, "missing");
            }
            return {};
        }
        if (!it->is_string()) {
            Fail(path + "." + key, "not a string");
            return {};
        }
        return it->get_ref<const std::string&>();
    }

    std::string Address(const Json& object, const char* key, const std::string& path) {
        std::string text = String(object, key, path);
        in_addr parsed{};
        if (!Failed() && inet_pton(AF_INET, text.c_str(), &parsed) != 1) {
            Fail(path + "." + key, "not a dotted IPv4 address");
        }
        return text;
    }

    std::int64_t Integer(const Json& object, const char* key, const std::string& path,
                         std::int64_t fallback, std::int64_t min, std::int64_t max) {
        const auto it = object.find(key);
        if (it == object.end()) {
            return fallback;
        }
        if (!it->is_number_integer()) {
            Fail(path + "." + key, "not an integer");
            return fallback;
        }
        const auto value = it->get<std::int64_t>();
        if (value < min || value > max) {
            Fail(path + "." + key, "out of range");
            return fallback;
        }
        return value;
    }

    std::uint16_t Port(const Json& object, const char* key, const std::string& path,
                       std::uint16_t fallback) {
        return static_cast<std::uint16_t>(Integer(object, key, path, fallback, 0, 65535));
    }

    template <typename Mode, std::size_t N>
    Mode Choice(const Json& object, const std::string& path, const NamedMode<Mode> (&names)[N],
                Mode fallback) {
        const auto it = object.find("mode");
        if (it == object.end()) {
            return fallback;
        }
        if (it->is_string()) {
            for (const auto& entry : names) {
                if (it->get_ref<const std::string&>() == entry.name) {
                    return entry.mode;
                }
            }
        }
        Fail(path + ".mode", "unknown mode");
        return fallback;
    }

private:
    std::string m_error;
};

bool ReadUdpServers(Reader& reader, const Json& root, const char* key,
                    std::uint16_t defaultListenPort, std::vector<UdpServer>& out) {
    const auto it = root.find(key);
    if (it == root.end()) {
        return true;
    }
    if (!it->is_array()) {
        reader.Fail(key, "not an array");
        return false;
    }
    for (std::size_t i = 0; i < it->size(); ++i) {
        const Json& item = (*it)[i];
        const std::string path = std::string(key) + "[" + std::to_string(i) + "]";
        if (!item.is_object()) {
            reader.Fail(path, "not an object");
            return false;
        }
        UdpServer server;
        server.address = reader.Address(item, "address", path);
        server.recordPort = reader.Port(item, "port", path, 0);
        const std::uint16_t listenDefault =
            server.recordPort != 0 ? server.recordPort : defaultListenPort;
        server.listenPort = reader.Port(item, "listenPort", path, listenDefault);
        server.mode = reader.Choice(item, path, kUdpModes, UdpMode::Ok);
        out.push_back(std::move(server));
    }
    return !reader.Failed();
}

// A service's address, port (its type's default when left out) and mode.
template <class ServiceType, class Mode, std::size_t N>
ServiceType ReadService(Reader& reader, const Json& object, const std::string& path,
                        const NamedMode<Mode> (&modes)[N]) {
    ServiceType service;
    service.address = reader.Address(object, "address", path);
    service.port = reader.Port(object, "port", path, service.port);
    service.mode = reader.Choice(object, path, modes, service.mode);
    return service;
}

bool IsCleanWord(const std::string& text, bool allowDigitsAndDots) {
    if (text.empty()) {
        return false;
    }
    return std::all_of(text.begin(), text.end(), [&](char c) {
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-';
        const bool extra = (c >= '0' && c <= '9') || c == '.';
        return letter || (allowDigitsAndDots && extra);
    });
}

}  // namespace

const char* ModeName(UdpMode mode) {
    for (const auto& entry : kUdpModes) {
        if (entry.mode == mode) {
            return entry.name;
        }
    }
    return "?";
}

bool ParseLabConfig(std::string_view json, LabConfig& out, std::string& error) {
    const Json root = Json::parse(json, nullptr, /*allow_exceptions=*/false);
    if (root.is_discarded() || !root.is_object()) {
        error = "configuration is not a JSON object";
        return false;
    }
    Reader reader;
    LabConfig config;
    config.logPath = reader.String(root, "log", "$");
    config.readyPath = reader.String(root, "ready", "$", false);
    config.otherAddress = reader.String(root, "otherAddress", "$", false);
    config.lateMs = static_cast<int>(reader.Integer(root, "lateMs", "$", 2500, 0, 60000));

    if (const auto it = root.find("channelList"); it != root.end() && it->is_object()) {
        config.channelList =
            ReadService<ChannelListService>(reader, *it, "channelList", kChannelListModes);
    }
    if (const auto it = root.find("download"); it != root.end() && it->is_object()) {
        config.download = ReadService<DownloadService>(reader, *it, "download", kDownloadModes);
    }
    if (const auto it = root.find("report"); it != root.end() && it->is_object()) {
        ReportService service = ReadService<ReportService>(reader, *it, "report", kReportModes);
        service.dir = reader.String(*it, "dir", "report");
        config.report = service;
    }
    if (const auto it = root.find("tcp"); it != root.end()) {
        if (!it->is_array()) {
            reader.Fail("tcp", "not an array");
        }
        for (std::size_t i = 0; it->is_array() && i < it->size(); ++i) {
            const std::string path = "tcp[" + std::to_string(i) + "]";
            config.tcp.push_back(ReadService<TcpService>(reader, (*it)[i], path, kTcpModes));
        }
    }
    ReadUdpServers(reader, root, "channelServers", 7201, config.channelServers);
    ReadUdpServers(reader, root, "trackers", 8000, config.trackers);
    if (!config.otherAddress.empty()) {
        in_addr parsed{};
        if (inet_pton(AF_INET, config.otherAddress.c_str(), &parsed) != 1) {
            reader.Fail("$.otherAddress", "not a dotted IPv4 address");
        }
    }
    if (reader.Failed()) {
        error = reader.Error();
        return false;
    }
    out = std::move(config);
    return true;
}

bool ParseEndpointList(std::string_view json, std::vector<EndpointLine>& out, std::string& error) {
    const Json root = Json::parse(json, nullptr, /*allow_exceptions=*/false);
    if (root.is_discarded() || !root.is_object()) {
        error = "endpoint list is not a JSON object";
        return false;
    }
    const auto list = root.find("endpoints");
    if (list == root.end() || !list->is_array()) {
        error = "no \"endpoints\" array";
        return false;
    }
    Reader reader;
    std::vector<EndpointLine> lines;
    for (std::size_t i = 0; i < list->size(); ++i) {
        const Json& item = (*list)[i];
        const std::string path = "endpoints[" + std::to_string(i) + "]";
        if (!item.is_object()) {
            reader.Fail(path, "not an object");
            break;
        }
        EndpointLine line;
        line.role = reader.String(item, "role", path);
        line.host = reader.String(item, "host", path);
        line.port = reader.Port(item, "port", path, 0);
        line.protocol = reader.String(item, "protocol", path);
        // These words end up on command lines and in configuration files of the lab: only
        // plain host names and words pass.
        if (!reader.Failed() && (!IsCleanWord(line.role, false) || !IsCleanWord(line.host, true) ||
                                 !IsCleanWord(line.protocol, false))) {
            reader.Fail(path, "role, host or protocol holds unexpected characters");
        }
        if (reader.Failed()) {
            break;
        }
        lines.push_back(std::move(line));
    }
    if (reader.Failed()) {
        error = reader.Error();
        return false;
    }
    out = std::move(lines);
    return true;
}

}  // namespace lumidex::lab
