#include "service/ServiceHostLists.h"

#include <utility>

#include "engine/Endpoints.h"
#include "platform/TextSplitter.h"

namespace lumidex {

ServiceHostLists::HostsLock::HostsLock(ServiceHostLists& lists) : m_lists(lists) {
    ++m_lists.m_lockDepth;
    m_lists.m_lock.lock();
}

ServiceHostLists::HostsLock::~HostsLock() {
    m_lists.m_lock.unlock();
    --m_lists.m_lockDepth;
}

ServiceHostLists::ServiceHostLists() {
    AppendHosts(endpoints::kWebsiteHosts, HostGroup::Website);
    AppendHosts(endpoints::kListHosts, HostGroup::List);
    AppendHosts(endpoints::kInformationHosts, HostGroup::Information);
}

ServiceHostLists::~ServiceHostLists() = default;

std::vector<std::string>& ServiceHostLists::Group(HostGroup group) {
    return const_cast<std::vector<std::string>&>(std::as_const(*this).Hosts(group));
}

const std::vector<std::string>& ServiceHostLists::Hosts(HostGroup group) const {
    switch (group) {
        case HostGroup::Website:
            return m_websiteHosts;
        case HostGroup::List:
            return m_listHosts;
        case HostGroup::Information:
            break;
    }
    return m_informationHosts;
}

void ServiceHostLists::AppendHosts(std::string_view text, HostGroup group) {
    HostsLock lock(*this);
    std::vector<std::string>& hosts = Group(group);
    TextSplitter splitter(",");
    splitter.Split(text);
    hosts.insert(hosts.end(), splitter.Pieces().begin(), splitter.Pieces().end());
}

}  // namespace lumidex
