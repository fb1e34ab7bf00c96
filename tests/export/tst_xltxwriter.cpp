// The .xltx workbook writer, checked by reading its files back with an
// independent reader (openpyxl, through tests/export/read_xlsx.py).

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

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

const QStringList& Headers = ExportHeaders;
using Key = CellKey;

const QRegularExpression ExportName(
    QStringLiteral("^Marvesa-export-\\d{8}-\\d{6}-[0-9a-f]{8}\\.xltx$"));

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
    void fileIsPrivateTemplateWithOwnName();
    void writersNeverShareAFile();
    void makesAndRepairsThePrivateFolder();
    void refusesFoldersOfOthers();
    void failuresLeaveNoFile();
    void removesOnlyStaleExports();
    void desktopOpenerReportsTheFileWhenNothingOpensIt();
};

void TestXltxWriter::writesLayoutTextsAndDates() {
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());

    // Expected content of every non-empty cell: type and shown value.
    QMap<Key, QPair<QString, QString>> expected;
    int row = 0;
    XltxWorkbookWriter writer(tmp.filePath(QStringLiteral("out")));
    writer.begin();
    const auto put = [&](const QVector<Cell>& cells) {
        ++row;
        writer.writeRow(cells);
        for (int c = 0; c < cells.size(); ++c) {
            const Cell& cell = cells.at(c);
            if (cell.kind == Cell::Kind::Text && !cell.text.isEmpty())
                expected.insert({row, c + 1}, {QStringLiteral("s"), cell.text});
            else if (cell.kind == Cell::Kind::Date)
                expected.insert(
                    {row, c + 1},
                    cell.date.year() >= 1900
                        ? qMakePair(QStringLiteral("d"), cell.date.toString(Qt::ISODate))
                        : qMakePair(QStringLiteral("s"),
                                    cell.date.toString(QStringLiteral("dd/MM/yyyy"))));
        }
    };

    put(texts(Headers));

    // Cyrillic names, a leap day, texts a spreadsheet would take for formulas
    // or numbers, an empty cell.
    put({t("QX10293"), t("Шевченко"), t("Олександра"), t("F"), Cell::ofDate(QDate(2024, 2, 29)),
         t("Ucraina"), t("Україна"), t("Figlia"), t("Firenze"), t("Via Roma, 1"), t("Rossi Mario"),
         t("+39 333 1234567"), Cell::empty(), Cell::ofDate(QDate(2022, 3, 14)), t("Medyka"),
         t("=1+1")});

    // Emoji (surrogate pairs, a joined sequence), more formula-like texts,
    // a note starting with a line break, the first day a date cell can hold
    // and a date before it, which must stay readable as text.
    put({t("QX7"), t("Kovalenko 😀"), t("👩‍👧 Anna"), t("-x"), Cell::ofDate(QDate(22, 3, 5)), t("@y"),
         t("!"), t("+"), t("-"), t("=SUM(A1:A2)"), t("0123"), t("1e5"), t("14/03/2022 10:30:00"),
         Cell::ofDate(QDate(1900, 1, 1)), t(" spazio iniziale "),
         t("\nNota dopo un a capo\r\ncon\ttabulazione")});

    // A row with no value at all still takes its row.
    put(QVector<Cell>(16, Cell::empty()));

    // Texts that collide with the package's own character escapes, a control
    // character, the day before the first date cell, a short row.
    put({t("_x0041_ e _x005F_ e _x00"), t("a\x01" "b"), Cell::ofDate(QDate(1899, 12, 31)),
         Cell::ofDate(QDate(9999, 12, 31)), Cell::empty(), Cell::ofText(QString()), t("fine")});

    // Texts longer than a cell holds.
    const QString longPlain(40000, QLatin1Char('a'));
    const QString longSplit = QString(XltxWorkbookWriter::MaxTextLength - 1, QLatin1Char('b')) +
                              QStringLiteral("😀") + QString(100, QLatin1Char('c'));
    QString longEscapes;
    while (longEscapes.size() < 40000)
        longEscapes += QStringLiteral("_x0041_");
    ++row;
    writer.writeRow({Cell::ofText(longPlain), Cell::ofText(longSplit), Cell::ofText(longEscapes)});
    expected.insert({row, 1},
                    {QStringLiteral("s"), longPlain.left(XltxWorkbookWriter::MaxTextLength)});
    expected.insert({row, 2},
                    {QStringLiteral("s"), longSplit.left(XltxWorkbookWriter::MaxTextLength - 1)});

    const QString path = writer.finish();
    ReadBook book;
    READ_OR_SKIP(path, book);

    QCOMPARE(book.sheets, QStringList{QStringLiteral("Foglio1")});
    for (int c = 1; c <= 16; ++c)
        QCOMPARE(book.cells.value({1, c}).value, Headers.at(c - 1));

    // The escape-heavy long text is cut earlier (its stored form is longer)
    // but never changed: what is read back is a leading part of it.
    const ReadCell escapes = book.cells.take({row, 3});
    QCOMPARE(escapes.type, QStringLiteral("s"));
    QVERIFY2(escapes.value.size() > 17000, qPrintable(QString::number(escapes.value.size())));
    QVERIFY(escapes.value.size() <= XltxWorkbookWriter::MaxTextLength);
    QVERIFY(longEscapes.startsWith(escapes.value));

    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        const QByteArray where = QByteArrayLiteral("row ") + QByteArray::number(it.key().first) +
                                 QByteArrayLiteral(" column ") +
                                 QByteArray::number(it.key().second);
        QVERIFY2(book.cells.contains(it.key()), where.constData());
        const ReadCell got = book.cells.value(it.key());
        QVERIFY2(got.type == it.value().first,
                 (where + QByteArrayLiteral(" type ") + got.type.toUtf8()).constData());
        QVERIFY2(got.value == it.value().second, where.constData());
        if (got.type == QStringLiteral("d")) {
            QVERIFY2(got.isDate, where.constData());
            QCOMPARE(got.numberFormat, QStringLiteral("dd/mm/yyyy"));
        }
    }
    // Nothing beyond what was written: empty cells stay blank.
    QCOMPARE(book.cells.size(), expected.size());
}

