#include "net/UrlSplitter.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace lumidex {
namespace {

TEST(UrlSplitterTest, SplitsAbsoluteUrls) {
    const struct {
        const char* url;
        bool ok;
        UrlService service;
        const char* server;
        const char* object;
        std::uint16_t port;
    } rows[] = {
        {"http://channel.kelvora.com/channels.htm.xml", true, UrlService::Http,
         "channel.kelvora.com", "/channels.htm.xml", 80},
        {"HTTP://report.kelvora.com:8080/bbs?nm=%B4", true, UrlService::Http, "report.kelvora.com",
         "/bbs?nm=%B4", 8080},
        {"http://h", true, UrlService::Http, "h", "/", 80},
        {"http://h:/x", true, UrlService::Http, "h", "/x", 80},
        {"http://h?q=1#frag", true, UrlService::Http, "h", "/?q=1", 80},
        {"http://user:pw@h:81/p", true, UrlService::Http, "h", "/p", 81},
        {"https://h/", true, UrlService::Https, "h", "/", 443},
        {"ftp://h/file", true, UrlService::Ftp, "h", "/file", 21},
        {"kelvora://h/", true, UrlService::Unknown, "h", "/", 0},
        {"h/file", false, {}, "", "", 0},
        {"http:/h/file", false, {}, "", "", 0},
        {"http://", false, {}, "", "", 0},
        {"http://:80/", false, {}, "", "", 0},
        {"http://h:0/", false, {}, "", "", 0},
        {"http://h:65536/", false, {}, "", "", 0},
        {"http://h:8o/", false, {}, "", "", 0},
        {"http://h/a\tb", false, {}, "", "", 0},
        {"1http://h/", false, {}, "", "", 0},
    };
    for (const auto& row : rows) {
        SplitUrl split;
        ASSERT_EQ(SplitUrlText(row.url, split), row.ok) << row.url;
        if (row.ok) {
            EXPECT_EQ(split.service, row.service) << row.url;
            EXPECT_EQ(split.server, row.server) << row.url;
            EXPECT_EQ(split.object, row.object) << row.url;
            EXPECT_EQ(split.port, row.port) << row.url;
        }
    }
}

}  // namespace
}  // namespace lumidex
