// A one-answer HTTP server on 127.0.0.1 for client tests: every connection gets the same
// scripted bytes (then the connection closes), and every request is kept for inspection.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace lumidex::testing {

class LoopbackHttpServer {
public:
    // answer: the raw bytes sent after a request's header ends ("" closes without a word).
    explicit LoopbackHttpServer(std::string answer) : m_answer(std::move(answer)) {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(m_listen, 8);
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { Serve(); });
    }
    ~LoopbackHttpServer() {
        m_stop = true;
        m_thread.join();
        ::close(m_listen);
    }
    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(m_port) + path;
    }
    std::vector<std::string> Requests() const {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }

    // A loopback URL nobody listens on (the port was free a moment ago).
    static std::string DeadUrl(const std::string& path) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
        ::close(fd);
        return "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + path;
    }

private:
    void Serve() {
        while (!m_stop) {
            pollfd fd{m_listen, POLLIN, 0};
            if (::poll(&fd, 1, 20) <= 0) {
                continue;
            }
            const int client = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) {
                continue;
            }
            std::string request;
            char buffer[4096];
            while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
                pollfd in{client, POLLIN, 0};
                if (::poll(&in, 1, 5000) <= 0) {
                    break;
                }
                const ssize_t n = ::read(client, buffer, sizeof buffer);
                if (n <= 0) {
                    break;
                }
                request.append(buffer, static_cast<std::size_t>(n));
            }
            {
                std::lock_guard lock(m_mutex);
                m_requests.push_back(request);
            }
            for (std::size_t sent = 0; sent < m_answer.size();) {
                const ssize_t n =
                    ::send(client, m_answer.data() + sent, m_answer.size() - sent, MSG_NOSIGNAL);
                if (n <= 0) {
                    break;
                }
                sent += static_cast<std::size_t>(n);
            }
            ::close(client);
        }
    }

    std::string m_answer;
    int m_listen = -1;
    uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    std::vector<std::string> m_requests;
    std::thread m_thread;
};

// A complete answer with a body.
inline std::string HttpAnswer(const std::string& status, const std::string& body) {
    return "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

}  // namespace lumidex::testing
