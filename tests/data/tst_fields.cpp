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

    void namesMasksAndDisplayTexts();
    void textAssignmentCutsToWidth();
    void emptyTextIsStoredAsEmptyNotNull();
    void dateTexts();
    void dateTextAssignment();
    void controlTrim();
};

void TestFields::init() {
    // The text rules alone need no database.
    const QByteArray test = QTest::currentTestFunction();
    if (test == "dateTexts" || test == "controlTrim")
        return;
    QVERIFY(m_dir.isValid());
    const QString name = u"f-%1.db"_s.arg(QUuid::createUuid().toString(QUuid::Id128));
    m_path = newDatabase(m_dir, name);
    {
        Sql sql(m_path);
        sql.exec(
            u"INSERT INTO TBL_NUCLEO (CODICE_NUCLEO, DENOMINAZIONE, TERMINE_ALLOGGIO, "
            "DATA_INSERIMENTO) VALUES ('QX7', 'Famiglia Rossi', '2022-05-12T00:00:00', "
            "'2022-03-01T09:05:07')"_s);
        sql.exec(
            u"INSERT INTO TBL_ANAGRAFICA (CODICE_NUCLEO, COGNOME, NOTE) "
            "VALUES ('QX7', 'Rossi', NULL)"_s);
    }
    m_dm = std::make_unique<TdmMarvesa>();
    m_dm->DataModuleCreate(m_path);
}

void TestFields::cleanup() {
    m_dm.reset();
}

void TestFields::namesMasksAndDisplayTexts() {
    DataSet& n = m_dm->TBL_NUCLEO;
    DataSet& a = m_dm->TBL_ANAGRAFICA;
    // Column objects are named after their table and column.
    QCOMPARE(n.fieldByName(u"TERMINE_ALLOGGIO"_s)->name(), u"TBL_NUCLEOTERMINE_ALLOGGIO"_s);
    QCOMPARE(a.fieldByName(u"COGNOME"_s)->name(), u"TBL_ANAGRAFICACOGNOME"_s);
    QCOMPARE(m_dm->TBL_EXPORT.fieldByName(u"NOTE"_s)->name(), u"TBL_EXPORTNOTE"_s);
    QCOMPARE(errorOf([&] { n.fieldByName(u"NESSUNA"_s); }),
             u"TBL_NUCLEO: Field 'NESSUNA' not found"_s);
    QCOMPARE(m_dm->TBL_COMUNI.findField(u"Denominazione"_s)->name(), u"TBL_COMUNIDenominazione"_s);
    // Masks of the typed date columns: the year is required in the dates of
    // birth and entry, nothing in the end of hosting.
    const auto mask = [](DataSet& ds, const char* f) {
        return ds.fieldByName(QString::fromLatin1(f))->editMask();
    };
    QCOMPARE(mask(a, "DATA_NASCITA"), u"!99/99/0000;1;_"_s);
    QCOMPARE(mask(a, "DATA_INGRESSO"), u"!99/99/0000;1;_"_s);
    QCOMPARE(mask(n, "TERMINE_ALLOGGIO"), u"!99/99/9999;1;_"_s);
    QCOMPARE(mask(a, "TERMINE_ALLOGGIO"), u"!99/99/9999;1;_"_s);
    QCOMPARE(mask(n, "DATA_INSERIMENTO"), QString());

    // The display texts of every kind of column.
    const auto shown = [](DataSet& ds, const char* f) {
        return ds.fieldByName(QString::fromLatin1(f))->displayText();
    };
    QCOMPARE(shown(n, "CODICE_NUCLEO"), u"QX7"_s);
    QCOMPARE(shown(n, "ID_NUCLEO"), u"1"_s);
    QCOMPARE(shown(n, "TERMINE_ALLOGGIO"), u"12/05/2022"_s);  // midnight: date only
    QCOMPARE(shown(n, "DATA_INSERIMENTO"), u"01/03/2022 09:05:07"_s);
    QCOMPARE(shown(n, "TELEFONO"), QString());  // NULL
    QVERIFY(n.fieldValue(u"TELEFONO"_s).isNull());
    QCOMPARE(shown(a, "NOTE"), QString());          // NULL memo
    QCOMPARE(shown(a, "DATA_NASCITA"), QString());  // NULL date
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

    QCOMPARE(Sql(m_path).row(u"SELECT COGNOME, SESSO, NOTE FROM TBL_ANAGRAFICA"_s),
             emojiInside.left(50) + u"|M|"_s + longNote);

    // NOME_OSPITANTE is 50 wide in TBL_NUCLEO and 100 in TBL_ANAGRAFICA.
    for (auto [ds, width] : {std::pair{&m_dm->TBL_NUCLEO, 50}, std::pair{&a, 100}}) {
        ds->edit();
        ds->setFieldValue(u"NOME_OSPITANTE"_s, Value::text(u"x"_s.repeated(120)));
        QCOMPARE(text(*ds, "NOME_OSPITANTE").size(), width);
        ds->cancel();
    }

    // A counter is never written by the program.
    a.edit();
    QCOMPARE(errorOf([&] { a.fieldByName(u"ID_ANAGRAFICA"_s)->setText(u"9"_s); }),
             u"TBL_ANAGRAFICA: Field 'ID_ANAGRAFICA' cannot be modified"_s);
    a.cancel();
    // Nothing is written outside dsEdit and dsInsert.
    QCOMPARE(errorOf([&] { cognome->setText(u"Bianchi"_s); }),
             u"TBL_ANAGRAFICA: Dataset not in edit or insert mode"_s);
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
    Sql sql(m_path);
    QCOMPARE(sql.count(u"TBL_ANAGRAFICA"_s), 1);
    QCOMPARE(sql.row(u"SELECT COGNOME IS NULL, NOME IS NULL, FRONTIERA IS NULL, length(COGNOME) "
                     "FROM TBL_ANAGRAFICA"_s),
             u"0|0|0|0"_s);
    // A new row too.
    a.insert();
    a.fieldByName(u"COGNOME"_s)->setText(QString());
    a.post();
    a.refresh();
    QCOMPARE(sql.count(u"TBL_ANAGRAFICA"_s, u"COGNOME = ''"_s), 2);
    // Writing NULL makes the column NULL.
    a.edit();
    a.fieldByName(u"COGNOME"_s)->clear();
    a.post();
    QCOMPARE(sql.count(u"TBL_ANAGRAFICA"_s, u"COGNOME IS NULL"_s), 1);
}

