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
    void nullAndBlankComparisons();
    void textsCompareByUtf16CodeUnits();
    void blankTextIsExactlyLessThanBang_data();
    void blankTextIsExactlyLessThanBang();
    void conversionErrors();
    void conversionsOfValues();
    void dateTimesStoreAndParse();
    void storedFormsThatAreNoDateTime();
    void dateTimesSurviveTheDatabase();
};

void TestValues::nullAndBlankComparisons() {
    const Value null;
    const Value bang = txt("!");
    QVERIFY(null < bang);
    QVERIFY(!(bang < null));
    QVERIFY(!(null > bang));  // blank and other texts against "!": see blankTextIsExactlyLessThanBang

    // NULL equals NULL and nothing else; the empty text is a value.
    QVERIFY(null == Value());
    QVERIFY(null != txt(""));
    QVERIFY(txt("") != null);
    QVERIFY(null != txt("QX1"));
    QVERIFY(null != Value::integer(0));
    QVERIFY(null != Value::date(QDate(2022, 5, 12)));
    QVERIFY(!(null < null));

    // NULL is less than every value, no value is less than NULL.
    for (const Value& v : {txt(""), txt("a"), Value::integer(-5), Value::date(QDate(1, 1, 1))}) {
        QVERIFY(null < v);
        QVERIFY(!(v < null));
        QVERIFY(v > null);
    }

    // A null QString and an empty one are the same text.
    QVERIFY(Value::text(QString()) == txt(""));
    QVERIFY(!Value::text(QString()).isNull());
}

void TestValues::textsCompareByUtf16CodeUnits() {
    // U+1F600 is the surrogate pair D83D DE00: by code units it comes before
    // U+FFFD, although its code point is higher.
    const Value emoji = Value::text(u"\U0001F600"_s);
    const Value replacement = Value::text(QString(QChar(0xFFFD)));
    QCOMPARE(Value::text(u"\U0001F600"_s).toText().size(), 2);
    QVERIFY(emoji < replacement);
    QVERIFY(!(replacement < emoji));
    QVERIFY(replacement > emoji);

    QVERIFY(txt("Z") < txt("a"));           // no case folding
    QVERIFY(txt("z") < txt("\xC3\xA9"));    // é (U+00E9) after z, no locale collation
    QVERIFY(txt("ab") < txt("abc"));        // the beginning is less
    QVERIFY(!(txt("abc") < txt("ab")));
    QVERIFY(txt("QX10") < txt("QX9"));      // texts, not numbers
    QVERIFY(txt("Rossi") != txt("rossi"));
    QVERIFY(txt("Rossi") == txt("Rossi"));
}

void TestValues::blankTextIsExactlyLessThanBang_data() {
    QTest::addColumn<QString>("s");
    QTest::addColumn<bool>("blank");
    QTest::newRow("empty") << QString() << true;
    QTest::newRow("blank") << u" "_s << true;
    QTest::newRow("blank then text") << u" x"_s << true;
    QTest::newRow("tab") << u"\tx"_s << true;
    QTest::newRow("NUL") << QString(QChar(0)) << true;
    QTest::newRow("U+001F") << QString(QChar(0x1F)) + QLatin1Char('a') << true;
    QTest::newRow("empty masked date") << u"  /  /    "_s << true;
    QTest::newRow("bang") << u"!"_s << false;
    QTest::newRow("bang a") << u"!a"_s << false;
    QTest::newRow("quote") << u"\""_s << false;
    QTest::newRow("text") << u"Rossi"_s << false;
    QTest::newRow("text then blank") << u"Rossi "_s << false;
    QTest::newRow("no-break space") << QString(QChar(0xA0)) << false;
    QTest::newRow("date") << u"12/05/2022"_s << false;
}

void TestValues::blankTextIsExactlyLessThanBang() {
    QFETCH(QString, s);
    QFETCH(bool, blank);
    const Value v = Value::text(s);
    const Value bang = txt("!");
    QCOMPARE(isBlankText(s), blank);
    QCOMPARE(v < bang, blank);
    QCOMPARE(v > bang, !blank && s != QLatin1String("!"));
}

void TestValues::conversionErrors() {
    const Value null;
    QCOMPARE(errorOf([&] { null.toText(); }), u"Could not convert variant of type (Null) into type (OleStr)"_s);
    QCOMPARE(errorOf([&] { null.toDateTime(); }), u"Could not convert variant of type (Null) into type (Double)"_s);
    QCOMPARE(errorOf([&] { null.toDouble(); }), u"Could not convert variant of type (Null) into type (Double)"_s);
}

