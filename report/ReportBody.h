// What a report says: the contact block the user filled in and the form body that carries
// it with the run's findings and the computer's name.
#pragma once

#include <string>
#include <string_view>

namespace lumidex {

inline constexpr char kReportTitle[] = "KLV客户端错误诊断";
inline constexpr char kSubmitSucceeded[] = "发送错误检测日志成功!.";
inline constexpr char kSubmitFailed[] = "发送错误报告失败!网络可能不正常.";
// Both outcome boxes carry this caption, the success box as well.
inline constexpr char kSubmitCaption[] = "错误";

// The five fields of the report form, UTF-8, as typed.
struct ContactDetails {
    std::string qq;
    std::string msn;
    std::string clubId;
    std::string email;
    std::string note;  // the "additional information"; may hold line breaks
};

// Every line break as the report form's multi-line edit hands it over: CR LF, a lone CR and a
// lone LF each become CR LF. Both front ends go through it, so a note typed in the form and
// one given on a command line put the same bytes on the wire.
std::string WithCrLfLineBreaks(std::string_view text);

// Every field with its line breaks as CR LF (WithCrLfLineBreaks), in
// "Title:KLV诊断日志\r\nclubId=...\r\nQQ=...\r\nMSN=...\r\nemail=...\r\n描述信息=...\r\n"
std::string FormatContactBlock(const ContactDetails& contact);

// The POST body as sent, in GBK: the four texts (UTF-8 here) converted, escaped and placed in
// "fg=brindlebbspost&nm=Brindle&ti=%s&user=%s&co=%s\r\n%s".
std::string BuildReportBody(const std::string& hostName, const std::string& findings,
                            const ContactDetails& contact);

// This computer's name as gethostname gives it (empty when it cannot be read).
std::string LocalHostName();

}  // namespace lumidex
