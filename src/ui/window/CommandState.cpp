#include "ui/window/CommandState.h"

namespace marvesa {

const std::array<const char*, CommandButtonCount> kCommandButtonNames = {
    "btnNewNucleo",     "btnEditNucleo", "btnAnnNucleo", "btnSaveNucleo",
    "btnEliminaNucleo", "btnNewAnag",    "btnEditAnag",  "btnAnagAnnulla",
    "btnSaveAnag",      "btnDelAnag",    "btnExport",    "btnExit",
};

namespace {

constexpr bool E = true;
constexpr bool D = false;

//                                        NewN EditN AnnN SaveN ElimN NewA EditA AnnA SaveA DelA Exp
//                                        Exit
constexpr CommandButtonStates kFamilyEditing{D, D, E, E, D, D, D, D, D, D, D, D};
constexpr CommandButtonStates kMemberEditing{D, D, D, D, D, D, D, E, E, D, D, D};
constexpr CommandButtonStates kBrowsing{E, E, D, D, E, E, E, D, D, E, E, E};

}  // namespace

std::optional<CommandButtonStates> commandStatesFor(CommandPanel panel, DataSetState state) {
    switch (state) {
        case dsEdit:
        case dsInsert:
            return panel == CommandPanel::FamilyUnit ? kFamilyEditing : kMemberEditing;
        case dsBrowse:
            return kBrowsing;
        case dsInactive:
            break;
    }
    return std::nullopt;
}

}  // namespace marvesa
