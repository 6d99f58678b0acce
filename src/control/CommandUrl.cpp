#include "control/CommandUrl.h"

#include "platform/CameraAddress.h"

namespace CommandUrl
{

QString parameterString(ControlId id, const QString &value)
{
    return QString::number(quint32(id)) + QLatin1String("&group=1&value=") + value;
}

QString commandBaseUrl()
{
    return CameraAddress::baseUrl() + QLatin1String("/?action=commanddest=0plugin=0&id=");
}

QString controlCommand(const QString &parameterString)
{
    return commandBaseUrl() + parameterString;
}

QString resolutionCommand(qint64 tag)
{
    return CameraAddress::baseUrl() +
           QLatin1String("/?action=command&dest=0plugin=0&id=0&group=2&value=") +
           QString::number(tag);
}

} // namespace CommandUrl
