// The three roles of a server database: what marvesa-initdb gives each, what
// the window lets a login of each do (the rest disabled, saying why, through
// every change of state), and the server refusing the rest anyway, with an
// Italian message and nothing lost.

#include <QCoreApplication>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>

#include "data/registry/Anonymisation.h"
#include "data/registry/History.h"
#include "data/sql/EngineFactory.h"
#include "support/DataTestSupport.h"
#include "support/TestApplication.h"
#include "support/WindowFixture.h"
#include "ui/services/ErrorReport.h"
#include "ui/window/PersonalDataCommands.h"

using namespace marvesa;
using namespace marvesa::test;
using namespace Qt::StringLiterals;

namespace {

struct ToolRun {
    int code = -1;
    QString out;
    QString err;
};

ToolRun initDb(const QStringList& args) {
    QProcess tool;
    tool.start(QStringLiteral(MARVESA_INITDB), args);
    tool.waitForFinished(120000);
    return {tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1,
            QString::fromUtf8(tool.readAllStandardOutput()),
            QString::fromUtf8(tool.readAllStandardError())};
}

// The same database, connected as `login`.
QString asLogin(QString connection, const QString& login) {
    static const QRegularExpression user(u"\\buser=\\S+"_s);
    return connection.replace(user, u"user="_s + login);
}

// A login of this test program, member of `role`.
QString makeLogin(const char* role) {
    const QString name =
        u"t_%1_%2"_s.arg(QString::fromLatin1(role)).arg(QCoreApplication::applicationPid());
    TestServer::instance().admin(u"DROP ROLE IF EXISTS %1"_s.arg(name));
    TestServer::instance().admin(
        u"CREATE ROLE %1 LOGIN IN ROLE %2"_s.arg(name, QString::fromLatin1(role)));
    return name;
}

bool privilege(Sql& sql, const char* role, const char* table, const char* what) {
    return sql
        .one(u"SELECT has_table_privilege(?, ?, ?)"_s,
             {QString::fromLatin1(role), u"\"%1\""_s.arg(QString::fromLatin1(table)),
              QString::fromLatin1(what)})
        .toBool();
}

// The commands a reader may not use: disabled, the reason in the tooltip.
const std::array<int, 7> kStoring{cbNewNucleo, cbEditNucleo, cbEliminaNucleo, cbNewAnag,
                                  cbEditAnag,  cbDelAnag,    cbExport};

}  // namespace

