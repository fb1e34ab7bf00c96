#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QFont>
#include <QPointer>
#include <QTableView>
#include <functional>
#include <vector>

#include "ui/bound/BoundControl.h"
#include "ui/bound/DataSetTableModel.h"

namespace marvesa {

// A data-bound grid: one row per row of its table, a title row, and an
// indicator column marking the current row. Clicking a row (or its
// indicator) and the arrow keys, Page Up, Page Down, Home and End move the
// table's current row, which first ends a pending edit. Nothing is edited in
// the grid. Tab and Shift+Tab step from cell to cell. Ctrl+Delete deletes the
// current row after the confirmation "Delete record?". Leaving the grid
// abandons a new row in which nothing was changed.
//
// The grid is no tab stop. Reached from the keyboard (a shortcut of the
// window), it is left with Esc, Ctrl+Tab or Ctrl+Maiusc+Tab, which give the
// focus back to the control it came from. For assistive technology the
// current row is the selected row with its current cell focused, and the
// indicator says in words what it marks.
class DBGrid : public QTableView, public BoundControl {
    Q_OBJECT
public:
    DBGrid(const QString& dataSourceName, std::vector<GridColumn> columns,
           QWidget* parent = nullptr);

    DataSetTableModel* tableModel() const { return m_model; }

    // What Ctrl+Delete does after the confirmation; by default it deletes
    // the current row of the grid's table.
    void setDeleteHandler(std::function<void()> handler) { m_deleteHandler = std::move(handler); }
    // Why Ctrl+Delete may not delete (the role of the database connection
    // may not); a non-empty answer is shown instead of the confirmation.
    void setDeleteRefusal(std::function<QString()> refusal) {
        m_deleteRefusal = std::move(refusal);
    }

    void setRowLines(bool on) {
        m_rowLines = on;
        viewport()->update();
    }
    bool rowLines() const { return m_rowLines; }
    void setCellColor(const QColor& color);
    void setTitleFont(const QFont& font, const QColor& color);
    // Gives the columns their widths (after the fonts are set).
    void applyColumnWidths();

    void dataEvent(DataEvent event, Field* field) override;

    // A click on the indicator cell of a row.
    void indicatorPressed(int row);
    // True when a click must not act: the focus stayed in another control of
    // the window whose text could not be written.
    bool focusRefused() const;

protected:
    void bindingChanged() override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    bool focusNextPrevChild(bool next) override;

private:
    void syncCurrentRow();
    void moveToRow(int row);
    void leaveList();
    void step(bool forward);
    void deleteCurrentRow();
    int pageRows() const;

    DataSetTableModel* m_model;
    std::function<void()> m_deleteHandler;
    std::function<QString()> m_deleteRefusal;
    int m_currentColumn = 0;
    bool m_rowLines = false;
    bool m_focused = false;
    QPointer<QWidget> m_cameFrom;
};

}  // namespace marvesa
