#pragma once

#include <QString>
#include <QUrl>

// Where the camera box answers. The box serves both its stream and its
// commands from one base URL (scheme, host and port, no path); the paths are
// added by the stream client and the command client exactly as the box
// expects them.
//
// The default is the box's fixed address on its own Wi-Fi network. The
// application can override it once at start-up (--camera-url). Tests and
// benchmarks link a build of this file that accepts only loopback hosts and
// refuses to hand out the default. Main thread only.
namespace CameraAddress
{

// "http://HOST:PORT" without a trailing slash.
QString baseUrl();

// Replaces the base URL. Answers false, and changes nothing, for a URL that is
// not plain http with a host, or that carries a path, query or fragment.
bool setBaseUrl(const QUrl &url);

// The stream URL: the base URL followed by "/?action=stream".
QString streamUrl();

// True for 127.0.0.0/8, ::1 and "localhost".
bool isLoopback(const QUrl &url);

} // namespace CameraAddress
