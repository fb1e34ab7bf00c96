// Column values: NULL and its comparisons, text order by UTF-16 code units,
// the two conversion errors, and how date-times are stored and read back.

#include <QtTest>

#include "DataTestSupport.h"
#include "data/Error.h"
#include "data/TextRules.h"
#include "data/Value.h"

using namespace marvesa;
using namespace marvesa::test;
using namespace Qt::StringLiterals;

class TestValues : public QObject {
    Q_OBJECT

private slots:
    void comparisons();
    void conversions();
    void dateTimesStoreAndParse();
    void dateTimesSurviveTheDatabase();
};

void TestValues::comparisons() {
    // NULL equals NULL and nothing else, the empty text included; it is less
    // than every value, and no value is less than NULL.
    const Value null;
    QVERIFY(null == Value());
    QVERIFY(!(null < null));
    for (const Value& v : {txt(""), txt("!"), txt("QX1"), Value::integer(0), Value::integer(-5),
                           Value::date(QDate(1, 1, 1)), Value::date(QDate(2022, 5, 12))}) {
        QVERIFY(null != v);
        QVERIFY(v != null);
        QVERIFY(null < v);
        QVERIFY(v > null);
        QVERIFY(!(v < null));
        QVERIFY(!(null > v));
    }
    // A null QString and an empty one are the same text.
    QVERIFY(Value::text(QString()) == txt(""));
    QVERIFY(!Value::text(QString()).isNull());

    // Texts compare by UTF-16 code units; each pair here is in order. U+1F600
    // is the surrogate pair D83D DE00: by code units it comes before U+FFFD,
    // although its code point is higher.
    const std::pair<QString, QString> ordered[] = {
        {u"\U0001F600"_s, QString(QChar(0xFFFD))},
        {u"Z"_s, u"a"_s},       // no case folding
        {u"z"_s, u"\u00E9"_s},  // é after z, no locale collation
        {u"ab"_s, u"abc"_s},    // the beginning is less
        {u"QX10"_s, u"QX9"_s},  // texts, not numbers
        {u"Rossi"_s, u"rossi"_s},
    };
    for (const auto& [less, more] : ordered) {
        QVERIFY2(Value::text(less) < Value::text(more), qPrintable(less));
        QVERIFY2(Value::text(more) > Value::text(less), qPrintable(less));
        QVERIFY2(!(Value::text(more) < Value::text(less)), qPrintable(less));
        QVERIFY2(Value::text(less) != Value::text(more), qPrintable(less));
    }
    QVERIFY(txt("Rossi") == txt("Rossi"));

    // A blank text (empty, or beginning with a character below "!", as the
    // emptied date edit does) is exactly a text less than "!"; any other text
    // but "!" is greater. The no-break space is no blank.
    const std::pair<QString, bool> texts[] = {
        {QString(), true},
        {u" "_s, true},
        {u" x"_s, true},
        {u"\tx"_s, true},
        {QString(QChar(0)), true},
        {QString(QChar(0x1F)) + u'a', true},
        {u"  /  /    "_s, true},
        {u"!"_s, false},
        {u"!a"_s, false},
        {u"\""_s, false},
        {u"Rossi"_s, false},
        {u"Rossi "_s, false},
        {QString(QChar(0xA0)), false},
        {u"12/05/2022"_s, false},
    };
    const Value bang = txt("!");
    for (const auto& [s, blank] : texts) {
        QVERIFY2(isBlankText(s) == blank, qPrintable(s));
        QVERIFY2((Value::text(s) < bang) == blank, qPrintable(s));
        QVERIFY2((Value::text(s) > bang) == (!blank && s != u"!"_s), qPrintable(s));
    }
}

void TestValues::conversions() {
    const Value null;
    const QString toText = u"Could not convert variant of type (Null) into type (OleStr)"_s;
    const QString toDouble = u"Could not convert variant of type (Null) into type (Double)"_s;
    QCOMPARE(errorOf([&] { null.toText(); }), toText);
    QCOMPARE(errorOf([&] { null.toDateTime(); }), toDouble);
    QCOMPARE(errorOf([&] { null.toDouble(); }), toDouble);

    QCOMPARE(txt("").toText(), QString());
    QCOMPARE(Value::integer(42).toText(), u"42"_s);
    QCOMPARE(Value::integer(42).toDouble(), 42.0);
    QVERIFY(Value::integer(5) != txt("5"));
    const QDateTime tenOClock = naiveDateTime(QDate(2022, 5, 12), QTime(10, 0));
    QCOMPARE(Value::date(QDate(2022, 5, 12)).toText(), u"12/05/2022"_s);
    QCOMPARE(Value::dateTime(tenOClock).toText(), u"12/05/2022 10:00:00"_s);
    // Days since 30 December 1899, the time of day as the fraction.
    QCOMPARE(Value::date(QDate(2022, 5, 12)).toDouble(), 44693.0);
    QCOMPARE(Value::dateTime(naiveDateTime(QDate(2022, 5, 12), QTime(12, 0))).toDouble(), 44693.5);
    QCOMPARE(Value::dateTime(naiveDateTime(QDate(1899, 12, 29), QTime(6, 0))).toDouble(), -1.25);
    // Date-times are naive: a day on which clocks change keeps its midnight.
    const Value dst = Value::date(QDate(2022, 3, 27));
    QCOMPARE(dst.toDateTime().time(), QTime(0, 0));
    QCOMPARE(dst.toDateTime().date(), QDate(2022, 3, 27));
    QCOMPARE(dst.toText(), u"27/03/2022"_s);
    QVERIFY(Value::date(QDate(2022, 5, 12)) == Value::date(QDate(2022, 5, 12)));
    QVERIFY(Value::date(QDate(2022, 5, 11)) < Value::date(QDate(2022, 5, 12)));
}

