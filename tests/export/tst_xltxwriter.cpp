// The .xltx workbook writer, checked by reading its files back with an
// independent reader (openpyxl, through tests/export/read_xlsx.py).

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include "DataTestSupport.h"
#include "XlsxReader.h"
#include "data/Error.h"
#include "export/FileOpener.h"
#include "export/XltxWorkbookWriter.h"

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace marvesa;
using namespace marvesa::test;

namespace {

QVector<Cell> texts(const QStringList& values) {
    QVector<Cell> row;
    for (const QString& v : values)
        row.append(Cell::ofText(v));
    return row;
}
Cell t(const char* s) {
    return Cell::ofText(QString::fromUtf8(s));
}

#ifdef Q_OS_UNIX
int modeOf(const QString& path) {
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return int(st.st_mode & 07777);
}
#endif

QStringList exportsIn(const QString& folder) {
    return QDir(folder).entryList({QStringLiteral("Marvesa-export-*")}, QDir::Files, QDir::Name);
}

}  // namespace

class TestXltxWriter : public QObject {
    Q_OBJECT

private slots:
    void writesLayoutTextsAndDates();
    void filesArePrivateTemplatesOfTheirOwn();
    void privateFolderIsMadeRepairedOrRefused();
    void failuresLeaveNoFileButAFinishedOne();
    void removesOnlyStaleExports();
};

void TestXltxWriter::writesLayoutTextsAndDates() {
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());

    // Every non-empty cell as the reader shows it: "<type>:<value>".
    QMap<CellKey, QString> expected;
    int row = 0;
    XltxWorkbookWriter writer(tmp.filePath(QStringLiteral("out")));
    writer.begin();
    const auto put = [&](const QVector<Cell>& cells) {
        ++row;
        writer.writeRow(cells);
        for (int c = 0; c < cells.size(); ++c) {
            const Cell& cell = cells.at(c);
            if (cell.kind == Cell::Kind::Text && !cell.text.isEmpty())
                expected.insert({row, c + 1}, QStringLiteral("s:") + cell.text);
            else if (cell.kind == Cell::Kind::Date && cell.date.year() >= 1900)
                expected.insert({row, c + 1},
                                QStringLiteral("d:") + cell.date.toString(Qt::ISODate));
            else if (cell.kind == Cell::Kind::Date)
                expected.insert({row, c + 1}, QStringLiteral("s:") +
                                                  cell.date.toString(QStringLiteral("dd/MM/yyyy")));
        }
    };

    put(texts(ExportHeaders));

    // Cyrillic names, a leap day, texts a spreadsheet would take for formulas
    // or numbers, an empty cell.
    put({t("QX10293"), t("Шевченко"), t("Олександра"), t("F"), Cell::ofDate(QDate(2024, 2, 29)),
         t("Ucraina"), t("Україна"), t("Figlia"), t("Firenze"), t("Via Roma, 1"), t("Rossi Mario"),
         t("+39 333 1234567"), Cell::empty(), Cell::ofDate(QDate(2022, 3, 14)), t("Medyka"),
         t("=1+1")});

    // Emoji (surrogate pairs, a joined sequence), more formula-like texts,
    // a note starting with a line break, the first day a date cell can hold
    // and a date before it, which must stay readable as text.
    put({t("QX7"), t("Kovalenko 😀"), t("👩‍👧 Anna"), t("-x"), Cell::ofDate(QDate(22, 3, 5)),
         t("@y"), t("!"), t("+"), t("-"), t("=SUM(A1:A2)"), t("0123"), t("1e5"),
         t("14/03/2022 10:30:00"), Cell::ofDate(QDate(1900, 1, 1)), t(" spazio iniziale "),
         t("\nNota dopo un a capo\r\ncon\ttabulazione")});

    // A row with no value at all still takes its row.
    put(QVector<Cell>(16, Cell::empty()));

    // Texts that collide with the package's own character escapes, a control
    // character, the day before the first date cell, a short row.
    put({t("_x0041_ e _x005F_ e _x00"), t("a\001b"), Cell::ofDate(QDate(1899, 12, 31)),
         Cell::ofDate(QDate(9999, 12, 31)), Cell::empty(), Cell::ofText(QString()), t("fine")});

    // Texts longer than a cell holds, the second cut before a surrogate pair.
    const QString longPlain(40000, QLatin1Char('a'));
    const QString longSplit = QString(XltxWorkbookWriter::MaxTextLength - 1, QLatin1Char('b')) +
                              QStringLiteral("😀") + QString(100, QLatin1Char('c'));
    QString longEscapes;
    while (longEscapes.size() < 40000)
        longEscapes += QStringLiteral("_x0041_");
    ++row;
    writer.writeRow({Cell::ofText(longPlain), Cell::ofText(longSplit), Cell::ofText(longEscapes)});
    expected.insert({row, 1},
                    QStringLiteral("s:") + longPlain.left(XltxWorkbookWriter::MaxTextLength));
    expected.insert({row, 2},
                    QStringLiteral("s:") + longSplit.left(XltxWorkbookWriter::MaxTextLength - 1));

    const QString path = writer.finish();
    ReadBook book;
    READ_OR_SKIP(path, book);
    QCOMPARE(book.sheets, QStringList{QStringLiteral("Foglio1")});

    // The escape-heavy long text is cut earlier (its stored form is longer)
    // but never changed: what is read back is a leading part of it.
    const ReadCell escapes = book.cells.take({row, 3});
    QCOMPARE(escapes.type, QStringLiteral("s"));
    QVERIFY2(escapes.value.size() > 17000, qPrintable(QString::number(escapes.value.size())));
    QVERIFY(escapes.value.size() <= XltxWorkbookWriter::MaxTextLength);
    QVERIFY(longEscapes.startsWith(escapes.value));

    // Every cell with its type and value, and nothing beyond what was
    // written: empty cells stay blank. Date cells show as dd/mm/yyyy.
    QCOMPARE(book.shown(), expected);
    for (const ReadCell& cell : std::as_const(book.cells)) {
        if (cell.type == QLatin1String("d")) {
            QVERIFY(cell.isDate);
            QCOMPARE(cell.numberFormat, QStringLiteral("dd/mm/yyyy"));
        }
    }
}

