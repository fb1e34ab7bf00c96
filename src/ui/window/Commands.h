#pragma once

#include <QString>

namespace marvesa {

class FileOpener;
class TdmMarvesa;

// Deletes the current family unit with every member that carries its code,
// in one transaction with the members the database holds at that moment
// (registry/FamilyUnitDeletion). "Elimina" and Ctrl+Delete in the
// family-unit grid both use it, after their own confirmation, so no member
// is ever left behind without its family unit. When the database holds more
// members than the member table shows (another desk stored them meanwhile),
// the operator is told and asked again before anything is deleted.
void deleteFamilyUnitWithMembers(TdmMarvesa& dm);

// Where "Esporta" writes its spreadsheet and how it hands it to the operator;
// by default the private folder of the user and the desktop's application.
// Tests put their own.
struct ExportServices {
    QString folder;                // empty: the default private folder
    FileOpener* opener = nullptr;  // null: the desktop's application
};
void setExportServices(ExportServices services);

}  // namespace marvesa