void TestFields::dateTexts() {
    // Three numbers separated by "/", blanks around them ignored; a year of
    // one or two digits falls in the hundred years from fifty years back,
    // three or four digits are taken as written.
    const std::pair<QString, QDate> accepted[] = {
        {u"12/05/2022"_s, QDate(2022, 5, 12)},      {u"12/05/22"_s, QDate(2022, 5, 12)},
        {u"12/05/80"_s, QDate(1980, 5, 12)},        {u"01/01/75"_s, QDate(1975, 1, 1)},
        {u"01/01/74"_s, QDate(2074, 1, 1)},         {u"01/01/5"_s, QDate(2005, 1, 1)},
        {u"12/05/22  "_s, QDate(2022, 5, 12)},      {u"1 /2 /2022"_s, QDate(2022, 2, 1)},
        {u"  1 / 2 / 2022  "_s, QDate(2022, 2, 1)}, {u"01/02/022"_s, QDate(22, 2, 1)},
        {u"31/12/999"_s, QDate(999, 12, 31)},       {u"01/01/0001"_s, QDate(1, 1, 1)},
        {u"31/12/9999"_s, QDate(9999, 12, 31)},     {u"29/02/2024"_s, QDate(2024, 2, 29)},
    };
    for (const auto& [text, date] : accepted)
        QCOMPARE(parseDateText(text, 2025), date);
    QVERIFY(!parseDateText(QString(), 2025).isValid());
    // Refused: days, months and years out of range, and texts of another
    // shape (a tab and the no-break space are no blanks).
    for (const char* text : {"29/02/2023", "31/02/2022", "31/04/2022", "00/05/2022", "12/13/2022",
                             "12/00/2022", "01/01/0000", "01/01/20222"})
        QVERIFY2(!parseDateText(QString::fromUtf8(text), 2025).isValid(), text);
    for (const char* text : {"12/05/    ", "  /  /    ", "12/05", "12/05/2022/1", "12-05-2022",
                             "12.05.2022", "1 2/05/2022", "\t12/05/2022", "\u00A012/05/2022",
                             "aa/bb/cccc", "12/05/2022 10:00:00", "\u0661\u0662/05/2022", ""})
        QVERIFY2(!parseDateText(QString::fromUtf8(text), 2025).isValid(), text);
    // The window of two-digit years moves with the current year.
    const int year = QDate::currentDate().year();
    const int first = (year - 50) % 100;
    QCOMPARE(dateFromText(u"01/01/%1"_s.arg(first, 2, 10, QLatin1Char('0'))).year(), year - 50);
    QCOMPARE(dateFromText(u"01/01/%1"_s.arg((first + 99) % 100, 2, 10, QLatin1Char('0'))).year(),
             year + 49);
}

