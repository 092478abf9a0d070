#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ServiceTestSupport.h"
#include "UdpResponder.h"
#include "engine/Endpoints.h"
#include "engine/ProbeTasks.h"
#include "service/ServiceAhead.h"
#include "service/ServiceHostLists.h"
#include "service/ServiceLimits.h"
#include "support/DiagnosisText.h"
#include "support/LoopbackServer.h"

namespace lumidex {
namespace {

using testing::Contents;
using testing::DiagnosisCapture;
using testing::Label;
using testing::ServiceLogCapture;

const std::string kStart = "---开始向服务器请求频道列表文件----";
const std::string kDone = "获得频道列表文件数据";
const std::string kError = "请求频道列表文件时发生错误";
const std::string kParse = "---开始解析频道列表文件---";

struct FakeGet {
    ChannelListResponse response;
    std::vector<std::string> calls;  // url + "|" + headers
    ChannelListGet Function() {
        return [this](const std::string& url, const std::string& headers) {
            calls.push_back(url + "|" + headers);
            return response;
        };
    }
};

TEST(FetchChannelList, AsksOnceAndKeepsTheOldTextUnlessTheAnswerIs200) {
    const struct {
        const char* name;
        std::string url;
        int status;
        const char* body;  // null: no body
        std::size_t bodySize;
        bool result;
        std::string text;  // the channel-list text afterwards, "old" before
        std::vector<std::string> log;
        bool asked;
    } cases[] = {
        {"200 replaces the text up to a NUL",
         endpoints::kChannelListUrl,
         200,
         "<Channels/>\0rest",
         16,
         true,
         "<Channels/>",
         {kStart, kDone},
         true},
        {"200 without a body empties it",
         "HTTP://h/channels.htm.xml",
         200,
         nullptr,
         0,
         true,
         "",
         {kStart, kDone},
         true},
        {"404 logs the error",
         endpoints::kChannelListUrl,
         404,
         "not here",
         8,
         false,
         "old",
         {kStart, kError},
         true},
        {"no connection",
         endpoints::kChannelListUrl,
         0,
         nullptr,
         0,
         false,
         "old",
         {kStart, kError},
         true},
        {"Http refused silently",
         "Http://h/channels.htm.xml",
         200,
         "x",
         1,
         false,
         "old",
         {},
         false},
        {"empty url refused silently", "", 200, "x", 1, false, "old", {}, false},
        {"scheme not of four bytes",
         "https://h/channels.htm.xml",
         200,
         "x",
         1,
         false,
         "old",
         {kStart},
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ServiceLogCapture log;
        ServiceHostLists lists;
        lists.SetChannelListText("old");
        ChannelListResponse response;
        response.status = c.status;
        if (c.body != nullptr) {
            response.body = std::string(c.body, c.bodySize);
        }
        FakeGet get{response, {}};
        EXPECT_EQ(lists.FetchChannelList(c.url, get.Function()), c.result);
        EXPECT_EQ(lists.ChannelListText(), c.text);
        EXPECT_EQ(log.Lines(), c.log);
        EXPECT_EQ(get.calls.size(), c.asked ? 1u : 0u);
    }
}

TEST(FetchChannelList, SendsTheFiveHeaderFieldsInOrder) {
    ServiceLogCapture log;
    ServiceHostLists lists;
    ChannelListResponse response;
    response.status = 200;
    response.body = "x";
    FakeGet get{response, {}};
    lists.FetchChannelList(endpoints::kChannelListUrl, get.Function());
    ASSERT_EQ(get.calls.size(), 1u);
    EXPECT_EQ(get.calls[0],
              std::string(endpoints::kChannelListUrl) +
                  "|Accept: */*\r\n"
                  "Accept-Encoding: gzip, deflate\r\n"
                  "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0; MyIE2; Alexa "
                  "Toolbar)\r\n"
                  "Host: channel.kelvora.com\r\n"
                  "Connection: Keep-Alive\r\n");
}

// The download's probes (first byte, whole exchange) and, when it failed, the problem that
// says how; a host name that did not resolve is its look-up alone.
TEST(FetchChannelList, DiagnosesHowTheExchangeWent) {
    using Connect = platform::ConnectResult;
    const struct {
        int status;
        Connect connect;
        bool firstByte;
        ReadError readError;
        std::string problem;  // "code (detail)", the URL its target; "" for none
        std::string outcomes;
        bool lookupFailed = false;
    } cases[] = {
        {200, Connect::Connected, true, ReadError::None, "", "ok ok"},
        {404, Connect::Connected, true, ReadError::None, "http_error (404)", "ok error"},
        {0, Connect::Refused, false, ReadError::None, "unreachable (connection refused)",
         "refused refused"},
        {0, Connect::TimedOut, false, ReadError::None, "unreachable (connect timed out)",
         "timeout timeout"},
        {0, Connect::Connected, false, ReadError::None, "unreachable (no answer)",
         "timeout timeout"},
        {0, Connect::Connected, true, ReadError::None, "malformed (no HTTP status line)",
         "ok malformed"},
        {0, Connect::Connected, true, ReadError::HeaderTooLong,
         "malformed (" + std::string(DescribeReadError(ReadError::HeaderTooLong)) + ")",
         "ok malformed"},
        {0, Connect::Unreachable, false, ReadError::None, "", "dns lookup error", true},
    };
    const std::string url = endpoints::kChannelListUrl;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.problem);
        ServiceLogCapture log;
        const DiagnosisCapture diagnosis;
        ServiceHostLists lists;
        ChannelListResponse response;
        response.status = c.status;
        response.connect = c.connect;
        response.firstByteMs = c.firstByte ? std::optional(30.0) : std::nullopt;
        response.totalMs = 40.0;
        response.readError = c.readError;
        response.lookupFailed = c.lookupFailed;
        FakeGet get{response, {}};
        lists.FetchChannelList(url, get.Function());
        const RowDiagnosis row = diagnosis.Row();
        if (c.lookupFailed) {
            EXPECT_EQ(diagnosis.Probes(), std::vector<std::string>{c.outcomes});
            EXPECT_EQ(row.probes.at(0).target, "channel.kelvora.com");
            EXPECT_EQ(diagnosis.Problems(),
                      std::vector<std::string>{"error dns_not_resolving channel.kelvora.com"});
            continue;
        }
        ASSERT_EQ(row.probes.size(), 2u);
        EXPECT_EQ(std::string(ProbeOutcomeName(row.probes[0].outcome)) + " " +
                      std::string(ProbeOutcomeName(row.probes[1].outcome)),
                  c.outcomes);
        EXPECT_EQ(row.probes[0].rttMs.has_value(), c.firstByte);
        EXPECT_EQ(row.probes[1].rttMs.has_value(), c.firstByte || c.status != 0);
        const std::size_t space = c.problem.find(' ');
        EXPECT_EQ(diagnosis.Problems(),
                  c.problem.empty() ? std::vector<std::string>{}
                                    : std::vector<std::string>{"error channel_list_" +
                                                               c.problem.substr(0, space) + " " +
                                                               url + c.problem.substr(space)});
    }
}

std::string Channel(const std::vector<std::string>& urls) {
    std::string xml = "<Channel id='1'>";
    for (const auto& url : urls) {
        xml += "<URL>" + url + "</URL>";
    }
    return xml + "</Channel>";
}

std::string KlvUrl(const std::vector<std::string>& servers) {
    return "klv://" + Label(servers) + ".klv/live";
}

TEST(ParseChannelList, AddsServersAndTrackersAndLogsTheListSizes) {
    ServiceLogCapture log;
    ServiceHostLists lists;
    lists.SetChannelListText(
        "<?xml version=\"1.0\"?>\r\n<Channels>\r\n" +
        Channel({KlvUrl({"1.2.3.4:0", "10.0.0.1:1", "10.0.0.2:2"}), KlvUrl({"5.6.7.8:9000"}),
                 "http://www.example.com/x.html"}) +
        Channel({KlvUrl({"1.2.3.4:7000", "10.0.0.1:3"})}) +
        // Passed over: a URL with a comment besides its text, an empty one, one holding an
        // element, a URL outside a Channel, a Channel of another name.
        "<Channel><URL>" + KlvUrl({"9.9.9.9:1"}) + "<!--c--></URL><URL/><URL><b/></URL></Channel>" +
        "<URL>" + KlvUrl({"9.9.9.8:1"}) + "</URL>" + "<Channelx>" +
        Channel({KlvUrl({"9.9.9.7:1"})}) + "</Channelx>" + "\r\n</Channels>");
    lists.ParseChannelList();
    EXPECT_EQ(Contents(lists.ChannelServers()), "1.2.3.4:7201 5.6.7.8:9000");
    EXPECT_EQ(Contents(lists.Trackers()), "10.0.0.1:8000 10.0.0.2:8000");
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{kParse, "请求得到2个频道服务器",
                                                     "请求得到2个Tracker服务器"}));

    // The next run keeps what was learnt: the counts are those of the grown lists.
    lists.SetChannelListText("<Channels>" + Channel({KlvUrl({"7.7.7.7:1", "10.0.0.3:0"})}) +
                             "</Channels>");
    lists.ParseChannelList();
    EXPECT_EQ(Contents(lists.ChannelServers()), "1.2.3.4:7201 7.7.7.7:1 5.6.7.8:9000");
    EXPECT_EQ(log.Lines().back(), "请求得到3个Tracker服务器");
    EXPECT_EQ(log.Lines().at(4), "请求得到3个频道服务器");
    EXPECT_TRUE(lists.LastListNamedServers());

    // A text naming none (a login page's place, or an empty body) says so, whatever the
    // lists still keep.
    for (const std::string text : {"<Channels></Channels>", "<html>login</html>", ""}) {
        lists.SetChannelListText("<Channels>" + Channel({KlvUrl({"7.7.7.7:1"})}) + "</Channels>");
        lists.ParseChannelList();
        lists.SetChannelListText(text);
        lists.ParseChannelList();
        EXPECT_FALSE(lists.LastListNamedServers()) << text;
        EXPECT_EQ(lists.ChannelServers().Size(), 3u);
    }
}

