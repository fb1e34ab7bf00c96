// The input mask of the date edits as a model of keystrokes: what is read,
// what is shown, how the cursor moves, the required-year check; and a seeded
// random walk over keystrokes that must never break the text's shape.

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QtTest>

#include "data/Error.h"
#include "data/MaskModel.h"

using namespace marvesa;
using namespace Qt::StringLiterals;

namespace {

// The date of birth and entry date require the year; the end of hosting
// requires nothing.
const QString Req = u"!99/99/0000;1;_"_s;
const QString Opt = u"!99/99/9999;1;_"_s;
const QString Empty = u"  /  /    "_s;

// Plays keystrokes on `m`: "<" is Backspace, ">" is Delete, "[n]" puts the
// cursor on position n, any other character is typed. Returns how many typed
// characters the edit refused.
int play(MaskedText& m, const QString& keys) {
    int refused = 0;
    for (int i = 0; i < keys.size(); ++i) {
        const QChar c = keys.at(i);
        if (c == u'<') {
            m.backspace();
        } else if (c == u'>') {
            m.del();
        } else if (c == u'[') {
            const int end = keys.indexOf(u']', i);
            m.setCursor(keys.mid(i + 1, end - i - 1).toInt());
            i = end;
        } else if (!m.type(c)) {
            ++refused;
        }
    }
    return refused;
}

QString errorOf(MaskedText& m) {
    try {
        m.validate();
    } catch (const Error& e) {
        return e.message();
    }
    return u"<no error>"_s;
}

}  // namespace

class TestMask : public QObject {
    Q_OBJECT

private slots:
    void keystrokes_data();
    void keystrokes();
    void setTextClearAndSelection();
    void randomKeystrokesKeepTheShape();
};

void TestMask::keystrokes_data() {
    QTest::addColumn<QString>("mask");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("cursor");
    QTest::addColumn<int>("refused");
    QTest::addColumn<int>("missing");  // first empty required position, -1 for none

    QTest::newRow("empty, year required") << Req << QString() << Empty << 0 << 0 << 6;
    QTest::newRow("empty, nothing required") << Opt << QString() << Empty << 0 << 0 << -1;
    // Digits step over the separators.
    QTest::newRow("1") << Opt << u"1"_s << u"1 /  /    "_s << 1 << 0 << -1;
    QTest::newRow("12") << Opt << u"12"_s << u"12/  /    "_s << 3 << 0 << -1;
    QTest::newRow("1205") << Opt << u"1205"_s << u"12/05/    "_s << 6 << 0 << -1;
    QTest::newRow("12052022") << Opt << u"12052022"_s << u"12/05/2022"_s << 10 << 0 << -1;
    QTest::newRow("typing over") << Opt << u"12052022[3]11"_s << u"12/11/2022"_s << 6 << 0 << -1;
    QTest::newRow("digit on /") << Opt << u"12052022[2]9"_s << u"12/95/2022"_s << 4 << 0 << -1;
    // The separator jumps past the next separator: one-digit day and month.
    QTest::newRow("1/") << Opt << u"1/"_s << u"1 /  /    "_s << 3 << 0 << -1;
    QTest::newRow("1/2/") << Opt << u"1/2/"_s << u"1 /2 /    "_s << 6 << 0 << -1;
    QTest::newRow("1/2/2022") << Opt << u"1/2/2022"_s << u"1 /2 /2022"_s << 10 << 0 << -1;
    QTest::newRow("/ on day") << Opt << u"/"_s << Empty << 3 << 0 << -1;
    QTest::newRow("/ on month") << Opt << u"//"_s << Empty << 6 << 0 << -1;
    QTest::newRow("/ in the year") << Opt << u"///"_s << Empty << 6 << 1 << -1;
    // A date typed in full, separators included: each "/" typed right after a
    // complete day or month is the separator the edit already stepped over.
    QTest::newRow("12/05/2022") << Req << u"12/05/2022"_s << u"12/05/2022"_s << 10 << 0 << -1;
    QTest::newRow("12/05/2022/") << Req << u"12/05/2022/"_s << u"12/05/2022"_s << 10 << 1 << -1;
    // Only digits go in, and nothing past the end.
    QTest::newRow("not digits") << Req << u"aZ -.:,+\t\u0661\u00B2"_s << Empty << 0 << 11 << 6;
    QTest::newRow("past the end") << Req << u"120520227/"_s << u"12/05/2022"_s << 10 << 2 << -1;
    // Backspace steps back over a separator, Delete forward; nothing happens
    // before the first position or past the end.
    QTest::newRow("backspace") << Req << u"12052022<"_s << u"12/05/202 "_s << 9 << 0 << 9;
    QTest::newRow("backspace on /") << Req << u"12052022[6]<"_s << u"12/0 /2022"_s << 4 << 0 << -1;
    QTest::newRow("backspace at 0") << Req << u"12052022[0]<"_s << u"12/05/2022"_s << 0 << 0 << -1;
    QTest::newRow("delete") << Req << u"12052022[0]>"_s << u" 2/05/2022"_s << 0 << 0 << -1;
    QTest::newRow("delete on /") << Req << u"12052022[2]>"_s << u"12/ 5/2022"_s << 3 << 0 << -1;
    QTest::newRow("delete at end") << Req << u"12052022[10]>"_s << u"12/05/2022"_s << 10 << 0 << -1;
    // The required year: day and month may stay empty, the year may not, and
    // the check puts the cursor on the first empty year position.
    QTest::newRow("year missing") << Req << u"1205"_s << u"12/05/    "_s << 6 << 0 << 6;
    QTest::newRow("year partial") << Req << u"120520"_s << u"12/05/20  "_s << 8 << 0 << 8;
    QTest::newRow("hole in the year") << Req << u"12052022[7]>"_s << u"12/05/2 22"_s << 7 << 0 << 7;
    QTest::newRow("year alone") << Req << u"[6]2022"_s << u"  /  /2022"_s << 10 << 0 << -1;
    QTest::newRow("year optional") << Opt << u"1205"_s << u"12/05/    "_s << 6 << 0 << -1;
}