void TestValues::dateTimesStoreAndParse() {
    struct Case {
        QDate date;
        QTime time;
        const char* stored;
    };
    const Case cases[] = {
        {QDate(2022, 5, 12), QTime(0, 0), "2022-05-12T00:00:00"},
        {QDate(22, 3, 4), QTime(10, 11, 12), "0022-03-04T10:11:12"},
        {QDate(1, 1, 1), QTime(23, 59, 59), "0001-01-01T23:59:59"},
        {QDate(9999, 12, 31), QTime(0, 0), "9999-12-31T00:00:00"},
        {QDate(2024, 2, 29), QTime(12, 30), "2024-02-29T12:30:00"},
    };
    for (const Case& c : cases) {
        const QDateTime dt = naiveDateTime(c.date, c.time);
        QCOMPARE(dateTimeToStorage(dt), QString::fromLatin1(c.stored));
        const QDateTime back = dateTimeFromStorage(QString::fromLatin1(c.stored));
        QVERIFY2(back.isValid(), c.stored);
        QCOMPARE(back.date(), c.date);
        QCOMPARE(back.time(), c.time);
        QVERIFY(Value::dateTime(back) == Value::dateTime(dt));
    }
    // Other stored forms that are read: a bare date, a blank for the "T",
    // fractions of a second (only the milliseconds kept).
    const QDate day(2022, 5, 12);
    QCOMPARE(dateTimeFromStorage(u"2022-05-12"_s), naiveDateTime(day));
    QCOMPARE(dateTimeFromStorage(u"2022-05-12 10:00:00"_s), naiveDateTime(day, QTime(10, 0)));
    QCOMPARE(dateTimeFromStorage(u"2022-05-12T10:00:00.5"_s),
             naiveDateTime(day, QTime(10, 0, 0, 500)));
    QCOMPARE(dateTimeFromStorage(u"2022-05-12T10:00:00.123456"_s),
             naiveDateTime(day, QTime(10, 0, 0, 123)));
    // And forms that are no date-time; a fraction without digits or with
    // anything after its digits was once taken.
    for (const char* s : {"", "2022", "2022-05", "12/05/2022", "2022-13-01", "2022-02-30",
                          "2022-05-12X10:00:00", "2022-05-12T25:00:00", "2022-05-12T10:00",
                          "2022-05-12T10:00:00,5", "2022-05-12T10:00:00.",
                          "2022-05-12T10:00:00.1234x", "20a2-05-12", "2022/05/12", "0000-01-01"}) {
        QVERIFY2(!dateTimeFromStorage(QString::fromLatin1(s)).isValid(), s);
    }
}

void TestValues::dateTimesSurviveTheDatabase() {
    // Year 22, a time of day and midnight, through a real column: post,
    // refresh, read back, and the stored form is the sortable text.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = newDatabase(dir);
    Sql(path).addNucleo(u"QX1"_s);
    TdmMarvesa dm;
    dm.DataModuleCreate(path);
    DataSet& a = dm.TBL_ANAGRAFICA;
    a.insert();
    const QDateTime withTime = naiveDateTime(QDate(22, 3, 4), QTime(10, 11, 12));
    a.setFieldValue(u"DATA_NASCITA"_s, Value::dateTime(withTime));
    a.setFieldValue(u"DATA_INGRESSO"_s, Value::date(QDate(2022, 5, 12)));
    a.post();
    a.refresh();
    QCOMPARE(a.fieldValue(u"DATA_NASCITA"_s).toDateTime(), withTime);
    QCOMPARE(a.fieldByName(u"DATA_NASCITA"_s)->displayText(), u"04/03/0022 10:11:12"_s);
    QCOMPARE(a.fieldByName(u"DATA_INGRESSO"_s)->displayText(), u"12/05/2022"_s);
    dm.closeDataStore();
    QCOMPARE(Sql(path).row(u"SELECT DATA_NASCITA, DATA_INGRESSO FROM TBL_ANAGRAFICA"_s),
             u"0022-03-04T10:11:12|2022-05-12T00:00:00"_s);
}

QTEST_GUILESS_MAIN(TestValues)
#include "tst_values.moc"
