// Errors that end the command at hand. They travel up to where the event
// loop delivered the event (VtApplication::notify), which shows the general
// error box; the program goes on.
#pragma once

#include <QString>

#include <stdexcept>

class AppError : public std::runtime_error
{
public:
    explicit AppError(const QString& message)
        : std::runtime_error(message.toStdString()), m_message(message)
    {
    }
    const QString& message() const { return m_message; }

private:
    QString m_message;
};

// A number conversion that failed ("'%s' is not a valid integer value").
class ConversionError : public AppError
{
public:
    using AppError::AppError;
};

// A write the platform refused ("Unable to write to %s") or a folder that
// could not be created.
class WriteError : public AppError
{
public:
    using AppError::AppError;
};
