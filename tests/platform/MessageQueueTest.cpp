#include "platform/MessageQueue.h"

#include <gtest/gtest.h>

#include <poll.h>

#include <atomic>
#include <future>
#include <thread>

namespace lumidex {
namespace {

bool Readable(int fd) {
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, 0) == 1;
}

TEST(MessageQueueTest, PostedTasksRunLaterInOrderOnTheOwnerThread) {
    platform::MessageQueue queue;
    std::vector<int> order;
    std::thread poster([&] {
        for (int i = 0; i < 5; ++i) {
            queue.Post([&order, i] { order.push_back(i); });
        }
    });
    poster.join();
    EXPECT_TRUE(order.empty()) << "posting never runs the task on the poster's thread";
    EXPECT_EQ(queue.ProcessPending(0), 5);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST(MessageQueueTest, SendWaitsForTheOwnerAndCloseReleasesWaiters) {
    platform::MessageQueue queue;
    std::atomic<bool> ran{false};
    auto sent = std::async(std::launch::async, [&] { return queue.Send([&] { ran = true; }); });
    EXPECT_EQ(sent.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    while (queue.ProcessPending(10) == 0) {
    }
    EXPECT_TRUE(sent.get());
    EXPECT_TRUE(ran);

    auto blocked = std::async(std::launch::async, [&] { return queue.Send([] {}); });
    EXPECT_EQ(blocked.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    queue.Close();
    EXPECT_FALSE(blocked.get());
    EXPECT_FALSE(queue.Send([] {})) << "a closed window answers at once";
    queue.Post([&] { ADD_FAILURE() << "posted after close"; });
    EXPECT_EQ(queue.ProcessPending(0), 0);
}

TEST(MessageQueueTest, WakeDescriptorIsReadableExactlyWhileWorkIsQueued) {
    platform::MessageQueue queue;
    ASSERT_GE(queue.WakeFd(), 0);
    EXPECT_FALSE(Readable(queue.WakeFd()));
    std::thread([&] { queue.Post([] {}); }).join();
    EXPECT_TRUE(Readable(queue.WakeFd()));
    EXPECT_EQ(queue.ProcessPending(0), 1);
    EXPECT_FALSE(Readable(queue.WakeFd())) << "nothing left: the loop may sleep";

    auto sent = std::async(std::launch::async, [&] { return queue.Send([] {}); });
    pollfd entry{queue.WakeFd(), POLLIN, 0};
    ASSERT_EQ(::poll(&entry, 1, 5000), 1) << "a sender wakes the owner's loop";
    EXPECT_EQ(queue.ProcessPending(0), 1);
    EXPECT_TRUE(sent.get());
    queue.Close();
    EXPECT_TRUE(Readable(queue.WakeFd())) << "closing wakes the loop too";
}

TEST(MessageQueueTest, SendOnTheOwnerThreadRunsAtOnce) {
    platform::MessageQueue queue;
    int value = 0;
    EXPECT_TRUE(queue.Send([&] { value = 1; }));
    EXPECT_EQ(value, 1);
}

}  // namespace
}  // namespace lumidex
