#include "report/ReportBody.h"

#include <unistd.h>

#include "platform/TextCodec.h"
#include "report/ReportLimits.h"
#include "report/UrlEscape.h"

namespace lumidex::report {
namespace {

std::string Escaped(const std::string& utf8) {
    return UrlEscape(platform::Utf8ToGbk(utf8));
}

}  // namespace

std::string FormatContactBlock(const ContactDetails& contact) {
    return "Title:KLV诊断日志\r\nclubId=" + contact.clubId + "\r\nQQ=" + contact.qq +
           "\r\nMSN=" + contact.msn + "\r\nemail=" + contact.email +
           "\r\n描述信息=" + contact.note + "\r\n";
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

}  // namespace lumidex::report
