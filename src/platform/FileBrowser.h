#pragma once

#include <QString>

namespace platform
{

// Hands a folder to the desktop: open it with its default application, or
// show it in a file-manager window.
//
// Main thread only. Both requests return at once; what the desktop does with
// them is not waited for. The application owns the browser; users hold a
// reference that must not outlive it.
class FileBrowser
{
public:
    virtual ~FileBrowser() = default;

    // Opens the folder with its default application (usually the file
    // manager). False when no application could be asked.
    virtual bool openFolder(const QString &path) = 0;

    // Shows the folder itself in a file-manager window, nothing selected.
    // False when the request could not be handed on.
    virtual bool showFolder(const QString &path) = 0;
};

} // namespace platform
