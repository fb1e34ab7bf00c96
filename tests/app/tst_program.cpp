// Start-up, shutdown and the top-level error handler, with the real window
// and real database files.

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "app/Program.h"
#include "data/DataModule.h"
#include "data/DataTestSupport.h"
#include "data/Error.h"
#include "data/Schema.h"
#include "support/ScriptedDialogs.h"
#include "ui/ErrorReport.h"
#include "ui/MainWindow.h"

using namespace marvesa;

namespace {

// A runtime folder laid out as the program expects: a working directory
// "work" with the database at ../dB/dbQuaz.mdb.
struct RuntimeFolder {
    QTemporaryDir dir;
    QString previous = QDir::currentPath();
    RuntimeFolder() {
        QDir(dir.path()).mkpath(QStringLiteral("work"));
        QDir(dir.path()).mkpath(QStringLiteral("dB"));
        QDir::setCurrent(dir.filePath(QStringLiteral("work")));
    }
    ~RuntimeFolder() { QDir::setCurrent(previous); }
    QString database() const { return dir.filePath(QStringLiteral("dB/dbQuaz.mdb")); }
    void createDatabase() const { schema::createDatabase(database()); }
};

QList<bool> buttonStates(const TfrmMain& w) {
    QList<bool> states;
    for (const auto* b : w.commandButtons())
        states << b->isEnabled();
    return states;
}

// Browsing: every button but the two "Annulla" and the two "Salva".
const QList<bool> kBrowsing{true, true,  false, false, true, true,
                            true, false, false, true,  true, true};

}  // namespace

class tst_program : public QObject {
    Q_OBJECT
private slots:
    void errorBoxAndApplicationTitleTexts();
    void missingDatabaseIsReportedBeforeTheWindowAndNothingIsCreated_data();
    void missingDatabaseIsReportedBeforeTheWindowAndNothingIsCreated();
    void missingReferenceTableLeavesTheLaterTablesClosed();
    void startsOnAReadyDatabaseAndChiudiProgrammaEndsWithStatusZero();
};

void tst_program::errorBoxAndApplicationTitleTexts() {
    const auto box = [](const char* text) { return errorBoxText(QString::fromLatin1(text)); };
    QCOMPARE(box("Tabella mancante"), QStringLiteral("Tabella mancante."));
    QCOMPARE(box("Errore 42"), QStringLiteral("Errore 42."));
    QCOMPARE(box("Finito."), QStringLiteral("Finito."));
    QCOMPARE(box("(Null) into type (OleStr)"), QStringLiteral("(Null) into type (OleStr)"));
    // "-" (U+002D) and "." (U+002E) are not above U+002E; "/" is.
    QCOMPARE(box("a -"), QStringLiteral("a -"));
    QCOMPARE(box("a/"), QStringLiteral("a/."));
    QCOMPARE(errorBoxText(QString()), QString());

    // The innermost error with a message wins; empty inner messages are passed over.
    auto innermost = std::make_shared<Error>(QStringLiteral("disco pieno"));
    auto emptyInner = std::make_shared<Error>(QString(), innermost);
    Error outer(QStringLiteral("salvataggio fallito"), emptyInner);
    QCOMPARE(errorBoxText(outer), QStringLiteral("disco pieno."));
    auto blank = std::make_shared<Error>(QString());
    QCOMPARE(errorBoxText(Error(QStringLiteral("esterno"), blank)), QStringLiteral("esterno."));

    test::ScriptedDialogs dialogs;
    handleApplicationError(Error(QString()));
    QCOMPARE(dialogs.shown.size(), 1);
    QCOMPARE(dialogs.shown[0].text, QString());
    QCOMPARE(dialogs.shown[0].icon, DialogIcon::Error);
    QCOMPARE(dialogs.shown[0].buttons, QList<DialogButton>{DialogButton::Ok});
    QCOMPARE(dialogs.shown[0].title, applicationTitle());

    const auto title = [](const char* path) {
        return applicationTitleFromPath(QString::fromLatin1(path));
    };
    QCOMPARE(title("/opt/marvesa/bin/marvesa"), QStringLiteral("Marvesa"));
    QCOMPARE(title("C:/Programmi/MARVESA.EXE"), QStringLiteral("Marvesa"));
    QCOMPARE(title("/x/MarVesa.v2.exe"), QStringLiteral("Marvesa"));
    QCOMPARE(title("/x/tst_program"), QStringLiteral("Tst_program"));
}

void tst_program::missingDatabaseIsReportedBeforeTheWindowAndNothingIsCreated_data() {
    QTest::addColumn<bool>("closeBox");
    QTest::newRow("Chiudi Programma") << false;
    QTest::newRow("close box") << true;
}

