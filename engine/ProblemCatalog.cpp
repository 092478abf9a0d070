#include "engine/ProblemCatalog.h"

#include <array>

namespace lumidex {
namespace {

using enum ProblemCode;
using enum Severity;

constexpr ItemRange Row(int itemId) {
    return {itemId, itemId};
}

constexpr ItemRange Rows(int first, int last) {
    return {first, last};
}

constexpr ItemRange kP2pBlock{kP2pBlockItem, kP2pBlockItem};
constexpr ItemRange kPathBlock{kPathBlockItem, kPathBlockItem};

// Kept in the order of ProblemCode: InfoOf indexes it.
constexpr std::array kCatalog = {
    ProblemInfo{
        NoLocalAddress, "no_local_address", Error, Row(1),
        "本机没有可用的IP地址：用 ip addr 查看网卡是否已获得地址，用 nmcli device 查看连接状态，"
        "必要时重新连接网络或检查网线、无线网络。"},
    ProblemInfo{
        LocalAddressFromHostName, "local_address_from_host_name", Info, Row(1),
        "网卡上没有找到带默认网关的地址，本机地址取自主机名：用 ip route 查看默认路由是否存在。"},
    ProblemInfo{GatewayNotConfigured, "gateway_not_configured", Error, Row(2),
                "没有默认网关：用 ip route 查看是否有 default 路由；使用DHCP时重新连接网络，"
                "手动配置时在网络设置中填写网关。"},
    ProblemInfo{GatewayUnreachable, "gateway_unreachable", Warning, Row(2),
                "默认网关不回应ping：检查网线或无线信号，重启路由器；部分路由器关闭了ping回应，"
                "若能上网可忽略。"},
    ProblemInfo{GatewayPacketLoss, "gateway_packet_loss", Info, Row(2),
                "到默认网关有丢包：无线信号弱或局域网拥塞，靠近路由器或改用有线连接，"
                "用 ping 网关地址观察丢包。"},
    ProblemInfo{
        GatewaySlow, "gateway_slow", Info, Row(2),
        "默认网关回应很慢：局域网拥塞或路由器负载过高，暂停其他大流量下载，必要时重启路由器。"},
    ProblemInfo{DnsNotConfigured, "dns_not_configured", Error, Row(3),
                "没有配置DNS服务器：查看 /etc/resolv.conf 或 resolvectl "
                "status，在网络设置中填写DNS服务器。"},
    ProblemInfo{DnsServerUnreachable, "dns_server_unreachable", Warning, Row(3),
                "DNS服务器不回应ping：用 resolvectl query 或 getent hosts 试解析一个域名；"
                "解析失败时更换DNS服务器或联系网络服务商。"},
    ProblemInfo{DnsServerSlow, "dns_server_slow", Info, Row(3),
                "DNS服务器回应很慢：域名解析会变慢，可在网络设置中换用更近的DNS服务器。"},
    ProblemInfo{DnsNotResolving, "dns_not_resolving", Error, Rows(14, 16),
                "域名无法解析：用 getent hosts 加域名测试，检查 /etc/resolv.conf 中的DNS服务器，"
                "或联系网络服务商。"},
    ProblemInfo{
        BrowserOffline, "browser_offline", Warning, Row(4),
        "IE处于脱机状态：运行 wine iexplore，在“文件”菜单中取消“脱机工作”；或运行 wine regedit，把 "
        "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings 下的 "
        "GlobalUserOffline 改为0。"},
    ProblemInfo{ProxyEmpty, "proxy_empty", Error, Row(5),
                "已启用IE代理但没有填写代理服务器：运行 wine control "
                "inetcpl.cpl，在“连接”→“局域网设置”中填写代理地址和端口，不用代理时取消勾选。"},
    ProblemInfo{ProxyUnreachable, "proxy_unreachable", Error, Row(5),
                "IE代理服务器无法连接：用 nc -vz "
                "加代理地址和端口测试，确认代理程序正在运行；不需要代理时运行 wine control "
                "inetcpl.cpl 关闭代理；公司网络请询问网络管理员。"},
    ProblemInfo{DialupNotConnected, "dialup_not_connected", Warning, Row(6),
                "拨号连接未建立：用 nmcli connection 查看并启动拨号（PPPoE）连接。"},
    ProblemInfo{LinkDown, "link_down", Error, Row(6),
                "本地连接中断：检查网线或无线连接，用 ip link 和 nmcli device 查看网卡状态。"},
    ProblemInfo{
        InternetUnreachable, "internet_unreachable", Error, Row(7),
        "无法连接Internet：确认网关和DNS正常，检查防火墙（nft list ruleset）和宽带是否欠费，"
        "或联系网络服务商。"},
    ProblemInfo{
        InternetPartial, "internet_partial", Warning, Row(7),
        "只能连接部分公共网站：可能是防火墙或网络服务商的限制，稍后重试，仍不行时联系网络服务商。"},
    ProblemInfo{InternetSlow, "internet_slow", Info, Row(7),
                "连接公共网站很慢：网络拥塞或线路质量差，暂停其他下载后重试，或联系网络服务商。"},
    ProblemInfo{CaptivePortal, "captive_portal", Error, Row(7),
                "网络需要先登录（认证页面）：在浏览器中打开任意网页，按页面提示登录后再检测。"},
    ProblemInfo{DesktopReportsPortal, "desktop_reports_portal", Warning, Row(7),
                "桌面网络管理器认为需要登录认证页面：在浏览器中打开任意网页完成登录。"},
    ProblemInfo{DesktopReportsLimited, "desktop_reports_limited", Warning, Row(7),
                "桌面网络管理器认为网络连接受限：用 nmcli general 查看状态，重新连接网络。"},
    ProblemInfo{DesktopReportsNoConnection, "desktop_reports_no_connection", Warning, Row(7),
                "桌面网络管理器认为没有网络连接：用 nmcli device 查看并连接网络。"},
    ProblemInfo{OsUnknown, "os_unknown", Info, Row(8),
                "无法识别Wine所模拟的Windows版本：运行 winecfg 选择一个Windows版本。"},
    ProblemInfo{PlayerMissing, "player_missing", Error, Row(9),
                "没有找到Windows Media Player：用 winetricks wmp10（或 "
                "wmp9）在Kelvora所用的Wine前缀中安装，然后重新检测。"},
    ProblemInfo{PlayerTooOld, "player_too_old", Warning, Row(9),
                "Windows Media Player版本低于9：用 winetricks wmp10 "
                "在Kelvora所用的Wine前缀中升级，然后重新检测。"},
    ProblemInfo{AsfNotAssociated, "asf_not_associated", Warning, Row(10),
                "asf文件没有关联到Windows Media Player：用 winetricks wmp10 "
                "重新安装播放器以恢复关联。"},
    ProblemInfo{AsxNotAssociated, "asx_not_associated", Warning, Row(11),
                "asx文件没有关联到任何播放器：用 winetricks wmp10 重新安装Windows Media "
                "Player。"},
    ProblemInfo{
        AsxOtherPlayer, "asx_other_player", Warning, Row(11),
        "asx文件关联到了其他播放器：在该播放器设置中取消asx关联，或重新安装Windows Media Player。"},
    ProblemInfo{
        XpSp2PatchMissing, "xpsp2_patch_missing", Warning, Row(12),
        "XP SP2的连接数限制补丁没有生效：按提示重新运行补丁程序，然后重启Wine（wineboot -r）。"},
    ProblemInfo{ClientPrefixNotFound, "client_prefix_not_found", Warning, Row(8),
                "没有在任何Wine前缀中找到Kelvora：确认Kelvora已在Wine中安装；装在其他前缀时用 "
                "lumidex-console --prefix 加前缀目录（窗口用 LUMIDEX_PREFIX "
                "环境变量）指定该前缀，然后重新检测。"},
    ProblemInfo{ClientInSeveralPrefixes, "client_in_several_prefixes", Info, Row(8),
                "多个Wine前缀中都装有Kelvora，检测使用的是最近使用过的那个：要检测另一个时用 "
                "--prefix 加前缀目录指定。"},
    ProblemInfo{ClientNotRunning, "client_not_running", Info, Row(8),
                "Kelvora客户端没有运行：启动Kelvora后重新检测，才能看到它使用的端口。"},
    ProblemInfo{HostsFileUnreadable, "hosts_file_unreadable", Error, Row(13),
                "无法读取hosts文件：用 ls -l /etc/hosts 查看文件是否存在、是否可读，必要时用 sudo "
                "chmod 644 /etc/hosts 修复。"},
    ProblemInfo{HostsMapsProductDomain, "hosts_maps_product_domain", Warning, Row(13),
                "hosts文件中映射了KLV的域名：用 sudoedit /etc/hosts "
                "删除或注释掉这些行（客服要求添加的除外），然后重新检测。"},
    ProblemInfo{HostsMapsWrongAddress, "hosts_maps_wrong_address", Error, Row(13),
                "hosts文件把KLV的域名映射到了错误的地址：用 sudoedit /etc/hosts "
                "删除这些行，然后重新检测。"},
    ProblemInfo{DnsAnswersNonexistentNames, "dns_answers_nonexistent_names", Warning, Row(3),
                "DNS服务器对不存在的域名也返回地址：换用不劫持域名的DNS服务器，或联系网络服务商关闭"
                "此功能。"},
    ProblemInfo{ProductNamesHijacked, "product_names_hijacked", Error, Row(13),
                "KLV的域名被解析到了劫持地址：换用其他DNS服务器后重新检测，或联系网络服务商。"},
    ProblemInfo{
        WebHostsUnreachable, "web_hosts_unreachable", Error, Row(14),
        "无法连接KLV网站服务器：检查防火墙是否拦截了80端口，稍后重试，仍不行时发送检测报告。"},
    ProblemInfo{
        InformationHostsUnreachable, "information_hosts_unreachable", Error, Row(15),
        "无法连接KLV资讯服务器：检查防火墙是否拦截了80端口，稍后重试，仍不行时发送检测报告。"},
    ProblemInfo{
        ListHostsUnreachable, "list_hosts_unreachable", Error, Row(16),
        "无法ping通KLV列表服务器：检查防火墙是否拦截ICMP，稍后重试，仍不行时发送检测报告。"},
    ProblemInfo{ServiceHostSlow, "service_host_slow", Info, Rows(14, 16),
                "KLV服务器回应很慢：网络拥塞或跨网访问，暂停其他下载后重试。"},
    ProblemInfo{ChannelListUnreachable, "channel_list_unreachable", Error, Row(16),
                "无法下载频道列表：检查防火墙和代理设置，用 curl -I 加列表地址测试，稍后重试。"},
    ProblemInfo{ChannelListHttpError, "channel_list_http_error", Error, Row(16),
                "频道列表服务器返回错误：通常是服务器临时故障，稍后重试，仍不行时发送检测报告。"},
    ProblemInfo{ChannelListMalformed, "channel_list_malformed", Error, Row(16),
                "下载的频道列表内容不完整或格式错误：可能被代理或运营商篡改，稍后重试或关闭代理。"},
    ProblemInfo{ChannelListIntercepted, "channel_list_intercepted", Error, Row(16),
                "频道列表被认证页面拦截：先在浏览器中完成网络登录，再重新检测。"},
    ProblemInfo{ChannelListSlow, "channel_list_slow", Info, Row(16),
                "频道列表下载很慢：网络拥塞，暂停其他下载后重试。"},
    ProblemInfo{NoChannelServersListed, "no_channel_servers_listed", Error, Row(17),
                "没有得到任何频道服务器：频道列表未能下载或解析，先解决列表服务的问题。"},
    ProblemInfo{ChannelServersSilent, "channel_servers_silent", Error, Row(17),
                "频道服务器没有回应UDP：检查防火墙是否放行UDP（nft list ruleset），"
                "路由器是否限制UDP，仍不行时发送检测报告。"},
    ProblemInfo{ChannelServerSlow, "channel_server_slow", Info, Row(17),
                "频道服务器回应很慢：网络拥塞，观看时可能卡顿，暂停其他下载后重试。"},
    ProblemInfo{NoTrackersListed, "no_trackers_listed", Error, Row(18),
                "没有得到任何目录服务器：频道列表未能下载或解析，先解决列表服务的问题。"},
    ProblemInfo{
        TrackersSilent, "trackers_silent", Error, Row(18),
        "目录服务器没有回应UDP：检查防火墙是否放行UDP，路由器是否限制UDP，仍不行时发送检测报告。"},
    ProblemInfo{TrackerSlow, "tracker_slow", Info, Row(18),
                "目录服务器回应很慢：网络拥塞，暂停其他下载后重试。"},
    ProblemInfo{
        UdpRepliesMalformed, "udp_replies_malformed", Warning, Rows(17, 18),
        "收到格式错误的UDP回应：路由器或防火墙可能改写了UDP数据，换一个网络试试并发送检测报告。"},
    ProblemInfo{UdpBlocked, "udp_blocked", Error, kP2pBlock,
                "UDP无法通到外网，其他用户无法与你交换数据：检查本机防火墙是否放行UDP（nft list "
                "ruleset），在路由器设置中关闭UDP过滤，仍不行时联系网络服务商。"},
    ProblemInfo{
        NatMappingVaries, "nat_mapping_varies", Warning, kP2pBlock,
        "路由器对每个目标换用不同的端口（对称型NAT），其他用户很难连进来：在路由器设置中开启"
        "UPnP，或在路由器上为Kelvora的UDP端口设置端口转发。"},
    ProblemInfo{NoPortMapping, "no_port_mapping", Warning, kP2pBlock,
                "路由器不支持自动端口映射（UPnP、NAT-PMP、PCP都没有回应）：在路由器设置中开启UPnP，"
                "或为Kelvora的UDP端口设置端口转发。"},
    ProblemInfo{PortMappingRefused, "port_mapping_refused", Warning, kP2pBlock,
                "路由器回应了端口映射请求但拒绝映射或没有外网地址：在路由器设置中允许UPnP添加映射；"
                "路由器外网口没有公网地址时，见双重NAT或运营商级NAT的建议。"},
    ProblemInfo{DoubleNat, "double_nat", Warning, kP2pBlock,
                "网络中有两层NAT（光猫和路由器都在做地址转换）：把光猫设为桥接模式由路由器拨号，"
                "或把路由器设为AP（桥接）模式。"},
    ProblemInfo{
        CarrierGradeNat, "carrier_grade_nat", Warning, kP2pBlock,
        "网络服务商给的是运营商级NAT地址（100.64.0.0/10），不是公网地址，其他用户无法直接连进来："
        "联系网络服务商申请公网IPv4地址，或改用IPv6。"},
    ProblemInfo{ClientPortNotMapped, "client_port_not_mapped", Info, kP2pBlock,
                "Kelvora使用的UDP端口在路由器上没有映射：在Kelvora设置中开启UPnP，或在路由器上为该"
                "端口设置端口转发。"},
    ProblemInfo{StunUnreachable, "stun_unreachable", Info, kP2pBlock,
                "公共STUN服务器没有回应，无法判断NAT类型；KLV的UDP服务正常，观看不受影响："
                "防火墙可能只放行了部分UDP端口（如3478），稍后重试。"},
    ProblemInfo{LocalLinkLoss, "local_link_loss", Warning, kPathBlock,
                "到路由器（网关）的连接丢包：无线网络时靠近路由器或改用网线，有线时换一根网线或路由"
                "器上的另一个接口，并暂停局域网里其他设备的下载。"},
    ProblemInfo{LocalLinkJitter, "local_link_jitter", Info, kPathBlock,
                "到路由器（网关）的延迟忽高忽低：无线信号弱或局域网繁忙，靠近路由器、改用网线或暂停"
                "其他设备的下载。"},
    ProblemInfo{UdpPacketLoss, "udp_packet_loss", Warning, kPathBlock,
                "到服务器的UDP数据丢包：观看时会卡顿；本地连接正常时问题在宽带线路上，暂停其他下载"
                "后重试，仍丢包时联系宽带运营商。"},
    ProblemInfo{UdpJitterHigh, "udp_jitter_high", Info, kPathBlock,
                "到服务器的延迟忽高忽低：线路拥塞，观看时可能卡顿，暂停其他下载或换个时间再试。"},
    ProblemInfo{PathBreaksLocally, "path_breaks_locally", Warning, kPathBlock,
                "线路断在本地网络（本机到路由器之间或路由器本身）：重启路由器，检查网线或无线连接，"
                "检查路由器的防火墙设置。"},
    ProblemInfo{PathBreaksAtProvider, "path_breaks_at_provider", Warning, kPathBlock,
                "线路断在宽带运营商的网络中：本地网络正常，请联系宽带运营商并告诉他们检测报告中出问"
                "题的地址。"},
    ProblemInfo{PathBreaksAtService, "path_breaks_at_service", Warning, kPathBlock,
                "线路一直通到服务器所在的网络，问题在服务器一端：稍后再试，仍不行时发送检测报告。"},
};

constexpr bool InCodeOrder() {
    for (std::size_t i = 0; i < kCatalog.size(); ++i) {
        if (static_cast<std::size_t>(kCatalog[i].code) != i) {
            return false;
        }
    }
    return kCatalog.back().code == PathBreaksAtService;
}
static_assert(InCodeOrder(), "the catalogue is indexed by ProblemCode");

}  // namespace

std::string_view SeverityName(Severity severity) {
    switch (severity) {
        case Error:
            return "error";
        case Warning:
            return "warning";
        case Info:
            return "info";
    }
    return "info";
}

std::span<const ProblemInfo> ProblemCatalog() {
    return kCatalog;
}

const ProblemInfo& InfoOf(ProblemCode code) {
    return kCatalog[static_cast<std::size_t>(code)];
}

std::optional<ProblemCode> ProblemCodeFromName(std::string_view name) {
    for (const ProblemInfo& info : kCatalog) {
        if (info.name == name) {
            return info.code;
        }
    }
    return std::nullopt;
}

}  // namespace lumidex
