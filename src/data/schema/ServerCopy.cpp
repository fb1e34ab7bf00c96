#include "data/schema/ServerCopy.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUuid>
#include <memory>

#include "data/base/Error.h"
#include "data/registry/History.h"
#include "data/schema/SchemaUpgrade.h"
#include "data/schema/SchemaWriter.h"
#include "data/schema/ServerSchema.h"
#include "data/schema/ServerSession.h"
#include "data/sql/EngineFactory.h"
#include "data/sql/SqlText.h"

namespace marvesa::schema {

namespace {

// Inserts rows many at a time: one statement for up to kBatch rows.
class BatchInsert {
public:
    static constexpr int kBatch = 200;
    BatchInsert(ServerSession& session, const TableDef& table)
        : m_session(session), m_table(table) {}
    ~BatchInsert() = default;

    void add(const QVariantList& row) {
        m_values += row;
        if (++m_rows == kBatch)
            flush();
    }
    void flush() {
        if (m_rows == 0)
            return;
        QSqlQuery* q = statement(m_rows);
        for (const QVariant& v : m_values)
            q->addBindValue(v);
        if (!q->exec()) {
            m_session.fail(QStringLiteral("copia della tabella %1: %2")
                               .arg(m_table.name, q->lastError().databaseText().trimmed()));
        }
        m_values.clear();
        m_rows = 0;
    }

private:
    QSqlQuery* statement(int rows) {
        if (rows == kBatch && m_full)
            return m_full.get();
        QStringList columns, marks;
        for (const ColumnDef& c : m_table.columns) {
            columns << quoteIdentifier(c.name);
            marks << QStringLiteral("?");
        }
        const QString tuple =
            QLatin1Char('(') + marks.join(QStringLiteral(", ")) + QLatin1Char(')');
        QStringList tuples;
        for (int i = 0; i < rows; ++i)
            tuples << tuple;
        auto q = std::make_unique<QSqlQuery>(m_session.db());
        if (!q->prepare(QStringLiteral("INSERT INTO ") + quoteIdentifier(m_table.name) +
                        QStringLiteral(" (") + columns.join(QStringLiteral(", ")) +
                        QStringLiteral(") VALUES ") + tuples.join(QStringLiteral(", ")))) {
            m_session.fail(q->lastError().databaseText().trimmed());
        }
        if (rows == kBatch) {
            m_full = std::move(q);
            return m_full.get();
        }
        m_last = std::move(q);
        return m_last.get();
    }

