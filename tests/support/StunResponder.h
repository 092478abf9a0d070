// A scripted STUN server on loopback for the STUN probe's tests: answers Binding requests with
// a mapped address of the script's choosing (or the sender's, as with no NAT), and, given a
// second loopback address, behaves as an RFC 5780 server (OTHER-ADDRESS, CHANGE-REQUEST
// answered or not). Hostile modes answer with garbage, wrong ids, floods or a huge datagram.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/Endpoints.h"
#include "net/StunMessage.h"
#include "platform/UniqueFd.h"

namespace lumidex::testing {

struct StunScript {
    enum class Mode { Answer, Silent, Garbage, WrongId, Flood, Huge };
    Mode mode = Mode::Answer;
    std::string address = "127.0.0.1";
    // Set: an RFC 5780 server with this second address (and a second port).
    std::optional<std::string> otherAddress;
    // None: the sender's own address, as a server sees it without a NAT between.
    std::optional<stun::StunAddress> mapped;
    bool answerChangeIpAndPort = true;
    bool answerChangePort = true;
    // Answers a CHANGE-REQUEST from the address it came to, as a server without RFC 5780 does.
    bool ignoreChange = false;
    bool legacy = false;  // MAPPED-ADDRESS and CHANGED-ADDRESS
};

class StunResponder {
public:
    explicit StunResponder(StunScript script) : m_script(std::move(script)) {
        // Sockets: [0] primary address and port, [1] primary address, other port, [2] other
        // address, primary port, [3] other address and port.
        for (int attempt = 0; attempt < 20 && !Bind(); ++attempt) {
            m_sockets.clear();
        }
        m_thread = std::thread([this] { Serve(); });
    }
    ~StunResponder() {
        m_stop = true;
        m_thread.join();
    }
    StunResponder(const StunResponder&) = delete;
    StunResponder& operator=(const StunResponder&) = delete;

    endpoints::StunServer Server() const { return {m_script.address, m_ports[0]}; }
    std::optional<stun::StunAddress> OtherAddress() const {
        if (!m_script.otherAddress) {
            return std::nullopt;
        }
        return stun::StunAddress{*m_script.otherAddress, m_ports[1], false};
    }
    int Requests() const { return m_requests; }

private:
    bool Bind() {
        m_ports[0] = m_ports[1] = 0;
        if (!BindOne(m_script.address, 0, 0)) {
            return false;
        }
        if (!m_script.otherAddress) {
            return true;
        }
        return BindOne(m_script.address, 0, 1) && BindOne(*m_script.otherAddress, m_ports[0], 0) &&
               BindOne(*m_script.otherAddress, m_ports[1], 1);
    }

    bool BindOne(const std::string& address, std::uint16_t port, int which) {
        platform::UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(port);
        ::inet_pton(AF_INET, address.c_str(), &local.sin_addr);
        socklen_t size = sizeof local;
        if (!fd || ::bind(fd.get(), reinterpret_cast<sockaddr*>(&local), size) != 0 ||
            ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&local), &size) != 0) {
            return false;
        }
        m_ports[which] = ntohs(local.sin_port);
        m_sockets.push_back(std::move(fd));
        return true;
    }

    void Serve() {
        std::vector<pollfd> waits;
        for (const auto& fd : m_sockets) {
            waits.push_back({fd.get(), POLLIN, 0});
        }
        std::uint8_t buffer[2048];
        while (!m_stop) {
            if (::poll(waits.data(), waits.size(), 20) <= 0) {
                continue;
            }
            for (std::size_t i = 0; i < waits.size(); ++i) {
                if ((waits[i].revents & POLLIN) == 0) {
                    continue;
                }
                sockaddr_in from{};
                socklen_t size = sizeof from;
                const ssize_t got = ::recvfrom(waits[i].fd, buffer, sizeof buffer, MSG_DONTWAIT,
                                               reinterpret_cast<sockaddr*>(&from), &size);
                if (got > 0) {
                    Answer(i, {buffer, static_cast<std::size_t>(got)}, from);
                }
            }
        }
    }

    void Answer(std::size_t at, std::span<const std::uint8_t> request, const sockaddr_in& from) {
        stun::TransactionId id{};
        const auto change = stun::ReadBindingRequest(request, id);
        if (!change) {
            return;
        }
        ++m_requests;
        std::size_t reply = at;
        if (m_script.otherAddress && !m_script.ignoreChange) {
            if (change->changeIp && change->changePort) {
                if (!m_script.answerChangeIpAndPort) {
                    return;
                }
                reply = at ^ 3;
            } else if (change->changePort) {
                if (!m_script.answerChangePort) {
                    return;
                }
                reply = at ^ 1;
            }
        }
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
        stun::AnswerFields fields{id,
                                  true,
                                  stun::StunAddress{text, ntohs(from.sin_port), false},
                                  std::nullopt,
                                  std::nullopt,
                                  std::nullopt,
                                  m_script.legacy};
        if (m_script.mapped) {
            fields.mapped = m_script.mapped;
        }
        fields.other = OtherAddress();
        std::vector<std::uint8_t> answer = stun::WriteBindingAnswer(fields);
        switch (m_script.mode) {
            case StunScript::Mode::Answer:
                Send(reply, answer, from);
                return;
            case StunScript::Mode::Silent:
                return;
            case StunScript::Mode::Garbage:
                Send(reply, std::vector<std::uint8_t>(answer.size(), 0xA5), from);
                return;
            case StunScript::Mode::WrongId:
                answer[19] ^= 0xFF;
                Send(reply, answer, from);
                return;
            case StunScript::Mode::Flood:
                answer[19] ^= 0xFF;
                for (int i = 0; i < 500; ++i) {
                    Send(reply, answer, from);
                }
                return;
            case StunScript::Mode::Huge:
                answer.resize(60000);
                Send(reply, answer, from);
                return;
        }
    }

    void Send(std::size_t from, const std::vector<std::uint8_t>& bytes, const sockaddr_in& to) {
        ::sendto(m_sockets[from].get(), bytes.data(), bytes.size(), MSG_NOSIGNAL,
                 reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }

    StunScript m_script;
    std::vector<platform::UniqueFd> m_sockets;
    std::uint16_t m_ports[2] = {0, 0};
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_requests{0};
    std::thread m_thread;
};

}  // namespace lumidex::testing
