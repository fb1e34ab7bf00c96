// Column objects: their display texts, text assignment (width cut, date
// conversion, the blank-date rule of TERMINE_ALLOGGIO) and the text rules
// the window builds on.

#include <QtTest>

#include "DataTestSupport.h"
#include "data/TextRules.h"

using namespace marvesa;
using namespace marvesa::test;

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
    void dateConversionErrorText();
    void blankDateRuleOnBothEndOfHostingColumns();
    void blankTextAndControlTrim();
};

void TestFields::init() {
    // The text rules alone need no database.
    const QByteArray test = QTest::currentTestFunction();
    if (test == "parseDateText" || test == "dateConversionErrorText" || test == "blankTextAndControlTrim") return;
    QVERIFY(m_dir.isValid());
    const QString name = QStringLiteral("f-%1.db").arg(QUuid::createUuid().toString(QUuid::Id128));
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
    QCOMPARE(m_dm->TBL_NUCLEO.fieldByName(QStringLiteral("TERMINE_ALLOGGIO"))->name(),
             QStringLiteral("TBL_NUCLEOTERMINE_ALLOGGIO"));
    QCOMPARE(m_dm->TBL_ANAGRAFICA.fieldByName(QStringLiteral("COGNOME"))->name(),
             QStringLiteral("TBL_ANAGRAFICACOGNOME"));
    QCOMPARE(m_dm->TBL_EXPORT.fieldByName(QStringLiteral("NOTE"))->name(),
             QStringLiteral("TBL_EXPORTNOTE"));
    QCOMPARE(errorOf([&] { m_dm->TBL_NUCLEO.fieldByName(QStringLiteral("NESSUNA")); }),
             QStringLiteral("TBL_NUCLEO: Field 'NESSUNA' not found"));
    // The reference tables take the table's own columns.
    QVERIFY(m_dm->TBL_COMUNI.findField(QStringLiteral("Denominazione")));
    QVERIFY(m_dm->TBL_NAZIONI.findField(QStringLiteral("Nazione")));
    QCOMPARE(m_dm->TBL_COMUNI.findField(QStringLiteral("Denominazione"))->name(),
             QStringLiteral("TBL_COMUNIDenominazione"));
    // Masks of the three typed date columns.
    QCOMPARE(m_dm->TBL_ANAGRAFICA.fieldByName(QStringLiteral("DATA_NASCITA"))->editMask(),
             QStringLiteral("!99/99/0000;1;_"));
    QCOMPARE(m_dm->TBL_ANAGRAFICA.fieldByName(QStringLiteral("DATA_INGRESSO"))->editMask(),
             QStringLiteral("!99/99/0000;1;_"));
    QCOMPARE(m_dm->TBL_NUCLEO.fieldByName(QStringLiteral("TERMINE_ALLOGGIO"))->editMask(),
             QStringLiteral("!99/99/9999;1;_"));
    QCOMPARE(m_dm->TBL_ANAGRAFICA.fieldByName(QStringLiteral("TERMINE_ALLOGGIO"))->editMask(),
             QStringLiteral("!99/99/9999;1;_"));
    QVERIFY(m_dm->TBL_NUCLEO.fieldByName(QStringLiteral("DATA_INSERIMENTO"))->editMask().isEmpty());
}

void TestFields::displayTextOfEveryKind() {
    DataSet& n = m_dm->TBL_NUCLEO;
    DataSet& a = m_dm->TBL_ANAGRAFICA;
    auto shown = [](DataSet& ds, const char* f) {
        return ds.fieldByName(QString::fromLatin1(f))->displayText();
    };
    QCOMPARE(shown(n, "CODICE_NUCLEO"), QStringLiteral("QX7"));
    QCOMPARE(shown(n, "ID_NUCLEO"), QStringLiteral("1"));
    QCOMPARE(shown(n, "TERMINE_ALLOGGIO"), QStringLiteral("12/05/2022"));   // midnight: date only
    QCOMPARE(shown(n, "DATA_INSERIMENTO"), QStringLiteral("01/03/2022 09:05:07"));
    QCOMPARE(shown(n, "TELEFONO"), QString());                               // NULL
    QVERIFY(n.fieldValue(QStringLiteral("TELEFONO")).isNull());
    QCOMPARE(shown(a, "NOTE"), QString());                                   // NULL memo
    QCOMPARE(shown(a, "DATA_NASCITA"), QString());                           // NULL date
    QCOMPARE(shown(a, "COGNOME"), QStringLiteral("Rossi"));
    QCOMPARE(Field::displayTextOf(Value::integer(123456)), QStringLiteral("123456"));

    // While editing, the display text is that of the pending value.
    n.edit();
    n.fieldByName(QStringLiteral("TERMINE_ALLOGGIO"))->setText(QStringLiteral("01/02/2023"));
    QCOMPARE(shown(n, "TERMINE_ALLOGGIO"), QStringLiteral("01/02/2023"));
    n.cancel();
    QCOMPARE(shown(n, "TERMINE_ALLOGGIO"), QStringLiteral("12/05/2022"));

    // No current row: every column reads NULL and shows nothing.
    n.remove();
    QVERIFY(n.isEmpty());
    QCOMPARE(shown(n, "CODICE_NUCLEO"), QString());
    QCOMPARE(errorOf([&] { n.fieldValue(QStringLiteral("CODICE_NUCLEO")).toText(); }),
             QStringLiteral("Could not convert variant of type (Null) into type (OleStr)"));
}

