// The simulator's pieces without sockets: labels, the served channel list, the request parser,
// the probe datagrams, the configuration and the HTTP answers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LabClient.h"
#include "LabelDecoder.h"
#include "tools/kelvora-lab/ChannelListXml.h"
#include "tools/kelvora-lab/HostileAnswers.h"
#include "tools/kelvora-lab/HttpRequestParser.h"
#include "tools/kelvora-lab/HttpResponses.h"
#include "tools/kelvora-lab/KlvLabel.h"
#include "tools/kelvora-lab/LabConfig.h"
#include "tools/kelvora-lab/LabLimits.h"
#include "tools/kelvora-lab/ProbeAnswers.h"

namespace lumidex::lab {
namespace {

ServerRecord Record(const std::string& dotted, std::uint16_t port) {
    ServerRecord record;
    EXPECT_TRUE(ParseRecordAddress(dotted, port, record)) << dotted;
    return record;
}

std::vector<std::uint8_t> Bytes(std::string_view text) {
    return {text.begin(), text.end()};
}

TEST(KlvLabel, EncodesRecordsAsUnpaddedBase32) {
    EXPECT_EQ(Base32Encode(Bytes("f")), "MY");
    EXPECT_EQ(Base32Encode(Bytes("fo")), "MZXQ");
    EXPECT_EQ(Base32Encode(Bytes("foobar")), "MZXW6YTBOI");
    EXPECT_EQ(Base32Encode({}), "");

    // Address in wire order, port least significant byte first: 01 02 03 04 21 1C.
    const std::vector<ServerRecord> one = {Record("1.2.3.4", 7201)};
    EXPECT_EQ(EncodeLabel(one), "AEBAGBBBDQ");
    const std::vector<ServerRecord> two = {Record("1.2.3.4", 7201), Record("10.0.0.1", 0)};
    EXPECT_EQ(EncodeLabel(two), "AEBAGBBBDQFAAAABAAAA");

    ServerRecord ignored;
    EXPECT_FALSE(ParseRecordAddress("1.2.3", 0, ignored));
    EXPECT_FALSE(ParseRecordAddress("1.2.3.256", 0, ignored));
    EXPECT_FALSE(ParseRecordAddress("channel.example", 0, ignored));
}

TEST(KlvLabel, RoundTripsThroughAnIndependentDecoder) {
    std::vector<ServerRecord> records;
    for (int i = 0; i < 20; ++i) {
        records.push_back(
            Record("198.51.100." + std::to_string(100 + i), static_cast<std::uint16_t>(i * 4099)));
    }
    const auto decoded = labtest::DecodeLabel(EncodeLabel(records));
    ASSERT_EQ(decoded.size(), records.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(decoded[i].address, "198.51.100." + std::to_string(100 + i));
        EXPECT_EQ(decoded[i].port, records[i].port);
    }
}

TEST(ChannelListXml, NamesEveryServerFirstAndEveryTrackerOnce) {
    std::vector<ServerRecord> servers, trackers;
    for (int i = 0; i < 3; ++i) {
        servers.push_back(Record("198.51.100." + std::to_string(100 + i), i == 0 ? 0 : 7301));
    }
    for (int i = 0; i < 7; ++i) {
        trackers.push_back(Record("198.51.100." + std::to_string(150 + i), 8000));
    }
    const std::string xml = BuildChannelListXml(servers, trackers);
    EXPECT_EQ(xml.find("<Channels>") != std::string::npos, true);

    const auto labels = labtest::LabelsIn(xml);
    ASSERT_EQ(labels.size(), 3u);
    std::vector<std::string> seenTrackers;
    for (std::size_t i = 0; i < labels.size(); ++i) {
        const auto records = labtest::DecodeLabel(labels[i]);
        ASSERT_FALSE(records.empty());
        EXPECT_EQ(records[0].address, "198.51.100." + std::to_string(100 + i));
        EXPECT_EQ(records[0].port, i == 0 ? 0 : 7301);
        for (std::size_t j = 1; j < records.size(); ++j) {
            EXPECT_EQ(records[j].port, 8000);
            seenTrackers.push_back(records[j].address);
        }
    }
    std::sort(seenTrackers.begin(), seenTrackers.end());
    ASSERT_EQ(seenTrackers.size(), 7u);
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(seenTrackers[i], "198.51.100." + std::to_string(150 + i));
    }

