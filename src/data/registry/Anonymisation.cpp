#include "data/registry/Anonymisation.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QSettings>
#include <QVariantMap>

#include "data/base/Error.h"
#include "data/base/Value.h"
#include "data/registry/History.h"
#include "data/registry/HistoryLines.h"
#include "data/registry/PersonalData.h"
#include "data/registry/RegistryQueries.h"
#include "data/schema/RecordHistory.h"
#include "data/sql/QtSqlEngine.h"
#include "data/sql/WriteTransaction.h"

namespace marvesa {

namespace {

using Row = QVector<QVariant>;

const QString kNucleo = QStringLiteral("TBL_NUCLEO");
const QString kAnagrafica = QStringLiteral("TBL_ANAGRAFICA");
const QString kExport = QStringLiteral("TBL_EXPORT");

QString q(const QString& name) {
    return quoteIdentifier(name);
}

QString q(const char* name) {
    return quoteIdentifier(QString::fromLatin1(name));
}

// "coalesce(x."C", '') <> ''" for each text column of `table` to blank: the
// row still holds personal data.
QString holdsPersonalData(const QString& table, const QString& alias) {
    QStringList any;
    for (const PersonalColumn* c : personalColumnsOf(table)) {
        if (c->erasure == Erasure::Blank)
            any << QStringLiteral("coalesce(%1.%2, '') <> ''").arg(alias, q(c->column));
    }
    return QLatin1Char('(') + any.join(QStringLiteral(" OR ")) + QLatin1Char(')');
}

QString displayDate(const QVariant& stored) {
    const QDate d = storedDateTime(stored).date();
    return d.isValid() ? d.toString(QStringLiteral("dd/MM/yyyy")) : QStringLiteral("(nessuna)");
}

// A history or table row to look at again: its table and counter.
struct RowKey {
    QString table;
    qint64 id = 0;
};

class Eraser {
public:
    Eraser(QtSqlEngine& engine) : m_engine(engine) {}

    // Erases the personal columns of the row `id` of `table` (counter
    // column `idColumn`); returns the values it held, by column.
    QVariantMap eraseRow(const QString& table, const QString& idColumn, qint64 id) {
        const std::vector<const PersonalColumn*> columns = personalColumnsOf(table);
        QStringList names;
        for (const PersonalColumn* c : columns)
            names << q(c->column);
        QVariantMap before;
        Row stored;
        m_engine.select(QStringLiteral("SELECT %1 FROM %2 WHERE %3 = ?")
                            .arg(names.join(QStringLiteral(", ")), q(table), q(idColumn)),
                        {id}, [&](const Row& row) {
                            stored = row;
                            return false;
                        });
        if (stored.isEmpty())
            return before;
        QStringList assignments;
        QVector<QVariant> values;
        for (size_t i = 0; i < columns.size(); ++i) {
            const QVariant& old = stored.at(int(i));
            before.insert(QString::fromLatin1(columns[i]->column), old);
            const QVariant erased = erasedValue(old, columns[i]->erasure);
            if (sameValue(old, erased))
                continue;
            assignments << names.at(int(i)) + QStringLiteral(" = ?");
            values << erased;
        }
        if (!assignments.isEmpty()) {
            values << id;
            m_engine.exec(QStringLiteral("UPDATE %1 SET %2 WHERE %3 = ?")
                              .arg(q(table), assignments.join(QStringLiteral(", ")), q(idColumn)),
                          values);
        }
        return before;
    }

    // The staging rows of the family code `code`: all of them, or only
    // those of the person `person` (surname, name and birth date as they
    // were); the number erased.
    int eraseExportRows(const QString& code, const QVariantMap* person = nullptr) {
        std::vector<qint64> ids;
        m_engine.select(QStringLiteral("SELECT \"ID_ANAGRAFICA\", \"COGNOME\", \"NOME\", "
                                       "\"DATA_NASCITA\" FROM \"TBL_EXPORT\" WHERE "
                                       "\"CODICE_NUCLEO\" = ?"),
                        {code}, [&](const Row& row) {
                            if (!person || isPerson(row, *person))
                                ids.push_back(row.at(0).toLongLong());
                            return true;
                        });
        for (qint64 id : ids)
            eraseRow(kExport, QStringLiteral("ID_ANAGRAFICA"), id);
        return int(ids.size());
    }

