// marvesa-screenshot: starts the real program on a small sample database
// and saves a picture of its window, or of one of its dialogs.
//
//   xvfb-run -s "-screen 0 1280x900x24" marvesa-screenshot OUT.png [cerca|riepilogo]
//
// "cerca" opens "Cerca" and types a search; "riepilogo" opens "Riepilogo".
//
// The sample database and the working directory live in a temporary folder
// that is removed afterwards.

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QScreen>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <QtTest/QTest>

#include "app/Application.h"
#include "app/Program.h"
#include "data/registry/DataModule.h"
#include "data/schema/FileDatabase.h"
#include "ui/window/MainWindow.h"
#include "ui/window/OfficeCommands.h"

namespace {

using marvesa::Value;

void addFamily(marvesa::TdmMarvesa& dm, const QString& code, const QString& description,
               const QString& host, const QString& comune, const QString& address,
               const QString& phone, const QDate& end, const QList<QStringList>& members) {
    auto& n = dm.TBL_NUCLEO;
    n.insert();
    n.setFieldValue(QStringLiteral("CODICE_NUCLEO"), Value::text(code));
    n.setFieldValue(QStringLiteral("DENOMINAZIONE"), Value::text(description));
    n.setFieldValue(QStringLiteral("NOME_OSPITANTE"), Value::text(host));
    n.setFieldValue(QStringLiteral("COMUNE"), Value::text(comune));
    n.setFieldValue(QStringLiteral("INDIRIZZO"), Value::text(address));
    n.setFieldValue(QStringLiteral("TELEFONO"), Value::text(phone));
    if (end.isValid())
        n.setFieldValue(QStringLiteral("TERMINE_ALLOGGIO"), Value::date(end));
    n.post();
    auto& a = dm.TBL_ANAGRAFICA;
    for (const QStringList& m : members) {
        a.insert();
        a.setFieldValue(QStringLiteral("COGNOME"), Value::text(m.at(0)));
        a.setFieldValue(QStringLiteral("NOME"), Value::text(m.at(1)));
        a.setFieldValue(QStringLiteral("SESSO"), Value::text(m.at(2)));
        a.setFieldValue(QStringLiteral("DATA_NASCITA"), Value::text(m.at(3)));
        a.setFieldValue(QStringLiteral("NAZIONE_NASCITA"), Value::text(QStringLiteral("Ucraina")));
        a.setFieldValue(QStringLiteral("CITTADINANZA"), Value::text(QStringLiteral("Ucraina")));
        a.setFieldValue(QStringLiteral("GRADO_PARENTELA"), Value::text(m.at(4)));
        a.setFieldValue(QStringLiteral("DATA_INGRESSO"), Value::text(QStringLiteral("04/03/2022")));
        a.setFieldValue(QStringLiteral("FRONTIERA"), Value::text(QStringLiteral("POLONIA")));
        a.setFieldValue(QStringLiteral("NOTE"), Value::text(m.value(5)));
        for (const char* c :
             {"NOME_OSPITANTE", "COMUNE", "INDIRIZZO", "TELEFONO", "TERMINE_ALLOGGIO"}) {
            a.setFieldValue(QString::fromLatin1(c), n.fieldValue(QString::fromLatin1(c)));
        }
        a.post();
    }
}

void makeSampleDatabase(const QString& path) {
    marvesa::schema::createDatabase(path);
    marvesa::TdmMarvesa dm;
    dm.DataModuleCreate(path);
    addFamily(dm, QStringLiteral("QX1048213"), QStringLiteral("FAMIGLIA KOVALENKO"),
              QStringLiteral("ROSSI MARIO"), QStringLiteral("Udine"), QStringLiteral("VIA ROMA 12"),
              QStringLiteral("0432 123456 333 1234567"), QDate::currentDate().addDays(5),
              {{QStringLiteral("KOVALENKO"), QStringLiteral("OLENA"), QStringLiteral("F"),
                QStringLiteral("12/05/1984"), QStringLiteral("Capo Nucleo")},
               {QStringLiteral("KOVALENKO"), QStringLiteral("ANDRIY"), QStringLiteral("M"),
                QStringLiteral("03/11/2010"), QStringLiteral("Figlio/Figlia"),
                QStringLiteral("Allergia alla penicillina")},
               {QStringLiteral("KOVALENKO"), QStringLiteral("IRYNA"), QStringLiteral("F"),
                QStringLiteral("21/07/2015"), QStringLiteral("Figlio/Figlia")}});
    addFamily(dm, QStringLiteral("QX77312"), QStringLiteral("FAMIGLIA SHEVCHUK"),
              QStringLiteral("BIANCHI LUCIA"), QStringLiteral("Tarvisio"),
              QStringLiteral("VIA DANTE 3"), QStringLiteral("0428 654321"),
              QDate::currentDate().addDays(20),
              {{QStringLiteral("SHEVCHUK"), QStringLiteral("MYKOLA"), QStringLiteral("M"),
                QStringLiteral("30/01/1950"), QStringLiteral("Capo Nucleo")}});
    addFamily(dm, QStringLiteral("QX5529904"), QStringLiteral("FAMIGLIA BONDARENKO"),
              QStringLiteral("VERDI GIORGIO"), QStringLiteral("Pordenone"),
              QStringLiteral("PIAZZA XX SETTEMBRE 7"), QStringLiteral("0434 987654"), QDate(),
              {{QStringLiteral("BONDARENKO"), QStringLiteral("NATALIIA"), QStringLiteral("F"),
                QStringLiteral("02/02/1978"), QStringLiteral("Capo Nucleo")},
               {QStringLiteral("D'ANGELO"), QStringLiteral("NICOLÒ"), QStringLiteral("M"),
                QStringLiteral("14/09/1975"), QStringLiteral("Coniuge")}});
    addFamily(dm, QStringLiteral("QX230"), QStringLiteral("FAMIGLIA MELNYK"),
              QStringLiteral("NERI ANNA"), QStringLiteral("Udine"),
              QStringLiteral("VIA GORIZIA 40"), QStringLiteral("0432 555111"),
              QDate::currentDate().addDays(-10),
              {{QStringLiteral("MELNYK"), QStringLiteral("TARAS"), QStringLiteral("M"),
                QStringLiteral("09/03/1958"), QStringLiteral("Capo Nucleo")}});
    dm.TBL_NUCLEO.first();
}

}  // namespace

