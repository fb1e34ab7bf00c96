#pragma once

#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>
#include <vector>

#include "data/base/Value.h"
#include "data/registry/DuplicateRule.h"
#include "export/import/ImportFields.h"
#include "export/import/ListMatcher.h"
#include "export/import/TableFile.h"

namespace marvesa {

class Engine;

// A member the import will store: the line it comes from and its values by
// ImportField (the family unit's fields are those of its family unit).
struct PlannedMember {
    int line = 0;
    QVector<Value> values;
    PersonFacts facts;
};

// A family unit of the import: a new one, or one already in the registry
// whose code the file names.
struct PlannedFamily {
    QVector<Value> values;  // the family unit's fields, by ImportField
    QString fileCode;       // the family code the file gives (empty: none)
    int firstLine = 0;
    // The registry's family unit of the same code, when there is one (0:
    // none), and whether the members go there (otherwise the family unit is
    // stored as a new one, under a newly drawn code).
    qint64 existingId = 0;
    QString existingText;  // "QX12 ROSSI (ospitante ..., Udine)"
    bool addToExisting = true;
    std::vector<PlannedMember> members;

    bool goesToExisting() const { return existingId > 0 && addToExisting; }
};

// A row that cannot be taken, with its cells as read and why, in Italian.
struct RejectedRow {
    int line = 0;
    QStringList cells;
    QString reason;
};

// Something the typing rules changed in a value that is taken (a text cut to
// its width, a municipality read as its list entry).
struct ImportNote {
    int line = 0;
    QString text;
};

// A member of the file that looks like one of the registry or like another
// row of the file.
struct ImportDuplicate {
    int line = 0;
    QString person;  // "ROSSI MARIO 12/05/1980"
    Resemblance resemblance;
    QString other;           // who it looks like, with the family unit
    qint64 otherMember = 0;  // in the registry; 0 for another row of the file
    int otherLine = 0;       // another row of the file; 0 for the registry
};

// Everything the clerk sees before anything is stored.
struct ImportPreview {
    TableFile file;
    ColumnMapping mapping;
    std::vector<PlannedFamily> families;
    std::vector<RejectedRow> rejected;
    std::vector<ImportNote> notes;
    std::vector<ImportDuplicate> duplicates;

    int newFamilies() const;
    int members() const;
    // The family units of the registry the file names by their code.
    std::vector<const PlannedFamily*> existingCodes() const;
    int likelyDuplicates() const;
    // The preview as text (the creation tool prints it).
    QString report() const;
};

// Reads the file's rows through the mapping and the typing rules, groups
// them into family units and compares every member with the registry and
// with the file's other rows. Reads the database; stores nothing.
ImportPreview planImport(Engine& engine, TableFile file, const ColumnMapping& mapping);

// The lists the values are matched against: the registry's municipalities
// and countries, the relationships of the window's list.
struct FieldRules {
    FieldRules(const QStringList& municipalities, const QStringList& countries);
    ListMatcher municipalities;
    ListMatcher countries;
    ListMatcher relationships;
    int year;  // two-digit years fall in the hundred years before year + 50
};

// A value as the window's control for `field` would store it: trimmed, in
// capitals, cut to the column's width, a date as the date fields read it, a
// list entry as the list spells it. `note` receives what was changed and
// `problem` why the value cannot be taken (both left empty when neither).
Value convertField(const FieldRules& rules, ImportField field, const ImportCell& cell,
                   QString* note, QString* problem);

// What storeImport() did.
struct ImportOutcome {
    int families = 0;
    int members = 0;
    QString rejectedFile;  // empty when no row was rejected
    bool cancelled = false;
};

// Stores the preview's family units and members in one write transaction:
// all of them or, on an error or when `progress` returns false, none. New
// family units get newly drawn codes (or the file's own, when it has the
// program's form and no family unit carries it). The rejected rows are
// written beside the source file (its name with "-scartate.csv"), with the
// column "Motivo", before the transaction commits.
ImportOutcome storeImport(Engine& engine, const ImportPreview& preview,
                          const std::function<bool(int done, int total)>& progress = {});

// Where the rejected rows of `source` go: beside it, a name not yet taken.
QString rejectedRowsPath(const QString& source);
// Writes them: the file's headers and "Motivo", then each row with its
// reason; UTF-8 with a byte order mark, ";" between fields, every field
// quoted. The file is readable by its owner alone.
void writeRejectedRows(const QString& path, const QStringList& headers,
                       const std::vector<RejectedRow>& rows);

}  // namespace marvesa
