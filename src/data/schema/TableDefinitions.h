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

const TableDef& nucleo();       // TBL_NUCLEO
const TableDef& anagrafica();   // TBL_ANAGRAFICA
const TableDef& exportTable();  // TBL_EXPORT
const TableDef& comuni();       // TBL_SYS_COMUNI
const TableDef& nazioni();      // TBL_SYS_NAZIONE

// All five, in the order they are created.
std::vector<const TableDef*> allTables();

// The index that keeps two family units from carrying the same family code
// (the empty code excepted), so that two desks drawing a code at the same
// moment never both store it. Same SQL on both engines.
QString uniqueFamilyCodeIndex();

}  // namespace schema

// The kind a column declared in the database has for the program.
FieldKind fieldKindFromDeclaredType(const QString& declaredType, int* width);

}  // namespace marvesa
