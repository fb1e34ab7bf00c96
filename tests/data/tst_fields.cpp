// Column objects: their display texts, text assignment (width cut, date
// conversion, the blank-date rule of TERMINE_ALLOGGIO) and the text rules
// the window builds on.

#include <QtTest>

#include "DataTestSupport.h"
#include "data/TextRules.h"

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
    void cleanup();

    void columnObjectsAreNamedAfterTableAndColumn();
    void displayTextOfEveryKind();
    void textAssignmentCutsToWidth();
    void emptyTextIsStoredAsEmptyNotNull();
    void dateColumnTextAssignment();
    void parseDateText_data();
    void parseDateText();
    void twoDigitYearWindowMovesWithTheYear();
    void blankDateRuleOnBothEndOfHostingColumns();
    void blankTextAndControlTrim();
};

void TestFields::init() {
    // The text rules alone need no database.
    const QByteArray test = QTest::currentTestFunction();
    if (test == "parseDateText" || test == "twoDigitYearWindowMovesWithTheYear" || test == "blankTextAndControlTrim") return;
    QVERIFY(m_dir.isValid());
    const QString name = u"f-%1.db"_s.arg(QUuid::createUuid().toString(QUuid::Id128));
    m_path = newDatabase(m_dir, name);
    {
        Sql sql(m_path);
        sql.exec(QStringLiteral(
                     "INSERT INTO TBL_NUCLEO (CODICE_NUCLEO, DENOMINAZIONE, TERMINE_ALLOGGIO, "
                     "DATA_INSERIMENTO) VALUES ('QX7', 'Famiglia Rossi', '2022-05-12T00:00:00', "
                     "'2022-03-01T09:05:07')"));
        sql.exec(QStringLiteral(
            "INSERT INTO TBL_ANAGRAFICA (CODICE_NUCLEO, COGNOME, NOTE) VALUES ('QX7', 'Rossi', NULL)"));
    }
    m_dm = std::make_unique<TdmMarvesa>();
    m_dm->DataModuleCreate(m_path);
}

void TestFields::cleanup() { m_dm.reset(); }

void TestFields::columnObjectsAreNamedAfterTableAndColumn() {
    QCOMPARE(m_dm->TBL_NUCLEO.fieldByName(u"TERMINE_ALLOGGIO"_s)->name(), u"TBL_NUCLEOTERMINE_ALLOGGIO"_s);
    QCOMPARE(m_dm->TBL_ANAGRAFICA.fieldByName(u"COGNOME"_s)->name(), u"TBL_ANAGRAFICACOGNOME"_s);
    QCOMPARE(m_dm->TBL_EXPORT.fieldByName(u"NOTE"_s)->name(), u"TBL_EXPORTNOTE"_s);
    QCOMPARE(errorOf([&] { m_dm->TBL_NUCLEO.fieldByName(u"NESSUNA"_s); }), u"TBL_NUCLEO: Field 'NESSUNA' not found"_s);
    // The reference tables take the table's own columns.
    QVERIFY(m_dm->TBL_COMUNI.findField(u"Denominazione"_s));
    QVERIFY(m_dm->TBL_NAZIONI.findField(u"Nazione"_s));
    QCOMPARE(m_dm->TBL_COMUNI.findField(u"Denominazione"_s)->name(), u"TBL_COMUNIDenominazione"_s);
    // Masks of the three typed date columns.
    QCOMPARE(m_dm->TBL_ANAGRAFICA.fieldByName(u"DATA_NASCITA"_s)->editMask(), u"!99/99/0000;1;_"_s);
    QCOMPARE(m_dm->TBL_ANAGRAFICA.fieldByName(u"DATA_INGRESSO"_s)->editMask(), u"!99/99/0000;1;_"_s);
    QCOMPARE(m_dm->TBL_NUCLEO.fieldByName(u"TERMINE_ALLOGGIO"_s)->editMask(), u"!99/99/9999;1;_"_s);
    QCOMPARE(m_dm->TBL_ANAGRAFICA.fieldByName(u"TERMINE_ALLOGGIO"_s)->editMask(), u"!99/99/9999;1;_"_s);
    QVERIFY(m_dm->TBL_NUCLEO.fieldByName(u"DATA_INSERIMENTO"_s)->editMask().isEmpty());
}

