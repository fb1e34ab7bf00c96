#pragma once

// Helpers shared by the data-layer tests: fresh database files, direct SQL on
// a connection of their own (to seed rows, to play "another user", to read
// back what the cursors stored), and a listener that records what the data
// sources announce.

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <QTemporaryDir>
#include <QUuid>
#include <QVariant>
#include <QtTest>
#include <functional>

#include "data/registry/DataModule.h"
#include "data/cursor/DataSet.h"
#include "data/base/Error.h"
#include "data/schema/FileDatabase.h"
#include "data/schema/TableDefinitions.h"
#include "support/TestDatabases.h"

namespace marvesa::test {

inline QString eventName(DataEvent e) {
    switch (e) {
        case deFieldChange: return QStringLiteral("deFieldChange");
        case deRecordChange: return QStringLiteral("deRecordChange");
        case deDataSetChange: return QStringLiteral("deDataSetChange");
        case deDataSetScroll: return QStringLiteral("deDataSetScroll");
        case deUpdateRecord: return QStringLiteral("deUpdateRecord");
        case deUpdateState: return QStringLiteral("deUpdateState");
        case deCheckBrowseMode: return QStringLiteral("deCheckBrowseMode");
    }
    return QStringLiteral("?");
}

// A new database made the way the program's tool makes one. The first is
// made by schema::createDatabase; later ones are copies of it, which is the
// same file and much faster than loading the reference lists again.
// On the server: a new database there, and `dir` and `name` are not used.
inline QString newDatabase(const QTemporaryDir& dir, const QString& name = QStringLiteral("dbQuaz.mdb")) {
    if (onServer()) return TestServer::instance().newDatabase();
    static QTemporaryDir templateDir;
    static QString templatePath;
    if (templatePath.isEmpty()) {
        templatePath = templateDir.filePath(QStringLiteral("template.mdb"));
        schema::createDatabase(templatePath);
    }
    const QString path = dir.filePath(name);
    if (!QFile::copy(templatePath, path)) qFatal("cannot copy the template database to %s", qPrintable(path));
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return path;
}

// A connection of the test's own on a database file, for SQL the cursors do
// not do. Every value is bound.
//
// On the server the same SQL is run, with the program's table and column
// names (upper case, as the tests write them) quoted, since the server folds
// unquoted names to lower case; date-times read back in the form the file
// database stores them.
class Sql {
public:
    explicit Sql(const QString& path)
        : m_name(QStringLiteral("test-sql-") + QUuid::createUuid().toString(QUuid::WithoutBraces)),
          m_server(ServerAddress::isServerConnection(path)) {
        if (m_server) {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), m_name);
            ServerAddress(path).configure(db);
            if (!db.open()) qFatal("cannot open %s: %s", qPrintable(path), qPrintable(db.lastError().text()));
            QSqlQuery(db).exec(QStringLiteral("SET client_min_messages TO warning"));
            return;
        }
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
        if (!db.open()) qFatal("cannot open %s", qPrintable(path));
    }
    bool onServer() const { return m_server; }

    // The SQL as the engine needs it (see above).
    QString portable(const QString& sql) const {
        if (!m_server) return sql;
        static const QRegularExpression names = [] {
            QStringList words{QStringLiteral("WRITES"), QStringLiteral("IDX_NUCLEO_CODICE_NUCLEO"),
                              QStringLiteral("IDX_ANAGRAFICA_CODICE_NUCLEO")};
            for (const TableDef* t : schema::allTables()) {
                words << t->name;
                for (const ColumnDef& c : t->columns) words << c.name;
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
            if (quote.isNull()) part.replace(names, QStringLiteral("\"\\1\""));
            out += part;
            start = end;
        };
        for (int i = 0; i < sql.size(); ++i) {
            const QChar c = sql.at(i);
            if (c != QLatin1Char('\'') && c != QLatin1Char('"')) continue;
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
    // Values as the file database gives them: date-times as stored text.
    QVariant portable(const QVariant& v) const {
        if (m_server && !v.isNull() && v.metaType().id() == QMetaType::QDateTime) {
            return QVariant(v.toDateTime().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")));
        }
        if (m_server && !v.isNull() && v.metaType().id() == QMetaType::Bool) return QVariant(v.toBool() ? 1 : 0);
        return v;
    }
    // Joins the texts of `expression` over the rows, ","-separated, in the
    // order of `order`.
    QString joined(const QString& expression, const QString& order) const {
        return m_server ? QStringLiteral("string_agg((%1)::text, ',' ORDER BY %2)").arg(expression, order)
                        : QStringLiteral("group_concat(%1)").arg(expression);
    }
    ~Sql() {
        QSqlDatabase::database(m_name, false).close();
        QSqlDatabase::removeDatabase(m_name);
    }
    Sql(const Sql&) = delete;
    Sql& operator=(const Sql&) = delete;

    // Runs a statement; returns the first column of every row.
    QVariantList exec(const QString& text, const QVariantList& values = {}) {
        const QString sql = portable(text);
        QSqlQuery q(QSqlDatabase::database(m_name, false));
        if (!prepare(q, sql)) {
            qWarning("prepare failed: %s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
            return {};
        }
        for (const QVariant& v : values) q.addBindValue(v);
        if (!run(q, sql, values)) {
            qWarning("exec failed: %s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
            return {};
        }
        QVariantList result;
        while (q.next()) result << portable(q.value(0));
        return result;
    }
    QVariant one(const QString& sql, const QVariantList& values = {}) {
        const QVariantList r = exec(sql, values);
        return r.isEmpty() ? QVariant() : r.first();
    }
    // Every row as a list of columns.
    QList<QVariantList> rows(const QString& text, const QVariantList& values = {}) {
        const QString sql = portable(text);
        QSqlQuery q(QSqlDatabase::database(m_name, false));
        prepare(q, sql);
        for (const QVariant& v : values) q.addBindValue(v);
        QList<QVariantList> result;
        if (!run(q, sql, values)) {
            qWarning("exec failed: %s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
            return result;
        }
        while (q.next()) {
            QVariantList row;
            for (int i = 0; i < q.record().count(); ++i) row << portable(q.value(i));
            result << row;
        }
        return result;
    }

    // The first row's columns, "|"-separated, NULL as "<NULL>".
    QString row(const QString& sql) {
        const QList<QVariantList> all = rows(sql);
        if (all.isEmpty()) return QStringLiteral("<no row>");
        QStringList columns;
        for (const QVariant& v : all.first()) columns << (v.isNull() ? QStringLiteral("<NULL>") : v.toString());
        return columns.join(QLatin1Char('|'));
    }
    // The number of rows of `table`, optionally only those matching `where`.
    int count(const QString& table, const QString& where = QString()) {
        return one(QStringLiteral("SELECT count(*) FROM ") + table +
                   (where.isEmpty() ? QString() : QStringLiteral(" WHERE ") + where))
            .toInt();
    }

    qint64 addNucleo(const QString& code, const QString& denominazione = QString()) {
        exec(QStringLiteral("INSERT INTO TBL_NUCLEO (CODICE_NUCLEO, DENOMINAZIONE) VALUES (?, ?)"),
             {code, denominazione.isNull() ? QStringLiteral("Famiglia ") + code : denominazione});
        return one(QStringLiteral("SELECT max(ID_NUCLEO) FROM TBL_NUCLEO")).toLongLong();
    }
    qint64 addMember(const QString& code, const QString& cognome, const QString& nome = QStringLiteral("N")) {
        exec(QStringLiteral("INSERT INTO TBL_ANAGRAFICA (CODICE_NUCLEO, COGNOME, NOME) VALUES (?, ?, ?)"),
             {code, cognome, nome});
        return one(QStringLiteral("SELECT max(ID_ANAGRAFICA) FROM TBL_ANAGRAFICA")).toLongLong();
    }

private:
    // The server prepares only queries: a statement without values runs as
    // it stands.
    bool prepare(QSqlQuery& q, const QString& sql) const {
        return (m_server && !sql.contains(QLatin1Char('?'))) || q.prepare(sql);
    }
    bool run(QSqlQuery& q, const QString& sql, const QVariantList&) const {
        return (m_server && !sql.contains(QLatin1Char('?'))) ? q.exec(sql) : q.exec();
    }

    QString m_name;
    bool m_server = false;
};

// Records what data sources announce, as "<source>:<event>", with the state
// for deUpdateState ("dsNUCLEO:deUpdateState(dsInsert)") and the column for
// deFieldChange ("dsANAGRAFICA:deFieldChange(COGNOME)"); the state-change
// handler adds "<source>:StateChange(<state>)" and checks its sender.
class Recorder {
public:
    QStringList log;
    int wrongSenders = 0;

    void listen(DataSource* source) {
        auto link = std::make_unique<Link>(this, source);
        source->addLink(link.get());
        m_links.push_back(std::move(link));
        source->setOnStateChange([this, source](DataSource* sender) {
            if (sender != source) ++wrongSenders;
            log << sender->name() + QStringLiteral(":StateChange(") + stateName(sender->state()) +
                       QLatin1Char(')');
        });
    }
    ~Recorder() {
        for (auto& l : m_links) {
            l->source->removeLink(l.get());
            l->source->setOnStateChange(nullptr);
        }
    }

    // The entries of one source.
    QStringList of(const QString& source) const {
        QStringList r;
        for (const QString& e : log)
            if (e.startsWith(source + QLatin1Char(':'))) r << e;
        return r;
    }
    // Only the state-change handler calls.
    QStringList stateChanges() const {
        QStringList r;
        for (const QString& e : log)
            if (e.contains(QLatin1String(":StateChange("))) r << e;
        return r;
    }
    void clear() { log.clear(); }

    // Called for every event after it is logged: lets a test act as a bound
    // control would (write its unwritten text on deUpdateRecord).
    std::function<void(const QString& source, DataEvent)> onEvent;

private:
    struct Link : DataLink {
        Link(Recorder* r, DataSource* s) : recorder(r), source(s) {}
        void dataEvent(DataEvent event, Field* field) override {
            QString e = source->name() + QLatin1Char(':') + eventName(event);
            if (event == deUpdateState) e += QLatin1Char('(') + stateName(source->state()) + QLatin1Char(')');
            if (event == deFieldChange && field) e += QLatin1Char('(') + field->fieldName() + QLatin1Char(')');
            recorder->log << e;
            if (recorder->onEvent) recorder->onEvent(source->name(), event);
        }
        Recorder* recorder;
        DataSource* source;
    };
    std::vector<std::unique_ptr<Link>> m_links;
};

// Listens to the data module's family-unit and member sources. The member
// table's link to the family-unit source is attached again after the
// recorder, so that the log shows each announcement of TBL_NUCLEO before the
// member table's reaction to it.
inline void listenToModule(Recorder& r, TdmMarvesa& dm) {
    r.listen(&dm.dsNUCLEO);
    r.listen(&dm.dsANAGRAFICA);
    dm.TBL_ANAGRAFICA.setMasterSource(&dm.dsNUCLEO, QStringLiteral("CODICE_NUCLEO"),
                                      QStringLiteral("CODICE_NUCLEO"));
}

// Runs `f` and returns the message of the marvesa::Error it throws; a test
// failure when it throws nothing.
template <typename F>
QString errorOf(F&& f) {
    try {
        f();
    } catch (const Error& e) {
        return e.message();
    }
    return QStringLiteral("<no error>");
}

inline QString text(const DataSet& ds, const char* field) {
    const Value v = ds.fieldValue(QString::fromLatin1(field));
    return v.isNull() ? QStringLiteral("<NULL>") : v.toText();
}

inline Value txt(const char* s) { return Value::text(QString::fromUtf8(s)); }

// A list of texts written as one, "|"-separated.
inline QStringList L(const char* list) { return QString::fromUtf8(list).split(QLatin1Char('|')); }

// Writes a text into a column of the current row.
inline void set(DataSet& ds, const char* column, const char* value) {
    ds.setFieldValue(QString::fromLatin1(column), txt(value));
}
// Changes one column of the current row and stores it.
inline void change(DataSet& ds, const char* column, const char* value) {
    ds.edit();
    set(ds, column, value);
    ds.post();
}
// Stores a new row with one column filled.
inline void add(DataSet& ds, const char* column, const char* value) {
    ds.insert();
    set(ds, column, value);
    ds.post();
}

}  // namespace marvesa::test
