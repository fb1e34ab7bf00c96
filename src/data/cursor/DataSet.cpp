#include "data/cursor/DataSet.h"

#include <QHash>
#include <algorithm>

#include "data/base/Error.h"
#include "data/base/TextRules.h"

namespace marvesa {

// ------------------------------------------------------------------- DataSet

DataSet::DataSet(QString componentName, QString tableName, Connection* connection)
    : m_name(std::move(componentName)),
      m_tableName(std::move(tableName)),
      m_connection(connection) {
    if (m_connection)
        m_connection->m_dataSets.push_back(this);
}

DataSet::~DataSet() {
    if (m_master && m_masterLink)
        m_master->removeLink(m_masterLink.get());
    for (DataSource* s : std::vector<DataSource*>(m_sources))
        detachDataSource(s);
    if (m_connection) {
        auto& v = m_connection->m_dataSets;
        v.erase(std::remove(v.begin(), v.end(), this), v.end());
    }
}

Field* DataSet::addField(const ColumnDef& def) {
    m_fields.push_back(std::unique_ptr<Field>(new Field(this, def, int(m_fields.size()))));
    m_fieldsDeclared = true;
    return m_fields.back().get();
}

void DataSet::declareFields(const TableDef& table) {
    for (const ColumnDef& c : table.columns)
        addField(c);
}

Field* DataSet::findField(const QString& fieldName) const {
    // Commands name columns as declared: the exact spelling is found first,
    // without the cost of comparing letter case column by column.
    for (const auto& f : m_fields) {
        if (f->fieldName() == fieldName)
            return f.get();
    }
    for (const auto& f : m_fields) {
        if (f->fieldName().compare(fieldName, Qt::CaseInsensitive) == 0)
            return f.get();
    }
    return nullptr;
}

Field* DataSet::fieldByName(const QString& fieldName) const {
    Field* f = findField(fieldName);
    if (!f)
        fail(QStringLiteral("Field '%1' not found").arg(fieldName));
    return f;
}

void DataSet::attachDataSource(DataSource* source) {
    if (std::find(m_sources.begin(), m_sources.end(), source) == m_sources.end()) {
        m_sources.push_back(source);
    }
}

void DataSet::detachDataSource(DataSource* source) {
    m_sources.erase(std::remove(m_sources.begin(), m_sources.end(), source), m_sources.end());
}

void DataSet::dataEvent(DataEvent event, Field* field) {
    // Most tables have a single data source: it is called without copying
    // the list (nothing of the list is touched after the call).
    if (m_sources.size() <= 1) {
        if (!m_sources.empty())
            m_sources.front()->notify(event, field);
        return;
    }
    const std::vector<DataSource*> sources = m_sources;
    for (DataSource* s : sources)
        s->notify(event, field);
}

void DataSet::fail(const QString& text) const {
    throw dataSetError(m_name, text);
}

void DataSet::checkActive() const {
    if (m_state == dsInactive)
        fail(QStringLiteral("Cannot perform this operation on a closed dataset"));
}

void DataSet::setState(DataSetState state) {
    if (m_state == state)
        return;
    m_state = state;
    m_modified = false;
    dataEvent(deUpdateState);
}

QStringList DataSet::fieldNames() const {
    QStringList names;
    for (const auto& f : m_fields)
        names << f->fieldName();
    return names;
}

Value DataSet::storedValue(const Row& row, int fieldIndex) const {
    const QVariant& v = row.stored.at(fieldIndex);
    if (v.isNull())
        return Value();
    switch (m_fields[fieldIndex]->kind()) {
        case FieldKind::Counter:
        case FieldKind::Integer:
            return Value::integer(v.toLongLong());
        case FieldKind::Text:
        case FieldKind::Memo:
            return Value::text(v.toString());
        case FieldKind::DateTime: {
            const QString s = v.toString();
            const QDateTime dt = dateTimeFromStorage(s);
            // A date-time some other tool stored in a form not read here is
            // shown as it stands rather than lost.
            return dt.isValid() ? Value::dateTime(dt) : Value::text(s);
        }
    }
    return Value();
}

QVariant DataSet::toStorage(const Field& field, const Value& value) const {
    if (value.isNull())
        return QVariant();
    switch (value.kind()) {
        case Value::Kind::Text: {
            // Qt binds a null QString as SQL NULL; the empty text is a value
            // and must be stored as one.
            const QString& s = *value.textIf();
            return s.isNull() ? QVariant(QStringLiteral("")) : QVariant(s);
        }
        case Value::Kind::DateTime:
            return dateTimeToStorage(*value.dateTimeIf());
        case Value::Kind::Integer:
            return field.kind() == FieldKind::Counter || field.kind() == FieldKind::Integer
                       ? QVariant(qint64(value.toDouble()))
                       : QVariant(value.toText());
        case Value::Kind::Null:
            break;
    }
    return QVariant();
}

Value DataSet::currentValue(int fieldIndex) const {
    if (m_current < 0 || m_current >= int(m_rows.size()))
        return Value();
    if (isEditing())
        return m_pending[fieldIndex];
    return storedValue(m_rows[m_current], fieldIndex);
}

Value DataSet::valueAt(int row, int fieldIndex) const {
    if (row < 0 || row >= int(m_rows.size()))
        return Value();
    if (row == m_current && isEditing())
        return m_pending[fieldIndex];
    return storedValue(m_rows[row], fieldIndex);
}

void DataSet::setCurrentValue(int fieldIndex, const Value& value, bool raise) {
    if (!isEditing())
        fail(QStringLiteral("Dataset not in edit or insert mode"));
    Field& field = *m_fields[fieldIndex];
    Value v = value;
    if (!v.isNull()) {
        switch (field.kind()) {
            case FieldKind::Counter:
                fail(QStringLiteral("Field '%1' cannot be modified").arg(field.fieldName()));
            case FieldKind::Text:
                v = Value::text(cutToWidth(v.toText(), field.width()));
                break;
            case FieldKind::Memo:
                if (v.kind() != Value::Kind::Text)
                    v = Value::text(v.toText());
                break;
            case FieldKind::DateTime:
                if (v.kind() == Value::Kind::Text)
                    v = Value::date(dateFromText(v.toText()));
                break;
            case FieldKind::Integer:
                if (v.kind() != Value::Kind::Integer) {
                    bool ok = false;
                    const qint64 n = v.toText().trimmed().toLongLong(&ok);
                    if (!ok) {
                        fail(QStringLiteral("'%1' is not a valid integer value").arg(v.toText()));
                    }
                    v = Value::integer(n);
                }
                break;
        }
    }
    m_pending[fieldIndex] = v;
    m_modified = true;
    if (raise)
        dataEvent(deFieldChange, &field);
}

Value DataSet::fieldValue(const QString& fieldName) const {
    return currentValue(fieldByName(fieldName)->index());
}

void DataSet::setFieldValue(const QString& fieldName, const Value& value) {
    fieldByName(fieldName)->setValue(value);
}

ReadRequest DataSet::readRequest() const {
    ReadRequest r;
    r.table = m_tableName;
    r.columns = fieldNames();
    r.orderColumn = m_orderColumn;
    return r;
}

void DataSet::readRows() {
    m_rows.clear();
    if (m_master) {
        // No rows while the master has none current or is inserting; a NULL
        // code matches no member.
        if (!m_filter || m_filter->isNull())
            return;
        ReadRequest r = readRequest();
        r.filterColumn = m_detailField;
        r.filterValue = m_filter->toText();
        for (StoredRow& s : m_connection->engine().read(r)) {
            m_rows.push_back({s.id, std::move(s.values)});
        }
        return;
    }
    for (StoredRow& s : m_connection->engine().read(readRequest())) {
        m_rows.push_back({s.id, std::move(s.values)});
    }
}

void DataSet::open() {
    if (active())
        return;
    if (!m_connection)
        fail(QStringLiteral("Missing Connection or ConnectionString"));
    Engine& engine = m_connection->engine();
    // Read the table's columns even when they are declared: a missing table
    // or column fails here, on opening, and not later at the first read
    // (the member table reads nothing while there is no family unit).
    const QVector<EngineColumn> columns = engine.columns(m_tableName);
    if (!m_fieldsDeclared && m_fields.empty()) {
        for (const EngineColumn& c : columns) {
            int width = 0;
            const FieldKind kind = fieldKindFromDeclaredType(c.declaredType, &width);
            m_fields.push_back(std::unique_ptr<Field>(
                new Field(this, ColumnDef{c.name, kind, width}, int(m_fields.size()))));
        }
    }
    for (const auto& f : m_fields) {
        const bool found = std::any_of(columns.begin(), columns.end(), [&](const EngineColumn& c) {
            return c.name.compare(f->fieldName(), Qt::CaseInsensitive) == 0;
        });
        if (!found) {
            throw Error(QStringLiteral(
                            "La colonna \"%1\" non esiste nella tabella \"%2\" del database \"%3\"")
                            .arg(f->fieldName(), m_tableName, engine.location()));
        }
    }
    m_filter.reset();
    if (m_master) {
        const DataSet* master = m_master->dataSet();
        if (master && master->active() && master->m_current >= 0 && master->state() != dsInsert) {
            m_filter = master->fieldValue(m_masterField);
        }
    }
    readRows();
    m_current = m_rows.empty() ? -1 : 0;
    m_bof = true;
    m_eof = m_rows.empty();
    setState(dsBrowse);
}

void DataSet::close() {
    if (!active())
        return;
    // A pending row is abandoned, not stored.
    if (m_state == dsInsert && m_current >= 0)
        m_rows.erase(m_rows.begin() + m_current);
    m_pending.clear();
    m_rows.clear();
    m_current = -1;
    m_bof = m_eof = true;
    m_filter.reset();
    setState(dsInactive);
}

void DataSet::checkBrowseMode() {
    checkActive();
    dataEvent(deCheckBrowseMode);
    if (isEditing()) {
        dataEvent(deUpdateRecord);
        if (m_modified) {
            if (m_onBeforeImplicitPost)
                m_onBeforeImplicitPost(*this);
            post();
        } else {
            cancel();
        }
    }
}

void DataSet::first() {
    checkActive();
    checkBrowseMode();
    m_current = m_rows.empty() ? -1 : 0;
    m_bof = true;
    m_eof = m_rows.empty();
    dataEvent(deDataSetChange);
}

void DataSet::last() {
    checkActive();
    checkBrowseMode();
    m_current = int(m_rows.size()) - 1;
    m_eof = true;
    m_bof = m_rows.empty();
    dataEvent(deDataSetChange);
}

void DataSet::next() {
    checkActive();
    checkBrowseMode();
    if (m_eof)
        return;
    m_bof = m_eof = false;
    if (m_current + 1 < int(m_rows.size())) {
        ++m_current;
    } else {
        m_eof = true;
    }
    dataEvent(deDataSetScroll);
}

void DataSet::prior() {
    checkActive();
    checkBrowseMode();
    if (m_bof)
        return;
    m_bof = m_eof = false;
    if (m_current > 0) {
        --m_current;
    } else {
        m_bof = true;
    }
    dataEvent(deDataSetScroll);
}

void DataSet::moveTo(int row) {
    checkActive();
    // `row` counts the rows as they stand now, a new row among them; when
    // ending the edit abandons that new row, the rows after it move up.
    const int rowsBefore = int(m_rows.size());
    const int editedRow = m_current;
    checkBrowseMode();
    if (int(m_rows.size()) < rowsBefore && row > editedRow)
        --row;
    if (row < 0 || row >= int(m_rows.size()) || row == m_current)
        return;
    m_current = row;
    m_bof = m_eof = false;
    dataEvent(deDataSetScroll);
}

void DataSet::insert() {
    checkActive();
    checkBrowseMode();
    m_rowBeforeInsert = m_current;
    m_bofBeforeInsert = m_bof;
    m_eofBeforeInsert = m_eof;
    const int pos = m_current < 0 ? 0 : m_current;
    m_rows.insert(m_rows.begin() + pos, Row{0, QVector<QVariant>(int(m_fields.size()))});
    m_current = pos;
    m_pending.assign(m_fields.size(), Value());
    m_bof = m_eof = false;
    setState(dsInsert);
    if (m_master) {
        // The new row belongs to the master's current row.
        Field* detail = fieldByName(m_detailField);
        const DataSet* master = m_master->dataSet();
        m_pending[detail->index()] = master ? master->fieldValue(m_masterField) : Value();
    }
    dataEvent(deDataSetChange);
    m_modified = false;
}

void DataSet::edit() {
    checkActive();
    if (isEditing())
        return;
    if (m_rows.empty()) {
        insert();
        return;
    }
    checkBrowseMode();
    m_pending.resize(m_fields.size());
    for (int i = 0; i < int(m_fields.size()); ++i)
        m_pending[i] = storedValue(m_rows[m_current], i);
    setState(dsEdit);
    dataEvent(deRecordChange);
}

void DataSet::storePending() {
    Engine& engine = m_connection->engine();
    Row& row = m_rows[m_current];
    const std::optional<ParentRow> master = requiredMaster();
    if (m_state == dsInsert) {
        QStringList columns;
        QVector<QVariant> values;
        columns.reserve(int(m_fields.size()));
        values.reserve(int(m_fields.size()));
        for (const auto& f : m_fields) {
            if (f->isReadOnly() || m_pending[f->index()].isNull())
                continue;
            columns << f->fieldName();
            values << toStorage(*f, m_pending[f->index()]);
        }
        qint64 id = 0;
        if (master) {
            const std::optional<qint64> stored =
                engine.insertWithParent(m_tableName, columns, values, *master);
            if (!stored)
                failMissingMaster(*master);
            id = *stored;
        } else {
            id = engine.insert(m_tableName, columns, values);
        }
        StoredRow stored;
        if (m_readBackAfterInsert && engine.readRow(m_tableName, fieldNames(), id, &stored)) {
            row = Row{stored.id, std::move(stored.values)};
        } else {
            // The row holds what was just stored: the values bound, in the
            // same order, and NULL for the columns left out.
            row.id = id;
            int bound = 0;
            for (const auto& f : m_fields) {
                QVariant& cell = row.stored[f->index()];
                if (f->kind() == FieldKind::Counter) {
                    cell = QVariant(id);
                } else if (!f->isReadOnly() && !m_pending[f->index()].isNull()) {
                    cell = values.at(bound++);
                } else {
                    cell = QVariant();
                }
            }
        }
        return;
    }
    QStringList changed;
    QVector<QVariant> values;
    for (const auto& f : m_fields) {
        if (f->isReadOnly())
            continue;
        if (m_pending[f->index()] != storedValue(row, f->index())) {
            changed << f->fieldName();
            values << toStorage(*f, m_pending[f->index()]);
        }
    }
    if (changed.isEmpty())
        return;
    const QStringList names = fieldNames();
    const bool updated =
        master ? engine.updateWithParent(m_tableName, row.id, changed, values, names, row.stored,
                                         *master)
               : engine.update(m_tableName, row.id, changed, values, names, row.stored);
    if (!updated) {
        if (master && !engine.exists(*master))
            failMissingMaster(*master);
        throw Error(
            QStringLiteral(
                "%1: la riga è stata modificata o cancellata da un altro utente dopo essere stata "
                "letta e non è stata salvata. Annullare le modifiche e aggiornare i dati")
                .arg(m_name));
    }
    StoredRow stored;
    if (engine.readRow(m_tableName, names, row.id, &stored)) {
        row.stored = std::move(stored.values);
    }
}

void DataSet::post() {
    if (!isEditing())
        fail(QStringLiteral("Dataset not in edit or insert mode"));
    dataEvent(deUpdateRecord);
    dataEvent(deCheckBrowseMode);
    storePending();
    m_pending.clear();
    setState(dsBrowse);
    dataEvent(deDataSetChange);
}

void DataSet::abandonPending() {
    if (m_state == dsInsert && m_current >= 0) {
        m_rows.erase(m_rows.begin() + m_current);
        m_current = m_rows.empty() ? -1 : qBound(0, m_rowBeforeInsert, int(m_rows.size()) - 1);
        m_bof = m_rows.empty() || m_bofBeforeInsert;
        m_eof = m_rows.empty() || m_eofBeforeInsert;
    }
    m_pending.clear();
}

void DataSet::cancel() {
    if (!isEditing())
        return;
    dataEvent(deCheckBrowseMode);
    abandonPending();
    setState(dsBrowse);
    dataEvent(deDataSetChange);
}

void DataSet::remove() {
    checkActive();
    if (m_state == dsInsert) {
        cancel();
        return;
    }
    if (m_rows.empty())
        fail(QStringLiteral("Cannot perform this operation on an empty dataset"));
    dataEvent(deCheckBrowseMode);
    m_connection->engine().remove(m_tableName, m_rows[m_current].id);
    m_pending.clear();
    m_rows.erase(m_rows.begin() + m_current);
    if (m_rows.empty()) {
        m_current = -1;
        m_bof = m_eof = true;
    } else {
        m_current = std::min(m_current, int(m_rows.size()) - 1);
        m_bof = m_eof = false;
    }
    setState(dsBrowse);
    dataEvent(deDataSetChange);
}

int DataSet::recordCount() const {
    checkActive();
    return int(m_rows.size()) - (m_state == dsInsert ? 1 : 0);
}

}  // namespace marvesa
