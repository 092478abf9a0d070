// The rules that tell a portal from real sites, case by case as real portals and real sites
// answer.
#include "probes/InterceptionJudge.h"

#include <gtest/gtest.h>

namespace lumidex {
namespace {

SiteAnswer Redirect(const char* site, int status, const char* location) {
    return {site, status, location, {}};
}
SiteAnswer Page(const char* site, const char* body) {
    return {site, 200, {}, body};
}
SiteAnswer Silent(const char* site) {
    return {site, 0, {}, {}};
}

TEST(Interception, PortalsAreToldFromRealSites) {
    const char* kLogin = "<html><form action=\"http://10.1.0.1:8002/login.php?r=1\">";
    // "请先登录：http://10.1.0.1/portal，谢谢" in GBK: a full-width colon before, comma after.
    const char* kGbkLogin =
        "\xC7\xEB\xCF\xC8\xB5\xC7\xC2\xBC\xA3\xBAhttp://10.1.0.1/portal?a=1"
        "\xA3\xAC\xD0\xBB\xD0\xBB</p>";
    const std::string kReplacement = "\xEF\xBF\xBD";
    struct Case {
        const char* name;
        std::vector<SiteAnswer> answers;
        std::optional<PortalFinding> expected;
    };
    const std::vector<Case> cases = {
        {"302 to one login host",
         {Redirect("www.baidu.com", 302, "http://login.portal.lab/?url=http://www.baidu.com/"),
          Redirect("www.qq.com", 302, "http://login.portal.lab/?url=http://www.qq.com/"),
          Redirect("www.sina.com.cn", 302, "http://login.portal.lab/?url=http://www.sina.com.cn/")},
         PortalFinding{"login.portal.lab", "http://login.portal.lab/?url=http://www.baidu.com/"}},
        {"303 and 307 to an address, host case ignored, one site silent",
         {Redirect("www.baidu.com", 303, "https://10.1.0.1/Auth"), Silent("www.qq.com"),
          Redirect("www.sina.com.cn", 307, "https://10.1.0.1/Auth?b")},
         PortalFinding{"10.1.0.1", "https://10.1.0.1/Auth"}},
        {"301 and 308 count too",
         {Redirect("a.example", 301, "http://Hotspot.Example/"),
          Redirect("b.example", 308, "http://hotspot.example/x")},
         PortalFinding{"hotspot.example", "http://Hotspot.Example/"}},
        {"one login page for every site, found by its form",
         {Page("www.baidu.com", kLogin), Page("www.qq.com", kLogin), Silent("www.sina.com.cn")},
         PortalFinding{"10.1.0.1", "http://10.1.0.1:8002/login.php?r=1"}},
        {"a GBK login page: its URL ends at the first byte no URL holds",
         {Page("www.baidu.com", kGbkLogin), Page("www.qq.com", kGbkLogin)},
         PortalFinding{"10.1.0.1", "http://10.1.0.1/portal?a=1"}},
        {"a URL ends at a control byte",
         {Page("a.example", "go http://10.1.0.1/x\x01y"),
          Page("b.example", "go http://10.1.0.1/x\x01y")},
         PortalFinding{"10.1.0.1", "http://10.1.0.1/x"}},
        {"a URL ends at a backslash",
         {Page("c.example", "http://10.1.0.2/p\\q"), Page("d.example", "http://10.1.0.2/p\\q")},
         PortalFinding{"10.1.0.2", "http://10.1.0.2/p"}},
        {"raw bytes in a Location become replacement characters",
         {Redirect("www.baidu.com", 302, "http://login.portal.lab/?m=\xB5\xC7\xFF"),
          Redirect("www.qq.com", 302, "http://login.portal.lab/?m=\xB5\xC7\xFF")},
         PortalFinding{"login.portal.lab",
                       "http://login.portal.lab/?m=" + kReplacement + kReplacement + kReplacement}},
        {"one page without a link: the first site stands for it",
         {Page("www.baidu.com", "blocked"), Page("www.qq.com", "blocked")},
         PortalFinding{"www.baidu.com", ""}},
        {"a single redirect is no evidence",
         {Redirect("www.baidu.com", 302, "http://login.portal.lab/"), Silent("www.qq.com"),
          Page("www.sina.com.cn", "<html>sina</html>")},
         std::nullopt},
        {"sites that send to their own www., bare or https names",
         {Redirect("baidu.com", 301, "http://www.baidu.com/"),
          Redirect("www.qq.com", 302, "https://www.qq.com/"),
          Redirect("www.sina.com.cn", 301, "http://sina.com.cn/"),
          Redirect("www.yahoo.com", 302, "https://consent.yahoo.com/v2")},
         std::nullopt},
        {"two sites of one domain sending to that domain's login host",
         {Redirect("www.example.co.uk", 302, "http://login.example.co.uk/"),
          Redirect("example.co.uk", 302, "http://login.example.co.uk/")},
         std::nullopt},
        {"redirects to different hosts",
         {Redirect("www.baidu.com", 302, "http://a.cdn.example/"),
          Redirect("www.qq.com", 302, "http://b.cdn.example/")},
         std::nullopt},
        {"relative redirects and other statuses",
         {Redirect("www.baidu.com", 302, "/index.html"), Redirect("www.qq.com", 302, "/"),
          Redirect("www.sina.com.cn", 304, "http://login.portal.lab/"),
          Redirect("www.163.com", 404, "http://login.portal.lab/")},
         std::nullopt},
        {"a redirect to another scheme",
         {Redirect("www.baidu.com", 302, "ftp://login.portal.lab/"),
          Redirect("www.qq.com", 302, "ftp://login.portal.lab/")},
         std::nullopt},
        {"pages of their own, empty pages, nothing at all",
         {Page("www.baidu.com", "<html>baidu</html>"), Page("www.qq.com", "<html>qq</html>"),
          Page("www.sina.com.cn", " \r\n"), Page("www.163.com", " \r\n"), Silent("www.sohu.com")},
         std::nullopt},
        {"no site answered", {Silent("www.baidu.com"), Silent("www.qq.com")}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<PortalFinding> got = JudgeInterception(c.answers);
        ASSERT_EQ(got.has_value(), c.expected.has_value());
        if (got) {
            EXPECT_EQ(got->host, c.expected->host);
            EXPECT_EQ(got->url, c.expected->url);
        }
    }
}

TEST(Interception, RegistrableNamesAndHeaderFields) {
    for (const auto& [host, registrable] :
         std::vector<std::pair<const char*, const char*>>{{"www.baidu.com", "baidu.com"},
                                                          {"WWW.Baidu.COM.", "baidu.com"},
                                                          {"news.sina.com.cn", "sina.com.cn"},
                                                          {"www.bbc.co.uk", "bbc.co.uk"},
                                                          {"www.example.de", "example.de"},
                                                          {"localhost", "localhost"},
                                                          {"10.1.0.1", "10.1.0.1"}}) {
        EXPECT_EQ(RegistrableName(host), registrable) << host;
    }
    const std::string head =
        "HTTP/1.1 302 Found\r\nLocationX: no\r\nlocation:  http://a/b \r\nLocation: http://c/\r\n";
    EXPECT_EQ(HeaderFieldValue(head, "Location"), "http://a/b");
    EXPECT_EQ(HeaderFieldValue(head, "Content-Type"), "");
    EXPECT_EQ(HeaderFieldValue("Location: http://status-line/\r\n", "Location"), "");
}

TEST(Interception, ProductNamesSharingTheInventedNamesAddressAreHijacked) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> products = {
        {"channel.kelvora.com", {"198.51.100.90"}},
        {"www.kelvora.com", {"198.51.100.11"}},
        {"list.kelvora.net", {"198.51.100.12", "198.51.100.90"}},
        {"search.kelvora.com", {}}};
    const ResolverFinding hijacked = JudgeResolverAnswers({"198.51.100.90"}, products);
    EXPECT_EQ(hijacked.nonexistentNameAddresses, std::vector<std::string>{"198.51.100.90"});
    EXPECT_EQ(hijacked.hijackedNames,
              (std::vector<std::string>{"channel.kelvora.com", "list.kelvora.net"}));
    EXPECT_TRUE(JudgeResolverAnswers({"198.51.100.91"}, products).hijackedNames.empty());
    const ResolverFinding honest = JudgeResolverAnswers({}, products);
    EXPECT_TRUE(honest.nonexistentNameAddresses.empty());
    EXPECT_TRUE(honest.hijackedNames.empty());
}

}  // namespace
}  // namespace lumidex
