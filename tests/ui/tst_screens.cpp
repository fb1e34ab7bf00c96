// The window on screens of two sizes: on 1280 × 720 (a laptop, or a large
// screen at 150 %) the layout sits inside a scroll area and every button can
// be scrolled to and clicked; on 1280 × 1024 the window is exactly as it
// always was. CTest runs this program once per screen, on the offscreen
// platform configured with that screen (MARVESA_TEST_SCREEN names it).

#include <QLabel>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QtTest>

#include "export/FileOpener.h"
#include "support/TestApplication.h"
#include "support/WindowFixture.h"
#include "ui/window/Commands.h"
#include "ui/window/OfficeCommands.h"
#include "ui/window/ScreenFit.h"
#include "ui/window/WindowLayout.h"

using namespace marvesa;
using namespace marvesa::test;

namespace {

class RecordingOpener : public FileOpener {
public:
    QStringList opened;
    void open(const QString& path) override { opened << path; }
};

QSize screenUnderTest() {
    const QStringList parts = qEnvironmentVariable("MARVESA_TEST_SCREEN").split(QLatin1Char('x'));
    return parts.size() == 2 ? QSize(parts[0].toInt(), parts[1].toInt()) : QSize();
}

// The window and its data module in the program's order, shown as the
// program shows it.
struct ShownWindow {
    QTemporaryDir dir;
    ScriptedDialogs dialogs;
    std::unique_ptr<TfrmMain> window;
    std::unique_ptr<TdmMarvesa> dm;
    std::unique_ptr<QWidget> frame;

    ShownWindow() {
        const QString path = dir.filePath(QStringLiteral("dbQuaz.mdb"));
        QFile::copy(TemplateDatabase::path(), path);
        window = std::make_unique<TfrmMain>();
        dm = std::make_unique<TdmMarvesa>();
        window->bindTo(*dm);
        dm->DataModuleCreate(path);
        frame = showMainWindow(*window);
        QWidget* top = window->window();
        QApplication::setActiveWindow(top);
        if (!QTest::qWaitForWindowActive(top))
            qWarning("the window did not become active");
    }
    ~ShownWindow() {
        dm.reset();
        window.reset();
        frame.reset();
    }
};

void layoutIsUnchanged(const TfrmMain& w) {
    QCOMPARE(w.size(), QSize(951, 737));
    for (const layout::ControlEntry& c : layout::controls()) {
        const QWidget* control = w.findChild<QWidget*>(QString::fromLatin1(c.name));
        QVERIFY2(control, c.name);
        QCOMPARE(control->geometry(), c.rect);
    }
    for (const layout::ShapeEntry& s : layout::shapes()) {
        QCOMPARE(w.findChild<QWidget*>(QString::fromLatin1(s.name))->geometry(), s.rect);
    }
}

}  // namespace

