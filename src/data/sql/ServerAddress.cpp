#include "data/sql/ServerAddress.h"

#include <libpq-fe.h>

#include <QRegularExpression>
#include <QSqlDatabase>

#include "data/base/Error.h"
#include "data/sql/SqlText.h"

namespace marvesa {

namespace {

// How long connecting waits for a server that does not answer, unless the
// connection names its own limit.
const char* const kConnectTimeoutSeconds = "10";

// A value in libpq's keyword=value notation: always quoted, with \ and '
// escaped.
QString quotedValue(const QString& value) {
    QString v = value;
    v.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    v.replace(QLatin1Char('\''), QStringLiteral("\\'"));
    return QLatin1Char('\'') + v + QLatin1Char('\'');
}

}  // namespace

bool ServerAddress::isServerConnection(const QString& location) {
    const QString s = location.trimmed();
    if (s.startsWith(QLatin1String("postgresql://"), Qt::CaseInsensitive) ||
        s.startsWith(QLatin1String("postgres://"), Qt::CaseInsensitive)) {
        return true;
    }
    static const QRegularExpression keyword(QStringLiteral("^[A-Za-z_]+\\s*="));
    return keyword.match(s).hasMatch();
}

ServerAddress::ServerAddress(const QString& connection) {
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(connection.trimmed().toUtf8().constData(), &error);
    if (!options) {
        const QString text = error ? oneLine(QString::fromUtf8(error)) : QString();
        if (error)
            PQfreemem(error);
        throw Error(QStringLiteral("La connessione al database indicata nelle impostazioni non è "
                                   "valida: %1")
                        .arg(text));
    }
    for (PQconninfoOption* o = options; o->keyword; ++o) {
        if (!o->val)
            continue;
        const QString keyword = QString::fromUtf8(o->keyword);
        const QString value = QString::fromUtf8(o->val);
        m_values.insert(keyword, value);
        m_ordered.append({keyword, value});
    }
    PQconninfoFree(options);
}

QString ServerAddress::describe() const {
    const QString host = value(QStringLiteral("host"));
    const QString port = value(QStringLiteral("port"));
    const QString service = value(QStringLiteral("service"));
    QString dbname = value(QStringLiteral("dbname"));
    QString text;
    if (!dbname.isEmpty())
        text = QStringLiteral("database \"%1\"").arg(dbname);
    if (!host.isEmpty()) {
        if (!text.isEmpty())
            text += QLatin1Char(' ');
        text += QStringLiteral("sul server \"%1\"").arg(host);
        if (!port.isEmpty())
            text += QStringLiteral(" (porta %1)").arg(port);
    }
    if (!service.isEmpty()) {
        if (!text.isEmpty())
            text += QLatin1Char(' ');
        text += QStringLiteral("del servizio \"%1\"").arg(service);
    }
    if (text.isEmpty())
        text = QStringLiteral("database predefinito sul server locale");
    return text;
}

QString ServerAddress::shortForm() const {
    const QString host = value(QStringLiteral("host"));
    const QString port = value(QStringLiteral("port"));
    const QString dbname = value(QStringLiteral("dbname"));
    const QString service = value(QStringLiteral("service"));
    if (host.isEmpty() && dbname.isEmpty() && !service.isEmpty()) {
        return QStringLiteral("servizio %1").arg(service);
    }
    QString s = host.isEmpty() ? QStringLiteral("localhost") : host;
    if (!port.isEmpty())
        s += QLatin1Char(':') + port;
    return s + QLatin1Char('/') + dbname;
}

QString ServerAddress::connectionString(const QString& database) const {
    QStringList parts;
    bool named = false;
    for (const auto& kv : m_ordered) {
        QString v = kv.second;
        if (kv.first == QLatin1String("dbname") && !database.isNull()) {
            v = database;
            named = true;
        }
        parts << kv.first + QLatin1Char('=') + quotedValue(v);
    }
    if (!named && !database.isNull())
        parts << QStringLiteral("dbname=") + quotedValue(database);
    return parts.join(QLatin1Char(' '));
}

void ServerAddress::configure(QSqlDatabase& db) const {
    // The driver quotes these four itself; everything else goes into the
    // options, where a ";" would be taken for a separator.
    QStringList options;
    bool timeout = false;
    for (const auto& kv : m_ordered) {
        const QString& k = kv.first;
        if (k == QLatin1String("host")) {
            db.setHostName(kv.second);
        } else if (k == QLatin1String("dbname")) {
            db.setDatabaseName(kv.second);
        } else if (k == QLatin1String("user")) {
            db.setUserName(kv.second);
        } else if (k == QLatin1String("password")) {
            db.setPassword(kv.second);
        } else {
            if (kv.second.contains(QLatin1Char(';'))) {
                throw Error(QStringLiteral("La connessione al %1 non è utilizzabile: il valore di "
                                           "\"%2\" contiene un punto e virgola")
                                .arg(describe(), k));
            }
            if (k == QLatin1String("connect_timeout"))
                timeout = true;
            options << k + QLatin1Char('=') + quotedValue(kv.second);
        }
    }
    if (!timeout)
        options << QStringLiteral("connect_timeout=") + QLatin1String(kConnectTimeoutSeconds);
    db.setConnectOptions(options.join(QLatin1Char(';')));
}

}  // namespace marvesa
