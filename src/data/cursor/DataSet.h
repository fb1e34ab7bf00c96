#pragma once

#include <QString>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "data/base/Value.h"
#include "data/cursor/Connection.h"
#include "data/cursor/DataEvent.h"
#include "data/cursor/DataSource.h"
#include "data/cursor/Field.h"
#include "data/schema/TableDefinitions.h"
#include "data/sql/Engine.h"

namespace marvesa {

// A table cursor over one database table: a state, a sequence of rows with
// one current row, the beginning-of-table and end-of-table flags, and while
// editing the pending values of the current row with the modified flag.
//
// Rows are read when the table opens (a static cursor), or, for a table
// set to read them when needed, the first time anything looks at them; post
// stores one row, delete removes one at once, refresh reads the values
// again. Every change is announced synchronously to the table's data sources.
class DataSet {
public:
    DataSet(QString componentName, QString tableName, Connection* connection);
    ~DataSet();
    DataSet(const DataSet&) = delete;
    DataSet& operator=(const DataSet&) = delete;

    const QString& name() const { return m_name; }
    const QString& tableName() const { return m_tableName; }

    // Declared columns; a table without declared columns takes every column
    // of the database table when it opens. declareFields() leaves out the
    // table's row key, which the cursor fills itself (setRowKeyColumn()).
    Field* addField(const ColumnDef& def);
    void declareFields(const TableDef& table);

    // The column in which every new row gets a key of its own (a UUID the
    // cursor makes when the row is started, kept until it is stored or
    // abandoned), under a unique index. A "Salva" whose earlier attempt
    // stored the row without the answer ever arriving (the connection
    // dropped) finds the row under that key and takes it as stored, with the
    // values typed since, instead of storing it a second time.
    void setRowKeyColumn(const QString& column) { m_rowKeyColumn = column; }
    const QString& rowKeyColumn() const { return m_rowKeyColumn; }
    // The key of the new row being inserted; empty otherwise.
    const QString& pendingRowKey() const { return m_pendingKey; }
    Field* findField(const QString& fieldName) const;
    Field* fieldByName(const QString& fieldName) const;  // throws when missing
    const std::vector<std::unique_ptr<Field>>& fields() const { return m_fields; }

    // Rows come ordered by this column, equal values in counter order.
    void setOrderColumn(const QString& column) { m_orderColumn = column; }

    // Whether a new row is read back from the database once it is stored, so
    // that the values the database gave it (column defaults) show at once.
    // On by default. A table nobody looks at before its next refresh can do
    // without this second statement per row; its new rows then hold their
    // counter and the values they were given, the other columns NULL.
    void setReadBackAfterInsert(bool on) { m_readBackAfterInsert = on; }

    // Whether the rows are read only when something first looks at them
    // (moves, counts, reads a value, inserts, edits, deletes, refreshes)
    // rather than when the table opens: a table that may hold many rows
    // nobody reads costs nothing until somebody does. Opening still checks
    // the table and its columns. Off by default; not for a detail table.
    void setReadWhenNeeded(bool on) { m_readWhenNeeded = on; }

    // Makes this table the detail of `master`: its rows are those whose
    // `detailField` equals the master's current `masterField`.
    void setMasterSource(DataSource* master, const QString& masterField,
                         const QString& detailField);
    // Stores a row of this detail table only while the master row it belongs
    // to still exists (another user may have deleted it), checked in the
    // statement that stores it. Otherwise nothing is stored, the table stays
    // in its editing state and the error reads `missingMaster`, with %1
    // standing for the master's value.
    void setMasterRowRequired(const QString& missingMaster) { m_missingMaster = missingMaster; }

    DataSetState state() const { return m_state; }
    bool active() const { return m_state != dsInactive; }
    bool isEditing() const { return m_state == dsEdit || m_state == dsInsert; }
    bool bof() const {
        readPendingRows();
        return m_bof;
    }
    bool eof() const {
        readPendingRows();
        return m_eof;
    }
    bool modified() const { return m_modified; }
    bool isEmpty() const {
        readPendingRows();
        return m_rows.empty();
    }

    void open();
    void close();
    void first();
    void next();
    void prior();
    void last();
    void insert();
    void edit();
    void post();
    void cancel();
    void remove();  // delete
    void refresh();
    int recordCount() const;

    // Shows what others stored and deleted since the rows were read: reads
    // them again while the table is browsing, without ending anything (no
    // deCheckBrowseMode, nothing posted or abandoned). The current row stays
    // current while it exists; when it is gone the row that followed it
    // becomes current, the new last row when it was the last. Announces
    // deDataSetChange only when the rows or the current row differ from
    // before, and returns whether they did. Outside dsBrowse it does nothing:
    // a row being edited is never touched. A master table must not be
    // reloaded while its detail is editing: following the new current row
    // would end the detail's edit.
    bool reloadInPlace();

    // Shows the given rows as the database now holds them, reading again
    // only those of this table: the rows another desk inserted, changed or
    // deleted (a deleted row is not read). A row that is new here takes its
    // place in counter order; a detail table shows only the rows of its
    // master's current row. Otherwise as reloadInPlace(): nothing ended, the
    // current row kept while it exists (else the row that followed it, or
    // the new last row), one deDataSetChange when anything differs, nothing
    // outside dsBrowse. A table ordered by another column reads its rows
    // whole instead. Returns whether anything differed.
    bool applyRowChanges(const std::vector<RowChange>& changes);