    ServerSession& m_session;
    const TableDef& m_table;
    QVariantList m_values;
    int m_rows = 0;
    std::unique_ptr<QSqlQuery> m_full;
    std::unique_ptr<QSqlQuery> m_last;
};

// The file database, read only.
class FileSource {
public:
    explicit FileSource(const QString& path)
        : m_name(QStringLiteral("marvesa-copy-") + QUuid::createUuid().toString(QUuid::Id128)) {
        const QFileInfo info(path);
        m_shown = QDir::toNativeSeparators(info.absoluteFilePath());
        if (!info.isFile()) {
            throw Error(QStringLiteral("Il file \"%1\" non esiste").arg(m_shown));
        }
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        QUrl url = QUrl::fromLocalFile(info.absoluteFilePath());
        url.setQuery(QStringLiteral("mode=ro"));
        db.setDatabaseName(url.toString(QUrl::FullyEncoded));
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=10000"));
        if (!db.open())
            fail(db.lastError().text());
        // One read transaction: every table as of one moment.
        QSqlQuery(db).exec(QStringLiteral("BEGIN"));
    }
    ~FileSource() {
        {
            QSqlDatabase db = QSqlDatabase::database(m_name, false);
            QSqlQuery(db).exec(QStringLiteral("COMMIT"));
            db.close();
        }
        QSqlDatabase::removeDatabase(m_name);
    }
    [[noreturn]] void fail(const QString& text) const {
        throw Error(
            QStringLiteral("Impossibile leggere il database \"%1\": %2").arg(m_shown, text));
    }
    QSqlDatabase db() const { return QSqlDatabase::database(m_name, false); }
    const QString& shown() const { return m_shown; }
    // The last counter the file gave in `t` (0 when it keeps none).
    qint64 lastCounter(const TableDef& t) {
        QSqlQuery q(db());
        if (!q.exec(QStringLiteral(
                "SELECT count(*) FROM sqlite_master WHERE name = 'sqlite_sequence'")) ||
            !q.next() || q.value(0).toInt() == 0) {
            return 0;
        }
        q.prepare(QStringLiteral("SELECT seq FROM sqlite_sequence WHERE name = ?"));
        q.addBindValue(t.name);
        if (!q.exec())
            fail(q.lastError().databaseText());
        return q.next() ? q.value(0).toLongLong() : 0;
    }
    qint64 count(const TableDef& t) {
        QSqlQuery q(db());
        if (!q.exec(QStringLiteral("SELECT count(*) FROM ") + quoteIdentifier(t.name)) || !q.next())
            fail(q.lastError().databaseText());
        return q.value(0).toLongLong();
    }

private:
    QString m_name;
    QString m_shown;
};

}  // namespace

ServerDatabase copyToServer(const QString& file, const QString& connection) {
    // The file first takes the shape of this program's databases, as the
    // program itself would give it on opening it: the server's tables are
    // made in that shape, and every column of the file has its place there.
    {
        const std::unique_ptr<QtSqlEngine> engine = openEngine(file);
        upgradeDatabase(*engine);
    }
    FileSource source(file);
    ServerSession session(connection);
    session.requireNoTables();
    session.createTables();
    // The rows come with their own history (copied as it is): the triggers
    // that would record each row again, or put this session's name on the
    // copied history rows, wait until the copy is done.
    const auto triggers = [&](const QString& what) {
        for (const TableDef* t : allTables()) {
            if (!makes(serverDialect(), *t))
                continue;
            session.run(QStringLiteral("ALTER TABLE %1 %2 TRIGGER USER")
                            .arg(quoteIdentifier(t->name), what));
        }
    };
    triggers(QStringLiteral("DISABLE"));
    ServerDatabase copied{session.describe(), {}};
    qint64 registryRows = 0;
    for (const TableDef* t : allTables()) {
        if (!makes(serverDialect(), *t))
            continue;
        QStringList columns;
        for (const ColumnDef& c : t->columns)
            columns << quoteIdentifier(c.name);
        QSqlQuery read(source.db());
        read.setForwardOnly(true);
        if (!read.exec(QStringLiteral("SELECT ") + columns.join(QStringLiteral(", ")) +
                       QStringLiteral(" FROM ") + quoteIdentifier(t->name) +
                       QStringLiteral(" ORDER BY ") + quoteIdentifier(t->columns[0].name))) {
            source.fail(read.lastError().databaseText());
        }
        BatchInsert insert(session, *t);
        const int n = int(t->columns.size());
        while (read.next()) {
            QVariantList row;
            row.reserve(n);
            for (int i = 0; i < n; ++i) {
                const QVariant v = read.value(i);
                if (v.isNull()) {
                    row << QVariant();
                } else if (t->columns[size_t(i)].kind == FieldKind::Counter ||
                           t->columns[size_t(i)].kind == FieldKind::Integer) {
                    row << QVariant(v.toLongLong());
                } else {
                    // Texts, and date-times in their stored text form.
                    row << QVariant(v.toString());
                }
            }
            insert.add(row);
        }
        if (read.lastError().isValid())
            source.fail(read.lastError().databaseText());
        insert.flush();
        // New rows continue after the highest counter the file ever gave,
        // also one whose row is gone: a counter is never given twice.
        const QString counter = t->columns[0].name;
        session.run(QStringLiteral("SELECT setval(pg_get_serial_sequence(?, ?), "
                                   "greatest(coalesce((SELECT max(%1) FROM %2), 0), ?) + 1, false)")
                        .arg(quoteIdentifier(counter), quoteIdentifier(t->name)),
                    {quoteIdentifier(t->name), counter, source.lastCounter(*t)});
        const qint64 inFile = source.count(*t);
        const qint64 onServer = session.count(*t);
        if (inFile != onServer) {
            session.fail(QStringLiteral("la tabella %1 ha %2 righe nel file e %3 sul server: "
                                        "nulla è stato copiato")
                             .arg(t->name)
                             .arg(inFile)
                             .arg(onServer));
        }
        copied.rows.append({t->name, onServer});
        if (t->keepsHistory)
            registryRows += onServer;
    }
    triggers(QStringLiteral("ENABLE"));
    // The copy itself is recorded, as an import of the file's rows.
    HistoryEvent event;
    event.operation = QString::fromLatin1(kEventImport);
    event.rows = registryRows;
    event.fileName = source.shown();
    event.details.insert(QStringLiteral("copia"), true);
    const HistoryInsert insert = historyEventInsert(event);
    session.run(insert.sql, insert.values);
    session.createSearchObjects();
    session.giveRoles();
    session.commit();
    return copied;
}

}  // namespace marvesa::schema