void tst_program::missingDatabaseIsReportedBeforeTheWindowAndNothingIsCreated() {
    QFETCH(bool, closeBox);
    RuntimeFolder runtime;
    test::ScriptedDialogs dialogs;
    QList<bool> windowVisibleAtBox;
    dialogs.onAsk = [&](const DialogRequest&) {
        windowVisibleAtBox << (frmMain && frmMain->isVisible());
    };
    QTimer::singleShot(0, [&] {
        QCOMPARE(dialogs.shown.size(), 1);
        QCOMPARE(windowVisibleAtBox, QList<bool>{false});
        const DialogRequest box = dialogs.shown[0];
        QCOMPARE(box.icon, DialogIcon::Error);
        QCOMPARE(box.title, applicationTitle());
        const QString database = QFileInfo(runtime.database()).absoluteFilePath();
        QVERIFY2(box.text.contains(QDir::toNativeSeparators(database)), qPrintable(box.text));
        QVERIFY(box.text.endsWith(QLatin1Char('.')));
        QVERIFY(!QFileInfo::exists(runtime.database()));

        // The window shows, empty, with all twelve buttons enabled.
        QVERIFY(frmMain->isVisible());
        QCOMPARE(frmMain->windowTitle(), QStringLiteral("Gestione Emergenza Marvesa"));
        QCOMPARE(buttonStates(*frmMain), QList<bool>(12, true));
        QCOMPARE(dmMarvesa->TBL_NUCLEO.state(), dsInactive);
        QVERIFY(frmMain->edtDescNucleo->text().isEmpty());

        // A command on the closed table fails with the data layer's error.
        dialogs.clear();
        frmMain->btnNewNucleo->click();
        QCOMPARE(dialogs.texts(),
                 QStringList{QStringLiteral("TBL_NUCLEO: Cannot perform this operation on a closed "
                                            "dataset.")});
        dialogs.clear();
    });
    // Either way of ending still ends the program normally, asking nothing.
    QTimer::singleShot(0, [&] {
        if (closeBox)
            frmMain->close();
        else
            frmMain->btnExit->click();
    });
    QCOMPARE(runProgram(TdmMarvesa::databasePath()), 0);
    QVERIFY(dialogs.shown.isEmpty());
    QVERIFY(!QFileInfo::exists(runtime.database()));
}

void tst_program::missingReferenceTableLeavesTheLaterTablesClosed() {
    RuntimeFolder runtime;
    runtime.createDatabase();
    test::Sql(runtime.database()).exec(QStringLiteral("DROP TABLE TBL_SYS_COMUNI"));

    test::ScriptedDialogs dialogs;
    Program program;
    program.start(TdmMarvesa::databasePath());
    TdmMarvesa& dm = *program.dataModule();
    QCOMPARE(dm.TBL_NUCLEO.state(), dsBrowse);
    QCOMPARE(dm.TBL_ANAGRAFICA.state(), dsBrowse);
    QCOMPARE(dm.TBL_COMUNI.state(), dsInactive);
    QCOMPARE(dm.TBL_NAZIONI.state(), dsInactive);
    QCOMPARE(dm.TBL_EXPORT.state(), dsInactive);
    QCOMPARE(dialogs.shown.size(), 1);
    QVERIFY2(dialogs.shown[0].text.contains(QStringLiteral("TBL_SYS_COMUNI")),
             qPrintable(dialogs.shown[0].text));
    QCOMPARE(buttonStates(*program.window()), kBrowsing);
}

void tst_program::startsOnAReadyDatabaseAndChiudiProgrammaEndsWithStatusZero() {
    RuntimeFolder runtime;
    runtime.createDatabase();
    test::ScriptedDialogs dialogs;
    const auto drawCodes = [](TfrmMain& w) {
        QStringList drawn;
        for (int i = 0; i < 5; ++i) {
            w.btnNewNucleo->click();
            drawn << w.edtCodiceNucleo->caption();
            w.btnAnnNucleo->click();
        }
        return drawn;
    };
    QStringList codes;
    QTimer::singleShot(0, [&] {
        QVERIFY(frmMain && frmMain->isVisible());
        QCOMPARE(frmMain->size(), QSize(951, 737));
        QCOMPARE(frmMain->minimumSize(), frmMain->maximumSize());
        QCOMPARE(buttonStates(*frmMain), kBrowsing);
        codes = drawCodes(*frmMain);
        // "Chiudi Programma" asks nothing; the tables are closed by the
        // command itself, before the loop ends.
        frmMain->btnExit->click();
        QCOMPARE(dmMarvesa->TBL_NUCLEO.state(), dsInactive);
        QCOMPARE(dmMarvesa->TBL_EXPORT.state(), dsBrowse);
    });
    QCOMPARE(runProgram(TdmMarvesa::databasePath()), 0);
    QVERIFY(dialogs.shown.isEmpty());

    // The next run draws other family codes.
    QCOMPARE(codes.size(), 5);
    for (const QString& c : codes)
        QVERIFY(c.startsWith(QStringLiteral("QX")));
    QTest::qWait(2);
    Program next;
    next.start(TdmMarvesa::databasePath());
    QVERIFY(drawCodes(*next.window()) != codes);
}

QTEST_MAIN(tst_program)
#include "tst_program.moc"
