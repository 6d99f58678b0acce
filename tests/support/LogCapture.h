#pragma once

#include <QString>
#include <QStringList>

// Collects the program's log lines while it lives, so a test can check the
// exact texts the viewer writes. A diagnostic of a logging category comes as
// "category: message". One at a time.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList lines() const;
    int count(const QString &line) const;
};
