#include "support/LogCapture.h"

#include <QMutex>

namespace
{
QMutex g_mutex;
QStringList g_lines;
QtMessageHandler g_previous = nullptr;

void handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    {
        QMutexLocker lock(&g_mutex);
        // The program's fixed lines go to the plain log ("default"); its
        // diagnostics keep their category in front, as Qt prints them.
        const QString category = QLatin1String(context.category ? context.category : "default");
        g_lines.append(category == QLatin1String("default")
                           ? message
                           : category + QStringLiteral(": ") + message);
    }
    if (g_previous && type != QtInfoMsg)
        g_previous(type, context, message);
}
} // namespace

LogCapture::LogCapture()
{
    g_lines.clear(); // nothing writes it until the handler below is installed
    g_previous = qInstallMessageHandler(handler);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(g_previous);
}

QStringList LogCapture::lines() const
{
    QMutexLocker lock(&g_mutex);
    return g_lines;
}

int LogCapture::count(const QString &line) const
{
    QMutexLocker lock(&g_mutex);
    return int(g_lines.count(line));
}
