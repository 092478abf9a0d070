#include "probes/InterceptionJudge.h"

#include <algorithm>
#include <array>

#include "net/UrlSplitter.h"
#include "platform/AsciiCase.h"
#include "platform/TextCodec.h"

namespace lumidex {
namespace {

bool IsRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// The host of an absolute http or https URL, lower case; empty for anything else (a
// relative redirect stays on the site that sent it).
std::string HttpUrlHost(std::string_view url) {
    SplitUrl split;
    if (!SplitUrlText(url, split) ||
        (split.service != UrlService::Http && split.service != UrlService::Https)) {
        return {};
    }
    return platform::FoldName(split.server);
}

// The site as the Host field named it, without a port, lower case.
std::string SiteHost(std::string_view site) {
    return platform::FoldName(site.substr(0, site.find(':')));
}

bool IsDottedAddress(std::string_view host) {
    return !host.empty() && std::all_of(host.begin(), host.end(),
                                        [](char c) { return c == '.' || (c >= '0' && c <= '9'); });
}

bool IsOneOfTheSites(const std::string& host, const std::vector<SiteAnswer>& answers) {
    const std::string registrable = RegistrableName(host);
    return std::any_of(answers.begin(), answers.end(), [&](const SiteAnswer& answer) {
        return RegistrableName(SiteHost(answer.site)) == registrable;
    });
}

std::optional<PortalFinding> JudgeRedirects(const std::vector<SiteAnswer>& answers) {
    std::string portalHost;
    std::string firstUrl;
    int redirected = 0;
    for (const SiteAnswer& answer : answers) {
        if (!IsRedirect(answer.status)) {
            continue;
        }
        const std::string host = HttpUrlHost(answer.location);
        if (host.empty() || IsOneOfTheSites(host, answers)) {
            continue;
        }
        if (portalHost.empty()) {
            portalHost = host;
            firstUrl = answer.location;
        } else if (host != portalHost) {
            return std::nullopt;  // sent elsewhere each: no one host stands in front of them
        }
        ++redirected;
    }
    if (redirected < 2) {
        return std::nullopt;
    }
    return PortalFinding{portalHost, firstUrl};
}

bool IsBlank(std::string_view text) {
    return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

// A byte a URL written into a page may hold (RFC 3986 2.2, 2.3 and 2.1's "%"), less the
// apostrophe, which ends the URL when the page quotes it with apostrophes. Anything else ends
// it: a blank, a control, a quote, an angle bracket, and every byte from 0x80 on, so that the
// text around the URL in the page's own encoding (a GBK full-width comma) stays out of it.
bool IsUrlByte(char c) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x80) {
        return false;
    }
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
        return true;
    }
    return std::string_view("-._~:/?#[]@!$&()*+,;=%").find(c) != std::string_view::npos;
}

// The first "http://" or "https://" URL in a page, up to the first byte no URL holds.
std::string FirstAbsoluteUrl(std::string_view page) {
    std::size_t best = std::string_view::npos;
    for (const std::string_view scheme :
         {std::string_view("http://"), std::string_view("https://")}) {
        best = std::min(best, page.find(scheme));
    }
    if (best == std::string_view::npos) {
        return {};
    }
    const std::string_view url = page.substr(best);
    const auto end = std::find_if_not(url.begin(), url.end(), IsUrlByte);
    return std::string(url.begin(), end);
}

std::optional<PortalFinding> JudgeSamePages(const std::vector<SiteAnswer>& answers) {
    for (std::size_t i = 0; i < answers.size(); ++i) {
        const SiteAnswer& first = answers[i];
        if (first.status != 200 || IsBlank(first.body)) {
            continue;
        }
        for (std::size_t j = i + 1; j < answers.size(); ++j) {
            const SiteAnswer& other = answers[j];
            if (other.status != 200 || other.body != first.body ||
                SiteHost(other.site) == SiteHost(first.site)) {
                continue;
            }
            const std::string url = FirstAbsoluteUrl(first.body);
            const std::string host = HttpUrlHost(url);
            if (host.empty()) {
                return PortalFinding{SiteHost(first.site), {}};
            }
            return PortalFinding{host, url};
        }
    }
    return std::nullopt;
}

}  // namespace

std::string RegistrableName(std::string_view host) {
    std::string name = platform::FoldName(host);
    while (!name.empty() && name.back() == '.') {
        name.pop_back();
    }
    if (IsDottedAddress(name)) {
        return name;
    }
    // Second-level labels that countries register names under ("com.cn", "co.uk", "ac.jp").
    constexpr std::array kGenericSecondLevel = {"ac",  "co",  "com", "edu",
                                                "gov", "net", "or",  "org"};
    std::vector<std::string_view> labels;
    for (std::size_t start = 0; start <= name.size();) {
        const std::size_t dot = std::min(name.find('.', start), name.size());
        labels.push_back(std::string_view(name).substr(start, dot - start));
        start = dot + 1;
    }
    std::size_t keep = 2;
    if (labels.size() >= 3 && labels.back().size() == 2 &&
        std::find(kGenericSecondLevel.begin(), kGenericSecondLevel.end(),
                  labels[labels.size() - 2]) != kGenericSecondLevel.end()) {
        keep = 3;
    }
    if (labels.size() <= keep) {
        return name;
    }
    std::string out;
    for (std::size_t i = labels.size() - keep; i < labels.size(); ++i) {
        out += (out.empty() ? "" : ".") + std::string(labels[i]);
    }
    return out;
}

std::optional<PortalFinding> JudgeInterception(const std::vector<SiteAnswer>& answers) {
    std::optional<PortalFinding> portal = JudgeRedirects(answers);
    if (!portal) {
        portal = JudgeSamePages(answers);
    }
    if (portal) {
        // A Location field is bytes as the portal sent them, in no encoding it says.
        portal->host = platform::ValidUtf8(portal->host);
        portal->url = platform::ValidUtf8(portal->url);
    }
    return portal;
}

ResolverFinding JudgeResolverAnswers(
    const std::vector<std::string>& nonexistentNameAddresses,
    const std::vector<std::pair<std::string, std::vector<std::string>>>& productAddresses) {
    ResolverFinding finding;
    finding.nonexistentNameAddresses = nonexistentNameAddresses;
    for (const auto& [name, addresses] : productAddresses) {
        const bool shared = std::any_of(addresses.begin(), addresses.end(), [&](const auto& a) {
            return std::find(nonexistentNameAddresses.begin(), nonexistentNameAddresses.end(), a) !=
                   nonexistentNameAddresses.end();
        });
        if (shared) {
            finding.hijackedNames.push_back(name);
        }
    }
    return finding;
}

std::string HeaderFieldValue(std::string_view header, std::string_view name) {
    std::size_t start = header.find('\n');  // past the status line
    while (start != std::string_view::npos && start + 1 < header.size()) {
        ++start;
        const std::size_t end = std::min(header.find('\n', start), header.size());
        const std::string_view line = header.substr(start, end - start);
        const std::size_t colon = line.find(':');
        if (colon != std::string_view::npos && platform::NamesEqual(line.substr(0, colon), name)) {
            std::string_view value = line.substr(colon + 1);
            const std::size_t first = value.find_first_not_of(" \t");
            const std::size_t last = value.find_last_not_of(" \t\r");
            if (first == std::string_view::npos) {
                return {};
            }
            return std::string(value.substr(first, last - first + 1));
        }
        start = end;
    }
    return {};
}

}  // namespace lumidex
