#include "ui/bound/DataSetTableModel.h"

namespace marvesa {

DataSetTableModel::DataSetTableModel(std::vector<GridColumn> columns, QObject* parent)
    : QAbstractTableModel(parent), m_columns(std::move(columns)) {}

void DataSetTableModel::setDataSet(DataSet* dataSet) {
    beginResetModel();
    m_dataSet = dataSet;
    m_shownRows = rowCount();
    endResetModel();
}

void DataSetTableModel::tableChanged() {
    const int rows = rowCount();
    if (rows != m_shownRows) {
        beginResetModel();
        m_shownRows = rows;
        endResetModel();
        return;
    }
    if (rows == 0)
        return;
    emit dataChanged(index(0, 0), index(rows - 1, columnCount() - 1));
    emit headerDataChanged(Qt::Vertical, 0, rows - 1);
}

int DataSetTableModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid() || !m_dataSet || !m_dataSet->active())
        return 0;
    return m_dataSet->rowCount();
}

int DataSetTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_columns.size());
}

QVariant DataSetTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || !m_dataSet)
        return QVariant();
    switch (role) {
        case Qt::DisplayRole: {
            const Field* f = m_dataSet->findField(m_columns[index.column()].fieldName);
            if (!f)
                return QString();
            return Field::displayTextOf(m_dataSet->valueAt(index.row(), f->index()));
        }
        case Qt::ForegroundRole:
            return m_cellColor.isValid() ? QVariant(m_cellColor) : QVariant();
        default:
            return QVariant();
    }
}

QString DataSetTableModel::indicatorMark(DataSetState state) {
    switch (state) {
        case dsEdit:
            return QStringLiteral("I");
        case dsInsert:
            return QStringLiteral("*");
        case dsBrowse:
            return QString(QChar(0x25B6));  // ▶
        case dsInactive:
            break;
    }
    return QString();
}

QString DataSetTableModel::indicatorWords(DataSetState state) {
    switch (state) {
        case dsEdit:
            return QStringLiteral("riga in modifica");
        case dsInsert:
            return QStringLiteral("riga nuova");
        case dsBrowse:
            return QStringLiteral("riga corrente");
        case dsInactive:
            break;
    }
    return QString();
}

QVariant DataSetTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal) {
        if (section < 0 || section >= columnCount())
            return QVariant();
        if (role == Qt::DisplayRole)
            return m_columns[section].title;
        if (role == Qt::ForegroundRole && m_titleColor.isValid())
            return m_titleColor;
        if (role == Qt::TextAlignmentRole)
            return int(Qt::AlignLeft | Qt::AlignVCenter);
        return QVariant();
    }
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole) {
        if (m_dataSet && m_dataSet->active() && section == m_dataSet->currentRow()) {
            return role == Qt::DisplayRole ? indicatorMark(m_dataSet->state())
                                           : indicatorWords(m_dataSet->state());
        }
        return QString();
    }
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignCenter);
    return QVariant();
}

Qt::ItemFlags DataSetTableModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

}  // namespace marvesa