    // Rewrites the VALORI of the history rows `ids`: each personal column
    // of the row's table loses its values, old and new; the number of rows
    // rewritten.
    int rewriteHistory(const QSet<qint64>& ids) {
        int rewritten = 0;
        for (qint64 id : ids) {
            QString table, json;
            m_engine.select(QStringLiteral("SELECT \"TABELLA\", \"VALORI\" FROM \"TBL_STORICO\" "
                                           "WHERE \"ID_STORICO\" = ?"),
                            {id}, [&](const Row& row) {
                                table = row.at(0).toString();
                                json = row.at(1).toString();
                                return false;
                            });
            QJsonObject values = QJsonDocument::fromJson(json.toUtf8()).object();
            bool changed = false;
            for (const PersonalColumn* c : personalColumnsOf(table)) {
                const QString key = QString::fromLatin1(c->column);
                if (!values.contains(key))
                    continue;
                QJsonArray pair = values.value(key).toArray();
                for (int side = 0; side < pair.size(); ++side) {
                    const QJsonValue v = pair.at(side);
                    if (v.isNull())
                        continue;
                    const QVariant erased = erasedValue(v.toVariant(), c->erasure);
                    const QJsonValue now =
                        erased.isNull() ? QJsonValue() : QJsonValue(erased.toString());
                    if (now != v) {
                        pair[side] = now;
                        changed = true;
                    }
                }
                values.insert(key, pair);
            }
            if (!changed)
                continue;
            m_engine.exec(
                QStringLiteral(
                    "UPDATE \"TBL_STORICO\" SET \"VALORI\" = ? WHERE \"ID_STORICO\" = ?"),
                {QString::fromUtf8(QJsonDocument(values).toJson(QJsonDocument::Compact)), id});
            ++rewritten;
        }
        return rewritten;
    }

    // The history rows of `key`, and (with a code) those carrying the code.
    void collectHistory(const RowKey& key, const QString& code, QSet<qint64>* ids) {
        const auto add = [&](const Row& row) {
            ids->insert(row.at(0).toLongLong());
            return true;
        };
        m_engine.select(QStringLiteral("SELECT \"ID_STORICO\" FROM \"TBL_STORICO\" WHERE "
                                       "\"TABELLA\" = ? AND \"ID_RIGA\" = ?"),
                        {key.table, key.id}, add);
        if (!code.isEmpty()) {
            m_engine.select(QStringLiteral("SELECT \"ID_STORICO\" FROM \"TBL_STORICO\" WHERE "
                                           "\"CODICE_NUCLEO\" = ?"),
                            {code}, add);
        }
    }

    void openHistory() {
        for (const QString& sql : schema::historyOpenForErasure(m_engine.dialect()))
            m_engine.execDirect(sql, QStringLiteral("Impossibile anonimizzare"));
    }
    void closeHistory() {
        for (const QString& sql : schema::historyClosedAgain(m_engine.dialect()))
            m_engine.execDirect(sql, QStringLiteral("Impossibile anonimizzare"));
    }

private:
    // Two stored values alike: date-times compared in their stored form,
    // whichever way the engine hands them over.
    static QString normalised(const QVariant& v) {
        if (v.typeId() == QMetaType::QDateTime) {
            const QDateTime dt = v.toDateTime();
            return dateTimeToStorage(naiveDateTime(dt.date(), dt.time()));
        }
        return v.toString();
    }
    static bool sameValue(const QVariant& a, const QVariant& b) {
        if (a.isNull() || b.isNull())
            return a.isNull() && b.isNull();
        return normalised(a) == normalised(b);
    }
    static bool sameText(const QVariant& a, const QVariant& b) {
        return a.isNull() == b.isNull() && a.toString() == b.toString();
    }
    // A staging row (counter, surname, name, birth date) of the person.
    static bool isPerson(const Row& row, const QVariantMap& person) {
        return sameText(row.at(1), person.value(QStringLiteral("COGNOME"))) &&
               sameText(row.at(2), person.value(QStringLiteral("NOME"))) &&
               storedDateTime(row.at(3)).date() ==
                   storedDateTime(person.value(QStringLiteral("DATA_NASCITA"))).date();
    }

    QtSqlEngine& m_engine;
};

QString personName(const QVariantMap& values) {
    const QString name = (values.value(QStringLiteral("COGNOME")).toString() + QLatin1Char(' ') +
                          values.value(QStringLiteral("NOME")).toString())
                             .simplified();
    return name.isEmpty() ? QStringLiteral("(senza nome)") : name;
}

}  // namespace

int retentionMonths() {
    const QSettings settings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Marvesa"),
                             QStringLiteral("Marvesa"));
    bool ok = false;
    const int months = settings.value(QStringLiteral("conservazioneMesi")).toString().toInt(&ok);
    return ok && months > 0 ? months : kDefaultRetentionMonths;
}

