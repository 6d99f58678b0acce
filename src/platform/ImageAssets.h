#pragma once

#include <QIcon>
#include <QImage>
#include <QSize>
#include <QString>

// The program's pictures, looked up by asset name ("Disconnect",
// "icon_camera_shoot_White", ...). They are SVG files compiled into the
// binary. Main thread only (QIcon and QSvgRenderer are not thread-safe).
namespace platform::assets
{

// True when an asset of that name exists.
bool exists(const QString &name);

// The asset as an icon that renders sharply at any size; a null icon for an
// unknown name.
QIcon icon(const QString &name);

// The asset rendered into an opaque-background-free ARGB image of the given
// size in pixels; a null image for an unknown name.
QImage image(const QString &name, QSize size);

} // namespace platform::assets