void TestValues::conversionsOfValues() {
    QCOMPARE(txt("").toText(), QString());
    QCOMPARE(Value::integer(42).toText(), u"42"_s);
    QCOMPARE(Value::integer(42).toDouble(), 42.0);
    QCOMPARE(Value::date(QDate(2022, 5, 12)).toText(), u"12/05/2022"_s);
    QCOMPARE(Value::dateTime(naiveDateTime(QDate(2022, 5, 12), QTime(10, 0))).toText(), u"12/05/2022 10:00:00"_s);
    // Days since 30 December 1899, the time of day as the fraction.
    QCOMPARE(Value::date(QDate(2022, 5, 12)).toDouble(), 44693.0);
    QCOMPARE(Value::dateTime(naiveDateTime(QDate(2022, 5, 12), QTime(12, 0))).toDouble(), 44693.5);
    QCOMPARE(Value::dateTime(naiveDateTime(QDate(1899, 12, 29), QTime(6, 0))).toDouble(), -1.25);
    QCOMPARE(Value::date(QDate(2022, 5, 12)).toDateTime().date(), QDate(2022, 5, 12));
    // Date-times are naive: a day on which clocks change keeps its midnight.
    const Value dst = Value::date(QDate(2022, 3, 27));
    QCOMPARE(dst.toDateTime().time(), QTime(0, 0));
    QCOMPARE(dst.toText(), u"27/03/2022"_s);
    QVERIFY(Value::date(QDate(2022, 5, 12)) == Value::date(QDate(2022, 5, 12)));
    QVERIFY(Value::date(QDate(2022, 5, 11)) < Value::date(QDate(2022, 5, 12)));
    QVERIFY(Value::integer(5) != txt("5"));
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
    // fractions of a second.
    QCOMPARE(dateTimeFromStorage(u"2022-05-12"_s), naiveDateTime(QDate(2022, 5, 12)));
    QCOMPARE(dateTimeFromStorage(u"2022-05-12 10:00:00"_s), naiveDateTime(QDate(2022, 5, 12), QTime(10, 0)));
    QCOMPARE(dateTimeFromStorage(u"2022-05-12T10:00:00.5"_s), naiveDateTime(QDate(2022, 5, 12), QTime(10, 0, 0, 500)));
    QCOMPARE(dateTimeFromStorage(u"2022-05-12T10:00:00.123456"_s),
             naiveDateTime(QDate(2022, 5, 12), QTime(10, 0, 0, 123)));
}

void TestValues::storedFormsThatAreNoDateTime() {
    for (const char* s : {"", "2022", "2022-05", "12/05/2022", "2022-13-01", "2022-02-30",
                          "2022-05-12X10:00:00", "2022-05-12T25:00:00", "2022-05-12T10:00",
                          "2022-05-12T10:00:00,5", "2022-05-12T10:00:00.", "2022-05-12T10:00:00.1234x",
                          "20a2-05-12",
                          "2022/05/12", "0000-01-01"}) {
        QVERIFY2(!dateTimeFromStorage(QString::fromLatin1(s)).isValid(), s);
    }
}

void TestValues::dateTimesSurviveTheDatabase() {
    // Year 22, a time of day and midnight, through a real column: post,
    // refresh, read back.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = newDatabase(dir);
    {
        Sql sql(path);
        sql.addNucleo(u"QX1"_s);
    }
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
    // The stored form is the sortable text.
    dm.closeDataStore();
    Sql sql(path);
    QCOMPARE(sql.one(u"SELECT DATA_NASCITA FROM TBL_ANAGRAFICA"_s).toString(), u"0022-03-04T10:11:12"_s);
    QCOMPARE(sql.one(u"SELECT DATA_INGRESSO FROM TBL_ANAGRAFICA"_s).toString(), u"2022-05-12T00:00:00"_s);
    // DATA_INSERIMENTO took the database's default in the same form.
    const QString inserted = sql.one(u"SELECT DATA_INSERIMENTO FROM TBL_ANAGRAFICA"_s).toString();
    QVERIFY2(dateTimeFromStorage(inserted).isValid(), qPrintable(inserted));
    QCOMPARE(inserted.size(), 19);
}

QTEST_GUILESS_MAIN(TestValues)
#include "tst_values.moc"
