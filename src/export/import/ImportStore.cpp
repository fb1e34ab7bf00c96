// Storing an import: everything in one write transaction, or nothing.

#include <csv.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include "data/base/Error.h"
#include "data/registry/FamilyCode.h"
#include "data/registry/History.h"
#include "data/sql/Engine.h"
#include "data/sql/SqlText.h"
#include "data/sql/WriteTransaction.h"
#include "export/import/ImportPlan.h"

namespace marvesa {

namespace {

using F = ImportField;

QVariant stored(const Value& v) {
    switch (v.kind()) {
        case Value::Kind::Null:
            return QVariant();
        case Value::Kind::DateTime:
            return dateTimeToStorage(*v.dateTimeIf());
        case Value::Kind::Text: {
            // Qt binds a null text as NULL; an empty text is a value.
            const QString& s = *v.textIf();
            return s.isNull() ? QVariant(QStringLiteral("")) : QVariant(s);
        }
        case Value::Kind::Integer:
            return v.toText();
    }
    return QVariant();
}

// A date-time read back from a server arrives as one; the file's as text.
QVariant storedAsRead(const QVariant& v) {
    if (v.isNull())
        return QVariant();
    if (v.typeId() == QMetaType::QDateTime)
        return dateTimeToStorage(v.toDateTime());
    return v;
}

const QStringList kFamilyColumns{QStringLiteral("CODICE_NUCLEO"),   QStringLiteral("DENOMINAZIONE"),
                                 QStringLiteral("NOME_OSPITANTE"),  QStringLiteral("COMUNE"),
                                 QStringLiteral("INDIRIZZO"),       QStringLiteral("TELEFONO"),
                                 QStringLiteral("TERMINE_ALLOGGIO")};

const QStringList kMemberColumns{QStringLiteral("CODICE_NUCLEO"),
                                 QStringLiteral("COGNOME"),
                                 QStringLiteral("NOME"),
                                 QStringLiteral("SESSO"),
                                 QStringLiteral("DATA_NASCITA"),
                                 QStringLiteral("NAZIONE_NASCITA"),
                                 QStringLiteral("CITTADINANZA"),
                                 QStringLiteral("GRADO_PARENTELA"),
                                 QStringLiteral("DATA_INGRESSO"),
                                 QStringLiteral("FRONTIERA"),
                                 QStringLiteral("NOTE"),
                                 QStringLiteral("NOME_OSPITANTE"),
                                 QStringLiteral("COMUNE"),
                                 QStringLiteral("INDIRIZZO"),
                                 QStringLiteral("TELEFONO"),
                                 QStringLiteral("TERMINE_ALLOGGIO"),
                                 QStringLiteral("CHIAVE_NOMINATIVO")};

// The member's own fields, in the order of kMemberColumns after the code.
const ImportField kMemberFields[] = {F::Surname,      F::Name,        F::Sex,          F::BirthDate,
                                     F::BirthCountry, F::Citizenship, F::Relationship, F::EntryDate,
                                     F::Border,       F::Note};

// The host data a member keeps of its family unit, as "Salva" copies it.
const ImportField kHostFields[] = {F::Host, F::Municipality, F::Address, F::Telephone,
                                   F::EndOfHosting};

bool hasProgramForm(const QString& code) {
    static const QRegularExpression form(QStringLiteral("^QX[0-9]{1,18}$"));
    return form.match(code).hasMatch();
}

QSet<QString> storedCodes(Engine& engine) {
    QSet<QString> codes;
    engine.select(QStringLiteral("SELECT \"CODICE_NUCLEO\" FROM \"TBL_NUCLEO\""), {},
                  [&](const QVector<QVariant>& row) {
                      codes.insert(row.at(0).toString());
                      return true;
                  });
    return codes;
}

// The host data of the stored family unit `code`; empty when it is gone.
QVector<QVariant> hostDataOf(Engine& engine, const QString& code) {
    QVector<QVariant> host;
    engine.select(QStringLiteral("SELECT \"NOME_OSPITANTE\", \"COMUNE\", \"INDIRIZZO\", "
                                 "\"TELEFONO\", \"TERMINE_ALLOGGIO\" FROM \"TBL_NUCLEO\" WHERE "
                                 "\"CODICE_NUCLEO\" = ?"),
                  {code}, [&](const QVector<QVariant>& row) {
                      for (const QVariant& v : row)
                          host << storedAsRead(v);
                      return false;
                  });
    return host;
}

QByteArray csvField(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    QByteArray out(qsizetype(utf8.size() * 2 + 2), Qt::Uninitialized);
    const size_t n =
        csv_write(out.data(), size_t(out.size()), utf8.constData(), size_t(utf8.size()));
    out.truncate(qsizetype(n));
    return out;
}

}  // namespace

QString rejectedRowsPath(const QString& source) {
    const QFileInfo info(source);
    const QString base = info.dir().filePath(info.completeBaseName() + QStringLiteral("-scartate"));
    QString path = base + QStringLiteral(".csv");
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = base + QStringLiteral("-%1.csv").arg(n);
    return path;
}

void writeRejectedRows(const QString& path, const QStringList& headers,
                       const std::vector<RejectedRow>& rows) {
    QFile f(path);
    const auto fail = [&] {
        throw Error(QStringLiteral("Impossibile scrivere le righe scartate nel file \"%1\": %2")
                        .arg(QDir::toNativeSeparators(path), f.errorString()));
    };
    // Personal data: readable by its owner alone, from the start.
    if (!f.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        fail();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    QByteArray data = QByteArrayLiteral("\xEF\xBB\xBF");
    const auto line = [&](const QStringList& cells) {
        for (int i = 0; i < cells.size(); ++i) {
            if (i > 0)
                data += ';';
            data += csvField(cells.at(i));
        }
        data += "\r\n";
    };
    // As wide as the widest row, so that "Motivo" stands in one column.
    qsizetype width = headers.size();
    for (const RejectedRow& r : rows)
        width = std::max(width, r.cells.size());
    const auto padded = [width](QStringList cells) {
        while (cells.size() < width)
            cells << QString();
        return cells;
    };
    line(padded(headers) + QStringList{QStringLiteral("Motivo")});
    for (const RejectedRow& r : rows)
        line(padded(r.cells) +
             QStringList{QStringLiteral("riga %1: %2").arg(r.line).arg(r.reason)});
    if (f.write(data) != data.size() || !f.flush())
        fail();
    f.close();
}

ImportOutcome storeImport(Engine& engine, const ImportPreview& preview,
                          const std::function<bool(int done, int total)>& progress) {
    ImportOutcome outcome;
    const int total = preview.members();
    int done = 0;
    QString rejectedFile;
    try {
        // The family units' lock: no other desk draws or stores a code
        // meanwhile, and the codes read here stay free until the commit.
        WriteTransaction transaction(engine, QStringLiteral("TBL_NUCLEO"));
        QSet<QString> taken = storedCodes(engine);
        const auto isTaken = [&taken](const QString& c) { return taken.contains(c); };
        // First each family unit's code and the host data its members copy
        // (a stored unit's, read now), and the new units; then the members.
        // A writer of many rows keeps the connection to itself.
        std::vector<std::pair<QString, QVector<QVariant>>> codeAndHost;
        codeAndHost.reserve(preview.families.size());
        std::vector<QVector<QVariant>> newFamilies;
        for (const PlannedFamily& family : preview.families) {
            QString code;
            QVector<QVariant> host;
            if (family.goesToExisting() && taken.contains(family.fileCode))
                host = hostDataOf(engine, family.fileCode);
            if (!host.isEmpty()) {
                code = family.fileCode;
            } else {
                code = !family.fileCode.isEmpty() && hasProgramForm(family.fileCode) &&
                               !taken.contains(family.fileCode)
                           ? family.fileCode
                           : drawFamilyCode(isTaken);
                taken.insert(code);
                QVector<QVariant> row{code};
                for (F f : {F::Description, F::Host, F::Municipality, F::Address, F::Telephone,
                            F::EndOfHosting})
                    row << stored(family.values.at(int(f)));
                newFamilies.push_back(std::move(row));
                for (F f : kHostFields)
                    host << stored(family.values.at(int(f)));
            }
            codeAndHost.emplace_back(code, std::move(host));
        }
        {
            const std::unique_ptr<RowWriter> families =
                engine.insertRows(QStringLiteral("TBL_NUCLEO"), kFamilyColumns);
            for (const QVector<QVariant>& row : newFamilies)
                families->add(row);
            families->finish();
        }
        outcome.families = int(newFamilies.size());
        const std::unique_ptr<RowWriter> members =
            engine.insertRows(QStringLiteral("TBL_ANAGRAFICA"), kMemberColumns);
        for (size_t i = 0; i < preview.families.size(); ++i) {
            const auto& [code, host] = codeAndHost[i];
            for (const PlannedMember& m : preview.families[i].members) {
                QVector<QVariant> row{code};
                for (F f : kMemberFields)
                    row << stored(m.values.at(int(f)));
                row << host;
                row << m.facts.key.stored();
                members->add(row);
                ++outcome.members;
                if (progress && ++done % 1000 == 0 && !progress(done, total)) {
                    outcome.cancelled = true;
                    return ImportOutcome{0, 0, QString(), true};
                }
            }
        }
        members->finish();
        if (progress && !progress(total, total))
            return ImportOutcome{0, 0, QString(), true};
        if (!preview.rejected.empty()) {
            rejectedFile = rejectedRowsPath(preview.file.path);
            writeRejectedRows(rejectedFile, preview.file.headers, preview.rejected);
        }
        // Recorded in the import's own transaction: who, when, how many
        // members, which file.
        recordEvent(engine, QString::fromLatin1(kEventImport), QStringLiteral("TBL_ANAGRAFICA"),
                    outcome.members, preview.file.path);
        transaction.commit();
    } catch (...) {
        // Nothing was stored: neither is the list of rejected rows.
        if (!rejectedFile.isEmpty())
            QFile::remove(rejectedFile);
        throw;
    }
    // ---------------------------------------------------------------
    // The import ends here: committed, every family unit and member stored.
    // ---------------------------------------------------------------
    outcome.rejectedFile = rejectedFile;
    return outcome;
}

}  // namespace marvesa