std::vector<DueFamilyUnit> dueFamilyUnits(Engine& engine, const QDate& today, int months) {
    const QDate cutoff = today.addMonths(-qMax(1, months));
    const QString cutoffText = dateTimeToStorage(naiveDateTime(cutoff));
    // An end of hosting stored in a form that is no date is never due: it
    // is looked at again below, where the database's order of texts does
    // not count.
    const QString sql =
        QStringLiteral(
            "SELECT n.\"ID_NUCLEO\", n.\"CODICE_NUCLEO\", n.\"DENOMINAZIONE\", "
            "n.\"NOME_OSPITANTE\", n.\"COMUNE\", n.\"TERMINE_ALLOGGIO\", (SELECT count(*) FROM "
            "\"TBL_ANAGRAFICA\" a WHERE a.\"CODICE_NUCLEO\" = n.\"CODICE_NUCLEO\") "
            "FROM \"TBL_NUCLEO\" n WHERE n.\"TERMINE_ALLOGGIO\" IS NOT NULL AND "
            "n.\"TERMINE_ALLOGGIO\" < ? AND NOT EXISTS (SELECT 1 FROM \"TBL_NUCLEO\" m WHERE "
            "m.\"CODICE_NUCLEO\" = n.\"CODICE_NUCLEO\" AND m.\"ID_NUCLEO\" <> n.\"ID_NUCLEO\" AND "
            "(m.\"TERMINE_ALLOGGIO\" IS NULL OR m.\"TERMINE_ALLOGGIO\" >= ?)) AND (%1 OR EXISTS "
            "(SELECT 1 FROM \"TBL_ANAGRAFICA\" a WHERE a.\"CODICE_NUCLEO\" = n.\"CODICE_NUCLEO\" "
            "AND %2)) ORDER BY n.\"TERMINE_ALLOGGIO\", n.\"ID_NUCLEO\"")
            .arg(holdsPersonalData(kNucleo, QStringLiteral("n")),
                 holdsPersonalData(kAnagrafica, QStringLiteral("a")));
    std::vector<DueFamilyUnit> due;
    engine.select(sql, {cutoffText, cutoffText}, [&](const Row& row) {
        const QDate end = storedDateTime(row.at(5)).date();
        if (!end.isValid() || end >= cutoff)
            return true;
        DueFamilyUnit u;
        u.id = row.at(0).toLongLong();
        u.code = row.at(1).toString();
        u.description = row.at(2).toString();
        u.host = row.at(3).toString();
        u.municipality = row.at(4).toString();
        u.endOfHosting = end;
        u.members = row.at(6).toInt();
        due.push_back(u);
        return true;
    });
    return due;
}

QString erasureExplanation() {
    QStringList erased, quarter;
    QSet<QString> seen;
    for (const char* table : {"TBL_NUCLEO", "TBL_ANAGRAFICA"}) {
        for (const PersonalColumn* c : personalColumnsOf(QString::fromLatin1(table))) {
            const QString label =
                historyColumnLabel(QString::fromLatin1(table), QString::fromLatin1(c->column));
            if (c->erasure == Erasure::QuarterStart) {
                quarter << label;
            } else if (!seen.contains(label)) {
                seen.insert(label);
                erased << label;
            }
        }
    }
    return QStringLiteral(
               "Vengono cancellati, nel nucleo familiare, nei suoi componenti, nelle righe "
               "dell'ultima esportazione e nello storico delle modifiche: %1. %2 diventa il primo "
               "giorno del suo trimestre (04/03/1980 → 01/01/1980). Restano sesso, cittadinanza, "
               "nazione di nascita, grado di parentela, comune, frontiera e le date di ingresso "
               "e di termine dell'ospitalità, che il Riepilogo conta. L'operazione viene "
               "registrata nello storico e non si può annullare.")
        .arg(erased.join(QStringLiteral(", ")), quarter.join(QStringLiteral(", ")));
}

QStringList erasurePreview(Engine& engine, const std::vector<qint64>& familyIds) {
    QStringList lines;
    for (qint64 id : familyIds) {
        engine.select(
            QStringLiteral(
                "SELECT n.\"CODICE_NUCLEO\", a.\"COGNOME\", a.\"NOME\", a.\"DATA_NASCITA\" FROM "
                "\"TBL_NUCLEO\" n JOIN \"TBL_ANAGRAFICA\" a ON a.\"CODICE_NUCLEO\" = "
                "n.\"CODICE_NUCLEO\" WHERE n.\"ID_NUCLEO\" = ? ORDER BY a.\"ID_ANAGRAFICA\""),
            {id}, [&](const Row& row) {
                QVariantMap person{{QStringLiteral("COGNOME"), row.at(1)},
                                   {QStringLiteral("NOME"), row.at(2)}};
                const QVariant birth = row.at(3);
                const QVariant erased = erasedValue(birth, Erasure::QuarterStart);
                lines << QStringLiteral("%1: %2, nato/a il %3 → %4")
                             .arg(row.at(0).toString(), personName(person), displayDate(birth),
                                  displayDate(erased));
                return true;
            });
    }
    return lines;
}