void TestXltxWriter::filesArePrivateTemplatesOfTheirOwn() {
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString folder = tmp.filePath(QStringLiteral("nested/private"));
    XltxWorkbookWriter first(folder);
    XltxWorkbookWriter second(folder);
    // Two writers interleaved within the same second, then the first one
    // again with no rows at all.
    first.begin();
    second.begin();
    first.writeRow(texts({QStringLiteral("primo")}));
    second.writeRow(texts({QStringLiteral("secondo")}));
    const QString a = first.finish();
    const QString b = second.finish();
    first.begin();
    const QString c = first.finish();
    QVERIFY(a != b && b != c && a != c);
#ifdef Q_OS_UNIX
    QCOMPARE(modeOf(folder), 0700);
#endif

    const QRegularExpression name(
        QStringLiteral("^Marvesa-export-\\d{8}-\\d{6}-[0-9a-f]{8}\\.xltx$"));
    const QList<QPair<QString, QString>> files{
        {a, QStringLiteral("primo")}, {b, QStringLiteral("secondo")}, {c, QString()}};
    QStringList names;
    for (const auto& [path, text] : files) {
        const QFileInfo info(path);
        QVERIFY(info.isAbsolute());
        QVERIFY(info.isFile());
        QCOMPARE(info.absolutePath(), QFileInfo(folder).absoluteFilePath());
        QVERIFY2(name.match(info.fileName()).hasMatch(), qPrintable(info.fileName()));
        names << info.fileName();
#ifdef Q_OS_UNIX
        QCOMPARE(modeOf(path), 0600);
#endif
        // A one-sheet template, even when it has no rows at all.
        ReadBook book;
        READ_OR_SKIP(path, book);
        QVERIFY(book.isTemplate);
        QCOMPARE(book.contentTypes.value(QStringLiteral("/xl/worksheets/sheet1.xml")).toString(),
                 QStringLiteral(
                     "application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"));
        QCOMPARE(book.sheets, QStringList{QStringLiteral("Foglio1")});
        QCOMPARE(book.cells.value({1, 1}).value, text);
        QCOMPARE(book.cells.size(), text.isEmpty() ? 0 : 1);
    }
    // Nothing else is left beside them (no scratch files of the writers).
    names.sort();
    QCOMPARE(
        QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name),
        names);
}

