#include "viewer/UserTexts.h"

#include <QCoreApplication>

namespace usertexts
{
namespace
{
QString text(const char *source)
{
    return QCoreApplication::translate("UserTexts", source);
}
} // namespace

QString tipsTitle()
{
    return text(QT_TRANSLATE_NOOP("UserTexts", "Tips"));
}

QString ok()
{
    return text(QT_TRANSLATE_NOOP("UserTexts", "OK"));
}

QString connectToBoxNetwork()
{
    return text(QT_TRANSLATE_NOOP(
        "UserTexts", "Currently connect to WiFi: %1.\nPlease connect to WiFi: Orbilens."));
}

QString automatic()
{
    return text(QT_TRANSLATE_NOOP("UserTexts", "Auto"));
}

QString manual()
{
    return text(QT_TRANSLATE_NOOP("UserTexts", "Manual"));
}

QString savedSuccessfully()
{
    return text(QT_TRANSLATE_NOOP("UserTexts", "Saved successfully"));
}

QString photoNotSaved()
{
    return text(QT_TRANSLATE_NOOP("UserTexts", "The photo could not be saved."));
}

QString resolutionChangedVideoSaved()
{
    return text(
        QT_TRANSLATE_NOOP("UserTexts", "The resolution has changed and the video has been saved."));
}

QString saveFolderPrompt()
{
    return text(QT_TRANSLATE_NOOP("UserTexts", "Please select the file save location."));
}

QString chooseSaveLocation()
{
    return text(QT_TRANSLATE_NOOP("UserTexts", "Choose save location"));
}
} // namespace usertexts
