#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <vector>

#include "data/registry/History.h"

namespace marvesa {

// The record history as the clerk reads it: one Italian line per row, the
// local date and time, who and from which computer, then what changed:
//
//   12/03/2026 10:41, mrossi su UFFICIO-2: Cognome ROSI → ROSSI (componente ROSSI MARIO)
//   12/03/2026 10:40, mrossi su UFFICIO-2: inserito il componente ROSI MARIO
//   12/03/2026 10:39, un altro programma: creato il nucleo familiare QX123
//
// `entries` as read (newest first); the lines in the same order. A member is
// named as its rows left it; `memberNames` gives the names the caller knows
// (the members shown now) for rows that do not say it.
QStringList historyLines(const std::vector<HistoryEntry>& entries,
                         const QHash<qint64, QString>& memberNames = {});

// The name the window gives a column of TBL_NUCLEO or TBL_ANAGRAFICA
// ("Cognome", "Ospitante", "Termine Ospitalità"); the column's own name when
// it has none.
QString historyColumnLabel(const QString& table, const QString& column);

}  // namespace marvesa
