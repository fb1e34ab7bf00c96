// The .xltx workbook writer: where its files go, who may read them, what a
// failure leaves behind, and which old exports are cleared away.

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "DataTestSupport.h"
#include "XlsxReader.h"
#include "data/Error.h"
#include "export/FileOpener.h"
#include "export/XltxWorkbookWriter.h"

#ifdef Q_OS_UNIX
#include <sys/stat.h>

// The permission bits of `path` itself (not of what a link leads to).
static int modeOf(const QString& path) {
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return int(st.st_mode & 07777);
}
#endif

using namespace marvesa;
using namespace marvesa::test;

// The writer's files in `folder`.
static QStringList exportsIn(const QString& folder) {
    return QDir(folder).entryList({QStringLiteral("Marvesa-export-*")}, QDir::Files);
}

class TestXltxWriter : public QObject {
    Q_OBJECT

private slots:
    void filesArePrivateAndOfTheirOwn();
    void failuresLeaveNoFile();
    void removesOnlyStaleExports();
    void escapeLikeTextsReadBackUnchanged();
};

void TestXltxWriter::filesArePrivateAndOfTheirOwn() {
    QTemporaryDir tmp;
    const QString folder = tmp.filePath(QStringLiteral("nested/private"));
    // Two writers begun within the same second: two files.
    XltxWorkbookWriter first(folder);
    XltxWorkbookWriter second(folder);
    first.begin();
    second.begin();
    const QString a = first.finish();
    const QString b = second.finish();
    QVERIFY(a != b);
#ifdef Q_OS_UNIX
    QCOMPARE(modeOf(folder), 0700);
    QCOMPARE(modeOf(a), 0600);
    // A folder of ours that others can enter is closed again.
    QCOMPARE(::chmod(QFile::encodeName(folder).constData(), 0755), 0);
    first.begin();
    QCOMPARE(modeOf(folder), 0700);
#endif
}

void TestXltxWriter::failuresLeaveNoFile() {
    QTemporaryDir tmp;
    {
        // Abandoned half-way: the partial file goes away with the writer.
        XltxWorkbookWriter abandoned(tmp.path());
        abandoned.begin();
        abandoned.writeRow({Cell::ofText(QStringLiteral("x"))});
        QCOMPARE(exportsIn(tmp.path()).size(), 1);
    }
    QVERIFY(exportsIn(tmp.path()).isEmpty());

    // The folder vanishes before the workbook is complete: the failure names
    // the file rather than passing for a finished export.
    const QString folder = tmp.filePath(QStringLiteral("gone"));
    XltxWorkbookWriter writer(folder);
    writer.begin();
    const QString reserved = QDir(folder).absoluteFilePath(exportsIn(folder).value(0));
    QVERIFY(QDir(folder).removeRecursively());
    const QString message = errorOf([&] { writer.finish(); });
    QVERIFY2(message.startsWith(QStringLiteral("Impossibile scrivere il foglio di calcolo \"%1\": ")
                                    .arg(QDir::toNativeSeparators(reserved))),
             qPrintable(message));

    // Nothing can open a finished file, as on a desktop without a
    // spreadsheet program (which is what the offscreen platform is): the
    // operator is told where it is, and it is kept.
    if (QGuiApplication::platformName() != QStringLiteral("offscreen"))
        QSKIP("needs QT_QPA_PLATFORM=offscreen, where nothing can be opened");
    writer.begin();
    const QString path = writer.finish();
    QCOMPARE(errorOf([&] { DesktopFileOpener().open(path); }),
             QStringLiteral("Nessuna applicazione ha potuto aprire il foglio di calcolo. "
                            "Il file è stato conservato e si può aprire a mano: \"%1\"")
                 .arg(QDir::toNativeSeparators(path)));
    QVERIFY(QFileInfo::exists(path));
}

void TestXltxWriter::removesOnlyStaleExports() {
    QTemporaryDir tmp;
    // Makes the file at `path` (when missing) last written `hours` ago.
    const auto age = [](const QString& path, int hours) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-hours * 3600),
                                 QFileDevice::FileModificationTime));
    };
    XltxWorkbookWriter writer(tmp.path());
    writer.begin();
    const QString stale = writer.finish();
    age(stale, 25);
    writer.begin();
    age(writer.finish(), 23);
    // Old files that are not exports of this writer stay.
    age(tmp.filePath(QStringLiteral("Relazione.xltx")), 48);
    age(tmp.filePath(QStringLiteral("Marvesa-export-20240101-101010-0badcafe.xlsx")), 48);

    QCOMPARE(XltxWorkbookWriter::removeStaleExports(tmp.path()), 1);
    QVERIFY(!QFileInfo::exists(stale));
    QCOMPARE(QDir(tmp.path()).entryList(QDir::Files).size(), 3);
}

void TestXltxWriter::escapeLikeTextsReadBackUnchanged() {
    // Texts that look like the package's own character escapes: a reader
    // must not turn them into the characters they name.
    const QStringList texts =
        L("_x0041_|a_x00e9_b|_x005F_|__x0041__|_x0041__x0042_|_xZZZZ_|x0041_");
    QTemporaryDir tmp;
    XltxWorkbookWriter writer(tmp.path());
    writer.begin();
    QVector<Cell> row;
    for (const QString& t : texts)
        row << Cell::ofText(t);
    writer.writeRow(row);
    ReadBook book;
    READ_OR_SKIP(writer.finish(), book);
    for (int c = 0; c < texts.size(); ++c)
        QCOMPARE(book.cells.value({1, c + 1}).value, texts.at(c));
}

QTEST_MAIN(TestXltxWriter)
#include "tst_xltxwriter.moc"
