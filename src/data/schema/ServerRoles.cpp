#include "data/schema/ServerRoles.h"

#include <QVariant>

#include "data/base/Error.h"
#include "data/sql/SqlText.h"

namespace marvesa::schema {

namespace {

QString role(const char* name) {
    return quoteIdentifier(QString::fromLatin1(name));
}

QString allRoles() {
    return QStringList{role(kReaderRole), role(kOperatorRole), role(kAdministratorRole)}.join(
        QStringLiteral(", "));
}

QString writers() {
    return role(kOperatorRole) + QStringLiteral(", ") + role(kAdministratorRole);
}

}  // namespace

QStringList serverRoleStatements() {
    QStringList statements;
    for (const char* name : {kReaderRole, kOperatorRole, kAdministratorRole}) {
        // Another database of the same server may make the role at the same
        // moment: whoever comes second uses it.
        statements << QStringLiteral(
                          "DO $$ BEGIN IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = '%1') "
                          "THEN BEGIN CREATE ROLE %2 NOLOGIN; EXCEPTION WHEN duplicate_object OR "
                          "unique_violation THEN NULL; END; END IF; END $$")
                          .arg(QLatin1String(name), role(name));
    }
    return statements;
}

QStringList serverGrantStatements(const QString& schemaName, const QString& owner,
                                  const QStringList& tables) {
    const QString schema = quoteIdentifier(schemaName);
    // The tables named, those of them the database has.
    const auto t = [&](std::initializer_list<const char*> names) {
        QStringList found;
        for (const char* name : names) {
            if (tables.contains(QString::fromLatin1(name)))
                found << schema + QLatin1Char('.') + quoteIdentifier(QString::fromLatin1(name));
        }
        return found.join(QStringLiteral(", "));
    };
    QStringList statements{
        QStringLiteral("GRANT USAGE ON SCHEMA %1 TO %2").arg(schema, allRoles()),
        QStringLiteral("GRANT SELECT ON ALL TABLES IN SCHEMA %1 TO %2").arg(schema, allRoles()),
        QStringLiteral("ALTER DEFAULT PRIVILEGES FOR ROLE %1 IN SCHEMA %2 GRANT SELECT ON TABLES "
                       "TO %3")
            .arg(quoteIdentifier(owner), schema, allRoles()),
        // The counters of the rows the desks store.
        QStringLiteral("GRANT USAGE ON ALL SEQUENCES IN SCHEMA %1 TO %2").arg(schema, writers()),
        QStringLiteral("ALTER DEFAULT PRIVILEGES FOR ROLE %1 IN SCHEMA %2 GRANT USAGE ON "
                       "SEQUENCES TO %3")
            .arg(quoteIdentifier(owner), schema, writers()),
    };
    const auto grant = [&](const QString& what, const QString& on, const QString& to) {
        if (!on.isEmpty())
            statements << QStringLiteral("GRANT %1 ON %2 TO %3").arg(what, on, to);
    };
    grant(QStringLiteral("INSERT, UPDATE, DELETE"),
          t({"TBL_NUCLEO", "TBL_ANAGRAFICA", "TBL_EXPORT"}), writers());
    grant(QStringLiteral("INSERT"), t({"TBL_STORICO"}), writers());
    grant(QStringLiteral("UPDATE (\"VALORI\")"), t({"TBL_STORICO"}), role(kAdministratorRole));
    return statements;
}

ServerRoleFacts serverRoleFacts(const std::function<QVariant(const QString& sql)>& one) {
    ServerRoleFacts facts;
    facts.schemaName =
        one(QStringLiteral("SELECT n.nspname FROM pg_class c JOIN pg_namespace n ON n.oid = "
                           "c.relnamespace WHERE c.oid = to_regclass('\"TBL_NUCLEO\"')"))
            .toString();
    facts.tables = one(QStringLiteral("SELECT string_agg(c.relname, ',') FROM pg_class c WHERE "
                                      "c.relkind IN ('r', 'p') AND c.relnamespace = (SELECT "
                                      "relnamespace FROM pg_class WHERE oid = "
                                      "to_regclass('\"TBL_NUCLEO\"'))"))
                       .toString()
                       .split(QLatin1Char(','), Qt::SkipEmptyParts);
    facts.owner = one(QStringLiteral("SELECT pg_get_userbyid(relowner) FROM pg_class WHERE oid = "
                                     "to_regclass('\"TBL_NUCLEO\"')"))
                      .toString();
    facts.rolesExist = one(QStringLiteral("SELECT count(*) FROM pg_roles WHERE rolname IN "
                                          "('%1', '%2', '%3')")
                               .arg(QLatin1String(kReaderRole), QLatin1String(kOperatorRole),
                                    QLatin1String(kAdministratorRole)))
                           .toInt() == 3;
    facts.canCreateRoles = one(QStringLiteral("SELECT rolcreaterole OR rolsuper FROM pg_roles "
                                              "WHERE rolname = current_user"))
                               .toBool();
    return facts;
}

QString missingRolesMessage(const QString& server) {
    return QStringLiteral(
               "Il %1 non ha i ruoli %2, %3 e %4, e questa connessione non può crearli (serve un "
               "ruolo con CREATEROLE). L'amministratore del server li crea una volta, come "
               "utente postgres: psql -c \"CREATE ROLE %2 NOLOGIN\" -c \"CREATE ROLE %3 NOLOGIN\" "
               "-c \"CREATE ROLE %4 NOLOGIN\"; poi si ripete il comando")
        .arg(server, QLatin1String(kReaderRole), QLatin1String(kOperatorRole),
             QLatin1String(kAdministratorRole));
}

void applyServerRoles(const std::function<QVariant(const QString& sql)>& one,
                      const std::function<void(const QString& sql)>& run, bool createRoles,
                      const QString& server) {
    ServerRoleFacts facts = serverRoleFacts(one);
    if (!facts.rolesExist && createRoles) {
        if (!facts.canCreateRoles)
            throw Error(missingRolesMessage(server));
        for (const QString& sql : serverRoleStatements())
            run(sql);
        facts.rolesExist = true;
    }
    if (!facts.rolesExist || facts.schemaName.isEmpty())
        return;
    for (const QString& sql : serverGrantStatements(facts.schemaName, facts.owner, facts.tables))
        run(sql);
}

}  // namespace marvesa::schema
