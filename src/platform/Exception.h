#pragma once

#include <QString>
#include <QByteArray>
#include <exception>

// The program's exception class. A failure while one file is converted is caught as this class
// and its message recorded on the item; any other kind of exception ends the thread it runs on.
class Exception : public std::exception {
public:
    explicit Exception(QString message);
    ~Exception() override;

    const QString& Message() const noexcept { return FMessage; }
    const char* what() const noexcept override;

private:
    QString FMessage;
    QByteArray FUtf8;
};
