#include "data/registry/HistoryLines.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "data/base/Value.h"
#include "data/schema/TableDefinitions.h"

namespace marvesa {

namespace {

// Longest value shown whole; a longer one (a note) is cut.
constexpr int kLongestValue = 60;

const TableDef* tableNamed(const QString& name) {
    for (const TableDef* t : schema::allTables()) {
        if (t->name == name)
            return t;
    }
    return nullptr;
}

const ColumnDef* columnOf(const TableDef* table, const QString& name) {
    if (!table)
        return nullptr;
    for (const ColumnDef& c : table->columns) {
        if (c.name == name)
            return &c;
    }
    return nullptr;
}

QString valueText(const QJsonValue& v, const ColumnDef* column) {
    if (v.isNull() || v.isUndefined())
        return QStringLiteral("(vuoto)");
    if (v.isDouble())
        return QString::number(qint64(v.toDouble()));
    QString text = v.toString();
    if (text.isEmpty())
        return QStringLiteral("(vuoto)");
    if (column && column->kind == FieldKind::DateTime) {
        const QDateTime dt = dateTimeFromStorage(text);
        if (dt.isValid())
            return Value::dateTime(dt).toText();
    }
    text = text.simplified();
    if (text.size() > kLongestValue)
        text = text.left(kLongestValue) + QStringLiteral("…");
    return text;
}

QJsonObject objectOf(const QString& json) {
    return QJsonDocument::fromJson(json.toUtf8()).object();
}

// The columns of `values` in the table's own order, then any other.
QStringList orderedKeys(const TableDef* table, const QJsonObject& values) {
    QStringList keys;
    if (table) {
        for (const ColumnDef& c : table->columns) {
            if (values.contains(c.name))
                keys << c.name;
        }
    }
    for (const QString& k : values.keys()) {
        if (!keys.contains(k))
            keys << k;
    }
    return keys;
}

QString changesText(const HistoryEntry& e) {
    const TableDef* table = tableNamed(e.table);
    const QJsonObject values = objectOf(e.values);
    QStringList parts;
    for (const QString& key : orderedKeys(table, values)) {
        const QJsonArray pair = values.value(key).toArray();
        const ColumnDef* column = columnOf(table, key);
        const QString label = historyColumnLabel(e.table, key);
        const QString before = valueText(pair.at(0), column);
        const QString after = valueText(pair.at(1), column);
        // Both sides blanked by an anonymisation since.
        if (pair.at(0) == pair.at(1))
            parts << label + QStringLiteral(" (anonimizzato)");
        else
            parts << QStringLiteral("%1 %2 → %3").arg(label, before, after);
    }
    return parts.join(QStringLiteral("; "));
}

// A member's surname and name as its history rows leave them.
struct KnownName {
    QString surname;
    QString name;
    QString text() const { return (surname + QLatin1Char(' ') + name).trimmed(); }
};

void follow(KnownName* known, const HistoryEntry& e) {
    const QJsonObject values = objectOf(e.values);
    const int side = e.operation == QLatin1String("D") ? 0 : 1;
    for (const auto& [column, target] : {std::pair{QStringLiteral("COGNOME"), &known->surname},
                                         std::pair{QStringLiteral("NOME"), &known->name}}) {
        if (values.contains(column))
            *target = values.value(column).toArray().at(side).toString();
    }
}

QString whoText(const HistoryEntry& e) {
    if (e.user.isEmpty())
        return QStringLiteral("un altro programma");
    if (e.computer.isEmpty())
        return e.user;
    return e.user + QStringLiteral(" su ") + e.computer;
}

QString eventText(const HistoryEntry& e) {
    const QJsonObject details = objectOf(e.values);
    const qint64 rows = qint64(details.value(QStringLiteral("righe")).toDouble(-1));
    const QString file = details.value(QStringLiteral("file")).toString();
    const QString inFile = file.isEmpty() ? QString() : QStringLiteral(" (file %1)").arg(file);
    if (e.operation == QLatin1String(kEventExport)) {
        return (rows == 1 ? QStringLiteral("esportato 1 componente")
                          : QStringLiteral("esportati %1 componenti").arg(qMax<qint64>(rows, 0))) +
               inFile;
    }
    if (e.operation == QLatin1String(kEventImport)) {
        return (rows == 1 ? QStringLiteral("importata 1 riga")
                          : QStringLiteral("importate %1 righe").arg(qMax<qint64>(rows, 0))) +
               inFile;
    }
    if (e.operation == QLatin1String(kEventAnonymise)) {
        if (e.table == QLatin1String("TBL_ANAGRAFICA")) {
            return QStringLiteral("dati personali del componente n. %1 cancellati su richiesta")
                .arg(e.rowId);
        }
        const int members = details.value(QStringLiteral("componenti")).toInt();
        return QStringLiteral(
                   "dati personali del nucleo familiare %1 e dei suoi %2 componenti "
                   "anonimizzati")
            .arg(e.familyCode)
            .arg(members);
    }
    return e.operation + QLatin1Char(' ') + e.values;
}

}  // namespace

QString historyColumnLabel(const QString& table, const QString& column) {
    static const QHash<QString, QString> labels = {
        {QStringLiteral("CODICE_NUCLEO"), QStringLiteral("Codice Nucleo")},
        {QStringLiteral("DENOMINAZIONE"), QStringLiteral("Descrizione Nucleo")},
        {QStringLiteral("DATA_INSERIMENTO"), QStringLiteral("Data inserimento")},
        {QStringLiteral("NOME_OSPITANTE"), QStringLiteral("Ospitante")},
        {QStringLiteral("COMUNE"), QStringLiteral("Comune")},
        {QStringLiteral("INDIRIZZO"), QStringLiteral("Indirizzo")},
        {QStringLiteral("TELEFONO"), QStringLiteral("Telefono")},
        {QStringLiteral("TERMINE_ALLOGGIO"), QStringLiteral("Termine Ospitalità")},
        {QStringLiteral("COGNOME"), QStringLiteral("Cognome")},
        {QStringLiteral("NOME"), QStringLiteral("Nome")},
        {QStringLiteral("SESSO"), QStringLiteral("Sesso")},
        {QStringLiteral("DATA_NASCITA"), QStringLiteral("Data Nascita")},
        {QStringLiteral("NAZIONE_NASCITA"), QStringLiteral("Nazione Nascita")},
        {QStringLiteral("CITTADINANZA"), QStringLiteral("Cittadinanza")},
        {QStringLiteral("GRADO_PARENTELA"), QStringLiteral("Grado Parentela")},
        {QStringLiteral("DATA_INGRESSO"), QStringLiteral("Data Ingresso")},
        {QStringLiteral("FRONTIERA"), QStringLiteral("Frontiera")},
        {QStringLiteral("CODICE_PRIORITA"), QStringLiteral("Codice priorità")},
        {QStringLiteral("NOTE"), QStringLiteral("Note")},
    };
    Q_UNUSED(table);
    return labels.value(column, column);
}

QStringList historyLines(const std::vector<HistoryEntry>& entries,
                         const QHash<qint64, QString>& memberNames) {
    // The members' names as each row leaves them: followed from the oldest
    // row to the newest.
    std::vector<QString> subjects(entries.size());
    QHash<qint64, KnownName> known;
    for (size_t i = entries.size(); i-- > 0;) {
        const HistoryEntry& e = entries[i];
        if (e.table != QLatin1String("TBL_ANAGRAFICA"))
            continue;
        KnownName& name = known[e.rowId];
        follow(&name, e);
        QString text = name.text();
        if (text.isEmpty())
            text = memberNames.value(e.rowId).trimmed();
        subjects[i] = text.isEmpty() ? QStringLiteral("n. %1").arg(e.rowId) : text;
    }

    QStringList lines;
    for (size_t i = 0; i < entries.size(); ++i) {
        const HistoryEntry& e = entries[i];
        const bool member = e.table == QLatin1String("TBL_ANAGRAFICA");
        QString what;
        if (e.operation == QLatin1String("I")) {
            what = member ? QStringLiteral("inserito il componente ") + subjects[i]
                          : QStringLiteral("creato il nucleo familiare ") + e.familyCode;
        } else if (e.operation == QLatin1String("D")) {
            what = member ? QStringLiteral("cancellato il componente ") + subjects[i]
                          : QStringLiteral("cancellato il nucleo familiare ") + e.familyCode;
        } else if (e.operation == QLatin1String("U")) {
            what = changesText(e) +
                   (member ? QStringLiteral(" (componente %1)").arg(subjects[i])
                           : QStringLiteral(" (nucleo familiare %1)").arg(e.familyCode));
        } else {
            what = eventText(e);
        }
        const QString when = e.when.isValid()
                                 ? e.when.toLocalTime().toString(QStringLiteral("dd/MM/yyyy HH:mm"))
                                 : QStringLiteral("data sconosciuta");
        lines << QStringLiteral("%1, %2: %3").arg(when, whoText(e), what);
    }
    return lines;
}

}  // namespace marvesa
