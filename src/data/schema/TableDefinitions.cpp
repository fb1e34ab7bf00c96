#include "data/schema/TableDefinitions.h"

#include <QRegularExpression>

namespace marvesa {

namespace schema {

namespace {

ColumnDef counter(const char* n) {
    return {QString::fromLatin1(n), FieldKind::Counter, 0};
}
ColumnDef text(const char* n, int w) {
    return {QString::fromLatin1(n), FieldKind::Text, w};
}
ColumnDef dateTime(const char* n) {
    return {QString::fromLatin1(n), FieldKind::DateTime, 0};
}
ColumnDef memo(const char* n) {
    return {QString::fromLatin1(n), FieldKind::Memo, 0};
}

}  // namespace

const TableDef& nucleo() {
    static const TableDef def{
        QStringLiteral("TBL_NUCLEO"),
        {counter("ID_NUCLEO"), text("CODICE_NUCLEO", 20), text("DENOMINAZIONE", 200),
         dateTime("DATA_INSERIMENTO"), text("NOME_OSPITANTE", 50), text("COMUNE", 50),
         text("INDIRIZZO", 100), text("TELEFONO", 50), dateTime("TERMINE_ALLOGGIO")}};
    return def;
}

const TableDef& anagrafica() {
    static const TableDef def{
        QStringLiteral("TBL_ANAGRAFICA"),
        {counter("ID_ANAGRAFICA"), text("CODICE_NUCLEO", 20), text("COGNOME", 50), text("NOME", 50),
         text("SESSO", 1), dateTime("DATA_NASCITA"), text("NAZIONE_NASCITA", 30),
         text("CITTADINANZA", 30), text("GRADO_PARENTELA", 25), text("COMUNE", 50),
         text("INDIRIZZO", 100), dateTime("TERMINE_ALLOGGIO"), dateTime("DATA_INGRESSO"),
         text("FRONTIERA", 100), text("CODICE_PRIORITA", 10), memo("NOTE"), text("TELEFONO", 50),
         dateTime("DATA_INSERIMENTO"), text("NOME_OSPITANTE", 100)}};
    return def;
}

const TableDef& exportTable() {
    static const TableDef def{
        QStringLiteral("TBL_EXPORT"),
        {counter("ID_ANAGRAFICA"), text("CODICE_NUCLEO", 20), text("COGNOME", 50), text("NOME", 50),
         text("SESSO", 1), dateTime("DATA_NASCITA"), text("NAZIONE_NASCITA", 30),
         text("CITTADINANZA", 30), text("GRADO_PARENTELA", 25), text("COMUNE", 50),
         text("INDIRIZZO", 100), text("NOME_OSPITANTE", 100), text("TELEFONO", 50),
         dateTime("TERMINE_ALLOGGIO"), dateTime("DATA_INGRESSO"), text("FRONTIERA", 100),
         text("CODICE_PRIORITA", 10), memo("NOTE"), dateTime("DATA_INSERIMENTO")}};
    return def;
}

const TableDef& comuni() {
    static const TableDef def{QStringLiteral("TBL_SYS_COMUNI"),
                              {counter("ID_COMUNE"), text("Denominazione", 100)}};
    return def;
}

const TableDef& nazioni() {
    static const TableDef def{QStringLiteral("TBL_SYS_NAZIONE"),
                              {counter("ID_NAZIONE"), text("Nazione", 100)}};
    return def;
}

std::vector<const TableDef*> allTables() {
    return {&nucleo(), &anagrafica(), &exportTable(), &comuni(), &nazioni()};
}

QString uniqueFamilyCodeIndex() {
    return QStringLiteral(
        "CREATE UNIQUE INDEX \"IDX_NUCLEO_CODICE_NUCLEO\" ON \"TBL_NUCLEO\" (\"CODICE_NUCLEO\") "
        "WHERE \"CODICE_NUCLEO\" <> ''");
}

}  // namespace schema

FieldKind fieldKindFromDeclaredType(const QString& declaredType, int* width) {
    const QString t = declaredType.toUpper();
    *width = 0;
    if (t.contains(QLatin1String("DATE")) || t.contains(QLatin1String("TIME"))) {
        return FieldKind::DateTime;
    }
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
