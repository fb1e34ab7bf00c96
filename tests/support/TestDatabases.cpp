#include "support/TestDatabases.h"

#include <QFile>

#include "data/schema/FileDatabase.h"
#include "data/schema/TableDefinitions.h"
#include "support/TestEngine.h"
#include "support/TestServer.h"

namespace marvesa::test {

namespace {

void copyFile(const QString& from, const QString& to) {
    if (!QFile::copy(from, to))
        qFatal("cannot copy the template database %s to %s", qPrintable(from), qPrintable(to));
    QFile::setPermissions(to, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

}  // namespace

RegistryTemplate::RegistryTemplate(const Seed& seed) {
    if (onServer()) {
        TestServer& server = TestServer::instance();
        if (!seed) {
            m_location = TestServer::blankTemplate();
            return;
        }
        const QString made = server.newDatabase();
        seed(made);
        m_location = server.nameOf(made);
        return;
    }
    if (!m_dir.isValid())
        qFatal("cannot make a temporary folder for the template database");
    m_location = m_dir.filePath(QStringLiteral("template.mdb"));
    if (!seed) {
        schema::createDatabase(m_location);
        return;
    }
    copyFile(blank().location(), m_location);
    seed(m_location);
}

const RegistryTemplate& RegistryTemplate::blank() {
    static const RegistryTemplate made;
    return made;
}

QString RegistryTemplate::copy(const QTemporaryDir& dir, const QString& fileName) const {
    if (onServer())
        return TestServer::instance().newDatabase(m_location);
    const QString path = dir.filePath(fileName);
    copyFile(m_location, path);
    return path;
}

QString newDatabase(const QTemporaryDir& dir, const QString& name) {
    return RegistryTemplate::blank().copy(dir, name);
}

}  // namespace marvesa::test
