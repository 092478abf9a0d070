// The window side the engine talks to: the calls queued for the window thread, and the rows
// built from the item table.
#include <gtest/gtest.h>

#include "engine/CheckItem.h"
#include "engine/CheckListModel.h"
#include "engine/QueuedDiagWindow.h"

namespace lumidex {
namespace {

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
