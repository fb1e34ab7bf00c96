#pragma once

#include <QString>

namespace marvesa {

class DataSet;
class TdmMarvesa;

// The row of `table` whose counter column holds `id`, or -1.
int rowOfId(const DataSet& table, const QString& idColumn, qint64 id);

enum class GoToOutcome {
    Done,               // the family unit (and the member, when one was asked for) are current
    FamilyUnitMissing,  // no family unit with that counter exists any more
    MemberMissing,      // the family unit is current, the member does not exist any more
};

// Makes the family unit `familyId` the current row of TBL_NUCLEO with the
// cursor's own move, so that the member table follows it through its link,
// then makes the member `memberId` (0: none) the current row of
// TBL_ANAGRAFICA. A row the cursor has not read yet (stored meanwhile by
// another copy of the program) is looked for again after a refresh of its
// table. The tables must be browsing: a move would store a pending row.
GoToOutcome goToFamilyUnitAndMember(TdmMarvesa& dm, qint64 familyId, qint64 memberId);

}  // namespace marvesa
