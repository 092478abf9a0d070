// Parse speed of the channel-list XML parser beside libxml2's DOM parse of the same bytes: a
// generated channel list of about 1 MiB (channels with attributes, ".klv" URLs, comments),
// parsed repeatedly; the median of the rounds is reported.
//
//   bench_xml [rounds]   (default 40)

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "service/ServiceHostLists.h"
#include "service/XmlDocument.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kTargetBytes = 1024 * 1024;

std::string Label(unsigned seed, int records) {
    const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
    std::string label;
    for (int i = 0; i < records * 48 / 5 + 1; ++i) {
        seed = seed * 1103515245 + 12345;
        label += alphabet[(seed >> 16) & 31];
    }
    return label;
}

std::string MakeChannelList(const char* encoding) {
    std::string xml = std::string("<?xml version=\"1.0\" encoding=\"") + encoding + "\"?>\r\n";
    xml += "<!-- generated channel list -->\r\n<Channels>\r\n";
    for (unsigned i = 1; xml.size() < kTargetBytes; ++i) {
        const std::string id = std::to_string(i);
        xml += "  <Channel id=\"" + id + "\" name=\"channel " + id + "\" kind='live'>\r\n";
        xml += "    <URL>klv://" + Label(i, 1 + i % 4) + ".klv/live/" + id + "</URL>\r\n";
        if (i % 5 == 0) {
            xml += "    <URL>http://live.example.invalid/" + id + ".html</URL>\r\n";
            xml += "    <!-- mirror " + id + " -->\r\n";
        }
        xml += "  </Channel>\r\n";
    }
    return xml + "</Channels>\r\n";
}

double MedianSeconds(int rounds, const std::function<bool()>& parse) {
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        if (!parse()) {
            std::fprintf(stderr, "parse failed\n");
            std::exit(1);
        }
        times.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void Report(const char* what, const std::string& text, double seconds) {
    const double megabytes = static_cast<double>(text.size()) / (1024.0 * 1024.0);
    std::printf("%-44s %7.2f ms  %8.1f MB/s\n", what, seconds * 1000, megabytes / seconds);
}

bool LibXmlParse(const std::string& text) {
    xmlDocPtr doc = xmlReadMemory(text.data(), static_cast<int>(text.size()), "channels.xml",
                                  nullptr, XML_PARSE_NONET);
    if (doc == nullptr) {
        return false;
    }
    xmlFreeDoc(doc);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 40;
    const std::string gbList = MakeChannelList("gb2312");
    const std::string utf8List = MakeChannelList("UTF-8");
    std::printf("channel list: %zu bytes, %d rounds each, median\n", gbList.size(), rounds);

    lumidex::XmlDocument document;
    Report("XmlDocument::Parse (reused document)", gbList,
           MedianSeconds(rounds, [&] { return document.Parse(gbList, false); }));
    Report("XmlDocument::Parse (fresh, destroyed)", gbList, MedianSeconds(rounds, [&] {
               lumidex::XmlDocument local;
               return local.Parse(gbList, false);
           }));

    xmlInitParser();
    Report("libxml2 xmlReadMemory + xmlFreeDoc (gb2312)", gbList,
           MedianSeconds(rounds, [&] { return LibXmlParse(gbList); }));
    Report("libxml2 xmlReadMemory + xmlFreeDoc (UTF-8)", utf8List,
           MedianSeconds(rounds, [&] { return LibXmlParse(utf8List); }));
    xmlCleanupParser();

    // The whole channel-list step the service checks take: parse, walk, decode, insert.
    Report("ParseChannelList (parse, labels, lists)", gbList, MedianSeconds(rounds, [&] {
               lumidex::ServiceHostLists lists;
               lists.SetChannelListText(gbList);
               lists.ParseChannelList();
               return lists.ChannelServers().Size() > 0;
           }));
    return 0;
}