void TestXltxWriter::fileIsPrivateTemplateWithOwnName() {
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString folder = tmp.filePath(QStringLiteral("nested/private"));
    XltxWorkbookWriter writer(folder);
    writer.begin();
    writer.writeRow(texts(Headers));
    const QString path = writer.finish();

    const QFileInfo info(path);
    QVERIFY(info.isAbsolute());
    QVERIFY(info.isFile());
    QCOMPARE(info.absolutePath(), QFileInfo(folder).absoluteFilePath());
    QVERIFY2(ExportName.match(info.fileName()).hasMatch(), qPrintable(info.fileName()));
    // Nothing else is left beside it (no scratch files of the writer).
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{info.fileName()});
#ifdef Q_OS_UNIX
    QCOMPARE(modeOf(path), 0600);
    QCOMPARE(modeOf(folder), 0700);
#endif

    ReadBook book;
    READ_OR_SKIP(path, book);
    QVERIFY(book.isTemplate);
    QCOMPARE(book.contentTypes.value(QStringLiteral("/xl/worksheets/sheet1.xml")).toString(),
             QStringLiteral(
                 "application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"));
    QCOMPARE(book.sheets, QStringList{QStringLiteral("Foglio1")});
    QCOMPARE(book.cells.size(), 16);

    // A workbook with no rows at all is still a valid one-sheet workbook.
    writer.begin();
    const QString emptyPath = writer.finish();
    ReadBook empty;
    READ_OR_SKIP(emptyPath, empty);
    QCOMPARE(empty.sheets, QStringList{QStringLiteral("Foglio1")});
    QVERIFY(empty.cells.isEmpty());
    QVERIFY(empty.isTemplate);
}

void TestXltxWriter::writersNeverShareAFile() {
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    XltxWorkbookWriter first(tmp.path());
    XltxWorkbookWriter second(tmp.path());
    // Interleaved, within the same second.
    first.begin();
    second.begin();
    first.writeRow(texts({QStringLiteral("primo")}));
    second.writeRow(texts({QStringLiteral("secondo")}));
    const QString a = first.finish();
    const QString b = second.finish();
    first.begin();
    first.writeRow(texts({QStringLiteral("terzo")}));
    const QString c = first.finish();
    QVERIFY(a != b && b != c && a != c);
    QCOMPARE(exportsIn(tmp.path()).size(), 3);

    ReadBook ba, bb, bc;
    READ_OR_SKIP(a, ba);
    READ_OR_SKIP(b, bb);
    READ_OR_SKIP(c, bc);
    QCOMPARE(ba.cells.value({1, 1}).value, QStringLiteral("primo"));
    QCOMPARE(bb.cells.value({1, 1}).value, QStringLiteral("secondo"));
    QCOMPARE(bc.cells.value({1, 1}).value, QStringLiteral("terzo"));
}