void TestFields::textAssignmentCutsToWidth() {
    DataSet& a = m_dm->TBL_ANAGRAFICA;
    a.edit();
    Field* cognome = a.fieldByName(QStringLiteral("COGNOME"));
    const QString sixty = QStringLiteral("ABCDEFGHIJ").repeated(6);
    cognome->setText(sixty);
    QCOMPARE(cognome->value().toText(), sixty.left(50));
    QVERIFY(a.modified());

    // A surrogate pair standing across the cut goes whole, never half.
    const QString emojiAtCut = QString(49, QLatin1Char('a')) + QStringLiteral("\U0001F600") + QStringLiteral("zz");
    cognome->setText(emojiAtCut);
    QCOMPARE(cognome->value().toText(), QString(49, QLatin1Char('a')));
    const QString emojiInside = QString(48, QLatin1Char('a')) + QStringLiteral("\U0001F600") + QStringLiteral("zz");
    cognome->setText(emojiInside);
    QCOMPARE(cognome->value().toText(), emojiInside.left(50));
    QVERIFY(cognome->value().toText().at(49).isLowSurrogate());

    // A command's write is cut the same way; SESSO holds one character.
    a.setFieldValue(QStringLiteral("SESSO"), txt("MF"));
    QCOMPARE(text(a, "SESSO"), QStringLiteral("M"));
    // Memo columns take any length.
    const QString longNote = QStringLiteral("nota ").repeated(4000);
    a.fieldByName(QStringLiteral("NOTE"))->setText(longNote);
    a.post();

    Sql sql(m_path);
    const QList<QVariantList> rows = sql.rows(QStringLiteral("SELECT COGNOME, SESSO, NOTE FROM TBL_ANAGRAFICA"));
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0][0].toString(), emojiInside.left(50));
    QCOMPARE(rows[0][1].toString(), QStringLiteral("M"));
    QCOMPARE(rows[0][2].toString(), longNote);

    // NOME_OSPITANTE is 50 wide in TBL_NUCLEO and 100 in TBL_ANAGRAFICA.
    const QString hundredTwenty = QStringLiteral("x").repeated(120);
    m_dm->TBL_NUCLEO.edit();
    m_dm->TBL_NUCLEO.setFieldValue(QStringLiteral("NOME_OSPITANTE"), Value::text(hundredTwenty));
    QCOMPARE(text(m_dm->TBL_NUCLEO, "NOME_OSPITANTE").size(), 50);
    m_dm->TBL_NUCLEO.cancel();
    a.edit();
    a.setFieldValue(QStringLiteral("NOME_OSPITANTE"), Value::text(hundredTwenty));
    QCOMPARE(text(a, "NOME_OSPITANTE").size(), 100);
    a.cancel();

    // A counter is never written by the program.
    a.edit();
    QCOMPARE(errorOf([&] { a.fieldByName(QStringLiteral("ID_ANAGRAFICA"))->setText(QStringLiteral("9")); }),
             QStringLiteral("TBL_ANAGRAFICA: Field 'ID_ANAGRAFICA' cannot be modified"));
    a.cancel();
    // Nothing is written outside dsEdit and dsInsert.
    QCOMPARE(errorOf([&] { cognome->setText(QStringLiteral("Bianchi")); }),
             QStringLiteral("TBL_ANAGRAFICA: Dataset not in edit or insert mode"));
}

