#include "support/OperatorInput.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QTableView>
#include <QtTest>

namespace marvesa::test {

void paste(QWidget* w, const QString& text) {
    QGuiApplication::clipboard()->setText(text);
    QTest::keyClick(w, Qt::Key_V, Qt::ControlModifier);
}

void typeText(QWidget* w, const QString& text) {
    for (QChar c : text) {
        QTest::sendKeyEvent(QTest::Press, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
        QTest::sendKeyEvent(QTest::Release, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

void tab(QWidget* from) {
    QTest::keyClick(from, Qt::Key_Tab);
}

QWidget* focused() {
    return QApplication::focusWidget();
}

void chooseFromList(QComboBox* combo, int index) {
    combo->showPopup();
    QAbstractItemView* list = combo->view();
    QVERIFY(list->isVisible());
    list->setCurrentIndex(list->model()->index(index, 0));
    QTest::keyClick(list, Qt::Key_Return);
    QVERIFY(!list->isVisible());
}

void clickGridRow(QTableView* grid, int row, int column) {
    const QRect cell = grid->visualRect(grid->model()->index(row, column));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
}

}  // namespace marvesa::test