    // Without channel servers nothing names the trackers; the document stays well formed.
    const std::string empty = BuildChannelListXml({}, trackers);
    EXPECT_TRUE(labtest::LabelsIn(empty).empty());
    EXPECT_NE(empty.find("</Channels>"), std::string::npos);
    EXPECT_EQ(BuildMalformedChannelList().find("</Channels>"), std::string::npos);
}

// The request the product sends for the channel list, byte for byte.
const std::string kChannelRequest =
    "GET /channels.htm.xml HTTP/1.1\r\nAccept: */*\r\nAccept-Encoding: gzip, deflate\r\n"
    "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0; MyIE2; Alexa Toolbar)\r\n"
    "Host: channel.example\r\nConnection: Keep-Alive\r\n\r\n";

TEST(HttpRequestParser, AcceptsARequestFedOneByteAtATime) {
    HttpRequestParser parser(kMaxPlainBodyBytes);
    for (std::size_t i = 0; i < kChannelRequest.size(); ++i) {
        std::size_t consumed = 0;
        const auto result = parser.Feed(std::string_view(kChannelRequest).substr(i, 1), consumed);
        EXPECT_EQ(consumed, 1u);
        const auto expected = i + 1 == kChannelRequest.size() ? HttpRequestParser::Result::Complete
                                                              : HttpRequestParser::Result::NeedMore;
        ASSERT_EQ(result, expected) << "at byte " << i << ": " << parser.Error();
    }
    const HttpRequest& request = parser.Request();
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.target, "/channels.htm.xml");
    EXPECT_EQ(request.version, "HTTP/1.1");
    ASSERT_EQ(request.headers.size(), 5u);
    ASSERT_NE(request.Header("host"), nullptr);
    EXPECT_EQ(*request.Header("HOST"), "channel.example");
    EXPECT_FALSE(request.WantsClose());
}

TEST(HttpRequestParser, TakesABodyInPiecesAndLeavesThePipelinedRest) {
    const std::string post =
        "POST /bbs?nm=x HTTP/1.1\r\nContent-Length: 11\r\nConnection: close\r\n\r\n"
        "hello world";
    const std::string input = post + "\r\nGET / HTTP/1.1\r\n";
    HttpRequestParser parser(kMaxReportBytes);
    std::size_t offset = 0;
    HttpRequestParser::Result result = HttpRequestParser::Result::NeedMore;
    while (result == HttpRequestParser::Result::NeedMore && offset < input.size()) {
        std::size_t consumed = 0;
        result = parser.Feed(std::string_view(input).substr(offset, 7), consumed);
        offset += consumed;
    }
    ASSERT_EQ(result, HttpRequestParser::Result::Complete) << parser.Error();
    EXPECT_EQ(offset, post.size());
    EXPECT_EQ(parser.Request().body, "hello world");
    EXPECT_TRUE(parser.Request().WantsClose());

    // An empty line before the next request line is tolerated.
    HttpRequestParser next(kMaxPlainBodyBytes);
    std::size_t consumed = 0;
    EXPECT_EQ(next.Feed("\r\nGET / HTTP/1.0\r\n\r\n", consumed),
              HttpRequestParser::Result::Complete);
    EXPECT_TRUE(next.Request().WantsClose());  // HTTP/1.0 without keep-alive
}

TEST(HttpRequestParser, RejectsMalformedHeadsAndStaysFailed) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"GET /x HTTP/1.1\nHost: a\r\n\r\n", "LF without CR"},
        {"GET /x HTTP/1.1\r\nHost: a\rb\r\n\r\n", "bare CR"},
        {std::string("GET /x HTTP/1.1\r\nHost: a\0b\r\n\r\n", 30), "NUL"},
        {"GET /x HTTP/1.1\r\nHost a\r\n\r\n", "missing colon"},
        {"GET /x HTTP/1.1\r\nHost: a\r\n folded\r\n\r\n", "folded line"},
        {"GET /x\r\n\r\n", "two-part request line"},
        {"GET /x HTTP/11\r\n\r\n", "bad version"},
        {"G(T /x HTTP/1.1\r\n\r\n", "bad method"},
        {"POST /x HTTP/1.1\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\n",
         "conflicting lengths"},
        {"POST /x HTTP/1.1\r\nContent-Length: +5\r\n\r\n", "signed length"},
        {"POST /x HTTP/1.1\r\nContent-Length: 99999999999999999999999\r\n\r\n",
         "overflowing length"},
        {"POST /x HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", "chunked request"},
    };
    for (const auto& [input, what] : cases) {
        HttpRequestParser parser(kMaxPlainBodyBytes);
        std::size_t consumed = 0;
        EXPECT_EQ(parser.Feed(input, consumed), HttpRequestParser::Result::Malformed) << what;
        EXPECT_FALSE(parser.Error().empty()) << what;
        EXPECT_EQ(parser.Feed("GET / HTTP/1.1\r\n\r\n", consumed),
                  HttpRequestParser::Result::Malformed)
            << what << ": a failed parser must stay failed";
    }
}