void TestFields::dateTextAssignment() {
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
    QCOMPARE(errorOf([&] { nascita->setText(u"31/02/2022"_s); }),
             u"'31/02/2022' is not a valid date and time"_s);
    QCOMPARE(nascita->displayText(), u"12/05/2022"_s);
    QVERIFY(rec.log.isEmpty());
    // The empty text makes a date column NULL; blanks alone do not.
    nascita->setText(QString());
    QVERIFY(nascita->value().isNull());
    QCOMPARE(errorOf([&] { nascita->setText(u"  /  /    "_s); }),
             u"'  /  /    ' is not a valid date and time"_s);
    // The masked edit's text of a date typed with one-digit day and month.
    nascita->setText(u"1 /2 /2022"_s);
    QCOMPARE(nascita->value().toDateTime(), naiveDateTime(QDate(2022, 2, 1)));
    a.post();
    QCOMPARE(Sql(m_path).one(u"SELECT DATA_NASCITA FROM TBL_ANAGRAFICA"_s).toString(),
             u"2022-02-01T00:00:00"_s);

    // In both tables TERMINE_ALLOGGIO takes as NULL a text that keeps two
    // characters or fewer once its blanks are gone.
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
        QCOMPARE(errorOf([&] { termine->setText(u"12/05/    "_s); }),
                 u"'12/05/    ' is not a valid date and time"_s);
        QCOMPARE(termine->value().toDateTime(), naiveDateTime(QDate(2022, 2, 1)));
        // A tab is not a blank: "\t/ /" keeps three characters.
        QCOMPARE(errorOf([&] { termine->setText(u"\t/ /"_s); }),
                 u"'\t/ /' is not a valid date and time"_s);
        // The empty text is converted, and the conversion makes it NULL.
        termine->setText(QString());
        QVERIFY(termine->value().isNull());
        termine->setText(u"1 /2 /2022"_s);
        QCOMPARE(errorOf([&] { termine->setText(u"31/02/2022"_s); }),
                 u"'31/02/2022' is not a valid date and time"_s);
        termine->setText(u"  /  /    "_s);
        ds->post();
        QVERIFY(ds->fieldValue(u"TERMINE_ALLOGGIO"_s).isNull());
        QVERIFY(Sql(m_path).one(u"SELECT TERMINE_ALLOGGIO FROM "_s + ds->tableName()).isNull());
    }
    // The rule is the data module's handler, reachable by its name.
    m_dm->TBL_NUCLEO.edit();
    m_dm->TBL_NUCLEOTERMINE_ALLOGGIOSetText(*m_dm->TBL_NUCLEO.fieldByName(u"TERMINE_ALLOGGIO"_s),
                                            u"03/04/2025"_s);
    QCOMPARE(text(m_dm->TBL_NUCLEO, "TERMINE_ALLOGGIO"), u"03/04/2025"_s);
    m_dm->TBL_NUCLEO.cancel();
    // Only text assignment follows the rule; a value copied by a command
    // (NULL included) is kept as it is.
    m_dm->TBL_ANAGRAFICA.edit();
    m_dm->TBL_ANAGRAFICA.setFieldValue(u"TERMINE_ALLOGGIO"_s,
                                       m_dm->TBL_NUCLEO.fieldValue(u"TERMINE_ALLOGGIO"_s));
    QVERIFY(m_dm->TBL_ANAGRAFICA.fieldValue(u"TERMINE_ALLOGGIO"_s).isNull());
    m_dm->TBL_ANAGRAFICA.cancel();
}

void TestFields::controlTrim() {
    // Every code unit up to U+0020 goes from both ends, nothing above it.
    QCOMPARE(trimControlText(u" \t Rossi \r\n"_s), u"Rossi"_s);
    QCOMPARE(trimControlText(u"  De  Luca  "_s), u"De  Luca"_s);
    QCOMPARE(trimControlText(QString(QChar(0x01)) + u"a b"_s + QChar(0x1F)), u"a b"_s);
    const QString nbsp = QString(QChar(0xA0)) + u"Rossi"_s + QChar(0xA0);
    QCOMPARE(trimControlText(nbsp), nbsp);
    QCOMPARE(trimControlText(u" \t\n "_s), QString());
    QCOMPARE(trimControlText(QString()), QString());
    QCOMPARE(trimControlText(u"!"_s), u"!"_s);
    QCOMPARE(trimControlText(u" \U0001F600 "_s), u"\U0001F600"_s);
}

QTEST_GUILESS_MAIN(TestFields)
#include "tst_fields.moc"
