#include "support/XlsxReader.h"

namespace marvesa::test {

const QStringList ExportHeaders =
    QStringLiteral(
        "Denominazione nucleo familiare|Cognome|Nome|Sesso|Data di Nascita|Nazione di Nascita|"
        "Cittadinanza|Grado di Parentela|Comune|Indirizzo|Ospitante|Telefono per contatti|"
        "Termine disponibiltà alloggio|Data Ingresso|Frontiera|Priorità per necessità specifiche")
        .split(QLatin1Char('|'));

bool readXlsx(const QString& path, ReadBook& book) {
    if (!QFileInfo::exists(QString::fromLatin1(Python)))
        return false;
    QProcess p;
    p.start(QString::fromLatin1(Python), {QStringLiteral(MARVESA_READ_XLSX_SCRIPT), path});
    if (!p.waitForFinished(60000))
        return false;
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        qWarning("reader failed: %s", p.readAllStandardError().constData());
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(p.readAllStandardOutput(), &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        qWarning("reader output is not JSON: %s", qPrintable(parseError.errorString()));
        return false;
    }
    const QJsonObject root = doc.object();
    const QJsonObject layout = root.value(QStringLiteral("layout")).toObject();
    book.freezePanes = layout.value(QStringLiteral("freeze_panes")).toString();
    book.autoFilter = layout.value(QStringLiteral("auto_filter")).toString();
    const QJsonObject widths = layout.value(QStringLiteral("column_widths")).toObject();
    for (auto it = widths.begin(); it != widths.end(); ++it)
        book.columnWidths.insert(it.key(), it.value().toDouble());
    for (const QJsonValue& c : layout.value(QStringLiteral("bold_headers")).toArray())
        book.boldHeaders << c.toInt();
    for (const QJsonValue& s : root.value(QStringLiteral("sheets")).toArray())
        book.sheets << s.toString();
    book.isTemplate = root.value(QStringLiteral("template")).toBool() &&
                      root.value(QStringLiteral("openpyxl_template")).toBool();
    for (const QJsonValue& v : root.value(QStringLiteral("cells")).toArray()) {
        const QJsonObject c = v.toObject();
        book.cells.insert(
            {c.value(QStringLiteral("row")).toInt(), c.value(QStringLiteral("column")).toInt()},
            {c.value(QStringLiteral("type")).toString(),
             c.value(QStringLiteral("value")).toVariant().toString(),
             c.value(QStringLiteral("number_format")).toString(),
             c.value(QStringLiteral("is_date")).toBool()});
    }
    return true;
}

}  // namespace marvesa::test
