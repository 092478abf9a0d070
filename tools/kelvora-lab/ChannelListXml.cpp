#include "tools/kelvora-lab/ChannelListXml.h"

#include <cstddef>
#include <string>

namespace lumidex::lab {

std::string BuildChannelListXml(const std::vector<ServerRecord>& channelServers,
                                const std::vector<ServerRecord>& trackers) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"gb2312\"?>\r\n";
    xml += "<!-- lab channel list -->\r\n<Channels>\r\n";
    for (std::size_t i = 0; i < channelServers.size(); ++i) {
        std::vector<ServerRecord> records{channelServers[i]};
        for (std::size_t j = i; j < trackers.size(); j += channelServers.size()) {
            records.push_back(trackers[j]);
        }
        const std::string id = std::to_string(i + 1);
        xml += "  <Channel id=\"" + id + "\" name=\"lab channel " + id + "\">\r\n";
        xml += "    <URL>klv://" + EncodeLabel(records) + ".klv/live/" + id + "</URL>\r\n";
        xml += "  </Channel>\r\n";
    }
    xml += "  <Channel id=\"0\" name=\"web\">\r\n";
    xml += "    <URL>http://live.lab.invalid/index.html</URL>\r\n";
    xml += "  </Channel>\r\n</Channels>\r\n";
    return xml;
}

std::string BuildMalformedChannelList() {
    return "<?xml version=\"1.0\" encoding=\"gb2312\"?>\r\n<Channels>\r\n  <Channel id=\"1\">\r\n"
           "    <URL>klv://AEBAGBBBDQ.klv/live/1</Channel>\r\n";
}

}  // namespace lumidex::lab
