// What the simulator plays, read from the JSON file the lab script writes. Unknown keys are
// ignored (the same file carries the lab's own notes for the tests); a missing or mistyped
// known key is an error with its path.
//
// {"log": PATH, "ready": PATH, "otherAddress": A, "lateMs": N,
//  "channelList": {"address": A, "port": P, "mode": M},   M: content-length | chunked |
//                                                          until-close | held | 404 | garbage |
//                                                          never-answer | malformed | drip |
//                                                          drip-head | endless-header |
//                                                          chunk-extension-bomb | chunk-zeros |
//                                                          length-and-chunked | huge | million |
//                                                          fresh
//  "download": {"address": A, "port": P, "mode": "ok" | "404" | "drip"},
//  "report": {"address": A, "port": P, "dir": PATH, "mode": "ok" | "302" | "404" | "never-close" |
//             "hold-then-close" | "drip"},
//  "tcp": [{"address": A, "port": P, "mode": "accept" | "refuse" | "drop" | "portal" |
//           "portal-gbk" | "redirect-www"}, ...],
//  "channelServers": [{"address": A, "port": RECORD_PORT, "listenPort": P, "mode": U}, ...],
//  "trackers": [same], }                U: ok | silent | malformed | wrong-type |
//                                          other-address | late | flood
// Port 0 on a listener means any free port (tests); "listenPort" defaults to the record port,
// or 7201 for a channel server whose record port is 0 and 8000 for a tracker.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumidex::lab {

enum class ChannelListMode {
    ContentLength,
    Chunked,
    UntilClose,
    Held,  // the whole list without a length, then the connection held open
    NotFound,
    Garbage,
    NeverAnswer,
    Malformed,
    Drip,  // a valid head, then one body byte every few seconds
    // The hostile network (HostileAnswers.h says what each sends).
    DripHead,
    EndlessHeader,
    ChunkExtensionBomb,
    ChunkZeros,
    LengthAndChunked,
    Huge,
    Million,
    Fresh,
};
// Drip: the head at once, then the body one byte every few seconds.
enum class DownloadMode { Ok, NotFound, Drip };
// HoldThenClose: the answer at once, the connection closed only some seconds later. Drip: the
// answer one byte every few seconds.
enum class ReportMode { Ok, Found, NotFound, NeverClose, HoldThenClose, Drip };
// Refuse and drop open no listener: refusal is the kernel's reset on a closed port, and a
// silent drop is the lab's route into a black hole. Portal answers every request with a 302
// to the portal's login host; PortalGbk is a portal of the GBK world: its login page, in GBK,
// for a site's home page and a 302 with raw GBK bytes in its Location for anything else;
// RedirectWww answers with a 301 to the site's other name (the bare one for "www." names, the
// "www." one for bare names), as large sites do.
enum class TcpMode { Accept, Refuse, Drop, Portal, PortalGbk, RedirectWww };
// Flood: a burst of valid replies from many other addresses, then the server's own.
enum class UdpMode { Ok, Silent, Malformed, WrongType, OtherAddress, Late, Flood };

// A simulated TCP service: where it listens and how it behaves (the first mode by default).
template <class Mode, std::uint16_t DefaultPort>
struct Service {
    std::string address;
    std::uint16_t port = DefaultPort;
    Mode mode{};
};

using ChannelListService = Service<ChannelListMode, 80>;
using DownloadService = Service<DownloadMode, 80>;
using TcpService = Service<TcpMode, 80>;
struct ReportService : Service<ReportMode, 8080> {
    std::string dir;  // where every request received is stored
};

struct UdpServer {
    std::string address;
    std::uint16_t recordPort = 0;  // what the channel list publishes
    std::uint16_t listenPort = 0;  // where the responder listens
    UdpMode mode = UdpMode::Ok;
};

struct LabConfig {
    std::string logPath;
    std::string readyPath;     // written once every socket is bound
    std::string otherAddress;  // source of "other-address" replies
    int lateMs = 2500;
    std::optional<ChannelListService> channelList;
    std::optional<DownloadService> download;
    std::optional<ReportService> report;
    std::vector<TcpService> tcp;
    std::vector<UdpServer> channelServers;
    std::vector<UdpServer> trackers;
};

bool ParseLabConfig(std::string_view json, LabConfig& out, std::string& error);

struct EndpointLine {
    std::string role;
    std::string host;
    std::uint16_t port = 0;
    std::string protocol;
};

// Reads the program's own endpoint list ({"endpoints":[{"role","host","port","protocol"}]}).
bool ParseEndpointList(std::string_view json, std::vector<EndpointLine>& out, std::string& error);

const char* ModeName(UdpMode mode);

}  // namespace lumidex::lab
