#include "service/ServerList.h"

#include <gtest/gtest.h>

#include "ServiceTestSupport.h"

namespace lumidex {
namespace {

using testing::Contents;

TEST(ServerList, OneEntryPerAddressInLittleEndianOrder) {
    ServerList list;
    EXPECT_TRUE(list.InsertIfAbsent({{1, 2, 3, 9}}, 7201));
    EXPECT_FALSE(list.InsertIfAbsent({{1, 2, 3, 9}}, 9999));
    EXPECT_TRUE(list.InsertIfAbsent({{9, 9, 9, 1}}, 8000));
    EXPECT_TRUE(list.InsertIfAbsent({{255, 0, 0, 255}}, 1));
    EXPECT_EQ(Contents(list), "9.9.9.1:8000 1.2.3.9:7201 255.0.0.255:1");
    EXPECT_EQ(list.Find({{1, 2, 3, 9}}), 7201);
    EXPECT_EQ(list.Find({{9, 3, 2, 1}}), std::nullopt);
    list.Clear();
    EXPECT_TRUE(list.Empty());
}

}  // namespace
}  // namespace lumidex
