#include "service/HostsFileCheck.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "ServiceTestSupport.h"
#include "support/DiagnosisText.h"

namespace lumidex {
namespace {

using testing::ServiceLogCapture;

TEST(HostsFile, SortsProductMappingsByAddress) {
    const struct {
        const char* name;
        std::string text;
        int result;
        std::string wrong;
        std::string product;
        std::vector<std::string> log;
        std::vector<std::string> problems;  // "wrong name" or "product name", in file order
    } cases[] = {
        {"localhost only", "127.0.0.1 localhost\n::1 localhost\n", 1, "", "", {}, {}},
        {"empty file", "", 1, "", "", {}, {}},
        {"product name to loopback",
         "127.0.0.1 www.kelvora.com\n",
         0,
         "\r\n映射错误:127.0.0.1<->www.kelvora.com",
         "",
         {},
         {"wrong www.kelvora.com"}},
        {"private and public",
         "10.0.0.5 list.kelvora.com\r\n198.51.100.9   LIST1.Kelvora.NET x\r\n",
         0,
         "\r\n映射错误:10.0.0.5<->list.kelvora.com",
         "\r\nKLV映射:198.51.100.9<->list1.kelvora.net",
         {"\r\n[hosts file]198.51.100.9:1000<->list1.kelvora.net"},
         {"wrong list.kelvora.com", "product list1.kelvora.net"}},
        {"two of each joined by commas",
         "192.168.1.1 a.kelvora.com\n172.99.0.1 b.kelvora.com\n1.2.3.4 c.kelvora.com\n"
         "5.6.7.8 d.kelvora.com\n",
         0,
         "\r\n映射错误:192.168.1.1<->a.kelvora.com,\r\n映射错误:172.99.0.1<->b.kelvora.com",
         "\r\nKLV映射:1.2.3.4<->c.kelvora.com,\r\nKLV映射:5.6.7.8<->d.kelvora.com",
         {"\r\n[hosts file]1.2.3.4:1000<->c.kelvora.com",
          "\r\n[hosts file]5.6.7.8:1000<->d.kelvora.com"},
         {"wrong a.kelvora.com", "wrong b.kelvora.com", "product c.kelvora.com",
          "product d.kelvora.com"}},
        // The row keeps the file's bytes; the problem holds the name decoded.
        {"a name written in GBK",
         "127.0.0.1 \xB5\xC7.kelvora.com\n",
         0,
         "\r\n映射错误:127.0.0.1<->\xB5\xC7.kelvora.com",
         "",
         {},
         {"wrong \xE7\x99\xBB.kelvora.com"}},
        {"address given as a name",
         "myrouter www.kelvora.com\n",
         0,
         "\r\n映射错误:myrouter<->www.kelvora.com",
         "",
         {},
         {"wrong www.kelvora.com"}},
        {"unusable addresses",
         "0.1.2.3 www.kelvora.com\n255.1.2.3 x.kelvora.com",
         0,
         "\r\n映射错误:0.1.2.3<->www.kelvora.com,\r\n映射错误:255.1.2.3<->x.kelvora.com",
         "",
         {},
         {"wrong www.kelvora.com", "wrong x.kelvora.com"}},
        {"tab separator ignored", "127.0.0.1\twww.kelvora.com\n", 1, "", "", {}, {}},
        {"tab after the space",
         "127.0.0.1 \twww.kelvora.com\n",
         0,
         "\r\n映射错误:127.0.0.1<->www.kelvora.com",
         "",
         {},
         {"wrong www.kelvora.com"}},
        {"comment markers in column 0",
         "#127.0.0.1 www.kelvora.com\n;1.2.3.4 x.kelvora.com\n",
         1,
         "",
         "",
         {},
         {}},
        {"comment marker after a blank",
         " #127.0.0.1 www.kelvora.com\n",
         0,
         "\r\n映射错误:#127.0.0.1<->www.kelvora.com",
         "",
         {},
         {"wrong www.kelvora.com"}},
        {"marker after a blank, judged",
         " ;1.2.3.4 x.kelvora.com\n",
         0,
         "\r\n映射错误:;1.2.3.4<->x.kelvora.com",
         "",
         {},
         {"wrong x.kelvora.com"}},
        {"leading blanks before the address",
         "  \t1.2.3.4 www.kelvora.com",
         0,
         "",
         "\r\nKLV映射:1.2.3.4<->www.kelvora.com",
         {"\r\n[hosts file]1.2.3.4:1000<->www.kelvora.com"},
         {"product www.kelvora.com"}},
        {"7-character address accepted",
         "1.2.3.4 www.kelvora.com\n",
         0,
         "",
         "\r\nKLV映射:1.2.3.4<->www.kelvora.com",
         {"\r\n[hosts file]1.2.3.4:1000<->www.kelvora.com"},
         {"product www.kelvora.com"}},
        {"6-character address skipped", "1.2.34 www.kelvora.com\n", 1, "", "", {}, {}},
        {"domain anywhere in the name",
         "8.8.8.8 notkelvora.community\n",
         0,
         "",
         "\r\nKLV映射:8.8.8.8<->notkelvora.community",
         {"\r\n[hosts file]8.8.8.8:1000<->notkelvora.community"},
         {"product notkelvora.community"}},
        {"only the first name counts", "127.0.0.1 localhost www.kelvora.com\n", 1, "", "", {}, {}},
        {"address with a port",
         "1.2.3.4:80 www.kelvora.com",
         0,
         "",
         "\r\nKLV映射:1.2.3.4:80<->www.kelvora.com",
         {"\r\n[hosts file]1.2.3.4:1000<->www.kelvora.com"},
         {"product www.kelvora.com"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const HostsFileFindings findings = ScanHostsText(c.text);
        EXPECT_EQ(findings.result, c.result);
        EXPECT_EQ(findings.wrongMappings, c.wrong);
        EXPECT_EQ(findings.productMappings, c.product);
        EXPECT_EQ(findings.logLines, c.log);
        std::vector<std::string> problems;
        for (const Problem& problem : findings.problems) {
            const bool wrong = problem.code == ProblemCode::HostsMapsWrongAddress;
            ASSERT_TRUE(wrong || problem.code == ProblemCode::HostsMapsProductDomain);
            ASSERT_EQ(problem.targets.size(), 1u);
            problems.push_back((wrong ? "wrong " : "product ") + problem.targets[0]);
        }
        EXPECT_EQ(problems, c.problems);
    }
    // Problems stop at the row's bound; the log and the texts keep every mapping.
    std::string many;
    for (int i = 0; i < 600; ++i) {
        many += "198.51.100.9 s" + std::to_string(i) + ".kelvora.com\n";
    }
    const HostsFileFindings findings = ScanHostsText(many);
    EXPECT_EQ(findings.logLines.size(), 600u);
    EXPECT_EQ(findings.problems.size(), kMaxProblemsPerRow);
}

TEST(HostsFile, ReadsThroughThePathAndLogs) {
    ServiceLogCapture log;
    testing::TempDir dir;
    const std::string path = dir / "hosts";
    // A long line first, crossing the read buffer, then the mappings.
    testing::WriteFile(path, std::string(100000, 'x') +
                                 "\r\n127.0.0.1 www.kelvora.com\r\n"
                                 "198.51.100.9 list.kelvora.net");
    std::string wrong, product;
    testing::DiagnosisCapture diagnosis;
    EXPECT_EQ(CheckHostsFile(path, wrong, product), 0);
    EXPECT_EQ(diagnosis.Problems(),
              (std::vector<std::string>{
                  "error hosts_maps_wrong_address www.kelvora.com (127.0.0.1 www.kelvora.com)",
                  "warning hosts_maps_product_domain list.kelvora.net (198.51.100.9 "
                  "list.kelvora.net)"}));
    EXPECT_EQ(wrong, "\r\n映射错误:127.0.0.1<->www.kelvora.com");
    EXPECT_EQ(product, "\r\nKLV映射:198.51.100.9<->list.kelvora.net");
    EXPECT_EQ(log.Lines(),
              std::vector<std::string>{"\r\n[hosts file]198.51.100.9:1000<->list.kelvora.net"});

    for (const auto& [unreadable, reason] :
         {std::pair{dir / "missing", "No such file or directory"},
          std::pair{dir.path().string(), "not a file"}}) {
        ServiceLogCapture fresh;
        testing::DiagnosisCapture unread;
        wrong.clear();
        product.clear();
        EXPECT_EQ(CheckHostsFile(unreadable, wrong, product), 0) << unreadable;
        EXPECT_TRUE(wrong.empty());
        EXPECT_TRUE(product.empty());
        EXPECT_EQ(fresh.Lines(), std::vector<std::string>{"打开hosts file失败"});
        EXPECT_EQ(unread.Problems(), std::vector<std::string>{"error hosts_file_unreadable " +
                                                              unreadable + " (" + reason + ")"});
    }

    // A read error after the file opened ends it there: the whole lines before it count, the
    // line it cut does not.
    std::string_view rest = "127.0.0.1 www.kelvora.com\n198.51.100.9 list.kelvora.net";
    const HostsFileFindings cut = ScanHostsFile([&](char* buffer, std::size_t size) {
        const std::size_t take = std::min(size, rest.size());
        std::copy_n(rest.data(), take, buffer);
        rest.remove_prefix(take);
        return take == 0 ? std::ptrdiff_t{-1} : static_cast<std::ptrdiff_t>(take);
    });
    EXPECT_EQ(cut.result, 0);
    EXPECT_EQ(cut.wrongMappings, "\r\n映射错误:127.0.0.1<->www.kelvora.com");
    EXPECT_EQ(cut.productMappings, "");
}

TEST(HostsFile, WindowsPathByOperatingSystem) {
    const std::string windows = "C:\\WINDOWS";
    const std::string system = "C:\\WINDOWS\\system32";
    const std::string ntHosts = system + "\\drivers\\etc\\hosts";
    const struct {
        std::uint16_t flags;
        std::optional<std::string> path;
    } cases[] = {
        {0x0001, windows + "\\hosts.asm"},  // 95/98
        {0x0080, windows + "\\hosts.asm"},  // Me
        {0x0002, std::nullopt},             // NT 3.51, 4.0
        {0x0004, ntHosts},                  // 2000
        {0x0008, ntHosts},                  // XP
        {0x0010, ntHosts},                  // XP SP2
        {0x0020, ntHosts},                  // 2003
        {0x0040, ntHosts},                  // 2003 R2
        {0x0100, std::nullopt},             // Vista
        {0x0200, std::nullopt},             // Longhorn
        {0x0400, std::nullopt},             // 64-bit XP
        {0x0000, std::nullopt},             // not recognised
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WindowsHostsFilePath(c.flags, windows, system), c.path) << c.flags;
    }
    EXPECT_EQ(WindowsHostsFilePath(0x0008, windows, std::string(250, 'd')), std::nullopt);
}

}  // namespace
}  // namespace lumidex