ErasureOutcome anonymiseFamilyUnits(QtSqlEngine& engine, const std::vector<qint64>& familyIds,
                                    const QDate& today, int months) {
    ErasureOutcome outcome;
    engine.runErasing([&] {
        ErasureOutcome done;
        WriteTransaction transaction(engine, kNucleo);
        Eraser eraser(engine);
        // Another desk may have changed an end of hosting since the list
        // was made: only what is still due now.
        QSet<qint64> wanted(familyIds.begin(), familyIds.end());
        std::vector<DueFamilyUnit> units;
        for (const DueFamilyUnit& u : dueFamilyUnits(engine, today, months)) {
            if (wanted.contains(u.id))
                units.push_back(u);
        }
        eraser.openHistory();
        QSet<qint64> history;
        for (const DueFamilyUnit& u : units) {
            eraser.eraseRow(kNucleo, QStringLiteral("ID_NUCLEO"), u.id);
            eraser.collectHistory({kNucleo, u.id}, u.code, &history);
            std::vector<qint64> members;
            engine.select(QStringLiteral("SELECT \"ID_ANAGRAFICA\" FROM \"TBL_ANAGRAFICA\" WHERE "
                                         "\"CODICE_NUCLEO\" = ? ORDER BY \"ID_ANAGRAFICA\""),
                          {u.code}, [&](const Row& row) {
                              members.push_back(row.at(0).toLongLong());
                              return true;
                          });
            for (qint64 member : members) {
                eraser.eraseRow(kAnagrafica, QStringLiteral("ID_ANAGRAFICA"), member);
                eraser.collectHistory({kAnagrafica, member}, QString(), &history);
            }
            done.exportRows += eraser.eraseExportRows(u.code);
            done.members += int(members.size());
            ++done.familyUnits;
        }
        // The rows the erasure itself just wrote are among them.
        for (const DueFamilyUnit& u : units)
            eraser.collectHistory({kNucleo, u.id}, u.code, &history);
        done.historyRows = eraser.rewriteHistory(history);
        eraser.closeHistory();
        for (const DueFamilyUnit& u : units) {
            HistoryEvent event;
            event.operation = QString::fromLatin1(kEventAnonymise);
            event.table = kNucleo;
            event.rowId = u.id;
            event.familyCode = u.code;
            event.details.insert(QStringLiteral("componenti"), u.members);
            event.details.insert(QStringLiteral("conservazioneMesi"), months);
            recordEvent(engine, event);
        }
        forgetErasedWords(engine);
        transaction.commit();
        outcome = done;
    });
    return outcome;
}

ErasureOutcome erasePerson(QtSqlEngine& engine, qint64 memberId) {
    ErasureOutcome outcome;
    engine.runErasing([&] {
        ErasureOutcome done;
        WriteTransaction transaction(engine, kNucleo);
        Eraser eraser(engine);
        QString code;
        bool found = false;
        engine.select(QStringLiteral("SELECT \"CODICE_NUCLEO\" FROM \"TBL_ANAGRAFICA\" WHERE "
                                     "\"ID_ANAGRAFICA\" = ?"),
                      {memberId}, [&](const Row& row) {
                          code = row.at(0).toString();
                          found = true;
                          return false;
                      });
        if (!found) {
            throw Error(
                QStringLiteral("Il componente non esiste più: nessun dato è stato "
                               "cancellato"));
        }
        eraser.openHistory();
        const QVariantMap before =
            eraser.eraseRow(kAnagrafica, QStringLiteral("ID_ANAGRAFICA"), memberId);
        if (!code.isEmpty())
            done.exportRows = eraser.eraseExportRows(code, &before);
        QSet<qint64> history;
        eraser.collectHistory({kAnagrafica, memberId}, QString(), &history);
        done.historyRows = eraser.rewriteHistory(history);
        eraser.closeHistory();
        HistoryEvent event;
        event.operation = QString::fromLatin1(kEventAnonymise);
        event.table = kAnagrafica;
        event.rowId = memberId;
        event.familyCode = code;
        event.details.insert(QStringLiteral("su richiesta"), true);
        recordEvent(engine, event);
        forgetErasedWords(engine);
        transaction.commit();
        done.members = 1;
        outcome = done;
    });
    return outcome;
}

}  // namespace marvesa
