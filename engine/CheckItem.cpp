#include "engine/CheckItem.h"

#include "engine/CheckStatus.h"

namespace lumidex {

const std::vector<CheckItem>& CheckItemTable() {
    static const std::vector<CheckItem> table = {
        {1, "本地IP"},       {2, "默认网关"},  {3, "DNS服务器"},    {4, "IE脱机设置"},
        {5, "IE代理服务器"}, {6, "本地连接"},  {7, "Internet连接"}, {0, "分类符号"},
        {8, "操作系统"},     {9, "WMP版本号"}, {10, "asf文件关联"}, {11, "asx文件关联"},
        {12, "xpsp2补丁"},   {0, "分类符号"},  {13, "域名映射"},    {14, "网站服务"},
        {15, "资讯服务"},    {16, "列表服务"}, {17, "频道服务"},    {18, "目录服务"},
    };
    return table;
}

std::string_view CheckStatusName(CheckStatus status) {
    switch (status) {
        case CheckStatus::Error:
            return "Error";
        case CheckStatus::NotChecked:
            return "NotChecked";
        case CheckStatus::Ok:
            return "Ok";
        case CheckStatus::Warning:
            return "Warning";
    }
    return "NotChecked";
}

std::optional<CheckStatus> CheckStatusFromInt(int value) {
    if (value < 0 || value > 3) {
        return std::nullopt;
    }
    return static_cast<CheckStatus>(value);
}

}  // namespace lumidex
