#pragma once

#include <QColor>
#include <QFont>
#include <QRect>
#include <QStringList>
#include <vector>

#include "ui/bound/DBGrid.h"

// The main window's layout as data: every rectangle, label and control with
// its place and look, in pixels at 96 dots per inch from the top-left corner
// of the client area. The window builds itself from these tables.
namespace marvesa::layout {

const QSize kClientSize(951, 737);

namespace colors {
const QColor kWindowBackground(0xD7, 0xDF, 0xE8);
const QColor kPanelBody(0xBA, 0xC8, 0xD8);
const QColor kPanelOutline(0x64, 0x97, 0xB1);
const QColor kDarkBlue(0x00, 0x5B, 0x96);
const QColor kGreen(0x00, 0x80, 0x00);
const QColor kRed(0xFF, 0x00, 0x00);
const QColor kWhite(0xFF, 0xFF, 0xFF);
const QColor kBlack(0x00, 0x00, 0x00);
}  // namespace colors

// Character heights of the three font sizes: 8, 10 and 11 points at 96 dpi.
const int kPixels8pt = 11;
const int kPixels10pt = 13;
const int kPixels11pt = 15;

// The window's typeface, "Tahoma", at a pixel height (a close sans-serif
// where Tahoma is missing).
QFont windowFont(int pixelSize, bool bold = false);
// Makes a Tahoma-compatible face known to the application when the system
// has none under that name (the Wine fonts carry one).
void ensureTypeface();

struct ShapeEntry {
    const char* name;
    QRect rect;
    QColor fill;
    QColor outline;
};

enum class LabelLook {
    Header,   // 11 pt bold, highlighted-text colour
    Caption,  // 8 pt bold, dark blue
    Warning,  // 8 pt bold, red
};

struct LabelEntry {
    const char* name;
    const char* caption;
    QRect rect;
    LabelLook look;
    // The control this caption names (null for the headers): assistive
    // technology reads the caption as that control's label.
    const char* captionFor;
};

enum class ControlKind { DataLabel, Edit, DropDown, LookupDropDown, Memo, Grid, Navigator, Button };

enum class Look {
    Default,  // the window's font: 8 pt regular, window text
    Bold8Green,
    Bold10Green,
    Bold8WindowText,
};

struct ControlEntry {
    const char* name;
    ControlKind kind;
    const char* dataSource;  // bound controls, grids and navigators
    const char* text;        // the bound column, or a button's caption
    QRect rect;
    Look look;
    bool upperCase;
    // What a screen reader calls the control; null: the button's caption.
    // The buttons that two panels share a caption with say their panel.
    const char* accessibleName;
};

const std::vector<ShapeEntry>& shapes();
const std::vector<LabelEntry>& labels();
const std::vector<ControlEntry>& controls();
// The tab stops in the order Tab walks them.
const QStringList& tabOrder();

// Items of the two drop-down lists.
const QStringList& sexItems();
const QStringList& relationshipItems();

// Lookup lists: the list data source and its key (= displayed) column.
struct LookupEntry {
    const char* control;
    const char* listSource;
    const char* keyColumn;
};
const std::vector<LookupEntry>& lookups();

// The office commands, "Importa", "Cerca" and "Riepilogo": small buttons at
// the right end of the family-unit header bar, where nothing else stands.
// They never take the focus (the keyboard reaches them by Ctrl+I, Ctrl+F and
// Ctrl+R).
struct OfficeButtonEntry {
    const char* name;
    const char* caption;
    QRect rect;
    const char* toolTip;
};
const std::vector<OfficeButtonEntry>& officeButtons();

// The commands on the record history and on personal data, as small buttons
// in the header bars: "Storico" and "Anonimizza" in the family-unit header,
// left of "Cerca"; "Cancella dati personali" at the right end of the member
// header. They never take the focus either (Ctrl+H, Ctrl+Maiusc+A,
// Ctrl+Maiusc+Canc).
const std::vector<OfficeButtonEntry>& recordButtons();

// Columns of the two grids.
std::vector<GridColumn> familyGridColumns();  // DBGrid2
std::vector<GridColumn> memberGridColumns();  // DBGrid1

}  // namespace marvesa::layout
