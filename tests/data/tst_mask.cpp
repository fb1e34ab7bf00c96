// The input mask of the date edits as a model of keystrokes: what is read,
// what is shown, how the cursor moves, the required-year check; and a seeded
// random walk over keystrokes that must never break the text's shape.

#include <QRandomGenerator>
#include <QtTest>

#include "data/Error.h"
#include "data/MaskModel.h"

using namespace marvesa;
using namespace Qt::StringLiterals;

namespace {

const QString RequiredYear = u"!99/99/0000;1;_"_s;
const QString Optional = u"!99/99/9999;1;_"_s;

QString typed(MaskedText& m, const QString& keys) {
    for (QChar c : keys) m.type(c);
    return m.text();
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
    void templateOfBothMasks();
    void emptyEditReadsBlanksAndShowsPlaceholders();
    void typingDigitsStepsOverSeparators();
    void separatorJumpsPastTheNextSeparator();
    void refusedKeystrokes();
    void backspaceAndDelete();
    void requiredYearCheck();
    void setTextFromDisplayText();
    void randomKeystrokesKeepTheShape();
};

void TestMask::templateOfBothMasks() {
    for (const QString& source : {RequiredYear, Optional}) {
        const EditMask mask(source);
        QVERIFY(mask.isValid());
        QCOMPARE(mask.length(), 10);
        QCOMPARE(mask.placeholder(), QLatin1Char('_'));
        for (int i = 0; i < 10; ++i) {
            QCOMPARE(mask.isLiteral(i), i == 2 || i == 5);
            if (mask.isLiteral(i)) QCOMPARE(mask.literalAt(i), QLatin1Char('/'));
            // Only the four year positions of the first mask are required.
            QCOMPARE(mask.isRequired(i), source == RequiredYear && i >= 6);
        }
    }
}

void TestMask::emptyEditReadsBlanksAndShowsPlaceholders() {
    for (const QString& source : {RequiredYear, Optional}) {
        MaskedText m{EditMask(source)};
        QCOMPARE(m.text(), u"  /  /    "_s);
        QCOMPARE(m.editText(), u"__/__/____"_s);
        QVERIFY(m.isEmpty());
        QCOMPARE(m.cursor(), 0);
    }
}

void TestMask::typingDigitsStepsOverSeparators() {
    MaskedText m{EditMask(Optional)};
    QVERIFY(m.type(QLatin1Char('1')));
    QCOMPARE(m.cursor(), 1);
    QVERIFY(m.type(QLatin1Char('2')));
    QCOMPARE(m.cursor(), 3);  // stepped over the separator
    QCOMPARE(m.text(), u"12/  /    "_s);
    QCOMPARE(m.editText(), u"12/__/____"_s);
    QCOMPARE(typed(m, u"05"_s), u"12/05/    "_s);
    QCOMPARE(m.cursor(), 6);
    QCOMPARE(typed(m, u"2022"_s), u"12/05/2022"_s);
    QCOMPARE(m.cursor(), 10);
    QVERIFY(!m.isEmpty());
    // Typing over: the cursor put back on a filled position replaces it.
    m.setCursor(3);
    QCOMPARE(typed(m, u"11"_s), u"12/11/2022"_s);
    // The cursor on a separator: the digit goes into the next digit position.
    m.setCursor(2);
    QVERIFY(m.type(QLatin1Char('9')));
    QCOMPARE(m.text(), u"12/91/2022"_s);
    QCOMPARE(m.cursor(), 4);
}

void TestMask::separatorJumpsPastTheNextSeparator() {
    MaskedText m{EditMask(Optional)};
    // "1/2/2022": one-digit day and month.
    QVERIFY(m.type(QLatin1Char('1')));
    QVERIFY(m.type(QLatin1Char('/')));
    QCOMPARE(m.cursor(), 3);
    QVERIFY(m.type(QLatin1Char('2')));
    QVERIFY(m.type(QLatin1Char('/')));
    QCOMPARE(m.cursor(), 6);
    QCOMPARE(typed(m, u"2022"_s), u"1 /2 /2022"_s);
    QCOMPARE(m.editText(), u"1_/2_/2022"_s);
    // A date typed in full, separators included: each "/" typed right after
    // a complete day or month is the separator the edit already stepped over.
    MaskedText full{EditMask(RequiredYear)};
    QCOMPARE(typed(full, u"12/05/2022"_s), u"12/05/2022"_s);
    QCOMPARE(full.cursor(), 10);
    QCOMPARE(typed(full, u"/"_s), u"12/05/2022"_s);
    // On the first position: jumps to the month.
    MaskedText n{EditMask(Optional)};
    QVERIFY(n.type(QLatin1Char('/')));
    QCOMPARE(n.cursor(), 3);
    QVERIFY(n.type(QLatin1Char('/')));
    QCOMPARE(n.cursor(), 6);
    // In the year there is no separator left to jump to.
    QVERIFY(!n.type(QLatin1Char('/')));
    QCOMPARE(n.cursor(), 6);
    QCOMPARE(n.text(), u"  /  /    "_s);
}

void TestMask::refusedKeystrokes() {
    MaskedText m{EditMask(RequiredYear)};
    for (QChar c : u"aZ -.:,+\t\u0661\u00B2"_s) {
        QVERIFY2(!m.type(c), qPrintable(QString(c)));
    }
    QCOMPARE(m.text(), u"  /  /    "_s);
    QCOMPARE(m.cursor(), 0);
    // Past the end nothing more goes in.
    QCOMPARE(typed(m, u"12052022"_s), u"12/05/2022"_s);
    QVERIFY(!m.type(QLatin1Char('7')));
    QVERIFY(!m.type(QLatin1Char('/')));
    QCOMPARE(m.text(), u"12/05/2022"_s);
    QCOMPARE(m.cursor(), 10);
}

void TestMask::backspaceAndDelete() {
    MaskedText m{EditMask(RequiredYear)};
    typed(m, u"12052022"_s);
    m.backspace();
    QCOMPARE(m.text(), u"12/05/202 "_s);
    QCOMPARE(m.cursor(), 9);
    m.setCursor(6);
    m.backspace();  // steps back over the separator
    QCOMPARE(m.text(), u"12/0 /202 "_s);
    QCOMPARE(m.cursor(), 4);
    m.setCursor(0);
    m.backspace();  // nothing before the first position
    QCOMPARE(m.text(), u"12/0 /202 "_s);
    m.del();
    QCOMPARE(m.text(), u" 2/0 /202 "_s);
    QCOMPARE(m.cursor(), 0);
    m.setCursor(2);
    m.del();  // on a separator: the next digit position
    QCOMPARE(m.text(), u" 2/  /202 "_s);
    m.setCursor(10);
    m.del();  // past the end: nothing
    QCOMPARE(m.text(), u" 2/  /202 "_s);
    // A selection empties its digit positions, the separators stay.
    m.clearRange(1, 9);
    QCOMPARE(m.text(), u"  /  /    "_s);
    QCOMPARE(m.cursor(), 1);
    QVERIFY(m.isEmpty());
    m.setText(u"12/05/2022"_s);
    m.clear();
    QCOMPARE(m.text(), u"  /  /    "_s);
    QCOMPARE(m.cursor(), 0);
}

void TestMask::requiredYearCheck() {
    const QString message = u"Invalid input value.  Use escape key to abandon changes"_s;
    MaskedText m{EditMask(RequiredYear)};
    // The empty template fails: a typed-into date of birth cannot be emptied.
    QCOMPARE(m.firstMissingRequired(), 6);
    QCOMPARE(errorOf(m), message);
    QCOMPARE(m.cursor(), 6);
    // Day and month typed, the year left empty.
    m.clear();
    typed(m, u"1205"_s);
    QCOMPARE(errorOf(m), message);
    QCOMPARE(m.cursor(), 6);
    // A partial year: the cursor goes to the first empty year position.
    typed(m, u"20"_s);
    QCOMPARE(errorOf(m), message);
    QCOMPARE(m.cursor(), 8);
    m.setCursor(8);
    typed(m, u"22"_s);
    QCOMPARE(errorOf(m), u"<no error>"_s);
    QCOMPARE(m.text(), u"12/05/2022"_s);
    // A hole in the middle of the year.
    m.setCursor(7);
    m.del();
    QCOMPARE(errorOf(m), message);
    QCOMPARE(m.cursor(), 7);
    // Day and month may stay empty.
    MaskedText y{EditMask(RequiredYear)};
    y.setCursor(6);
    typed(y, u"2022"_s);
    QCOMPARE(errorOf(y), u"<no error>"_s);
    QCOMPARE(y.text(), u"  /  /2022"_s);
    // The end-of-hosting mask requires nothing.
    MaskedText o{EditMask(Optional)};
    QCOMPARE(o.firstMissingRequired(), -1);
    QCOMPARE(errorOf(o), u"<no error>"_s);
    typed(o, u"1205"_s);
    QCOMPARE(errorOf(o), u"<no error>"_s);
    QCOMPARE(o.text(), u"12/05/    "_s);
}

void TestMask::setTextFromDisplayText() {
    MaskedText m{EditMask(RequiredYear)};
    m.setText(u"12/05/2022 10:00:00"_s);  // the time does not fit
    QCOMPARE(m.text(), u"12/05/2022"_s);
    QCOMPARE(m.editText(), u"12/05/2022"_s);
    QCOMPARE(m.cursor(), 0);
    m.setText(u"12/05/2022"_s);
    QCOMPARE(m.text(), u"12/05/2022"_s);
    // NULL shows as the empty text.
    m.setText(QString());
    QCOMPARE(m.text(), u"  /  /    "_s);
    QCOMPARE(m.editText(), u"__/__/____"_s);
    // What is not a digit stays empty; the separators are the mask's.
    m.setText(u"1x-0y.2z2a"_s);
    QCOMPARE(m.text(), u"1 /0 /2 2 "_s);
    m.setText(u"12/05"_s);
    QCOMPARE(m.text(), u"12/05/    "_s);
    // A text that went in comes out the same.
    for (const QString& s : {u"01/01/0001"_s, u"31/12/9999"_s,
                             u"1 /2 /2022"_s, u"  /  /2022"_s}) {
        m.setText(s);
        QCOMPARE(m.text(), s);
    }
}

void TestMask::randomKeystrokesKeepTheShape() {
    const QString keys = u"0123456789/ a_-\b\x7f"_s;
    for (const QString& source : {RequiredYear, Optional}) {
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
                if (c == QLatin1Char('\b')) {
                    m.backspace();
                } else if (c == QChar(0x7f)) {
                    m.del();
                } else {
                    const bool accepted = m.type(c);
                    const bool digit = c >= QLatin1Char('0') && c <= QLatin1Char('9');
                    if (!digit && c != QLatin1Char('/')) QVERIFY(!accepted);
                    if (!accepted) {
                        QCOMPARE(m.text(), textBefore);
                        QCOMPARE(m.cursor(), before);
                    }
                    if (accepted && digit) QVERIFY(m.cursor() > before);
                }
            }
            const QString t = m.text();
            const QString shown = m.editText();
            QCOMPARE(t.size(), 10);
            QCOMPARE(shown.size(), 10);
            QVERIFY(m.cursor() >= 0 && m.cursor() <= 10);
            for (int i = 0; i < 10; ++i) {
                if (i == 2 || i == 5) {
                    QCOMPARE(t.at(i), QLatin1Char('/'));
                    QCOMPARE(shown.at(i), QLatin1Char('/'));
                } else {
                    const QChar c = t.at(i);
                    QVERIFY2(c == QLatin1Char(' ') || (c >= QLatin1Char('0') && c <= QLatin1Char('9')), qPrintable(t));
                    QCOMPARE(shown.at(i), c == QLatin1Char(' ') ? QLatin1Char('_') : c);
                }
            }
            QCOMPARE(m.isEmpty(), t == u"  /  /    "_s);
            const int missing = m.firstMissingRequired();
            if (source == Optional) {
                QCOMPARE(missing, -1);
            } else {
                QCOMPARE(missing, t.mid(6).indexOf(QLatin1Char(' ')) < 0 ? -1 : 6 + t.mid(6).indexOf(QLatin1Char(' ')));
            }
        }
    }
}

QTEST_GUILESS_MAIN(TestMask)
#include "tst_mask.moc"
