#include "data/cursor/Field.h"

#include "data/base/Error.h"
#include "data/base/TextRules.h"
#include "data/cursor/DataSet.h"

namespace marvesa {

Field::Field(DataSet* dataSet, ColumnDef def, int index)
    : m_dataSet(dataSet),
      m_def(std::move(def)),
      m_index(index),
      m_name(dataSet->name() + m_def.name) {}

Value Field::value() const {
    return m_dataSet->currentValue(m_index);
}

void Field::setValue(const Value& value) {
    m_dataSet->setCurrentValue(m_index, value, true);
}

QString Field::displayTextOf(const Value& value) {
    return value.isNull() ? QString() : value.toText();
}

QString Field::displayText() const {
    return displayTextOf(value());
}

void Field::setText(const QString& text) {
    if (m_onSetText) {
        m_onSetText(*this, text);
    } else {
        setDefaultText(text);
    }
}

void Field::setDefaultText(const QString& text) {
    switch (m_def.kind) {
        case FieldKind::Text:
        case FieldKind::Memo:
            setValue(Value::text(text));
            break;
        case FieldKind::DateTime:
            setValue(text.isEmpty() ? Value() : Value::date(dateFromText(text)));
            break;
        case FieldKind::Integer:
            setValue(text.isEmpty() ? Value() : Value::text(text));
            break;  // a number, or refused by setValue
        case FieldKind::Counter:
            setValue(Value::text(text));
            break;  // refused by setValue
    }
}

}  // namespace marvesa
