#pragma once

namespace marvesa {

class TdmMarvesa;

// What became of a request to delete the current family unit.
struct FamilyUnitDeletion {
    // Whether the family unit (with its members) is gone; false when the
    // database held more members than agreed, and nothing was deleted.
    bool deleted = false;
    // The members the database held with the family unit's code.
    int storedMembers = 0;
};

// Deletes the current family unit of TBL_NUCLEO with every member that
// carries its code, as the database holds them at that moment, in one write
// transaction: another desk's member stored meanwhile goes with them, one
// stored after it is refused as a member of a family unit that no longer
// exists. Only when the members the database holds are no more than
// `membersAgreed` (those the operator was asked about); otherwise nothing is
// deleted and the count is returned, to ask again.
//
// A family unit stored without a code has no members and goes alone; with no
// family unit at all, reading its code fails with the conversion error of a
// NULL and nothing is deleted. A new family unit being inserted is abandoned
// (nothing stored, nothing deleted), as delete does; a pending edit of either
// table is abandoned first. Afterwards the tables no longer show what was
// deleted: the family table stands on the row that followed it (or the new
// last row) and the member table shows that family unit's members. Throws
// marvesa::Error; a failure deletes nothing.
FamilyUnitDeletion deleteCurrentFamilyUnit(TdmMarvesa& dm, int membersAgreed);

}  // namespace marvesa