void TestXltxWriter::privateFolderIsMadeRepairedOrRefused() {
#ifndef Q_OS_UNIX
    QSKIP("folder ownership and modes are checked on Unix only");
#else
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());

    // An existing folder of ours that others can enter is closed again.
    const QString open = tmp.filePath(QStringLiteral("open"));
    QVERIFY(QDir().mkdir(open));
    QCOMPARE(::chmod(QFile::encodeName(open).constData(), 0755), 0);
    QCOMPARE(modeOf(open), 0755);
    XltxWorkbookWriter writer(open);
    writer.begin();
    QCOMPARE(modeOf(open), 0700);
    QCOMPARE(modeOf(QDir(open).filePath(exportsIn(open).value(0))), 0600);
    writer.finish();

    // A link in place of the folder is refused, even when it leads to a
    // folder of ours: whoever made the link chose where the data goes.
    const QString link = tmp.filePath(QStringLiteral("link"));
    QVERIFY(QFile::link(open, link));
    XltxWorkbookWriter linked(link);
    const QString linkError = errorOf([&] { linked.begin(); });
    QVERIFY2(linkError.contains(QStringLiteral("non è una cartella vera e propria")),
             qPrintable(linkError));
    QVERIFY(linkError.contains(link));

    // A file in place of the folder is refused.
    const QString file = tmp.filePath(QStringLiteral("file"));
    QVERIFY(QFile(file).open(QIODevice::WriteOnly));
    XltxWorkbookWriter onFile(file);
    QVERIFY_THROWS_EXCEPTION(Error, onFile.begin());

    // A folder of another user is refused, and nothing is written into it.
    if (::geteuid() != 0)
        QSKIP("only root can give a folder to another user here");
    const QString foreign = tmp.filePath(QStringLiteral("foreign"));
    QVERIFY(QDir().mkdir(foreign));
    QCOMPARE(::chmod(QFile::encodeName(foreign).constData(), 0700), 0);
    QCOMPARE(::chown(QFile::encodeName(foreign).constData(), 54321, 54321), 0);
    XltxWorkbookWriter onForeign(foreign);
    QCOMPARE(errorOf([&] { onForeign.begin(); }),
             QStringLiteral("La cartella temporanea \"%1\" appartiene a un altro utente: il "
                            "foglio di calcolo non vi viene scritto.")
                 .arg(QDir::toNativeSeparators(foreign)));
    QVERIFY(exportsIn(foreign).isEmpty());
#endif
}

