#include "ui/bound/DBGrid.h"

#include <QApplication>
#include <QFocusEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>

#include "ui/bound/PendingChange.h"
#include "ui/services/Dialogs.h"
#include "ui/services/ErrorReport.h"

namespace marvesa {

namespace {

// Draws the cells: the row highlight only while the grid has the focus,
// lines between columns always, lines between rows when the grid has them.
class GridDelegate : public QStyledItemDelegate {
public:
    explicit GridDelegate(DBGrid* grid) : QStyledItemDelegate(grid), m_grid(grid) {}

    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        option->state &= ~QStyle::State_HasFocus;
        if (!m_grid->hasFocus())
            option->state &= ~QStyle::State_Selected;
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyledItemDelegate::paint(painter, option, index);
        painter->save();
        const QColor line = QColor::fromRgb(
            QRgb(m_grid->style()->styleHint(QStyle::SH_Table_GridLineColor, &option, m_grid)));
        painter->setPen(line);
        const QRect r = option.rect;
        painter->drawLine(r.topRight(), r.bottomRight());
        if (m_grid->rowLines())
            painter->drawLine(r.bottomLeft(), r.bottomRight());
        painter->restore();
    }

private:
    DBGrid* m_grid;
};

// The indicator column: a click on a row's cell makes that row current.
class IndicatorHeader : public QHeaderView {
public:
    explicit IndicatorHeader(DBGrid* grid) : QHeaderView(Qt::Vertical, grid), m_grid(grid) {
        setSectionsClickable(false);
        setHighlightSections(false);
    }

protected:
    void mousePressEvent(QMouseEvent* event) override {
        m_grid->setFocus(Qt::MouseFocusReason);
        if (m_grid->focusRefused())
            return;
        const int row = logicalIndexAt(event->position().toPoint());
        if (row >= 0)
            m_grid->indicatorPressed(row);
    }
    void mouseMoveEvent(QMouseEvent*) override {}
    void mouseReleaseEvent(QMouseEvent*) override {}
    void mouseDoubleClickEvent(QMouseEvent*) override {}

private:
    DBGrid* m_grid;
};

const int kIndicatorWidth = 12;

}  // namespace

// --------------------------------------------------------------------- grid

DBGrid::DBGrid(const QString& dataSourceName, std::vector<GridColumn> columns, QWidget* parent)
    : QTableView(parent),
      BoundControl(dataSourceName, QString()),
      m_model(new DataSetTableModel(std::move(columns), this)) {
    setVerticalHeader(new IndicatorHeader(this));
    setModel(m_model);
    setItemDelegate(new GridDelegate(this));
    setFocusPolicy(Qt::ClickFocus);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setTabKeyNavigation(true);
    setSortingEnabled(false);
    setShowGrid(false);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setAutoScroll(false);

    QHeaderView* titles = horizontalHeader();
    titles->setSectionsMovable(true);
    titles->setSectionResizeMode(QHeaderView::Interactive);
    titles->setHighlightSections(false);
    titles->setStretchLastSection(false);
    titles->setSortIndicatorShown(false);

    QHeaderView* indicator = verticalHeader();
    indicator->setSectionResizeMode(QHeaderView::Fixed);
    indicator->setFixedWidth(kIndicatorWidth);
    indicator->setMinimumSectionSize(1);
    applyColumnWidths();

    // Where the focus came from, to give it back when the list is left;
    // from the other list, where that one came from (never back and forth
    // between the two lists).
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) {
        if (now != this || !old || old == this || old->window() != window())
            return;
        auto* list = qobject_cast<DBGrid*>(old);
        m_cameFrom = list ? list->m_cameFrom : QPointer<QWidget>(old);
    });
}

void DBGrid::setCellColor(const QColor& color) {
    m_model->setCellColor(color);
}

void DBGrid::setTitleFont(const QFont& font, const QColor& color) {
    horizontalHeader()->setFont(font);
    m_model->setTitleColor(color);
}