void TestXltxWriter::makesAndRepairsThePrivateFolder() {
#ifndef Q_OS_UNIX
    QSKIP("folder ownership and modes are checked on Unix only");
#else
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());

    // An existing folder of ours that others can enter is closed again.
    const QString open = tmp.filePath(QStringLiteral("open"));
    QVERIFY(QDir().mkdir(open));
    QVERIFY(QFile::setPermissions(open, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                            QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                            QFile::ExeOther));
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
    try {
        linked.begin();
        QFAIL("a link was accepted as the private folder");
    } catch (const Error& e) {
        QVERIFY2(e.message().contains(QStringLiteral("non è una cartella vera e propria")),
                 qPrintable(e.message()));
        QVERIFY(e.message().contains(link));
    }

    // A file in place of the folder is refused.
    const QString file = tmp.filePath(QStringLiteral("file"));
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    XltxWorkbookWriter onFile(file);
    QVERIFY_THROWS_EXCEPTION(Error, onFile.begin());
#endif
}

void TestXltxWriter::refusesFoldersOfOthers() {
#ifndef Q_OS_UNIX
    QSKIP("folder ownership is checked on Unix only");
#else
    if (::geteuid() != 0)
        QSKIP("only root can give a folder to another user here");
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString foreign = tmp.filePath(QStringLiteral("foreign"));
    QVERIFY(QDir().mkdir(foreign));
    QVERIFY(QFile::setPermissions(foreign, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QCOMPARE(::chown(QFile::encodeName(foreign).constData(), 54321, 54321), 0);

    XltxWorkbookWriter writer(foreign);
    try {
        writer.begin();
        QFAIL("a folder of another user was accepted");
    } catch (const Error& e) {
        QCOMPARE(e.message(),
                 QStringLiteral("La cartella temporanea \"%1\" appartiene a un altro utente: il "
                                "foglio di calcolo non vi viene scritto.")
                     .arg(QDir::toNativeSeparators(foreign)));
    }
    QVERIFY(exportsIn(foreign).isEmpty());
#endif
}

void TestXltxWriter::failuresLeaveNoFile() {
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());

    XltxWorkbookWriter idle(tmp.path());
    QVERIFY_THROWS_EXCEPTION(Error, idle.writeRow(texts({QStringLiteral("x")})));
    QVERIFY_THROWS_EXCEPTION(Error, idle.finish());

    {
        // Abandoned half-way: the partial file goes away with the writer.
        XltxWorkbookWriter abandoned(tmp.path());
        abandoned.begin();
        abandoned.writeRow(texts(Headers));
        QCOMPARE(exportsIn(tmp.path()).size(), 1);
        QVERIFY_THROWS_EXCEPTION(Error, abandoned.begin());
    }
    QVERIFY(exportsIn(tmp.path()).isEmpty());

    // The folder vanishes before the workbook is complete: the failure names
    // the file and says why, and nothing pretends to be a finished export.
    const QString folder = tmp.filePath(QStringLiteral("gone"));
    XltxWorkbookWriter writer(folder);
    writer.begin();
    writer.writeRow(texts(Headers));
    const QString reserved = QDir(folder).absoluteFilePath(exportsIn(folder).value(0));
    QVERIFY(QDir(folder).removeRecursively());
    try {
        writer.finish();
        QFAIL("finish() succeeded without its folder");
    } catch (const Error& e) {
        const QString start = QStringLiteral("Impossibile scrivere il foglio di calcolo \"%1\": ")
                                  .arg(QDir::toNativeSeparators(reserved));
        QVERIFY2(e.message().startsWith(start), qPrintable(e.message()));
        QVERIFY(e.message().size() > start.size());
    }
    QVERIFY(!QFileInfo::exists(reserved));

    // The writer is usable again afterwards.
    writer.begin();
    QVERIFY(QFileInfo::exists(writer.finish()));
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

void TestXltxWriter::desktopOpenerReportsTheFileWhenNothingOpensIt() {
    // Under the offscreen platform no application can open anything, which
    // is exactly the operator's situation without a spreadsheet program.
    if (QGuiApplication::platformName() != QStringLiteral("offscreen"))
        QSKIP("needs QT_QPA_PLATFORM=offscreen, where nothing can be opened");
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    XltxWorkbookWriter writer(tmp.path());
    writer.begin();
    const QString path = writer.finish();

    DesktopFileOpener opener;
    try {
        opener.open(path);
        QFAIL("opening reported success with no application to open the file");
    } catch (const Error& e) {
        QCOMPARE(e.message(),
                 QStringLiteral("Nessuna applicazione ha potuto aprire il foglio di calcolo. "
                                "Il file è stato conservato e si può aprire a mano: \"%1\"")
                     .arg(QDir::toNativeSeparators(path)));
    }
    QVERIFY(QFileInfo::exists(path));
}

QTEST_MAIN(TestXltxWriter)
#include "tst_xltxwriter.moc"
