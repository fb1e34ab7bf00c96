// marvesa-screenshot: starts the real program on a small sample database
// and saves a picture of its window.
//
//   xvfb-run -s "-screen 0 1280x900x24" marvesa-screenshot OUT.png
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

#include "app/Application.h"
#include "app/Program.h"
#include "data/DataModule.h"
#include "data/Schema.h"
#include "ui/MainWindow.h"

namespace {

using marvesa::Value;

void addFamily(marvesa::TdmMarvesa& dm, const QString& code, const QString& description,
               const QString& host, const QString& comune, const QString& address,
               const QString& phone, const QList<QStringList>& members) {
    auto& n = dm.TBL_NUCLEO;
    n.insert();
    n.setFieldValue(QStringLiteral("CODICE_NUCLEO"), Value::text(code));
    n.setFieldValue(QStringLiteral("DENOMINAZIONE"), Value::text(description));
    n.setFieldValue(QStringLiteral("NOME_OSPITANTE"), Value::text(host));
    n.setFieldValue(QStringLiteral("COMUNE"), Value::text(comune));
    n.setFieldValue(QStringLiteral("INDIRIZZO"), Value::text(address));
    n.setFieldValue(QStringLiteral("TELEFONO"), Value::text(phone));
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
        for (const char* c : {"NOME_OSPITANTE", "COMUNE", "INDIRIZZO", "TELEFONO"}) {
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
              QStringLiteral("ROSSI MARIO"), QStringLiteral("Udine"),
              QStringLiteral("VIA ROMA 12"), QStringLiteral("0432 123456 333 1234567"),
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
              {{QStringLiteral("SHEVCHUK"), QStringLiteral("MYKOLA"), QStringLiteral("M"),
                QStringLiteral("30/01/1950"), QStringLiteral("Capo Nucleo")}});
    addFamily(dm, QStringLiteral("QX5529904"), QStringLiteral("FAMIGLIA BONDARENKO"),
              QStringLiteral("VERDI GIORGIO"), QStringLiteral("Pordenone"),
              QStringLiteral("PIAZZA XX SETTEMBRE 7"), QStringLiteral("0434 987654"), {});
    dm.TBL_NUCLEO.first();
}

}  // namespace

int main(int argc, char* argv[]) {
    marvesa::Application app(argc, argv);
    QTextStream err(stderr);
    if (app.arguments().size() != 2) {
        err << "Uso: marvesa-screenshot FILE.png\n";
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
    QTimer::singleShot(1500, [&] {
        QWidget* w = program.window();
        const QRect frame = w->frameGeometry();
        QPixmap shot = w->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(),
                                               frame.height());
        if (shot.save(out)) {
            status = 0;
            QTextStream(stdout) << "Salvato " << out << " (" << shot.width() << "x"
                                << shot.height() << ")\n";
        } else {
            err << "Impossibile salvare " << out << "\n";
        }
        QApplication::exit(0);
    });
    QApplication::exec();
    return status;
}