void TestFields::emptyTextIsStoredAsEmptyNotNull() {
    // An emptied edit holds the empty text, which is a value: stored as the
    // empty text, read back as the empty text, never NULL. Qt may hand the
    // empty text as a null QString; that changes nothing.
    DataSet& a = m_dm->TBL_ANAGRAFICA;
    a.edit();
    a.fieldByName(QStringLiteral("COGNOME"))->setText(QString());
    a.fieldByName(QStringLiteral("NOME"))->setText(QStringLiteral(""));
    a.setFieldValue(QStringLiteral("FRONTIERA"), Value::text(QString()));
    QVERIFY(!a.fieldValue(QStringLiteral("COGNOME")).isNull());
    a.post();
    QVERIFY(!a.fieldValue(QStringLiteral("COGNOME")).isNull());
    QCOMPARE(a.fieldValue(QStringLiteral("COGNOME")).toText(), QString());
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
    a.fieldByName(QStringLiteral("COGNOME"))->setText(QString());
    a.post();
    a.refresh();
    Sql sql(m_path);
    QCOMPARE(sql.one(QStringLiteral("SELECT count(*) FROM TBL_ANAGRAFICA WHERE COGNOME = ''")).toInt(), 2);
    // Writing NULL makes the column NULL.
    a.edit();
    a.fieldByName(QStringLiteral("COGNOME"))->clear();
    a.post();
    QCOMPARE(sql.one(QStringLiteral("SELECT count(*) FROM TBL_ANAGRAFICA WHERE COGNOME IS NULL")).toInt(), 1);
}

void TestFields::dateColumnTextAssignment() {
    DataSet& a = m_dm->TBL_ANAGRAFICA;
    Recorder rec;
    rec.listen(&m_dm->dsANAGRAFICA);
    a.edit();
    Field* nascita = a.fieldByName(QStringLiteral("DATA_NASCITA"));
    rec.clear();
    nascita->setText(QStringLiteral("12/05/2022"));
    QCOMPARE(rec.log, QStringList{QStringLiteral("dsANAGRAFICA:deFieldChange(DATA_NASCITA)")});
    QCOMPARE(nascita->value().toDateTime(), naiveDateTime(QDate(2022, 5, 12)));
    QCOMPARE(nascita->displayText(), QStringLiteral("12/05/2022"));
    // A refused text leaves the column as it was and announces nothing.
    rec.clear();
    QCOMPARE(errorOf([&] { nascita->setText(QStringLiteral("31/02/2022")); }),
             QStringLiteral("'31/02/2022' is not a valid date and time"));
    QCOMPARE(nascita->displayText(), QStringLiteral("12/05/2022"));
    QVERIFY(rec.log.isEmpty());
    // The empty text makes a date column NULL; blanks alone do not.
    nascita->setText(QString());
    QVERIFY(nascita->value().isNull());
    QCOMPARE(errorOf([&] { nascita->setText(QStringLiteral("  /  /    ")); }),
             QStringLiteral("'  /  /    ' is not a valid date and time"));
    // The masked edit's text of a date typed with one-digit day and month.
    nascita->setText(QStringLiteral("1 /2 /2022"));
    QCOMPARE(nascita->value().toDateTime(), naiveDateTime(QDate(2022, 2, 1)));
    a.post();
    Sql sql(m_path);
    QCOMPARE(sql.one(QStringLiteral("SELECT DATA_NASCITA FROM TBL_ANAGRAFICA")).toString(),
             QStringLiteral("2022-02-01T00:00:00"));
}

