// The channel list: its download and the servers it names.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/DiagLog.h"
#include "engine/Diagnosis.h"
#include "engine/Endpoints.h"
#include "engine/ProbeTasks.h"
#include "net/HttpGetClient.h"
#include "platform/TextCodec.h"
#include "service/ServiceHostLists.h"
#include "service/ServiceHostProbe.h"
#include "service/ServiceLimits.h"
#include "service/ServiceUrl.h"
#include "service/XmlDocument.h"

namespace lumidex {
namespace {

constexpr char kFetchStart[] = "---开始向服务器请求频道列表文件----";
constexpr char kFetchDone[] = "获得频道列表文件数据";
constexpr char kFetchFailed[] = "请求频道列表文件时发生错误";
constexpr char kParseStart[] = "---开始解析频道列表文件---";
constexpr char kListEmpty[] = "频道列表文件数据为空";
constexpr char kChannelServerCount[] = "请求得到%d个频道服务器";
constexpr char kTrackerCount[] = "请求得到%d个Tracker服务器";

constexpr int kHttpOk = 200;

void LogCount(const char* format, std::size_t count) {
    char line[64];
    std::snprintf(line, sizeof line, format, static_cast<int>(count));
    Log(line);
}

// The text of a "URL" element: exactly one child, and that one a text node.
const XmlNode* UrlText(const XmlElement& url) {
    if (url.value != "URL" || url.ChildCount() != 1 ||
        url.children.front()->Kind() != XmlNodeKind::Text) {
        return nullptr;
    }
    return url.children.front().get();
}

// The download's two probes (its first byte and the whole exchange) and, when it failed, the
// problem: no connection or no answer, an answer that is no HTTP, or a status other than 200.
// A host name that did not resolve was never connected to: its look-up is the one probe, and
// the problem is the resolver's, as on the host rows.
void DiagnoseFetch(const std::string& url, const std::string& host,
                   const ChannelListResponse& response) {
    if (response.status == 0 && response.lookupFailed) {
        RecordProbe({ProbeKind::Dns, host, ProbeOutcome::Error, std::nullopt, "lookup"});
        NoteProblem(MakeProblem(ProblemCode::DnsNotResolving, {host}));
        return;
    }
    const bool answered = response.status != 0 || response.firstByteMs.has_value();
    ProbeRecord firstByte{ProbeKind::Http, url, ProbeOutcome::Ok, response.firstByteMs,
                          "first_byte"};
    ProbeRecord total{ProbeKind::Http, url, ProbeOutcome::Ok,
                      answered ? response.totalMs : std::nullopt, "total"};
    std::optional<Problem> problem;
    if (response.status == kHttpOk) {
        // Ok as far as HTTP goes; whether the body is a channel list the parse says.
    } else if (response.status != 0) {
        total.outcome = ProbeOutcome::Error;
        problem =
            MakeProblem(ProblemCode::ChannelListHttpError, {url}, std::to_string(response.status));
    } else if (response.connect != platform::ConnectResult::Connected) {
        firstByte.outcome = total.outcome = ConnectOutcome(response.connect);
        problem = MakeProblem(ProblemCode::ChannelListUnreachable, {url},
                              platform::DescribeConnectResult(response.connect));
    } else if (!answered) {
        firstByte.outcome = total.outcome = ProbeOutcome::Timeout;
        problem = MakeProblem(ProblemCode::ChannelListUnreachable, {url}, "no answer");
    } else {
        total.outcome = ProbeOutcome::Malformed;
        problem = MakeProblem(ProblemCode::ChannelListMalformed, {url},
                              response.readError != ReadError::None
                                  ? DescribeReadError(response.readError)
                                  : "no HTTP status line");
    }
    RecordProbe(std::move(firstByte));
    RecordProbe(std::move(total));
    if (problem) {
        NoteProblem(std::move(*problem));
    }
}

}  // namespace

ChannelListGet HttpChannelListGet(ProbeTasks* cancel) {
    return [cancel](const std::string& url, const std::string& extraHeaders) {
        HttpGetClient client;
        ChannelListResponse response;
        // Cancel, not Close: a cancel that lands before the client opens its socket must
        // still keep it from connecting.
        const ProbeTasks::CancelHook hook(cancel, [&client] { client.Cancel(); });
        if (hook.Cancelled()) {
            response.connect = platform::ConnectResult::Aborted;
            return response;
        }
        const auto started = std::chrono::steady_clock::now();
        response.status = client.Get(url, extraHeaders);
        response.totalMs = MillisecondsSince(started);
        response.connect = client.LastConnectResult();
        response.lookupFailed = client.LastLookupFailed();
        response.firstByteMs = client.FirstByteMs();
        response.readError = client.LastError();
        if (client.Body() != nullptr) {
            response.body = client.TakeBody();
        }
        client.Close();
        if (hook.Cancelled()) {
            // Cut by the run's end: whatever head came, the list did not, and the text kept
            // from before must stay.
            response.status = 0;
            response.body.reset();
            response.connect = platform::ConnectResult::Aborted;
        }
        return response;
    };
}

std::string ChannelListRequestHeaders(std::string_view host) {
    std::string headers =
        "Accept: */*\r\nAccept-Encoding: gzip, deflate\r\nUser-Agent: Mozilla/4.0 (compatible; "
        "MSIE 6.0; Windows NT 5.0; MyIE2; Alexa Toolbar)\r\nHost: ";
    headers += host;
    headers += "\r\nConnection: Keep-Alive\r\n";
    return headers;
}

bool ServiceHostLists::FetchChannelList(std::string_view url, const ChannelListGet& get) {
    if (!url.starts_with("http") && !url.starts_with("HTTP")) {
        return false;
    }
    Log(kFetchStart);
    ServiceUrl split;
    split.Split(url);
    if (split.scheme.size() != 4) {
        return false;
    }
    // The body is taken as it comes: gzip and deflate are admitted but servers send it plain.
    ChannelListResponse response = get(std::string(url), ChannelListRequestHeaders(split.host));
    DiagnoseFetch(std::string(url), split.host, response);
    if (response.status != kHttpOk) {
        Log(kFetchFailed);
        return false;
    }
    // Taken over rather than copied: a list may run to tens of MiB.
    std::string body = response.body ? std::move(*response.body) : std::string();
    body.resize(std::min(body.size(), body.find('\0')));
    m_channelListText = std::move(body);
    m_channelListUrl = url;
    Log(kFetchDone);
    return true;
}

void ServiceHostLists::NoteMalformed(std::string reason) const {
    std::vector<std::string> targets;
    if (!m_channelListUrl.empty()) {
        targets.push_back(m_channelListUrl);
    }
    NoteProblem(
        MakeProblem(ProblemCode::ChannelListMalformed, std::move(targets), std::move(reason)));
}

void ServiceHostLists::ParseChannelList() {
    Log(kParseStart);
    m_lastListNamedServers = false;
    if (m_channelListText.empty()) {
        Log(kListEmpty);
        return;
    }
    // The servers are taken from each "URL" as it is read and the nodes dropped, so the
    // document never holds more than the element being read however long the list is; they
    // count only once the whole text has proved a channel list.
    std::vector<ServerRecord> channelServers;
    std::vector<ServerRecord> trackers;
    const XmlNodeDone keep = [&](const XmlNode& node,
                                 std::span<const XmlElement* const> enclosing) {
        if (enclosing.size() == 3) {
            // A child of a "URL": which kind the first is and whether there is a second is all
            // that is asked of them.
            return enclosing[2]->ChildCount() <= 2;
        }
        const XmlElement* url = AsElement(node);
        if (enclosing.size() != 2 || url == nullptr || enclosing[0]->value != "Channels" ||
            enclosing[1]->value != "Channel") {
            return false;
        }
        if (const XmlNode* text = UrlText(*url)) {
            ServiceUrl split;
            split.Split(text->value);
            if (!split.addresses.empty()) {
                const ServerRecord& server = split.addresses.front();
                channelServers.push_back(
                    {server.address,
                     server.port != 0 ? server.port : endpoints::kDefaultChannelServerPort});
                for (std::size_t i = 1; i < split.addresses.size(); ++i) {
                    trackers.push_back({split.addresses[i].address, endpoints::kTrackerPort});
                }
            }
        }
        return false;
    };
    XmlDocument document;
    if (!document.Parse(m_channelListText, false, keep)) {
        NoteMalformed(std::string(XmlErrorText(document.Error())) + " at byte " +
                      std::to_string(document.ErrorOffset()));
        return;
    }
    if (document.Root() == nullptr || document.Root()->value != "Channels") {
        // The list's own bytes: the product's lists are GBK where they are not UTF-8.
        NoteMalformed(document.Root() == nullptr
                          ? "no root element"
                          : "root element " + platform::Utf8OrGbkToUtf8(document.Root()->value));
        return;
    }
    m_lastListNamedServers = !channelServers.empty() || !trackers.empty();
    KeepServers(m_channelServers, channelServers);
    KeepServers(m_trackers, trackers);
    LogCount(kChannelServerCount, m_channelServers.Size());
    LogCount(kTrackerCount, m_trackers.Size());
}

void KeepServers(ServerList& kept, const std::vector<ServerRecord>& named) {
    // The first kMaxKeptServers distinct servers named, and how many of them are new.
    ServerList fresh;
    std::size_t considered = 0;
    std::size_t added = 0;
    for (; considered < named.size() && fresh.Size() < kMaxKeptServers; ++considered) {
        const ServerRecord& server = named[considered];
        if (fresh.InsertIfAbsent(server.address, server.port) && !kept.Find(server.address)) {
            ++added;
        }
    }
    if (kept.Size() + added <= kMaxKeptServers) {
        for (std::size_t i = 0; i < considered; ++i) {
            kept.InsertIfAbsent(named[i].address, named[i].port);
        }
        return;
    }
    // Those kept from earlier lists go first; a server named again keeps its first port.
    ServerList next;
    for (const ServerRecord& server : fresh.Entries()) {
        next.InsertIfAbsent(server.address, kept.Find(server.address).value_or(server.port));
    }
    kept = std::move(next);
}

}  // namespace lumidex
