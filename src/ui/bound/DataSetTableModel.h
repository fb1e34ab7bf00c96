#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QFont>
#include <vector>

#include "data/cursor/DataSet.h"

namespace marvesa {

// One column of a grid: the table column it shows, its title and its width
// in pixels (0: wide enough for the column's declared width in characters
// and never narrower than its title).
struct GridColumn {
    QString fieldName;
    QString title;
    int width = 0;
};

// Shows the rows of a table cursor as they stand, without copying them: the
// current row with its pending values, every cell as its column's display
// text. The row header marks the current row: "▶" while browsing, "I" while
// it is edited, "*" while it is a new row; assistive technology reads the
// mark in words ("riga corrente", "riga in modifica", "riga nuova").
class DataSetTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    DataSetTableModel(std::vector<GridColumn> columns, QObject* parent = nullptr);

    void setDataSet(DataSet* dataSet);
    DataSet* dataSet() const { return m_dataSet; }
    const std::vector<GridColumn>& columns() const { return m_columns; }

    void setCellColor(const QColor& color) { m_cellColor = color; }
    void setTitleColor(const QColor& color) { m_titleColor = color; }

    // The table announced a change: show its rows as they now stand.
    void tableChanged();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    static QString indicatorMark(DataSetState state);
    static QString indicatorWords(DataSetState state);

private:
    std::vector<GridColumn> m_columns;
    DataSet* m_dataSet = nullptr;
    int m_shownRows = 0;
    QColor m_cellColor;
    QColor m_titleColor;
};

}  // namespace marvesa
