#pragma once

#include <QLoggingCategory>

// The program's own diagnostics, by subsystem. They are not the fixed log
// lines of platform::log(), which stay plain and always on: these carry a
// category and a level. Warnings show by default; info and debug lines show
// once the category is turned on, for example
//   QT_LOGGING_RULES="orbilens.*=true" orbilens-viewer
// Any thread may log to them.
Q_DECLARE_LOGGING_CATEGORY(lcStream)   // "orbilens.stream": the live picture
Q_DECLARE_LOGGING_CATEGORY(lcCapture)  // "orbilens.capture": the video writer, exit
Q_DECLARE_LOGGING_CATEGORY(lcControl)  // "orbilens.control": camera commands
Q_DECLARE_LOGGING_CATEGORY(lcViewer)   // "orbilens.viewer": the controller, photos
Q_DECLARE_LOGGING_CATEGORY(lcPlatform) // "orbilens.platform": system services