void DBGrid::applyColumnWidths() {
    // Rows as high as the cell font needs, as in a grid of the platform.
    const int rowHeight = fontMetrics().height() + 4;
    verticalHeader()->setDefaultSectionSize(rowHeight);
    horizontalHeader()->setFixedHeight(rowHeight + 1);

    const QFontMetrics cells = fontMetrics();
    const QFontMetrics titles(horizontalHeader()->font());
    const auto& columns = m_model->columns();
    for (int i = 0; i < int(columns.size()); ++i) {
        int width = columns[i].width;
        if (width <= 0) {
            int chars = 10;
            if (DataSet* ds = dataSet()) {
                if (const Field* f = ds->findField(columns[i].fieldName); f && f->width() > 0)
                    chars = f->width();
            }
            width = qMax(chars * cells.horizontalAdvance(QLatin1Char('0')),
                         titles.horizontalAdvance(columns[i].title)) +
                    4;
        }
        setColumnWidth(i, width);
    }
}

void DBGrid::bindingChanged() {
    m_model->setDataSet(dataSet());
    applyColumnWidths();
    syncCurrentRow();
}

void DBGrid::dataEvent(DataEvent event, Field*) {
    switch (event) {
        case deDataSetChange:
        case deDataSetScroll:
        case deRecordChange:
        case deFieldChange:
        case deUpdateState:
            m_model->tableChanged();
            syncCurrentRow();
            break;
        default:
            break;
    }
}

// Puts the view's current row where the table's current row is.
void DBGrid::syncCurrentRow() {
    DataSet* ds = dataSet();
    const int row = ds && ds->active() ? ds->currentRow() : -1;
    if (row < 0 || row >= m_model->rowCount()) {
        selectionModel()->clear();
        return;
    }
    m_currentColumn = qBound(0, m_currentColumn, m_model->columnCount() - 1);
    const QModelIndex index = m_model->index(row, m_currentColumn);
    selectionModel()->setCurrentIndex(
        index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    scrollTo(index);
}

void DBGrid::moveToRow(int row) {
    DataSet* ds = dataSet();
    if (!ds || !ds->active())
        return;
    row = qBound(0, row, ds->rowCount() - 1);
    if (row != ds->currentRow())
        runGuarded([&] { ds->moveTo(row); });
    syncCurrentRow();
}

bool DBGrid::focusRefused() const {
    const QWidget* f = QApplication::focusWidget();
    return f && f != this && f->window() == window();
}

void DBGrid::indicatorPressed(int row) {
    moveToRow(row);
}

void DBGrid::mousePressEvent(QMouseEvent* event) {
    event->accept();
    if (focusRefused())
        return;
    const QModelIndex index = indexAt(event->position().toPoint());
    if (!index.isValid())
        return;
    m_currentColumn = index.column();
    moveToRow(index.row());
}

// The selection follows the table only: dragging and releasing select nothing.
void DBGrid::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
}
void DBGrid::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
}
void DBGrid::mouseDoubleClickEvent(QMouseEvent* event) {
    mousePressEvent(event);
}

int DBGrid::pageRows() const {
    const int rowHeight = qMax(1, verticalHeader()->defaultSectionSize());
    return qMax(1, viewport()->height() / rowHeight - 1);
}

// Tab and Shift+Tab: the next or previous cell, past the last cell to the
// next row, before the first to the previous row.
void DBGrid::step(bool forward) {
    DataSet* ds = dataSet();
    if (!ds || !ds->active() || ds->currentRow() < 0)
        return;
    const int lastColumn = m_model->columnCount() - 1;
    if (forward) {
        if (m_currentColumn < lastColumn) {
            ++m_currentColumn;
        } else if (ds->currentRow() < ds->rowCount() - 1) {
            m_currentColumn = 0;
            runGuarded([&] { ds->next(); });
        }
    } else {
        if (m_currentColumn > 0) {
            --m_currentColumn;
        } else if (ds->currentRow() > 0) {
            m_currentColumn = lastColumn;
            runGuarded([&] { ds->prior(); });
        }
    }
    syncCurrentRow();
}