TEST(HttpRequestParser, EnforcesItsLimitsExactly) {
    const std::string requestLine = "GET / HTTP/1.1\r\n";
    // A header line of exactly the limit passes; one byte more fails.
    const std::string prefix = "X-Fill: ";
    const std::string atLimit = prefix + std::string(kMaxHeaderLineBytes - prefix.size(), 'a');
    {
        HttpRequestParser parser(kMaxPlainBodyBytes);
        std::size_t consumed = 0;
        EXPECT_EQ(parser.Feed(requestLine + atLimit + "\r\n\r\n", consumed),
                  HttpRequestParser::Result::Complete)
            << parser.Error();
    }
    {
        HttpRequestParser parser(kMaxPlainBodyBytes);
        std::size_t consumed = 0;
        EXPECT_EQ(parser.Feed(requestLine + atLimit + "a\r\n\r\n", consumed),
                  HttpRequestParser::Result::Malformed);
    }
    // The body limit: max passes, max + 1 is refused before any body byte is read.
    const auto post = [](std::size_t length) {
        return "POST /r HTTP/1.1\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n";
    };
    {
        HttpRequestParser parser(100);
        std::size_t consumed = 0;
        EXPECT_EQ(parser.Feed(post(100) + std::string(100, 'b'), consumed),
                  HttpRequestParser::Result::Complete);
    }
    {
        HttpRequestParser parser(100);
        std::size_t consumed = 0;
        EXPECT_EQ(parser.Feed(post(101), consumed), HttpRequestParser::Result::Malformed);
    }
    // The whole head is bounded too, however it is spread over lines.
    std::string head = requestLine;
    while (head.size() <= kMaxRequestHeadBytes) {
        head += "X-A: " + std::string(100, 'c') + "\r\n";
    }
    HttpRequestParser parser(kMaxPlainBodyBytes);
    std::size_t consumed = 0;
    EXPECT_EQ(parser.Feed(head, consumed), HttpRequestParser::Result::Malformed);
}

TEST(ProbeDatagram, ParsesTheRequestAndBuildsEachKindOfReply) {
    const std::vector<std::uint8_t> request = {0x0C, 0x00, 0x43, 0x00, 0x00, 0x07,
                                               0x0A, 0x01, 0x02, 0x03, 0x40, 0x1F};
    EXPECT_EQ(labtest::ProbeRequest("10.1.2.3", 8000), request);
    ProbeRequest parsed;
    std::string reason;
    ASSERT_TRUE(ParseProbeRequest(request, parsed, reason)) << reason;
    EXPECT_EQ(parsed.address[0], 10);
    EXPECT_EQ(parsed.address[3], 3);
    EXPECT_EQ(parsed.port, 8000);

    const auto reply = BuildProbeReply(parsed, ReplyKind::Valid);
    EXPECT_TRUE(labtest::IsValidProbeReply(reply));
    EXPECT_FALSE(labtest::IsValidProbeReply(BuildProbeReply(parsed, ReplyKind::Malformed)));
    const auto wrongType = BuildProbeReply(parsed, ReplyKind::WrongType);
    EXPECT_FALSE(labtest::IsValidProbeReply(wrongType));
    EXPECT_EQ(wrongType[2], 0x43);  // well formed, only the type differs

    const auto rejects = [&](std::vector<std::uint8_t> bytes, const char* what) {
        ProbeRequest ignored;
        std::string why;
        EXPECT_FALSE(ParseProbeRequest(bytes, ignored, why)) << what;
        EXPECT_FALSE(why.empty()) << what;
    };
    rejects({request.begin(), request.begin() + 11}, "short");
    auto longer = request;
    longer.push_back(0);
    rejects(longer, "long");
    const struct {
        std::size_t at;
        std::uint8_t value;
        const char* what;
    } changes[] = {
        {0, 13, "length field"}, {2, 0x44, "signature"}, {5, 8, "type"}, {3, 1, "reserved"}};
    for (const auto& change : changes) {
        auto changed = request;
        changed[change.at] = change.value;
        rejects(changed, change.what);
    }
}

