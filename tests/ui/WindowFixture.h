#pragma once

// The main window on a real database: a template database with three family
// units and three members is made once per test program; every fixture
// works on its own copy, with the window created, bound and shown in the
// program's start-up order and made the active window.

#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "data/registry/DataModule.h"
#include "data/schema/FileDatabase.h"
#include "support/ScriptedDialogs.h"
#include "support/TestDatabases.h"
#include "ui/window/MainWindow.h"

namespace marvesa::test {

// Family units, in table order:
//   QX100 "ROSSI"   host "MARIO BIANCHI " (a trailing blank), "Abano Terme",
//                   no end of hosting; members ANNA (sex "f") and LUCA
//                   (relationship not in the list)
//   QX200 "VERDI"   municipality not in the list, end of hosting 30/06/2025;
//                   member PIA
//   QX300 "NERI"    no members
inline void seedDatabase(const QString& path) {
    TdmMarvesa dm;
    dm.DataModuleCreate(path);
    auto family = [&](const char* code, const char* name, const char* host, const char* town,
                      const QDate& end) {
        DataSet& t = dm.TBL_NUCLEO;
        t.insert();
        t.setFieldValue(QStringLiteral("CODICE_NUCLEO"), Value::text(QString::fromUtf8(code)));
        t.setFieldValue(QStringLiteral("DENOMINAZIONE"), Value::text(QString::fromUtf8(name)));
        t.setFieldValue(QStringLiteral("NOME_OSPITANTE"), Value::text(QString::fromUtf8(host)));
        t.setFieldValue(QStringLiteral("COMUNE"), Value::text(QString::fromUtf8(town)));
        t.setFieldValue(QStringLiteral("INDIRIZZO"), Value::text(QStringLiteral("VIA ROMA 1")));
        t.setFieldValue(QStringLiteral("TELEFONO"), Value::text(QStringLiteral("049 123456")));
        if (end.isValid()) t.setFieldValue(QStringLiteral("TERMINE_ALLOGGIO"), Value::date(end));
        t.post();
    };
    auto member = [&](const char* surname, const char* name, const char* sex, const QDate& born,
                      const char* relationship, const char* notes) {
        DataSet& t = dm.TBL_ANAGRAFICA;
        t.insert();
        t.setFieldValue(QStringLiteral("COGNOME"), Value::text(QString::fromUtf8(surname)));
        t.setFieldValue(QStringLiteral("NOME"), Value::text(QString::fromUtf8(name)));
        t.setFieldValue(QStringLiteral("SESSO"), Value::text(QString::fromUtf8(sex)));
        if (born.isValid()) t.setFieldValue(QStringLiteral("DATA_NASCITA"), Value::date(born));
        t.setFieldValue(QStringLiteral("NAZIONE_NASCITA"), Value::text(QStringLiteral("Albania")));
        t.setFieldValue(QStringLiteral("CITTADINANZA"), Value::text(QStringLiteral("Albania")));
        t.setFieldValue(QStringLiteral("GRADO_PARENTELA"), Value::text(QString::fromUtf8(relationship)));
        t.setFieldValue(QStringLiteral("DATA_INGRESSO"), Value::date(QDate(2022, 3, 1)));
        t.setFieldValue(QStringLiteral("FRONTIERA"), Value::text(QStringLiteral("POLONIA")));
        t.setFieldValue(QStringLiteral("NOTE"), Value::text(QString::fromUtf8(notes)));
        t.post();
    };
    family("QX100", "ROSSI", "MARIO BIANCHI ", "Abano Terme", QDate());
    member("ROSSI", "ANNA", "f", QDate(1980, 3, 4), "Capo Nucleo", "nessuna");
    member("ROSSI", "LUCA", "M", QDate(2010, 7, 8), "Fratellastro", "");
    family("QX200", "VERDI", "GINO", "Nessun Paese", QDate(2025, 6, 30));
    member("VERDI", "PIA", "F", QDate(1990, 1, 2), "Coniuge", "");
    family("QX300", "NERI", "LIA", "Abano Terme", QDate());
}

// The seeded database, made once per test program (on the server, a
// template database of its own).
class TemplateDatabase {
public:
    static const QString& path() {
        static TemplateDatabase db;
        return db.m_path;
    }
    // A copy of it: a file in `dir`, or a new database on the server.
    static QString copy(const QTemporaryDir& dir) {
        if (onServer()) return TestServer::instance().newDatabase(path());
        const QString copied = dir.filePath(QStringLiteral("dbQuaz.mdb"));
        QFile::copy(path(), copied);
        return copied;
    }

private:
    TemplateDatabase() {
        if (onServer()) {
            m_path = TestServer::instance().makeTemplate([](const QString& c) { seedDatabase(c); });
            return;
        }
        m_path = m_dir.filePath(QStringLiteral("template.mdb"));
        schema::createDatabase(m_path);
        seedDatabase(m_path);
    }
    QTemporaryDir m_dir;
    QString m_path;  // on the server: the template's name
};

struct WindowFixture {
    QTemporaryDir dir;
    QString path;
    ScriptedDialogs dialogs;
    std::unique_ptr<TfrmMain> window;
    std::unique_ptr<TdmMarvesa> dm;

    explicit WindowFixture(bool open = true) {
        path = TemplateDatabase::copy(dir);
        window = std::make_unique<TfrmMain>();
        dm = std::make_unique<TdmMarvesa>();
        window->bindTo(*dm);
        if (open) dm->DataModuleCreate(path);
        window->show();
        QApplication::setActiveWindow(window.get());
        if (!QTest::qWaitForWindowActive(window.get())) qWarning("the main window did not become active");
    }
    // The program's exit order: the data module before the window.
    ~WindowFixture() {
        dm.reset();
        window.reset();
    }

    TfrmMain& w() { return *window; }
    DataSet& nucleo() { return dm->TBL_NUCLEO; }
    DataSet& members() { return dm->TBL_ANAGRAFICA; }

    QString column(DataSet& t, const char* name) {
        const Value v = t.fieldValue(QString::fromLatin1(name));
        return v.isNull() ? QStringLiteral("<NULL>") : v.toText();
    }

    // Focus a control as the operator would, by clicking into it.
    static void focus(QWidget* w) {
        w->setFocus(Qt::MouseFocusReason);
        QCOMPARE(QApplication::focusWidget(), w);
    }
};

// Keyboard and list input as the operator gives it.
inline void paste(QWidget* w, const QString& text) {
    QGuiApplication::clipboard()->setText(text);
    QTest::keyClick(w, Qt::Key_V, Qt::ControlModifier);
}

// Types characters beyond ASCII, which QTest::keyClicks cannot.
inline void typeText(QWidget* w, const QString& text) {
    for (QChar c : text) {
        QTest::sendKeyEvent(QTest::Press, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
        QTest::sendKeyEvent(QTest::Release, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

inline void tab(QWidget* from) { QTest::keyClick(from, Qt::Key_Tab); }

inline QWidget* focused() { return QApplication::focusWidget(); }

// Chooses the item `index` in a drop-down's open list.
inline void chooseFromList(QComboBox* combo, int index) {
    combo->showPopup();
    QAbstractItemView* list = combo->view();
    QVERIFY(list->isVisible());
    list->setCurrentIndex(list->model()->index(index, 0));
    QTest::keyClick(list, Qt::Key_Return);
    QVERIFY(!list->isVisible());
}

// Clicks the visual row `row` of a grid.
inline void clickGridRow(QTableView* grid, int row, int column = 0) {
    const QRect cell = grid->visualRect(grid->model()->index(row, column));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
}

}  // namespace marvesa::test
