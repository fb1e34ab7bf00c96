#include "data/schema/TableDefinitions.h"

#include <QRegularExpression>

namespace marvesa {

namespace schema {

namespace {

QString name(const char* n) {
    return QString::fromLatin1(n);
}

ColumnDef counter(const char* n) {
    return {name(n), FieldKind::Counter, 0};
}
ColumnDef text(const char* n, int w) {
    return {name(n), FieldKind::Text, w};
}
ColumnDef dateTime(const char* n) {
    return {name(n), FieldKind::DateTime, 0};
}
ColumnDef memo(const char* n) {
    return {name(n), FieldKind::Memo, 0};
}
ColumnDef integer(const char* n) {
    return {name(n), FieldKind::Integer, 0};
}
// Brought by version `version` of the database.
ColumnDef since(ColumnDef c, int version) {
    c.since = version;
    return c;
}
ColumnDef internal(ColumnDef c) {
    c.internal = true;
    return c;
}
// The time of registration, filled by the database: the program never
// writes it.
ColumnDef insertionTime(const char* n) {
    return {name(n), FieldKind::DateTime, 0, ColumnDefault::InsertionTime};
}

// The key the program gives each new row, from version 1.
ColumnDef rowKey() {
    ColumnDef c{name(kRowKeyColumn), FieldKind::Text, kRowKeyWidth};
    c.since = 1;
    c.rowKey = true;
    return c;
}

IndexDef index(const char* n, const char* column) {
    return {name(n), {name(column)}};
}
IndexDef index(const char* n, const char* first, const char* second) {
    return {name(n), {name(first), name(second)}};
}
// No two rows hold the same value, the empty text excepted.
IndexDef uniqueUnlessEmpty(const char* n, const char* column) {
    IndexDef i = index(n, column);
    i.unique = true;
    i.skipsEmpty = true;
    return i;
}
IndexDef uniqueRowKey(const char* n) {
    IndexDef i = index(n, kRowKeyColumn);
    i.unique = true;
    i.since = 1;
    return i;
}
IndexDef inCharacterCodeOrder(const char* n, const char* column) {
    IndexDef i = index(n, column);
    i.characterCodeOrder = true;
    return i;
}
IndexDef since(IndexDef i, int version) {
    i.since = version;
    return i;
}

// The version of the database that brought the duplicate check: the name key
// of every member, its indexes, the pairs declared different people.
constexpr int kDuplicateCheck = 4;

}  // namespace

const TableDef& nucleo() {
    static const TableDef def = [] {
        TableDef t{
            name("TBL_NUCLEO"),
            {counter("ID_NUCLEO"), text("CODICE_NUCLEO", 20), text("DENOMINAZIONE", 200),
             insertionTime("DATA_INSERIMENTO"), text("NOME_OSPITANTE", 50), text("COMUNE", 50),
             text("INDIRIZZO", 100), text("TELEFONO", 50), dateTime("TERMINE_ALLOGGIO"), rowKey()},
            // Two desks drawing a family code at the same moment never both
            // store it.
            {uniqueUnlessEmpty("IDX_NUCLEO_CODICE_NUCLEO", "CODICE_NUCLEO"),
             uniqueRowKey("IDX_NUCLEO_CHIAVE_RIGA")}};
        t.announcesChanges = true;
        t.keepsHistory = true;
        return t;
    }();
    return def;
}

const TableDef& anagrafica() {
    static const TableDef def = [] {
        TableDef t{name("TBL_ANAGRAFICA"),
                   {counter("ID_ANAGRAFICA"), text("CODICE_NUCLEO", 20), text("COGNOME", 50),
                    text("NOME", 50), text("SESSO", 1), dateTime("DATA_NASCITA"),
                    text("NAZIONE_NASCITA", 30), text("CITTADINANZA", 30),
                    text("GRADO_PARENTELA", 25), text("COMUNE", 50), text("INDIRIZZO", 100),
                    dateTime("TERMINE_ALLOGGIO"), dateTime("DATA_INGRESSO"), text("FRONTIERA", 100),
                    text("CODICE_PRIORITA", 10), memo("NOTE"), text("TELEFONO", 50),
                    insertionTime("DATA_INSERIMENTO"), text("NOME_OSPITANTE", 100), rowKey(),
                    // The surname and name as the duplicate check compares
                    // them (data/registry/NameKey), kept by the program.
                    internal(since(text("CHIAVE_NOMINATIVO", 200), kDuplicateCheck))},
                   // The members are always read filtered by family code.
                   {index("IDX_ANAGRAFICA_CODICE_NUCLEO", "CODICE_NUCLEO"),
                    uniqueRowKey("IDX_ANAGRAFICA_CHIAVE_RIGA"),
                    // The duplicate check finds a person by name key (with
                    // the birth date beside it) and by birth date, without
                    // reading every member.
                    since({name("IDX_ANAGRAFICA_CHIAVE_NOMINATIVO"),
                           {name("CHIAVE_NOMINATIVO"), name("DATA_NASCITA")}},
                          kDuplicateCheck),
                    since(index("IDX_ANAGRAFICA_DATA_NASCITA", "DATA_NASCITA"), kDuplicateCheck)}};
        t.announcesChanges = true;
        t.keepsHistory = true;
        return t;
    }();
    return def;
}

const TableDef& exportTable() {
    static const TableDef def = [] {
        TableDef t{name("TBL_EXPORT"),
                   {counter("ID_ANAGRAFICA"), text("CODICE_NUCLEO", 20), text("COGNOME", 50),
                    text("NOME", 50), text("SESSO", 1), dateTime("DATA_NASCITA"),
                    text("NAZIONE_NASCITA", 30), text("CITTADINANZA", 30),
                    text("GRADO_PARENTELA", 25), text("COMUNE", 50), text("INDIRIZZO", 100),
                    text("NOME_OSPITANTE", 100), text("TELEFONO", 50), dateTime("TERMINE_ALLOGGIO"),
                    dateTime("DATA_INGRESSO"), text("FRONTIERA", 100), text("CODICE_PRIORITA", 10),
                    memo("NOTE"), insertionTime("DATA_INSERIMENTO")},
                   // The export reads the rows in family-code order through
                   // this index, the same order on both databases.
                   {inCharacterCodeOrder("CODICE_NUCLEO", "CODICE_NUCLEO")}};
        // Every export empties the table and fills it again.
        t.staging = true;
        return t;
    }();
    return def;
}

const TableDef& comuni() {
    static const TableDef def{
        name("TBL_SYS_COMUNI"), {counter("ID_COMUNE"), text("Denominazione", 100)}, {}};
    return def;
}

const TableDef& nazioni() {
    static const TableDef def{
        name("TBL_SYS_NAZIONE"), {counter("ID_NAZIONE"), text("Nazione", 100)}, {}};
    return def;
}

const TableDef& changeLog() {
    static const TableDef def = [] {
        // One entry per row of a table that announces its changes, numbered
        // in commit order by its counter: the table, the row's counter and
        // I, U or D for inserted, updated, deleted.
        TableDef t{name("TBL_SYS_MODIFICHE"),
                   {counter("ID_MODIFICA"), text("TABELLA", 30), integer("ID_RIGA"),
                    text("OPERAZIONE", 1)},
                   {}};
        t.changeLog = true;
        t.since = 2;
        return t;
    }();
    return def;
}

const TableDef& storico() {
    static const TableDef def = [] {
        ColumnDef when{name("QUANDO"), FieldKind::DateTime, 0, ColumnDefault::InsertionTimeUtc};
        TableDef t{name("TBL_STORICO"),
                   {counter("ID_STORICO"), when, text("UTENTE", 128), text("POSTAZIONE", 200),
                    text("TABELLA", 30), integer("ID_RIGA"), text("CODICE_NUCLEO", 20),
                    text("OPERAZIONE", 10), memo("VALORI")},
                   // "Storico" reads the rows of one family unit: its own and
                   // its members', by family code, and a row's history by its
                   // table and counter.
                   {index("IDX_STORICO_CODICE_NUCLEO", "CODICE_NUCLEO"),
                    index("IDX_STORICO_RIGA", "TABELLA", "ID_RIGA")}};
        const int version = 3;
        t.since = version;
        for (ColumnDef& c : t.columns)
            c.since = version;
        for (IndexDef& i : t.indexes)
            i.since = version;
        return t;
    }();
    return def;
}

const TableDef& distinctPeople() {
    static const TableDef def = [] {
        IndexDef pair{name("IDX_NON_DOPPIONI_COPPIA"),
                      {name("ID_ANAGRAFICA_1"), name("ID_ANAGRAFICA_2")}};
        pair.unique = true;
        TableDef t{name("TBL_NON_DOPPIONI"),
                   // The smaller member counter first.
                   {counter("ID_NON_DOPPIONE"), integer("ID_ANAGRAFICA_1"),
                    integer("ID_ANAGRAFICA_2"), insertionTime("DATA_INSERIMENTO")},
                   {since(pair, kDuplicateCheck),
                    since(index("IDX_NON_DOPPIONI_SECONDO", "ID_ANAGRAFICA_2"), kDuplicateCheck)}};
        t.since = kDuplicateCheck;
        for (ColumnDef& c : t.columns)
            c.since = kDuplicateCheck;
        return t;
    }();
    return def;
}

std::vector<const TableDef*> allTables() {
    return {&nucleo(),  &anagrafica(), &exportTable(), &comuni(),
            &nazioni(), &changeLog(),  &storico(),     &distinctPeople()};
}

}  // namespace schema

const ColumnDef* TableDef::rowKey() const {
    for (const ColumnDef& c : columns) {
        if (c.rowKey)
            return &c;
    }
    return nullptr;
}

FieldKind fieldKindFromDeclaredType(const QString& declaredType, int* width) {
    const QString t = declaredType.toUpper();
    *width = 0;
    if (t.contains(QLatin1String("DATE")) || t.contains(QLatin1String("TIME"))) {
        return FieldKind::DateTime;
    }
    if (t.startsWith(QLatin1String("BIGINT")))
        return FieldKind::Integer;
    if (t.startsWith(QLatin1String("INT")))
        return FieldKind::Counter;
    static const QRegularExpression widthRe(QStringLiteral("\\((\\d+)\\)"));
    const auto m = widthRe.match(t);
    if (m.hasMatch() && t.contains(QLatin1String("CHAR"))) {
        *width = m.captured(1).toInt();
        return FieldKind::Text;
    }
    return FieldKind::Memo;
}

}  // namespace marvesa
