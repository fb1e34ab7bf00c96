#pragma once

#include <QString>
#include <QStringList>
#include <vector>

namespace marvesa {

// The kinds of column the program declares.
enum class FieldKind {
    Counter,   // integer assigned by the database on insert; read-only
    Text,      // text of at most `width` UTF-16 code units
    DateTime,  // a date with a time of day
    Memo,      // text without a length limit
    Integer,   // a whole number the program writes (a row of another table)
};

// What the database puts in a column an insert leaves out.
enum class ColumnDefault {
    Null,
    InsertionTime,     // the local date and time of the insert, to the second
    InsertionTimeUtc,  // the same in UTC, for records read in several time zones
};

struct ColumnDef {
    QString name;
    FieldKind kind;
    int width = 0;  // for Text only
    ColumnDefault byDefault = ColumnDefault::Null;
    // The version of the database that first has it (schema/SchemaUpgrade):
    // 0 for what every database has had from the start.
    int since = 0;
    // Kept by the program for its own work (the name key of the duplicate
    // check): the table cursors do not declare it, so the window, its grids
    // and the export never see it.
    bool internal = false;
    // The key the program itself gives every new row (a UUID made by the
    // desk, unique in the table), so that a row whose storing was never
    // confirmed is found again rather than stored twice. The program's own
    // column: the table cursors do not declare it as one of their fields.
    bool rowKey = false;
};

struct IndexDef {
    QString name;
    QStringList columns;
    bool unique = false;
    // Rows whose first column holds the empty text are left out: a unique
    // index that still lets any number of rows go without a value.
    bool skipsEmpty = false;
    // Keys in the order of their characters' codes, the order the file
    // database always gives text, whatever collation a server is set to.
    bool characterCodeOrder = false;
    int since = 0;  // as ColumnDef::since
};

struct TableDef {
    QString name;
    std::vector<ColumnDef> columns;  // in declaration order; the counter first
    std::vector<IndexDef> indexes;   // in the order they are made
    // Emptied and refilled whole, and nothing refers to its rows: its
    // counters only need to be assigned by the database, never kept apart
    // from those of deleted rows.
    bool staging = false;
    // The other desks learn which of its rows each commit inserted, changed
    // or deleted (schema/RowChangeTriggers).
    bool announcesChanges = false;
    // The log of those changes a database file keeps for its desks; a server
    // announces them instead and has no such table.
    bool changeLog = false;
    // Every insert, update and delete leaves a row in TBL_STORICO, written
    // by the database itself in the same transaction (schema/RecordHistory).
    bool keepsHistory = false;
    int since = 0;  // as ColumnDef::since

    // The row-key column (ColumnDef::rowKey), or null.
    const ColumnDef* rowKey() const;
};

namespace schema {

// The row-key column of the family units and members: a UUID as text.
inline constexpr const char* kRowKeyColumn = "CHIAVE_RIGA";
inline constexpr int kRowKeyWidth = 36;

const TableDef& nucleo();       // TBL_NUCLEO
const TableDef& anagrafica();   // TBL_ANAGRAFICA
const TableDef& exportTable();  // TBL_EXPORT
const TableDef& comuni();       // TBL_SYS_COMUNI
const TableDef& nazioni();      // TBL_SYS_NAZIONE
const TableDef& changeLog();    // TBL_SYS_MODIFICHE (version 2)
const TableDef& storico();      // TBL_STORICO: who changed what and when (version 3)
// TBL_NON_DOPPIONI: pairs of members the clerk declared "non è la stessa
// persona", never shown again as duplicates.
const TableDef& distinctPeople();

// Every table the program declares, in the order they are created: the
// five it started with, then those later versions added.
std::vector<const TableDef*> allTables();

}  // namespace schema

// The kind a column declared in the database has for the program.
FieldKind fieldKindFromDeclaredType(const QString& declaredType, int* width);

}  // namespace marvesa
