// Many new rows in one COPY ... FROM STDIN, through the driver's own libpq
// connection: the rows travel as text in COPY's format, in pieces, and the
// server stores them as they come while the program prepares the next.

#include <libpq-fe.h>

#include <QDateTime>
#include <QSqlError>

#include "data/base/Error.h"
#include "data/sql/PostgresEngine.h"
#include "data/sql/SqlText.h"

namespace marvesa {

namespace {

// What is sent at once: large enough that the program and the server each
// work while the other does, small enough to keep little in memory.
constexpr qsizetype kPieceBytes = 256 * 1024;

// A value in COPY's text format: \N for NULL; a backslash, a tab, a line
// break and a carriage return escaped, as the format reads them.
void appendValue(QByteArray& out, const QVariant& v) {
    if (v.isNull()) {
        out += "\\N";
        return;
    }
    QByteArray text;
    switch (v.typeId()) {
        case QMetaType::QDateTime:
            text = v.toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).toLatin1();
            break;
        case QMetaType::QDate:
            text = v.toDate().toString(QStringLiteral("yyyy-MM-dd")).toLatin1();
            break;
        case QMetaType::Bool:
            text = v.toBool() ? "t" : "f";
            break;
        case QMetaType::QByteArray:
            text = "\\x" + v.toByteArray().toHex();
            break;
        default:
            text = v.toString().toUtf8();
            break;
    }
    for (const char c : std::as_const(text)) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
                break;
        }
    }
}

}  // namespace

class PostgresCopyWriter final : public RowWriter {
public:
    PostgresCopyWriter(PostgresEngine& engine, PGconn* conn, QString table, int columns)
        : m_engine(engine), m_conn(conn), m_table(std::move(table)), m_columns(columns) {
        m_piece.reserve(kPieceBytes + 4096);
    }

    ~PostgresCopyWriter() override {
        if (!m_open)
            return;
        setOpen(false);
        // Given up half-way (an error elsewhere, the clerk's "Annulla"): the
        // server ends the COPY with an error, and its transaction with it.
        if (PQputCopyEnd(m_conn, "interrotto dal programma") == 1) {
            while (PGresult* r = PQgetResult(m_conn))
                PQclear(r);
        }
    }

    void start(const QString& sql) {
        PostgresEngine::drainResults(m_conn);
        PGresult* r = PQexec(m_conn, sql.toUtf8().constData());
        if (PQresultStatus(r) != PGRES_COPY_IN)
            fail(r);
        PQclear(r);
        setOpen(true);
    }

    void add(const QVector<QVariant>& values) override {
        if (values.size() != m_columns) {
            throw Error(
                rowsNotStoredMessage(m_table),
                QStringLiteral("%1 valori per %2 colonne").arg(values.size()).arg(m_columns));
        }
        for (int i = 0; i < values.size(); ++i) {
            if (i > 0)
                m_piece += '\t';
            appendValue(m_piece, values.at(i));
        }
        m_piece += '\n';
        if (m_piece.size() >= kPieceBytes)
            send();
    }

    void finish() override {
        if (!m_open)
            return;
        send();
        setOpen(false);
        if (PQputCopyEnd(m_conn, nullptr) != 1)
            fail(nullptr);
        // One result for the COPY: its success, or the row the server refused.
        PGresult* failed = nullptr;
        while (PGresult* r = PQgetResult(m_conn)) {
            if (PQresultStatus(r) != PGRES_COMMAND_OK && !failed)
                failed = r;
            else
                PQclear(r);
        }
        if (failed)
            fail(failed);
    }

private:
    // The engine's connection is the COPY's while it is open.
    void setOpen(bool open) {
        m_open = open;
        m_engine.m_copying = open;
    }

    void send() {
        if (m_piece.isEmpty())
            return;
        if (PQputCopyData(m_conn, m_piece.constData(), int(m_piece.size())) != 1) {
            setOpen(false);
            fail(nullptr);
        }
        m_piece.clear();
    }

    // The server's refusal (or the connection's, `r` null), as a failure of
    // any other statement reads.
    [[noreturn]] void fail(PGresult* r) {
        QString text;
        QString code;
        if (r) {
            text = QString::fromUtf8(PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY));
            if (const char* detail = PQresultErrorField(r, PG_DIAG_MESSAGE_DETAIL))
                text += QStringLiteral(" (%1)").arg(QString::fromUtf8(detail));
            code = QString::fromLatin1(PQresultErrorField(r, PG_DIAG_SQLSTATE));
            PQclear(r);
        }
        if (text.isEmpty())
            text = QString::fromUtf8(PQerrorMessage(m_conn)).trimmed();
        m_engine.failError(QSqlError(QString(), text, QSqlError::StatementError, code),
                           rowsNotStoredMessage(m_table));
    }

    PostgresEngine& m_engine;
    PGconn* m_conn;
    QString m_table;
    int m_columns;
    QByteArray m_piece;
    bool m_open = false;
};

std::unique_ptr<RowWriter> PostgresEngine::insertRows(const QString& table,
                                                      const QStringList& columns) {
    requireConnected();
    checkTable(table);
    PGconn* conn = connectionHandle();
    if (!conn || PQstatus(conn) != CONNECTION_OK) {
        markLost();
        throw Error(lostConnectionMessage(false));
    }
    QStringList quoted;
    for (const QString& c : columns)
        quoted << quoteIdentifier(c);
    auto writer = std::make_unique<PostgresCopyWriter>(*this, conn, table, int(columns.size()));
    writer->start(QStringLiteral("COPY %1 (%2) FROM STDIN")
                      .arg(quoteIdentifier(table), quoted.join(QStringLiteral(", "))));
    return writer;
}

}  // namespace marvesa
