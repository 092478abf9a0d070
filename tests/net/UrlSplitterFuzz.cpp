// Fuzz entry point of the GET client's URL splitter (tests/fuzz/CorpusMain.cpp replays its
// corpus): returns 0, aborts when the splitter breaks a promise.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "net/UrlSplitter.h"

int FuzzUrlSplitter(const uint8_t* data, size_t size) {
    using lumidex::SplitUrl;
    const std::string_view url(reinterpret_cast<const char*>(data), size);
    SplitUrl split;
    if (!lumidex::SplitUrlText(url, split)) {
        return 0;
    }
    // The parts written out again as scheme://server[:port]object split the same way.
    std::string again(url.substr(0, url.find(':')));
    again += "://" + split.server;
    if (split.port != 0) {
        again += ":" + std::to_string(split.port);
    }
    again += split.object;
    SplitUrl second;
    if (split.server.empty() || !split.object.starts_with('/') ||
        !lumidex::SplitUrlText(again, second) || second.service != split.service ||
        second.server != split.server || second.port != split.port ||
        second.object != split.object) {
        std::fprintf(stderr, "FuzzUrlSplitter: the parts do not split the same way again\n");
        std::abort();
    }
    return 0;
}
