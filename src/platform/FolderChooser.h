#pragma once

#include <QString>

#include <optional>

namespace platform
{

// Asks the user for one folder.
//
// Main thread only. chooseFolder() is modal: it returns once the user has
// answered, and the event loop keeps running meanwhile (timers fire, queued
// work runs), so callers must expect their own state to change during the
// call. The application owns the chooser; users hold a reference that must
// not outlive it.
class FolderChooser
{
public:
    virtual ~FolderChooser() = default;

    // Shows message as the request. Answers the chosen folder's absolute path
    // without a trailing "/", or nothing when the user cancels.
    virtual std::optional<QString> chooseFolder(const QString &message) = 0;
};

} // namespace platform