void TestFields::parseDateText_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QDate>("expected");  // invalid: refused
    const QDate refused;
    QTest::newRow("full") << QStringLiteral("12/05/2022") << QDate(2022, 5, 12);
    QTest::newRow("two-digit 22") << QStringLiteral("12/05/22") << QDate(2022, 5, 12);
    QTest::newRow("two-digit 80") << QStringLiteral("12/05/80") << QDate(1980, 5, 12);
    QTest::newRow("window start 75") << QStringLiteral("01/01/75") << QDate(1975, 1, 1);
    QTest::newRow("window end 74") << QStringLiteral("01/01/74") << QDate(2074, 1, 1);
    QTest::newRow("one-digit year") << QStringLiteral("01/01/5") << QDate(2005, 1, 1);
    QTest::newRow("masked 22") << QStringLiteral("12/05/22  ") << QDate(2022, 5, 12);
    QTest::newRow("one-digit day and month") << QStringLiteral("1 /2 /2022") << QDate(2022, 2, 1);
    QTest::newRow("blanks everywhere") << QStringLiteral("  1 / 2 / 2022  ") << QDate(2022, 2, 1);
    QTest::newRow("three-digit year") << QStringLiteral("01/02/022") << QDate(22, 2, 1);
    QTest::newRow("three-digit year 999") << QStringLiteral("31/12/999") << QDate(999, 12, 31);
    QTest::newRow("year 0001") << QStringLiteral("01/01/0001") << QDate(1, 1, 1);
    QTest::newRow("year 9999") << QStringLiteral("31/12/9999") << QDate(9999, 12, 31);
    QTest::newRow("leap day") << QStringLiteral("29/02/2024") << QDate(2024, 2, 29);
    QTest::newRow("no leap day") << QStringLiteral("29/02/2023") << refused;
    QTest::newRow("31 February") << QStringLiteral("31/02/2022") << refused;
    QTest::newRow("31 April") << QStringLiteral("31/04/2022") << refused;
    QTest::newRow("day 0") << QStringLiteral("00/05/2022") << refused;
    QTest::newRow("month 13") << QStringLiteral("12/13/2022") << refused;
    QTest::newRow("month 0") << QStringLiteral("12/00/2022") << refused;
    QTest::newRow("year 0000") << QStringLiteral("01/01/0000") << refused;
    QTest::newRow("five-digit year") << QStringLiteral("01/01/20222") << refused;
    QTest::newRow("year missing") << QStringLiteral("12/05/    ") << refused;
    QTest::newRow("empty mask") << QStringLiteral("  /  /    ") << refused;
    QTest::newRow("two numbers") << QStringLiteral("12/05") << refused;
    QTest::newRow("four numbers") << QStringLiteral("12/05/2022/1") << refused;
    QTest::newRow("dash separator") << QStringLiteral("12-05-2022") << refused;
    QTest::newRow("dot separator") << QStringLiteral("12.05.2022") << refused;
    QTest::newRow("blank inside number") << QStringLiteral("1 2/05/2022") << refused;
    QTest::newRow("tab is no blank") << QStringLiteral("\t12/05/2022") << refused;
    QTest::newRow("no-break space is no blank") << QString(QChar(0xA0)) + QStringLiteral("12/05/2022") << refused;
    QTest::newRow("letters") << QStringLiteral("aa/bb/cccc") << refused;
    QTest::newRow("time appended") << QStringLiteral("12/05/2022 10:00:00") << refused;
    QTest::newRow("empty") << QString() << refused;
    QTest::newRow("arabic-indic digits") << QStringLiteral("\u0661\u0662/05/2022") << refused;
}

void TestFields::parseDateText() {
    QFETCH(QString, text);
    QFETCH(QDate, expected);
    QCOMPARE(marvesa::parseDateText(text, 2025), expected);
}

void TestFields::dateConversionErrorText() {
    QCOMPARE(errorOf([] { dateFromText(QStringLiteral("12/05/    ")); }),
             QStringLiteral("'12/05/    ' is not a valid date and time"));
    QCOMPARE(errorOf([] { dateFromText(QStringLiteral("31/02/2022")); }),
             QStringLiteral("'31/02/2022' is not a valid date and time"));
    // The window of two-digit years moves with the current year.
    const int year = QDate::currentDate().year();
    const int twoDigits = (year - 50) % 100;
    QCOMPARE(dateFromText(QStringLiteral("01/01/%1").arg(twoDigits, 2, 10, QLatin1Char('0'))).year(), year - 50);
    QCOMPARE(dateFromText(QStringLiteral("01/01/%1").arg((twoDigits + 99) % 100, 2, 10, QLatin1Char('0'))).year(),
             year + 49);
}