void TestFields::displayTextOfEveryKind() {
    DataSet& n = m_dm->TBL_NUCLEO;
    DataSet& a = m_dm->TBL_ANAGRAFICA;
    auto shown = [](DataSet& ds, const char* f) {
        return ds.fieldByName(QString::fromLatin1(f))->displayText();
    };
    QCOMPARE(shown(n, "CODICE_NUCLEO"), u"QX7"_s);
    QCOMPARE(shown(n, "ID_NUCLEO"), u"1"_s);
    QCOMPARE(shown(n, "TERMINE_ALLOGGIO"), u"12/05/2022"_s);   // midnight: date only
    QCOMPARE(shown(n, "DATA_INSERIMENTO"), u"01/03/2022 09:05:07"_s);
    QCOMPARE(shown(n, "TELEFONO"), QString());                               // NULL
    QVERIFY(n.fieldValue(u"TELEFONO"_s).isNull());
    QCOMPARE(shown(a, "NOTE"), QString());                                   // NULL memo
    QCOMPARE(shown(a, "DATA_NASCITA"), QString());                           // NULL date
    QCOMPARE(shown(a, "COGNOME"), u"Rossi"_s);
    QCOMPARE(Field::displayTextOf(Value::integer(123456)), u"123456"_s);

    // While editing, the display text is that of the pending value.
    n.edit();
    n.fieldByName(u"TERMINE_ALLOGGIO"_s)->setText(u"01/02/2023"_s);
    QCOMPARE(shown(n, "TERMINE_ALLOGGIO"), u"01/02/2023"_s);
    n.cancel();
    QCOMPARE(shown(n, "TERMINE_ALLOGGIO"), u"12/05/2022"_s);

    // No current row: every column reads NULL and shows nothing.
    n.remove();
    QVERIFY(n.isEmpty());
    QCOMPARE(shown(n, "CODICE_NUCLEO"), QString());
    QCOMPARE(errorOf([&] { n.fieldValue(u"CODICE_NUCLEO"_s).toText(); }),
             u"Could not convert variant of type (Null) into type (OleStr)"_s);
}

void TestFields::textAssignmentCutsToWidth() {
    DataSet& a = m_dm->TBL_ANAGRAFICA;
    a.edit();
    Field* cognome = a.fieldByName(u"COGNOME"_s);
    const QString sixty = u"ABCDEFGHIJ"_s.repeated(6);
    cognome->setText(sixty);
    QCOMPARE(cognome->value().toText(), sixty.left(50));
    QVERIFY(a.modified());

    // A surrogate pair standing across the cut goes whole, never half.
    const QString emojiAtCut = QString(49, QLatin1Char('a')) + u"\U0001F600"_s + u"zz"_s;
    cognome->setText(emojiAtCut);
    QCOMPARE(cognome->value().toText(), QString(49, QLatin1Char('a')));
    const QString emojiInside = QString(48, QLatin1Char('a')) + u"\U0001F600"_s + u"zz"_s;
    cognome->setText(emojiInside);
    QCOMPARE(cognome->value().toText(), emojiInside.left(50));
    QVERIFY(cognome->value().toText().at(49).isLowSurrogate());

    // A command's write is cut the same way; SESSO holds one character.
    set(a, "SESSO", "MF");
    QCOMPARE(text(a, "SESSO"), u"M"_s);
    // Memo columns take any length.
    const QString longNote = u"nota "_s.repeated(4000);
    a.fieldByName(u"NOTE"_s)->setText(longNote);
    a.post();

    Sql sql(m_path);
    const QList<QVariantList> rows = sql.rows(u"SELECT COGNOME, SESSO, NOTE FROM TBL_ANAGRAFICA"_s);
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0][0].toString(), emojiInside.left(50));
    QCOMPARE(rows[0][1].toString(), u"M"_s);
    QCOMPARE(rows[0][2].toString(), longNote);

    // NOME_OSPITANTE is 50 wide in TBL_NUCLEO and 100 in TBL_ANAGRAFICA.
    const QString hundredTwenty = u"x"_s.repeated(120);
    m_dm->TBL_NUCLEO.edit();
    m_dm->TBL_NUCLEO.setFieldValue(u"NOME_OSPITANTE"_s, Value::text(hundredTwenty));
    QCOMPARE(text(m_dm->TBL_NUCLEO, "NOME_OSPITANTE").size(), 50);
    m_dm->TBL_NUCLEO.cancel();
    a.edit();
    a.setFieldValue(u"NOME_OSPITANTE"_s, Value::text(hundredTwenty));
    QCOMPARE(text(a, "NOME_OSPITANTE").size(), 100);
    a.cancel();

    // A counter is never written by the program.
    a.edit();
    QCOMPARE(errorOf([&] { a.fieldByName(u"ID_ANAGRAFICA"_s)->setText(u"9"_s); }),
             u"TBL_ANAGRAFICA: Field 'ID_ANAGRAFICA' cannot be modified"_s);
    a.cancel();
    // Nothing is written outside dsEdit and dsInsert.
    QCOMPARE(errorOf([&] { cognome->setText(u"Bianchi"_s); }), u"TBL_ANAGRAFICA: Dataset not in edit or insert mode"_s);
}

