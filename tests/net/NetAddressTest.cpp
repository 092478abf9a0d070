// Parsing and judging "host[:port]" texts.
#include "net/NetAddress.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

namespace {

using lumidex::kNoAddress;
using lumidex::NetAddress;

TEST(NetAddress, ParseSplitsHostAndPortAsTheCLibraryReadsThem) {
    struct Row {
        const char* text;
        bool resolve;
        std::uint32_t address;
        std::uint16_t port;
        bool usable;
    } rows[] = {
        {"10.0.0.1:8080", false, ::inet_addr("10.0.0.1"), 8080, true},
        {"10.0.0.1", false, ::inet_addr("10.0.0.1"), 0, false},
        {"10.0.0.1:80:90", false, ::inet_addr("10.0.0.1"), 80, true},
        {"10.0.0.1: 12x", false, ::inet_addr("10.0.0.1"), 12, true},
        {"10.0.0.1:abc", false, ::inet_addr("10.0.0.1"), 0, false},
        {"10.0.0.1:99999", false, ::inet_addr("10.0.0.1"), 34463, true},
        {"10.0.0.1:-1", false, ::inet_addr("10.0.0.1"), 65535, true},
        {"10.0.0.1:99999999999999999999", false, ::inet_addr("10.0.0.1"), 65535, true},
        {":80", false, kNoAddress, 0, false},
        {"some.host:80", false, kNoAddress, 80, false},
        {"localhost:81", true, ::inet_addr("127.0.0.1"), 81, true},
        {"0.1.2.3:80", false, ::inet_addr("0.1.2.3"), 80, false},
        {"255.1.2.3:80", false, ::inet_addr("255.1.2.3"), 80, false},
        {"255.255.255.255:80", false, kNoAddress, 80, false},
        {"", false, kNoAddress, 0, false},
        {nullptr, true, 0, 0, false},
    };
    for (const Row& row : rows) {
        NetAddress address{1, 1};
        address.Parse(row.text, row.resolve);
        const char* shown = row.text != nullptr ? row.text : "(null)";
        EXPECT_EQ(address.address, row.address) << shown;
        EXPECT_EQ(address.port, row.port) << shown;
        EXPECT_EQ(address.IsUsable(), row.usable) << shown;
    }
}

TEST(NetAddress, PrivateRangesAndText) {
    struct Row {
        const char* address;
        bool isPrivate;
    } rows[] = {
        {"127.0.0.1", true},  {"10.1.2.3", true},    {"172.200.1.1", true},
        {"172.16.0.1", true}, {"192.168.0.1", true}, {"192.169.0.1", false},
        {"11.0.0.1", false},  {"8.8.8.8", false},    {"191.168.0.1", false},
    };
    for (const Row& row : rows) {
        NetAddress address;
        address.Parse(row.address, false);
        EXPECT_EQ(address.IsPrivate(), row.isPrivate) << row.address;
    }
    NetAddress address;
    address.Parse("192.168.1.1:80", false);
    EXPECT_EQ(address.ToString(), "192.168.1.1:80");
    EXPECT_EQ(NetAddress{}.ToString(), "0.0.0.0:0");
}

}  // namespace
