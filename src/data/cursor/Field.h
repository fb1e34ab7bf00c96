#pragma once

#include <QString>
#include <functional>

#include "data/base/Value.h"
#include "data/schema/TableDefinitions.h"

namespace marvesa {

class DataSet;

// A column object: one declared column of a table cursor, named after the
// cursor and the column ("TBL_NUCLEOTERMINE_ALLOGGIO").
class Field {
public:
    using SetTextHandler = std::function<void(Field& sender, const QString& text)>;

    const QString& name() const { return m_name; }
    const QString& fieldName() const { return m_def.name; }
    FieldKind kind() const { return m_def.kind; }
    int width() const { return m_def.width; }
    int index() const { return m_index; }
    DataSet& dataSet() const { return *m_dataSet; }
    bool isReadOnly() const { return m_def.kind == FieldKind::Counter; }

    // The value in the current row; NULL when there is none.
    Value value() const;
    // Writes a value (a text is cut to the column's width); only while the
    // table is in dsEdit or dsInsert.
    void setValue(const Value& value);
    void clear() { setValue(Value()); }

    // The text controls and grid cells show: the text, the counter's digits,
    // the date as dd/mm/yyyy (with the time when it is not midnight); nothing
    // for NULL.
    QString displayText() const;
    static QString displayTextOf(const Value& value);

    // Writes typed text into the column: the handler when one is attached,
    // otherwise the column's own rule (texts cut to width; dates converted,
    // the empty text giving NULL).
    void setText(const QString& text);
    void setDefaultText(const QString& text);
    void setOnSetText(SetTextHandler handler) { m_onSetText = std::move(handler); }

    // The input mask controls use for this column (date columns only).
    const QString& editMask() const { return m_editMask; }
    void setEditMask(const QString& mask) { m_editMask = mask; }

private:
    friend class DataSet;
    Field(DataSet* dataSet, ColumnDef def, int index);
    DataSet* m_dataSet;
    ColumnDef m_def;
    int m_index;
    QString m_name;
    QString m_editMask;
    SetTextHandler m_onSetText;
};

}  // namespace marvesa