void TestFields::emptyTextIsStoredAsEmptyNotNull() {
    // An emptied edit holds the empty text, which is a value: stored as the
    // empty text, read back as the empty text, never NULL. Qt may hand the
    // empty text as a null QString; that changes nothing.
    DataSet& a = m_dm->TBL_ANAGRAFICA;
    a.edit();
    a.fieldByName(u"COGNOME"_s)->setText(QString());
    a.fieldByName(u"NOME"_s)->setText(u""_s);
    a.setFieldValue(u"FRONTIERA"_s, Value::text(QString()));
    QVERIFY(!a.fieldValue(u"COGNOME"_s).isNull());
    a.post();
    QVERIFY(!a.fieldValue(u"COGNOME"_s).isNull());
    QCOMPARE(a.fieldValue(u"COGNOME"_s).toText(), QString());
    {
        Sql sql(m_path);
        const QList<QVariantList> rows = sql.rows(QStringLiteral(
            "SELECT COGNOME IS NULL, NOME IS NULL, FRONTIERA IS NULL, length(COGNOME) FROM TBL_ANAGRAFICA"));
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0][0].toInt(), 0);
        QCOMPARE(rows[0][1].toInt(), 0);
        QCOMPARE(rows[0][2].toInt(), 0);
        QCOMPARE(rows[0][3].toInt(), 0);
    }
    // A new row too.
    a.insert();
    a.fieldByName(u"COGNOME"_s)->setText(QString());
    a.post();
    a.refresh();
    Sql sql(m_path);
    QCOMPARE(sql.one(u"SELECT count(*) FROM TBL_ANAGRAFICA WHERE COGNOME = ''"_s).toInt(), 2);
    // Writing NULL makes the column NULL.
    a.edit();
    a.fieldByName(u"COGNOME"_s)->clear();
    a.post();
    QCOMPARE(sql.one(u"SELECT count(*) FROM TBL_ANAGRAFICA WHERE COGNOME IS NULL"_s).toInt(), 1);
}

void TestFields::dateColumnTextAssignment() {
    DataSet& a = m_dm->TBL_ANAGRAFICA;
    Recorder rec;
    rec.listen(&m_dm->dsANAGRAFICA);
    a.edit();
    Field* nascita = a.fieldByName(u"DATA_NASCITA"_s);
    rec.clear();
    nascita->setText(u"12/05/2022"_s);
    QCOMPARE(rec.log, L("dsANAGRAFICA:deFieldChange(DATA_NASCITA)"));
    QCOMPARE(nascita->value().toDateTime(), naiveDateTime(QDate(2022, 5, 12)));
    QCOMPARE(nascita->displayText(), u"12/05/2022"_s);
    // A refused text leaves the column as it was and announces nothing.
    rec.clear();
    QCOMPARE(errorOf([&] { nascita->setText(u"31/02/2022"_s); }), u"'31/02/2022' is not a valid date and time"_s);
    QCOMPARE(nascita->displayText(), u"12/05/2022"_s);
    QVERIFY(rec.log.isEmpty());
    // The empty text makes a date column NULL; blanks alone do not.
    nascita->setText(QString());
    QVERIFY(nascita->value().isNull());
    QCOMPARE(errorOf([&] { nascita->setText(u"  /  /    "_s); }), u"'  /  /    ' is not a valid date and time"_s);
    // The masked edit's text of a date typed with one-digit day and month.
    nascita->setText(u"1 /2 /2022"_s);
    QCOMPARE(nascita->value().toDateTime(), naiveDateTime(QDate(2022, 2, 1)));
    a.post();
    Sql sql(m_path);
    QCOMPARE(sql.one(u"SELECT DATA_NASCITA FROM TBL_ANAGRAFICA"_s).toString(), u"2022-02-01T00:00:00"_s);
}