class TstScreens : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        const QSize expected = screenUnderTest();
        if (!expected.isValid())
            QSKIP("MARVESA_TEST_SCREEN names no screen (run through CTest)");
        QCOMPARE(QGuiApplication::primaryScreen()->availableGeometry().size(), expected);
    }

    void smallScreenScrollsToEveryButton() {
        if (screenUnderTest().height() >= 737 + kFrameAllowance.height())
            QSKIP("a large screen");
        ShownWindow s;
        TfrmMain& w = *s.window;
        auto* scroller = qobject_cast<WindowScroller*>(s.frame.get());
        QVERIFY(scroller);
        QVERIFY(scroller->isWindow() && scroller->isVisible());
        QVERIFY(!w.isWindow());
        QCOMPARE(scroller->windowTitle(), QStringLiteral("Gestione Emergenza Marvesa"));
        const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY(scroller->frameGeometry().height() + kFrameAllowance.height() <=
                available.height() + 1);
        QVERIFY(available.contains(scroller->geometry()));
        layoutIsUnchanged(w);

        // A focus move scrolls the focused control into view.
        QCOMPARE(scroller->verticalScrollBar()->value(), 0);
        QVERIFY(scroller->verticalScrollBar()->maximum() > 0);
        const auto inView = [scroller](QWidget* control) {
            const QRect r(control->mapTo(scroller->viewport(), QPoint(0, 0)), control->size());
            return scroller->viewport()->rect().contains(r);
        };
        WindowFixture::focus(w.DBMemo2);
        scroller->verticalScrollBar()->setValue(scroller->verticalScrollBar()->maximum());
        QVERIFY(!inView(w.btnNewNucleo));
        QTest::keyClick(w.DBMemo2, Qt::Key_Tab);  // to the first enabled button, "Crea Nucleo"
        QCOMPARE(focused(), static_cast<QWidget*>(w.btnNewNucleo));
        QTRY_VERIFY(inView(w.btnNewNucleo));

        // Every button: scrolled to, found under the pointer, clicked.
        QTemporaryDir exports;
        RecordingOpener opener;
        setExportServices({exports.path(), &opener});
        OfficeCommands* office = officeCommands(w);
        const auto click = [&](QAbstractButton* button) {
            scroller->ensureWidgetVisible(button, 0, 0);
            QVERIFY2(inView(button), qPrintable(button->objectName()));
            const QPoint center = button->mapTo(scroller, button->rect().center());
            QCOMPARE(scroller->childAt(center), static_cast<QWidget*>(button));
            QVERIFY2(button->isEnabled(), qPrintable(button->objectName()));
            QTest::mouseClick(button, Qt::LeftButton);
        };
        click(w.btnNewNucleo);
        QCOMPARE(s.dm->TBL_NUCLEO.state(), dsInsert);
        click(w.btnAnnNucleo);
        QCOMPARE(s.dm->TBL_NUCLEO.state(), dsBrowse);
        click(w.btnEditNucleo);
        QCOMPARE(s.dm->TBL_NUCLEO.state(), dsEdit);
        click(w.btnSaveNucleo);
        QCOMPARE(s.dm->TBL_NUCLEO.state(), dsBrowse);
        s.dialogs.answerNext(DialogButton::No);
        click(w.btnEliminaNucleo);
        QCOMPARE(s.dialogs.shown.size(), 1);
        click(w.btnNewAnag);
        QCOMPARE(s.dm->TBL_ANAGRAFICA.state(), dsInsert);
        click(w.btnAnagAnnulla);
        QCOMPARE(s.dm->TBL_ANAGRAFICA.state(), dsBrowse);
        click(w.btnEditAnag);
        QCOMPARE(s.dm->TBL_ANAGRAFICA.state(), dsEdit);
        click(w.btnSaveAnag);
        QCOMPARE(s.dm->TBL_ANAGRAFICA.state(), dsBrowse);
        s.dialogs.answerNext(DialogButton::No);
        click(w.btnDelAnag);
        QCOMPARE(s.dialogs.shown.size(), 2);
        click(w.btnExport);
        QCOMPARE(opener.opened.size(), 1);
        setExportServices({});
        click(office->searchButton());
        QVERIFY(office->searchDialog() && office->searchDialog()->isVisible());
        office->searchDialog()->reject();
        click(office->summaryButton());
        QVERIFY(office->summaryDialog() && office->summaryDialog()->isVisible());
        office->summaryDialog()->reject();
        QSignalSpy quit(&w, &TfrmMain::quitRequested);
        click(w.btnExit);
        QCOMPARE(quit.size(), 1);
        QCOMPARE(s.dialogs.shown.size(), 2);

        // Closing the scroll area is the window's close request: refused
        // while a row is being edited.
        s.dm->DataModuleCreate(s.dir.filePath(QStringLiteral("dbQuaz.mdb")));
        w.btnNewNucleo->click();
        scroller->close();
        QCOMPARE(quit.size(), 1);
        QVERIFY(scroller->isVisible());
        w.btnAnnNucleo->click();
        scroller->close();
        QCOMPARE(quit.size(), 2);
    }

    void largeScreenShowsTheWindowAsAlways() {
        if (screenUnderTest().height() < 737 + kFrameAllowance.height())
            QSKIP("a small screen");
        ShownWindow s;
        TfrmMain& w = *s.window;
        QVERIFY(!s.frame);
        QVERIFY(w.isWindow());
        QCOMPARE(w.window(), static_cast<QWidget*>(&w));
        QCOMPARE(w.metaObject()->className(), "marvesa::TfrmMain");
        QVERIFY(w.findChildren<QScrollArea*>().isEmpty());
        layoutIsUnchanged(w);
        QCOMPARE(w.minimumSize(), w.maximumSize());
    }

    void fitsOnlyWithTheFrame() {
        QVERIFY(fitsOnScreen(QSize(951, 737), QRect(0, 0, 1280, 1024)));
        QVERIFY(fitsOnScreen(QSize(951, 737), QRect(0, 0, 1920, 1040)));
        QVERIFY(!fitsOnScreen(QSize(951, 737), QRect(0, 0, 1280, 720)));
        QVERIFY(!fitsOnScreen(QSize(951, 737), QRect(0, 0, 1366, 728)));
        QVERIFY(!fitsOnScreen(QSize(951, 737), QRect(0, 0, 960, 1024)));
    }
};

MARVESA_TEST_MAIN(TstScreens)
#include "tst_screens.moc"
