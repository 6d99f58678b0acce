#include "viewer/ViewController.h"

#include "platform/FileBrowser.h"
#include "platform/FolderChooser.h"
#include "platform/Log.h"
#include "platform/MainQueue.h"
#include "platform/Settings.h"
#include "platform/Volumes.h"
#include "util/ZUFileManager.h"
#include "viewer/Tool.h"
#include "viewer/UserTexts.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QEvent>
#include <QFontMetrics>
#include <QLocale>
#include <QStyle>
#include <QStyleOptionButton>

#include <algorithm>

namespace
{
// Local time to the millisecond; names sort in the order the captures began.
const QString kTimestampPattern = QStringLiteral("yyyy-MM-dd-HH:mm:ss.zzz");

// A button title too long for the button, a deep folder path, loses its
// middle rather than its end, which names the folder. The whole title is
// in the tooltip. The title follows the button's width, never the other way
// round, so it is elided again whenever the width or the font changes.
class MiddleElidedTitle final : public QObject
{
public:
    static void set(QPushButton *button, const QString &title)
    {
        auto *elided = dynamic_cast<MiddleElidedTitle *>(
            button->findChild<QObject *>(kObjectName, Qt::FindDirectChildrenOnly));
        if (!elided)
            elided = new MiddleElidedTitle(button); // owned by the button
        elided->m_title = title;
        button->setToolTip(title);
        elided->fit();
    }

    bool eventFilter(QObject *, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::Resize:
        case QEvent::FontChange:
        case QEvent::StyleChange:
            fit();
            break;
        default:
            break;
        }
        return false;
    }

private:
    static inline const QString kObjectName = QStringLiteral("orbilens-middle-elided-title");

    explicit MiddleElidedTitle(QPushButton *button) : QObject(button), m_button(button)
    {
        setObjectName(kObjectName);
        QSizePolicy policy = button->sizePolicy();
        policy.setHorizontalPolicy(QSizePolicy::Ignored);
        button->setSizePolicy(policy);
        button->installEventFilter(this);
    }

    void fit()
    {
        QStyleOptionButton option;
        option.initFrom(m_button);
        option.text = m_title;
        option.icon = m_button->icon();
        option.iconSize = m_button->iconSize();
        int width = m_button->style()
                        ->subElementRect(QStyle::SE_PushButtonContents, &option, m_button)
                        .width();
        if (!option.icon.isNull())
            width -= option.iconSize.width() + 4; // the style's gap after the icon
        m_button->setText(
            m_button->fontMetrics().elidedText(m_title, Qt::ElideMiddle, std::max(width, 0)));
    }

    QPushButton *m_button; // the parent
    QString m_title;
};

QString applicationInfo()
{
    return QStringLiteral("{ name = \"%1\"; version = \"%2\"; organization = \"%3\" }")
        .arg(QCoreApplication::applicationName(), QCoreApplication::applicationVersion(),
             QCoreApplication::organizationName());
}
} // namespace

void ViewController::getFilePath()
{
    std::optional<QString> stored;
    if (m_services.settings)
        stored = m_services.settings->stringForKey(platform::kSaveFolderKey);
    // An empty text is no folder: captures would go to "/<timestamp>.jpg".
    m_filePathStr = stored && !stored->isEmpty() ? QDir::cleanPath(*stored) : QString();
    if (!m_filePathStr.isNull()) {
        showSaveFolder();
        return;
    }

    // The prompt only leads to the chooser; without one there is nothing to ask.
    if (!m_services.folderChooser)
        return;
    // Asked again even if a folder is chosen meanwhile: the prompt is cheap
    // and the user may still want another folder.
    platform::mainqueue::postAfter(kSaveFolderPromptDelay, this, [this] {
        Tool::tipsAlertWithTips(m_services.alerts, usertexts::saveFolderPrompt(),
                                [self = QPointer<ViewController>(this)](int response) {
                                    if (self && response == Tool::kTipsAlertOK)
                                        self->clickChooseSaveLocation(nullptr);
                                });
    });
}

void ViewController::selectSavePath()
{
    if (!m_services.folderChooser || m_isChoosingSavePath)
        return;

    // The chooser runs the event loop until the user answers: frames, timers
    // and clicks go on meanwhile (captures keep the folder in effect now),
    // and the window may even be closed, taking this controller with it.
    const QPointer<ViewController> self(this);
    m_isChoosingSavePath = true;
    const std::optional<QString> picked =
        m_services.folderChooser->chooseFolder(usertexts::chooseSaveLocation());
    if (!self)
        return;
    m_isChoosingSavePath = false;
    if (!picked)
        return;

    platform::log(applicationInfo());
    m_filePathStr =
        QDir::cleanPath(*picked + QLatin1Char('/') + QCoreApplication::applicationName());
    // A folder that cannot be made is still used for this run, where captures
    // fail visibly, but it is not remembered for the next one.
    if (ZUFileManager::createDirectoryAtPath(m_filePathStr) && m_services.settings)
        m_services.settings->setString(platform::kSaveFolderKey, m_filePathStr);
    showSaveFolder();
}

void ViewController::clickChooseSaveLocation(QObject *)
{
    selectSavePath();
}

void ViewController::clickOpenFileBtn(QObject *)
{
    if (m_filePathStr.isEmpty()) {
        selectSavePath();
        return;
    }
    if (!m_services.fileBrowser)
        return;
    m_services.fileBrowser->openFolder(m_filePathStr);
    m_services.fileBrowser->showFolder(m_filePathStr);
}

std::optional<QString> ViewController::getWritePath() const
{
    return capturePath(m_filePathStr, QDateTime::currentDateTime(), m_cameraStyleType,
                       captureNamesFor(m_filePathStr));
}

std::optional<QString> ViewController::capturePath(const QString &folder,
                                                   const QDateTime &localTime,
                                                   qint64 cameraStyleType, CaptureNames names)
{
    if (folder.isEmpty())
        return std::nullopt;
    const QLatin1StringView extension(cameraStyleType == 0 ? ".jpg" : ".mp4");
    QString name = captureTimestamp(localTime);
    if (names == CaptureNames::WithoutColons)
        name.replace(QLatin1Char(':'), QLatin1Char('-'));
    return folder + QLatin1Char('/') + name + extension;
}

ViewController::CaptureNames ViewController::captureNamesFor(const QString &folder) const
{
    if (!m_services.volumes || folder.isEmpty())
        return CaptureNames::WithColons;
    // The Windows file systems, through whichever driver mounts them.
    static const QStringList kWithoutColons{QStringLiteral("vfat"), QStringLiteral("exfat"),
                                            QStringLiteral("ntfs"), QStringLiteral("ntfs3"),
                                            QStringLiteral("fuseblk")};
    return kWithoutColons.contains(m_services.volumes->fileSystemType(folder))
               ? CaptureNames::WithoutColons
               : CaptureNames::WithColons;
}

QString ViewController::captureTimestamp(const QDateTime &localTime)
{
    // The C locale: digits and separators exactly as written, whatever the
    // user's language.
    return QLocale::c().toString(localTime.toLocalTime(), kTimestampPattern);
}

void ViewController::showSaveFolder()
{
    if (m_outlets.openFileBtn)
        MiddleElidedTitle::set(m_outlets.openFileBtn, m_filePathStr);
}