void TestFields::parseDateText_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QDate>("expected");  // invalid: refused
    const QDate refused;
    QTest::newRow("full") << u"12/05/2022"_s << QDate(2022, 5, 12);
    QTest::newRow("two-digit 22") << u"12/05/22"_s << QDate(2022, 5, 12);
    QTest::newRow("two-digit 80") << u"12/05/80"_s << QDate(1980, 5, 12);
    QTest::newRow("window start 75") << u"01/01/75"_s << QDate(1975, 1, 1);
    QTest::newRow("window end 74") << u"01/01/74"_s << QDate(2074, 1, 1);
    QTest::newRow("one-digit year") << u"01/01/5"_s << QDate(2005, 1, 1);
    QTest::newRow("masked 22") << u"12/05/22  "_s << QDate(2022, 5, 12);
    QTest::newRow("one-digit day and month") << u"1 /2 /2022"_s << QDate(2022, 2, 1);
    QTest::newRow("blanks everywhere") << u"  1 / 2 / 2022  "_s << QDate(2022, 2, 1);
    QTest::newRow("three-digit year") << u"01/02/022"_s << QDate(22, 2, 1);
    QTest::newRow("three-digit year 999") << u"31/12/999"_s << QDate(999, 12, 31);
    QTest::newRow("year 0001") << u"01/01/0001"_s << QDate(1, 1, 1);
    QTest::newRow("year 9999") << u"31/12/9999"_s << QDate(9999, 12, 31);
    QTest::newRow("leap day") << u"29/02/2024"_s << QDate(2024, 2, 29);
    QTest::newRow("no leap day") << u"29/02/2023"_s << refused;
    QTest::newRow("31 February") << u"31/02/2022"_s << refused;
    QTest::newRow("31 April") << u"31/04/2022"_s << refused;
    QTest::newRow("day 0") << u"00/05/2022"_s << refused;
    QTest::newRow("month 13") << u"12/13/2022"_s << refused;
    QTest::newRow("month 0") << u"12/00/2022"_s << refused;
    QTest::newRow("year 0000") << u"01/01/0000"_s << refused;
    QTest::newRow("five-digit year") << u"01/01/20222"_s << refused;
    QTest::newRow("year missing") << u"12/05/    "_s << refused;
    QTest::newRow("empty mask") << u"  /  /    "_s << refused;
    QTest::newRow("two numbers") << u"12/05"_s << refused;
    QTest::newRow("four numbers") << u"12/05/2022/1"_s << refused;
    QTest::newRow("dash separator") << u"12-05-2022"_s << refused;
    QTest::newRow("dot separator") << u"12.05.2022"_s << refused;
    QTest::newRow("blank inside number") << u"1 2/05/2022"_s << refused;
    QTest::newRow("tab is no blank") << u"\t12/05/2022"_s << refused;
    QTest::newRow("no-break space is no blank") << QString(QChar(0xA0)) + u"12/05/2022"_s << refused;
    QTest::newRow("letters") << u"aa/bb/cccc"_s << refused;
    QTest::newRow("time appended") << u"12/05/2022 10:00:00"_s << refused;
    QTest::newRow("empty") << QString() << refused;
    QTest::newRow("arabic-indic digits") << u"\u0661\u0662/05/2022"_s << refused;
}

void TestFields::parseDateText() {
    QFETCH(QString, text);
    QFETCH(QDate, expected);
    QCOMPARE(marvesa::parseDateText(text, 2025), expected);
}

void TestFields::twoDigitYearWindowMovesWithTheYear() {
    // The window of two-digit years moves with the current year.
    const int year = QDate::currentDate().year();
    const int twoDigits = (year - 50) % 100;
    QCOMPARE(dateFromText(u"01/01/%1"_s.arg(twoDigits, 2, 10, QLatin1Char('0'))).year(), year - 50);
    QCOMPARE(dateFromText(u"01/01/%1"_s.arg((twoDigits + 99) % 100, 2, 10, QLatin1Char('0'))).year(), year + 49);
}

