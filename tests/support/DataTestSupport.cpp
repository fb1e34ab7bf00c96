#include "support/DataTestSupport.h"

namespace marvesa::test {

QString text(const DataSet& ds, const char* field) {
    const Value v = ds.fieldValue(QString::fromLatin1(field));
    return v.isNull() ? QStringLiteral("<NULL>") : v.toText();
}

Value txt(const char* s) {
    return Value::text(QString::fromUtf8(s));
}

QStringList L(const char* list) {
    return QString::fromUtf8(list).split(QLatin1Char('|'));
}

void set(DataSet& ds, const char* column, const char* value) {
    ds.setFieldValue(QString::fromLatin1(column), txt(value));
}

void change(DataSet& ds, const char* column, const char* value) {
    ds.edit();
    set(ds, column, value);
    ds.post();
}

void add(DataSet& ds, const char* column, const char* value) {
    ds.insert();
    set(ds, column, value);
    ds.post();
}

}  // namespace marvesa::test