void TestFields::blankDateRuleOnBothEndOfHostingColumns() {
    for (DataSet* ds : {&m_dm->TBL_NUCLEO, &m_dm->TBL_ANAGRAFICA}) {
        const QString table = ds->name();
        ds->edit();
        Field* termine = ds->fieldByName(QStringLiteral("TERMINE_ALLOGGIO"));
        // A complete date is stored.
        termine->setText(QStringLiteral("12/05/2022"));
        QCOMPARE(termine->value().toDateTime(), naiveDateTime(QDate(2022, 5, 12)));
        // The emptied masked edit reads as blanks and separators: NULL.
        termine->setText(QStringLiteral("  /  /    "));
        QVERIFY2(termine->value().isNull(), qPrintable(table));
        termine->setText(QStringLiteral("12/05/22  "));
        QCOMPARE(termine->value().toDateTime(), naiveDateTime(QDate(2022, 5, 12)));
        // Any two characters once the blanks are gone make it NULL.
        termine->setText(QStringLiteral("//"));
        QVERIFY(termine->value().isNull());
        termine->setText(QStringLiteral("1 /2 /2022"));
        QCOMPARE(termine->value().toDateTime(), naiveDateTime(QDate(2022, 2, 1)));
        // A partly filled date fails with the conversion error of the whole
        // text; the column keeps its value.
        QCOMPARE(errorOf([&] { termine->setText(QStringLiteral("12/05/    ")); }),
                 QStringLiteral("'12/05/    ' is not a valid date and time"));
        QCOMPARE(termine->value().toDateTime(), naiveDateTime(QDate(2022, 2, 1)));
        // A tab is not a blank: "\t/ /" keeps three characters.
        QCOMPARE(errorOf([&] { termine->setText(QStringLiteral("\t/ /")); }),
                 QStringLiteral("'\t/ /' is not a valid date and time"));
        // The empty text is converted, and the conversion makes it NULL.
        termine->setText(QString());
        QVERIFY(termine->value().isNull());
        termine->setText(QStringLiteral("1 /2 /2022"));
        QCOMPARE(errorOf([&] { termine->setText(QStringLiteral("31/02/2022")); }),
                 QStringLiteral("'31/02/2022' is not a valid date and time"));
        termine->setText(QStringLiteral("  /  /    "));
        ds->post();
        QVERIFY(ds->fieldValue(QStringLiteral("TERMINE_ALLOGGIO")).isNull());
        Sql sql(m_path);
        QVERIFY(sql.one(QStringLiteral("SELECT TERMINE_ALLOGGIO FROM %1").arg(ds->tableName())).isNull());
    }
    // The rule is the data module's handler, reachable by its name.
    m_dm->TBL_NUCLEO.edit();
    m_dm->TBL_NUCLEOTERMINE_ALLOGGIOSetText(*m_dm->TBL_NUCLEO.fieldByName(QStringLiteral("TERMINE_ALLOGGIO")),
                                            QStringLiteral("03/04/2025"));
    QCOMPARE(text(m_dm->TBL_NUCLEO, "TERMINE_ALLOGGIO"), QStringLiteral("03/04/2025"));
    m_dm->TBL_NUCLEO.cancel();
    // Only text assignment follows the rule; a value copied by a command
    // (NULL included) is kept as it is.
    m_dm->TBL_ANAGRAFICA.edit();
    m_dm->TBL_ANAGRAFICA.setFieldValue(QStringLiteral("TERMINE_ALLOGGIO"),
                                       m_dm->TBL_NUCLEO.fieldValue(QStringLiteral("TERMINE_ALLOGGIO")));
    QVERIFY(m_dm->TBL_ANAGRAFICA.fieldValue(QStringLiteral("TERMINE_ALLOGGIO")).isNull());
    m_dm->TBL_ANAGRAFICA.cancel();
}

void TestFields::blankTextAndControlTrim() {
    QVERIFY(isBlankText(QString()));
    QVERIFY(isBlankText(QStringLiteral("  /  /    ")));
    QVERIFY(isBlankText(QStringLiteral(" Rossi")));
    QVERIFY(!isBlankText(QStringLiteral("Rossi ")));
    QVERIFY(!isBlankText(QString(QChar(0xA0))));
    QVERIFY(!isBlankText(QStringLiteral("!")));

    QCOMPARE(trimControlText(QStringLiteral(" \t Rossi \r\n")), QStringLiteral("Rossi"));
    QCOMPARE(trimControlText(QStringLiteral("  De  Luca  ")), QStringLiteral("De  Luca"));
    QCOMPARE(trimControlText(QString(QChar(0x01)) + QStringLiteral("a b") + QChar(0x1F)), QStringLiteral("a b"));
    const QString nbsp = QString(QChar(0xA0)) + QStringLiteral("Rossi") + QChar(0xA0);
    QCOMPARE(trimControlText(nbsp), nbsp);
    QCOMPARE(trimControlText(QStringLiteral(" \t\n ")), QString());
    QCOMPARE(trimControlText(QString()), QString());
    QCOMPARE(trimControlText(QStringLiteral("!")), QStringLiteral("!"));
    QCOMPARE(trimControlText(QStringLiteral(" \U0001F600 ")), QStringLiteral("\U0001F600"));

    QCOMPARE(cutToWidth(QStringLiteral("abc"), 5), QStringLiteral("abc"));
    QCOMPARE(cutToWidth(QStringLiteral("abcdef"), 3), QStringLiteral("abc"));
    QCOMPARE(cutToWidth(QStringLiteral("\U0001F600"), 1), QString());
    QCOMPARE(cutToWidth(QStringLiteral("a\U0001F600"), 2), QStringLiteral("a"));
    QCOMPARE(cutToWidth(QStringLiteral("a\U0001F600"), 3), QStringLiteral("a\U0001F600"));
}

QTEST_GUILESS_MAIN(TestFields)
#include "tst_fields.moc"
