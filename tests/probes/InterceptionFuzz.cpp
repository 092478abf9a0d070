// Fuzz entry point of the interception judgement (tests/fuzz/CorpusMain.cpp replays its
// corpus): the public sites' answers come from whoever sits between this computer and the web,
// a portal or worse. The input is up to three answers split at NUL bytes, each a header (its
// first byte the status, the rest searched for Location) followed at its first blank line by a
// body. Returns 0; aborts when a finding names no host.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "probes/InterceptionJudge.h"

namespace {

constexpr int kStatuses[] = {0, 200, 301, 302, 303, 307, 308, 404};
constexpr const char* kSites[] = {"www.example.com", "example.org", "news.example.cn"};

[[noreturn]] void Broken(const char* what) {
    std::fprintf(stderr, "FuzzInterception: %s\n", what);
    std::abort();
}

}  // namespace

int FuzzInterception(const uint8_t* data, size_t size) {
    using namespace lumidex;
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<SiteAnswer> answers;
    for (const char* site : kSites) {
        const std::string_view piece = input.substr(0, input.find('\0'));
        input.remove_prefix(std::min(input.size(), piece.size() + 1));
        SiteAnswer answer;
        answer.site = site;
        if (!piece.empty()) {
            answer.status = kStatuses[static_cast<unsigned char>(piece[0]) % std::size(kStatuses)];
            const std::string_view rest = piece.substr(1);
            const std::size_t blank = rest.find("\r\n\r\n");
            const std::string_view header = rest.substr(0, blank);
            answer.location = HeaderFieldValue(header, "Location");
            if (blank != std::string_view::npos) {
                answer.body = std::string(rest.substr(blank + 4));
            }
        }
        RegistrableName(answer.location);
        answers.push_back(std::move(answer));
    }
    const std::optional<PortalFinding> portal = JudgeInterception(answers);
    if (!portal) {
        return 0;
    }
    // A finding always names the host the user is sent to.
    if (portal->host.empty()) {
        Broken("a portal without a host");
    }
    return 0;
}
