// The .xltx workbook writer: where its files go, who may read them, what a
// failure leaves behind, and which old exports are cleared away.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "data/base/Error.h"
#include "export/FileOpener.h"
#include "export/XltxWorkbookWriter.h"
#include "support/DataTestSupport.h"
#include "support/XlsxReader.h"

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>

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
    void foldersNotOursAreNeverUsed();
    void escapeLikeTextsReadBackUnchanged();
    void fullDisk();
};

// The disk fills while the workbook is written (a tmpfs of 256 kB, mounted
// in a mount namespace of the helper's own): the message is Italian and
// says what to do, the library's words are its detail and never reach
// standard error raw, and no file is left.
void TestXltxWriter::fullDisk() {
#ifdef Q_OS_LINUX
    QProcess probe;
    probe.start(QStringLiteral("unshare"), {QStringLiteral("-rm"), QStringLiteral("true")});
    if (!probe.waitForFinished(10000) || probe.exitCode() != 0)
        QSKIP("no mount namespace can be made here (unshare -rm)");
    QTemporaryDir mountPoint;
    QProcess helper;
    helper.start(
        QStringLiteral("unshare"),
        {QStringLiteral("-rm"), QStringLiteral("sh"), QStringLiteral("-c"),
         QStringLiteral("mount -t tmpfs -o size=256k none \"$1\" && exec \"$2\" \"$1\""),
         QStringLiteral("sh"), mountPoint.path(), QStringLiteral(MARVESA_FULL_DISK_HELPER)});
    QVERIFY(helper.waitForFinished(60000));
    const QString out = QString::fromUtf8(helper.readAllStandardOutput());
    const QString err = QString::fromUtf8(helper.readAllStandardError());
    QVERIFY2(helper.exitCode() == 0, qPrintable(out + err));
    QVERIFY2(out.contains(QStringLiteral("il disco è pieno")) &&
                 out.contains(QStringLiteral("liberare spazio sul disco")),
             qPrintable(out));
    QVERIFY2(out.contains(QStringLiteral("FILES 0")), qPrintable(out));
    QVERIFY2(!err.contains(QStringLiteral("[ERROR]")), qPrintable(err));
#else
    QSKIP("a small disk is made with a Linux mount namespace");
#endif
}

void TestXltxWriter::filesArePrivateAndOfTheirOwn() {
    QTemporaryDir tmp;
    const QString folder = tmp.filePath(QStringLiteral("nested/private"));
    // Two writers begun within the same second: two files.
    XltxWorkbookWriter first(folder);
    XltxWorkbookWriter second(folder);
    first.begin();
    second.begin();
    // Until complete, a workbook carries a name no application takes for a
    // finished one.
    for (const QString& name : exportsIn(folder))
        QVERIFY2(name.endsWith(QLatin1String(".xltx.part")), qPrintable(name));
    const QString a = first.finish();
    const QString b = second.finish();
    QVERIFY(a != b);
    QVERIFY(a.endsWith(QLatin1String(".xltx")) && b.endsWith(QLatin1String(".xltx")));
    QCOMPARE(exportsIn(folder).size(), 2);
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
    writer.begin();
    const QString recent = writer.finish();
    age(stale, 25);
    age(recent, 23);
    // What killed exports leave: a half-written workbook, and libzip's
    // temporaries of a workbook being turned into a template.
    const QString base = tmp.filePath(QStringLiteral("Marvesa-export-20240101-101010-0badcafe"));
    const QStringList leftovers{base + QStringLiteral(".xltx.part"),
                                base + QStringLiteral(".xltx.part.Ab12Cd"),
                                base + QStringLiteral(".xltx.x9Y8z7")};
    for (const QString& path : leftovers)
        age(path, 30);
    // Old files that are not exports of this writer stay.
    age(tmp.filePath(QStringLiteral("Relazione.xltx")), 48);
    age(base + QStringLiteral(".xlsx"), 48);
    age(base + QStringLiteral(".xltx.part.toolong1"), 48);

    QCOMPARE(XltxWorkbookWriter::removeStaleExports(tmp.path()), 1 + leftovers.size());
    QVERIFY(!QFileInfo::exists(stale));
    QVERIFY(QFileInfo::exists(recent));
    QCOMPARE(QDir(tmp.path()).entryList(QDir::Files).size(), 4);

    // Every new workbook clears the stale ones first.
    age(recent, 25);
    writer.begin();
    writer.abandon();
    QVERIFY(!QFileInfo::exists(recent));
}

void TestXltxWriter::foldersNotOursAreNeverUsed() {
#ifndef Q_OS_UNIX
    QSKIP("owners and symbolic links of POSIX systems");
#else
    // The folder asked for is another account's (tests run as root: another
    // account is simulated with chown), a symbolic link, or a file: the
    // workbook still goes to a private folder of ours beside it, the same
    // one every time, and nothing is written into what stands there.
    QTemporaryDir tmp;
    const QString elsewhere = tmp.filePath(QStringLiteral("elsewhere"));
    QVERIFY(QDir().mkdir(elsewhere));
    const QString owned = tmp.filePath(QStringLiteral("owned"));
    QVERIFY(QDir().mkdir(owned));
    if (::chown(QFile::encodeName(owned).constData(), 65534, 65534) != 0)
        QSKIP("cannot give a folder to another account (not running as root)");
    const QString link = tmp.filePath(QStringLiteral("link"));
    QVERIFY(QFile::link(elsewhere, link));
    const QString file = tmp.filePath(QStringLiteral("file"));
    QVERIFY(QFile(file).open(QIODevice::WriteOnly));

    for (const QString& wanted : {owned, link, file}) {
        QString used;
        for (int round = 0; round < 2; ++round) {
            XltxWorkbookWriter writer(wanted);
            writer.begin();
            writer.writeRow({Cell::ofText(QStringLiteral("x"))});
            const QString path = writer.finish();
            const QString folder = QFileInfo(path).absolutePath();
            QVERIFY2(QFileInfo(folder).fileName().startsWith(QFileInfo(wanted).fileName() +
                                                             QLatin1Char('-')),
                     qPrintable(folder));
            QCOMPARE(QFileInfo(folder).absolutePath(), QFileInfo(wanted).absolutePath());
            QCOMPARE(writer.folder(), folder);
            QCOMPARE(modeOf(folder), 0700);
            QCOMPARE(QFileInfo(folder).ownerId(), uint(::geteuid()));
            QVERIFY(!QFileInfo(folder).isSymLink());
            if (round == 1)
                QCOMPARE(folder, used);
            used = folder;
        }
    }
    QVERIFY(QDir(elsewhere).isEmpty());
    QVERIFY(QDir(owned).isEmpty());
    QCOMPARE(QFileInfo(file).size(), 0);
#endif
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
