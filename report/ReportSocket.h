// The report's own use of a TCP socket: connect, send, receive, each bounded in time. Kept
// apart from the exchange so it can give way to the product's shared TCP socket later.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/UniqueFd.h"

namespace lumidex::report {

class ReportSocket {
public:
    enum class ReceiveResult { Data, Closed, Failed, TimedOut };

    // False when no socket can be created.
    bool Open();
    // host: a dotted address when it starts with a digit, otherwise a name to resolve.
    // False when the name is unknown, the peer refuses, or timeoutMs passes.
    bool Connect(const std::string& host, std::uint16_t port, int timeoutMs);
    // Sends all of data in pieces of at most pieceBytes; false at the first failure or when
    // the peer takes nothing for timeoutMs.
    bool SendAll(std::string_view data, std::size_t pieceBytes, int timeoutMs);
    // Waits up to timeoutMs for bytes; received holds how many arrived.
    ReceiveResult Receive(char* buffer, std::size_t capacity, std::size_t& received, int timeoutMs);
    void Close() { m_fd.reset(); }

private:
    platform::UniqueFd m_fd;
};

}  // namespace lumidex::report
