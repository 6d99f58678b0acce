#include "platform/Log.h"

#include <QDebug>

namespace platform
{
void log(const QString &line)
{
    qInfo().noquote() << line;
}
} // namespace platform
