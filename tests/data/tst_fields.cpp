// Column objects: the display texts of every kind of column, text assignment
// (width cut, empty text, date conversion, the blank-date rule of
// TERMINE_ALLOGGIO) and the errors it raises.

#include <QtTest>

#include "data/base/TextRules.h"
#include "support/DataTestSupport.h"

using namespace marvesa;
using namespace marvesa::test;
using namespace Qt::StringLiterals;

class TestFields : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_path;
    std::unique_ptr<TdmMarvesa> m_dm;

private slots:
    void init();
    void displayTexts();
    void textAssignment();
    void dateTexts();
    void endOfHostingDate();
    void capitals();
};

void TestFields::init() {
    m_path = newDatabase(m_dir, QUuid::createUuid().toString(QUuid::Id128));
    Sql sql(m_path);
    sql.exec(
        u"INSERT INTO TBL_NUCLEO (CODICE_NUCLEO, TERMINE_ALLOGGIO, DATA_INSERIMENTO) "
        "VALUES ('QX7', '2022-05-12T00:00:00', '2022-03-01T09:05:07')"_s);
    sql.addMember(u"QX7"_s, u"Rossi"_s);
    m_dm = std::make_unique<TdmMarvesa>();
    m_dm->DataModuleCreate(m_path);
}

void TestFields::displayTexts() {
    DataSet& n = m_dm->TBL_NUCLEO;
    const auto shown = [](DataSet& ds, const char* column) {
        return ds.fieldByName(QString::fromLatin1(column))->displayText();
    };
    QCOMPARE(shown(n, "ID_NUCLEO"), u"1"_s);
    QCOMPARE(shown(n, "CODICE_NUCLEO"), u"QX7"_s);
    QCOMPARE(shown(n, "TELEFONO"), QString());                // NULL
    QCOMPARE(shown(n, "TERMINE_ALLOGGIO"), u"12/05/2022"_s);  // midnight: the date only
    QCOMPARE(shown(n, "DATA_INSERIMENTO"), u"01/03/2022 09:05:07"_s);
    QCOMPARE(shown(m_dm->TBL_ANAGRAFICA, "NOTE"), QString());  // a NULL memo
    QCOMPARE(errorOf([&] { n.fieldByName(u"NESSUNA"_s); }),
             u"TBL_NUCLEO: Field 'NESSUNA' not found"_s);
}

void TestFields::textAssignment() {
    DataSet& a = m_dm->TBL_ANAGRAFICA;
    a.edit();
    Field* cognome = a.fieldByName(u"COGNOME"_s);
    // A 60-character surname is cut to 50.
    cognome->setText(u"ABCDEFGHIJ"_s.repeated(6));
    QCOMPARE(cognome->value().toText(), u"ABCDEFGHIJ"_s.repeated(5));
    // A surrogate pair standing across the cut goes whole, never half.
    cognome->setText(QString(49, u'a') + u"\U0001F600zz"_s);
    QCOMPARE(cognome->value().toText(), QString(49, u'a'));
    // The emptied edit is the empty text, stored as such even when Qt hands
    // it as a null QString (it was once stored as NULL).
    a.fieldByName(u"NOME"_s)->setText(QString());
    // A memo takes any length, and quotes and SQL are only text; a date
    // column converts the text.
    const QString note =
        u"d'Arco \"x\"'); DROP TABLE TBL_NUCLEO; -- "_s + u"nota "_s.repeated(4000);
    a.fieldByName(u"NOTE"_s)->setText(note);
    a.fieldByName(u"DATA_NASCITA"_s)->setText(u"1 /2 /2022"_s);
    // A counter is never written.
    QCOMPARE(errorOf([&] { a.fieldByName(u"ID_ANAGRAFICA"_s)->setText(u"9"_s); }),
             u"TBL_ANAGRAFICA: Field 'ID_ANAGRAFICA' cannot be modified"_s);
    a.post();
    QCOMPARE(Sql(m_path).row(u"SELECT COGNOME, NOME IS NULL, length(NOME), NOTE, DATA_NASCITA "
                             "FROM TBL_ANAGRAFICA"_s),
             QString(49, u'a') + u"|0|0|"_s + note + u"|2022-02-01T00:00:00"_s);
    QCOMPARE(Sql(m_path).count(u"TBL_NUCLEO"_s), 1);
    // Nothing is written outside dsEdit and dsInsert.
    QCOMPARE(errorOf([&] { cognome->setText(u"Bianchi"_s); }),
             u"TBL_ANAGRAFICA: Dataset not in edit or insert mode"_s);
}

void TestFields::dateTexts() {
    // A year of one or two digits falls in the hundred years from fifty years
    // back (here from 1975); the masked edit leaves a blank after a one-digit
    // day or month.
    const std::pair<const char*, QDate> cases[] = {
        {"12/05/2022", QDate(2022, 5, 12)},
        {"12/05/22", QDate(2022, 5, 12)},
        {"01/01/75", QDate(1975, 1, 1)},
        {"01/01/74", QDate(2074, 1, 1)},
        {"1 /2 /2022", QDate(2022, 2, 1)},
        {"31/02/2022", QDate()},
        {"12/05/    ", QDate()},
    };
    for (const auto& [text, date] : cases)
        QVERIFY2(parseDateText(QString::fromLatin1(text), 2025) == date, text);
    // Typed texts take the window of the current year.
    const int first = QDate::currentDate().year() - 50;
    QCOMPARE(dateFromText(u"01/01/%1"_s.arg(first % 100, 2, 10, QLatin1Char('0'))).year(), first);
}

void TestFields::endOfHostingDate() {
    DataSet& n = m_dm->TBL_NUCLEO;
    n.edit();
    Field* termine = n.fieldByName(u"TERMINE_ALLOGGIO"_s);
    // A partly typed date is refused; the column keeps its value.
    QCOMPARE(errorOf([&] { termine->setText(u"12/05/    "_s); }),
             u"'12/05/    ' is not a valid date and time"_s);
    QCOMPARE(termine->displayText(), u"12/05/2022"_s);
    // The emptied masked edit, blanks and separators, makes it NULL.
    termine->setText(u"  /  /    "_s);
    n.post();
    QVERIFY(Sql(m_path).one(u"SELECT TERMINE_ALLOGGIO FROM TBL_NUCLEO"_s).isNull());
}

// Capitals letter by letter, beyond the first plane too; a letter whose
// capital would take another number of code units stays as it is.
void TestFields::capitals() {
    QCOMPARE(toCapitals(u"nicolò d'arco ǆ \U00010428x"_s), u"NICOLÒ D'ARCO Ǆ \U00010400X"_s);
    QCOMPARE(toCapitals(u"ß"_s), u"ß"_s);
    QCOMPARE(toCapitals(QString()), QString());
}

QTEST_GUILESS_MAIN(TestFields)

#include "tst_fields.moc"