TEST(LabConfig, ReadsEveryServiceAndNamesTheFirstError) {
    const std::string json = R"({
        "log": "/tmp/x.log", "ready": "/tmp/x.ready", "otherAddress": "127.0.0.2", "lateMs": 300,
        "notForTheSimulator": {"anything": [1, 2]},
        "channelList": {"address": "127.0.0.1", "port": 0, "mode": "chunked"},
        "download": {"address": "127.0.0.1", "mode": "404"},
        "report": {"address": "127.0.0.1", "port": 8080, "dir": "/tmp", "mode": "never-close"},
        "tcp": [{"address": "127.0.0.1", "port": 80, "mode": "refuse"}],
        "channelServers": [{"address": "127.0.0.1", "port": 0, "mode": "late"},
                           {"address": "127.0.0.1", "port": 7301}],
        "trackers": [{"address": "127.0.0.1", "port": 9, "mode": "other-address"}]})";
    LabConfig config;
    std::string error;
    ASSERT_TRUE(ParseLabConfig(json, config, error)) << error;
    EXPECT_EQ(config.lateMs, 300);
    ASSERT_TRUE(config.channelList && config.download && config.report);
    EXPECT_EQ(config.channelList->mode, ChannelListMode::Chunked);
    EXPECT_EQ(config.download->port, 80);
    EXPECT_EQ(config.download->mode, DownloadMode::NotFound);
    EXPECT_EQ(config.report->mode, ReportMode::NeverClose);
    ASSERT_EQ(config.tcp.size(), 1u);
    EXPECT_EQ(config.tcp[0].mode, TcpMode::Refuse);
    ASSERT_EQ(config.channelServers.size(), 2u);
    EXPECT_EQ(config.channelServers[0].listenPort, 7201);  // record port 0: the default port
    EXPECT_EQ(config.channelServers[1].listenPort, 7301);
    EXPECT_EQ(config.channelServers[1].mode, UdpMode::Ok);
    ASSERT_EQ(config.trackers.size(), 1u);
    EXPECT_EQ(config.trackers[0].recordPort, 9);
    EXPECT_EQ(config.trackers[0].listenPort, 9);

    const std::vector<std::pair<std::string, std::string>> bad = {
        {"[]", "not a JSON object"},
        {"{", "not a JSON object"},
        {R"({"ready": "x"})", "$.log: missing"},
        {R"({"log": 5})", "$.log: not a string"},
        {R"({"log": "x", "channelList": {"address": "1.2.3", "port": 80}})", "channelList.address"},
        {R"({"log": "x", "channelList": {"address": "1.2.3.4", "port": 70000}})",
         "channelList.port"},
        {R"({"log": "x", "report": {"address": "1.2.3.4", "dir": "/t", "mode": "500"}})",
         "report.mode"},
        {R"({"log": "x", "trackers": {"address": "1.2.3.4"}})", "trackers: not an array"},
        {R"({"log": "x", "trackers": [{"address": "1.2.3.4", "mode": "loud"}]})",
         "trackers[0].mode"},
        {R"({"log": "x", "otherAddress": "nowhere"})", "$.otherAddress"},
    };
    for (const auto& [input, expected] : bad) {
        LabConfig ignored;
        std::string why;
        EXPECT_FALSE(ParseLabConfig(input, ignored, why)) << input;
        EXPECT_NE(why.find(expected), std::string::npos) << input << " gave: " << why;
    }
}

