#include "ui/MainWindow.h"

namespace marvesa {

void TfrmMain::btnNewNucleoClick() {}
void TfrmMain::btnEditNucleoClick() {}
void TfrmMain::btnAnnNucleoClick() {}
void TfrmMain::btnSaveNucleoClick() {}
void TfrmMain::btnEliminaNucleoClick() {}
void TfrmMain::btnNewAnagClick() {}
void TfrmMain::btnEditAnagClick() {}
void TfrmMain::btnAnagAnnullaClick() {}
void TfrmMain::btnSaveAnagClick() {}
void TfrmMain::btnDelAnagClick() {}
void TfrmMain::btnExportClick() {}

}  // namespace marvesa
