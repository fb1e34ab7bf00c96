// The launcher of the applications menu: which database it picks from the
// settings, the user's own registry made on the first start once the clerk
// agrees, and the working folder from which the program finds the database.

#include <sys/stat.h>

#include <QSettings>
#include <QtTest>

#include "app/Launcher.h"
#include "data/schema/FileDatabase.h"
#include "support/DataTestSupport.h"
#include "support/ScriptedDialogs.h"
#include "support/TestApplication.h"

using namespace marvesa;
using namespace marvesa::test;
using namespace Qt::StringLiterals;

namespace {

QString modeOf(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return u"<missing>"_s;
    return QString::number(st.st_mode & 07777, 8);
}

// The file the program opens when it runs in `workingFolder`.
QString openedFrom(const QString& workingFolder) {
    return QFileInfo(QDir(workingFolder).filePath(u"../dB/dbQuaz.mdb"_s)).canonicalFilePath();
}

QString canonical(const QString& path) {
    return QFileInfo(path).canonicalFilePath();
}

}  // namespace

class tst_launcher : public QObject {
    Q_OBJECT

    QTemporaryDir* m_dir = nullptr;

    QString path(const QString& relative) const { return m_dir->filePath(relative); }

    // Writes the settings of the user ("user") or of the computer ("system").
    void settings(const QString& scope, const QString& lines) {
        QVERIFY(QDir().mkpath(path(scope + u"/Marvesa"_s)));
        QFile f(path(scope + u"/Marvesa/Marvesa.ini"_s));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write((u"[General]\n"_s + lines + u"\n"_s).toUtf8());
    }

private slots:
    void init() {
        m_dir = new QTemporaryDir;
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, path(u"user"_s));
        QSettings::setPath(QSettings::IniFormat, QSettings::SystemScope, path(u"system"_s));
        qputenv("XDG_DATA_HOME", QFile::encodeName(path(u"home/.local/share"_s)));
    }

    void cleanup() {
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString());
        QSettings::setPath(QSettings::IniFormat, QSettings::SystemScope, QString());
        qunsetenv("XDG_DATA_HOME");
        delete m_dir;
    }

    // Without settings: the clerk is asked, in Italian, before the user's own
    // registry is made. No makes nothing and starts nothing; Yes makes it,
    // with the reference lists, every new folder and the file the user's
    // alone, and the program runs in its folder. The next start asks
    // nothing and opens the same file.
    void userRegistryOnFirstStart() {
        const QString registry = path(u"home/.local/share/Marvesa/dB/dbQuaz.mdb"_s);
        QCOMPARE(userRegistryPath(), registry);
        ScriptedDialogs dialogs;
        dialogs.answerNext(DialogButton::No);
        LaunchPlan plan = planLaunch();
        QVERIFY(!plan.start);
        QCOMPARE(dialogs.shown.size(), 1);
        const DialogRequest& question = dialogs.shown.first();
        QCOMPARE(question.title, kWindowTitle);
        QCOMPARE(question.icon, DialogIcon::Question);
        QVERIFY(question.buttons == (QList<DialogButton>{DialogButton::Yes, DialogButton::No}));
        QCOMPARE(question.text,
                 u"Non c'è ancora un registro di Marvesa per questo utente.\n\n"
                 "Crearne uno nuovo, vuoto, nella cartella \"%1\"?\n\n"
                 "Se l'ufficio ha già un registro, rispondere No e chiedere al responsabile "
                 "informatico di indicarlo nelle impostazioni."_s.arg(
                     QDir::toNativeSeparators(QFileInfo(registry).absolutePath())));
        QVERIFY(!QFileInfo::exists(path(u"home"_s)));

        dialogs.clear();
        dialogs.answerNext(DialogButton::Yes);
        plan = planLaunch();
        QVERIFY(plan.start);
        QCOMPARE(dialogs.shown.size(), 1);
        QCOMPARE(plan.database, registry);
        QCOMPARE(openedFrom(plan.workingFolder), canonical(registry));
        for (const char* folder : {"home/.local", "home/.local/share", "home/.local/share/Marvesa",
                                   "home/.local/share/Marvesa/dB"})
            QCOMPARE(modeOf(path(QLatin1String(folder))), u"700"_s);
        QCOMPARE(modeOf(registry), u"600"_s);
        QVERIFY(Sql(registry).count(u"TBL_SYS_COMUNI"_s) > 7000);

        dialogs.clear();
        const QDateTime made = QFileInfo(registry).lastModified();
        plan = planLaunch();
        QVERIFY(plan.start);
        QVERIFY(dialogs.shown.isEmpty());
        QCOMPARE(openedFrom(plan.workingFolder), canonical(registry));
        QCOMPARE(QFileInfo(registry).lastModified(), made);
    }

    // "database=" names a file: no question; the program runs in its folder
    // when it is a "dB/dbQuaz.mdb", else beside a link to it made in the
    // user's data folder (and made again when the setting changes). A file
    // that is not there, or a path that is not whole, is refused with a
    // message that names it and the settings.
    void fileNamedInSettings() {
        ScriptedDialogs dialogs;
        const QString office = path(u"ufficio/dB/dbQuaz.mdb"_s);
        schema::createDatabaseAndFolder(office);
        settings(u"system"_s, u"database="_s + office);
        LaunchPlan plan = planLaunch();
        QCOMPARE(plan.workingFolder, path(u"ufficio/dB"_s));
        QCOMPARE(openedFrom(plan.workingFolder), canonical(office));

        const QString other = path(u"archivio/anagrafe.sqlite"_s);
        schema::createDatabaseAndFolder(other);
        settings(u"user"_s, u"database="_s + other);
        plan = planLaunch();
        QCOMPARE(plan.workingFolder, path(u"home/.local/share/Marvesa/collegamento/dB"_s));
        QCOMPARE(openedFrom(plan.workingFolder), canonical(other));
        // The program's own path, from that working folder.
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(plan.workingFolder));
        QCOMPARE(QFileInfo(TdmMarvesa::databasePath()).canonicalFilePath(), canonical(other));
        QVERIFY(QDir::setCurrent(before));

        const QString third = path(u"archivio/altro.mdb"_s);
        schema::createDatabase(third);
        settings(u"user"_s, u"database="_s + third);
        QCOMPARE(openedFrom(planLaunch().workingFolder), canonical(third));
        QVERIFY(dialogs.shown.isEmpty());
        QVERIFY(!QFileInfo::exists(userRegistryPath()));

        settings(u"user"_s, u"database="_s + path(u"manca/dbQuaz.mdb"_s));
        QCOMPARE(errorOf([] { planLaunch(); }),
                 u"Il database \"%1\" indicato nelle impostazioni \"%2\" non esiste o non è "
                 "raggiungibile: avvisare il responsabile informatico dell'ufficio"_s.arg(
                     QDir::toNativeSeparators(path(u"manca/dbQuaz.mdb"_s)),
                     QDir::toNativeSeparators(path(u"user/Marvesa/Marvesa.ini"_s))));
        settings(u"user"_s, u"database=dB/dbQuaz.mdb"_s);
        QCOMPARE(errorOf([] { planLaunch(); }),
                 u"Nelle impostazioni \"%1\" il database deve essere indicato con il percorso "
                 "completo, non come \"dB/dbQuaz.mdb\""_s.arg(
                     QDir::toNativeSeparators(path(u"user/Marvesa/Marvesa.ini"_s))));
    }

    // The user's settings count over the computer's, whichever of the two
    // lines each has; within one file "connection" comes first. A server
    // needs no file and no question; the program reads the connection
    // itself, unless the user's own file named a database file.
    void settingsInTheirOrder() {
        ScriptedDialogs dialogs;
        const QString office = path(u"ufficio/dB/dbQuaz.mdb"_s);
        schema::createDatabaseAndFolder(office);
        const QString server = u"host=registry.example dbname=marvesa"_s;

        settings(u"system"_s, u"connection="_s + server);
        LaunchPlan plan = planLaunch();
        QVERIFY(plan.start);
        QCOMPARE(plan.workingFolder, QString());
        QCOMPARE(plan.database, QString());
        QCOMPARE(TdmMarvesa::databaseLocation(), server);

        settings(u"user"_s, u"database="_s + office);
        plan = planLaunch();
        QCOMPARE(openedFrom(plan.workingFolder), canonical(office));
        QCOMPARE(TdmMarvesa::databaseLocation(), TdmMarvesa::databasePath());

        settings(u"system"_s, u"database="_s + office);
        settings(u"user"_s, u"connection="_s + server + u"\ndatabase="_s + office);
        QCOMPARE(planLaunch().workingFolder, QString());
        QCOMPARE(TdmMarvesa::databaseLocation(), server);
        QVERIFY(dialogs.shown.isEmpty());
        QVERIFY(!QFileInfo::exists(path(u"home"_s)));
    }
};

MARVESA_TEST_MAIN(tst_launcher)
#include "tst_launcher.moc"
