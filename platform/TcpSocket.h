// An IPv4 TCP socket with the blocking behaviour the checks expect from Windows sockets, and
// the two things Linux does not give a blocking socket: a connect bounded in time (Windows
// gives up after about 21 s, Linux only after about two minutes) and a connect that another
// thread can end at once. Every wait polls the socket together with a wake-up descriptor;
// Abort and Close signal it.
//
// Thread safety: one thread uses the socket (Open, Connect, Send, Receive); any other thread
// may call Abort or Close at any time. Close waits for a pending call to leave before it
// closes the descriptor, so no call ever polls a number that was closed and reused.
#pragma once

#include <sys/types.h>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string_view>

#include "platform/UniqueFd.h"

namespace lumidex::platform {

// What Windows allows a connect attempt to a silent host before it gives up.
inline constexpr int kDefaultConnectTimeoutMs = 21000;
// A send that cannot go on because the peer reads nothing gives up after this long, so a
// stalled peer cannot hold a sender forever (a blocking Windows send has no bound at all).
inline constexpr int kSendStallTimeoutMs = 21000;

enum class ReceiveResult {
    Data,      // some bytes arrived
    Closed,    // the peer closed its end
    TimedOut,  // the receive time-out passed with nothing
    Aborted,   // Abort or Close from another thread
    Failed,    // no socket, or an error from the system
};

enum class ConnectResult {
    Connected,
    Refused,      // the peer answered with a reset
    TimedOut,     // no answer within the time given
    Aborted,      // Abort or Close from another thread
    Unreachable,  // address 0.0.0.0, no route, or another error from the system
    NotOpen,      // no socket
};

const char* DescribeConnectResult(ConnectResult result);

class TcpSocket {
public:
    TcpSocket() = default;
    ~TcpSocket() { Close(); }
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;

    // Creates the socket unless one is held. False when the system refuses one, or after
    // Cancel.
    bool Open();
    bool IsOpen() const;

    // Bound on each wait for incoming data, as SO_RCVTIMEO is on Windows; <= 0 waits forever.
    void SetReceiveTimeout(int timeoutMs);

    // address in network byte order, port in host order. 0.0.0.0 is refused: Windows fails
    // such a connect, while Linux would quietly connect to this very machine.
    ConnectResult Connect(std::uint32_t address, std::uint16_t port,
                          int timeoutMs = kDefaultConnectTimeoutMs);

    // Bound on each wait for the peer to take more while sending; kSendStallTimeoutMs until
    // set, <= 0 waits forever.
    void SetSendTimeout(int timeoutMs);

    // Sends all of data in pieces of at most maxPiece bytes. False when a piece fails or the
    // send time-out passes.
    bool SendAll(std::string_view data, std::size_t maxPiece);

    // Receives up to size bytes. > 0: bytes received; 0: the peer closed; -1: error, the
    // receive time-out passed, or the socket was aborted.
    ssize_t Receive(void* buffer, std::size_t size);
    // The same, for a caller that treats a time-out apart from a close or an error; received
    // holds the count (0 unless Data).
    ReceiveResult Receive(void* buffer, std::size_t size, std::size_t& received);

    // Ends a pending or future Connect, Send or Receive at once; the socket stays held.
    void Abort();
    // Aborts, waits for the pending call (if any) to leave, shuts the connection down in both
    // directions and closes it. True when a socket was held.
    bool Close();
    // Close for good: every later Open fails, so a cancel from another thread that lands
    // before the owner opened the socket is not lost. Callable before Open.
    void Cancel();
    bool Cancelled() const { return m_cancelled; }

private:
    enum class WaitResult { Ready, TimedOut, Aborted, Failed };

    // Marks a blocking call as running on the descriptor; false when there is none.
    bool Enter(int& fd, int& wake);
    void Leave();
    WaitResult WaitFor(int fd, int wake, short events, int timeoutMs);

    mutable std::mutex m_mutex;
    std::condition_variable m_idle;
    UniqueFd m_fd;
    UniqueFd m_wake;                       // eventfd: readable once Abort ran
    int m_busy = 0;                        // blocking calls inside Enter/Leave
    std::atomic<bool> m_aborted{false};    // Abort or Close ran on the socket held
    std::atomic<bool> m_cancelled{false};  // Cancel ran: no socket is opened again
    std::atomic<int> m_receiveTimeoutMs{0};
    std::atomic<int> m_sendTimeoutMs{kSendStallTimeoutMs};
};

}  // namespace lumidex::platform
