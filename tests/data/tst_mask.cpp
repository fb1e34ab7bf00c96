// The input mask of the date edits as a model of keystrokes: what is read,
// what is shown, how the cursor moves, the required-year check; and a seeded
// random walk over keystrokes that must never break the text's shape.

#include <QRandomGenerator>
#include <QtTest>

#include "data/Error.h"
#include "data/MaskModel.h"

using namespace marvesa;

namespace {

const QString RequiredYear = QStringLiteral("!99/99/0000;1;_");
const QString Optional = QStringLiteral("!99/99/9999;1;_");

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
    return QStringLiteral("<no error>");
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
        QCOMPARE(mask.source(), source);
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
        QCOMPARE(m.text(), QStringLiteral("  /  /    "));
        QCOMPARE(m.editText(), QStringLiteral("__/__/____"));
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
    QCOMPARE(m.text(), QStringLiteral("12/  /    "));
    QCOMPARE(m.editText(), QStringLiteral("12/__/____"));
    QCOMPARE(typed(m, QStringLiteral("05")), QStringLiteral("12/05/    "));
    QCOMPARE(m.cursor(), 6);
    QCOMPARE(typed(m, QStringLiteral("2022")), QStringLiteral("12/05/2022"));
    QCOMPARE(m.cursor(), 10);
    QVERIFY(!m.isEmpty());
    // Typing over: the cursor put back on a filled position replaces it.
    m.setCursor(3);
    QCOMPARE(typed(m, QStringLiteral("11")), QStringLiteral("12/11/2022"));
    // The cursor on a separator: the digit goes into the next digit position.
    m.setCursor(2);
    QVERIFY(m.type(QLatin1Char('9')));
    QCOMPARE(m.text(), QStringLiteral("12/91/2022"));
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
    QCOMPARE(typed(m, QStringLiteral("2022")), QStringLiteral("1 /2 /2022"));
    QCOMPARE(m.editText(), QStringLiteral("1_/2_/2022"));
    // A date typed in full, separators included: each "/" typed right after
    // a complete day or month is the separator the edit already stepped over.
    MaskedText full{EditMask(RequiredYear)};
    QCOMPARE(typed(full, QStringLiteral("12/05/2022")), QStringLiteral("12/05/2022"));
    QCOMPARE(full.cursor(), 10);
    QCOMPARE(typed(full, QStringLiteral("/")), QStringLiteral("12/05/2022"));
    // On the first position: jumps to the month.
    MaskedText n{EditMask(Optional)};
    QVERIFY(n.type(QLatin1Char('/')));
    QCOMPARE(n.cursor(), 3);
    QVERIFY(n.type(QLatin1Char('/')));
    QCOMPARE(n.cursor(), 6);
    // In the year there is no separator left to jump to.
    QVERIFY(!n.type(QLatin1Char('/')));
    QCOMPARE(n.cursor(), 6);
    QCOMPARE(n.text(), QStringLiteral("  /  /    "));
}

void TestMask::refusedKeystrokes() {
    MaskedText m{EditMask(RequiredYear)};
    for (QChar c : QStringLiteral("aZ -.:,+\t\u0661\u00B2")) {
        QVERIFY2(!m.type(c), qPrintable(QString(c)));
    }
    QCOMPARE(m.text(), QStringLiteral("  /  /    "));
    QCOMPARE(m.cursor(), 0);
    // Past the end nothing more goes in.
    QCOMPARE(typed(m, QStringLiteral("12052022")), QStringLiteral("12/05/2022"));
    QVERIFY(!m.type(QLatin1Char('7')));
    QVERIFY(!m.type(QLatin1Char('/')));
    QCOMPARE(m.text(), QStringLiteral("12/05/2022"));
    QCOMPARE(m.cursor(), 10);
}

void TestMask::backspaceAndDelete() {
    MaskedText m{EditMask(RequiredYear)};
    typed(m, QStringLiteral("12052022"));
    m.backspace();
    QCOMPARE(m.text(), QStringLiteral("12/05/202 "));
    QCOMPARE(m.cursor(), 9);
    m.setCursor(6);
    m.backspace();  // steps back over the separator
    QCOMPARE(m.text(), QStringLiteral("12/0 /202 "));
    QCOMPARE(m.cursor(), 4);
    m.setCursor(0);
    m.backspace();  // nothing before the first position
    QCOMPARE(m.text(), QStringLiteral("12/0 /202 "));
    m.del();
    QCOMPARE(m.text(), QStringLiteral(" 2/0 /202 "));
    QCOMPARE(m.cursor(), 0);
    m.setCursor(2);
    m.del();  // on a separator: the next digit position
    QCOMPARE(m.text(), QStringLiteral(" 2/  /202 "));
    m.setCursor(10);
    m.del();  // past the end: nothing
    QCOMPARE(m.text(), QStringLiteral(" 2/  /202 "));
    // A selection empties its digit positions, the separators stay.
    m.clearRange(1, 9);
    QCOMPARE(m.text(), QStringLiteral("  /  /    "));
    QCOMPARE(m.cursor(), 1);
    QVERIFY(m.isEmpty());
    m.setText(QStringLiteral("12/05/2022"));
    m.clear();
    QCOMPARE(m.text(), QStringLiteral("  /  /    "));
    QCOMPARE(m.cursor(), 0);
}