TEST(LabConfig, ReadsTheEndpointListAndRefusesUnsafeWords) {
    std::vector<EndpointLine> lines;
    std::string error;
    ASSERT_TRUE(ParseEndpointList(
        R"({"endpoints":[{"role":"channel-list","host":"channel.example.com","port":80,"protocol":"http"},
                         {"role":"list","host":"list.example.net","port":0,"protocol":"icmp"}]})",
        lines, error))
        << error;
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].role, "list");
    EXPECT_EQ(lines[1].host, "list.example.net");
    EXPECT_EQ(lines[1].port, 0);

    for (const char* hostile :
         {R"({"endpoints":[{"role":"x","host":"a;rm -rf /","port":80,"protocol":"tcp"}]})",
          R"({"endpoints":[{"role":"x y","host":"a.b","port":80,"protocol":"tcp"}]})",
          R"({"endpoints":[{"role":"x","host":"a.b","port":-1,"protocol":"tcp"}]})",
          R"({"endpoints":{}})", R"({"other":[]})"}) {
        std::vector<EndpointLine> ignored;
        EXPECT_FALSE(ParseEndpointList(hostile, ignored, error)) << hostile;
    }
}

HttpRequest Request(const std::string& text) {
    HttpRequestParser parser(kMaxPlainBodyBytes);
    std::size_t consumed = 0;
    EXPECT_EQ(parser.Feed(text, consumed), HttpRequestParser::Result::Complete) << text;
    return parser.Request();
}

// Undoes chunked transfer coding; empty on any error.
std::string Dechunk(const std::string& body) {
    std::string out;
    std::size_t pos = 0;
    for (;;) {
        const auto end = body.find("\r\n", pos);
        if (end == std::string::npos) {
            return {};
        }
        const std::size_t size = std::stoul(body.substr(pos, end - pos), nullptr, 16);
        if (size == 0) {
            return body.substr(end) == "\r\n\r\n" ? out : std::string();
        }
        out += body.substr(end + 2, size);
        pos = end + 2 + size + 2;
    }
}

