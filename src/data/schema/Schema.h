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
};

struct ColumnDef {
    QString name;
    FieldKind kind;
    int width = 0;  // for Text only
};

struct TableDef {
    QString name;
    std::vector<ColumnDef> columns;  // in declaration order
};

namespace schema {

const TableDef& nucleo();      // TBL_NUCLEO
const TableDef& anagrafica();  // TBL_ANAGRAFICA
const TableDef& exportTable(); // TBL_EXPORT
const TableDef& comuni();      // TBL_SYS_COMUNI
const TableDef& nazioni();     // TBL_SYS_NAZIONE

// All five, in the order they are created.
std::vector<const TableDef*> allTables();

// The SQL that creates the tables and their indexes.
QStringList createStatements();

// The index that keeps two family units from carrying the same family code
// (the empty code excepted), so that two desks drawing a code at the same
// moment never both store it. Same SQL on both engines.
QString uniqueFamilyCodeIndex();

// The reference lists shipped with the program.
QStringList municipalities();
QStringList countries();

struct CreatedDatabase {
    QString path;  // full path
    int municipalities = 0;
    int countries = 0;
};

// Creates a new database at `path` with every table, index and the reference
// lists. Refuses to touch an existing file: the database is built under a
// temporary name beside it and moved into place only when complete, and never
// over a file that appeared meanwhile. The file holds personal data: only
// its owner may read and write it (0600), or, with a `group`, the owner and
// that group (0660). Throws marvesa::Error on failure.
CreatedDatabase createDatabase(const QString& path, const QString& group = QString());

}  // namespace schema

// The kind a column declared in the database has for the program.
FieldKind fieldKindFromDeclaredType(const QString& declaredType, int* width);

}  // namespace marvesa
