#include "ui/window/WindowLayout.h"

#include <QFile>
#include <QFontDatabase>

#include "data/schema/ReferenceLists.h"

namespace marvesa::layout {

QFont windowFont(int pixelSize, bool bold) {
    QFont font(QStringLiteral("Tahoma"));
    font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

void ensureTypeface() {
    static bool done = false;
    if (done)
        return;
    done = true;
    if (QFontDatabase::families().contains(QStringLiteral("Tahoma"), Qt::CaseInsensitive))
        return;
    for (const char* path :
         {"/usr/share/wine/fonts/tahoma.ttf", "/usr/share/wine/fonts/tahomabd.ttf"}) {
        const QString file = QString::fromLatin1(path);
        if (QFile::exists(file))
            QFontDatabase::addApplicationFont(file);
    }
}

const std::vector<ShapeEntry>& shapes() {
    using namespace colors;
    static const std::vector<ShapeEntry> table = {
        // name      left  top  width height  fill               outline
        {"Shape2", {25, 16, 903, 25}, kDarkBlue, kWhite},           // family-unit header bar
        {"Shape1", {25, 41, 903, 320}, kPanelBody, kPanelOutline},  // family-unit body
        {"Shape6", {41, 152, 424, 25}, kDarkBlue, kWhite},          // host header bar
        {"Shape5", {41, 178, 424, 167}, kWindowBackground, kPanelOutline},  // host body
        {"Shape4", {25, 372, 903, 25}, kDarkBlue, kWhite},                  // member header bar
        {"Shape3", {26, 398, 903, 323}, kPanelBody, kPanelOutline},         // member body
    };
    return table;
}

const std::vector<LabelEntry>& labels() {
    using L = LabelLook;
    static const std::vector<LabelEntry> table = {
        {"Label20", "Nucleo Familiare", {41, 20, 127, 18}, L::Header, nullptr},
        {"Label1", "Codice Nucleo", {42, 57, 77, 13}, L::Caption, "edtCodiceNucleo"},
        {"Label2", "Denominazione Nucleo", {41, 110, 127, 13}, L::Caption, "edtDescNucleo"},
        {"Label13", "Lista Nuclei", {490, 110, 63, 13}, L::Caption, "DBGrid2"},
        {"Label24", "Dati della Persona che ospita", {49, 154, 217, 18}, L::Header, nullptr},
        {"Label11", "Nome Ospitante", {49, 192, 90, 13}, L::Caption, "dbeOspite"},
        {"Label25", "Comune", {49, 240, 46, 13}, L::Caption, "dbeComune"},
        {"Label12", "Indirizzo", {212, 239, 49, 13}, L::Caption, "dbeIndirizzo"},
        {"Label26",
         "Contatti telefonici (solo numeri separati da spazi)",
         {49, 294, 279, 13},
         L::Caption,
         "dbeTelefono"},
        {"Label19", "Termine Ospitalità", {342, 294, 104, 13}, L::Warning, "dbeDataTermine"},
        {"Label9",
         "Dati Anagrafici dei componenti il Nucleo Familiare",
         {40, 375, 374, 18},
         L::Header,
         nullptr},
        {"Label3", "Codice Nucleo", {43, 414, 77, 13}, L::Caption, "dbeNucleoAnag"},
        {"Label4", "Cognome", {42, 474, 53, 13}, L::Caption, "dbeCognome"},
        {"Label5", "Nome", {304, 475, 32, 13}, L::Caption, "dbeNome"},
        {"Label6", "Sesso", {565, 475, 33, 13}, L::Caption, "dbeSesso"},
        {"Label7", "Data Nascita", {619, 475, 71, 13}, L::Caption, "dbeDataNascita"},
        {"Label8", "Nazione Nascita", {712, 475, 88, 13}, L::Caption, "dbeNazNascita"},
        {"Label10", "Cittadinanza", {42, 525, 71, 13}, L::Caption, "dbeCittadinanza"},
        {"Label14", "Grado Parntela", {303, 525, 85, 13}, L::Caption, "dbeParentela"},
        {"Label16", "Data Ingresso", {473, 525, 80, 13}, L::Caption, "dbeDataIngresso"},
        {"Label17",
         "Frontiera Ingresso (Stato UE)",
         {566, 525, 166, 13},
         L::Caption,
         "dbeFrontiera"},
        {"Label21", "Componenti Nucleo", {44, 573, 108, 13}, L::Caption, "DBGrid1"},
        {"Label18", "Note - Esigenze Particolari", {720, 573, 147, 13}, L::Caption, "DBMemo2"},
    };
    return table;
}

const std::vector<ControlEntry>& controls() {
    using K = ControlKind;
    using F = Look;
    static const char* const N = "dsNUCLEO";
    static const char* const A = "dsANAGRAFICA";
    static const std::vector<ControlEntry> table = {
        // Family-unit panel.
        // name              kind                source column / caption      left top  width height
        // look          upper  accessible name
        {"edtCodiceNucleo",
         K::DataLabel,
         N,
         "CODICE_NUCLEO",
         {42, 76, 97, 16},
         F::Bold10Green,
         false,
         "Codice Nucleo"},
        {"DBNavigator2",
         K::Navigator,
         N,
         nullptr,
         {205, 51, 260, 25},
         F::Default,
         false,
         "Scorri i nuclei"},
        {"btnNewNucleo",
         K::Button,
         nullptr,
         "Crea Nucleo",
         {488, 51, 79, 46},
         F::Default,
         false,
         nullptr},
        {"btnEditNucleo",
         K::Button,
         nullptr,
         "Modifica",
         {573, 51, 79, 46},
         F::Default,
         false,
         "Modifica nucleo"},
        {"btnAnnNucleo",
         K::Button,
         nullptr,
         "Annulla",
         {658, 51, 79, 46},
         F::Default,
         false,
         "Annulla nucleo"},
        {"btnEliminaNucleo",
         K::Button,
         nullptr,
         "Elimina",
         {743, 52, 90, 45},
         F::Default,
         false,
         "Elimina nucleo"},
        {"btnSaveNucleo",
         K::Button,
         nullptr,
         "Salva",
         {839, 51, 66, 46},
         F::Default,
         false,
         "Salva nucleo"},
        {"edtDescNucleo",
         K::Edit,
         N,
         "DENOMINAZIONE",
         {40, 128, 425, 21},
         F::Bold8Green,
         true,
         "Denominazione Nucleo"},
        {"DBGrid2", K::Grid, N, nullptr, {488, 129, 417, 216}, F::Default, false, "Lista Nuclei"},
        {"dbeOspite",
         K::Edit,
         N,
         "NOME_OSPITANTE",
         {49, 211, 400, 21},
         F::Bold8Green,
         true,
         "Nome Ospitante"},
        {"dbeComune",
         K::LookupDropDown,
         N,
         "COMUNE",
         {49, 256, 157, 21},
         F::Bold8Green,
         false,
         "Comune"},
        {"dbeIndirizzo",
         K::Edit,
         N,
         "INDIRIZZO",
         {212, 256, 237, 21},
         F::Bold8Green,
         true,
         "Indirizzo"},
        {"dbeTelefono",
         K::Edit,
         N,
         "TELEFONO",
         {49, 313, 287, 21},
         F::Bold8Green,
         true,
         "Contatti telefonici (solo numeri separati da spazi)"},
        {"dbeDataTermine",
         K::Edit,
         N,
         "TERMINE_ALLOGGIO",
         {342, 313, 104, 21},
         F::Bold8Green,
         false,
         "Termine Ospitalità"},
        {"DBEdit1",
         K::Edit,
         N,
         "CODICE_NUCLEO",
         {179, 411, 45, 21},
         F::Default,
         false,
         "Codice Nucleo"},
        // Member panel.
        {"dbeNucleoAnag",
         K::DataLabel,
         A,
         "CODICE_NUCLEO",
         {44, 433, 95, 17},
         F::Bold10Green,
         false,
         "Codice Nucleo"},
        {"btnNewAnag",
         K::Button,
         nullptr,
         "Nuovo",
         {242, 409, 80, 50},
         F::Default,
         false,
         "Nuovo componente"},
        {"btnEditAnag",
         K::Button,
         nullptr,
         "Modifica",
         {328, 409, 80, 50},
         F::Default,
         false,
         "Modifica componente"},
        {"btnDelAnag",
         K::Button,
         nullptr,
         "Elimina",
         {414, 409, 80, 50},
         F::Default,
         false,
         "Elimina componente"},
        {"btnAnagAnnulla",
         K::Button,
         nullptr,
         "Annulla",
         {501, 409, 80, 50},
         F::Default,
         false,
         "Annulla componente"},
        {"btnSaveAnag",
         K::Button,
         nullptr,
         "Salva",
         {587, 409, 80, 50},
         F::Default,
         false,
         "Salva componente"},
        {"btnExport",
         K::Button,
         nullptr,
         "Esporta",
         {673, 409, 80, 50},
         F::Default,
         false,
         nullptr},
        {"btnExit",
         K::Button,
         nullptr,
         "Chiudi Programma",
         {759, 409, 146, 50},
         F::Default,
         false,
         nullptr},
        {"dbeCognome",
         K::Edit,
         A,
         "COGNOME",
         {42, 490, 255, 21},
         F::Bold8WindowText,
         true,
         "Cognome"},
        {"dbeNome", K::Edit, A, "NOME", {304, 490, 256, 21}, F::Bold8WindowText, true, "Nome"},
        {"dbeSesso",
         K::DropDown,
         A,
         "SESSO",
         {564, 489, 47, 22},
         F::Bold8WindowText,
         true,
         "Sesso"},
        {"dbeDataNascita",
         K::Edit,
         A,
         "DATA_NASCITA",
         {617, 490, 89, 21},
         F::Bold8WindowText,
         false,
         "Data Nascita"},
        {"dbeNazNascita",
         K::LookupDropDown,
         A,
         "NAZIONE_NASCITA",
         {712, 490, 193, 21},
         F::Bold8WindowText,
         false,
         "Nazione Nascita"},
        {"dbeCittadinanza",
         K::LookupDropDown,
         A,
         "CITTADINANZA",
         {42, 542, 255, 21},
         F::Bold8WindowText,
         false,
         "Cittadinanza"},
        {"dbeParentela",
         K::DropDown,
         A,
         "GRADO_PARENTELA",
         {303, 541, 162, 22},
         F::Default,
         false,
         "Grado Parntela"},
        {"dbeDataIngresso",
         K::Edit,
         A,
         "DATA_INGRESSO",
         {473, 541, 87, 21},
         F::Default,
         false,
         "Data Ingresso"},
        {"dbeFrontiera",
         K::Edit,
         A,
         "FRONTIERA",
         {566, 541, 339, 21},
         F::Default,
         true,
         "Frontiera Ingresso (Stato UE)"},
        {"DBGrid1",
         K::Grid,
         A,
         nullptr,
         {41, 589, 662, 111},
         F::Default,
         false,
         "Componenti Nucleo"},
        {"DBMemo2",
         K::Memo,
         A,
         "NOTE",
         {720, 589, 185, 79},
         F::Bold8Green,
         false,
         "Note - Esigenze Particolari"},
        {"DBNavigator1",
         K::Navigator,
         A,
         nullptr,
         {720, 675, 185, 25},
         F::Default,
         false,
         "Scorri i componenti"},
    };
    return table;
}

const QStringList& tabOrder() {
    static const QStringList order = {
        QStringLiteral("edtDescNucleo"), QStringLiteral("dbeOspite"),
        QStringLiteral("dbeComune"),     QStringLiteral("dbeIndirizzo"),
        QStringLiteral("dbeTelefono"),   QStringLiteral("dbeDataTermine"),
        QStringLiteral("dbeCognome"),    QStringLiteral("dbeNome"),
        QStringLiteral("dbeSesso"),      QStringLiteral("dbeDataNascita"),
        QStringLiteral("dbeNazNascita"), QStringLiteral("dbeCittadinanza"),
        QStringLiteral("dbeParentela"),  QStringLiteral("dbeDataIngresso"),
        QStringLiteral("dbeFrontiera"),  QStringLiteral("DBMemo2"),
        QStringLiteral("btnNewNucleo"),  QStringLiteral("btnSaveNucleo"),
        QStringLiteral("btnEditNucleo"), QStringLiteral("btnNewAnag"),
        QStringLiteral("btnEditAnag"),   QStringLiteral("btnSaveAnag"),
        QStringLiteral("btnDelAnag"),    QStringLiteral("btnExport"),
        QStringLiteral("btnExit"),       QStringLiteral("btnAnagAnnulla"),
        QStringLiteral("btnAnnNucleo"),  QStringLiteral("btnEliminaNucleo"),
    };
    return order;
}

const QStringList& sexItems() {
    return schema::sexItems();
}

const QStringList& relationshipItems() {
    return schema::relationshipItems();
}

const std::vector<LookupEntry>& lookups() {
    static const std::vector<LookupEntry> table = {
        {"dbeComune", "dsCOMUNI", "Denominazione"},
        {"dbeNazNascita", "dsNAZIONI", "Nazione"},
        {"dbeCittadinanza", "dsNAZIONI", "Nazione"},
    };
    return table;
}

const std::vector<OfficeButtonEntry>& officeButtons() {
    static const std::vector<OfficeButtonEntry> table = {
        // name          caption      left top width height  tooltip
        {"btnImporta",
         "Importa",
         {692, 18, 72, 21},
         "Importa nuclei e componenti da un file CSV o da un foglio di calcolo (Ctrl+I)"},
        {"btnCerca", "Cerca", {770, 18, 72, 21}, "Cerca un componente o un nucleo (Ctrl+F)"},
        {"btnRiepilogo", "Riepilogo", {848, 18, 76, 21}, "Riepilogo degli ospitati (Ctrl+R)"},
    };
    return table;
}

const std::vector<OfficeButtonEntry>& recordButtons() {
    static const std::vector<OfficeButtonEntry> table = {
        // name          caption      left top width height  tooltip
        {"btnAnonimizza",
         "Anonimizza",
         {528, 18, 86, 21},
         "Anonimizza i nuclei la cui ospitalità è terminata da più tempo di quanto i dati si "
         "conservano (Ctrl+Maiusc+A)"},
        {"btnStorico",
         "Storico",
         {614, 18, 72, 21},
         "Storico delle modifiche del nucleo e dei suoi componenti (Ctrl+H)"},
        {"btnCancellaDatiPersonali",
         "Cancella dati personali",
         {762, 374, 162, 21},
         "Cancella, su sua richiesta, i dati personali del componente (Ctrl+Maiusc+Canc)"},
    };
    return table;
}

std::vector<GridColumn> familyGridColumns() {
    return {
        {QStringLiteral("CODICE_NUCLEO"), QStringLiteral("Codice Nucleo"), 0},
        {QStringLiteral("DENOMINAZIONE"), QStringLiteral("Denominazione"), 64},
    };
}

std::vector<GridColumn> memberGridColumns() {
    return {
        {QStringLiteral("COGNOME"), QStringLiteral("Cognome"), 255},
        {QStringLiteral("NOME"), QStringLiteral("Nome"), 255},
        {QStringLiteral("SESSO"), QStringLiteral("Sesso"), 0},
        {QStringLiteral("DATA_NASCITA"), QStringLiteral("Data Nascita"), 64},
    };
}

}  // namespace marvesa::layout
