#include "data/registry/FamilyCode.h"

#include "data/base/Random.h"
#include "data/registry/DataModule.h"

namespace marvesa {

QString drawFamilyCode(const std::function<bool(const QString& code)>& isTaken) {
    for (;;) {
        const std::uint32_t r = Random::next(29988279) + 987;
        const std::uint32_t n = Random::next(r) + 2;
        const QString code = QStringLiteral("QX") + QString::number(n);
        if (!isTaken || !isTaken(code))
            return code;
    }
}

bool familyCodeStored(TdmMarvesa& dm, const QString& code) {
    ReadRequest request;
    request.table = dm.TBL_NUCLEO.tableName();
    request.columns = QStringList{QStringLiteral("CODICE_NUCLEO")};
    request.filterColumn = QStringLiteral("CODICE_NUCLEO");
    request.filterValue = code;
    return !dm.cnQuaz.engine().read(request).empty();
}

}  // namespace marvesa
