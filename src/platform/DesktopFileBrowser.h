#pragma once

#include "platform/FileBrowser.h"

namespace platform
{

// A FileBrowser for Linux desktops. openFolder() goes through
// QDesktopServices (xdg-open or the desktop portal). showFolder() asks the
// file manager over D-Bus (org.freedesktop.FileManager1 ShowFolders) where
// the bus offers one, and otherwise, or when the file manager answers with an
// error, opens the folder as openFolder() does.
//
// Main thread only; see FileBrowser.
class DesktopFileBrowser final : public FileBrowser
{
public:
    // Talks to the user's session bus.
    DesktopFileBrowser();
    // Talks to the bus at busAddress instead (tests run a private one). An
    // empty or unreachable address means there is no bus.
    explicit DesktopFileBrowser(const QString &busAddress);
    ~DesktopFileBrowser() override;
    DesktopFileBrowser(const DesktopFileBrowser &) = delete;
    DesktopFileBrowser &operator=(const DesktopFileBrowser &) = delete;

    bool openFolder(const QString &path) override;
    bool showFolder(const QString &path) override;

private:
    QString m_connectionName; // of the QDBusConnection; empty for no bus
    bool m_ownsConnection = false;
};

} // namespace platform
