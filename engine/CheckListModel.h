// The rows of the check list as a window shows them: built from the item table, one row per
// item (the XP SP2 row only where that check applies), looked up by item id.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/CheckStatus.h"

namespace lumidex {

struct CheckRow {
    int id = 0;                         // item data: the item id, 0 for a separator
    std::string caption;                // column 0
    std::string detail;                 // column 1
    std::optional<CheckStatus> status;  // none for a separator (no icon)
    bool IsSeparator() const { return !status.has_value(); }
};

class CheckListModel {
public:
    // All rows NotChecked with empty details.
    void Rebuild(bool withXpSp2Row);

    int RowCount() const { return static_cast<int>(m_rows.size()); }
    const std::vector<CheckRow>& Rows() const { return m_rows; }
    const CheckRow* Row(int row) const;

    // First row whose item id is id, or -1.
    int FindById(int id) const;
    // First row whose caption begins with prefix, or -1.
    int FindByNamePrefix(std::string_view prefix) const;

    // Out-of-range rows are ignored (a check whose row is missing posts to -1), as are
    // status changes of separators. False when nothing changed.
    bool SetStatus(int row, CheckStatus status);
    bool SetText(int row, int column, std::string text);

private:
    std::vector<CheckRow> m_rows;
};

}  // namespace lumidex
