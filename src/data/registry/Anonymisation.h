#pragma once

#include <QDate>
#include <QString>
#include <QStringList>
#include <vector>

namespace marvesa {

class Engine;
class QtSqlEngine;

// How long the personal data of a family unit are kept after its hosting
// ended: the setting "conservazioneMesi" of the "Marvesa" settings (the
// user's own file over the one for the whole computer), 24 months when it
// is missing or not a whole number above 0.
int retentionMonths();
inline constexpr int kDefaultRetentionMonths = 24;

// A family unit whose hosting ended before the retention period and whose
// rows still hold personal data.
struct DueFamilyUnit {
    qint64 id = 0;
    QString code;
    QString description;
    QString host;
    QString municipality;
    QDate endOfHosting;
    int members = 0;
};

// The family units due on `today`: an end of hosting more than `months`
// months before it (and no family unit carrying the same code still
// hosted), with personal data left in the family unit or its members;
// earliest end first.
std::vector<DueFamilyUnit> dueFamilyUnits(Engine& engine, const QDate& today, int months);

// What the anonymisation changes, as the administrator reads it before
// saying yes: what is erased and what stays (from personalColumns()).
QString erasureExplanation();

// The members of the family units `familyIds`, each as "ROSSI MARIO, nato/a
// il 04/03/1980 → 01/01/1980": the preview of what their rows become.
QStringList erasurePreview(Engine& engine, const std::vector<qint64>& familyIds);

// What an anonymisation changed.
struct ErasureOutcome {
    int familyUnits = 0;
    int members = 0;
    int historyRows = 0;  // rows of TBL_STORICO rewritten
    int exportRows = 0;   // rows of TBL_EXPORT erased
};

// Anonymises the family units of `familyIds` that are still due (looked at
// again inside the transaction, on `today` with `months`), in one write
// transaction: every personal column of the family unit, of its members and
// of their rows in TBL_EXPORT erased (personalColumns()), the same values
// erased in the history rows of all of them, and one ANONIMIZZA row in the
// history for each family unit. On a file, what is overwritten leaves no
// trace in the file: freed space is overwritten, the search tables keep no
// old word and the write-ahead journal is emptied once it is written back.
// Throws marvesa::Error; a failure leaves everything as it was.
ErasureOutcome anonymiseFamilyUnits(QtSqlEngine& engine, const std::vector<qint64>& familyIds,
                                    const QDate& today, int months);

// The same for one person on request ("Cancella dati personali"): the
// member `memberId`, its history and its rows in TBL_EXPORT; the family
// unit keeps its own data. Recorded as an ANONIMIZZA row of the member.
ErasureOutcome erasePerson(QtSqlEngine& engine, qint64 memberId);

}  // namespace marvesa
