#include "service/AddressLabel.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "ServiceTestSupport.h"
#include "service/ServiceLimits.h"

namespace lumidex {
namespace {

TEST(AddressLabel, LongLabelsDecodeOnlyWhatTheBufferHolds) {
    std::vector<std::uint8_t> bytes;
    for (int i = 0; i < 100; ++i) {
        bytes.insert(bytes.end(), {10, 0, static_cast<std::uint8_t>(i), 1, 0x40, 0x1f});
    }
    const std::vector<ServerRecord> records = DecodeAddressLabel(testing::Base32(bytes));
    ASSERT_EQ(records.size(), kMaxLabelRecords);
    EXPECT_EQ(records.back().address.Dotted(), "10.0.85.1");
    EXPECT_EQ(records.back().port, 8000);

    const struct {
        std::size_t length;
        std::size_t records;
    } sizes[] = {{9, 0},    {10, 1},   {19, 1},   {20, 2},   {825, 85},
                 {826, 86}, {832, 86}, {833, 86}, {5000, 86}};
    for (const auto& s : sizes) {
        EXPECT_EQ(DecodeAddressLabel(std::string(s.length, 'A')).size(), s.records) << s.length;
    }
}

}  // namespace
}  // namespace lumidex