    // Ends a pending edit: the row is posted when something in it changed and
    // abandoned otherwise (after the controls have written their text).
    void checkBrowseMode();

    // Called when ending a pending edit (a move, an insert, a refresh, the
    // member table following the family unit) is about to store a changed
    // row; never on an explicit post. The handler completes the row as the
    // window's own store command would, or refuses it by throwing (Abort
    // once the operator has been told why): the operation that needed the
    // edit ended then stops and the table stays in its editing state.
    using BeforeImplicitPostHandler = std::function<void(DataSet& sender)>;
    void setOnBeforeImplicitPost(BeforeImplicitPostHandler handler) {
        m_onBeforeImplicitPost = std::move(handler);
    }

    // Moves to a row of the sequence (a grid's click or arrow key); ends a
    // pending edit first.
    void moveTo(int row);

    Value fieldValue(const QString& fieldName) const;
    void setFieldValue(const QString& fieldName, const Value& value);

    // For grids: the rows as they stand, the current one with its pending
    // values; no copy is made.
    int rowCount() const {
        readPendingRows();
        return int(m_rows.size());
    }
    int currentRow() const {
        readPendingRows();
        return m_current;
    }
    Value valueAt(int row, int fieldIndex) const;

    // The data sources announce the table's events to their listeners.
    void attachDataSource(DataSource* source);
    void detachDataSource(DataSource* source);

    // Raises an event to every data source of this table.
    void dataEvent(DataEvent event, Field* field = nullptr);

private:
    friend class Field;
    friend class Connection;
    friend class MasterDetailLink;

    struct Row {
        qint64 id = 0;
        QVector<QVariant> stored;  // as read from the database
    };

    void checkActive() const;
    [[noreturn]] void fail(const QString& text) const;
    void setState(DataSetState state);
    Value storedValue(const Row& row, int fieldIndex) const;
    QVariant toStorage(const Field& field, const Value& value) const;
    void setCurrentValue(int fieldIndex, const Value& value, bool raise);
    Value currentValue(int fieldIndex) const;
    ReadRequest readRequest() const;
    void readRows();
    // The rows of a table that reads them when needed, if not read yet.
    void readPendingRows() const {
        if (m_rowsPending)
            const_cast<DataSet*>(this)->readRowsNow();
    }
    void readRowsNow();
    // Whether a row holding `values` belongs to this table's rows (a detail
    // table's: those of its master's current row).
    bool shownHere(const QVector<QVariant>& values) const;
    QStringList fieldNames() const;
    void abandonPending();
    void storePending();
    void storeNewRow(Engine& engine, Row& row, const std::optional<ParentRow>& master);
    void storeChanges(Engine& engine, Row& row, const std::optional<ParentRow>& master,
                      bool givenOnly);
    // The new row stored under the pending key by an earlier attempt whose
    // answer was lost; nothing when there is none.
    std::optional<StoredRow> storedUnderPendingKey(Engine& engine);
    // Whether `stored` holds the pending values: all of them, or with
    // `givenOnly` those given (not NULL), the others being the database's.
    bool holdsPending(const QVector<QVariant>& stored, bool givenOnly) const;
    // Reads the stored row back after it was stored; when that fails (the
    // connection dropped after the commit) the row keeps `fallback` and the
    // table is read again later.
    void readBack(Engine& engine, Row& row);
    // The master row a pending detail row must belong to; null when it is
    // not checked.
    std::optional<ParentRow> requiredMaster() const;
    [[noreturn]] void failMissingMaster(const ParentRow& parent) const;
    void linkChanged();

    QString m_name;
    QString m_tableName;
    Connection* m_connection;
    std::vector<std::unique_ptr<Field>> m_fields;
    bool m_fieldsDeclared = false;
    QString m_orderColumn;
    QString m_rowKeyColumn;
    QString m_pendingKey;
    bool m_readBackAfterInsert = true;
    bool m_readWhenNeeded = false;
    // Open, its rows not read yet.
    bool m_rowsPending = false;
    BeforeImplicitPostHandler m_onBeforeImplicitPost;
    std::vector<DataSource*> m_sources;

    DataSetState m_state = dsInactive;
    // A deque: deleting the first row and inserting before it, as emptying
    // and refilling a table do, cost the same however many rows follow.
    std::deque<Row> m_rows;
    int m_current = -1;
    bool m_bof = true;
    bool m_eof = true;
    std::vector<Value> m_pending;
    bool m_modified = false;
    int m_rowBeforeInsert = -1;
    bool m_bofBeforeInsert = true;
    bool m_eofBeforeInsert = true;

    // Master-detail link.
    std::unique_ptr<DataLink> m_masterLink;
    DataSource* m_master = nullptr;
    QString m_masterField;
    QString m_detailField;
    QString m_missingMaster;  // empty: the master row is not checked
    // The filter in force: nullopt while the master has no current row or is
    // inserting (no rows at all); otherwise the master's code, possibly NULL.
    std::optional<Value> m_filter;
};

}  // namespace marvesa
