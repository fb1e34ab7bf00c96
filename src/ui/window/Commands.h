#pragma once

#include <QString>

namespace marvesa {

class FileOpener;
class TdmMarvesa;

// Deletes the current family unit with every member that carries its code.
// "Elimina" and Ctrl+Delete in the family-unit grid both use it, so no member
// is ever left behind without its family unit.
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
