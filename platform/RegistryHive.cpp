#include "platform/RegistryHive.h"

#include <algorithm>

#include "platform/HiveText.h"

namespace lumidex::platform {

const HiveValue* HiveKey::FindValue(std::string_view name) const {
    const auto it = m_valueIndex.find(FoldName(name));
    return it == m_valueIndex.end() ? nullptr : &m_values[it->second];
}

const HiveKey* HiveKey::FindChild(std::string_view name) const {
    const auto it = m_children.find(FoldName(name));
    return it == m_children.end() ? nullptr : it->second.get();
}

const HiveKey* HiveKey::FindPath(std::string_view path) const {
    const HiveKey* key = this;
    for (std::string_view part : hivetext::SplitPath(path)) {
        if (part.empty()) {
            continue;
        }
        key = key->FindChild(part);
        if (key == nullptr) {
            return nullptr;
        }
    }
    return key;
}

std::vector<const HiveKey*> HiveKey::Children() const {
    std::vector<const HiveKey*> children;
    children.reserve(m_children.size());
    for (const auto& entry : m_children) {
        children.push_back(entry.second.get());
    }
    return children;
}

HiveKey& HiveKey::AddChild(std::string_view name) {
    auto& slot = m_children[FoldName(name)];
    if (!slot) {
        slot = std::make_unique<HiveKey>(std::string(name));
    }
    return *slot;
}

void HiveKey::SetValue(HiveValue value) {
    const auto [it, added] = m_valueIndex.try_emplace(FoldName(value.name), m_values.size());
    if (!added) {
        m_values[it->second] = std::move(value);
        return;
    }
    m_values.push_back(std::move(value));
}

void HiveKey::RemoveValue(std::string_view name) {
    if (m_valueIndex.erase(FoldName(name)) > 0) {
        ++m_removedValues;
    }
}

void HiveKey::RemoveChild(std::string_view name) {
    m_children.erase(FoldName(name));
}

void HiveKey::Compact() {
    for (auto& entry : m_children) {
        entry.second->Compact();
    }
    if (m_removedValues == 0) {
        return;
    }
    std::vector<HiveValue> live;
    live.reserve(m_values.size() - m_removedValues);
    for (std::size_t slot = 0; slot < m_values.size(); ++slot) {
        std::string folded = FoldName(m_values[slot].name);
        auto it = m_valueIndex.find(folded);
        if (it != m_valueIndex.end() && it->second == slot) {
            it->second = live.size();
            live.push_back(std::move(m_values[slot]));
        }
    }
    m_values = std::move(live);
    m_removedValues = 0;
}

}  // namespace lumidex::platform
