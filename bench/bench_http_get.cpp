// Download time of one URL with HttpGetClient. Without a URL it serves a 64 KiB body (the size
// of a large channel list) from a loopback server of its own and downloads that; with
// --serve SECONDS it only serves, printing the URL, so another client (curl) can be timed
// against the very same server.
//
//   bench_http_get [--runs N] [URL]      bench_http_get --serve SECONDS
#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "net/HttpGetClient.h"
#include "support/LoopbackServer.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kBodyBytes = 64 * 1024;

// Answers every request on the listener with the same 64 KiB body, then closes.
void Serve(int listener, const std::atomic<bool>& stop) {
    const std::string body(kBodyBytes, 'c');
    const std::string reply = "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: " +
                              std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    while (!stop) {
        pollfd p{listener, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) {
            continue;
        }
        lumidex::platform::UniqueFd client(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
        if (!client) {
            continue;
        }
        std::string request;
        char buffer[1024];
        while (request.find("\r\n\r\n") == std::string::npos) {
            const ssize_t got = ::recv(client.get(), buffer, sizeof buffer, 0);
            if (got <= 0) {
                break;
            }
            request.append(buffer, static_cast<std::size_t>(got));
        }
        std::string_view rest = reply;
        while (!rest.empty()) {
            const ssize_t sent = ::send(client.get(), rest.data(), rest.size(), MSG_NOSIGNAL);
            if (sent <= 0) {
                break;
            }
            rest.remove_prefix(static_cast<std::size_t>(sent));
        }
        ::shutdown(client.get(), SHUT_WR);
        // Wait for the client to close first, so this side does not hold TIME_WAIT states.
        ::recv(client.get(), buffer, sizeof buffer, 0);
    }
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 50;
    int serveSeconds = 0;
    std::string url;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--serve") == 0 && i + 1 < argc) {
            serveSeconds = std::max(1, std::atoi(argv[++i]));
        } else {
            url = argv[i];
        }
    }
    std::atomic<bool> stop{false};
    std::uint16_t port = 0;
    lumidex::platform::UniqueFd listener;
    std::thread server;
    if (url.empty()) {
        listener = lumidex::testing::LoopbackListener(64, port);
        server = std::thread(Serve, listener.get(), std::cref(stop));
        url = "http://127.0.0.1:" + std::to_string(port) + "/channels.htm.xml";
    }
    if (serveSeconds > 0) {
        std::printf("serving %s for %d s\n", url.c_str(), serveSeconds);
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::seconds(serveSeconds));
    } else {
        std::vector<double> ms;
        std::int32_t length = 0;
        int status = 0;
        for (int i = 0; i < runs; ++i) {
            lumidex::HttpGetClient client;
            const auto start = Clock::now();
            status = client.Get(url, "Host: 127.0.0.1\r\nAccept: */*\r\n");
            client.Close();
            ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
            length = client.BodyLength();
        }
        std::sort(ms.begin(), ms.end());
        std::printf(
            "HttpGetClient %s: status %d, body %d bytes, %d runs: min %.3f ms, median "
            "%.3f ms, max %.3f ms\n",
            url.c_str(), status, length, runs, ms.front(), ms[ms.size() / 2], ms.back());
    }
    stop = true;
    if (server.joinable()) {
        server.join();
    }
    return 0;
}