class TstRoles : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(onServer());
        TemplateDatabase::path();
        m_reader = makeLogin(kReaderRole);
        m_operator = makeLogin(kOperatorRole);
        m_administrator = makeLogin(kAdministratorRole);
    }

    void cleanupTestCase() {
        for (const QString& login : {m_reader, m_operator, m_administrator})
            TestServer::instance().admin(u"DROP ROLE IF EXISTS %1"_s.arg(login));
    }

    // marvesa-initdb gives the three roles their rights: reading to all,
    // storing and exporting to the operator and the administrator, the
    // history's values to the administrator alone; a table made later can
    // be read at once. --aggiorna gives them again to a database without.
    void initDbGivesTheRoles() {
        const QString connection = TestServer::instance().emptyDatabase();
        ToolRun run = initDb({connection});
        QVERIFY2(run.code == 0, qPrintable(run.err));
        QVERIFY(
            run.out.contains(u"Ruoli marvesa_lettura, marvesa_operatore e "
                             "marvesa_amministratore pronti"_s));
        Sql sql(connection);
        const auto rights = [&] {
            QStringList r;
            for (const char* role : {kReaderRole, kOperatorRole, kAdministratorRole}) {
                QStringList granted;
                for (const char* table : {"TBL_NUCLEO", "TBL_ANAGRAFICA", "TBL_EXPORT",
                                          "TBL_STORICO", "TBL_SYS_COMUNI", "TBL_SYS_VERSIONE"}) {
                    QString t;
                    for (const char* what : {"SELECT", "INSERT", "UPDATE", "DELETE"})
                        t += privilege(sql, role, table, what) ? QChar::fromLatin1(what[0])
                                                               : QChar(u'-');
                    granted << t;
                }
                const bool values = sql.one(
                                           u"SELECT has_column_privilege(?, '\"TBL_STORICO\"', "
                                           "'VALORI', 'UPDATE')"_s,
                                           {QString::fromLatin1(role)})
                                        .toBool();
                r << granted.join(u' ') + (values ? u" V"_s : u" -"_s);
            }
            return r;
        };
        const QStringList expected{u"S--- S--- S--- S--- S--- S--- -"_s,
                                   u"SIUD SIUD SIUD SI-- S--- S--- -"_s,
                                   u"SIUD SIUD SIUD SI-- S--- S--- V"_s};
        QCOMPARE(rights(), expected);
        sql.exec(u"CREATE TABLE \"TBL_PROVA\" (\"A\" integer)"_s);
        QVERIFY(privilege(sql, kReaderRole, "TBL_PROVA", "SELECT"));

        sql.exec(
            u"REVOKE ALL ON ALL TABLES IN SCHEMA public FROM marvesa_lettura, "
            "marvesa_operatore, marvesa_amministratore"_s);
        QVERIFY(!privilege(sql, kOperatorRole, "TBL_NUCLEO", "INSERT"));
        run = initDb({u"--aggiorna"_s, connection});
        QVERIFY2(run.code == 0, qPrintable(run.err));
        QVERIFY(run.out.contains(u"Ruoli marvesa_lettura"_s));
        QCOMPARE(rights(), expected);
    }

    // A reader sees the registry and its history; every command that would
    // change it is disabled, saying why, in every state the tables go
    // through; a forced attempt is refused by the server in Italian and
    // leaves what was typed in the window.
    void aReaderOnlyReads() {
        WindowFixture f(false);
        TfrmMain& w = f.w();
        f.dm->DataModuleCreate(asLogin(f.path, m_reader));
        QCOMPARE(f.nucleo().recordCount(), 3);
        QCOMPARE(f.column(f.members(), "NOME"), u"ANNA"_s);
        const auto checkRefused = [&](const char* when) {
            const auto buttons = w.commandButtons();
            for (int i : kStoring) {
                QVERIFY2(!buttons[i]->isEnabled(), when);
                QVERIFY2(buttons[i]->toolTip().contains(u"marvesa_lettura"_s), when);
                QCOMPARE(buttons[i]->accessibleDescription(), buttons[i]->toolTip());
            }
            QVERIFY2(w.btnExit->isEnabled(), when);
        };
        checkRefused("browse");
        QVERIFY(w.btnNewNucleo->toolTip().contains(u"solo di consultare"_s));
        QVERIFY(w.btnExport->toolTip().contains(u"non permette di esportare"_s));
        f.nucleo().next();
        checkRefused("after a move");
        PersonalDataCommands* commands = personalDataCommands(w);
        QVERIFY(commands->historyButton()->isEnabled());
        QVERIFY(!commands->anonymiseButton()->isEnabled());
        QVERIFY(!commands->eraseButton()->isEnabled());
        QVERIFY(commands->eraseButton()->toolTip().contains(
            u"Solo il ruolo marvesa_amministratore può anonimizzare"_s));
        // The keys do nothing either.
        QTest::keyClick(&w, Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(!commands->anonymiseDialog());

        // Forced: a new family unit stored by hand.
        f.nucleo().first();
        f.nucleo().insert();
        QCOMPARE(w.btnAnnNucleo->isEnabled(), true);
        QCOMPARE(w.btnSaveNucleo->isEnabled(), false);
        for (const auto& [field, value] :
             {std::pair{"DENOMINAZIONE", "NUOVA"}, std::pair{"NOME_OSPITANTE", "OSPITE"},
              std::pair{"COMUNE", "Udine"}, std::pair{"INDIRIZZO", "VIA"},
              std::pair{"TELEFONO", "1"}}) {
            f.nucleo().setFieldValue(QString::fromLatin1(field),
                                     Value::text(QString::fromLatin1(value)));
        }
        w.edtCodiceNucleo->setCaption(u"QX999"_s);
        QVERIFY(!runGuarded([&] { w.btnSaveNucleoClick(); }));
        QCOMPARE(f.dialogs.shown.size(), 1);
        QCOMPARE(f.dialogs.shown[0].icon, DialogIcon::Error);
        QVERIFY2(f.dialogs.texts()[0].contains(u"non permette questa operazione, che non è stata "
                                               "eseguita"_s),
                 qPrintable(f.dialogs.texts()[0]));
        QCOMPARE(f.nucleo().state(), dsInsert);
        QCOMPARE(f.column(f.nucleo(), "DENOMINAZIONE"), u"NUOVA"_s);
        w.btnAnnNucleo->click();
        checkRefused("after Annulla");

        // Forced: an export, a deletion from the list, an anonymisation.
        f.dialogs.clear();
        QVERIFY(!runGuarded([&] { w.btnExportClick(); }));
        QVERIFY2(f.dialogs.texts().value(0).contains(u"non permette questa operazione"_s),
                 qPrintable(f.dialogs.texts().value(0)));
        QVERIFY(!w.btnExport->isEnabled());
        f.dialogs.clear();
        WindowFixture::focus(w.DBGrid2);
        QTest::keyClick(w.DBGrid2, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(f.dialogs.texts(), QStringList{w.btnEliminaNucleo->toolTip()});
        QCOMPARE(f.nucleo().recordCount(), 3);
        f.dialogs.clear();
        commands->openAnonymise();
        QCOMPARE(f.dialogs.texts(), QStringList{commands->anonymiseButton()->toolTip()});
        auto engine = openEngine(asLogin(f.path, m_reader));
        QVERIFY(errorOf([&] {
                    anonymiseFamilyUnits(*engine, {1}, QDate(2030, 1, 1), 1);
                }).contains(u"non permette questa operazione"_s));

        // The history can be read.
        click(commands->historyButton());
        QVERIFY(commands->historyDialog());
        QCOMPARE(commands->historyDialog()->shownLines().size(), 3);
        QVERIFY(!commands->historyDialog()->wholeHistoryBox());
        commands->historyDialog()->reject();
        Sql sql(f.path);
        QCOMPARE(sql.count(u"TBL_NUCLEO"_s), 3);
    }

    // An operator stores and exports, under its own name in the history,
    // but cannot anonymise nor record an import: the server refuses it too.
    void anOperatorStoresButDoesNotAnonymise() {
        WindowFixture f(false);
        TfrmMain& w = f.w();
        f.dm->DataModuleCreate(asLogin(f.path, m_operator));
        for (CommandButton* b : {w.btnNewNucleo, w.btnEditNucleo, w.btnNewAnag, w.btnExport})
            QVERIFY(b->isEnabled());
        PersonalDataCommands* commands = personalDataCommands(w);
        QVERIFY(!commands->anonymiseButton()->isEnabled());
        QVERIFY(commands->anonymiseButton()->toolTip().contains(u"marvesa_operatore"_s));
        QVERIFY(!commands->eraseButton()->isEnabled());

        f.nucleo().edit();
        f.nucleo().setFieldValue(u"DENOMINAZIONE"_s, Value::text(u"ROSSI BIS"_s));
        f.nucleo().post();
        Sql sql(f.path);
        QCOMPARE(sql.row(u"SELECT OPERAZIONE, UTENTE FROM TBL_STORICO ORDER BY ID_STORICO DESC"_s),
                 u"U|"_s + m_operator);

        auto engine = openEngine(asLogin(f.path, m_operator));
        const QString refused = errorOf([&] { erasePerson(*engine, 1); });
        QVERIFY2(refused.contains(u"non permette questa operazione"_s), qPrintable(refused));
        QCOMPARE(sql.count(u"TBL_ANAGRAFICA"_s, u"NOME = 'ANNA'"_s), 1);
        const QString import = errorOf([&] {
            recordEvent(*engine, QString::fromLatin1(kEventImport), u"TBL_ANAGRAFICA"_s, 1,
                        u"x.xlsx"_s);
        });
        QVERIFY2(import.contains(u"Solo il ruolo marvesa_amministratore"_s), qPrintable(import));

        // The history stays as written: the operator may not change or
        // delete its rows, the administrator neither outside an
        // anonymisation.
        const int rows = sql.count(u"TBL_STORICO"_s);
        for (const QString& login : {m_operator, m_administrator}) {
            Sql desk(asLogin(f.path, login));
            desk.exec(u"UPDATE TBL_STORICO SET VALORI = 'ALTERATO'"_s);
            desk.exec(u"DELETE FROM TBL_STORICO"_s);
            QCOMPARE(sql.count(u"TBL_STORICO"_s), rows);
            QCOMPARE(sql.count(u"TBL_STORICO"_s, u"VALORI = 'ALTERATO'"_s), 0);
        }
    }

    // The administrator anonymises and erases, under its own name.
    void theAdministratorAnonymises() {
        WindowFixture f(false);
        TfrmMain& w = f.w();
        f.dm->DataModuleCreate(asLogin(f.path, m_administrator));
        PersonalDataCommands* commands = personalDataCommands(w);
        QVERIFY(commands->anonymiseButton()->isEnabled());
        QVERIFY(commands->eraseButton()->isEnabled());
        QVERIFY(commands->anonymiseButton()->toolTip().contains(u"Ctrl+Maiusc+A"_s));
        auto engine = openEngine(asLogin(f.path, m_administrator));
        erasePerson(*engine, 1);
        Sql sql(f.path);
        QCOMPARE(sql.row(u"SELECT OPERAZIONE, UTENTE FROM TBL_STORICO ORDER BY ID_STORICO DESC"_s),
                 u"ANONIMIZZA|"_s + m_administrator);
        QCOMPARE(sql.count(u"TBL_ANAGRAFICA"_s, u"NOME = 'ANNA'"_s), 0);
    }

private:
    static void click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton); }

    QString m_reader;
    QString m_operator;
    QString m_administrator;
};

MARVESA_TEST_MAIN(TstRoles)
#include "tst_roles.moc"
