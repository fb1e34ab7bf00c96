#include "support/Sql.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <QUuid>

#include "data/schema/FileDatabase.h"
#include "data/schema/TableDefinitions.h"
#include "data/sql/ServerAddress.h"

namespace marvesa::test {

Sql::Sql(const QString& path)
    : m_name(QStringLiteral("test-sql-") + QUuid::createUuid().toString(QUuid::WithoutBraces)),
      m_server(ServerAddress::isServerConnection(path)) {
    if (m_server) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), m_name);
        ServerAddress(path).configure(db);
        if (!db.open())
            qFatal("cannot open %s: %s", qPrintable(path), qPrintable(db.lastError().text()));
        QSqlQuery(db).exec(QStringLiteral("SET client_min_messages TO warning"));
        return;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
    db.setDatabaseName(path);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
    if (!db.open())
        qFatal("cannot open %s", qPrintable(path));
}

Sql::~Sql() {
    QSqlDatabase::database(m_name, false).close();
    QSqlDatabase::removeDatabase(m_name);
}

QString Sql::portable(const QString& sql) const {
    if (!m_server)
        return sql;
    static const QRegularExpression names = [] {
        QStringList words{QStringLiteral("WRITES"), QStringLiteral("IDX_NUCLEO_CODICE_NUCLEO"),
                          QStringLiteral("IDX_ANAGRAFICA_CODICE_NUCLEO")};
        for (const TableDef* t : schema::allTables()) {
            words << t->name;
            for (const ColumnDef& c : t->columns)
                words << c.name;
        }
        words.removeDuplicates();
        return QRegularExpression(QStringLiteral("\\b(") + words.join(QLatin1Char('|')) +
                                  QStringLiteral(")\\b"));
    }();
    // Quote names outside quoted texts and quoted names only.
    QString out;
    QChar quote;
    int start = 0;
    auto flush = [&](int end) {
        QString part = sql.mid(start, end - start);
        if (quote.isNull())
            part.replace(names, QStringLiteral("\"\\1\""));
        out += part;
        start = end;
    };
    for (int i = 0; i < sql.size(); ++i) {
        const QChar c = sql.at(i);
        if (c != QLatin1Char('\'') && c != QLatin1Char('"'))
            continue;
        if (quote.isNull()) {
            flush(i);
            quote = c;
        } else if (c == quote) {
            flush(i + 1);
            quote = QChar();
        }
    }
    flush(int(sql.size()));
    return out;
}

QVariant Sql::portable(const QVariant& v) const {
    if (m_server && !v.isNull() && v.metaType().id() == QMetaType::QDateTime) {
        return QVariant(v.toDateTime().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")));
    }
    if (m_server && !v.isNull() && v.metaType().id() == QMetaType::Bool)
        return QVariant(v.toBool() ? 1 : 0);
    return v;
}

QString Sql::joined(const QString& expression, const QString& order) const {
    return m_server
               ? QStringLiteral("string_agg((%1)::text, ',' ORDER BY %2)").arg(expression, order)
               : QStringLiteral("group_concat(%1)").arg(expression);
}

QVariantList Sql::exec(const QString& text, const QVariantList& values) {
    const QString sql = portable(text);
    QSqlQuery q(QSqlDatabase::database(m_name, false));
    if (!prepare(q, sql)) {
        qWarning("prepare failed: %s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
        return {};
    }
    for (const QVariant& v : values)
        q.addBindValue(v);
    if (!run(q, sql)) {
        qWarning("exec failed: %s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
        return {};
    }
    QVariantList result;
    while (q.next())
        result << portable(q.value(0));
    return result;
}

QVariant Sql::one(const QString& sql, const QVariantList& values) {
    const QVariantList r = exec(sql, values);
    return r.isEmpty() ? QVariant() : r.first();
}

QList<QVariantList> Sql::rows(const QString& text, const QVariantList& values) {
    const QString sql = portable(text);
    QSqlQuery q(QSqlDatabase::database(m_name, false));
    prepare(q, sql);
    for (const QVariant& v : values)
        q.addBindValue(v);
    QList<QVariantList> result;
    if (!run(q, sql)) {
        qWarning("exec failed: %s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
        return result;
    }
    while (q.next()) {
        QVariantList row;
        for (int i = 0; i < q.record().count(); ++i)
            row << portable(q.value(i));
        result << row;
    }
    return result;
}

QString Sql::row(const QString& sql) {
    const QList<QVariantList> all = rows(sql);
    if (all.isEmpty())
        return QStringLiteral("<no row>");
    QStringList columns;
    for (const QVariant& v : all.first())
        columns << (v.isNull() ? QStringLiteral("<NULL>") : v.toString());
    return columns.join(QLatin1Char('|'));
}

int Sql::count(const QString& table, const QString& where) {
    return one(QStringLiteral("SELECT count(*) FROM ") + table +
               (where.isEmpty() ? QString() : QStringLiteral(" WHERE ") + where))
        .toInt();
}

qint64 Sql::addNucleo(const QString& code, const QString& denominazione) {
    exec(QStringLiteral("INSERT INTO TBL_NUCLEO (CODICE_NUCLEO, DENOMINAZIONE) VALUES (?, ?)"),
         {code, denominazione.isNull() ? QStringLiteral("Famiglia ") + code : denominazione});
    return one(QStringLiteral("SELECT max(ID_NUCLEO) FROM TBL_NUCLEO")).toLongLong();
}

qint64 Sql::addMember(const QString& code, const QString& cognome, const QString& nome) {
    exec(QStringLiteral(
             "INSERT INTO TBL_ANAGRAFICA (CODICE_NUCLEO, COGNOME, NOME) VALUES (?, ?, ?)"),
         {code, cognome, nome});
    return one(QStringLiteral("SELECT max(ID_ANAGRAFICA) FROM TBL_ANAGRAFICA")).toLongLong();
}

// The server prepares only queries: a statement without values runs as it
// stands.
bool Sql::prepare(QSqlQuery& q, const QString& sql) const {
    return (m_server && !sql.contains(QLatin1Char('?'))) || q.prepare(sql);
}

bool Sql::run(QSqlQuery& q, const QString& sql) const {
    return (m_server && !sql.contains(QLatin1Char('?'))) ? q.exec(sql) : q.exec();
}

}  // namespace marvesa::test
