#pragma once

#include <QString>
#include <functional>

namespace marvesa {

class TdmMarvesa;

// Draws a family code: "QX" followed by n, with r = Random(29988279) + 987
// and n = Random(r) + 2 from the process-wide generator. A code that
// `isTaken` reports as already in use is drawn again, the same two draws
// repeated, so two family units never share a code (their members are
// linked by it).
QString drawFamilyCode(const std::function<bool(const QString& code)>& isTaken);

// Whether a stored family unit of the database already carries `code`.
bool familyCodeStored(TdmMarvesa& dm, const QString& code);

}  // namespace marvesa
