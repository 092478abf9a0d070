#include "app/CheckListCtrl.h"

#include <QCursor>
#include <QHeaderView>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QStyledItemDelegate>
#include <QToolTip>

#include "app/RowTip.h"
#include "engine/Diagnosis.h"

namespace lumidex {
namespace {

// Draws every cell as OneLineText of its text. Only the drawing changes: the item keeps the
// text as the check posted it, so the tip, the tests and every other reader still get it
// byte for byte.
class OneLineCellDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QString displayText(const QVariant& value, const QLocale& locale) const override {
        // The base would turn each LF into a line separator: start from the text itself.
        if (value.typeId() == QMetaType::QString) {
            return CCheckListCtrl::OneLineText(value.toString());
        }
        return QStyledItemDelegate::displayText(value, locale);
    }
};

}  // namespace

CCheckListCtrl::CCheckListCtrl(QWidget* parent) : QTreeWidget(parent) {
    setColumnCount(0);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSortingEnabled(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setAllColumnsShowFocus(true);
    setIconSize(QSize(16, 16));
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTextElideMode(Qt::ElideNone);
    m_cells = new OneLineCellDelegate(this);
    setItemDelegate(m_cells);
    header()->setSectionsClickable(false);
    header()->setSectionsMovable(false);
    header()->setStretchLastSection(false);
    header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_tipTimer.setSingleShot(true);
    m_tipTimer.setInterval(kRowTipDelayMs);
    connect(&m_tipTimer, &QTimer::timeout, this, &CCheckListCtrl::ShowTipUnderMouse);
}

void CCheckListCtrl::InsertColumn(const QString& heading, int width) {
    const int column = columnCount();
    setColumnCount(column + 1);
    headerItem()->setText(column, heading);
    headerItem()->setTextAlignment(column, Qt::AlignLeft | Qt::AlignVCenter);
    header()->setSectionResizeMode(column, QHeaderView::Interactive);
    setColumnWidth(column, width);
}

void CCheckListCtrl::EnableRowTips() {
    m_tipsEnabled = true;
    viewport()->setMouseTracking(true);
}

namespace {
constexpr int kFirstSoftwareItemId = 8;  // 操作系统
constexpr int kLastSoftwareItemId = 12;  // xpsp2补丁
}  // namespace

QString CCheckListCtrl::TipTextAt(const QPoint& pos) const {
    // Below the last visible row the list would still name a row scrolled out of sight.
    const QTreeWidgetItem* row = viewport()->rect().contains(pos) ? itemAt(pos) : nullptr;
    if (row == nullptr) {
        return {};
    }
    std::vector<std::string> headings;
    std::vector<std::string> cells;
    for (int column = 0; column < columnCount(); ++column) {
        headings.push_back(headerItem()->text(column).toStdString());
        cells.push_back(row->text(column).toStdString());
    }
    // The list's rows are the run's rows, in the same order.
    const int itemId = row->data(0, Qt::UserRole).toInt();
    const RowDiagnosis diagnosis = TheRunDiagnosis().Row(indexFromItem(row).row());
    std::string tip = RowTipText(headings, cells);
    if (itemId >= kFirstSoftwareItemId && itemId <= kLastSoftwareItemId &&
        !m_softwareTipLine.empty()) {
        tip += "\r\n" + m_softwareTipLine;
    }
    return QString::fromStdString(RowTipWithCauses(
        RowTipWithAdvice(tip, AdviceLines(RowProblems(itemId, diagnosis))), diagnosis));
}

QString CCheckListCtrl::ShownTip(const QString& tipText) {
    QString shown = tipText;
    shown.replace("\r\n", "\n");
    return shown;
}

// A cell is one line high, and a one-line list cell does not break at CR or LF: the line is
// drawn as one run and the two control characters leave no mark in it. Qt would instead lay
// the text out in lines and, with only one line of room, show nothing but an ellipsis; row
// 13's mappings, which start with CR LF ("\r\n映射错误:...", several joined by ",\r\n"),
// would be invisible. So the line breaks are left out of what is drawn: the cell shows the
// mappings themselves, kept apart by their commas. No mark or space is drawn in their place:
// every character shown is one of the text's own.
QString CCheckListCtrl::OneLineText(const QString& cellText) {
    QString shown = cellText;
    shown.remove(QChar('\r'));
    shown.remove(QChar('\n'));
    return shown;
}

QString CCheckListCtrl::CellShown(int row, int column) const {
    const QTreeWidgetItem* item = topLevelItem(row);
    if (item == nullptr) {
        return {};
    }
    return m_cells->displayText(item->data(column, Qt::DisplayRole), locale());
}

bool CCheckListCtrl::viewportEvent(QEvent* event) {
    if (!m_tipsEnabled) {
        return QTreeWidget::viewportEvent(event);
    }
    switch (event->type()) {
        case QEvent::MouseMove:
            // The tip follows the row under a mouse that came to rest.
            if (!QToolTip::isVisible()) {
                m_tipTimer.start();
            }
            break;
        case QEvent::Leave:
            m_tipTimer.stop();
            break;
        case QEvent::ToolTip:
            // The toolkit's own item tips would show elided cells; ours replace them.
            return true;
        default:
            break;
    }
    return QTreeWidget::viewportEvent(event);
}

void CCheckListCtrl::ShowTipUnderMouse() {
    // The row is the one under the mouse now, not where the mouse was when it moved.
    const QPoint pos = viewport()->mapFromGlobal(QCursor::pos());
    const QString tip = TipTextAt(pos);
    const QTreeWidgetItem* row = itemAt(pos);
    if (tip.isEmpty() || row == nullptr) {
        QToolTip::hideText();
        return;
    }
    QRect rowRect = visualItemRect(row);
    rowRect.setLeft(0);
    rowRect.setRight(viewport()->width());
    QToolTip::showText(viewport()->mapToGlobal(pos) + QPoint(12, 16), ShownTip(tip), viewport(),
                       rowRect);
}

}  // namespace lumidex
