// A scripted probe responder on a loopback address: records every datagram it receives and
// answers each with the datagrams its script gives, from its own address or from a second
// loopback address.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/UdpSocket.h"
#include "service/ServerRecord.h"

namespace lumidex::testing {

using Bytes = std::vector<std::uint8_t>;

struct ScriptedReply {
    Bytes bytes;
    bool fromOtherAddress = false;
};

// Request number (0-based) -> the replies to send.
using ReplyScript = std::function<std::vector<ScriptedReply>(int request)>;

class UdpResponder {
public:
    // lastByte picks 127.0.0.lastByte; the other address is 127.0.1.lastByte.
    UdpResponder(std::uint8_t lastByte, ReplyScript script) : m_script(std::move(script)) {
        if (m_socket.Open({{127, 0, 0, lastByte}, 0}) || m_other.Open({{127, 0, 1, lastByte}, 0}) ||
            m_socket.SetReceiveTimeout(std::chrono::milliseconds(20))) {
            throw std::runtime_error("cannot open a loopback responder");
        }
        m_record.address.bytes = {127, 0, 0, lastByte};
        m_record.port = m_socket.LocalEndpoint()->port;
        m_thread = std::thread([this] { Serve(); });
    }
    ~UdpResponder() {
        m_stop = true;
        m_thread.join();
    }
    UdpResponder(const UdpResponder&) = delete;
    UdpResponder& operator=(const UdpResponder&) = delete;

    const ServerRecord& Record() const { return m_record; }
    std::vector<Bytes> Received() {
        std::lock_guard lock(m_mutex);
        return m_received;
    }

    // Every responder appends its address's last byte here on each request, so a test can
    // see the order in which servers were probed.
    static std::vector<int>& Order() {
        static std::vector<int> order;
        return order;
    }
    static std::mutex& OrderMutex() {
        static std::mutex mutex;
        return mutex;
    }

private:
    void Serve() {
        while (!m_stop) {
            std::uint8_t buffer[2048];
            const auto datagram = m_socket.ReceiveFrom(buffer);
            if (!datagram) {
                continue;
            }
            int index = 0;
            {
                std::lock_guard lock(m_mutex);
                m_received.emplace_back(buffer, buffer + std::min(datagram->size, sizeof buffer));
                index = static_cast<int>(m_received.size()) - 1;
            }
            {
                std::lock_guard lock(OrderMutex());
                Order().push_back(m_record.address.bytes[3]);
            }
            for (const ScriptedReply& reply : m_script(index)) {
                auto& from = reply.fromOtherAddress ? m_other : m_socket;
                (void)from.SendTo(reply.bytes, datagram->sender);
            }
        }
    }

    ReplyScript m_script;
    platform::UdpSocket m_socket;
    platform::UdpSocket m_other;
    ServerRecord m_record;
    std::mutex m_mutex;
    std::vector<Bytes> m_received;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

}  // namespace lumidex::testing
