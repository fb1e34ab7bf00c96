#include "data/base/Error.h"

namespace marvesa {

Error::Error(QString message, std::shared_ptr<Error> inner)
    : m_message(std::move(message)), m_utf8(m_message.toUtf8()), m_inner(std::move(inner)) {}

Error::Error(QString message, QString detail)
    : m_message(std::move(message)), m_detail(std::move(detail)), m_utf8(m_message.toUtf8()) {}

QString Error::innermostMessage() const {
    QString found;
    for (const Error* e = m_inner.get(); e; e = e->inner()) {
        if (!e->message().isEmpty())
            found = e->message();
    }
    return found.isEmpty() ? m_message : found;
}

Abort::Abort() : Error(QString()) {}

Error dataSetError(const QString& componentName, const QString& text) {
    return Error(componentName + QStringLiteral(": ") + text);
}

}  // namespace marvesa
