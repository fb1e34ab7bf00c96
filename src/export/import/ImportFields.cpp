#include "export/import/ImportFields.h"

#include <QCryptographicHash>
#include <QSettings>

#include "data/base/TextRules.h"
#include "export/SpreadsheetOutput.h"

namespace marvesa {

const std::vector<ImportFieldInfo>& importFields() {
    using F = ImportField;
    // field, column, label, family unit, required, upper case, trimmed
    static const std::vector<ImportFieldInfo> fields{
        {F::FamilyCode, "CODICE_NUCLEO", "Codice Nucleo", true, false, true, true},
        {F::Description, "DENOMINAZIONE", "Descrizione Nucleo", true, true, true, true},
        {F::Host, "NOME_OSPITANTE", "Ospitante", true, true, true, true},
        {F::Municipality, "COMUNE", "Comune", true, true, false, true},
        {F::Address, "INDIRIZZO", "Indirizzo", true, true, true, true},
        {F::Telephone, "TELEFONO", "Telefono", true, true, true, true},
        {F::EndOfHosting, "TERMINE_ALLOGGIO", "Termine Ospitalità", true, false, false, true},
        {F::Surname, "COGNOME", "Cognome", false, true, true, true},
        {F::Name, "NOME", "Nome", false, true, true, true},
        {F::Sex, "SESSO", "Sesso", false, true, true, true},
        {F::BirthDate, "DATA_NASCITA", "Data Nascita", false, true, false, true},
        {F::BirthCountry, "NAZIONE_NASCITA", "Nazione Nascita", false, true, false, true},
        {F::Citizenship, "CITTADINANZA", "Cittadinanza", false, true, false, true},
        {F::Relationship, "GRADO_PARENTELA", "Grado Parentela", false, true, false, true},
        {F::EntryDate, "DATA_INGRESSO", "Data Ingresso", false, true, false, true},
        {F::Border, "FRONTIERA", "Frontiera", false, true, true, true},
        {F::Note, "NOTE", "Note", false, false, false, false},
    };
    return fields;
}

const ImportFieldInfo& importField(ImportField field) {
    return importFields().at(size_t(field));
}

bool ColumnMapping::isEmpty() const {
    for (int c : columns) {
        if (c >= 0)
            return false;
    }
    return true;
}

namespace {

QString normalHeader(const QString& h) {
    return h.simplified().toLower();
}

// The export's columns, in its order.
const ImportField kExportColumns[16] = {
    ImportField::Description,  ImportField::Surname,      ImportField::Name,
    ImportField::Sex,          ImportField::BirthDate,    ImportField::BirthCountry,
    ImportField::Citizenship,  ImportField::Relationship, ImportField::Municipality,
    ImportField::Address,      ImportField::Host,         ImportField::Telephone,
    ImportField::EndOfHosting, ImportField::EntryDate,    ImportField::Border,
    ImportField::Note,
};

// Words that name a field in the headers of other offices' files, compared
// as foldForMatching() reads them; the first field whose word a header holds
// takes it (so the longer names come before the words they contain:
// "Nazione di nascita" before "nascita", "Cittadinanza" before "città").
struct HeaderWords {
    ImportField field;
    QStringList words;
};

const std::vector<HeaderWords>& headerWords() {
    using F = ImportField;
    static const std::vector<HeaderWords> table{
        {F::FamilyCode,
         {QStringLiteral("CODICENUCLEO"), QStringLiteral("CODNUCLEO"), QStringLiteral("IDNUCLEO"),
          QStringLiteral("CODICEFAMIGLIA")}},
        {F::BirthCountry,
         {QStringLiteral("NAZIONEDINASCITA"), QStringLiteral("NAZIONENASCITA"),
          QStringLiteral("STATODINASCITA"), QStringLiteral("PAESEDINASCITA")}},
        {F::BirthDate,
         {QStringLiteral("DATADINASCITA"), QStringLiteral("DATANASCITA"), QStringLiteral("NATOIL"),
          QStringLiteral("NATAIL"), QStringLiteral("NASCITA")}},
        {F::EntryDate,
         {QStringLiteral("DATAINGRESSO"), QStringLiteral("DATADIINGRESSO"),
          QStringLiteral("DATAARRIVO"), QStringLiteral("DATADIARRIVO"), QStringLiteral("ARRIVO")}},
        {F::EndOfHosting,
         {QStringLiteral("TERMINE"), QStringLiteral("FINEOSPITALITA"), QStringLiteral("SCADENZA")}},
        {F::Citizenship, {QStringLiteral("CITTADINANZA"), QStringLiteral("NAZIONALITA")}},
        {F::Relationship,
         {QStringLiteral("PARENTELA"), QStringLiteral("RELAZIONE"), QStringLiteral("RUOLO")}},
        {F::Description,
         {QStringLiteral("DENOMINAZIONE"), QStringLiteral("DESCRIZIONE"), QStringLiteral("NUCLEO"),
          QStringLiteral("FAMIGLIA")}},
        {F::Host,
         {QStringLiteral("OSPITANTE"), QStringLiteral("OSPITE"), QStringLiteral("ACCOGLIE")}},
        {F::Municipality,
         {QStringLiteral("COMUNE"), QStringLiteral("CITTA"), QStringLiteral("LOCALITA")}},
        {F::Address,
         {QStringLiteral("INDIRIZZO"), QStringLiteral("VIA"), QStringLiteral("RESIDENZA")}},
        {F::Telephone,
         {QStringLiteral("TELEFONO"), QStringLiteral("TEL"), QStringLiteral("CELLULARE"),
          QStringLiteral("CONTATTI")}},
        {F::Surname, {QStringLiteral("COGNOME")}},
        {F::Name, {QStringLiteral("NOME")}},
        {F::Sex, {QStringLiteral("SESSO"), QStringLiteral("GENERE")}},
        {F::Border, {QStringLiteral("FRONTIERA"), QStringLiteral("CONFINE")}},
        {F::Note, {QStringLiteral("NOTE"), QStringLiteral("ESIGENZE"), QStringLiteral("PRIORITA")}},
    };
    return table;
}

QString settingsKey(const QStringList& headers) {
    QStringList normal;
    for (const QString& h : headers)
        normal << normalHeader(h);
    const QByteArray hash =
        QCryptographicHash::hash(normal.join(QChar(0x1F)).toUtf8(), QCryptographicHash::Sha1);
    return QStringLiteral("importa/colonne-") + QString::fromLatin1(hash.toHex());
}

QSettings settings() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Marvesa"),
                     QStringLiteral("Marvesa"));
}

}  // namespace

