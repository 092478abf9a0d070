#include "service/ServiceUrl.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ServiceTestSupport.h"
#include "service/AddressLabel.h"
#include "service/ServiceLimits.h"

namespace lumidex {
namespace {

std::string Records(const std::vector<ServerRecord>& records) {
    std::string out;
    for (const auto& r : records) {
        out += (out.empty() ? "" : " ") + r.address.Dotted() + ":" + std::to_string(r.port);
    }
    return out;
}

struct Case {
    const char* url;
    std::string scheme, user, password, host;
    int port;
    std::string path, fileName;
    char queryMark;
    std::string query;
    std::string records;  // decoded from an address host; empty for an ordinary one
};

TEST(ServiceUrl, SplitsTheUrlsOfChannelLists) {
    const Case cases[] = {
        {"klv://AEBAGBBBDQ.klv/live/1", "klv", "", "", "1.2.3.4", 7201, "live/1", "1", 0, "",
         "1.2.3.4:7201"},
        {"klv://AEBAGBBBDQFAAAABAAAA.klv/x", "klv", "", "", "1.2.3.4", 7201, "x", "", 0, "",
         "1.2.3.4:7201 10.0.0.1:0"},
        {"klv://aebagbbbdq.klv/", "klv", "", "", "1.2.3.4", 7201, "", "", 0, "", "1.2.3.4:7201"},
        // Skipped bytes still count towards the length: 10 bytes make 6, but the 45 bits of
        // the nine letters fill only five of them.
        {"klv://AEBAGBB=BD.klv", "klv", "", "", "1.2.3.4", 33, "", "", 0, "", "1.2.3.4:33"},
        {"klv://AEBAGBBBDQ==.klv", "klv", "", "", "1.2.3.4", 7201, "", "", 0, "", "1.2.3.4:7201"},
        // Too short for one record: an address host with nothing in it.
        {"klv://AEBAGBBBD.klv:5", "klv", "", "", "AEBAGBBBD", 5, "", "", 0, "", ""},
        {"klv://a.klv.example/x", "klv", "", "", "a.klv.example", 0, "x", "", 0, "", ""},
        {"klv://.klv/x", "klv", "", "", ".klv", 0, "x", "", 0, "", ""},
        {"klv://AEBAGBBBDQ.KLV/", "klv", "", "", "AEBAGBBBDQ.KLV", 0, "", "", 0, "", ""},
        {"http://u:p@AEBAGBBBDQ.klv:99/a/b/c.xml?q=1#f", "http", "u", "p", "1.2.3.4", 7201,
         "a/b/c.xml", "c.xml", '?', "q=1#f", "1.2.3.4:7201"},
        {"http://me@h:8080/p#frag", "http", "me", "", "h", 8080, "p", "", '#', "frag", ""},
        // Without a "/" first, a "?" stays in the host part.
        {"http://h?x=1/y", "http", "", "", "h?x=1", 0, "", "", '?', "x=1/y", ""},
        {"http://h#x", "http", "", "", "h", 0, "", "", '#', "x", ""},
        {"a:b://h/p", "b", "", "", "h", 0, "p", "", 0, "", ""},
        {"h:81/p/q", "", "", "", "h", 81, "p/q", "q", 0, "", ""},
        {"http://h//x", "http", "", "", "h", 0, "/x", "", 0, "", ""},
        {"http://h:70000/", "http", "", "", "h", 70000 & 0xffff, "", "", 0, "", ""},
        // Read as atoi reads it: a number past the int range saturates (here to INT_MIN).
        {"http://h:-99999999999/", "http", "", "", "h", 0, "", "", 0, "", ""},
        {"http://channel.kelvora.com/channels.htm.xml", "http", "", "", "channel.kelvora.com", 0,
         "channels.htm.xml", "", 0, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        ServiceUrl url;
        url.Split("stale://x:y@old:1/a/b?c");
        url.Split(c.url);
        EXPECT_EQ(url.url, c.url);
        EXPECT_EQ(url.scheme, c.scheme);
        EXPECT_EQ(url.user, c.user);
        EXPECT_EQ(url.password, c.password);
        EXPECT_EQ(url.host, c.host);
        EXPECT_EQ(url.port, c.port);
        EXPECT_EQ(url.path, c.path);
        EXPECT_EQ(url.fileName, c.fileName);
        EXPECT_EQ(url.queryMark, c.queryMark);
        EXPECT_EQ(url.query, c.query);
        EXPECT_EQ(url.addressHost, !c.records.empty() || c.host == "AEBAGBBBD");
        EXPECT_EQ(Records(url.addresses), c.records);
    }
    ServiceUrl empty;
    empty.Split("");
    EXPECT_EQ(empty.url, "");
    EXPECT_EQ(empty.host, "");
}

}  // namespace
}  // namespace lumidex