TEST(HttpResponses, ChannelListModesFrameTheSameDocument) {
    const std::string xml = BuildChannelListXml({Record("1.2.3.4", 0)}, {Record("5.6.7.8", 8000)});
    const HttpRequest keepAlive = Request(kChannelRequest);
    const auto split = [](const std::string& bytes) {
        const auto end = bytes.find("\r\n\r\n");
        return std::make_pair(bytes.substr(0, end + 2), bytes.substr(end + 4));
    };

    const auto withLength = AnswerChannelList(keepAlive, ChannelListMode::ContentLength, xml);
    auto [head, body] = split(withLength.bytes);
    EXPECT_EQ(head.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
    EXPECT_NE(head.find("Content-Length: " + std::to_string(xml.size()) + "\r\n"),
              std::string::npos);
    EXPECT_EQ(body, xml);
    EXPECT_FALSE(withLength.closeAfter);

    const auto chunked = AnswerChannelList(keepAlive, ChannelListMode::Chunked, xml);
    std::tie(head, body) = split(chunked.bytes);
    EXPECT_NE(head.find("Transfer-Encoding: chunked\r\n"), std::string::npos);
    EXPECT_EQ(head.find("Content-Length"), std::string::npos);
    EXPECT_EQ(Dechunk(body), xml);

    const auto untilClose = AnswerChannelList(keepAlive, ChannelListMode::UntilClose, xml);
    std::tie(head, body) = split(untilClose.bytes);
    EXPECT_EQ(head.find("Content-Length"), std::string::npos);
    EXPECT_EQ(body, xml);
    EXPECT_TRUE(untilClose.closeAfter);

    EXPECT_EQ(AnswerChannelList(keepAlive, ChannelListMode::NotFound, xml)
                  .bytes.rfind("HTTP/1.1 404 ", 0),
              0u);
    EXPECT_NE(AnswerChannelList(keepAlive, ChannelListMode::Garbage, xml).bytes.rfind("HTTP/", 0),
              0u);
    const auto silent = AnswerChannelList(keepAlive, ChannelListMode::NeverAnswer, xml);
    EXPECT_TRUE(silent.hold);
    EXPECT_TRUE(silent.bytes.empty());
    EXPECT_EQ(split(AnswerChannelList(keepAlive, ChannelListMode::Malformed, xml).bytes).second,
              BuildMalformedChannelList());
    // A head announcing the whole list and no body byte yet: the list follows a byte at a time.
    const auto drip = AnswerChannelList(keepAlive, ChannelListMode::Drip, xml);
    std::tie(head, body) = split(drip.bytes);
    EXPECT_NE(head.find("Content-Length: " + std::to_string(xml.size()) + "\r\n"),
              std::string::npos);
    EXPECT_EQ(body, "");
    EXPECT_EQ(drip.drip, xml);

    // Another path is 404 whatever the mode; the client's "Connection: close" is honoured.
    const auto other =
        AnswerChannelList(Request("GET /other HTTP/1.1\r\nConnection: close\r\n\r\n"),
                          ChannelListMode::ContentLength, xml);
    EXPECT_EQ(other.bytes.rfind("HTTP/1.1 404 ", 0), 0u);
    EXPECT_TRUE(other.closeAfter);
    EXPECT_EQ(AnswerChannelList(Request("POST /channels.htm.xml HTTP/1.1\r\n\r\n"),
                                ChannelListMode::ContentLength, xml)
                  .bytes.rfind("HTTP/1.1 405 ", 0),
              0u);
}

TEST(HttpResponses, DownloadAndReportAnswers) {
    const HttpRequest patch = Request(std::string("GET ") + kPatchPath + " HTTP/1.1\r\n\r\n");
    const auto ok = AnswerDownload(patch, DownloadMode::Ok);
    EXPECT_EQ(ok.bytes.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
    EXPECT_EQ(ok.bytes.substr(ok.bytes.find("\r\n\r\n") + 4), PatchFileBytes());
    EXPECT_EQ(AnswerDownload(patch, DownloadMode::NotFound).bytes.rfind("HTTP/1.1 404 ", 0), 0u);
    EXPECT_EQ(AnswerDownload(Request("GET /download/other.exe HTTP/1.1\r\n\r\n"), DownloadMode::Ok)
                  .bytes.rfind("HTTP/1.1 404 ", 0),
              0u);

    // What the product recognises: "200 OK" or "302 " anywhere in the answer.
    EXPECT_NE(AnswerReport(ReportMode::Ok).bytes.find("200 OK"), std::string::npos);
    EXPECT_TRUE(AnswerReport(ReportMode::Ok).closeAfter);
    const auto found = AnswerReport(ReportMode::Found).bytes;
    EXPECT_EQ(found.rfind("HTTP/1.1 302 Found\r\n", 0), 0u);
    EXPECT_NE(found.find("Location: /\r\nContent-Length: 0\r\n"), std::string::npos);
    const auto missing = AnswerReport(ReportMode::NotFound).bytes;
    EXPECT_EQ(missing.find("200 OK"), std::string::npos);
    EXPECT_EQ(missing.find("302 "), std::string::npos);
    const auto neverClose = AnswerReport(ReportMode::NeverClose);
    EXPECT_TRUE(neverClose.hold);
    EXPECT_NE(neverClose.bytes.find("200 OK"), std::string::npos);
    const auto holdThenClose = AnswerReport(ReportMode::HoldThenClose);
    EXPECT_EQ(holdThenClose.bytes, neverClose.bytes);
    EXPECT_GT(holdThenClose.holdFor, neverClose.holdFor) << "closed after a while, not never";
}

// A portal sends every page to its login host; a large site sends its bare name to its www.
// name and back.
TEST(HttpResponses, PortalAndRedirectingSites) {
    const auto location = [](const HttpAnswer& answer) {
        const auto at = answer.bytes.find("\r\nLocation: ") + 12;
        return answer.bytes.substr(at, answer.bytes.find("\r\n", at) - at);
    };
    const auto portal = AnswerInterceptedTcp(
        Request("GET /a?b HTTP/1.1\r\nHost: www.qq.com\r\n\r\n"), TcpMode::Portal);
    EXPECT_EQ(portal.bytes.rfind("HTTP/1.1 302 Found\r\n", 0), 0u);
    EXPECT_EQ(location(portal), "http://login.portal.lab/login?url=http://www.qq.com/a?b");
    EXPECT_TRUE(portal.closeAfter);
    // The GBK portal: its page for a home page, raw bytes in the Location of anything else.
    const auto page = AnswerInterceptedTcp(Request("GET / HTTP/1.1\r\nHost: www.qq.com\r\n\r\n"),
                                           TcpMode::PortalGbk);
    EXPECT_EQ(page.bytes.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
    EXPECT_EQ(page.bytes.substr(page.bytes.find("\r\n\r\n") + 4), kPortalGbkPage);
    EXPECT_NE(page.bytes.find("login?from=gbk\xA3\xAC"), std::string::npos);
    const auto gbk = AnswerInterceptedTcp(Request("GET /a?b HTTP/1.1\r\nHost: www.qq.com\r\n\r\n"),
                                          TcpMode::PortalGbk);
    EXPECT_EQ(gbk.bytes.rfind("HTTP/1.1 302 Found\r\n", 0), 0u);
    EXPECT_EQ(location(gbk),
              "http://login.portal.lab/login?url=http://www.qq.com/a?b&msg=\xB5\xC7\xC2\xBC");
    const auto www = AnswerInterceptedTcp(Request("GET / HTTP/1.1\r\nHost: www.qq.com\r\n\r\n"),
                                          TcpMode::RedirectWww);
    EXPECT_EQ(www.bytes.rfind("HTTP/1.1 301 Moved Permanently\r\n", 0), 0u);
    EXPECT_EQ(location(www), "http://qq.com/");
    EXPECT_EQ(location(AnswerInterceptedTcp(Request("GET /x HTTP/1.1\r\nHost: qq.com\r\n\r\n"),
                                            TcpMode::RedirectWww)),
              "http://www.qq.com/x");
}

// The hostile channel lists: each mode breaks the framing the way its name says, and the big
// lists are what the lab's cases count on.
TEST(HostileAnswers, FramingAndListsAreWhatTheModesSay) {
    const HttpRequest get = Request("GET /channels.htm.xml HTTP/1.1\r\n\r\n");
    const std::string lab = BuildChannelListXml({{{198, 51, 100, 100}, 0}}, {});
    const auto answer = [&](ChannelListMode mode) {
        return AnswerHostileChannelList(get, mode, HostileChannelList(mode, lab, 0));
    };
    const HttpAnswer head = answer(ChannelListMode::DripHead);
    EXPECT_TRUE(head.bytes.empty());
    EXPECT_EQ(head.drip.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
    EXPECT_EQ(head.drip.substr(head.drip.size() - lab.size()), lab);
    for (const ChannelListMode mode :
         {ChannelListMode::EndlessHeader, ChannelListMode::ChunkExtensionBomb}) {
        const HttpAnswer endless = answer(mode);
        EXPECT_EQ(endless.bytes.find_first_of("\n", endless.bytes.rfind("\r\n") + 2),
                  std::string::npos);
        EXPECT_EQ(endless.endless.find_first_of("\r\n"), std::string::npos);
        EXPECT_FALSE(endless.endless.empty());
    }
    const std::string zeros = answer(ChannelListMode::ChunkZeros).bytes;
    const std::size_t body = zeros.find("\r\n\r\n") + 4;
    EXPECT_EQ(zeros.find_first_not_of('0', body) - body, kChunkSizeZeros);
    const std::string both = answer(ChannelListMode::LengthAndChunked).bytes;
    const std::size_t length = both.find("Content-Length: ") + 16;
    EXPECT_EQ(std::stoul(both.substr(length)), both.size() - (both.find("\r\n\r\n") + 4));
    EXPECT_NE(both.find("Transfer-Encoding: chunked"), std::string::npos);

    const std::string huge = HostileChannelList(ChannelListMode::Huge, lab, 0);
    EXPECT_EQ(huge.size(), kHugeListBytes);
    EXPECT_EQ(labtest::LabelsIn(huge), labtest::LabelsIn(lab));
    const std::vector<std::string> million =
        labtest::LabelsIn(HostileChannelList(ChannelListMode::Million, lab, 0));
    ASSERT_EQ(million.size(), (kMillionServers + kRecordsPerLabel - 1) / kRecordsPerLabel);
    const auto first = labtest::DecodeLabel(million.front());
    ASSERT_EQ(first.size(), kRecordsPerLabel);
    EXPECT_EQ(first[0].address, "100.64.0.0");
    EXPECT_EQ(first[1].address, "100.64.0.1");
    EXPECT_EQ(labtest::DecodeLabel(million.back()).back().address, "100.80.0.21");
    // Each request's fresh list starts where the one before ended.
    const auto fresh = [&](std::size_t request) {
        return labtest::DecodeLabel(
            labtest::LabelsIn(HostileChannelList(ChannelListMode::Fresh, lab, request)).front());
    };
    EXPECT_EQ(fresh(0)[0].address, "100.64.0.0");
    EXPECT_EQ(fresh(1)[0].address, "100.64.0.60");
}

}  // namespace
}  // namespace lumidex::lab