bool isExportHeaders(const QStringList& headers) {
    const QStringList& expected = exportHeaders();
    if (headers.size() < expected.size())
        return false;
    for (int i = 0; i < expected.size(); ++i) {
        if (normalHeader(headers.at(i)) != normalHeader(expected.at(i)))
            return false;
    }
    for (int i = int(expected.size()); i < headers.size(); ++i) {
        if (!headers.at(i).trimmed().isEmpty())
            return false;
    }
    return true;
}

ColumnMapping exportMapping() {
    ColumnMapping m;
    for (int i = 0; i < 16; ++i)
        m.set(kExportColumns[i], i);
    return m;
}

ColumnMapping guessMapping(const QStringList& headers) {
    ColumnMapping m;
    for (int column = 0; column < headers.size(); ++column) {
        const QString h = foldForMatching(headers.at(column));
        if (h.isEmpty())
            continue;
        for (const HeaderWords& hw : headerWords()) {
            if (m.isMapped(hw.field))
                continue;
            bool found = false;
            for (const QString& w : hw.words) {
                if (h.contains(w)) {
                    found = true;
                    break;
                }
            }
            if (found) {
                m.set(hw.field, column);
                break;
            }
        }
    }
    return m;
}

ColumnMapping rememberedMapping(const QStringList& headers) {
    ColumnMapping m;
    const QStringList stored = settings().value(settingsKey(headers)).toStringList();
    if (stored.size() != kImportFieldCount)
        return m;
    for (int i = 0; i < kImportFieldCount; ++i) {
        const int column = stored.at(i).toInt();
        m.columns[i] = column < headers.size() ? column : -1;
    }
    return m;
}

void rememberMapping(const QStringList& headers, const ColumnMapping& mapping) {
    QStringList stored;
    for (int c : mapping.columns)
        stored << QString::number(c);
    QSettings s = settings();
    s.setValue(settingsKey(headers), stored);
    s.sync();
}

ColumnMapping mappingFor(const QStringList& headers) {
    if (isExportHeaders(headers))
        return exportMapping();
    const ColumnMapping remembered = rememberedMapping(headers);
    return remembered.isEmpty() ? guessMapping(headers) : remembered;
}

}  // namespace marvesa
