#include "engine/CheckListModel.h"

#include "engine/CheckItem.h"

namespace lumidex {

void CheckListModel::Rebuild(bool withXpSp2Row) {
    m_rows.clear();
    for (const CheckItem& item : CheckItemTable()) {
        if (item.id == kXpSp2PatchItemId && !withXpSp2Row) {
            continue;
        }
        CheckRow row;
        row.id = item.id;
        if (item.id == kSeparatorId) {
            row.caption = kSeparatorCaption;
        } else {
            row.caption = item.name;
            row.status = CheckStatus::NotChecked;
        }
        m_rows.push_back(std::move(row));
    }
}

const CheckRow* CheckListModel::Row(int row) const {
    if (row < 0 || row >= RowCount()) {
        return nullptr;
    }
    return &m_rows[static_cast<size_t>(row)];
}

int CheckListModel::FindById(int id) const {
    for (int i = 0; i < RowCount(); ++i) {
        if (m_rows[static_cast<size_t>(i)].id == id) {
            return i;
        }
    }
    return -1;
}

int CheckListModel::FindByNamePrefix(std::string_view prefix) const {
    for (int i = 0; i < RowCount(); ++i) {
        if (std::string_view(m_rows[static_cast<size_t>(i)].caption).substr(0, prefix.size()) ==
            prefix) {
            return i;
        }
    }
    return -1;
}

bool CheckListModel::SetStatus(int row, CheckStatus status) {
    const CheckRow* current = Row(row);
    if (current == nullptr || current->IsSeparator()) {
        return false;
    }
    m_rows[static_cast<size_t>(row)].status = status;
    return true;
}

bool CheckListModel::SetText(int row, int column, std::string text) {
    if (Row(row) == nullptr || column < 0 || column > 1) {
        return false;
    }
    auto& target = m_rows[static_cast<size_t>(row)];
    (column == 0 ? target.caption : target.detail) = std::move(text);
    return true;
}

}  // namespace lumidex
