// The GET client against a scripted server on loopback: the exact request bytes, the three
// body modes, 100 then 200, the receive time-out, what is refused before anything is sent,
// and the socket's life (Close, destruction, a pending connect ended from another thread).
#include "net/HttpGetClient.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "net/UrlSplitter.h"
#include "support/LoopbackServer.h"

namespace lumidex {
namespace {

using testing::ScriptedServer;
using Clock = std::chrono::steady_clock;

// Any name handed to this resolver is a test fault: no test may ask a name server.
std::uint32_t NoLookup(const std::string&) {
    return 0;
}

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST(HttpGetClientTest, ReadsEachBodyModeFromTheServer) {
    const struct {
        const char* name;
        std::string reply;
        int status;
        std::string body;
        bool untilClose;
    } rows[] = {
        {"length", "HTTP/1.1 200 OK\r\ncontent-LENGTH: 5\r\n\r\nhello", 200, "hello", false},
        {"chunked 5 + a",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\na\r\n0123456789\r\n"
         "0\r\n\r\n",
         200, "hello0123456789", false},
        {"until close", "HTTP/1.0 404 Not Found\r\nServer: x\r\n\r\nnot here", 404, "not here",
         true},
        {"100 then 200",
         "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", 200, "ok",
         false},
        {"status line without a space", "HTTP/1.1\r\nContent-Length: 2\r\n\r\nok", 0, "ok", false},
    };
    for (const auto& row : rows) {
        ScriptedServer server(row.reply);
        HttpGetClient client(2000, NoLookup);
        EXPECT_EQ(client.Get(server.Url("/channels.htm.xml?x=1#top"), "Host: example\r\n"),
                  row.status)
            << row.name;
        EXPECT_EQ(client.BodyText(), row.body) << row.name;
        EXPECT_EQ(client.ReadUntilClose(), row.untilClose) << row.name;
        server.Stop();
        EXPECT_EQ(server.Request(), "GET /channels.htm.xml?x=1 HTTP/1.1\r\nHost: example\r\n\r\n")
            << row.name;
    }
}

TEST(HttpGetClientTest, SendsToTheHostGivenAndTheTargetUnchanged) {
    ScriptedServer server("HTTP/1.1 204 No Content\r\nContent-Length: 1\r\n\r\n-");
    HttpGetClient client(2000, NoLookup);
    EXPECT_EQ(client.Get("/any thing", std::nullopt, testing::LoopbackSite(server.Port())), 204);
    server.Stop();
    EXPECT_EQ(server.Request(), "GET /any thing HTTP/1.1\r\n\r\n");
}

TEST(HttpGetClientTest, ZeroLengthOnAnOpenConnectionEndsAfterTheReceiveTimeOut) {
    ScriptedServer server("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n",
                          ScriptedServer::Ending::Hold);
    HttpGetClient client(300, NoLookup);
    const auto start = Clock::now();
    EXPECT_EQ(client.Get(server.Url("/")), 200);
    EXPECT_GE(MsSince(start), 280);
    EXPECT_LT(MsSince(start), 3000);
    EXPECT_TRUE(client.ReadUntilClose());
    EXPECT_EQ(client.BodyLength(), 0);
    EXPECT_STREQ(client.Body(), "");
}

// A server that drips keeps every receive wait short of its bound; the bound on the whole
// exchange ends the read, and what arrived is judged as after a failed receive.
TEST(HttpGetClientTest, TheWholeExchangeIsBoundedAndWhatArrivedIsJudged) {
    const std::string tail(40, 'a');
    const struct {
        const char* name;
        std::string reply;
        std::string drip;
        int status;
        std::int32_t bodyLength;  // -1: fewer than the dripped bytes
    } rows[] = {
        {"announced length: kept, the missing bytes zero",
         "HTTP/1.1 200 OK\r\nContent-Length: 40\r\n\r\n", tail, 200, 40},
        {"until close: what arrived", "HTTP/1.1 200 OK\r\n\r\n", tail, 200, -1},
        {"status line unfinished", "", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", 0, 0},
    };
    for (const auto& row : rows) {
        ScriptedServer server(row.reply, ScriptedServer::Ending::Hold, 0, row.drip, 30);
        HttpGetClient client(2000, NoLookup);
        client.SetExchangeDeadline(300);
        EXPECT_EQ(client.Get(server.Url("/")), row.status) << row.name;
        const std::string_view arrived = client.Body() == nullptr ? "" : client.Body();
        EXPECT_LT(arrived.size(), row.drip.size()) << row.name;
        if (row.bodyLength >= 0) {
            EXPECT_EQ(client.BodyLength(), row.bodyLength) << row.name;
        } else {
            EXPECT_EQ(client.BodyLength(), static_cast<std::int32_t>(arrived.size())) << row.name;
        }
    }
}

TEST(HttpGetClientTest, RefusedRequestsSendNothing) {
    ScriptedServer server("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    const std::string port = std::to_string(server.Port());
    for (const std::string& url : std::vector<std::string>{
             "ftp://127.0.0.1:" + port + "/file", "127.0.0.1:" + port + "/file",
             "http://127.0.0.1:" + port + "/a b", "http:///file", "http://127.0.0.1:99999/",
             "http://127.0.0.1:" + port + "/" + std::string(2048, 'x')}) {
        HttpGetClient client(2000, NoLookup);
        EXPECT_EQ(client.Get(url), 0) << url;
        EXPECT_EQ(client.Body(), nullptr) << url;
    }
    server.Stop();
    EXPECT_EQ(server.Request(), "") << "the over-long request connected but sent nothing";
}

TEST(HttpGetClientTest, SplitsHostTextAndResolvesOnlyNames) {
    const struct {
        const char* host;
        std::uint16_t port;
        HostAndPort expected;
    } rows[] = {
        {"name:8080", 0, {"name", 8080}},
        {"name", 0, {"name", 80}},
        {"name:0", 0, {"name", 80}},
        {"name:", 0, {"name", 80}},
        {":8080", 0, {":8080", 80}},
        {"name:8080", 81, {"name:8080", 81}},
        {"name:70000", 0, {"name", 4464}},
        {"10.0.0.1:21x", 0, {"10.0.0.1", 21}},
        {"http=a:80;ftp=b:21", 0, {"http=a", 80}},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(HttpGetClient::SplitHostPort(row.host, row.port), row.expected) << row.host;
    }
    int lookups = 0;
    const HostResolver counting = [&](const std::string& name) {
        ++lookups;
        return name == "proxy.test" ? htonl(0x7F000001) : 0u;
    };
    EXPECT_EQ(HttpGetClient::ResolveAddress("127.0.0.1", counting), htonl(0x7F000001));
    EXPECT_EQ(HttpGetClient::ResolveAddress("1.2.3.4.5", counting), INADDR_NONE);
    EXPECT_EQ(lookups, 0) << "a name starting with a digit is never looked up";
    EXPECT_EQ(HttpGetClient::ResolveAddress("proxy.test", counting), htonl(0x7F000001));
    EXPECT_EQ(lookups, 1);
}

TEST(HttpGetClientTest, ConnectAndCloseKeepTheSocketRules) {
    std::uint16_t port = 0;
    const auto listener = testing::LoopbackListener(4, port);
    std::uint16_t closedPort = 0;
    const auto notListening = testing::LoopbackListener(-1, closedPort);

    HttpGetClient none;
    EXPECT_FALSE(none.Close()) << "no socket to close";

    HttpGetClient client(2000, NoLookup);
    EXPECT_TRUE(client.Connect("127.0.0.1", port));
    EXPECT_TRUE(client.Connect("nowhere", 1)) << "a socket already held answers true at once";
    EXPECT_TRUE(client.Close());
    EXPECT_FALSE(client.Close());

    HttpGetClient unresolved(2000, NoLookup);
    EXPECT_FALSE(unresolved.Connect("no-such-host:" + std::to_string(port), 0))
        << "0.0.0.0 must not reach this machine's own listener";
    EXPECT_TRUE(unresolved.LastLookupFailed());
    EXPECT_TRUE(unresolved.Connect("127.0.0.1", port)) << "the failed attempt keeps its socket";
    EXPECT_TRUE(unresolved.Close());

    HttpGetClient refused(2000, NoLookup);
    EXPECT_FALSE(refused.Connect(testing::LoopbackSite(closedPort), 0));
    EXPECT_EQ(refused.LastConnectResult(), platform::ConnectResult::Refused);
    EXPECT_FALSE(refused.LastLookupFailed()) << "a dotted address is never looked up";

    // A run's cancel may land before the client has opened its socket: it must stick, or a
    // silent host holds the stopped run for the whole connect.
    HttpGetClient cancelled(2000, NoLookup);
    cancelled.Cancel();
    EXPECT_FALSE(cancelled.Connect("127.0.0.1", port));
    EXPECT_EQ(cancelled.LastConnectResult(), platform::ConnectResult::Aborted);
    EXPECT_EQ(cancelled.Get("http://127.0.0.1:" + std::to_string(port) + "/"), 0);
    EXPECT_FALSE(cancelled.Close()) << "no socket was ever opened";
}

TEST(HttpGetClientTest, DestructionClosesTheSocket) {
    ScriptedServer server("", ScriptedServer::Ending::Hold);
    {
        HttpGetClient client(300, NoLookup);
        ASSERT_TRUE(client.Connect(testing::LoopbackSite(server.Port()), 0));
        // The server waits for the request head; send one so it goes on to hold the line.
        EXPECT_EQ(client.Get("/", std::nullopt, "ignored:1"), 0);
    }
    server.Stop();
    EXPECT_TRUE(server.PeerClosed());
}

TEST(HttpGetClientTest, CloseFromAnotherThreadEndsAPendingConnectAtOnce) {
    testing::FullBacklogListener silent;
    HttpGetClient client(2000, NoLookup, 5000);
    auto pending = std::async(std::launch::async, [&] {
        const auto start = Clock::now();
        const bool connected = client.Connect(testing::LoopbackSite(silent.Port()), 0);
        return std::make_pair(connected, MsSince(start));
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_EQ(pending.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout)
        << "the connect should still be pending";
    const auto closed = Clock::now();
    EXPECT_TRUE(client.Close());
    const auto [connected, elapsed] = pending.get();
    EXPECT_FALSE(connected);
    EXPECT_LT(MsSince(closed), 200);
    EXPECT_GE(elapsed, 250);
    EXPECT_EQ(client.LastConnectResult(), platform::ConnectResult::Aborted);
}

TEST(HttpGetClientTest, ConnectIsBoundedInTime) {
    testing::FullBacklogListener silent;
    HttpGetClient client(2000, NoLookup, 400);
    const auto start = Clock::now();
    EXPECT_FALSE(client.Connect(testing::LoopbackSite(silent.Port()), 0));
    EXPECT_GE(MsSince(start), 380);
    EXPECT_LT(MsSince(start), 2000);
    EXPECT_EQ(client.LastConnectResult(), platform::ConnectResult::TimedOut);
}

TEST(HttpGetClientTest, HostileResponsesStayBounded) {
    const std::string big(kMaxBodyBytes + 100000, 'x');
    const struct {
        const char* name;
        std::string reply;
        std::size_t filler;
        int status;
        ReadError error;
        std::int32_t bodyLength;
    } rows[] = {
        {"endless head", "HTTP/1.1 302 Found\r\nX: ", 100000, 302, ReadError::HeaderTooLong, 0},
        {"huge length", "HTTP/1.1 200 OK\r\nContent-Length: 2000000000\r\n\r\n", 1000, 200,
         ReadError::ContentLengthTooLarge, 0},
        {"negative chunk", "HTTP/1.1 200 OK\r\nX: chunked\r\n\r\n-10\r\n", 1000, 200,
         ReadError::ChunkSizeNegative, 0},
        {"endless body", "HTTP/1.1 200 OK\r\n\r\n", kMaxBodyBytes + 100000, 200,
         ReadError::BodyTooLong, static_cast<std::int32_t>(kMaxBodyBytes)},
    };
    for (const auto& row : rows) {
        ScriptedServer server(row.reply, ScriptedServer::Ending::Close, row.filler);
        HttpGetClient client(2000, NoLookup);
        const auto start = Clock::now();
        EXPECT_EQ(client.Get(server.Url("/")), row.status) << row.name;
        EXPECT_LT(MsSince(start), 10000) << row.name;
        EXPECT_EQ(client.LastError(), row.error) << row.name;
        EXPECT_EQ(client.BodyLength(), row.bodyLength) << row.name;
        client.Close();
    }
}

}  // namespace
}  // namespace lumidex