void TestMask::keystrokes() {
    QFETCH(QString, mask);
    QFETCH(QString, keys);
    QFETCH(QString, text);
    QFETCH(int, cursor);
    QFETCH(int, refused);
    QFETCH(int, missing);
    MaskedText m{EditMask(mask)};
    QCOMPARE(play(m, keys), refused);
    QCOMPARE(m.text(), text);
    QCOMPARE(m.editText(), QString(text).replace(u' ', u'_'));
    QCOMPARE(m.isEmpty(), text == Empty);
    QCOMPARE(m.cursor(), cursor);
    QCOMPARE(m.firstMissingRequired(), missing);
    if (missing < 0) {
        QCOMPARE(errorOf(m), u"<no error>"_s);
    } else {
        QCOMPARE(errorOf(m), u"Invalid input value.  Use escape key to abandon changes"_s);
        QCOMPARE(m.cursor(), missing);
    }
}

void TestMask::setTextClearAndSelection() {
    MaskedText m{EditMask(Req)};
    m.setText(u"12/05/2022 10:00:00"_s);  // the time does not fit
    QCOMPARE(m.text(), u"12/05/2022"_s);
    QCOMPARE(m.cursor(), 0);
    // NULL shows as the empty text.
    m.setText(QString());
    QCOMPARE(m.text(), Empty);
    // What is not a digit stays empty; the separators are the mask's.
    m.setText(u"1x-0y.2z2a"_s);
    QCOMPARE(m.text(), u"1 /0 /2 2 "_s);
    m.setText(u"12/05"_s);
    QCOMPARE(m.text(), u"12/05/    "_s);
    // A text that went in comes out the same.
    for (const QString& s : {u"01/01/0001"_s, u"31/12/9999"_s, u"1 /2 /2022"_s, u"  /  /2022"_s}) {
        m.setText(s);
        QCOMPARE(m.text(), s);
    }
    // A selection empties its digit positions, the separators stay.
    m.setText(u"12/05/2022"_s);
    m.clearRange(1, 9);
    QCOMPARE(m.text(), u"1 /  /   2"_s);
    QCOMPARE(m.cursor(), 1);
    m.clear();
    QCOMPARE(m.text(), Empty);
    QCOMPARE(m.cursor(), 0);
}

void TestMask::randomKeystrokesKeepTheShape() {
    const QString keys = u"0123456789/ a_-\b\x7f"_s;
    const QRegularExpression shape(u"^[ 0-9]{2}/[ 0-9]{2}/[ 0-9]{4}$"_s);
    for (const QString& source : {Req, Opt}) {
        QRandomGenerator rng(20250512);
        MaskedText m{EditMask(source)};
        for (int step = 0; step < 20000; ++step) {
            const int action = int(rng.bounded(20));
            if (action == 0) {
                m.setCursor(int(rng.bounded(-2, 13)));
            } else if (action == 1) {
                const int from = int(rng.bounded(-1, 11));
                m.clearRange(from, from + int(rng.bounded(0, 11)));
            } else if (action == 2) {
                m.setText(u"12/05/2022 10:00:00"_s.left(int(rng.bounded(0, 20))));
            } else {
                const QChar c = keys.at(int(rng.bounded(keys.size())));
                const int before = m.cursor();
                const QString textBefore = m.text();
                if (c == u'\b') {
                    m.backspace();
                } else if (c == u'\x7f') {
                    m.del();
                } else {
                    const bool accepted = m.type(c);
                    const bool digit = c >= u'0' && c <= u'9';
                    if (!digit && c != u'/')
                        QVERIFY(!accepted);
                    if (!accepted) {
                        QCOMPARE(m.text(), textBefore);
                        QCOMPARE(m.cursor(), before);
                    }
                    if (accepted && digit)
                        QVERIFY(m.cursor() > before);
                }
            }
            const QString t = m.text();
            QVERIFY2(shape.match(t).hasMatch(), qPrintable(t));
            QCOMPARE(m.editText(), QString(t).replace(u' ', u'_'));
            QVERIFY(m.cursor() >= 0 && m.cursor() <= 10);
            QCOMPARE(m.isEmpty(), t == Empty);
            const int blankInYear = t.indexOf(u' ', 6);
            QCOMPARE(m.firstMissingRequired(), source == Opt ? -1 : blankInYear);
        }
    }
}

QTEST_GUILESS_MAIN(TestMask)
#include "tst_mask.moc"
