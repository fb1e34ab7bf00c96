#pragma once

#include <QByteArray>
#include <QString>
#include <exception>
#include <memory>

namespace marvesa {

// The one error type of the program. An error carries the text the operator
// will read and, where one failure caused another, the error that caused it.
// Errors unwind to the application's top-level handler; nothing below it
// catches and hides them.
class Error : public std::exception {
public:
    explicit Error(QString message, std::shared_ptr<Error> inner = nullptr);
    // With the technical text of what failed (a database's or a library's
    // own words, often English) kept apart from the message as a detail,
    // which the operator may open but need not read.
    Error(QString message, QString detail);

    const QString& message() const { return m_message; }
    const QString& detail() const { return m_detail; }
    const Error* inner() const { return m_inner.get(); }
    const char* what() const noexcept override { return m_utf8.constData(); }

    // The message the operator is shown: that of the innermost error whose
    // message is not empty, or this error's own when none has one.
    QString innermostMessage() const;

private:
    QString m_message;
    QString m_detail;
    QByteArray m_utf8;
    std::shared_ptr<Error> m_inner;
};

// Stops an operation silently: the operator has already been told why (the
// required-field message of a "Salva" that a move went through). The
// top-level handler shows nothing for it.
class Abort : public Error {
public:
    Abort();
};

// Errors raised by a table cursor read "<component name>: <text>".
Error dataSetError(const QString& componentName, const QString& text);

}  // namespace marvesa
