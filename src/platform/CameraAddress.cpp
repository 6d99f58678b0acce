#include "platform/CameraAddress.h"

#include <QHostAddress>
#include <QtGlobal>

namespace
{

// The box's address on its own network. Only the application build uses it.
constexpr char kDefaultBaseUrl[] = "http://192.168.1.1:8080";

QString &overrideSlot()
{
    static QString slot;
    return slot;
}

QString normalised(const QUrl &url)
{
    QString text = url.toString(QUrl::RemoveUserInfo | QUrl::StripTrailingSlash);
    while (text.endsWith(QLatin1Char('/')))
        text.chop(1);
    return text;
}

} // namespace

namespace CameraAddress
{

bool isLoopback(const QUrl &url)
{
    const QString host = url.host();
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    QHostAddress address;
    return address.setAddress(host) && address.isLoopback();
}

bool setBaseUrl(const QUrl &url)
{
    if (!url.isValid() || url.scheme() != QLatin1String("http") || url.host().isEmpty() ||
        (!url.path().isEmpty() && url.path() != QLatin1String("/")) || url.hasQuery() ||
        url.hasFragment())
        return false;
#ifdef ORBILENS_LOOPBACK_ONLY
    if (!isLoopback(url))
        qFatal("camera URL %s is not on this machine; tests and benchmarks may only use loopback",
               qPrintable(url.toString()));
#endif
    overrideSlot() = normalised(url);
    return true;
}

QString baseUrl()
{
    if (!overrideSlot().isEmpty())
        return overrideSlot();
#ifdef ORBILENS_LOOPBACK_ONLY
    qFatal("no loopback camera URL was set; tests and benchmarks must never use the default");
#endif
    return QString::fromLatin1(kDefaultBaseUrl);
}

QString streamUrl()
{
    return baseUrl() + QLatin1String("/?action=stream");
}

} // namespace CameraAddress
