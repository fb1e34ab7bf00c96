#include "data/schema/ReferenceLists.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>

#include "data/base/Error.h"
#include "data/sql/SqlText.h"

static void initReferenceResources() {
    Q_INIT_RESOURCE(reference);
}

namespace marvesa::schema {

namespace {

QStringList readList(const QString& resource) {
    initReferenceResources();
    QFile f(resource);
    if (!f.open(QIODevice::ReadOnly)) {
        throw Error(QStringLiteral("Elenco di riferimento mancante: %1").arg(resource));
    }
    QStringList list;
    for (const QByteArray& line : f.readAll().split('\n')) {
        const QString s = QString::fromUtf8(line).trimmed();
        if (!s.isEmpty())
            list << s;
    }
    return list;
}

}  // namespace

QStringList municipalities() {
    return readList(QStringLiteral(":/reference/comuni.txt"));
}
QStringList countries() {
    return readList(QStringLiteral(":/reference/nazioni.txt"));
}

QSqlError loadReferenceList(const QSqlDatabase& db, const TableDef& table,
                            const QStringList& names) {
    QSqlQuery insert(db);
    if (!insert.prepare(QStringLiteral("INSERT INTO ") + quoteIdentifier(table.name) +
                        QStringLiteral(" (") + quoteIdentifier(table.columns[1].name) +
                        QStringLiteral(") VALUES (?)"))) {
        return insert.lastError();
    }
    for (const QString& n : names) {
        insert.addBindValue(n);
        if (!insert.exec())
            return insert.lastError();
    }
    return QSqlError();
}

const QStringList& sexItems() {
    static const QStringList items = {QStringLiteral("M"), QStringLiteral("F")};
    return items;
}

const QStringList& relationshipItems() {
    static const QStringList items = {
        QStringLiteral("Capo Nucleo"),       QStringLiteral("Amico/Amica"),
        QStringLiteral("Cognato/Cognata"),   QStringLiteral("Compagno/Compagna"),
        QStringLiteral("Coniuge"),           QStringLiteral("Convivente"),
        QStringLiteral("Cugino/Cugina"),     QStringLiteral("Genero/Nuora"),
        QStringLiteral("Genitore"),          QStringLiteral("Figlio/Figlia"),
        QStringLiteral("Fratello/Sorella"),  QStringLiteral("Nipote di Nonna/Nonno"),
        QStringLiteral("Nipote di Zia/Zio"), QStringLiteral("Nonna/Nonno"),
        QStringLiteral("Suocero/Suocera"),   QStringLiteral("Zio/Zia"),
    };
    return items;
}

}  // namespace marvesa::schema
