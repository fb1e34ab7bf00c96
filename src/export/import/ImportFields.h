#pragma once

#include <QString>
#include <QStringList>
#include <QVector>
#include <vector>

namespace marvesa {

// The registry's fields a file's columns can be taken into, in the order the
// mapping step lists them: the family unit's, then the member's.
enum class ImportField {
    FamilyCode,    // CODICE_NUCLEO: groups the rows by it
    Description,   // DENOMINAZIONE
    Host,          // NOME_OSPITANTE
    Municipality,  // COMUNE
    Address,       // INDIRIZZO
    Telephone,     // TELEFONO
    EndOfHosting,  // TERMINE_ALLOGGIO
    Surname,       // COGNOME
    Name,          // NOME
    Sex,           // SESSO
    BirthDate,     // DATA_NASCITA
    BirthCountry,  // NAZIONE_NASCITA
    Citizenship,   // CITTADINANZA
    Relationship,  // GRADO_PARENTELA
    EntryDate,     // DATA_INGRESSO
    Border,        // FRONTIERA
    Note,          // NOTE
};
inline constexpr int kImportFieldCount = 17;

// How a field takes a value: as the window's control for it does.
struct ImportFieldInfo {
    ImportField field;
    const char* column;  // in TBL_NUCLEO or TBL_ANAGRAFICA
    const char* label;   // what the clerk reads ("Cognome")
    bool familyUnit;     // a column of the family unit (copied into its members)
    bool required;       // "Salva" refuses it empty
    bool upperCase;      // the window's edit turns letters into capitals
    bool trimmed;        // blanks and control characters go from both ends
};

const std::vector<ImportFieldInfo>& importFields();
const ImportFieldInfo& importField(ImportField field);

// Which column of the file each field takes its value from (-1: none).
struct ColumnMapping {
    QVector<int> columns = QVector<int>(kImportFieldCount, -1);

    int column(ImportField f) const { return columns.at(int(f)); }
    void set(ImportField f, int column) { columns[int(f)] = column; }
    bool isMapped(ImportField f) const { return column(f) >= 0; }
    bool isEmpty() const;
    friend bool operator==(const ColumnMapping& a, const ColumnMapping& b) {
        return a.columns == b.columns;
    }
};

// Whether `headers` are those of the workbook "Esporta" makes (case and
// blanks around them do not count), and the mapping of its sixteen columns:
// its first column, headed "Denominazione nucleo familiare", becomes the
// description of the family unit (the export writes the family code there;
// the imported family unit gets a newly drawn code of its own).
bool isExportHeaders(const QStringList& headers);
ColumnMapping exportMapping();

// A first guess for a file of another kind, from the headers' words
// ("Città" and "Comune di residenza" for the municipality, "Data di nascita"
// and "Nato il" for the birth date, ...).
ColumnMapping guessMapping(const QStringList& headers);

// The mapping chosen earlier for a file with these headers, kept in the
// program's settings; empty when none was.
ColumnMapping rememberedMapping(const QStringList& headers);
void rememberMapping(const QStringList& headers, const ColumnMapping& mapping);

// The mapping for a file: the export's own, or the one remembered for its
// headers, or the guess.
ColumnMapping mappingFor(const QStringList& headers);

}  // namespace marvesa
