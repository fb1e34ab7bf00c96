// Column values: NULL, its comparisons and conversion errors, and how
// date-times are stored and read back.

#include <QtTest>

#include "data/base/Value.h"
#include "support/DataTestSupport.h"

using namespace marvesa;
using namespace marvesa::test;
using namespace Qt::StringLiterals;

class TestValues : public QObject {
    Q_OBJECT

private slots:
    void nullComparesAndConverts();
    void dateTimeStorage();
};

void TestValues::nullComparesAndConverts() {
    // NULL equals NULL and nothing else, the empty text included; it is less
    // than every value, and no value is less than NULL.
    const Value null;
    QVERIFY(null == Value());
    for (const Value& v : {txt(""), Value::integer(0), Value::date(QDate(2022, 5, 12))}) {
        QVERIFY(null != v);
        QVERIFY(null < v);
        QVERIFY(!(v < null));
    }
    QCOMPARE(errorOf([&] { null.toText(); }),
             u"Could not convert variant of type (Null) into type (OleStr)"_s);
    QCOMPARE(errorOf([&] { null.toDateTime(); }),
             u"Could not convert variant of type (Null) into type (Double)"_s);
}

void TestValues::dateTimeStorage() {
    // Stored as sortable text with a four-digit year, and read back the same.
    const QDateTime year22 = naiveDateTime(QDate(22, 3, 4), QTime(10, 11, 12));
    QCOMPARE(dateTimeToStorage(year22), u"0022-03-04T10:11:12"_s);
    QCOMPARE(dateTimeFromStorage(u"0022-03-04T10:11:12"_s), year22);
    // Fractions of a second keep the milliseconds; a fraction without digits,
    // or with anything after its digits, was once taken.
    QCOMPARE(dateTimeFromStorage(u"2022-05-12T10:00:00.123456"_s),
             naiveDateTime(QDate(2022, 5, 12), QTime(10, 0, 0, 123)));
    for (const char* s : {"2022-05-12T10:00:00.", "2022-05-12T10:00:00.1234x", "2022-02-30"})
        QVERIFY2(!dateTimeFromStorage(QString::fromLatin1(s)).isValid(), s);
}

QTEST_GUILESS_MAIN(TestValues)
#include "tst_values.moc"
