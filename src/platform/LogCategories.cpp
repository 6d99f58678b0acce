#include "platform/LogCategories.h"

Q_LOGGING_CATEGORY(lcStream, "orbilens.stream", QtWarningMsg)
Q_LOGGING_CATEGORY(lcCapture, "orbilens.capture", QtWarningMsg)
Q_LOGGING_CATEGORY(lcControl, "orbilens.control", QtWarningMsg)
Q_LOGGING_CATEGORY(lcViewer, "orbilens.viewer", QtWarningMsg)
Q_LOGGING_CATEGORY(lcPlatform, "orbilens.platform", QtWarningMsg)
