#pragma once
// Errors not handled where they happen travel as exceptions to the event loop,
// where one message box shows their text and the program goes on.

#include <QString>
#include <stdexcept>

class NarrabelError : public std::runtime_error {
public:
    explicit NarrabelError(const QString& message)
        : std::runtime_error(message.toUtf8().toStdString()) {}
    QString message() const { return QString::fromUtf8(what()); }
};
