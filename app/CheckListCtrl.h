// The check list: a report-view list of the rows (icon, item, detail) with single, full-row
// selection and headers that do not sort, which shows a hovered row's cells in full as a tip.
#pragma once

#include <string>

#include <QPoint>
#include <QString>
#include <QTimer>
#include <QTreeWidget>

class QStyledItemDelegate;

namespace lumidex {

// The tip appears this long after the mouse came to rest on a row.
inline constexpr int kRowTipDelayMs = 200;

class CCheckListCtrl : public QTreeWidget {
    Q_OBJECT
public:
    explicit CCheckListCtrl(QWidget* parent = nullptr);

    // Appends a left-aligned column of width pixels.
    void InsertColumn(const QString& heading, int width);
    // Shows row tips from now on.
    void EnableRowTips();
    // A line the tips of the software rows (8 to 12) show after the cells: the Wine prefix
    // they were read from.
    void SetSoftwareTipLine(std::string line) { m_softwareTipLine = std::move(line); }

    // The tip of the row at pos (viewport coordinates); empty when no row is there.
    QString TipTextAt(const QPoint& pos) const;
    // The text as shown: CR LF become line breaks.
    static QString ShownTip(const QString& tipText);

    // What a cell draws for its text: one line, without its CR and LF characters.
    static QString OneLineText(const QString& cellText);
    // The text the cell at row, column draws; the row itself keeps its text as given.
    QString CellShown(int row, int column) const;

protected:
    bool viewportEvent(QEvent* event) override;

private:
    void ShowTipUnderMouse();

    QTimer m_tipTimer;
    bool m_tipsEnabled = false;
    std::string m_softwareTipLine;
    QStyledItemDelegate* m_cells = nullptr;
};

}  // namespace lumidex
