#include "data/registry/AccessRole.h"

#include "data/sql/QtSqlEngine.h"

namespace marvesa {

QString AccessRights::storeRefusal() const {
    if (canStore)
        return QString();
    return QStringLiteral(
               "Il ruolo %1 di questa postazione permette solo di consultare il registro: non si "
               "possono creare, modificare o cancellare nuclei e componenti.")
        .arg(roleName);
}

QString AccessRights::exportRefusal() const {
    if (canExport)
        return QString();
    return QStringLiteral("Il ruolo %1 di questa postazione non permette di esportare i dati.")
        .arg(roleName);
}

QString AccessRights::administerRefusal() const {
    if (canAdminister)
        return QString();
    return QStringLiteral(
               "Solo il ruolo %1 può anonimizzare, cancellare dati personali e importare: "
               "questa postazione ha il ruolo %2.")
        .arg(QLatin1String(kAdministratorRole), roleName);
}

AccessRights readAccessRights(Engine& engine) {
    AccessRights rights;
    auto* sql = dynamic_cast<QtSqlEngine*>(&engine);
    if (!sql || sql->dialect() != SqlDialect::PostgreSQL)
        return rights;
    // The rights themselves, not the role's name: a login given rights by
    // hand gets what they allow. Changing the history (the anonymisation)
    // also needs the owner or marvesa_amministratore, as the history's
    // trigger asks of the events it records.
    const QString member = QStringLiteral(
        "EXISTS (SELECT 1 FROM pg_roles r WHERE r.rolname = '%1' AND "
        "pg_has_role(current_user, r.oid, 'MEMBER'))");
    const QString query =
        QStringLiteral(
            "SELECT CASE WHEN %1 THEN '%4' WHEN %2 THEN '%5' WHEN %3 THEN '%6' ELSE "
            "current_user::text END, "
            "has_table_privilege('\"TBL_NUCLEO\"', 'INSERT, UPDATE, DELETE') AND "
            "has_table_privilege('\"TBL_ANAGRAFICA\"', 'INSERT, UPDATE, DELETE'), "
            "has_table_privilege('\"TBL_EXPORT\"', 'INSERT, DELETE') AND "
            "has_table_privilege('\"TBL_STORICO\"', 'INSERT'), "
            "has_column_privilege('\"TBL_STORICO\"', 'VALORI', 'UPDATE') AND (%1 OR "
            "pg_has_role(current_user, (SELECT relowner FROM pg_class WHERE oid = "
            "to_regclass('\"TBL_STORICO\"')), 'MEMBER'))")
            .arg(member.arg(QLatin1String(kAdministratorRole)),
                 member.arg(QLatin1String(kOperatorRole)), member.arg(QLatin1String(kReaderRole)),
                 QLatin1String(kAdministratorRole), QLatin1String(kOperatorRole),
                 QLatin1String(kReaderRole));
    sql->select(
        query, {},
        [&](const QVector<QVariant>& row) {
            rights.roleName = row.at(0).toString();
            rights.canStore = row.at(1).toBool();
            rights.canExport = row.at(2).toBool();
            rights.canAdminister = row.at(3).toBool();
            return false;
        },
        QStringLiteral("Impossibile leggere i permessi del ruolo"));
    return rights;
}

}  // namespace marvesa