int main(int argc, char* argv[]) {
    marvesa::Application app(argc, argv);
    QTextStream err(stderr);
    const QString dialog = app.arguments().value(2);
    if (app.arguments().size() < 2 || app.arguments().size() > 3 ||
        !(dialog.isEmpty() || dialog == QLatin1String("cerca") ||
          dialog == QLatin1String("riepilogo"))) {
        err << "Uso: marvesa-screenshot FILE.png [cerca|riepilogo]\n";
        return 2;
    }
    const QString out = QFileInfo(app.arguments().at(1)).absoluteFilePath();
    QTemporaryDir dir;
    QDir(dir.path()).mkpath(QStringLiteral("work"));
    QDir(dir.path()).mkpath(QStringLiteral("dB"));
    makeSampleDatabase(dir.filePath(QStringLiteral("dB/dbQuaz.mdb")));
    QDir::setCurrent(dir.filePath(QStringLiteral("work")));

    marvesa::Program program;
    program.start(marvesa::TdmMarvesa::databasePath());
    int status = 1;
    marvesa::OfficeCommands* office = marvesa::officeCommands(*program.window());
    if (dialog == QLatin1String("cerca")) {
        QTimer::singleShot(500, [&] {
            office->openSearch();
            QTest::keyClicks(office->searchDialog()->field(), QStringLiteral("ko"));
        });
    } else if (dialog == QLatin1String("riepilogo")) {
        QTimer::singleShot(500, [&] { office->openSummary(); });
    }
    QTimer::singleShot(1500, [&] {
        QWidget* w = program.window()->window();
        if (dialog == QLatin1String("cerca"))
            w = office->searchDialog();
        if (dialog == QLatin1String("riepilogo"))
            w = office->summaryDialog();
        const QRect frame = w->frameGeometry();
        QPixmap shot =
            w->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
        if (shot.save(out)) {
            status = 0;
            QTextStream(stdout) << "Salvato " << out << " (" << shot.width() << "x" << shot.height()
                                << ")\n";
        } else {
            err << "Impossibile salvare " << out << "\n";
        }
        QApplication::exit(0);
    });
    QApplication::exec();
    return status;
}
