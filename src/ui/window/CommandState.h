#pragma once

#include <array>
#include <optional>

#include "data/cursor/DataSet.h"

namespace marvesa {

// Which of the twelve command buttons are enabled, in this order.
enum CommandButtonIndex {
    cbNewNucleo,
    cbEditNucleo,
    cbAnnNucleo,
    cbSaveNucleo,
    cbEliminaNucleo,
    cbNewAnag,
    cbEditAnag,
    cbAnagAnnulla,
    cbSaveAnag,
    cbDelAnag,
    cbExport,
    cbExit,
    CommandButtonCount
};
using CommandButtonStates = std::array<bool, CommandButtonCount>;

// The object names of the twelve buttons, in the order above.
extern const std::array<const char*, CommandButtonCount> kCommandButtonNames;

enum class CommandPanel { FamilyUnit, Member };

// The enabled set when the data source of `panel` enters `state`: while a
// table is being edited only its panel's "Salva" and "Annulla" are usable;
// back in dsBrowse every button but the four "Salva" and "Annulla" is. A
// table closing (dsInactive) changes nothing.
std::optional<CommandButtonStates> commandStatesFor(CommandPanel panel, DataSetState state);

}  // namespace marvesa