void DBGrid::leaveList() {
    QWidget* back = m_cameFrom;
    if (back && back->isEnabled() && back->isVisible() && back->focusPolicy() != Qt::NoFocus) {
        back->setFocus(Qt::TabFocusReason);
    } else {
        QWidget::focusNextPrevChild(true);
    }
}

bool DBGrid::focusNextPrevChild(bool next) {
    if (hasFocus()) {
        step(next);
        return true;
    }
    return QTableView::focusNextPrevChild(next);
}

void DBGrid::deleteCurrentRow() {
    DataSet* ds = dataSet();
    if (!ds || !ds->active() || ds->currentRow() < 0)
        return;
    if (m_deleteRefusal) {
        const QString refusal = m_deleteRefusal();
        if (!refusal.isEmpty()) {
            Dialogs::inform(refusal);
            return;
        }
    }
    if (!Dialogs::confirmDelete(QStringLiteral("Delete record?")))
        return;
    if (m_deleteHandler) {
        m_deleteHandler();
    } else {
        ds->remove();
    }
}

void DBGrid::keyPressEvent(QKeyEvent* event) {
    DataSet* ds = dataSet();
    const bool usable = ds && ds->active();
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    event->accept();
    switch (event->key()) {
        case Qt::Key_Up:
            if (usable)
                runGuarded([&] { ds->prior(); });
            break;
        case Qt::Key_Down:
            if (usable)
                runGuarded([&] { ds->next(); });
            break;
        case Qt::Key_PageUp:
            if (usable) {
                const int target = ds->currentRow() - pageRows();
                if (target <= 0) {
                    runGuarded([&] { ds->first(); });
                } else {
                    moveToRow(target);
                }
            }
            break;
        case Qt::Key_PageDown:
            if (usable) {
                const int target = ds->currentRow() + pageRows();
                if (target >= ds->rowCount() - 1) {
                    runGuarded([&] { ds->last(); });
                } else {
                    moveToRow(target);
                }
            }
            break;
        case Qt::Key_Home:
            if (usable)
                runGuarded([&] { ds->first(); });
            break;
        case Qt::Key_End:
            if (usable)
                runGuarded([&] { ds->last(); });
            break;
        case Qt::Key_Left:
            if (m_currentColumn > 0)
                --m_currentColumn;
            break;
        case Qt::Key_Right:
            if (m_currentColumn < m_model->columnCount() - 1)
                ++m_currentColumn;
            break;
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            if (mods & Qt::ControlModifier) {
                leaveList();
            } else {
                step(event->key() == Qt::Key_Tab);
            }
            return;
        case Qt::Key_Escape:
            if (mods == Qt::NoModifier) {
                leaveList();
                return;
            }
            event->ignore();
            return;
        case Qt::Key_Delete:
            if (mods == Qt::ControlModifier)
                runGuarded([&] { deleteCurrentRow(); });
            else
                event->ignore();
            break;
        default:
            event->ignore();
            return;
    }
    syncCurrentRow();
}

void DBGrid::focusInEvent(QFocusEvent* event) {
    m_focused = true;
    QTableView::focusInEvent(event);
    syncCurrentRow();
    viewport()->update();
}

void DBGrid::focusOutEvent(QFocusEvent* event) {
    QTableView::focusOutEvent(event);
    viewport()->update();
    if (!m_focused || focus::isRestoring() || !focus::leavesForControlOfWindow(this, event))
        return;
    m_focused = false;
    // A new row into which nothing was typed is abandoned on leaving.
    DataSet* ds = dataSet();
    if (ds && ds->state() == dsInsert && !ds->modified())
        runGuarded([&] { ds->cancel(); });
}

}  // namespace marvesa
