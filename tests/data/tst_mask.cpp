// The input mask of the date edits as a model of keystrokes: the text read
// and the required-year check.

#include <QtTest>

#include "data/base/Error.h"
#include "data/cursor/MaskModel.h"

using namespace marvesa;
using namespace Qt::StringLiterals;

class TestMask : public QObject {
    Q_OBJECT

private slots:
    void keystrokes_data();
    void keystrokes();
    void clearingBeyondTheEnd();
};

// A range cleared past the template's end leaves the cursor at its end:
// Backspace, Delete and typing then work on the last positions and never
// beyond them (they once read and wrote past the end).
void TestMask::clearingBeyondTheEnd() {
    MaskedText m{EditMask(u"!99/99/0000;1;_"_s)};
    m.setText(u"12/05/2022"_s);
    m.clearRange(12, 15);
    QCOMPARE(m.cursor(), 10);
    m.backspace();
    QCOMPARE(m.text(), u"12/05/202 "_s);
    QVERIFY(m.type(u'3'));
    QCOMPARE(m.text(), u"12/05/2023"_s);
    QVERIFY(!m.type(u'4'));
    m.clearRange(8, 40);
    QCOMPARE(m.text(), u"12/05/20  "_s);
    m.del();
    m.backspace();
    QCOMPARE(m.text(), u"12/05/2   "_s);
    m.clearRange(30, 40);
    m.del();
    QCOMPARE(m.text(), u"12/05/2   "_s);
    QVERIFY(!m.type(u'/'));
}

void TestMask::keystrokes_data() {
    QTest::addColumn<QString>("mask");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("complete");  // the required-year check passes
    // The date of birth and entry date require the year; the end of hosting
    // requires nothing.
    const QString required = u"!99/99/0000;1;_"_s;
    const QString optional = u"!99/99/9999;1;_"_s;
    // Digits step over the separators.
    QTest::newRow("12052022") << optional << u"12052022"_s << u"12/05/2022"_s << true;
    // A separator typed early jumps to the next field: one-digit day and month.
    QTest::newRow("1/2/2022") << optional << u"1/2/2022"_s << u"1 /2 /2022"_s << true;
    // A "/" typed right after a complete day or month is the separator the
    // edit already stepped over; it once jumped on to the year.
    QTest::newRow("12/05/2022") << required << u"12/05/2022"_s << u"12/05/2022"_s << true;
    QTest::newRow("year missing") << required << u"1205"_s << u"12/05/    "_s << false;
    QTest::newRow("year partial") << required << u"120520"_s << u"12/05/20  "_s << false;
    QTest::newRow("year optional") << optional << u"1205"_s << u"12/05/    "_s << true;
}

void TestMask::keystrokes() {
    QFETCH(QString, mask);
    QFETCH(QString, keys);
    QFETCH(QString, text);
    QFETCH(bool, complete);
    MaskedText m{EditMask(mask)};
    for (const QChar c : keys)
        m.type(c);
    QCOMPARE(m.text(), text);
    QString error;
    try {
        m.validate();
    } catch (const Error& e) {
        error = e.message();
    }
    QCOMPARE(error,
             complete ? QString() : u"Invalid input value.  Use escape key to abandon changes"_s);
}

QTEST_GUILESS_MAIN(TestMask)
#include "tst_mask.moc"
