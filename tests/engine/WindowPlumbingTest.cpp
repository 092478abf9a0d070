// The window side the engine talks to: the queue that carries calls to the window thread,
// and the rows built from the item table.
#include <gtest/gtest.h>

#include <poll.h>

#include <atomic>
#include <future>
#include <thread>

#include "engine/CheckItem.h"
#include "engine/CheckListModel.h"
#include "engine/QueuedDiagWindow.h"
#include "platform/MessageQueue.h"

namespace lumidex {
namespace {

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

bool Readable(int fd) {
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, 0) == 1;
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

TEST(CheckListModelTest, TableOrderSeparatorsAndTheXpSp2Row) {
    const auto& table = CheckItemTable();
    ASSERT_EQ(table.size(), 20u);
    EXPECT_EQ(table.front().name, "本地IP");
    EXPECT_EQ(table[7].id, 0);
    EXPECT_EQ(table[12].name, "xpsp2补丁");
    EXPECT_EQ(table.back().name, "目录服务");

    CheckListModel model;
    model.Rebuild(false);
    ASSERT_EQ(model.RowCount(), 19);
    EXPECT_EQ(model.FindById(12), -1);
    EXPECT_EQ(model.FindById(13), 13);
    EXPECT_EQ(model.Row(7)->caption, "----------");
    EXPECT_TRUE(model.Row(7)->IsSeparator());
    EXPECT_EQ(model.FindByNamePrefix("IE代理"), 4);
    EXPECT_EQ(model.FindByNamePrefix("nothing"), -1);

    model.Rebuild(true);
    ASSERT_EQ(model.RowCount(), 20);
    EXPECT_EQ(model.FindById(12), 12);
    EXPECT_EQ(model.FindById(18), 19);
}

TEST(CheckListModelTest, SeparatorsAndMissingRowsIgnoreUpdates) {
    CheckListModel model;
    model.Rebuild(false);
    EXPECT_FALSE(model.SetStatus(7, CheckStatus::Error));
    EXPECT_FALSE(model.SetStatus(-1, CheckStatus::Error));
    EXPECT_FALSE(model.SetText(19, 1, "x"));
    EXPECT_FALSE(model.SetText(0, 2, "x"));
    EXPECT_TRUE(model.SetText(0, 1, "detail"));
    EXPECT_TRUE(model.SetText(0, 1, ""));
    EXPECT_EQ(model.Row(0)->detail, "");
}

TEST(QueuedDiagWindowTest, CallsFromTheWorkerChangeNothingUntilTheWindowThreadApplies) {
    QueuedDiagWindow window;
    std::thread worker([&] {
        window.PostItemText(0, 1, "192.0.2.10");
        window.PostItemStatus(0, CheckStatus::Warning);
        window.PostCurrentItem(-1);
        window.PostStatusText("本地IP...");
    });
    worker.join();
    EXPECT_EQ(window.Model().Row(0)->status, CheckStatus::NotChecked);
    window.ProcessPending(0);
    EXPECT_EQ(window.Model().Row(0)->detail, "192.0.2.10");
    EXPECT_EQ(window.Model().Row(0)->status, CheckStatus::Warning);
    EXPECT_EQ(window.CurrentRow(), -1);
    EXPECT_EQ(window.StatusLine(), "当前进度：本地IP...");
}

TEST(QueuedDiagWindowTest, ProgressKeepsToSixteenBitsAndItsRange) {
    QueuedDiagWindow window;
    window.SetProgressRange(70000);
    EXPECT_EQ(window.ProgressMaximum(), 0xFFFF);
    window.SetProgressRange(8);
    window.SetProgressPos(3);
    EXPECT_EQ(window.ProgressPosition(), 3);
    window.SetProgressPos(9);
    EXPECT_EQ(window.ProgressPosition(), 8);
    window.SetProgressRange(6);
    EXPECT_EQ(window.ProgressPosition(), 0) << "a new range starts at 0";
}

}  // namespace
}  // namespace lumidex
