// The socket layer's own promises beyond what the GET client tests show: sending in pieces
// of the size asked, the send and receive bounds, and Abort ending a receive that waits on
// another thread.
#include "platform/TcpSocket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "support/LoopbackServer.h"

namespace lumidex::platform {
namespace {

using Clock = std::chrono::steady_clock;
const std::uint32_t kLoopback = htonl(INADDR_LOOPBACK);

// A socket connected to a loopback listener, and the listener's end of the connection.
class TcpSocketTest : public ::testing::Test {
protected:
    void SetUp() override {
        listener = testing::LoopbackListener(1, port);
        ASSERT_TRUE(socket.Open());
        ASSERT_EQ(socket.Connect(kLoopback, port), ConnectResult::Connected);
        peer.reset(::accept(listener.get(), nullptr, nullptr));
        ASSERT_TRUE(peer);
    }

    std::uint16_t port = 0;
    UniqueFd listener;
    TcpSocket socket;
    UniqueFd peer;
};

TEST_F(TcpSocketTest, SendsEverythingInPiecesAndReceivesItBack) {
    // More than the socket buffers hold, so SendAll must wait for the reader in between.
    std::string data(8 << 20, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<char>(i * 7);
    }
    auto reader = std::async(std::launch::async, [&] {
        std::string got;
        char buffer[65536];
        ssize_t n = 0;
        while (got.size() < data.size() && (n = ::recv(peer.get(), buffer, sizeof buffer, 0)) > 0) {
            got.append(buffer, static_cast<std::size_t>(n));
        }
        ::send(peer.get(), "bye", 3, MSG_NOSIGNAL);
        return got;
    });
    EXPECT_TRUE(socket.SendAll(data, 4096));
    EXPECT_TRUE(reader.get() == data) << "the bytes arrived complete and in order";
    char reply[8] = {};
    socket.SetReceiveTimeout(2000);
    EXPECT_EQ(socket.Receive(reply, sizeof reply), 3);
    EXPECT_STREQ(reply, "bye");
}

TEST_F(TcpSocketTest, BoundsEndASilentReceiveAndAStalledSendApartFromAClose) {
    char c = 0;
    std::size_t received = 1;
    socket.SetReceiveTimeout(100);
    auto start = Clock::now();
    EXPECT_EQ(socket.Receive(&c, 1, received), ReceiveResult::TimedOut);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(100));
    EXPECT_EQ(received, 0u);

    // The peer reads nothing: once the buffers are full the send waits, then gives up.
    socket.SetSendTimeout(200);
    start = Clock::now();
    EXPECT_FALSE(socket.SendAll(std::string(64 << 20, 'x'), 65536));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(200));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));

    peer.reset();
    EXPECT_NE(socket.Receive(&c, 1, received), ReceiveResult::TimedOut) << "a close is no wait";
}

TEST_F(TcpSocketTest, AbortEndsAWaitingReceiveAndEveryLaterCall) {
    socket.SetReceiveTimeout(0);  // wait forever: only Abort can end it
    auto waiting = std::async(std::launch::async, [&] {
        char c = 0;
        return socket.Receive(&c, 1);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto start = Clock::now();
    socket.Abort();
    EXPECT_EQ(waiting.get(), -1);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(200));
    EXPECT_TRUE(socket.IsOpen()) << "Abort keeps the socket; Close lets it go";
    EXPECT_FALSE(socket.SendAll("x", 1));
    EXPECT_EQ(socket.Connect(kLoopback, port), ConnectResult::Aborted);
    EXPECT_TRUE(socket.Close());
    EXPECT_EQ(socket.Connect(kLoopback, port), ConnectResult::NotOpen);
    ASSERT_TRUE(socket.Open()) << "a new socket starts without the old abort";
    EXPECT_EQ(socket.Connect(kLoopback, port), ConnectResult::Connected);
    EXPECT_EQ(socket.Connect(0, port), ConnectResult::Unreachable) << "0.0.0.0 is refused";

    // Cancel is for good: a socket cancelled, held or not, never opens again.
    socket.Cancel();
    EXPECT_FALSE(socket.IsOpen());
    EXPECT_FALSE(socket.Open());
    EXPECT_EQ(socket.Connect(kLoopback, port), ConnectResult::Aborted);
    TcpSocket early;
    early.Cancel();
    EXPECT_FALSE(early.Open()) << "a cancel before the first Open sticks";
}

}  // namespace
}  // namespace lumidex::platform
