// Loopback-only TCP helpers for client tests: a scripted HTTP server that serves every
// connection in turn (records each request, sends the scripted bytes, then closes or holds
// the connection open), plain listeners, a loopback URL nobody listens on, and a listener
// whose backlog is full so that connects to it stay pending.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/UniqueFd.h"

namespace lumidex::testing {

// A listening socket on 127.0.0.1 with a port of the system's choice. backlog < 0: bound only,
// not listening, so connects to it are refused.
inline platform::UniqueFd LoopbackListener(int backlog, std::uint16_t& port) {
    platform::UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (!fd || ::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        (backlog >= 0 && ::listen(fd.get(), backlog) != 0) ||
        ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        return {};
    }
    port = ntohs(address.sin_port);
    return fd;
}

inline std::string LoopbackSite(std::uint16_t port) {
    return "127.0.0.1:" + std::to_string(port);
}

// A loopback URL nobody listens on (the port was free a moment ago).
inline std::string DeadLoopbackUrl(const std::string& path) {
    std::uint16_t port = 0;
    LoopbackListener(-1, port);
    return "http://" + LoopbackSite(port) + path;
}

// A complete answer with a body.
inline std::string HttpAnswer(const std::string& status, const std::string& body) {
    return "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

// A listener that accepts nothing and whose accept queue is already full: the kernel drops
// further SYNs, so a connect to it stays pending as to a silent host.
class FullBacklogListener {
public:
    FullBacklogListener() {
        m_listener = LoopbackListener(0, m_port);
        for (int i = 0; i < 4; ++i) {
            platform::UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            address.sin_port = htons(m_port);
            ::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
            m_fillers.push_back(std::move(fd));
        }
        // Let the handshakes of the fillers complete before anyone relies on the queue being full.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::uint16_t Port() const { return m_port; }

private:
    std::uint16_t m_port = 0;
    platform::UniqueFd m_listener;
    std::vector<platform::UniqueFd> m_fillers;
};

// Serves each connection in turn until stopped: reads the request head (up to the blank
// line), sends reply (then fillerBytes of 'x', then drip one byte every dripEveryMs, for as
// long as the client takes them), then closes (Ending::Close) or waits for the client to close
// (Ending::Hold).
class ScriptedServer {
public:
    enum class Ending { Close, Hold };

    explicit ScriptedServer(std::string reply, Ending ending = Ending::Close,
                            std::size_t fillerBytes = 0, std::string drip = {}, int dripEveryMs = 0)
        : m_reply(std::move(reply)),
          m_ending(ending),
          m_filler(fillerBytes),
          m_drip(std::move(drip)),
          m_dripEveryMs(dripEveryMs) {
        m_listener = LoopbackListener(4, m_port);
        m_thread = std::thread([this] { Serve(); });
    }
    ~ScriptedServer() { Stop(); }

    std::uint16_t Port() const { return m_port; }
    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(m_port) + path;
    }
    // Ends serving (waits for the connection being served, if any).
    void Stop() {
        m_stop = true;
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }
    int Connections() const { return m_connections; }
    // The request head of the latest connection ("" before any).
    std::string Request() {
        std::lock_guard lock(m_mutex);
        return m_requests.empty() ? std::string() : m_requests.back();
    }
    // The request heads of all connections so far, in order.
    std::vector<std::string> Requests() {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }
    // With Ending::Hold: the client closed its end while the server held the connection.
    bool PeerClosed() const { return m_peerClosed; }

private:
    // Waits for fd to be readable; false after maxMs (< 0: no bound), or once stopped when
    // stoppable.
    bool WaitReadable(int fd, int maxMs, bool stoppable) {
        for (int waited = 0; maxMs < 0 || waited < maxMs; waited += 20) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0) {
                return true;
            }
            if (m_stop && stoppable) {
                return false;
            }
        }
        return false;
    }

    void Serve() {
        while (WaitReadable(m_listener.get(), -1, true) && !m_stop) {
            platform::UniqueFd client(::accept4(m_listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
            if (!client) {
                return;
            }
            ServeOne(client.get());
        }
    }

    void ServeOne(int client) {
        // A held connection stays until the client closes it, even once stopped.
        const bool stoppable = m_ending == Ending::Close;
        ++m_connections;
        std::string request;
        char c = 0;
        while (request.find("\r\n\r\n") == std::string::npos &&
               WaitReadable(client, 5000, stoppable) && ::recv(client, &c, 1, 0) == 1) {
            request.push_back(c);
        }
        {
            std::lock_guard lock(m_mutex);
            m_requests.push_back(request);
        }
        SendAll(client, m_reply);
        const std::string block(64 * 1024, 'x');
        for (std::size_t left = m_filler; left > 0;) {
            const std::size_t piece = std::min(left, block.size());
            if (!SendAll(client, std::string_view(block).substr(0, piece))) {
                break;
            }
            left -= piece;
        }
        for (const char byte : m_drip) {
            std::this_thread::sleep_for(std::chrono::milliseconds(m_dripEveryMs));
            if (m_stop || !SendAll(client, std::string_view(&byte, 1))) {
                break;
            }
        }
        if (m_ending == Ending::Hold) {
            // Hold until the client closes (recv sees the end) or 10 s pass.
            if (WaitReadable(client, 10000, false)) {
                m_peerClosed = ::recv(client, &c, 1, 0) == 0;
            }
        }
        ::shutdown(client, SHUT_RDWR);
    }

    static bool SendAll(int fd, std::string_view data) {
        while (!data.empty()) {
            const ssize_t sent = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
            if (sent <= 0) {
                return false;
            }
            data.remove_prefix(static_cast<std::size_t>(sent));
        }
        return true;
    }

    std::string m_reply;
    Ending m_ending;
    std::size_t m_filler;
    std::string m_drip;
    int m_dripEveryMs;
    std::uint16_t m_port = 0;
    platform::UniqueFd m_listener;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    std::atomic<bool> m_peerClosed{false};
    std::mutex m_mutex;
    std::vector<std::string> m_requests;
};

}  // namespace lumidex::testing
