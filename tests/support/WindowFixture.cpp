#include "support/WindowFixture.h"

namespace marvesa::test {

WindowFixture::WindowFixture(bool open) {
    path = TemplateDatabase::copy(dir);
    window = std::make_unique<TfrmMain>();
    dm = std::make_unique<TdmMarvesa>();
    window->bindTo(*dm);
    if (open)
        dm->DataModuleCreate(path);
    window->show();
    QApplication::setActiveWindow(window.get());
    if (!QTest::qWaitForWindowActive(window.get()))
        qWarning("the main window did not become active");
}

WindowFixture::~WindowFixture() {
    dm.reset();
    window.reset();
}

QString WindowFixture::column(DataSet& t, const char* name) {
    const Value v = t.fieldValue(QString::fromLatin1(name));
    return v.isNull() ? QStringLiteral("<NULL>") : v.toText();
}

void WindowFixture::focus(QWidget* w) {
    w->setFocus(Qt::MouseFocusReason);
    QCOMPARE(QApplication::focusWidget(), w);
}

}  // namespace marvesa::test
