#include "data/registry/FamilyUnitDeletion.h"

#include "data/registry/DataModule.h"
#include "data/sql/WriteTransaction.h"

namespace marvesa {

namespace {

const QString kCode = QStringLiteral("CODICE_NUCLEO");

qint64 counterOf(const QVariant& v) {
    return v.toLongLong();
}

}  // namespace

FamilyUnitDeletion deleteCurrentFamilyUnit(TdmMarvesa& dm, int membersAgreed) {
    DataSet& families = dm.TBL_NUCLEO;
    DataSet& members = dm.TBL_ANAGRAFICA;
    if (families.state() == dsInsert) {
        families.remove();
        return {true, 0};
    }
    const Value shownCode = families.fieldValue(kCode);
    // With no family unit at all this fails, as reading a NULL as text does.
    if (!(shownCode.isNull() && !families.isEmpty()))
        shownCode.toText();
    members.cancel();
    families.cancel();
    const qint64 familyId = qint64(families.fieldValue(QStringLiteral("ID_NUCLEO")).toDouble());

    Engine& engine = dm.cnQuaz.engine();
    std::vector<RowChange> deletedMembers;
    {
        // No member of the family unit is stored or changed by another desk
        // between the count and the deletion; the family unit goes first, so
        // that a member stored after this transaction finds it gone.
        WriteTransaction transaction(engine, QStringLiteral("TBL_ANAGRAFICA"));
        // The code as the database holds it. When another desk deleted the
        // family unit meanwhile, the members that still carry the code shown
        // go all the same, never to be left without it, unless a family unit
        // carrying that code stands again: they are its members.
        QVariant code = shownCode.isNull() ? QVariant() : QVariant(shownCode.toText());
        engine.select(
            QStringLiteral(
                "DELETE FROM \"TBL_NUCLEO\" WHERE \"ID_NUCLEO\" = ? RETURNING \"CODICE_NUCLEO\""),
            {familyId}, [&](const QVector<QVariant>& row) {
                code = row.value(0);
                return true;
            });
        if (!code.isNull()) {
            engine.select(
                QStringLiteral("DELETE FROM \"TBL_ANAGRAFICA\" WHERE \"CODICE_NUCLEO\" = "
                               "? AND NOT EXISTS (SELECT 1 FROM \"TBL_NUCLEO\" WHERE "
                               "\"CODICE_NUCLEO\" = ?) RETURNING \"ID_ANAGRAFICA\""),
                {code, code}, [&](const QVector<QVariant>& row) {
                    deletedMembers.push_back(
                        {members.tableName(), counterOf(row.value(0)), RowChange::Kind::Deleted});
                    return true;
                });
        }
        if (int(deletedMembers.size()) > membersAgreed)
            return {false, int(deletedMembers.size())};
        transaction.commit();
    }
    // What was deleted leaves the tables, the members first: the family
    // table then moves to the next family unit and the member table follows.
    members.applyRowChanges(deletedMembers);
    families.applyRowChanges({{families.tableName(), familyId, RowChange::Kind::Deleted}});
    return {true, int(deletedMembers.size())};
}

}  // namespace marvesa