void TestFields::blankDateRuleOnBothEndOfHostingColumns() {
    for (DataSet* ds : {&m_dm->TBL_NUCLEO, &m_dm->TBL_ANAGRAFICA}) {
        const QString table = ds->name();
        ds->edit();
        Field* termine = ds->fieldByName(u"TERMINE_ALLOGGIO"_s);
        // A complete date is stored.
        termine->setText(u"12/05/2022"_s);
        QCOMPARE(termine->value().toDateTime(), naiveDateTime(QDate(2022, 5, 12)));
        // The emptied masked edit reads as blanks and separators: NULL.
        termine->setText(u"  /  /    "_s);
        QVERIFY2(termine->value().isNull(), qPrintable(table));
        termine->setText(u"12/05/22  "_s);
        QCOMPARE(termine->value().toDateTime(), naiveDateTime(QDate(2022, 5, 12)));
        // Any two characters once the blanks are gone make it NULL.
        termine->setText(u"//"_s);
        QVERIFY(termine->value().isNull());
        termine->setText(u"1 /2 /2022"_s);
        QCOMPARE(termine->value().toDateTime(), naiveDateTime(QDate(2022, 2, 1)));
        // A partly filled date fails with the conversion error of the whole
        // text; the column keeps its value.
        QCOMPARE(errorOf([&] { termine->setText(u"12/05/    "_s); }), u"'12/05/    ' is not a valid date and time"_s);
        QCOMPARE(termine->value().toDateTime(), naiveDateTime(QDate(2022, 2, 1)));
        // A tab is not a blank: "\t/ /" keeps three characters.
        QCOMPARE(errorOf([&] { termine->setText(u"\t/ /"_s); }), u"'\t/ /' is not a valid date and time"_s);
        // The empty text is converted, and the conversion makes it NULL.
        termine->setText(QString());
        QVERIFY(termine->value().isNull());
        termine->setText(u"1 /2 /2022"_s);
        QCOMPARE(errorOf([&] { termine->setText(u"31/02/2022"_s); }), u"'31/02/2022' is not a valid date and time"_s);
        termine->setText(u"  /  /    "_s);
        ds->post();
        QVERIFY(ds->fieldValue(u"TERMINE_ALLOGGIO"_s).isNull());
        Sql sql(m_path);
        QVERIFY(sql.one(u"SELECT TERMINE_ALLOGGIO FROM %1"_s.arg(ds->tableName())).isNull());
    }
    // The rule is the data module's handler, reachable by its name.
    m_dm->TBL_NUCLEO.edit();
    m_dm->TBL_NUCLEOTERMINE_ALLOGGIOSetText(*m_dm->TBL_NUCLEO.fieldByName(u"TERMINE_ALLOGGIO"_s), u"03/04/2025"_s);
    QCOMPARE(text(m_dm->TBL_NUCLEO, "TERMINE_ALLOGGIO"), u"03/04/2025"_s);
    m_dm->TBL_NUCLEO.cancel();
    // Only text assignment follows the rule; a value copied by a command
    // (NULL included) is kept as it is.
    m_dm->TBL_ANAGRAFICA.edit();
    m_dm->TBL_ANAGRAFICA.setFieldValue(u"TERMINE_ALLOGGIO"_s, m_dm->TBL_NUCLEO.fieldValue(u"TERMINE_ALLOGGIO"_s));
    QVERIFY(m_dm->TBL_ANAGRAFICA.fieldValue(u"TERMINE_ALLOGGIO"_s).isNull());
    m_dm->TBL_ANAGRAFICA.cancel();
}

void TestFields::blankTextAndControlTrim() {
    // isBlankText: see tst_values, blankTextIsExactlyLessThanBang.
    QCOMPARE(trimControlText(u" \t Rossi \r\n"_s), u"Rossi"_s);
    QCOMPARE(trimControlText(u"  De  Luca  "_s), u"De  Luca"_s);
    QCOMPARE(trimControlText(QString(QChar(0x01)) + u"a b"_s + QChar(0x1F)), u"a b"_s);
    const QString nbsp = QString(QChar(0xA0)) + u"Rossi"_s + QChar(0xA0);
    QCOMPARE(trimControlText(nbsp), nbsp);
    QCOMPARE(trimControlText(u" \t\n "_s), QString());
    QCOMPARE(trimControlText(QString()), QString());
    QCOMPARE(trimControlText(u"!"_s), u"!"_s);
    QCOMPARE(trimControlText(u" \U0001F600 "_s), u"\U0001F600"_s);

    QCOMPARE(cutToWidth(u"abc"_s, 5), u"abc"_s);
    QCOMPARE(cutToWidth(u"abcdef"_s, 3), u"abc"_s);
    QCOMPARE(cutToWidth(u"\U0001F600"_s, 1), QString());
    QCOMPARE(cutToWidth(u"a\U0001F600"_s, 2), u"a"_s);
    QCOMPARE(cutToWidth(u"a\U0001F600"_s, 3), u"a\U0001F600"_s);
}

QTEST_GUILESS_MAIN(TestFields)
#include "tst_fields.moc"
