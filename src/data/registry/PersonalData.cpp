#include "data/registry/PersonalData.h"

#include <QDateTime>

#include "data/base/Value.h"

namespace marvesa {

const std::vector<PersonalColumn>& personalColumns() {
    static const std::vector<PersonalColumn> columns{
        {"TBL_NUCLEO", "DENOMINAZIONE", Erasure::Blank},
        {"TBL_NUCLEO", "NOME_OSPITANTE", Erasure::Blank},
        {"TBL_NUCLEO", "INDIRIZZO", Erasure::Blank},
        {"TBL_NUCLEO", "TELEFONO", Erasure::Blank},

        {"TBL_ANAGRAFICA", "COGNOME", Erasure::Blank},
        {"TBL_ANAGRAFICA", "NOME", Erasure::Blank},
        {"TBL_ANAGRAFICA", "DATA_NASCITA", Erasure::QuarterStart},
        {"TBL_ANAGRAFICA", "INDIRIZZO", Erasure::Blank},
        {"TBL_ANAGRAFICA", "NOTE", Erasure::Blank},
        {"TBL_ANAGRAFICA", "TELEFONO", Erasure::Blank},
        {"TBL_ANAGRAFICA", "NOME_OSPITANTE", Erasure::Blank},
        // The surname and name as the duplicate check compares them.
        {"TBL_ANAGRAFICA", "CHIAVE_NOMINATIVO", Erasure::Blank},

        {"TBL_EXPORT", "COGNOME", Erasure::Blank},
        {"TBL_EXPORT", "NOME", Erasure::Blank},
        {"TBL_EXPORT", "DATA_NASCITA", Erasure::QuarterStart},
        {"TBL_EXPORT", "INDIRIZZO", Erasure::Blank},
        {"TBL_EXPORT", "NOME_OSPITANTE", Erasure::Blank},
        {"TBL_EXPORT", "TELEFONO", Erasure::Blank},
        {"TBL_EXPORT", "NOTE", Erasure::Blank},
    };
    return columns;
}

std::vector<const PersonalColumn*> personalColumnsOf(const QString& table) {
    std::vector<const PersonalColumn*> found;
    for (const PersonalColumn& c : personalColumns()) {
        if (table == QLatin1String(c.table))
            found.push_back(&c);
    }
    return found;
}

QDate quarterStart(const QDate& date) {
    return QDate(date.year(), (date.month() - 1) / 3 * 3 + 1, 1);
}

QVariant erasedValue(const QVariant& stored, Erasure erasure) {
    if (stored.isNull())
        return stored;
    switch (erasure) {
        case Erasure::Blank:
            return QVariant(QStringLiteral(""));
        case Erasure::QuarterStart: {
            QDateTime dt;
            if (stored.typeId() == QMetaType::QDateTime) {
                const QDateTime read = stored.toDateTime();
                dt = naiveDateTime(read.date(), read.time());
            } else {
                dt = dateTimeFromStorage(stored.toString());
            }
            // Something else another tool stored there may be the date
            // written otherwise: nothing of it stays.
            if (!dt.isValid())
                return QVariant();
            return dateTimeToStorage(naiveDateTime(quarterStart(dt.date())));
        }
    }
    return QVariant();
}

}  // namespace marvesa
