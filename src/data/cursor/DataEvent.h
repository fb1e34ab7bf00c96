#pragma once

#include <QString>

namespace marvesa {

enum DataSetState { dsInactive, dsBrowse, dsEdit, dsInsert };

enum DataEvent {
    deFieldChange,      // one column of the current row received a value
    deRecordChange,     // the current row entered dsEdit
    deDataSetChange,    // the rows or the current row were established anew
    deDataSetScroll,    // next or prior moved the current row (or a flag)
    deUpdateRecord,     // bound controls write their unwritten text
    deUpdateState,      // the state changed
    deCheckBrowseMode,  // a pending edit is about to be ended
};

QString stateName(DataSetState state);

}  // namespace marvesa
