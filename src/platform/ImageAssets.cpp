#include "platform/ImageAssets.h"

#include <QFile>
#include <QPainter>
#include <QSvgRenderer>

namespace platform::assets
{
namespace
{
QString pathFor(const QString &name)
{
    return QStringLiteral(":/assets/%1.svg").arg(name);
}
} // namespace

bool exists(const QString &name)
{
    return QFile::exists(pathFor(name));
}

QIcon icon(const QString &name)
{
    if (!exists(name))
        return {};
    return QIcon(pathFor(name));
}

QImage image(const QString &name, QSize size)
{
    QSvgRenderer renderer(pathFor(name));
    if (!renderer.isValid() || size.isEmpty())
        return {};
    QImage out(size, QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    QPainter painter(&out);
    renderer.render(&painter);
    return out;
}

} // namespace platform::assets
