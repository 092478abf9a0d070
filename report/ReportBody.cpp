#include "report/ReportBody.h"

#include <unistd.h>

#include "platform/TextCodec.h"
#include "report/ReportLimits.h"
#include "report/UrlEscape.h"

namespace lumidex {
namespace {

std::string Escaped(const std::string& utf8) {
    return UrlEscape(platform::Utf8ToGbk(utf8));
}

}  // namespace

std::string WithCrLfLineBreaks(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\r' && c != '\n') {
            out += c;
            continue;
        }
        out += "\r\n";
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            ++i;
        }
    }
    return out;
}

std::string FormatContactBlock(const ContactDetails& contact) {
    return "Title:KLV诊断日志\r\nclubId=" + WithCrLfLineBreaks(contact.clubId) +
           "\r\nQQ=" + WithCrLfLineBreaks(contact.qq) +
           "\r\nMSN=" + WithCrLfLineBreaks(contact.msn) +
           "\r\nemail=" + WithCrLfLineBreaks(contact.email) +
           "\r\n描述信息=" + WithCrLfLineBreaks(contact.note) + "\r\n";
}

std::string BuildReportBody(const std::string& hostName, const std::string& findings,
                            const ContactDetails& contact) {
    return "fg=brindlebbspost&nm=Brindle&ti=" + Escaped(kReportTitle) +
           "&user=" + Escaped(hostName) + "&co=" + Escaped(findings) + "\r\n" +
           Escaped(FormatContactBlock(contact));
}

std::string LocalHostName() {
    char name[kHostNameBytes] = {};
    if (::gethostname(name, sizeof name - 1) != 0) {
        return {};
    }
    return name;
}

}  // namespace lumidex