void TestMask::requiredYearCheck() {
    const QString message = QStringLiteral("Invalid input value.  Use escape key to abandon changes");
    MaskedText m{EditMask(RequiredYear)};
    // The empty template fails: a typed-into date of birth cannot be emptied.
    QCOMPARE(m.firstMissingRequired(), 6);
    QCOMPARE(errorOf(m), message);
    QCOMPARE(m.cursor(), 6);
    // Day and month typed, the year left empty.
    m.clear();
    typed(m, QStringLiteral("1205"));
    QCOMPARE(errorOf(m), message);
    QCOMPARE(m.cursor(), 6);
    // A partial year: the cursor goes to the first empty year position.
    typed(m, QStringLiteral("20"));
    QCOMPARE(errorOf(m), message);
    QCOMPARE(m.cursor(), 8);
    m.setCursor(8);
    typed(m, QStringLiteral("22"));
    QCOMPARE(errorOf(m), QStringLiteral("<no error>"));
    QCOMPARE(m.text(), QStringLiteral("12/05/2022"));
    // A hole in the middle of the year.
    m.setCursor(7);
    m.del();
    QCOMPARE(errorOf(m), message);
    QCOMPARE(m.cursor(), 7);
    // Day and month may stay empty.
    MaskedText y{EditMask(RequiredYear)};
    y.setCursor(6);
    typed(y, QStringLiteral("2022"));
    QCOMPARE(errorOf(y), QStringLiteral("<no error>"));
    QCOMPARE(y.text(), QStringLiteral("  /  /2022"));
    // The end-of-hosting mask requires nothing.
    MaskedText o{EditMask(Optional)};
    QCOMPARE(o.firstMissingRequired(), -1);
    QCOMPARE(errorOf(o), QStringLiteral("<no error>"));
    typed(o, QStringLiteral("1205"));
    QCOMPARE(errorOf(o), QStringLiteral("<no error>"));
    QCOMPARE(o.text(), QStringLiteral("12/05/    "));
}

void TestMask::setTextFromDisplayText() {
    MaskedText m{EditMask(RequiredYear)};
    m.setText(QStringLiteral("12/05/2022 10:00:00"));  // the time does not fit
    QCOMPARE(m.text(), QStringLiteral("12/05/2022"));
    QCOMPARE(m.editText(), QStringLiteral("12/05/2022"));
    QCOMPARE(m.cursor(), 0);
    m.setText(QStringLiteral("12/05/2022"));
    QCOMPARE(m.text(), QStringLiteral("12/05/2022"));
    // NULL shows as the empty text.
    m.setText(QString());
    QCOMPARE(m.text(), QStringLiteral("  /  /    "));
    QCOMPARE(m.editText(), QStringLiteral("__/__/____"));
    // What is not a digit stays empty; the separators are the mask's.
    m.setText(QStringLiteral("1x-0y.2z2a"));
    QCOMPARE(m.text(), QStringLiteral("1 /0 /2 2 "));
    m.setText(QStringLiteral("12/05"));
    QCOMPARE(m.text(), QStringLiteral("12/05/    "));
    // A text that went in comes out the same.
    for (const QString& s : {QStringLiteral("01/01/0001"), QStringLiteral("31/12/9999"),
                             QStringLiteral("1 /2 /2022"), QStringLiteral("  /  /2022")}) {
        m.setText(s);
        QCOMPARE(m.text(), s);
    }
}

void TestMask::randomKeystrokesKeepTheShape() {
    const QString keys = QStringLiteral("0123456789/ a_-\b\x7f");
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
                m.setText(QStringLiteral("12/05/2022 10:00:00").left(int(rng.bounded(0, 20))));
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
                    QVERIFY2(c == QLatin1Char(' ') || (c >= QLatin1Char('0') && c <= QLatin1Char('9')),
                             qPrintable(t));
                    QCOMPARE(shown.at(i), c == QLatin1Char(' ') ? QLatin1Char('_') : c);
                }
            }
            QCOMPARE(m.isEmpty(), t == QStringLiteral("  /  /    "));
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
