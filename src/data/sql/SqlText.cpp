#include "data/sql/SqlText.h"

#include <QRegularExpression>
#include <QSqlError>

namespace marvesa {

QString quoteIdentifier(const QString& name) {
    QString quoted;
    quoted.reserve(name.size() + 2);
    quoted += QLatin1Char('"');
    if (name.contains(QLatin1Char('"'))) {
        QString inner = name;
        quoted += inner.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    } else {
        quoted += name;
    }
    quoted += QLatin1Char('"');
    return quoted;
}

QString oneLine(QString text) {
    text = text.trimmed();
    static const QRegularExpression breaks(QStringLiteral("\\s*\\n\\s*"));
    text.replace(breaks, QStringLiteral(" "));
    return text;
}

QString engineText(const QSqlError& error) {
    QString text = error.databaseText();
    if (text.isEmpty())
        text = error.driverText();
    if (text.isEmpty())
        text = error.text();
    return oneLine(text);
}

QString rowsNotStoredMessage(const QString& table) {
    return QStringLiteral("Impossibile salvare le righe nella tabella %1").arg(table);
}

QString busyMessage() {
    return QStringLiteral(
        "Un'altra postazione sta salvando dati nel database e lo tiene occupato: l'operazione non "
        "è stata eseguita. Riprovare tra qualche istante");
}

}  // namespace marvesa