TEST(ParseChannelList, TextsThatAreNoChannelListAddNothing) {
    const struct {
        const char* name;
        std::string text;
        std::vector<std::string> log;
        std::string problem;  // the parser's reason; "" for no problem
    } cases[] = {
        {"empty", "", {kParse, "频道列表文件数据为空"}, ""},
        {"malformed",
         "<Channels><Channel><URL>" + KlvUrl({"1.1.1.1:1"}) + "</Channel>",
         {kParse},
         "end tag does not match the start tag at byte 49"},
        {"other root",
         "<Channel>" + Channel({KlvUrl({"1.1.1.1:1"})}) + "</Channel>",
         {kParse},
         "root element Channel"},
        {"other root, named in GBK",
         "<\xC6\xB5\xB5\xC0>" + Channel({KlvUrl({"1.1.1.1:1"})}) + "</\xC6\xB5\xB5\xC0>",
         {kParse},
         "root element \xE9\xA2\x91\xE9\x81\x93"},
        {"other root, named in no encoding",
         "<a\xFF></a\xFF>",
         {kParse},
         "root element a\xEF\xBF\xBD"},
        {"no root", "<!-- nothing -->", {kParse}, "no root element"},
        {"garbage",
         "HTTP/1.1 200 OK\r\n\r\n\x1f\x8b",
         {kParse},
         "text outside the root element at byte 0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ServiceLogCapture log;
        const DiagnosisCapture diagnosis;
        ServiceHostLists lists;
        lists.ChannelServers().InsertIfAbsent({{4, 3, 2, 1}}, 1);
        lists.SetChannelListText(c.text);
        lists.ParseChannelList();
        EXPECT_EQ(Contents(lists.ChannelServers()), "4.3.2.1:1");
        EXPECT_EQ(lists.Trackers().Size(), 0u);
        EXPECT_EQ(log.Lines(), c.log);
        EXPECT_EQ(diagnosis.Problems(),
                  c.problem.empty() ? std::vector<std::string>{}
                                    : std::vector<std::string>{"error channel_list_malformed (" +
                                                               c.problem + ")"});
    }
}

// The kept lists grow from run to run, but only to kMaxKeptServers: servers that do not fit
// beside the kept ones push out those of earlier lists, never those of the list just read.
TEST(ParseChannelList, KeptListsStayBoundedPreferringTheListJustRead) {
    const auto record = [](std::uint32_t n, std::uint16_t port) {
        return ServerRecord{Ipv4Address::FromLittleEndianValue(n + 1), port};
    };
    const auto named = [&](std::uint32_t first, std::size_t count, std::uint16_t port) {
        std::vector<ServerRecord> out;
        for (std::size_t i = 0; i < count; ++i) {
            out.push_back(record(first + static_cast<std::uint32_t>(i), port));
        }
        return out;
    };
    ServerList kept;
    KeepServers(kept, named(0, 10, 1));
    KeepServers(kept, named(5, kMaxKeptServers - 5, 2));  // 5 again, the rest fit exactly
    EXPECT_EQ(kept.Size(), kMaxKeptServers);
    EXPECT_EQ(kept.Find(record(0, 0).address), 1);
    EXPECT_EQ(kept.Find(record(5, 0).address), 1);  // the first port stays
    // One more new server: only what the list just read named stays, old ports kept.
    KeepServers(kept, named(kMaxKeptServers - 1, 2, 3));
    EXPECT_EQ(kept.Size(), 2u);
    EXPECT_EQ(kept.Find(record(kMaxKeptServers - 1, 0).address), 2);
    EXPECT_EQ(kept.Find(record(kMaxKeptServers, 0).address), 3);
    // A list naming more than fits: its first kMaxKeptServers servers.
    KeepServers(kept, named(100000, kMaxKeptServers + 7, 4));
    EXPECT_EQ(kept.Size(), kMaxKeptServers);
    EXPECT_TRUE(kept.Find(record(100000, 0).address));
    EXPECT_FALSE(kept.Find(record(100000 + kMaxKeptServers, 0).address));
}

std::vector<std::string> Split(const char* text) {
    std::vector<std::string> out;
    std::string piece;
    for (const char* p = text;; ++p) {
        if (*p == ',' || *p == '\0') {
            out.push_back(piece);
            piece.clear();
            if (*p == '\0') {
                return out;
            }
            continue;
        }
        piece += *p;
    }
}

TEST(ServiceHostLists, BuiltInGroupsAndAppending) {
    ServiceHostLists lists;
    EXPECT_EQ(lists.Hosts(HostGroup::Website), Split(endpoints::kWebsiteHosts));
    EXPECT_EQ(lists.Hosts(HostGroup::List), Split(endpoints::kListHosts));
    EXPECT_EQ(lists.Hosts(HostGroup::Information), Split(endpoints::kInformationHosts));
    EXPECT_EQ(lists.Hosts(HostGroup::Website).size(), 3u);
    EXPECT_EQ(lists.Hosts(HostGroup::List).size(), 5u);
    EXPECT_EQ(lists.Hosts(HostGroup::Information).size(), 5u);

    lists.AppendHosts("a,,b", HostGroup::Website);
    lists.AppendHosts(",c,", HostGroup::Website);
    lists.AppendHosts("", HostGroup::Website);
    const auto& website = lists.Hosts(HostGroup::Website);
    EXPECT_EQ(std::vector<std::string>(website.begin() + 3, website.end()),
              (std::vector<std::string>{"a", "", "b", "", "c"}));
    EXPECT_EQ(lists.LockDepth(), 0);
    {
        ServiceHostLists::HostsLock lock(lists);
        EXPECT_EQ(lists.LockDepth(), 1);
    }
    EXPECT_EQ(lists.LockDepth(), 0);
    EXPECT_TRUE(lists.ChannelListText().empty());
    EXPECT_FALSE(lists.ProbeSocket().IsOpen());
}

// The request as it goes over the wire through the real client, byte for byte.
TEST(ChannelListFetch, SendsTheFiveFieldsInOrderOverTheWire) {
    const std::string list = "<Channels></Channels>";
    lumidex::testing::ScriptedServer server(
        "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(list.size()) + "\r\n\r\n" + list);
    ServiceHostLists lists;
    const DiagnosisCapture diagnosis;
    EXPECT_TRUE(lists.FetchChannelList(server.Url("/channels.htm.xml"), HttpChannelListGet()));
    server.Stop();
    EXPECT_EQ(diagnosis.Probes(),
              (std::vector<std::string>{"http first_byte ok rtt", "http total ok rtt"}));
    EXPECT_EQ(diagnosis.Row().probes.at(0).target, server.Url("/channels.htm.xml"));
    EXPECT_EQ(server.Request(),
              "GET /channels.htm.xml HTTP/1.1\r\nAccept: */*\r\nAccept-Encoding: gzip, deflate\r\n"
              "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0; MyIE2; Alexa "
              "Toolbar)\r\nHost: 127.0.0.1\r\nConnection: Keep-Alive\r\n\r\n");
    EXPECT_EQ(server.Connections(), 1) << "one request, no repetition";
    EXPECT_EQ(lists.ChannelListText(), list);
}

// A run abandoned before the download started ahead sends nothing.
TEST(ChannelListFetch, ACancelledRunSendsNoRequest) {
    lumidex::testing::ScriptedServer server("HTTP/1.1 200 OK\r\n\r\n");
    ProbeTasks tasks;
    tasks.Cancel();
    const ChannelListResponse response =
        HttpChannelListGet(&tasks)(server.Url("/channels.htm.xml"), "");
    server.Stop();
    EXPECT_EQ(response.status, 0);
    EXPECT_EQ(server.Connections(), 0);
}

// A stop pressed while the walk waits for the list downloaded ahead abandons the download: a
// host that drips does not hold the stopped run until the list's own bounds.
TEST(ChannelListFetch, AStopCutsTheWaitForTheListStartedAhead) {
    lumidex::testing::ScriptedServer server("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n",
                                            lumidex::testing::ScriptedServer::Ending::Hold, 0,
                                            std::string(100, 'x'), 1000);
    ServiceHostLists lists;
    const auto pass = [](const std::string&) { return true; };
    const std::string url = server.Url("/channels.htm.xml");
    ServiceAhead ahead(
        lists, ChannelListGet{}, HostTests{pass, pass},
        AheadPlan{url,
                  {HostTestMode::TcpConnection, HostTestMode::TcpConnection, HostTestMode::Ping},
                  {kChannelServerSample, kTrackerSample}});
    const auto start = std::chrono::steady_clock::now();
    const auto pressed = [&] {
        return std::chrono::steady_clock::now() - start > std::chrono::milliseconds(300);
    };
    EXPECT_TRUE(ahead.TakeFetch(url, pressed).has_value());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

// The same stop, 300 ms into the wait for a list host that sends a whole list and then holds
// the connection (the list is read until a close that never comes). Everything started ahead is
// abandoned: the download cut after its "200" head counts as failed and leaves the text kept
// from the last run, and no server is probed after the press, not even those the kept text names.
TEST(ChannelListFetch, AStopInTheListWaitKeepsTheListTextAndSendsNoDatagram) {
    testing::UdpResponder server(31, [](int) { return std::vector<testing::ScriptedReply>{}; });
    const std::string named = "127.0.0.31:" + std::to_string(server.Record().port);
    const std::string kept = "<Channels>" + Channel({KlvUrl({named})}) + "</Channels>";
    lumidex::testing::ScriptedServer host(
        "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\n\r\n<Channels>" +
            Channel({KlvUrl({named}), KlvUrl({named})}) + "</Channels>",
        lumidex::testing::ScriptedServer::Ending::Hold);
    ServiceHostLists lists;
    lists.SetChannelListText(kept);
    const auto pass = [](const std::string&) { return true; };
    const std::string url = host.Url("/channels.htm.xml");
    const auto start = std::chrono::steady_clock::now();
    const auto pressed = [&] {
        return std::chrono::steady_clock::now() - start > std::chrono::milliseconds(300);
    };
    {
        ServiceAhead ahead(lists, ChannelListGet{}, HostTests{pass, pass},
                           AheadPlan{url,
                                     {HostTestMode::TcpConnection, HostTestMode::TcpConnection,
                                      HostTestMode::Ping},
                                     {kChannelServerSample, kTrackerSample}},
                           std::chrono::milliseconds(200), pressed);
        EXPECT_EQ(ahead.TakeFetch(url), std::optional<bool>(false)) << "a cut list is no list";
        EXPECT_TRUE(ahead.TakeParse());
        EXPECT_EQ(lists.ChannelListText(), kept);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    host.Stop();
    EXPECT_TRUE(host.PeerClosed()) << "the held download was closed";
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(server.Received().empty()) << "a server was probed after the stop";
}

}  // namespace
}  // namespace lumidex
