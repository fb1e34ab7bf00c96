#include "data/registry/Navigation.h"

#include "data/registry/DataModule.h"

namespace marvesa {

int rowOfId(const DataSet& table, const QString& idColumn, qint64 id) {
    const Field* f = table.findField(idColumn);
    if (!f || !table.active())
        return -1;
    const Value wanted = Value::integer(id);
    for (int row = 0; row < table.rowCount(); ++row) {
        if (table.valueAt(row, f->index()) == wanted)
            return row;
    }
    return -1;
}

namespace {

// The row of `id`, reading the table again once when it is not there.
int findRow(DataSet& table, const QString& idColumn, qint64 id) {
    int row = rowOfId(table, idColumn, id);
    if (row < 0) {
        table.refresh();
        row = rowOfId(table, idColumn, id);
    }
    return row;
}

}  // namespace

GoToOutcome goToFamilyUnitAndMember(TdmMarvesa& dm, qint64 familyId, qint64 memberId) {
    const QString familyIdColumn = QStringLiteral("ID_NUCLEO");
    const QString memberIdColumn = QStringLiteral("ID_ANAGRAFICA");
    const int familyRow = familyId > 0 ? findRow(dm.TBL_NUCLEO, familyIdColumn, familyId) : -1;
    if (familyRow < 0)
        return GoToOutcome::FamilyUnitMissing;
    dm.TBL_NUCLEO.moveTo(familyRow);
    if (memberId <= 0)
        return GoToOutcome::Done;
    const int memberRow = findRow(dm.TBL_ANAGRAFICA, memberIdColumn, memberId);
    if (memberRow < 0)
        return GoToOutcome::MemberMissing;
    dm.TBL_ANAGRAFICA.moveTo(memberRow);
    return GoToOutcome::Done;
}

}  // namespace marvesa