void TestXltxWriter::failuresLeaveNoFileButAFinishedOne() {
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());

    XltxWorkbookWriter idle(tmp.path());
    QVERIFY_THROWS_EXCEPTION(Error, idle.writeRow(texts({QStringLiteral("x")})));
    QVERIFY_THROWS_EXCEPTION(Error, idle.finish());

    {
        // Abandoned half-way: the partial file goes away with the writer.
        XltxWorkbookWriter abandoned(tmp.path());
        abandoned.begin();
        abandoned.writeRow(texts(ExportHeaders));
        QCOMPARE(exportsIn(tmp.path()).size(), 1);
        QVERIFY_THROWS_EXCEPTION(Error, abandoned.begin());
    }
    QVERIFY(exportsIn(tmp.path()).isEmpty());

    // The folder vanishes before the workbook is complete: the failure names
    // the file and says why, and nothing pretends to be a finished export.
    const QString folder = tmp.filePath(QStringLiteral("gone"));
    XltxWorkbookWriter writer(folder);
    writer.begin();
    writer.writeRow(texts(ExportHeaders));
    const QString reserved = QDir(folder).absoluteFilePath(exportsIn(folder).value(0));
    QVERIFY(QDir(folder).removeRecursively());
    const QString message = errorOf([&] { writer.finish(); });
    const QString start = QStringLiteral("Impossibile scrivere il foglio di calcolo \"%1\": ")
                              .arg(QDir::toNativeSeparators(reserved));
    QVERIFY2(message.startsWith(start), qPrintable(message));
    QVERIFY(message.size() > start.size());
    QVERIFY(!QFileInfo::exists(reserved));

    // The writer is usable again afterwards.
    writer.begin();
    const QString path = writer.finish();
    QVERIFY(QFileInfo::exists(path));

    // Nothing can open the finished file, as on a desktop without a
    // spreadsheet program (which is what the offscreen platform is): the
    // operator is told where it is, and it is kept.
    if (QGuiApplication::platformName() != QStringLiteral("offscreen"))
        QSKIP("needs QT_QPA_PLATFORM=offscreen, where nothing can be opened");
    QCOMPARE(errorOf([&] { DesktopFileOpener().open(path); }),
             QStringLiteral("Nessuna applicazione ha potuto aprire il foglio di calcolo. "
                            "Il file è stato conservato e si può aprire a mano: \"%1\"")
                 .arg(QDir::toNativeSeparators(path)));
    QVERIFY(QFileInfo::exists(path));
}

void TestXltxWriter::removesOnlyStaleExports() {
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QDir dir(tmp.path());
    const auto make = [&](const QString& name, qint64 ageSeconds) {
        QFile f(dir.filePath(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("x");
        QVERIFY(f.flush());
        QVERIFY(f.setFileTime(QDateTime::currentDateTime().addSecs(-ageSeconds),
                              QFileDevice::FileModificationTime));
    };
    const qint64 hour = 3600;
    make(QStringLiteral("Marvesa-export-20240101-101010-0badcafe.xltx"), 25 * hour);
    make(QStringLiteral("Marvesa-export-20240101-101011-00000001.xltx"), 2 * hour);
    make(QStringLiteral("Marvesa-export-20240101-101012-00000002.xltx"), 10);
    make(QStringLiteral("Marvesa-export-20240101-101010-0badcafe.xlsx"), 48 * hour);
    make(QStringLiteral("Marvesa-export-20240101-101010-0badcafe.xltx.bak"), 48 * hour);
    make(QStringLiteral("Marvesa-export-2024-copia.xltx"), 48 * hour);
    make(QStringLiteral("Relazione.xltx"), 48 * hour);
    QVERIFY(dir.mkdir(QStringLiteral("Marvesa-export-20240101-101010-deadbeef.xltx")));

    QCOMPARE(XltxWorkbookWriter::removeStaleExports(tmp.path()), 1);
    QVERIFY(!dir.exists(QStringLiteral("Marvesa-export-20240101-101010-0badcafe.xltx")));
    QCOMPARE(dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size(), 7);

    QCOMPARE(XltxWorkbookWriter::removeStaleExports(tmp.path(), std::chrono::hours(1)), 1);
    QVERIFY(!dir.exists(QStringLiteral("Marvesa-export-20240101-101011-00000001.xltx")));
    QVERIFY(dir.exists(QStringLiteral("Marvesa-export-20240101-101012-00000002.xltx")));
    QCOMPARE(dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size(), 6);

    // A fresh export survives; a missing folder is no failure.
    XltxWorkbookWriter writer(tmp.path());
    writer.begin();
    const QString fresh = writer.finish();
    QCOMPARE(XltxWorkbookWriter::removeStaleExports(tmp.path()), 0);
    QVERIFY(QFileInfo::exists(fresh));
    QCOMPARE(XltxWorkbookWriter::removeStaleExports(tmp.filePath(QStringLiteral("none"))), 0);
}

QTEST_MAIN(TestXltxWriter)
#include "tst_xltxwriter.moc"
